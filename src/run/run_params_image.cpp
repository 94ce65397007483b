// Threshold image objects of the run parameters.
#include "run/run_params_image.hpp"

namespace cblob {

namespace {

int32_t constructUnbound(int32_t bitsPerPel, cimg_imageConst *image) {
    return bitsPerPel == 16 ? cimg_image16_construct(image) : cimg_image8_construct(image);
}

}  // namespace

int32_t newThreshImage(int32_t bitsPerPel, cimg_imageConst **image) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, image);
    cimg_imageConst *fresh = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cimg_imageConst)), &fresh));
    f.addMemory(&fresh, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, constructUnbound(bitsPerPel, fresh));
    *image = fresh;
    return f.exit();
}

int32_t deleteThreshImage(cimg_imageConst **image) {
    CBLOB_REQUIRE_ARG(image);
    if (!*image) return 0;
    const int32_t status = cimg_imageConst_destruct(*image);
    release(image);
    return status;
}

int32_t ThreshImageReplacement::commit() {
    if (!source_) return 0;
    if (fresh_) {
        *slot_ = fresh_;
        fresh_ = nullptr;
        return 0;
    }
    // An object that is already the source (a caller handing back the
    // object's own image) is left alone: destructing it would lose the source.
    if (*slot_ == source_) return 0;
    if (reconstruct_) {
        int32_t status = cimg_imageConst_destruct(*slot_);
        if (CBLOB_FAILED(status)) return status;
        status = constructUnbound(bitsPerPel_, *slot_);
        if (CBLOB_FAILED(status)) return status;
    }
    return cimg_imageConst_assign(*slot_, source_);
}

}  // namespace cblob
