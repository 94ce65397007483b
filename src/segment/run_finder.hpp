// Run finders: walk the rows of a window (or of one horizontal band of it),
// keep the run buffers supplied, call a row kernel per row and fill the row
// table of a run-length image.
//
// Four families exist, each as a single-threaded finder (the whole window,
// with the sentinel rows and attention polls) and a band job (one band on a
// thread of the job thread group, no sentinel rows, no polls):
//   hard         hard threshold without mask (binary rows); an optimised
//                form asks the inhibit hook and declines, a portable form
//                uses only the portable kernel
//   masked hard  hard threshold inside a mask (binary rows)
//   none         the pixel values themselves (grey rows, 8-bit only)
//   valued       a value table (maps, soft thresholds) or a threshold image
//                (grey rows)
// All are generated from one template over a kernel policy
// (run_finder_core.hpp).
//
// Every finder, before each row, makes sure the current buffer has
// (width + 4) x bytes-per-run bytes left; otherwise it allocates a new buffer
// of max(runsPerRow x bytes-per-run x rows still to do + 1,
// (width + 4) x bytes-per-run) bytes and appends it to the storage it writes
// to (the storage owns it from then on). It then decodes the row's mask when
// the mask is a run-length or TORV mask, points the row's entry at the
// cursor, runs the kernel and stores the row's run count and start value.
#ifndef CBLOB_SEGMENT_RUN_FINDER_HPP
#define CBLOB_SEGMENT_RUN_FINDER_HPP

#include <cstdint>

#include "cblob/job.h"
#include "cblob/rle_image.h"
#include "rle/storage.hpp"

