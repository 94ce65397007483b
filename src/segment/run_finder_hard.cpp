// The hard-threshold run finders without mask: binary rows, the row's start
// value from its first pixel. The optimised form asks the inhibit hook once
// per call and resolves the packed-compare row kernel once; the portable
// form runs the portable kernel only.
#include <cstdint>

#include "cblob/sys.h"
#include "core/frame.hpp"
#include "core/optimized.hpp"
#include "segment/row_kernels.hpp"
#include "segment/run_finder.hpp"
#include "segment/run_finder_core.hpp"

namespace cblob::seg {

namespace {

template <class Pixel>
uint8_t startColour(const Pixel *pixels, const FindInputs &in) {
    if (in.width <= 0) return in.colourBelow;
    return pixels[0] >= in.thresh ? in.colourAbove : in.colourBelow;
}

// Portable: hardRow<Pixel>, called directly.
template <class Pixel>
struct PortableHard {
    static constexpr bool kGrey = false;
    static constexpr bool kMasked = false;
    static int32_t prepare(const FindInputs &, bool, PortableHard *) { return 0; }
    void row(uint8_t **cursor, const uint8_t *pixelRow, const uint8_t *, const uint8_t *, const FindInputs &in,
             int32_t *numRuns, uint8_t *startValue) const {
        const auto *pixels = reinterpret_cast<const Pixel *>(pixelRow);
        row::hardRow<Pixel>(cursor, pixels, in.width, in.thresh, in.wide, numRuns);
        *startValue = startColour(pixels, in);
    }
};

// Optimised: the packed-compare kernel resolved once. The single-threaded
// form handles 8-bit windows only; the band job runs 16-bit rows with the
// portable kernel.
template <class Pixel>
struct OptimizedHard {
    static constexpr bool kGrey = false;
    static constexpr bool kMasked = false;
    row::HardRowKernel<Pixel> kernel = nullptr;

    static int32_t prepare(const FindInputs &in, bool singleThreaded, OptimizedHard *k) {
        if (inhibitedBy(in.inhibitHook, singleThreaded ? kHardFinderSingleName : kHardFinderBandName)) {
            return cprt_err_optimizationInhibited;
        }
        if constexpr (sizeof(Pixel) == 1) {
            return row::resolveHardRowKernelWith<Pixel>(&k->kernel, in.inhibitHook);
        } else {
            if (singleThreaded) return cprt_err_optimizationInhibited;
            k->kernel = &row::hardRow<Pixel>;
            return 0;
        }
    }
    void row(uint8_t **cursor, const uint8_t *pixelRow, const uint8_t *, const uint8_t *, const FindInputs &in,
             int32_t *numRuns, uint8_t *startValue) const {
        const auto *pixels = reinterpret_cast<const Pixel *>(pixelRow);
        kernel(cursor, pixels, in.width, in.thresh, in.wide, numRuns);
        *startValue = startColour(pixels, in);
    }
};

// Optimised first; the portable form when the optimised one declines.
template <class Pixel>
int32_t findSingle(const FindInputs *in, cblob_imageRleData_ *data, rle::WriteBlock *block) {
    int32_t status = 0;
    CBLOB_RUN_OPTIMIZED(status, core::findSingle<OptimizedHard<Pixel>>(in, data, block),
                        core::findSingle<PortableHard<Pixel>>(in, data, block));
    return status;
}

template <class Pixel>
int32_t findBand(const csys_jobParams *params, csys_jobResult *result) {
    int32_t status = 0;
    CBLOB_RUN_OPTIMIZED(status, core::findBand<OptimizedHard<Pixel>>(params, result),
                        core::findBand<PortableHard<Pixel>>(params, result));
    return status;
}

template <template <class> class Form>
int32_t finderForDepth(int32_t bitsPerPel, RunFinder *finder) {
    CBLOB_REQUIRE_ARG(finder);
    if (bitsPerPel == 8) {
        *finder = core::finderOf<Form<uint8_t>>();
    } else if (bitsPerPel == 16) {
        *finder = core::finderOf<Form<uint16_t>>();
    } else {
        return cimg_err_badDepth;
    }
    return 0;
}

}  // namespace

int32_t hardRunFinder(int32_t bitsPerPel, RunFinder *finder) {
    CBLOB_REQUIRE_ARG(finder);
    RunFinder chosen;
    if (bitsPerPel == 8) {
        chosen.single = &findSingle<uint8_t>;
        chosen.band = &findBand<uint8_t>;
    } else if (bitsPerPel == 16) {
        chosen.single = &findSingle<uint16_t>;
        chosen.band = &findBand<uint16_t>;
    } else {
        return cimg_err_badDepth;
    }
    chosen.grey = 0;
    *finder = chosen;
    return 0;
}

int32_t hardRunFinderOptimized(int32_t bitsPerPel, RunFinder *finder) {
    return finderForDepth<OptimizedHard>(bitsPerPel, finder);
}

int32_t hardRunFinderPortable(int32_t bitsPerPel, RunFinder *finder) {
    return finderForDepth<PortableHard>(bitsPerPel, finder);
}

}  // namespace cblob::seg
