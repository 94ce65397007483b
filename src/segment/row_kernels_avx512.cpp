// The AVX-512 hard-threshold row kernels: 64 bytes of pixels per vector,
// compared straight into mask registers. Only these functions are compiled
// for AVX-512 F and BW (with BMI1 and POPCNT, which every such CPU has); the
// dispatcher runs them only after the CPU reported all four, so the library
// still runs on any x86-64.
#include "segment/row_kernels.hpp"

#if CBLOB_ROW_KERNELS_X86

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rle/run_format.hpp"
#include "segment/row_run_writer.hpp"

// Everything defined from here to the matching pop is compiled for
// AVX-512; loop heads are aligned and the straight-line vectoriser is off
// as in the AVX2 source.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,bmi,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,bmi,popcnt")
#pragma GCC optimize("align-loops=32", "no-tree-slp-vectorize")
#endif

#include "segment/row_kernels_simd.hpp"

namespace cblob::row {

namespace {

// Unsigned compares into masks, and the packed minimum and maximum, on one
// pixel type.
template <class Pixel>
struct Avx512Lanes;
template <>
struct Avx512Lanes<uint8_t> {
    static __m512i set(int32_t value) { return _mm512_set1_epi8(static_cast<char>(value)); }
    static uint64_t atOrAbove(__m512i v, __m512i t) { return _mm512_cmpge_epu8_mask(v, t); }
    static uint64_t below(__m512i v, __m512i t) { return _mm512_cmplt_epu8_mask(v, t); }
    static __m512i min(__m512i a, __m512i b) { return _mm512_min_epu8(a, b); }
    static __m512i max(__m512i a, __m512i b) { return _mm512_max_epu8(a, b); }
};
template <>
struct Avx512Lanes<uint16_t> {
    static __m512i set(int32_t value) { return _mm512_set1_epi16(static_cast<short>(value)); }
    static uint64_t atOrAbove(__m512i v, __m512i t) { return _mm512_cmpge_epu16_mask(v, t); }
    static uint64_t below(__m512i v, __m512i t) { return _mm512_cmplt_epu16_mask(v, t); }
    static __m512i min(__m512i a, __m512i b) { return _mm512_min_epu16(a, b); }
    static __m512i max(__m512i a, __m512i b) { return _mm512_max_epu16(a, b); }
};

// The adapter for simd::scanBoundaries, 64 bytes of pixels per vector.
//   Classes: one unsigned compare per vector straight into a bit mask
//   (16-bit: two, their 32-bit masks joined). No move of the threshold is
//   needed, so one form serves every threshold.
//   Uniform tests: 8-bit, the compare of the opposite class is empty;
//   16-bit, the same on the packed minimum (maximum) of the two vectors.
template <class P>
struct Avx512Pixels {
    using Pixel = P;
    using Lanes = Avx512Lanes<P>;
    struct Thresh {
        __m512i at;  // thresh
    };
    static Thresh prepare(int32_t thresh) { return {Lanes::set(thresh)}; }
    static __m512i load(const P *pixels) { return _mm512_loadu_si512(pixels); }
    static uint64_t classify64(const P *pixels, const Thresh &thresh) {
        if constexpr (sizeof(P) == 1) {
            return Lanes::atOrAbove(load(pixels), thresh.at);
        } else {
            return Lanes::atOrAbove(load(pixels), thresh.at) | Lanes::atOrAbove(load(pixels + 32), thresh.at) << 32;
        }
    }
    static bool allAtOrAbove(const P *pixels, const Thresh &thresh) {
        if constexpr (sizeof(P) == 1) {
            return Lanes::below(load(pixels), thresh.at) == 0;
        } else {
            return Lanes::below(Lanes::min(load(pixels), load(pixels + 32)), thresh.at) == 0;
        }
    }
    static bool allBelow(const P *pixels, const Thresh &thresh) {
        if constexpr (sizeof(P) == 1) {
            return Lanes::atOrAbove(load(pixels), thresh.at) == 0;
        } else {
            return Lanes::atOrAbove(Lanes::max(load(pixels), load(pixels + 32)), thresh.at) == 0;
        }
    }
    static constexpr bool kBitCounts = true;
    static int32_t trailingZeros(uint64_t bits) { return static_cast<int32_t>(_tzcnt_u64(bits)); }
    static int32_t popCount(uint64_t bits) { return static_cast<int32_t>(_mm_popcnt_u64(bits)); }
};

// Instantiated here, inside the AVX-512 region.
constexpr HardRowKernels kAvx512Kernels = {
    &simd::hardRow<Avx512Pixels<uint8_t>>, &simd::hardRow<Avx512Pixels<uint16_t>>,
    &simd::hardRowEnds<Avx512Pixels<uint8_t>>, &simd::hardRowEnds<Avx512Pixels<uint16_t>>};

}  // namespace

}  // namespace cblob::row

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace cblob::row {

int32_t getAvx512HardRowKernels(HardRowKernels *kernels) {
    *kernels = kAvx512Kernels;
    return 0;
}

}  // namespace cblob::row

#endif
