// The run finders of segmentation type none: grey rows carrying the 8-bit
// pixel values themselves, 0 outside a mask.
#include <cstdint>

#include "segment/row_kernels.hpp"
#include "segment/run_finder.hpp"
#include "segment/run_finder_core.hpp"

namespace cblob::seg {

namespace {

struct NoneValues {
    static constexpr bool kGrey = true;
    static constexpr bool kMasked = true;
    static int32_t prepare(const FindInputs &in, bool, NoneValues *) {
        CBLOB_REQUIRE_ARG(in.mask.kind == MaskKind::none || in.mask.kind == MaskKind::window || in.scratch);
        return 0;
    }
    void row(uint8_t **cursor, const uint8_t *pixels, const uint8_t *, const uint8_t *mask, const FindInputs &in,
             int32_t *numRuns, uint8_t *startValue) const {
        if (mask) {
            row::maskedNoneRow(cursor, pixels, mask, in.width, in.wide, numRuns);
        } else {
            row::noneRow(cursor, pixels, in.width, in.wide, numRuns);
        }
        *startValue = 0;
    }
};

}  // namespace

int32_t noneRunFinder(int32_t bitsPerPel, RunFinder *finder) {
    CBLOB_REQUIRE_ARG(finder);
    if (bitsPerPel != 8) return cimg_err_badDepth;
    *finder = core::finderOf<NoneValues>();
    return 0;
}

}  // namespace cblob::seg
