// The SSE2 hard-threshold row kernels (x86-64, where SSE2 is always there):
// 16 pixels per packed compare, classes gathered with movemask into 64-bit
// masks that the shared loop turns into runs.
#include "run/row_kernels.hpp"

#if CBLOB_ROW_KERNELS_X86

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "run/row_run_writer.hpp"
#include "run/row_kernels_simd.hpp"

namespace cblob::row {

namespace {

// 8-bit pixels: v >= t exactly when max(v, t) == v (unsigned byte maximum).
struct Sse2Pixels8 {
    using Pixel = uint8_t;
    using Thresh = __m128i;
    static Thresh prepare(int32_t thresh) { return _mm_set1_epi8(static_cast<char>(thresh)); }
    static uint64_t classify16(const uint8_t *pixels, __m128i thresh) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels));
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, thresh), v)));
    }
    static uint64_t classify64(const uint8_t *pixels, __m128i thresh) {
        return classify16(pixels, thresh) | classify16(pixels + 16, thresh) << 16 |
               classify16(pixels + 32, thresh) << 32 | classify16(pixels + 48, thresh) << 48;
    }
};

// 16-bit pixels: v >= t exactly when the unsigned saturating t - v is 0,
// which holds for every threshold 1..65535. Two compare results are packed
// to bytes so that one movemask gives 16 classes.
struct Sse2Pixels16 {
    using Pixel = uint16_t;
    using Thresh = __m128i;
    static Thresh prepare(int32_t thresh) { return _mm_set1_epi16(static_cast<short>(thresh)); }
    static __m128i atOrAbove(const uint16_t *pixels, __m128i thresh) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels));
        return _mm_cmpeq_epi16(_mm_subs_epu16(thresh, v), _mm_setzero_si128());
    }
    static uint64_t classify16(const uint16_t *pixels, __m128i thresh) {
        const __m128i bytes = _mm_packs_epi16(atOrAbove(pixels, thresh), atOrAbove(pixels + 8, thresh));
        return static_cast<uint32_t>(_mm_movemask_epi8(bytes));
    }
    static uint64_t classify64(const uint16_t *pixels, __m128i thresh) {
        return classify16(pixels, thresh) | classify16(pixels + 16, thresh) << 16 |
               classify16(pixels + 32, thresh) << 32 | classify16(pixels + 48, thresh) << 48;
    }
};

}  // namespace

int32_t getSse2HardRowKernels(HardRowKernels *kernels) {
    kernels->row8 = &simd::hardRow<Sse2Pixels8>;
    kernels->row16 = &simd::hardRow<Sse2Pixels16>;
    return 0;
}

}  // namespace cblob::row

#endif
