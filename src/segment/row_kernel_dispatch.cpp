// Choosing the hard-threshold row kernel: which optimised variant the CPU
// can run (detected once and cached), the host's inhibit hook, the optimised
// entry points, and the per-image resolution the run finders use.
#include <atomic>

#include "cblob/sys.h"
#include "core/optimized.hpp"
#include "core/require.hpp"
#include "segment/row_kernels.hpp"

namespace cblob::row {

namespace {

// The selected variant; 0 until the first use detects the best one.
std::atomic<int32_t> g_variant{0};

#if CBLOB_ROW_KERNELS_X86
bool cpuRunsAvx2() {
    __builtin_cpu_init();  // may run before the runtime's own initialisation
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
}
bool cpuRunsAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
}
#endif

bool variantAvailable(HardRowVariant variant) {
    switch (variant) {
        case HardRowVariant::automatic:
        case HardRowVariant::portable:
            return true;
#if CBLOB_ROW_KERNELS_X86
        case HardRowVariant::sse2:
            return true;
        case HardRowVariant::avx2: {
            static const bool avx2 = cpuRunsAvx2();
            return avx2;
        }
        case HardRowVariant::avx512: {
            static const bool avx512 = cpuRunsAvx512();
            return avx512;
        }
#endif
        default:
            return false;
    }
}

HardRowVariant bestVariant() {
    if (variantAvailable(HardRowVariant::avx512)) return HardRowVariant::avx512;
    if (variantAvailable(HardRowVariant::avx2)) return HardRowVariant::avx2;
    if (variantAvailable(HardRowVariant::sse2)) return HardRowVariant::sse2;
    return HardRowVariant::portable;
}

HardRowVariant activeVariant() {
    int32_t variant = g_variant.load(std::memory_order_acquire);
    if (variant == 0) {
        // Two first users may detect at once; both find the same answer, and
        // a variant forced meanwhile is kept.
        int32_t expected = 0;
        g_variant.compare_exchange_strong(expected, static_cast<int32_t>(bestVariant()), std::memory_order_acq_rel);
        variant = g_variant.load(std::memory_order_acquire);
    }
    return static_cast<HardRowVariant>(variant);
}

// The active optimised variant's kernels; false when the portable variant
// is active.
bool activeOptimizedKernels(HardRowKernels *kernels) {
    int32_t status = cprt_err_optimizationInhibited;
#if CBLOB_ROW_KERNELS_X86
    switch (activeVariant()) {
        case HardRowVariant::sse2:
            status = getSse2HardRowKernels(kernels);
            break;
        case HardRowVariant::avx2:
            status = getAvx2HardRowKernels(kernels);
            break;
        case HardRowVariant::avx512:
            status = getAvx512HardRowKernels(kernels);
            break;
        default:
            break;
    }
#else
    (void)kernels;
#endif
    return !CBLOB_FAILED(status);
}

template <class Pixel>
struct PixelKernels;
template <>
struct PixelKernels<uint8_t> {
    static constexpr const char *kName = kHardRow8KernelName;
    static HardRowKernel<uint8_t> of(const HardRowKernels &kernels) { return kernels.row8; }
    static HardRowEndsKernel<uint8_t> endsOf(const HardRowKernels &kernels) { return kernels.ends8; }
};
template <>
struct PixelKernels<uint16_t> {
    static constexpr const char *kName = kHardRow16KernelName;
    static HardRowKernel<uint16_t> of(const HardRowKernels &kernels) { return kernels.row16; }
    static HardRowEndsKernel<uint16_t> endsOf(const HardRowKernels &kernels) { return kernels.ends16; }
};

// The optimised kernel for Pixel unless the hook inhibits it or none is
// active; asks the hook exactly once.
template <class Pixel>
HardRowKernel<Pixel> optimizedKernel(cprt_optimizationInhibitedFn hook) {
    if (inhibitedBy(hook, PixelKernels<Pixel>::kName)) return nullptr;
    HardRowKernels kernels{};
    return activeOptimizedKernels(&kernels) ? PixelKernels<Pixel>::of(kernels) : nullptr;
}

template <class Pixel>
HardRowEndsKernel<Pixel> optimizedEndsKernel() {
    if (inhibitedBy(currentInhibitHook(), PixelKernels<Pixel>::kName)) return nullptr;
    HardRowKernels kernels{};
    return activeOptimizedKernels(&kernels) ? PixelKernels<Pixel>::endsOf(kernels) : nullptr;
}

}  // namespace

