// The per-blob image layer of the pipeline: decides whether the run must
// build one run-length image per blob, runs the core, and (once the blob
// database builder exists) builds those images afterwards.
#include <cstdint>

#include "core/frame.hpp"
#include "run/run_pipeline.hpp"

namespace cblob::run {

int32_t runPipelineWithBlobImages(const cimg_windowConst *window8, const cimg_windowConst *window16,
                                  const cblob_imageRlePtrh *rleInput, const cmath_xformPtrhConst *clientFromImage,
                                  const cimg_windowConst *maskWindow, const cblob_imageRlePtrh *rleMask,
                                  const uint8_t *const *torvMask, cblob_runParams *params, cblob_resultSet *rs,
                                  RunSpares *spares) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, params);
    CBLOB_FRAME_REQUIRE(f, rs);
    const bool anyMask = maskWindow || rleMask || torvMask;
    const bool wanted = params->keepBlobImages != 0 || (params->keepMaskImage != 0 && anyMask);
    const bool fromBlobs = wanted && params->connectivityType != cblob_connectivityLabelled;
    // Per-blob images need the scan to write labels into wide runs and the
    // blob database to turn each blob's runs into an image; neither is part
    // of this build, so such a run is refused before anything is done rather
    // than run without the images it asked for.
    CBLOB_FRAME_CHECK(f, !wanted, cblob_err_notYetSupported);
    CBLOB_FRAME_TRY(f, runPipeline(window8, window16, rleInput, clientFromImage, maskWindow, rleMask, torvMask,
                                   wanted ? 1 : 0, fromBlobs ? 1 : 0, params, rs, spares));
    return f.exit();
}

}  // namespace cblob::run
