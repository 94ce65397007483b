// The image runs: cblob_run8 and cblob_run16, an image with an optional
// 8-bit mask image, handed on as windows to the window runs.
#include <cstdint>

#include "cblob/run.h"
#include "core/client_xform.hpp"
#include "core/frame.hpp"
#include "run/run_entry_checks.hpp"

namespace {

// The image run of one pixel depth. The 8-bit run also checks the
// thresholds and the whole-image connectivity conflict, and polls the
// attention check before handing over.
template <int Bits>
int32_t runImage(const cimg_imageConst *image, const cimg_imageConst *mask, cblob_runParams *runParams,
                 cblob_resultSet *resultSet) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, image);
    CBLOB_FRAME_REQUIRE(f, runParams);
    CBLOB_FRAME_REQUIRE(f, resultSet);
    CBLOB_FRAME_CHECK(f, image->pels, cblob_err_imageUnbound);
    CBLOB_FRAME_CHECK(f, !mask || mask->pels, cblob_err_maskUnbound);
    if constexpr (Bits == 8) {
        CBLOB_FRAME_TRY(f, cblob::run::checkThresholds8(runParams, cblob::run::SpanRule::above255));
        CBLOB_FRAME_CHECK(f,
                          !(runParams->connectivityType == cblob_connectivityWholeImage &&
                            runParams->connectivityCleanup != cblob_connectivityCleanupNone),
                          cblob_err_connectivityConflict);
    }
    cmath_xformPtrhConst clientFromImage;
    CBLOB_FRAME_TRY(f, cblob::takeClientFromImage(f, image, &clientFromImage));
    cimg_windowConst window, maskWindow;
    CBLOB_FRAME_TRY(f, cimg_windowConst_init(&window, image));
    if (mask) CBLOB_FRAME_TRY(f, cimg_windowConst_init(&maskWindow, mask));
    if constexpr (Bits == 8) {
        CBLOB_FRAME_TRY(f, csys_attention_check());
        CBLOB_FRAME_TRY(
            f, cblob_runWindow8(&window, &clientFromImage, mask ? &maskWindow : nullptr, runParams, resultSet));
    } else {
        CBLOB_FRAME_TRY(
            f, cblob_runWindow16(&window, &clientFromImage, mask ? &maskWindow : nullptr, runParams, resultSet));
    }
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_run8(const cimg_imageConst *image, const cimg_imageConst *mask, cblob_runParams *runParams,
                   cblob_resultSet *resultSet) {
    return runImage<8>(image, mask, runParams, resultSet);
}

int32_t cblob_run16(const cimg_imageConst *image, const cimg_imageConst *mask, cblob_runParams *runParams,
                    cblob_resultSet *resultSet) {
    return runImage<16>(image, mask, runParams, resultSet);
}

}  // extern "C"