template <class Pixel>
int32_t hardRowOptimized(uint8_t **cursor, const Pixel *pixels, int32_t width, int32_t thresh, int32_t wide,
                         int32_t *numRuns) {
    const HardRowKernel<Pixel> kernel = optimizedKernel<Pixel>(currentInhibitHook());
    if (kernel == nullptr) return cprt_err_optimizationInhibited;
    return kernel(cursor, pixels, width, thresh, wide, numRuns);
}

template <class Pixel>
int32_t resolveHardRowKernelWith(HardRowKernel<Pixel> *kernel, cprt_optimizationInhibitedFn hook) {
    CBLOB_REQUIRE_ARG(kernel);
    const HardRowKernel<Pixel> optimized = optimizedKernel<Pixel>(hook);
    *kernel = optimized != nullptr ? optimized : &hardRow<Pixel>;
    return 0;
}

template <class Pixel>
int32_t resolveHardRowEndsKernel(HardRowEndsKernel<Pixel> *kernel) {
    CBLOB_REQUIRE_ARG(kernel);
    const HardRowEndsKernel<Pixel> optimized = optimizedEndsKernel<Pixel>();
    *kernel = optimized != nullptr ? optimized : &hardRowEnds<Pixel>;
    return 0;
}

template int32_t hardRowOptimized<uint8_t>(uint8_t **, const uint8_t *, int32_t, int32_t, int32_t, int32_t *);
template int32_t hardRowOptimized<uint16_t>(uint8_t **, const uint16_t *, int32_t, int32_t, int32_t, int32_t *);
template <class Pixel>
int32_t resolveHardRowKernel(HardRowKernel<Pixel> *kernel) {
    return resolveHardRowKernelWith<Pixel>(kernel, currentInhibitHook());
}

template int32_t resolveHardRowKernel<uint8_t>(HardRowKernel<uint8_t> *);
template int32_t resolveHardRowKernel<uint16_t>(HardRowKernel<uint16_t> *);
template int32_t resolveHardRowKernelWith<uint8_t>(HardRowKernel<uint8_t> *, cprt_optimizationInhibitedFn);
template int32_t resolveHardRowKernelWith<uint16_t>(HardRowKernel<uint16_t> *, cprt_optimizationInhibitedFn);
template int32_t resolveHardRowEndsKernel<uint8_t>(HardRowEndsKernel<uint8_t> *);
template int32_t resolveHardRowEndsKernel<uint16_t>(HardRowEndsKernel<uint16_t> *);

int32_t getHardRowVariant(HardRowVariant *variant) {
    CBLOB_REQUIRE_ARG(variant);
    *variant = activeVariant();
    return 0;
}

int32_t getHardRowVariantName(HardRowVariant variant, const char **name) {
    CBLOB_REQUIRE_ARG(name);
    switch (variant) {
        case HardRowVariant::automatic:
            *name = "automatic";
            break;
        case HardRowVariant::portable:
            *name = "portable";
            break;
        case HardRowVariant::sse2:
            *name = "sse2";
            break;
        case HardRowVariant::avx2:
            *name = "avx2";
            break;
        case HardRowVariant::avx512:
            *name = "avx512";
            break;
        default:
            *name = "unknown";
            break;
    }
    return 0;
}

int32_t getHardRowVariantAvailable(HardRowVariant variant, int32_t *available) {
    CBLOB_REQUIRE_ARG(available);
    *available = variantAvailable(variant) ? 1 : 0;
    return 0;
}

int32_t forceHardRowVariant(HardRowVariant variant) {
    int32_t status = 0;
    if (!variantAvailable(variant)) {
        status = cprt_err_optimizationInhibited;
    } else {
        const HardRowVariant chosen = variant == HardRowVariant::automatic ? bestVariant() : variant;
        g_variant.store(static_cast<int32_t>(chosen), std::memory_order_release);
    }
    return status;
}

}  // namespace cblob::row
