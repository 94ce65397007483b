// The common front end of every run: a soft threshold without intermediate
// levels becomes the hard threshold it amounts to, then the pipeline runs.
#include <cstdint>

#include "core/frame.hpp"
#include "run/run_pipeline.hpp"

namespace cblob::run {

namespace {

// A soft threshold with softness 0 has no levels between background and
// object: it is a hard threshold at its high threshold. A percent threshold
// whose softness is not fixed yet derives its softness in the run, so it
// stays soft.
bool softWithoutLevels(const cblob_runParams &p) {
    return p.segmentationType == cblob_segmentationSoftThresh && (p.isThreshPercent == 0 || p.softnessFixed == 1) &&
           p.softness == 0;
}

}  // namespace

int32_t runFrontEnd(const cimg_windowConst *window8, const cimg_windowConst *window16,
                    const cblob_imageRlePtrh *rleInput, const cmath_xformPtrhConst *clientFromImage,
                    const cimg_windowConst *maskWindow, const cblob_imageRlePtrh *rleMask,
                    const uint8_t *const *torvMask, cblob_runParams *params, cblob_resultSet *rs,
                    RunSpares *spares) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, params);
    CBLOB_FRAME_REQUIRE(f, rs);
    cblob_runParams *use = params;
    cblob_runParams hard;
    if (softWithoutLevels(*params)) {
        CBLOB_FRAME_TRY(f, cblob_runParams_constructCopy(&hard, params));
        f.addObject<&cblob_runParams_destruct>(&hard, csys_cleanup_tempObject);
        CBLOB_FRAME_TRY(f, cblob_runParams_setSegmentationHardThresh(&hard, params->highThresh, params->invert));
        use = &hard;
    }
    CBLOB_FRAME_TRY(f, runPipelineWithBlobImages(window8, window16, rleInput, clientFromImage, maskWindow, rleMask,
                                                 torvMask, use, rs, spares));
    return f.exit();
}

int32_t clearAndRun(const cimg_windowConst *window8, const cimg_windowConst *window16,
                    const cmath_xformPtrhConst *clientFromImage, const cimg_windowConst *maskWindow,
                    const cblob_imageRlePtrh *rleMask, const uint8_t *const *torvMask, cblob_runParams *params,
                    cblob_resultSet *rs) {
    Frame<1> f;
    RunSpares spares;
    f.addObject<&releaseRunSpares>(&spares, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, clearForRun(rs, &spares));
    CBLOB_FRAME_TRY(f, clientFromImage ? cmath_xformPtrhConst_assign(&rs->clientFromImage, clientFromImage)
                                       : cmath_xformPtrhConst_assignNull(&rs->clientFromImage));
    CBLOB_FRAME_TRY(f, runFrontEnd(window8, window16, nullptr, clientFromImage, maskWindow, rleMask, torvMask,
                                   params, rs, &spares));
    return f.exit();
}

}  // namespace cblob::run
