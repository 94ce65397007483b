// Assignment of run parameters: a deep copy of the morphology vector and the
// tables, threshold image objects that share the source's pixels, and every
// scalar field.
#include "cblob/run_params.h"
#include "core/frame.hpp"
#include "run/run_params_image.hpp"
#include "containers/table_block.hpp"

namespace {

bool isUnbound(const cimg_imageConst *image) {
    int32_t bound = 0;
    return image && !CBLOB_FAILED(cimg_imageConst_getIsBound(image, &bound)) && !bound;
}

// Every field that is neither owned nor the morphology vector.
void copyScalars(cblob_runParams *p, const cblob_runParams *src) {
    p->connectivityType = src->connectivityType;
    p->keepThresholdedImage = src->keepThresholdedImage;
    p->keepMorphedThresholdedImage = src->keepMorphedThresholdedImage;
    p->keepMaskedAndThresholdedImage = src->keepMaskedAndThresholdedImage;
    p->keepBlobImages = src->keepBlobImages;
    p->connectivityCleanup = src->connectivityCleanup;
    p->minArea = src->minArea;
    p->computeSecondMoments = src->computeSecondMoments;
    p->computeTopology = src->computeTopology;
    p->keepMaskImage = src->keepMaskImage;
    p->thresh = src->thresh;
    p->highThresh = src->highThresh;
    p->invert = src->invert;
    p->segmentationType = src->segmentationType;
    p->mapSize = src->mapSize;
    p->threshMapSize = src->threshMapSize;
    p->scaleVal = src->scaleVal;
    p->softness = src->softness;
    p->softnessFixed = src->softnessFixed;
    p->lowTailPercent = src->lowTailPercent;
    p->highTailPercent = src->highTailPercent;
    p->highThreshPercent = src->highThreshPercent;
    p->lowThreshPercent = src->lowThreshPercent;
    p->threshPercent = src->threshPercent;
    p->isThreshPercent = src->isThreshPercent;
}

}  // namespace

extern "C" {

int32_t cblob_runParams_assign(cblob_runParams *p, const cblob_runParams *src) {
    // Three tables and two images, at most one entry each.
    cblob::Frame<5> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, src);
    if (p == src) return f.exit();
    CBLOB_FRAME_CHECK(f, !isUnbound(src->threshImage8) && !isUnbound(src->threshImage16),
                      cblob_err_threshImageUnbound);

    CBLOB_FRAME_TRY(f, cstd_vector_cblob_morphOp_assign(&p->morphOps, &src->morphOps));

    // Each table is copied with the length its block was made with, which
    // may differ from the count fields copied below; a table the source
    // lacks is released rather than kept with a count that is not its own.
    cblob::TableReplacement<uint8_t> map(&p->map, src->map, cblob::table::countOf(src->map));
    cblob::TableReplacement<uint8_t> threshMap8(&p->threshMap8, src->threshMap8,
                                                cblob::table::countOf(src->threshMap8));
    cblob::TableReplacement<uint16_t> threshMap16(&p->threshMap16, src->threshMap16,
                                                  cblob::table::countOf(src->threshMap16));
    cblob::ThreshImageReplacement image8(&p->threshImage8, src->threshImage8, 8, false);
    cblob::ThreshImageReplacement image16(&p->threshImage16, src->threshImage16, 16, false);
    CBLOB_FRAME_TRY(f, map.prepare(f));
    CBLOB_FRAME_TRY(f, threshMap8.prepare(f));
    CBLOB_FRAME_TRY(f, threshMap16.prepare(f));
    CBLOB_FRAME_TRY(f, image8.prepare(f));
    CBLOB_FRAME_TRY(f, image16.prepare(f));

    // Nothing below allocates.
    CBLOB_FRAME_TRY(f, map.commit());
    CBLOB_FRAME_TRY(f, threshMap8.commit());
    CBLOB_FRAME_TRY(f, threshMap16.commit());
    copyScalars(p, src);
    CBLOB_FRAME_TRY(f, image8.commit());
    CBLOB_FRAME_TRY(f, image16.commit());
    return f.exit();
}

}  // extern "C"
