// The SSE2 hard-threshold row kernels (x86-64, where SSE2 is always there):
// 16 bytes of pixels per vector, classes gathered with movemask into 64-bit
// masks that the shared loop turns into runs.
#include "segment/row_kernels.hpp"

#if CBLOB_ROW_KERNELS_X86

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "segment/row_run_writer.hpp"
#include "segment/row_kernels_simd.hpp"

namespace cblob::row {

namespace {

// Packed unsigned operations on one pixel type. SSE2 has no unsigned 16-bit
// minimum or maximum; they are built from saturating differences:
// min(a, b) = a - (a - b), max(a, b) = b + (a - b), each step saturating.
template <class Pixel>
struct Sse2Lanes;
template <>
struct Sse2Lanes<uint8_t> {
    static __m128i set(int32_t value) { return _mm_set1_epi8(static_cast<char>(value)); }
    static __m128i addSat(__m128i a, __m128i b) { return _mm_adds_epu8(a, b); }
    static __m128i subSat(__m128i a, __m128i b) { return _mm_subs_epu8(a, b); }
    static __m128i min(__m128i a, __m128i b) { return _mm_min_epu8(a, b); }
    static __m128i max(__m128i a, __m128i b) { return _mm_max_epu8(a, b); }
};
template <>
struct Sse2Lanes<uint16_t> {
    static __m128i set(int32_t value) { return _mm_set1_epi16(static_cast<short>(value)); }
    static __m128i addSat(__m128i a, __m128i b) { return _mm_adds_epu16(a, b); }
    static __m128i subSat(__m128i a, __m128i b) { return _mm_subs_epu16(a, b); }
    static __m128i min(__m128i a, __m128i b) { return subSat(a, subSat(a, b)); }
    static __m128i max(__m128i a, __m128i b) { return addSat(b, subSat(a, b)); }
};

// True when every byte of v is 0 (SSE2 has no packed test instruction).
inline bool allZero(__m128i v) { return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF; }

// The adapter for simd::encodeHardRow, 16 bytes of pixels per vector.
//   Classes: the top bits of the moved pixels (simd::hardRowShifted), one
//   movemask per 16 pixels; 16-bit pixels are first packed to bytes with
//   signed saturation, which keeps each value's sign, i.e. its class.
//   Uniform tests: the unsigned minimum (maximum) of the block, compared
//   once: min >= t exactly when the saturating t - min is 0, max < t exactly
//   when the saturating max - (t - 1) is 0.
template <class P, bool Raise>
struct Sse2Pixels {
    using Pixel = P;
    using Lanes = Sse2Lanes<P>;
    static constexpr int32_t kPerVector = 16 / static_cast<int32_t>(sizeof(P));
    struct Thresh {
        __m128i shift;     // |kMiddle - thresh|
        __m128i at;        // thresh
        __m128i belowMax;  // thresh - 1, the largest background value
    };
    static Thresh prepare(int32_t thresh) {
        const int32_t shift = Raise ? simd::kMiddle<P> - thresh : thresh - simd::kMiddle<P>;
        return {Lanes::set(shift), Lanes::set(thresh), Lanes::set(thresh - 1)};
    }
    static __m128i load(const P *pixels) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels)); }
    static __m128i moved(const P *pixels, const Thresh &thresh) {
        return Raise ? Lanes::addSat(load(pixels), thresh.shift) : Lanes::subSat(load(pixels), thresh.shift);
    }
    static uint64_t classify16(const P *pixels, const Thresh &thresh) {
        if constexpr (sizeof(P) == 1) {
            return static_cast<uint32_t>(_mm_movemask_epi8(moved(pixels, thresh)));
        } else {
            return static_cast<uint32_t>(
                _mm_movemask_epi8(_mm_packs_epi16(moved(pixels, thresh), moved(pixels + 8, thresh))));
        }
    }
    static uint64_t classify64(const P *pixels, const Thresh &thresh) {
        return classify16(pixels, thresh) | classify16(pixels + 16, thresh) << 16 |
               classify16(pixels + 32, thresh) << 32 | classify16(pixels + 48, thresh) << 48;
    }
    static bool allAtOrAbove(const P *pixels, const Thresh &thresh) {
        __m128i low = load(pixels);
        for (int32_t i = kPerVector; i < simd::kBlock; i += kPerVector) low = Lanes::min(low, load(pixels + i));
        return allZero(Lanes::subSat(thresh.at, low));
    }
    static bool allBelow(const P *pixels, const Thresh &thresh) {
        __m128i high = load(pixels);
        for (int32_t i = kPerVector; i < simd::kBlock; i += kPerVector) high = Lanes::max(high, load(pixels + i));
        return allZero(Lanes::subSat(high, thresh.belowMax));
    }
    // Plain x86-64 has neither a population count instruction nor a
    // trailing-zero count defined for 0: boundaries are written one by one.
    static constexpr bool kBitCounts = false;
    static int32_t trailingZeros(uint64_t bits) { return __builtin_ctzll(bits | uint64_t{1} << 63); }
    static int32_t popCount(uint64_t bits) { return __builtin_popcountll(bits); }
};

}  // namespace

int32_t getSse2HardRowKernels(HardRowKernels *kernels) {
    kernels->row8 = &simd::hardRowShifted<Sse2Pixels<uint8_t, true>, Sse2Pixels<uint8_t, false>>;
    kernels->row16 = &simd::hardRowShifted<Sse2Pixels<uint16_t, true>, Sse2Pixels<uint16_t, false>>;
    kernels->ends8 = &simd::hardRowEndsShifted<Sse2Pixels<uint8_t, true>, Sse2Pixels<uint8_t, false>>;
    kernels->ends16 = &simd::hardRowEndsShifted<Sse2Pixels<uint16_t, true>, Sse2Pixels<uint16_t, false>>;
    return 0;
}

}  // namespace cblob::row

#endif