namespace cblob::seg {

// Rows of one pass are polled for cancellation this often (single-threaded
// finders only: before rows 0, 32, 64, ...).
constexpr int32_t kPollRowMask = 31;

// Where the mask state of a pixel comes from. Inside the mask means a
// non-zero byte (window, decoded row).
enum class MaskKind : int32_t {
    none = 0,    // no mask: every pixel inside
    window = 1,  // an 8-bit mask window, read directly
    rle = 2,     // a run-length image's rows, decoded into the scratch row
    torv = 3     // rows of (value, length) byte pairs, decoded into the scratch row
};

struct MaskSource {
    MaskKind kind = MaskKind::none;
    const uint8_t *window = nullptr;           // window: the first row's first byte
    int64_t windowStride = 0;                  // window: bytes from row to row
    const cblob_rleRow *rleRows = nullptr;     // rle: the entry of the first row
    int32_t rleGrey = 0;                       // rle: grey rows (else binary)
    int32_t rleWide = 0;                       // rle: wide run layout
    const uint8_t *const *torvRows = nullptr;  // torv: the first row's pairs
};

// Everything a finder needs to encode rows first .. first + numRows - 1 of a
// window. The pointers address the first of those rows.
struct FindInputs {
    const uint8_t *pixels = nullptr;        // 8- or 16-bit pixels of the first row
    int64_t pixelStride = 0;                // bytes from row to row
    const uint8_t *threshPixels = nullptr;  // the threshold image's row pairing with the first row
    int64_t threshStride = 0;
    MaskSource mask;
    uint8_t *scratch = nullptr;  // width bytes for a decoded mask row
    int32_t width = 0;
    int32_t numRows = 0;
    int32_t runsPerRow = 0;  // the runs-per-row estimate of the whole window
    int32_t wide = 0;        // write the wide run layout
    // Kernel inputs.
    int32_t thresh = 0;               // hard thresholds
    int32_t invert = 0;               // masked hard: 1 puts the object below the threshold
    uint8_t colourBelow = 0;          // hard: start value of a row starting below the threshold
    uint8_t colourAbove = 1;          // ... at or above it
    const uint8_t *table = nullptr;   // valued: 256 or 65536 output values by pixel value
    const void *threshMap = nullptr;  // threshold image: 256 or 65536 entries of its pixel type
    const uint8_t *postMap = nullptr;
    int32_t postMapSize = 0;
    // The host's inhibit hook, copied once per pass on the calling thread
    // (findRunsInBands) so that band jobs never read the host's variable.
    cprt_optimizationInhibitedFn inhibitHook = nullptr;
    // Output.
    cblob_rleRow *rows = nullptr;  // row-table entry of the first row
};

// The runs-per-row estimate: the width below 64 pixels, else width / 8.
inline int32_t runsPerRowEstimate(int32_t width) { return width < 64 ? width : width >> 3; }

// Bytes one run takes: binary 1 (narrow) or 8 (wide), grey 2 or 9.
inline int32_t bytesPerRun(bool grey, bool wide) { return grey ? (wide ? 9 : 2) : (wide ? 8 : 1); }

// Single-threaded finder over the whole window: in->rows is the entry of row
// 0, which follows the top sentinel entry. Writes the top sentinel row,
// every row (polling the attention check before rows 0, 32, ...) and the
// bottom sentinel row, starting in *block (which belongs to data); new
// buffers go to `data`; adds the window's runs to data->numRuns. Returns 0,
// the attention check's status, a memory failure, or
// cprt_err_optimizationInhibited from an optimised form that declines
// before writing anything.
using SingleFinder = int32_t (*)(const FindInputs *in, cblob_imageRleData_ *data, rle::WriteBlock *block);

// The parameter block of one band job.
struct BandJob {
    FindInputs in;                 // the band's rows
    cblob_imageRleData_ *storage;  // the band's own buffers and sizes; numRuns is its run-count slot
    rle::WriteBlock block;         // the band's first buffer, already in `storage`
};

// A family member: the single-threaded finder, the band job (null when the
// member runs single-threaded only) and the kind of rows it writes.
struct RunFinder {
    SingleFinder single = nullptr;
    csys_jobFunction band = nullptr;
    int32_t grey = 0;
};

// ------------------------------------------------------------ the families
// Each returns 0 and fills *finder, or csys_err_assertFailed for a null
// finder; cimg_err_badDepth for a pixel depth the family lacks.

// Hard threshold without mask. The finders run the optimised form first
// ("cblob_findRunsHardThresholdImage_ST" / "..._MTJobfunc"; the
// single-threaded one declines 16-bit windows) and the portable form when
// it declines. Binary rows; a row's start value is colourAbove when its
// first pixel is at or above the threshold, else colourBelow.
int32_t hardRunFinder(int32_t bitsPerPel, RunFinder *finder);

// The two forms separately, for tests and diagnosis.
int32_t hardRunFinderOptimized(int32_t bitsPerPel, RunFinder *finder);
int32_t hardRunFinderPortable(int32_t bitsPerPel, RunFinder *finder);

// The names under which the optimised forms ask the inhibit hook.
constexpr const char *kHardFinderSingleName = "cblob_findRunsHardThresholdImage_ST";
constexpr const char *kHardFinderBandName = "cblob_findRunsHardThresholdImage_MTJobfunc";

// Hard threshold inside the mask (object: inside and on the object side,
// which `invert` flips). Binary rows; the start value is the first run's
// class (1 object). Needs a mask.
int32_t maskedHardRunFinder(int32_t bitsPerPel, RunFinder *finder);

// The pixel values (0 outside a mask). 8-bit only.
int32_t noneRunFinder(int32_t bitsPerPel, RunFinder *finder);

// table[pixel] (0 outside a mask).
int32_t tableRunFinder(int32_t bitsPerPel, RunFinder *finder);

// Threshold image: u = threshMap[pixel], t = threshold pixel; 0 when u < t,
// else postMap[u - t] (0 outside a mask). Pixel / threshold depths 8/8,
// 16/8 and 16/16.
int32_t threshImageRunFinder(int32_t bitsPerPel, int32_t threshBitsPerPel, RunFinder *finder);

// ------------------------------------------------------------- mask rows

// Expands one run-length mask row into `width` bytes at `out`: binary rows
// as 0 / 1 from the row's start value, grey rows as their values; narrow or
// wide layout. Runs beyond `width` are cut; a row that ends early, or has
// no run bytes, leaves the rest 0. Returns 0.
int32_t expandRleMaskRow(uint8_t *out, const cblob_rleRow &row, int32_t width, int32_t grey, int32_t wide);

// Expands one row of (value, length) pairs, ended by a length of 0, into
// `width` bytes: each pair gives `length` bytes of `value`. Cut and
// zero-filled as above. Returns 0.
int32_t expandTorvMaskRow(uint8_t *out, const uint8_t *pairs, int32_t width);

// The mask row of row y of `in` (0-based within in's rows): the window row,
// or the row decoded into in.scratch; null without a mask.
const uint8_t *maskRow(const FindInputs &in, int32_t y);

}  // namespace cblob::seg

#endif
