// Internals shared by the run-length image files: the record's shared-count
// descriptor, resolving a handle to its record, the hooks for rows borrowed
// from the blob database, and the row renderer.
#ifndef CBLOB_RLE_IMAGE_RLE_INTERNAL_HPP
#define CBLOB_RLE_IMAGE_RLE_INTERNAL_HPP

#include <cstdint>

#include "cblob/image.h"
#include "cblob/rle_image.h"

namespace cblob::rle {

// The descriptor of every record's `shared` count: default counting, and
// the image deleter as destroy function.
extern const cstd_sharedDescriptor kImageSharedDescriptor;

// *img = the constructed record h refers to; `nullStatus` for a null handle.
// A record that is not constructed is an assert.
int32_t resolveHandle(const cblob_imageRlePtrh *h, int32_t nullStatus, cblob_imageRle **img);

// Runs fn(record) on the record h refers to; cblob_err_nullRleImage for a
// null handle.
template <class Fn>
int32_t withImage(const cblob_imageRlePtrh *h, Fn &&fn) {
    cblob_imageRle *img = nullptr;
    const int32_t status = resolveHandle(h, cblob_err_nullRleImage, &img);
    return CBLOB_FAILED(status) ? status : fn(img);
}

// Whether offset + size stays within 32 bits (size >= 0).
inline bool extentFits(int32_t offset, int32_t size) { return static_cast<int64_t>(offset) + size <= INT32_MAX; }

// Whether the window (x, y, width, height) lies wholly inside the image.
inline bool windowInsideImage(int64_t x, int64_t y, int32_t width, int32_t height, const cimg_image &image) {
    return x >= image.originX && y >= image.originY && x + width <= static_cast<int64_t>(image.originX) + image.width &&
           y + height <= static_cast<int64_t>(image.originY) + image.height;
}

// Takes a reference on the database whose rows img borrows (img->db) into
// img->dbHandle.
int32_t attachDatabase(cblob_imageRle *img);

// Copies the rows src borrows from the blob database into new owned storage
// *data of the same format, with sentinel rows.
int32_t copyBorrowedRows(cblob_imageRleData_ **data, const cblob_imageRle *src);

// Draws the image rows of img into the window w, which has the image's size:
// each run writes map[value] (binary rows: map[0] background, map[1]
// foreground; the caller has checked mapSize >= 2) over its length unless
// that output equals `transparent` (-1: nothing is transparent); after the
// last run of a binary row the rest of the row gets map[0] unless that is
// transparent. Runs never write past the window row. cblob_err_badMapSize for
// a grey value not below mapSize, the rows drawn so far staying drawn.
int32_t renderRows(const cblob_imageRle *img, const cimg_window &w, const uint8_t *map, int32_t mapSize,
                   int32_t transparent);

}  // namespace cblob::rle

#endif
