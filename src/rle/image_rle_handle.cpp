// The counted handle on run-length image records, the image deleter its last
// reference runs, and resolving a handle to its record.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "core/frame.hpp"

namespace {

// The image deleter: destructs the record when its last handle lets go, and
// frees it unless it lives in a blob database's array of images.
int32_t imageDeleter(void *owner) {
    auto *img = static_cast<cblob_imageRle *>(owner);
    const bool inDatabase = img->db != nullptr;
    const int32_t status = cblob_imageRle_destruct(img);
    if (!inDatabase) cblob::release(&img);
    return status;
}

}  // namespace

namespace cblob::rle {

const cstd_sharedDescriptor kImageSharedDescriptor = {nullptr, nullptr, &imageDeleter};

int32_t resolveHandle(const cblob_imageRlePtrh *h, int32_t nullStatus, cblob_imageRle **img) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(img);
    cstd_shared *shared = nullptr;
    const int32_t status = cstd_ptrh_getWholeShared(&h->ptrh, &shared);
    if (CBLOB_FAILED(status)) return status;
    if (!shared) return nullStatus;
    auto *record = static_cast<cblob_imageRle *>(shared->owner);
    CBLOB_REQUIRE_ARG(record->constructed == 1);
    *img = record;
    return 0;
}

}  // namespace cblob::rle

extern "C" {

int32_t cblob_imageRlePtrh_construct(cblob_imageRlePtrh *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_construct(&h->ptrh);
}

int32_t cblob_imageRlePtrh_constructCopy(cblob_imageRlePtrh *h, const cblob_imageRlePtrh *src) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(src);
    return cstd_ptrh_constructCopy(&h->ptrh, &src->ptrh);
}

int32_t cblob_imageRlePtrh_attach(cblob_imageRlePtrh *h, cblob_imageRle *img) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(img->constructed == 1);
    if (img->db && !img->dbHandle.ptrh.shared) {
        const int32_t status = cblob::rle::attachDatabase(img);
        if (CBLOB_FAILED(status)) return status;
    }
    return cstd_ptrh_assignShared(&h->ptrh, &img->shared);
}

int32_t cblob_imageRlePtrh_detach(cblob_imageRlePtrh *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_detach(&h->ptrh);
}

int32_t cblob_imageRlePtrh_assign(cblob_imageRlePtrh *h, const cblob_imageRlePtrh *src) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(src);
    return cstd_ptrh_assign(&h->ptrh, &src->ptrh);
}

int32_t cblob_imageRlePtrh_assignNull(cblob_imageRlePtrh *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_detach(&h->ptrh);
}

int32_t cblob_imageRlePtrh_destruct(cblob_imageRlePtrh *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_destruct(&h->ptrh);
}

int32_t cblob_imageRlePtrh_getIsNull(const cblob_imageRlePtrh *h, int32_t *isNull) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_getIsNull(&h->ptrh, isNull);
}

int32_t cblob_imageRlePtrh_getImageRle(const cblob_imageRlePtrh *h, cblob_imageRle **img) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(img);
    cstd_shared *shared = nullptr;
    const int32_t status = cstd_ptrh_getWholeShared(&h->ptrh, &shared);
    if (CBLOB_FAILED(status)) return status;
    *img = shared ? static_cast<cblob_imageRle *>(shared->owner) : nullptr;
    return 0;
}

}  // extern "C"
