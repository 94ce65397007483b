// The hard-threshold row loop shared by the packed-compare variants.
//
// An instruction-set adapter answers two questions about a block of 64
// pixels. It comes in two forms, one per direction in which it moves pixel
// values (see hardRowShifted at the end):
//
//   struct Isa {
//       using Pixel = uint8_t or uint16_t;
//       using Thresh = ...;                          // threshold constants
//       // 1 <= thresh <= kMiddle<Pixel> for the raising form, above it
//       // for the lowering form
//       static Thresh prepare(int32_t thresh);
//       // bit i set when pixel i is at or above the threshold
//       static uint64_t classify64(const Pixel *pixels, const Thresh &thresh);
//       // every pixel at or above / below the threshold
//       static bool allAtOrAbove(const Pixel *pixels, const Thresh &thresh);
//       static bool allBelow(const Pixel *pixels, const Thresh &thresh);
//   };
//
// The loop classifies a block into a bit mask and finds the run boundaries
// in it as the set bits of
//   classes XOR (classes << 1 | class of the previous pixel),
// with count-trailing-zeros. A block without a boundary switches the loop to
// its fast path: while the open run goes on, whole blocks are skipped with
// the uniform test of the run's class, a packed minimum (object run) or
// maximum (background run) compared once with the threshold. That test
// builds no mask and does no scalar work, so long runs cost little more than
// reading their pixels. The first block that fails it is classified as
// usual. Rows with a boundary in every block never take the fast path and
// pay nothing for it.
//
// The tail of the row (fewer than 64 pixels) is copied into a block padded
// with the last pixel, so nothing is read past the row and the padding adds
// no boundary.
//
// This header is included only by the variant sources, inside their
// instruction-set target region and after every other include, so that the
// loop is compiled for that instruction set. Its templates are instantiated
// only with adapters from anonymous namespaces, which gives every
// instantiation internal linkage: code compiled for one instruction set is
// never shared with another translation unit.
#ifndef CBLOB_RUN_ROW_KERNELS_SIMD_HPP
#define CBLOB_RUN_ROW_KERNELS_SIMD_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "run/row_run_writer.hpp"

