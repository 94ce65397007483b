// Run statistics over the image rows: counts of runs by length or value and
// mean run lengths, for grey and binary images.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "core/frame.hpp"

namespace {

using cblob::rle::Run;

// Whether a run has the asked value: a grey run by its value byte; a binary
// run is background for value 0 and foreground for any other value.
bool hasValue(const Run &run, uint8_t value, bool grey) {
    return grey ? run.value == value : run.value == (value ? 1 : 0);
}

// Common frame of the four statistics: checks, the result 0 at once for an
// image without runs, else visit(run, grey) for every run of the image rows
// (never the sentinel rows) and finish() for the result.
template <class Result, class Visit, class Finish>
int32_t statistic(const cblob_imageRle *img, Result *out, Visit &&visit, Finish &&finish) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(img->constructed == 1);
    CBLOB_REQUIRE_ARG(out);
    if (img->numRuns == 0) {
        *out = 0;
        return 0;
    }
    if (!img->rows) return cblob_err_rleImageNoRows;
    const bool grey = img->isGrey != 0;
    for (int32_t y = 0; y < img->height; ++y) {
        cblob::rle::RowReader reader(*cblob::rle::imageRow(img, y), grey);
        Run run;
        while (reader.next(run)) visit(run, grey);
    }
    *out = finish();
    return 0;
}

double mean(double sum, int64_t count) { return count > 0 ? sum / static_cast<double>(count) : 0.0; }

}  // namespace

extern "C" {

int32_t cblob_imageRle_getNumRunsWithLength(const cblob_imageRle *img, int32_t length, int32_t *n) {
    int32_t count = 0;
    return statistic(
        img, n,
        [&](const Run &run, bool grey) {
            if (run.length == length && (grey || run.value == 1)) ++count;
        },
        [&] { return count; });
}

int32_t cblob_imageRle_getNumRunsWithValue(const cblob_imageRle *img, uint8_t value, int32_t *n) {
    int32_t count = 0;
    return statistic(
        img, n,
        [&](const Run &run, bool grey) {
            if (hasValue(run, value, grey)) ++count;
        },
        [&] { return count; });
}

int32_t cblob_imageRle_getAvgRunLength(const cblob_imageRle *img, double *avg) {
    // Binary images add up the foreground only, yet divide by every run.
    double sum = 0.0;
    return statistic(
        img, avg,
        [&](const Run &run, bool grey) {
            if (grey || run.value == 1) sum += run.length;
        },
        [&] { return mean(sum, img->numRuns); });
}

int32_t cblob_imageRle_getAvgRunLengthWithValue(const cblob_imageRle *img, uint8_t value, double *avg) {
    double sum = 0.0;
    int64_t count = 0;
    return statistic(
        img, avg,
        [&](const Run &run, bool grey) {
            if (!hasValue(run, value, grey)) return;
            sum += run.length;
            ++count;
        },
        [&] { return mean(sum, count); });
}

// The handle forms pass the value argument as its low 8 bits.
int32_t cblob_imageRlePtrh_getNumRunsWithLength(const cblob_imageRlePtrh *h, int32_t length, int32_t *n) {
    return cblob::rle::withImage(
        h, [&](cblob_imageRle *img) { return cblob_imageRle_getNumRunsWithLength(img, length, n); });
}

int32_t cblob_imageRlePtrh_getNumRunsWithValue(const cblob_imageRlePtrh *h, int32_t value, int32_t *n) {
    const auto low = static_cast<uint8_t>(value & 0xFF);
    return cblob::rle::withImage(
        h, [&](cblob_imageRle *img) { return cblob_imageRle_getNumRunsWithValue(img, low, n); });
}

int32_t cblob_imageRlePtrh_getAvgRunLength(const cblob_imageRlePtrh *h, double *avg) {
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) { return cblob_imageRle_getAvgRunLength(img, avg); });
}

int32_t cblob_imageRlePtrh_getAvgRunLengthWithValue(const cblob_imageRlePtrh *h, int32_t value, double *avg) {
    const auto low = static_cast<uint8_t>(value & 0xFF);
    return cblob::rle::withImage(
        h, [&](cblob_imageRle *img) { return cblob_imageRle_getAvgRunLengthWithValue(img, low, avg); });
}

}  // extern "C"
