// The image runs with a TORV run-length mask (the host's own run-length
// format): cblob_run8_withTORVRleMask and cblob_run16_withTORVRleMask.
#include <cstdint>

#include "cblob/run.h"
#include "core/client_xform.hpp"
#include "core/frame.hpp"
#include "run/run_entry_checks.hpp"
#include "run/run_pipeline.hpp"

namespace {

// The run of one pixel depth: image bound, the 8-bit threshold checks (a
// span above 255 fails), the image's transform and window, the window has
// pixels, the mask rectangle is the window's (also without a mask); then
// clear, transform, front end.
template <int Bits>
int32_t runWithTorvMask(const cimg_imageConst *image, const uint8_t *const *maskRows, const cstd_rect32 *maskRect,
                        cblob_runParams *runParams, cblob_resultSet *resultSet) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, image);
    CBLOB_FRAME_REQUIRE(f, maskRect);
    CBLOB_FRAME_REQUIRE(f, runParams);
    CBLOB_FRAME_REQUIRE(f, resultSet);
    CBLOB_FRAME_CHECK(f, image->pels, cblob_err_imageUnbound);
    if constexpr (Bits == 8) {
        CBLOB_FRAME_TRY(f, cblob::run::checkThresholds8(runParams, cblob::run::SpanRule::above255));
    }
    cmath_xformPtrhConst clientFromImage;
    CBLOB_FRAME_TRY(f, cblob::takeClientFromImage(f, image, &clientFromImage));
    cimg_windowConst window;
    CBLOB_FRAME_TRY(f, cimg_windowConst_init(&window, image));
    CBLOB_FRAME_CHECK(f, window.pels, cblob_err_imageUnbound);
    CBLOB_FRAME_CHECK(f, cblob::run::sameRect(*maskRect, cblob::run::rectOf(window)), cblob_err_maskGeometryMismatch);
    CBLOB_FRAME_TRY(f, cblob::run::clearAndRun(Bits == 8 ? &window : nullptr, Bits == 16 ? &window : nullptr,
                                               &clientFromImage, nullptr, nullptr, maskRows, runParams, resultSet));
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_run8_withTORVRleMask(const cimg_imageConst *image, const uint8_t *const *maskRows,
                                   const cstd_rect32 *maskRect, cblob_runParams *runParams,
                                   cblob_resultSet *resultSet) {
    return runWithTorvMask<8>(image, maskRows, maskRect, runParams, resultSet);
}

int32_t cblob_run16_withTORVRleMask(const cimg_imageConst *image, const uint8_t *const *maskRows,
                                    const cstd_rect32 *maskRect, cblob_runParams *runParams,
                                    cblob_resultSet *resultSet) {
    return runWithTorvMask<16>(image, maskRows, maskRect, runParams, resultSet);
}

}  // extern "C"
