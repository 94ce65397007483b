// The hard-threshold run finders inside a mask: binary rows whose object
// pixels are inside the mask and on the object side of the threshold (at or
// above it, or below it with invert). The row's start value is the class of
// its first run.
#include <cstdint>

#include "segment/row_kernels.hpp"
#include "segment/run_finder.hpp"
#include "segment/run_finder_core.hpp"

namespace cblob::seg {

namespace {

template <class Pixel>
struct MaskedHard {
    static constexpr bool kGrey = false;
    static constexpr bool kMasked = true;
    static int32_t prepare(const FindInputs &in, bool, MaskedHard *) {
        // Every row needs a mask row; a decoded mask needs the scratch row.
        CBLOB_REQUIRE_ARG(in.mask.kind != MaskKind::none);
        CBLOB_REQUIRE_ARG(in.mask.kind == MaskKind::window || in.scratch);
        return 0;
    }
    void row(uint8_t **cursor, const uint8_t *pixelRow, const uint8_t *, const uint8_t *mask, const FindInputs &in,
             int32_t *numRuns, uint8_t *startValue) const {
        int32_t firstClass = 0;
        row::maskedHardRow<Pixel>(cursor, reinterpret_cast<const Pixel *>(pixelRow), mask, in.width, in.thresh,
                                  in.invert, in.wide, numRuns, &firstClass);
        *startValue = static_cast<uint8_t>(firstClass);
    }
};

}  // namespace

int32_t maskedHardRunFinder(int32_t bitsPerPel, RunFinder *finder) {
    CBLOB_REQUIRE_ARG(finder);
    if (bitsPerPel == 8) {
        *finder = core::finderOf<MaskedHard<uint8_t>>();
    } else if (bitsPerPel == 16) {
        *finder = core::finderOf<MaskedHard<uint16_t>>();
    } else {
        return cimg_err_badDepth;
    }
    return 0;
}

}  // namespace cblob::seg
