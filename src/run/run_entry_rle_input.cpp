// The runs whose input is a run-length image: cblob_runRle8_withRleMask,
// cblob_runRle8_withMask8 and cblob_runRle8_withTORVRleMask. With
// segmentation type 4 the image is labelled as it stands; with any other
// type it is rendered into an 8-bit image that the matching image run
// segments.
#include <cstdint>

#include "cblob/run.h"
#include "core/frame.hpp"
#include "run/run_entry_checks.hpp"
#include "run/run_pipeline.hpp"
#include "run/run_spares.hpp"

namespace {

// The kind of mask an entry point takes.
enum class MaskKind { rle, image, torv };

// The mask arguments of a run-length input run; at most the one of the
// entry point's kind is set.
struct Masks {
    const cblob_imageRlePtrh *rle = nullptr;
    const cimg_imageConst *image = nullptr;
    const uint8_t *const *torvRows = nullptr;
    const cstd_rect32 *torvRect = nullptr;
};

// The run-length input step, once the result set is cleared and holds the
// transform.
template <MaskKind Kind>
int32_t runLengthInputStep(const cblob_imageRlePtrh *image, const cmath_xformPtrhConst *clientFromImage,
                           const Masks &masks, cblob_runParams *runParams, cblob_resultSet *resultSet,
                           cblob::run::RunSpares *spares) {
    cblob::Frame<1> f;
    if (runParams->segmentationType == cblob_segmentationNone) {
        // The runs are the segmented input; each mask goes in its own place.
        cimg_windowConst maskWindow;
        const cimg_windowConst *maskWindowGiven = nullptr;
        if (Kind == MaskKind::image && masks.image) {
            CBLOB_FRAME_TRY(f, cimg_windowConst_init(&maskWindow, masks.image));
            maskWindowGiven = &maskWindow;
        }
        CBLOB_FRAME_TRY(f, cblob::run::runFrontEnd(nullptr, nullptr, image, clientFromImage, maskWindowGiven, masks.rle,
                                                   masks.torvRows, runParams, resultSet, spares));
        return f.exit();
    }
    // Any other segmentation needs pixels: the image is drawn into a new
    // 8-bit image (at its offset, with its transform) and run as an image.
    cimg_image rendered;
    CBLOB_FRAME_TRY(f, cimg_image_constructUnbound(&rendered, 8));
    f.addObject<&cimg_image_destruct>(&rendered, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getImage(image, &rendered));
    if constexpr (Kind == MaskKind::rle) {
        CBLOB_FRAME_TRY(f, cblob_run8_withRleMask(&rendered, masks.rle, runParams, resultSet));
    } else if constexpr (Kind == MaskKind::image) {
        CBLOB_FRAME_TRY(f, cblob_run8(&rendered, masks.image, runParams, resultSet));
    } else {
        CBLOB_FRAME_TRY(f, cblob_run8_withTORVRleMask(&rendered, masks.torvRows, masks.torvRect, runParams, resultSet));
    }
    return f.exit();
}

// A run-length input run: the input holds an image with rows, its
// client-from-image transform, the mask checks of the entry point's kind;
// then clear, transform, the run-length input step.
template <MaskKind Kind>
int32_t runRleInput(const cblob_imageRlePtrh *image, const Masks &masks, cblob_runParams *runParams,
                    cblob_resultSet *resultSet) {
    cblob::Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, image);
    CBLOB_FRAME_REQUIRE(f, Kind != MaskKind::torv || masks.torvRect);
    CBLOB_FRAME_REQUIRE(f, runParams);
    CBLOB_FRAME_REQUIRE(f, resultSet);
    cblob_imageRle *input = nullptr;
    CBLOB_FRAME_TRY(f, cblob::run::requireRleImage(image, &input));
    cmath_xformPtrhConst clientFromImage;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&clientFromImage));
    f.addObject<&cmath_xformPtrhConst_destruct>(&clientFromImage, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cblob_imageRle_getClientFromImageXform(input, &clientFromImage));
    if (Kind == MaskKind::rle && masks.rle) {
        cblob_imageRle *mask = nullptr;
        CBLOB_FRAME_TRY(f, cblob::run::requireRleImage(masks.rle, &mask));
        CBLOB_FRAME_CHECK(f, cblob::run::sameRect(cblob::run::rectOf(*mask), cblob::run::rectOf(*input)),
                          cblob_err_maskGeometryMismatch);
    }
    if (Kind == MaskKind::torv && masks.torvRows) {
        CBLOB_FRAME_CHECK(f, cblob::run::sameRect(*masks.torvRect, cblob::run::rectOf(*input)),
                          cblob_err_maskGeometryMismatch);
    }
    cblob::run::RunSpares spares;
    f.addObject<&cblob::run::releaseRunSpares>(&spares, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cblob::run::clearForRun(resultSet, &spares));
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&resultSet->clientFromImage, &clientFromImage));
    CBLOB_FRAME_TRY(f, runLengthInputStep<Kind>(image, &clientFromImage, masks, runParams, resultSet, &spares));
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_runRle8_withRleMask(const cblob_imageRlePtrh *image, const cblob_imageRlePtrh *mask,
                                  cblob_runParams *runParams, cblob_resultSet *resultSet) {
    Masks masks;
    masks.rle = mask;
    return runRleInput<MaskKind::rle>(image, masks, runParams, resultSet);
}

int32_t cblob_runRle8_withMask8(const cblob_imageRlePtrh *image, const cimg_imageConst *mask,
                                cblob_runParams *runParams, cblob_resultSet *resultSet) {
    Masks masks;
    masks.image = mask;
    return runRleInput<MaskKind::image>(image, masks, runParams, resultSet);
}

int32_t cblob_runRle8_withTORVRleMask(const cblob_imageRlePtrh *image, const uint8_t *const *maskRows,
                                      const cstd_rect32 *maskRect, cblob_runParams *runParams,
                                      cblob_resultSet *resultSet) {
    Masks masks;
    masks.torvRows = maskRows;
    masks.torvRect = maskRect;
    return runRleInput<MaskKind::torv>(image, masks, runParams, resultSet);
}

}  // extern "C"
