// Copies of run-length image records: assign, constructCopy and
// constructDeepCopy.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

namespace {

// Makes the constructed dst a copy of the constructed src. The new storage
// is built first, so a failure leaves dst as it was. Rows src borrows from
// the blob database are shared, or with `deep` copied into owned storage.
int32_t copyInto(cblob_imageRle *dst, const cblob_imageRle *src, bool deep) {
    cblob::Frame<1> f;
    cblob_imageRleData_ *copy = nullptr;
    if (src->data) {
        CBLOB_FRAME_TRY(f, cblob::rle::newStorageCopy(&copy, src->data));
        f.addObject<&cblob::rle::deleteStorage>(&copy, csys_cleanup_tempObject);
    } else if (src->rows && deep) {
        CBLOB_FRAME_TRY(f, cblob::rle::copyBorrowedRows(&copy, src));
        f.addObject<&cblob::rle::deleteStorage>(&copy, csys_cleanup_tempObject);
    }
    CBLOB_FRAME_TRY(f, cblob_imageRle_clear(dst));
    CBLOB_FRAME_TRY(f, cblob::rle::deleteStorage(&dst->data));
    dst->offsetX = src->offsetX;
    dst->offsetY = src->offsetY;
    dst->width = src->width;
    dst->height = src->height;
    dst->numRuns = src->numRuns;
    dst->isGrey = src->isGrey;
    dst->db = nullptr;
    dst->data = nullptr;
    dst->isBlobImage = 0;
    if (copy) {
        dst->data = copy;
        copy = nullptr;  // dst owns it now: the cleanup entry finds null
        dst->rows = cblob::rle::rowTable(dst->data);
    } else if (src->rows) {
        CBLOB_FRAME_TRY(f, cstd_ptrh_assign(&dst->dbHandle.ptrh, &src->dbHandle.ptrh));
        dst->db = src->db;
        dst->rows = src->rows;
    }
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&dst->imageFromClient, &src->imageFromClient));
    return f.exit();
}

// constructCopy and constructDeepCopy: raw dst, a copy of src or, for a src
// that is not constructed, not constructed itself.
int32_t constructAsCopy(cblob_imageRle *dst, const cblob_imageRle *src, bool deep) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, dst);
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, dst != src);
    dst->constructed = 0;
    if (src->constructed != 1) return f.exit();
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(dst));
    f.addObject<&cblob_imageRle_destruct>(dst, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, copyInto(dst, src, deep));
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_imageRle_assign(cblob_imageRle *dst, const cblob_imageRle *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, dst);
    CBLOB_FRAME_REQUIRE(f, src);
    if (dst == src) return f.exit();
    if (src->constructed != 1) {
        // Release what dst held rather than leak it, then mark it empty.
        CBLOB_FRAME_TRY(f, cblob_imageRle_destruct(dst));
        dst->constructed = 0;
        return f.exit();
    }
    if (dst->constructed != 1) {
        CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(dst));
        f.addObject<&cblob_imageRle_destruct>(dst, csys_cleanup_resultObject);
    }
    CBLOB_FRAME_TRY(f, copyInto(dst, src, false));
    return f.exit();
}

int32_t cblob_imageRle_constructCopy(cblob_imageRle *dst, const cblob_imageRle *src) {
    return constructAsCopy(dst, src, false);
}

int32_t cblob_imageRle_constructDeepCopy(cblob_imageRle *dst, const cblob_imageRle *src) {
    return constructAsCopy(dst, src, true);
}

}  // extern "C"
