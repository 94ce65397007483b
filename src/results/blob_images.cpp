// A blob's run-length image (held by the blob database, borrowing the
// blob's rows) and its rendering into an 8-bit image.
#include <cstdint>
#include <cstring>

#include "cblob/blob.h"
#include "cblob/image.h"
#include "cblob/result_set.h"
#include "core/frame.hpp"
#include "rle/row_access.hpp"

namespace {

// The database's image of the blob, made from the blob's rows when the
// database does not hold it yet (the image vector is grown to the blob
// count only while it holds no image that handles may refer to).
int32_t databaseImage(cblob_blob *blob, cblob_rleRow *rows, cblob_imageRle **image) {
    cblob::Frame<1> f;
    cblob_resultSet *rs = blob->owner;
    cblob_blobRleDb_ *db = rs->blobDb;
    CBLOB_FRAME_REQUIRE(f, db);
    int32_t size = 0;
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_imageRle_getSize(&db->images, &size));
    if (size < rs->numBlobs) {
        auto *images = static_cast<const cblob_imageRle *>(db->images.untyped.begin);
        for (int32_t i = 0; i < size; ++i) CBLOB_FRAME_REQUIRE(f, images[i].constructed != 1);
        CBLOB_FRAME_TRY(f, cstd_vector_cblob_imageRle_resize(&db->images, rs->numBlobs));
    }
    CBLOB_FRAME_REQUIRE(f, blob->label >= 1 && blob->label <= rs->numBlobs);
    cblob_imageRle *img = static_cast<cblob_imageRle *>(db->images.untyped.begin) + (blob->label - 1);
    cmath_xformPtrhConst imageFromClient;  // outlives the block: the frame releases it
    if (img->constructed != 1 || img->rows != rows) {
        CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&imageFromClient));
        f.addObject<&cmath_xformPtrhConst_destruct>(&imageFromClient, csys_cleanup_tempObject);
        CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getInverseConst(&rs->clientFromImage, &imageFromClient));
        CBLOB_FRAME_TRY(f, cblob_imageRle_initFromBlob(img, blob, &imageFromClient));
        int64_t runs = 0;
        for (int32_t y = 0; y < blob->boxHeight; ++y) runs += rows[y].numRuns;
        img->numRuns = runs > INT32_MAX ? INT32_MAX : static_cast<int32_t>(runs);
    }
    *image = img;
    return f.exit();
}

// Renders the blob's rows into the window: 1 on blob pixels, 0 elsewhere.
void renderRows(const cblob_rleRow *rows, bool grey, const cimg_window &w) {
    for (int32_t y = 0; y < w.height; ++y) {
        uint8_t *out = w.pels + static_cast<int64_t>(y) * w.strideBytes;
        std::memset(out, 0, static_cast<size_t>(w.width));
        cblob::rle::RowReader reader(rows[y], grey);
        cblob::rle::Run run;
        int64_t x = 0;
        while (x < w.width && reader.next(run)) {
            const int64_t end = x + run.length < w.width ? x + run.length : w.width;
            if (run.value != 0) std::memset(out + x, 1, static_cast<size_t>(end - x));
            x = end;
        }
    }
}

}  // namespace

extern "C" {

int32_t cblob_blob_getImageRle(cblob_blob *blob, cblob_imageRle **image) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, image);
    CBLOB_FRAME_REQUIRE(f, blob->owner);
    cblob_rleRow *rows = nullptr;
    CBLOB_FRAME_TRY(f, cblob_blob_getRleRows(blob, &rows));
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, databaseImage(blob, rows, &img));
    *image = img;
    return f.exit();
}

int32_t cblob_blob_getBlobImage(cblob_blob *blob, cimg_image *image) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, image);
    CBLOB_FRAME_REQUIRE(f, blob->owner);
    CBLOB_FRAME_CHECK(f, image->bitsPerPel == 8, cimg_err_badDepth);
    cblob_rleRow *rows = nullptr;
    CBLOB_FRAME_TRY(f, cblob_blob_getRleRows(blob, &rows));
    int32_t bound = 0;
    CBLOB_FRAME_TRY(f, cimg_image_getIsBound(image, &bound));
    if (!bound || image->width < blob->boxWidth || image->height < blob->boxHeight) {
        CBLOB_FRAME_TRY(f, cimg_image_assignNew(image, blob->boxWidth, blob->boxHeight));
        CBLOB_FRAME_TRY(f, cimg_image_setOrigin(image, blob->boxLeft, blob->boxTop));
    } else {
        const int64_t right = static_cast<int64_t>(blob->boxLeft) + blob->boxWidth;
        const int64_t bottom = static_cast<int64_t>(blob->boxTop) + blob->boxHeight;
        const bool inside = blob->boxLeft >= image->originX && blob->boxTop >= image->originY &&
                            right <= static_cast<int64_t>(image->originX) + image->width &&
                            bottom <= static_cast<int64_t>(image->originY) + image->height;
        CBLOB_FRAME_CHECK(f, inside, cblob_err_windowOutsideImage);
    }
    cimg_window window;
    CBLOB_FRAME_TRY(f, cimg_window_initWindow(&window, image, blob->boxLeft, blob->boxTop, blob->boxWidth,
                                              blob->boxHeight));
    renderRows(rows, blob->isGrey != 0, window);
    return f.exit();
}

}  // extern "C"
