// Pixel storage of images: fresh counted storage (assignNew) and buffers
// wrapped from the host application (initFromBuffer).
#include <cstddef>
#include <cstdint>

#include "cblob/image.h"
#include "host/image_internal.hpp"
#include "core/require.hpp"
#include "core/frame.hpp"

namespace {

// One heap block: the count, then the pixels at kPelOffset (16-byte aligned,
// as the block itself is).
struct PelStorage {
    cstd_shared shared;
};
constexpr int64_t kPelOffset = 32;
static_assert(sizeof(PelStorage) <= kPelOffset, "the pixels must follow the count");

int32_t destroyStorage(void *owner) {
    PelStorage *storage = static_cast<PelStorage *>(owner);
    return cblob::release(&storage);
}

const cstd_sharedDescriptor kStorageDescriptor = {&cstd_shared_increment_default, &cstd_shared_decrement_default,
                                                  &destroyStorage};

}  // namespace

extern "C" {

int32_t cimg_image_assignNew(cimg_image *img, int32_t width, int32_t height) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, img);
    CBLOB_FRAME_CHECK(f, cblob::img::depthIsValid(img->bitsPerPel), cimg_err_badDepth);
    CBLOB_FRAME_CHECK(f, width >= 0 && height >= 0, cimg_err_badGeometry);
    const int64_t rowBytes = static_cast<int64_t>(width) * cblob::img::bytesPerPel(img->bitsPerPel);
    CBLOB_FRAME_CHECK(f, rowBytes <= INT32_MAX, cimg_err_badGeometry);
    // rowBytes < 2^31 and height < 2^31, so the product cannot overflow.
    const int64_t bytes = rowBytes * height;
    CBLOB_FRAME_CHECK(f, bytes <= PTRDIFF_MAX - kPelOffset, cimg_err_badGeometry);

    PelStorage *storage = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocateClear(kPelOffset + bytes, &storage));
    const int32_t id = f.addMemory(&storage, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cstd_shared_initCustom(&storage->shared, storage, &kStorageDescriptor));
    // From here the image's handle owns the block. The swap drops the old
    // storage, whose release cannot undo the new reference.
    const int32_t swapped = cstd_ptrh_assignShared(&img->storage, &storage->shared);
    f.handOver(id);
    img->width = width;
    img->height = height;
    img->strideBytes = static_cast<int32_t>(rowBytes);
    img->pels = reinterpret_cast<uint8_t *>(storage) + kPelOffset;
    CBLOB_FRAME_TRY(f, swapped);
    return f.exit();
}

int32_t cimg_image_initFromBuffer(cimg_image *img, void *pixels, int32_t bitsPerPel, int32_t width, int32_t height,
                                  int32_t strideBytes, int32_t originX, int32_t originY) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(pixels);
    if (!cblob::img::depthIsValid(bitsPerPel)) return cimg_err_badDepth;
    if (width < 0 || height < 0) return cimg_err_badGeometry;
    const int64_t pelBytes = cblob::img::bytesPerPel(bitsPerPel);
    if (strideBytes < static_cast<int64_t>(width) * pelBytes) return cimg_err_badGeometry;
    if (strideBytes % pelBytes != 0 || reinterpret_cast<uintptr_t>(pixels) % static_cast<uintptr_t>(pelBytes) != 0)
        return cimg_err_badGeometry;
    const int32_t status = cstd_ptrh_detach(&img->storage);
    img->bitsPerPel = bitsPerPel;
    img->width = width;
    img->height = height;
    img->strideBytes = strideBytes;
    img->originX = originX;
    img->originY = originY;
    img->pels = static_cast<uint8_t *>(pixels);
    return CBLOB_FAILED(status) ? status : 0;
}

}  // extern "C"
