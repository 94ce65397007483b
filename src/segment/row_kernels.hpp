// Row kernels: encode one row of 8- or 16-bit pixels as maximal runs.
//
// Every kernel of the family
//   - reads `width` pixels (and, where it has them, as many mask bytes and
//     threshold-image pixels),
//   - computes one output per pixel (a binary class or an 8-bit grey value),
//   - writes the row as maximal runs (adjacent equal outputs merged) at
//     *cursor, in the narrow or, when `wide` is non-zero, the wide run format
//     (rle/run_format.hpp), followed by the row's terminator,
//   - advances *cursor past the terminator and stores the number of runs
//     written, the terminator not counted, in *numRuns,
//   - returns 0. Kernels never fail and never allocate.
//
// Caller guarantees (not checked, for speed; the run finders own them):
//   - every pointer argument is valid; the pixel, mask and threshold-image
//     rows hold at least `width` elements;
//   - the run buffer has room for a worst-case row from *cursor on:
//     (width + 4) x bytes-per-run, with bytes-per-run 1 (narrow binary),
//     8 (wide binary), 2 (narrow grey) or 9 (wide grey);
//   - a width of 0 or below is an empty row: the kernel writes only the
//     terminator and reports 0 runs.
// The label slots of wide runs are left as they were, for the connectivity
// scans to fill.
//
// Binary kernels write lengths only; the first run's class is known to the
// caller (hard kernels: pixels[0] >= thresh) or reported (masked kernels).
// The caller turns classes into colours for the row table.
//
// Thresholds of the hard kernels may be any int32: a threshold of 0 or below
// makes every pixel object, one above the pixel range (256 for 8-bit rows,
// 65536 for 16-bit rows) makes every pixel background. The 8-bit kernels are
// therefore correct for the thresholds 0..256 that the run finders pass.
//
// Thread-safety: kernels touch only their arguments; any number of threads
// may run them at once on disjoint output buffers.
#ifndef CBLOB_SEGMENT_ROW_KERNELS_HPP
#define CBLOB_SEGMENT_ROW_KERNELS_HPP

#include <cstdint>

#include "cblob/sys.h"

// The packed-compare variants are built on x86-64; elsewhere, or with
// CBLOB_PORTABLE_ROW_KERNELS defined, only the portable kernels exist and the
// optimised entry points always decline.
#if defined(__x86_64__) && !defined(CBLOB_PORTABLE_ROW_KERNELS)
#define CBLOB_ROW_KERNELS_X86 1
#else
#define CBLOB_ROW_KERNELS_X86 0
#endif

