// The run-length image record's lifecycle: the lazy and the full
// constructor, init, clear and destruct.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

extern "C" {

int32_t cblob_imageRle_construct(cblob_imageRle *img) {
    CBLOB_REQUIRE_ARG(img);
    img->constructed = 0;
    return 0;
}

int32_t cblob_imageRle_construct_(cblob_imageRle *img) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, img);
    img->constructed = 0;
    CBLOB_FRAME_TRY(f, cstd_shared_initCustom(&img->shared, img, &cblob::rle::kImageSharedDescriptor));
    img->offsetX = 0;
    img->offsetY = 0;
    img->width = 0;
    img->height = 0;
    img->numRuns = 0;
    img->isGrey = 0;
    img->rows = nullptr;
    img->db = nullptr;
    img->data = nullptr;
    img->isBlobImage = 0;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&img->imageFromClient));
    f.addObject<&cmath_xformPtrhConst_destruct>(&img->imageFromClient, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cstd_ptrh_construct(&img->dbHandle.ptrh));
    img->constructed = 1;
    return f.exit();
}

int32_t cblob_imageRle_init(cblob_imageRle *img, int32_t offsetX, int32_t offsetY, int32_t width, int32_t height,
                            const cmath_xformPtrhConst *clientFromImage) {
    cblob::Frame<3> f;
    CBLOB_FRAME_REQUIRE(f, img);
    CBLOB_FRAME_REQUIRE(f, clientFromImage);
    CBLOB_FRAME_CHECK(f, width >= 0 && height >= 0, cstd_err_badRect);
    CBLOB_FRAME_CHECK(f, cblob::rle::extentFits(offsetX, width) && cblob::rle::extentFits(offsetY, height),
                      cstd_err_badRect);
    cmath_xformPtrhConst imageFromClient;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&imageFromClient));
    f.addObject<&cmath_xformPtrhConst_destruct>(&imageFromClient, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getInverseConst(clientFromImage, &imageFromClient));
    if (!img->constructed) {
        CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(img));
        f.addObject<&cblob_imageRle_destruct>(img, csys_cleanup_resultObject);
    }
    cblob_imageRleData_ *fresh = nullptr;
    if (!img->data) {
        CBLOB_FRAME_TRY(f, cblob::rle::newStorage(&fresh));
        f.addObject<&cblob::rle::deleteStorage>(&fresh, csys_cleanup_resultObject);
    }
    cblob_imageRleData_ *data = img->data ? img->data : fresh;
    if (f.fails(cblob::rle::resetStorage(data, height))) {
        // The record's own storage has lost its blocks: it keeps no rows.
        if (data == img->data) img->rows = nullptr;
        return f.exit();
    }
    img->data = data;
    img->offsetX = offsetX;
    img->offsetY = offsetY;
    img->width = width;
    img->height = height;
    img->numRuns = data->numRuns;
    img->isGrey = data->isGrey;
    img->rows = cblob::rle::rowTable(data);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&img->imageFromClient, &imageFromClient));
    return f.exit();
}

int32_t cblob_imageRle_clear(cblob_imageRle *img) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(img->constructed == 1);
    int32_t status = img->data ? cblob::rle::emptyStorage(img->data) : 0;
    img->rows = nullptr;
    img->db = nullptr;
    const int32_t xformStatus = cmath_xformPtrhConst_assignNull(&img->imageFromClient);
    if (!CBLOB_FAILED(status)) status = xformStatus;
    // Last: dropping the database reference may end the database.
    const int32_t dbStatus = cstd_ptrh_detach(&img->dbHandle.ptrh);
    return CBLOB_FAILED(status) ? status : dbStatus;
}

int32_t cblob_imageRle_destruct(cblob_imageRle *img) {
    CBLOB_REQUIRE_ARG(img);
    if (img->constructed != 1) return 0;
    // The database reference is dropped last: a blob's image lives inside
    // the database, which that reference may end.
    cstd_ptrh database = img->dbHandle.ptrh;
    img->dbHandle.ptrh.shared = nullptr;
    int32_t status = cblob::rle::deleteStorage(&img->data);
    img->rows = nullptr;
    img->db = nullptr;
    const int32_t xformStatus = cmath_xformPtrhConst_destruct(&img->imageFromClient);
    if (!CBLOB_FAILED(status)) status = xformStatus;
    img->constructed = 0;
    const int32_t dbStatus = cstd_ptrh_destruct(&database);
    return CBLOB_FAILED(status) ? status : dbStatus;
}

}  // extern "C"
