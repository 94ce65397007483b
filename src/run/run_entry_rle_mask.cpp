// The image runs with a run-length mask: cblob_run8_withRleMask and
// cblob_run16_withRleMask.
#include <cstdint>

#include "cblob/run.h"
#include "core/client_xform.hpp"
#include "core/frame.hpp"
#include "run/run_entry_checks.hpp"
#include "run/run_pipeline.hpp"

namespace {

// The run of one pixel depth: image bound, the 8-bit threshold checks (a
// span of exactly 255 fails), the image's transform and window; then the
// run-length mask step: the window has pixels, a given mask holds an image
// with rows whose offset and size are the window's; clear, transform, front
// end.
template <int Bits>
int32_t runWithRleMask(const cimg_imageConst *image, const cblob_imageRlePtrh *mask, cblob_runParams *runParams,
                       cblob_resultSet *resultSet) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, image);
    CBLOB_FRAME_REQUIRE(f, runParams);
    CBLOB_FRAME_REQUIRE(f, resultSet);
    CBLOB_FRAME_CHECK(f, image->pels, cblob_err_imageUnbound);
    if constexpr (Bits == 8) {
        CBLOB_FRAME_TRY(f, cblob::run::checkThresholds8(runParams, cblob::run::SpanRule::equals255));
    }
    cmath_xformPtrhConst clientFromImage;
    CBLOB_FRAME_TRY(f, cblob::takeClientFromImage(f, image, &clientFromImage));
    cimg_windowConst window;
    CBLOB_FRAME_TRY(f, cimg_windowConst_init(&window, image));

    CBLOB_FRAME_CHECK(f, window.pels, cblob_err_imageUnbound);
    if (mask) {
        cblob_imageRle *maskImage = nullptr;
        CBLOB_FRAME_TRY(f, cblob::run::requireRleImage(mask, &maskImage));
        CBLOB_FRAME_CHECK(f, cblob::run::sameRect(cblob::run::rectOf(*maskImage), cblob::run::rectOf(window)),
                          cblob_err_maskGeometryMismatch);
    }
    CBLOB_FRAME_TRY(f, cblob::run::clearAndRun(Bits == 8 ? &window : nullptr, Bits == 16 ? &window : nullptr,
                                               &clientFromImage, nullptr, mask, nullptr, runParams, resultSet));
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_run8_withRleMask(const cimg_imageConst *image, const cblob_imageRlePtrh *mask, cblob_runParams *runParams,
                               cblob_resultSet *resultSet) {
    return runWithRleMask<8>(image, mask, runParams, resultSet);
}

int32_t cblob_run16_withRleMask(const cimg_imageConst *image, const cblob_imageRlePtrh *mask,
                                cblob_runParams *runParams, cblob_resultSet *resultSet) {
    return runWithRleMask<16>(image, mask, runParams, resultSet);
}

}  // extern "C"
