// The hard-threshold row loop shared by the packed-compare variants.
//
// An instruction-set adapter `Isa` classifies 64 pixels at a time into a bit
// mask (bit i set when pixel i is at or above the threshold):
//
//   struct Isa {
//       using Pixel = uint8_t or uint16_t;
//       using Thresh = ...;                           // the broadcast threshold
//       static Thresh prepare(int32_t thresh);       // 1 <= thresh <= max pixel
//       static uint64_t classify64(const Pixel *pixels, Thresh thresh);
//   };
//
// The loop finds run boundaries as the set bits of
//   classes XOR (classes << 1 | class of the previous pixel)
// with count-trailing-zeros, and skips a block whose classes all equal the
// open run's class with one compare. The tail of the row is copied into a
// block padded with the last pixel, so nothing is read past the row and the
// padding adds no boundary.
//
// This header is included only by the variant sources, inside their
// instruction-set target region and after every other include, so that the
// loop is compiled for that instruction set. Its templates are instantiated
// only with adapters from anonymous namespaces, which gives every
// instantiation internal linkage: code compiled for one instruction set is
// never shared with another translation unit.
#ifndef CBLOB_RUN_ROW_KERNELS_SIMD_HPP
#define CBLOB_RUN_ROW_KERNELS_SIMD_HPP

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
    int32_t count = 1;
    for (changes &= changes - 1; changes != 0; changes &= changes - 1) {
        const int32_t next = blockStart + __builtin_ctzll(changes);
        Writer::putShort(out, next - at);
        at = next;
        ++count;
    }
    runStart = at;
    runs += count;
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
    int32_t x = 0;
    for (; x <= width - kBlock; x += kBlock) {
        const uint64_t classes = Isa::classify64(pixels + x, broadcast);
        const uint64_t changes = classes ^ ((classes << 1) | previous);
        if (changes == 0) continue;  // uniform block of the open run's class
        previous = classes >> 63;
        emitBoundaries<Isa, Writer>(out, changes, x, runStart, runs);
    }
    if (x < width) {
        alignas(64) Pixel tail[kBlock];
        const int32_t left = width - x;
        std::memcpy(tail, pixels + x, static_cast<size_t>(left) * sizeof(Pixel));
        for (int32_t i = left; i < kBlock; ++i) tail[i] = pixels[width - 1];
        const uint64_t classes = Isa::classify64(tail, broadcast);
        const uint64_t changes = classes ^ ((classes << 1) | previous);
        if (changes != 0) emitBoundaries<Isa, Writer>(out, changes, x, runStart, runs);
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

}  // namespace cblob::row::simd

#endif