namespace cblob::row {

// ------------------------------------------------------------ binary kernels

// Class "thresh <= value" per pixel; binary lengths.
template <class Pixel>
int32_t hardRow(uint8_t **cursor, const Pixel *pixels, int32_t width, int32_t thresh, int32_t wide,
                int32_t *numRuns);

// Object (1) when mask[x] != 0 and the pixel lies on the object side of the
// threshold: pixels[x] >= thresh, or pixels[x] < thresh when `invert` is
// non-zero; background (0) otherwise. Binary lengths; *firstClass gets the
// class of the first run (0 for an empty row).
template <class Pixel>
int32_t maskedHardRow(uint8_t **cursor, const Pixel *pixels, const uint8_t *mask, int32_t width, int32_t thresh,
                      int32_t invert, int32_t wide, int32_t *numRuns, int32_t *firstClass);

// -------------------------------------------------------------- grey kernels

// The pixel value itself (8-bit rows only).
int32_t noneRow(uint8_t **cursor, const uint8_t *pixels, int32_t width, int32_t wide, int32_t *numRuns);
// The pixel value inside the mask (mask[x] != 0), 0 outside.
int32_t maskedNoneRow(uint8_t **cursor, const uint8_t *pixels, const uint8_t *mask, int32_t width, int32_t wide,
                      int32_t *numRuns);

// table[pixels[x]]. The table must have 256 entries for 8-bit pixels and
// 65536 for 16-bit pixels (the segmentation step expands shorter maps).
template <class Pixel>
int32_t mapRow(uint8_t **cursor, const Pixel *pixels, int32_t width, const uint8_t *table, int32_t wide,
               int32_t *numRuns);
// As mapRow inside the mask, 0 outside.
template <class Pixel>
int32_t maskedMapRow(uint8_t **cursor, const Pixel *pixels, const uint8_t *mask, int32_t width,
                     const uint8_t *table, int32_t wide, int32_t *numRuns);

// The tables of the threshold-image kernels. ThreshPixel is the threshold
// image's pixel type, which is also the element type of the threshold map.
//   threshMap    256 entries for 8-bit pixels, 65536 for 16-bit pixels
//   postMap      postMapSize entries (any size)
// For a pixel v with threshold pixel t and u = threshMap[v], the output is 0
// when u < t, else postMap[min(u - t, postMapSize - 1)]. u - t lies in
// 0..255 for 8-bit threshold images and 0..65535 for 16-bit ones; indices
// beyond a short post map read its last entry, and a post map of size 0 or
// below reads as one 0 entry, so no index leaves the table whatever the data.
// A post map of 256 (8-bit) or 65536 (16-bit) entries is never clamped.
template <class ThreshPixel>
struct ThreshImageTables {
    const ThreshPixel *threshMap;
    const uint8_t *postMap;
    int32_t postMapSize;
};

// Pixel / ThreshPixel combinations: uint8_t / uint8_t, uint16_t / uint8_t,
// uint16_t / uint16_t. threshRow is the threshold image's row that pairs with
// this pixel row.
template <class Pixel, class ThreshPixel>
int32_t threshImageRow(uint8_t **cursor, const Pixel *pixels, const ThreshPixel *threshRow, int32_t width,
                       const ThreshImageTables<ThreshPixel> *tables, int32_t wide, int32_t *numRuns);
// As threshImageRow inside the mask, 0 outside.
template <class Pixel, class ThreshPixel>
int32_t maskedThreshImageRow(uint8_t **cursor, const Pixel *pixels, const ThreshPixel *threshRow,
                             const uint8_t *mask, int32_t width, const ThreshImageTables<ThreshPixel> *tables,
                             int32_t wide, int32_t *numRuns);

// Run ends, for the connectivity scan: the row's maximal runs of the class
// "thresh <= value" as their exclusive end positions, ends[k] for run k,
// the last one `width`; *numRuns gets the run count. The first run's class
// is pixels[0] >= thresh and the classes alternate. A width of 0 or below
// writes nothing and reports 0 runs. The optimised variants write a few
// entries past the last run ahead of time: `ends` must have room for
// width + kRowEndsSlack entries (more than the width + 1 a row can need).
// Thresholds as for hardRow. Never fails; returns 0.
constexpr int32_t kRowEndsSlack = 2;

template <class Pixel>
int32_t hardRowEnds(int32_t *ends, const Pixel *pixels, int32_t width, int32_t thresh, int32_t *numRuns);

// ------------------------------------------ optimised hard-threshold kernels
//
// hardRow and hardRowEnds have optimised variants (packed compares, run
// boundaries found in bit masks). Their output is identical to the portable
// kernels' for every row, threshold and format (byte for byte for hardRow).
// The best variant the CPU supports is chosen once, on first use, and
// cached; tests may force another.

template <class Pixel>
using HardRowKernel = int32_t (*)(uint8_t **cursor, const Pixel *pixels, int32_t width, int32_t thresh,
                                  int32_t wide, int32_t *numRuns);

template <class Pixel>
using HardRowEndsKernel = int32_t (*)(int32_t *ends, const Pixel *pixels, int32_t width, int32_t thresh,
                                      int32_t *numRuns);

// The names under which the host's optimisation-inhibit hook is asked (the
// run-end kernels answer to the same names as the run-length kernels of
// their pixel depth: both are the same row segmentation).
constexpr const char *kHardRow8KernelName = "cblob_findRunLengths8_hardThreshNoMask_row";
constexpr const char *kHardRow16KernelName = "cblob_findRunLengths16_hardThreshNoMask_row";

// The optimised entry point for one row. Asks cprt_isOptimizationInhibitedFP
// (when installed) with the kernel's name, then runs the active optimised
// variant. Returns 0, or cprt_err_optimizationInhibited (0x80000601) without
// touching any argument when the hook inhibits it or no optimised variant is
// active (a portable-only build, or the portable variant forced); the caller
// then runs hardRow (CBLOB_RUN_OPTIMIZED in core/optimized.hpp).
// Asking the hook costs a call per row: run finders use
// resolveHardRowKernel instead.
template <class Pixel>
int32_t hardRowOptimized(uint8_t **cursor, const Pixel *pixels, int32_t width, int32_t thresh, int32_t wide,
                         int32_t *numRuns);

// Resolves the kernel a run finder uses for a whole image (or band): asks
// the inhibit hook once, with the kernel's name, and stores in *kernel the
// active optimised variant, or hardRow<Pixel> when the hook inhibits it or no
// optimised variant is active. The kernel stays valid for the process's
// lifetime; a change of the hook takes effect at the next resolve. Returns 0,
// or csys_err_assertFailed after reporting a null `kernel`. Thread-safe.
template <class Pixel>
int32_t resolveHardRowKernel(HardRowKernel<Pixel> *kernel);
// As resolveHardRowKernel, asking `hook`: the copy of the host's hook a run
// took on its calling thread (null: none), so band jobs need not read the
// host's variable.
template <class Pixel>
int32_t resolveHardRowKernelWith(HardRowKernel<Pixel> *kernel, cprt_optimizationInhibitedFn hook);

// As resolveHardRowKernel for the run-end kernels: the active optimised
// variant of hardRowEnds<Pixel>, or hardRowEnds<Pixel> itself when the hook
// (asked once, with kHardRow8KernelName / kHardRow16KernelName) inhibits it
// or no optimised variant is active. Their output is identical to
// hardRowEnds's in ends[0 .. *numRuns - 1]. Returns 0, or
// csys_err_assertFailed after reporting a null `kernel`. Thread-safe.
template <class Pixel>
int32_t resolveHardRowEndsKernel(HardRowEndsKernel<Pixel> *kernel);

// --------------------------------------------------------- variant control

enum class HardRowVariant : int32_t {
    automatic = 0,  // forceHardRowVariant only: back to the best the CPU supports
    portable = 1,
    sse2 = 2,       // x86-64
    avx2 = 3,       // x86-64 with AVX2, BMI1 and POPCNT
    avx512 = 4      // x86-64 with AVX-512 BW, BMI1 and POPCNT
};

// The variant the optimised entry points run now. Returns 0, or
// csys_err_assertFailed after reporting a null `variant`. Thread-safe.
int32_t getHardRowVariant(HardRowVariant *variant);

// "automatic", "portable", "sse2", "avx2" or "avx512" (static strings). Returns 0, or
// csys_err_assertFailed after reporting a null `name`.
int32_t getHardRowVariantName(HardRowVariant variant, const char **name);

// *available = 1 when this build and CPU can run the variant (automatic and
// portable always can), else 0. Returns 0, or csys_err_assertFailed after
// reporting a null `available`.
int32_t getHardRowVariantAvailable(HardRowVariant variant, int32_t *available);

// Makes the optimised entry points and resolveHardRowKernel use `variant`
// from now on (automatic: the best available). For tests and diagnosis.
// Returns 0, or cprt_err_optimizationInhibited when the build or the CPU
// cannot run the variant (the selection is then unchanged). Thread-safe;
// kernels already resolved by running finders stay as they were.
int32_t forceHardRowVariant(HardRowVariant variant);

// ------------------------------------------------ per-instruction-set tables

// The kernels of one optimised variant, for the dispatcher.
struct HardRowKernels {
    HardRowKernel<uint8_t> row8;
    HardRowKernel<uint16_t> row16;
    HardRowEndsKernel<uint8_t> ends8;
    HardRowEndsKernel<uint16_t> ends16;
};

#if CBLOB_ROW_KERNELS_X86
// Fill *kernels with the SSE2 / AVX2 / AVX-512 variants. Return 0. The AVX2
// kernels may only run on a CPU with AVX2, BMI1 and POPCNT, the AVX-512
// kernels on one with AVX-512 F and BW, BMI1 and POPCNT.
int32_t getSse2HardRowKernels(HardRowKernels *kernels);
int32_t getAvx2HardRowKernels(HardRowKernels *kernels);
int32_t getAvx512HardRowKernels(HardRowKernels *kernels);
#endif

}  // namespace cblob::row

#endif
