// The AVX2 hard-threshold row kernels: 32 bytes of pixels per vector. Only
// these functions are compiled for AVX2 (and BMI1 and POPCNT, which every
// AVX2 CPU has); the dispatcher runs them only after the CPU reported all
// three, so the library still runs on any x86-64.
#include "segment/row_kernels.hpp"

#if CBLOB_ROW_KERNELS_X86

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "segment/row_run_writer.hpp"

// Everything defined from here to the matching pop is compiled for AVX2.
// With GCC, loop heads are also aligned to 32 bytes: the row loop's speed
// on sparse rows otherwise moves by 10 % with where the linker happens to
// place it (measured with segmentation_bench). GCC's straight-line
// vectoriser is off: it packs the four run ends of a block into one vector
// store through a chain of inserts and shuffles, which made the run-end
// kernel up to 1.3x slower.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,popcnt")
#pragma GCC optimize("align-loops=32", "no-tree-slp-vectorize")
#endif

#include "segment/row_kernels_simd.hpp"

namespace cblob::row {

namespace {

// Packed unsigned operations on one pixel type.
template <class Pixel>
struct Avx2Lanes;
template <>
struct Avx2Lanes<uint8_t> {
    static __m256i set(int32_t value) { return _mm256_set1_epi8(static_cast<char>(value)); }
    static __m256i addSat(__m256i a, __m256i b) { return _mm256_adds_epu8(a, b); }
    static __m256i subSat(__m256i a, __m256i b) { return _mm256_subs_epu8(a, b); }
    static __m256i min(__m256i a, __m256i b) { return _mm256_min_epu8(a, b); }
    static __m256i max(__m256i a, __m256i b) { return _mm256_max_epu8(a, b); }
};
template <>
struct Avx2Lanes<uint16_t> {
    static __m256i set(int32_t value) { return _mm256_set1_epi16(static_cast<short>(value)); }
    static __m256i addSat(__m256i a, __m256i b) { return _mm256_adds_epu16(a, b); }
    static __m256i subSat(__m256i a, __m256i b) { return _mm256_subs_epu16(a, b); }
    static __m256i min(__m256i a, __m256i b) { return _mm256_min_epu16(a, b); }
    static __m256i max(__m256i a, __m256i b) { return _mm256_max_epu16(a, b); }
};

// The adapter for simd::encodeHardRow, 32 bytes of pixels per vector.
//   Classes: the top bits of the moved pixels (simd::hardRowShifted). 8-bit:
//   one movemask per 32 pixels. 16-bit: two vectors packed to bytes with
//   signed saturation, which keeps each value's sign, i.e. its class; the
//   pack works per 128-bit lane, so the quadwords are put back in pixel
//   order before the movemask.
//   Uniform tests: the unsigned minimum (maximum) of the block, compared
//   once: min >= t exactly when the saturating t - min is 0, max < t exactly
//   when the saturating max - (t - 1) is 0.
template <class P, bool Raise>
struct Avx2Pixels {
    using Pixel = P;
    using Lanes = Avx2Lanes<P>;
    static constexpr int32_t kPerVector = 32 / static_cast<int32_t>(sizeof(P));
    struct Thresh {
        __m256i shift;     // |kMiddle - thresh|
        __m256i at;        // thresh
        __m256i belowMax;  // thresh - 1, the largest background value
    };
    static Thresh prepare(int32_t thresh) {
        const int32_t shift = Raise ? simd::kMiddle<P> - thresh : thresh - simd::kMiddle<P>;
        return {Lanes::set(shift), Lanes::set(thresh), Lanes::set(thresh - 1)};
    }
    static __m256i load(const P *pixels) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels)); }
    static __m256i moved(const P *pixels, const Thresh &thresh) {
        return Raise ? Lanes::addSat(load(pixels), thresh.shift) : Lanes::subSat(load(pixels), thresh.shift);
    }
    static uint64_t classify32(const P *pixels, const Thresh &thresh) {
        if constexpr (sizeof(P) == 1) {
            return static_cast<uint32_t>(_mm256_movemask_epi8(moved(pixels, thresh)));
        } else {
            const __m256i packed = _mm256_packs_epi16(moved(pixels, thresh), moved(pixels + 16, thresh));
            return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_permute4x64_epi64(packed, 0xD8)));
        }
    }
    static uint64_t classify64(const P *pixels, const Thresh &thresh) {
        return classify32(pixels, thresh) | classify32(pixels + 32, thresh) << 32;
    }
    static bool allAtOrAbove(const P *pixels, const Thresh &thresh) {
        __m256i low = load(pixels);
        for (int32_t i = kPerVector; i < simd::kBlock; i += kPerVector) low = Lanes::min(low, load(pixels + i));
        const __m256i shortfall = Lanes::subSat(thresh.at, low);
        return _mm256_testz_si256(shortfall, shortfall) != 0;
    }
    static bool allBelow(const P *pixels, const Thresh &thresh) {
        __m256i high = load(pixels);
        for (int32_t i = kPerVector; i < simd::kBlock; i += kPerVector) high = Lanes::max(high, load(pixels + i));
        const __m256i excess = Lanes::subSat(high, thresh.belowMax);
        return _mm256_testz_si256(excess, excess) != 0;
    }
    static constexpr bool kBitCounts = true;
    static int32_t trailingZeros(uint64_t bits) { return static_cast<int32_t>(_tzcnt_u64(bits)); }
    static int32_t popCount(uint64_t bits) { return static_cast<int32_t>(_mm_popcnt_u64(bits)); }
};

// Instantiated here, inside the AVX2 region.
constexpr HardRowKernels kAvx2Kernels = {
    &simd::hardRowShifted<Avx2Pixels<uint8_t, true>, Avx2Pixels<uint8_t, false>>,
    &simd::hardRowShifted<Avx2Pixels<uint16_t, true>, Avx2Pixels<uint16_t, false>>,
    &simd::hardRowEndsShifted<Avx2Pixels<uint8_t, true>, Avx2Pixels<uint8_t, false>>,
    &simd::hardRowEndsShifted<Avx2Pixels<uint16_t, true>, Avx2Pixels<uint16_t, false>>};

}  // namespace

}  // namespace cblob::row

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace cblob::row {

int32_t getAvx2HardRowKernels(HardRowKernels *kernels) {
    *kernels = kAvx2Kernels;
    return 0;
}

}  // namespace cblob::row

#endif
