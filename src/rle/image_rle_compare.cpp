// Equality of two run-length images.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

namespace {

using cblob::rle::Run;
using cblob::rle::RowReader;

// Two rows are equal when they have the same run count, the same start value
// when both are binary, and the same sequence of (value, length) runs; a grey
// row and a binary one compare by those decoded runs (binary values 0 and 1).
bool rowsEqual(const cblob_rleRow &a, bool greyA, const cblob_rleRow &b, bool greyB) {
    if (a.numRuns != b.numRuns) return false;
    if (!greyA && !greyB && (a.startValue != 0) != (b.startValue != 0)) return false;
    RowReader readerA(a, greyA);
    RowReader readerB(b, greyB);
    Run runA{};
    Run runB{};
    for (;;) {
        const bool moreA = readerA.next(runA);
        const bool moreB = readerB.next(runB);
        if (moreA != moreB) return false;
        if (!moreA) return true;
        if (runA.value != runB.value || runA.length != runB.length) return false;
    }
}

// Compares `count` row-table entries from the given first entries on.
bool tablesEqual(const cblob_rleRow *a, bool greyA, const cblob_rleRow *b, bool greyB, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (!rowsEqual(a[i], greyA, b[i], greyB)) return false;
    return true;
}

bool imagesEqual(const cblob_imageRle *a, const cblob_imageRle *b) {
    if (a == b) return true;
    if (a->data && a->data == b->data) return true;
    if (a->offsetX != b->offsetX || a->offsetY != b->offsetY || a->width != b->width || a->height != b->height)
        return false;
    if ((a->data != nullptr) != (b->data != nullptr)) return false;
    const bool greyA = a->isGrey != 0;
    const bool greyB = b->isGrey != 0;
    if (a->data) {
        // Owned storage: every entry, sentinel rows included.
        const int32_t entries = cblob::rle::rowCount(a->data);
        if (entries != cblob::rle::rowCount(b->data)) return false;
        if (entries < 3) return true;
        return tablesEqual(cblob::rle::rowTable(a->data), greyA, cblob::rle::rowTable(b->data), greyB, entries);
    }
    // Borrowed rows (or none on either side): the image rows by content.
    if (!a->rows || !b->rows) return !a->rows && !b->rows;
    return tablesEqual(a->rows, greyA, b->rows, greyB, a->height);
}

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_compareEqual(const cblob_imageRlePtrh *a, const cblob_imageRlePtrh *b, int32_t *equal) {
    CBLOB_REQUIRE_ARG(equal);
    return cblob::rle::withImage(a, [&](cblob_imageRle *imgA) {
        return cblob::rle::withImage(b, [&](cblob_imageRle *imgB) {
            *equal = imagesEqual(imgA, imgB) ? 1 : 0;
            return 0;
        });
    });
}

}  // extern "C"
