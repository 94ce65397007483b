// The AVX2 hard-threshold row kernels: 32 pixels per packed compare. Only
// these functions are compiled for AVX2 (and BMI1, which every AVX2 CPU
// has); the dispatcher runs them only after the CPU reported both, so the
// library still runs on any x86-64.
#include "run/row_kernels.hpp"

#if CBLOB_ROW_KERNELS_X86

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "run/row_run_writer.hpp"

// Everything defined from here to the matching pop is compiled for AVX2.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi")
#endif

#include "run/row_kernels_simd.hpp"

namespace cblob::row {

namespace {

// 8-bit pixels: v >= t exactly when max(v, t) == v (unsigned byte maximum).
struct Avx2Pixels8 {
    using Pixel = uint8_t;
    using Thresh = __m256i;
    static Thresh prepare(int32_t thresh) { return _mm256_set1_epi8(static_cast<char>(thresh)); }
    static uint64_t classify32(const uint8_t *pixels, __m256i thresh) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels));
        return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(v, thresh), v)));
    }
    static uint64_t classify64(const uint8_t *pixels, __m256i thresh) {
        return classify32(pixels, thresh) | classify32(pixels + 32, thresh) << 32;
    }
};

// 16-bit pixels: v >= t exactly when the unsigned saturating t - v is 0.
// Packing works per 128-bit lane, so the packed quadwords are put back in
// pixel order before the movemask.
struct Avx2Pixels16 {
    using Pixel = uint16_t;
    using Thresh = __m256i;
    static Thresh prepare(int32_t thresh) { return _mm256_set1_epi16(static_cast<short>(thresh)); }
    static __m256i atOrAbove(const uint16_t *pixels, __m256i thresh) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels));
        return _mm256_cmpeq_epi16(_mm256_subs_epu16(thresh, v), _mm256_setzero_si256());
    }
    static uint64_t classify32(const uint16_t *pixels, __m256i thresh) {
        const __m256i packed = _mm256_packs_epi16(atOrAbove(pixels, thresh), atOrAbove(pixels + 16, thresh));
        return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_permute4x64_epi64(packed, 0xD8)));
    }
    static uint64_t classify64(const uint16_t *pixels, __m256i thresh) {
        return classify32(pixels, thresh) | classify32(pixels + 32, thresh) << 32;
    }
};

// Instantiated here, inside the AVX2 region.
constexpr HardRowKernels kAvx2Kernels = {&simd::hardRow<Avx2Pixels8>, &simd::hardRow<Avx2Pixels16>};

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