namespace cblob::row::simd {

constexpr int32_t kBlock = 64;

// Writes the runs that end in one block: a run ends before every set bit of
// `changes` (not 0). Only the first of them can be long, having started in an
// earlier block; the others start in this block, are shorter than 64 pixels
// and need no escape test. Updates the open run's start and the run count.
// (Isa is a parameter only to keep the instantiation private to its variant.)
template <class Isa, class Writer>
inline void emitBoundaries(uint8_t *&out, uint64_t changes, int32_t blockStart, int32_t &runStart, int32_t &runs) {
    int32_t at = blockStart + __builtin_ctzll(changes);
    Writer::put(out, 0, at - runStart);
    ++runs;
    for (changes &= changes - 1; changes != 0; changes &= changes - 1) {
        const int32_t next = blockStart + __builtin_ctzll(changes);
        Writer::putShort(out, next - at);
        at = next;
        ++runs;
    }
    runStart = at;
}

// From block x on, skips every whole block whose pixels all have the open
// run's class Above (1: at or above the threshold, 0: below). Returns the
// first block that may hold a boundary, or the first that does not fit the
// row.
template <class Isa, bool Above>
inline ptrdiff_t skipUniform(const typename Isa::Pixel *pixels, ptrdiff_t x, ptrdiff_t width,
                             const typename Isa::Thresh &thresh) {
    const ptrdiff_t lastBlock = width - kBlock;
    while (x <= lastBlock) {
        const bool uniform = Above ? Isa::allAtOrAbove(pixels + x, thresh) : Isa::allBelow(pixels + x, thresh);
        if (!uniform) break;
        x += kBlock;
    }
    return x;
}

// Classes of the row's last `left` pixels (1..63), padded to a block with
// the last pixel's class. Kept out of line, with its own threshold
// constants: the padded copy needs an aligned stack block, and the row loop
// would otherwise set one up, and keep its constants there, for every row.
template <class Isa>
__attribute__((noinline)) uint64_t classifyTail(const typename Isa::Pixel *pixels, int32_t left, int32_t thresh) {
    using Pixel = typename Isa::Pixel;
    alignas(64) Pixel tail[kBlock];
    std::memcpy(tail, pixels, static_cast<size_t>(left) * sizeof(Pixel));
    for (int32_t i = left; i < kBlock; ++i) tail[i] = pixels[left - 1];
    return Isa::classify64(tail, Isa::prepare(thresh));
}

template <class Isa, class Writer>
inline int32_t encodeHardRow(uint8_t *&out, const typename Isa::Pixel *pixels, int32_t width, int32_t thresh) {
    using Pixel = typename Isa::Pixel;
    constexpr int32_t kMaxPixel = static_cast<Pixel>(~Pixel{0});
    if (width <= 0) {
        Writer::end(out);
        return 0;
    }
    if (thresh <= 0 || thresh > kMaxPixel) {  // the whole row is one class
        Writer::put(out, 0, width);
        Writer::end(out);
        return 1;
    }
    const typename Isa::Thresh broadcast = Isa::prepare(thresh);
    uint64_t previous = pixels[0] >= thresh;  // class of the open run, in bit 0
    int32_t runStart = 0;
    int32_t runs = 0;
    // Pixel positions are pointer-sized in the loop, which saves a sign
    // extension per block; they fit int32_t again where runs are written.
    ptrdiff_t x = 0;
    const ptrdiff_t lastBlock = width - kBlock;
    while (x <= lastBlock) {
        const uint64_t classes = Isa::classify64(pixels + x, broadcast);
        const uint64_t changes = classes ^ ((classes << 1) | previous);
        if (__builtin_expect(changes == 0, 0)) {
            // No boundary here: the run is likely long, go on with the fast path.
            x = previous ? skipUniform<Isa, true>(pixels, x + kBlock, width, broadcast)
                         : skipUniform<Isa, false>(pixels, x + kBlock, width, broadcast);
            continue;
        }
        // The same as emitBoundaries, written out so that a block with one
        // boundary, the usual case, leaves by the straight path (`continue`):
        // as a call, the compiler's layout made sparse rows 5-10 % slower.
        previous = classes >> 63;
        const int32_t blockStart = static_cast<int32_t>(x);
        x += kBlock;
        int32_t at = blockStart + __builtin_ctzll(changes);
        Writer::put(out, 0, at - runStart);
        ++runs;
        uint64_t more = changes & (changes - 1);
        if (more == 0) {
            runStart = at;
            continue;
        }
        do {
            const int32_t next = blockStart + __builtin_ctzll(more);
            Writer::putShort(out, next - at);
            at = next;
            ++runs;
            more &= more - 1;
        } while (more != 0);
        runStart = at;
    }
    if (x < width) {
        const uint64_t classes = classifyTail<Isa>(pixels + x, static_cast<int32_t>(width - x), thresh);
        const uint64_t changes = classes ^ ((classes << 1) | previous);
        if (changes != 0) emitBoundaries<Isa, Writer>(out, changes, static_cast<int32_t>(x), runStart, runs);
    }
    Writer::put(out, 0, width - runStart);
    Writer::end(out);
    return runs + 1;
}

// A HardRowKernel<Isa::Pixel>.
template <class Isa>
int32_t hardRow(uint8_t **cursor, const typename Isa::Pixel *pixels, int32_t width, int32_t thresh, int32_t wide,
                int32_t *numRuns) {
    uint8_t *out = *cursor;
    *numRuns = wide ? encodeHardRow<Isa, BinaryRunWriter<true>>(out, pixels, width, thresh)
                    : encodeHardRow<Isa, BinaryRunWriter<false>>(out, pixels, width, thresh);
    *cursor = out;
    return 0;
}

// Adapters classify with one saturating add or subtract per vector that
// moves the threshold to the middle of the pixel range, kMiddle = 128
// (8-bit) or 32768 (16-bit), so that a pixel's class is the top bit of its
// moved value:
//   thresh <= kMiddle: v + (kMiddle - thresh), saturating at the maximum,
//   thresh >  kMiddle: v - (thresh - kMiddle), saturating at 0.
// An adapter therefore comes in two forms, Raise for the first and Lower
// for the second; hardRowShifted chooses one per row. (Both are plain class
// arguments: a template template argument would give the instantiations
// external linkage with GCC.)
template <class Pixel>
constexpr int32_t kMiddle = (static_cast<int32_t>(static_cast<Pixel>(~0u)) + 1) / 2;

template <class Raise, class Lower>
int32_t hardRowShifted(uint8_t **cursor, const typename Raise::Pixel *pixels, int32_t width, int32_t thresh,
                       int32_t wide, int32_t *numRuns) {
    static_assert(sizeof(typename Raise::Pixel) == sizeof(typename Lower::Pixel), "two forms of one adapter");
    return thresh <= kMiddle<typename Raise::Pixel> ? hardRow<Raise>(cursor, pixels, width, thresh, wide, numRuns)
                                                    : hardRow<Lower>(cursor, pixels, width, thresh, wide, numRuns);
}

}  // namespace cblob::row::simd

#endif
