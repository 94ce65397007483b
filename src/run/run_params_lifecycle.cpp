// Construction, copy construction and destruction of run parameters, and the
// type-check hooks of cblob_runParams.
#include "cblob/run_params.h"
#include "containers/typed_vector.hpp"
#include "core/frame.hpp"
#include "run/run_params_image.hpp"
#include "containers/table_block.hpp"

CBLOB_TYPE_CHECK_DEFINE(cblob_runParams)

namespace {

// Every field but the morphology vector at its default.
void setDefaults(cblob_runParams *p) {
    p->connectivityType = cblob_connectivityStandard;
    p->keepThresholdedImage = 0;
    p->keepMorphedThresholdedImage = 0;
    p->keepMaskedAndThresholdedImage = 0;
    p->keepBlobImages = 0;
    p->connectivityCleanup = cblob_connectivityCleanupNone;
    p->minArea = 0;
    p->computeSecondMoments = 1;
    p->computeTopology = 1;
    p->keepMaskImage = 0;
    p->thresh = 0;
    p->highThresh = 0;
    p->invert = 0;
    p->segmentationType = cblob_segmentationHardThresh;
    p->map = nullptr;
    p->threshMap8 = nullptr;
    p->threshMap16 = nullptr;
    p->mapSize = 0;
    p->threshMapSize = 0;
    p->scaleVal = 1;
    p->softness = 0;
    p->softnessFixed = 0;
    p->lowTailPercent = 0.0f;
    p->highTailPercent = 100.0f;
    p->highThreshPercent = 100.0f;
    p->lowThreshPercent = 0.0f;
    p->threshPercent = 50.0f;
    p->isThreshPercent = 0;
    p->threshImage8 = nullptr;
    p->threshImage16 = nullptr;
}

}  // namespace

extern "C" {

int32_t cblob_runParams_construct(cblob_runParams *p) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_morphOp_constructEmpty(&p->morphOps));
    csys_typeCheck_cstd_vector_cblob_morphOp(&p->morphOps);
    f.addObject<&cstd_vector_cblob_morphOp_destruct>(&p->morphOps, csys_cleanup_resultObject);
    setDefaults(p);
    return f.exit();
}

int32_t cblob_runParams_constructCopy(cblob_runParams *p, const cblob_runParams *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, p != src);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_morphOp_constructEmpty(&p->morphOps));
    p->map = nullptr;
    p->threshMap8 = nullptr;
    p->threshMap16 = nullptr;
    p->threshImage8 = nullptr;
    p->threshImage16 = nullptr;
    // From here the whole object is registered: a failing assign leaves
    // nothing behind in it, and destructing it releases whatever it holds.
    csys_typeCheckFunc_cblob_runParams(&cblob_runParams_destruct);
    f.addObject<&cblob_runParams_destruct>(p, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob_runParams_assign(p, src));
    return f.exit();
}

int32_t cblob_runParams_destruct(cblob_runParams *p) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_TRY(f, cblob::table::release(&p->map));
    CBLOB_FRAME_TRY(f, cblob::table::release(&p->threshMap8));
    CBLOB_FRAME_TRY(f, cblob::table::release(&p->threshMap16));
    CBLOB_FRAME_TRY(f, cblob::deleteThreshImage(&p->threshImage8));
    CBLOB_FRAME_TRY(f, cblob::deleteThreshImage(&p->threshImage16));
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_morphOp_destruct(&p->morphOps));
    return f.exit();
}

}  // extern "C"
