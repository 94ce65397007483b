// The argument checks of segmentation, in the order segment_image.hpp
// gives; they change nothing.
#include <cstdint>

#include "core/frame.hpp"
#include "segment/segment_image.hpp"

namespace cblob::seg {

namespace {

int32_t checkInput(const cimg_windowConst &window, int32_t bitsPerPel) {
    if (!window.pels) return cblob_err_imageUnbound;
    if (window.bitsPerPel != bitsPerPel) return cimg_err_badDepth;
    if (window.width < 0 || window.height < 0) return cimg_err_badGeometry;
    return 0;
}

int32_t checkMask(const cimg_windowConst &window, const cimg_windowConst *maskWindow, const cblob_imageRle *rleMask,
                  const uint8_t *const *torvMask, int32_t maskIsRleOrTorv) {
    if (maskIsRleOrTorv) {
        if (!torvMask && !rleMask) return cblob_err_maskMissing;
        if (torvMask) return 0;
        if (rleMask->constructed != 1 || !rleMask->rows) return cblob_err_rleImageNoRows;
        if (rleMask->width != window.width || rleMask->height != window.height) {
            return cblob_err_maskGeometryMismatch;
        }
        return 0;
    }
    if (!maskWindow) return 0;
    if (!maskWindow->pels) return cblob_err_maskUnbound;
    if (maskWindow->bitsPerPel != 8) return cimg_err_badDepth;
    if (maskWindow->width != window.width || maskWindow->height != window.height) {
        return cblob_err_maskGeometryMismatch;
    }
    return 0;
}

int32_t checkThreshImage(const cimg_windowConst &window, int32_t bitsPerPel, const cblob_runParams &p) {
    const cimg_imageConst *image = p.threshImage8;
    int32_t expectedBits = 8;
    if (bitsPerPel == 16 && p.threshImage16) {
        image = p.threshImage16;
        expectedBits = 16;
    }
    if (!image || !image->pels) return cblob_err_threshImageUnbound;
    if (image->bitsPerPel != expectedBits) return cimg_err_badDepth;
    if (image->width < window.width || image->height < window.height) return cimg_err_badGeometry;
    return 0;
}

}  // namespace

int32_t validateSegmentation(const cimg_windowConst *window8, const cimg_windowConst *window16,
                             const cimg_windowConst *maskWindow, const cblob_runParams *params,
                             const cblob_imageRle *rleMask, const uint8_t *const *torvMask, int32_t maskIsRleOrTorv) {
    CBLOB_REQUIRE_ARG((window8 != nullptr) != (window16 != nullptr));
    CBLOB_REQUIRE_ARG(params);
    // The type is written only by the setters: any other value is a broken object.
    CBLOB_REQUIRE_ARG(params->segmentationType >= cblob_segmentationHardThresh &&
                      params->segmentationType <= cblob_segmentationNone);
    const bool is8 = window8 != nullptr;
    const int32_t maxPel = is8 ? 255 : 65535;
    const int32_t type = params->segmentationType;

    if (type == cblob_segmentationNone && !is8) return cblob_err_noneNeeds8Bit;
    if (type == cblob_segmentationSoftThresh) {
        if (params->highThresh > maxPel) return cblob_err_badThreshRange;
        if (params->softness == maxPel) return cblob_err_badSoftness;
    }
    if ((type == cblob_segmentationHardThresh || type == cblob_segmentationSoftThresh) && params->thresh > maxPel) {
        return cblob_err_badThreshRange;
    }

    const cimg_windowConst &window = is8 ? *window8 : *window16;
    int32_t status = checkInput(window, is8 ? 8 : 16);
    if (CBLOB_FAILED(status)) return status;
    status = checkMask(window, maskWindow, rleMask, torvMask, maskIsRleOrTorv);
    if (CBLOB_FAILED(status)) return status;
    if (type == cblob_segmentationThreshImage) return checkThreshImage(window, is8 ? 8 : 16, *params);
    return 0;
}

}  // namespace cblob::seg
