// Building a new run-length image row by row for the derived-image
// operations (masking, sub-windows, combination, morphology).
#include "rle/derived_image.hpp"

#include <cstdint>

#include "rle/sentinel_rows.hpp"
#include "core/frame.hpp"

namespace cblob::rle {

namespace {

// Rows are polled for cancellation this often.
constexpr int32_t kPollRows = 32;

}  // namespace

int32_t newOwnedRecord(cblob_imageRle **img) {
    Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, img);
    *img = nullptr;
    cblob_imageRle *record = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cblob_imageRle)), &record));
    f.addMemory(&record, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(record));
    f.addObject<&cblob_imageRle_destruct>(record, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, newStorage(&record->data));  // the record releases it on failure
    *img = record;
    return f.exit();
}

int32_t deleteRecord(cblob_imageRle **img) {
    CBLOB_REQUIRE_ARG(img);
    if (!*img) return 0;
    const int32_t status = cblob_imageRle_destruct(*img);
    release(img);
    return status;
}

int32_t publishStorage(cblob_imageRle *img, int32_t offsetX, int32_t offsetY, int32_t width, int32_t height,
                       const cmath_xformPtrhConst *imageFromClient) {
    CBLOB_REQUIRE_ARG(img && img->data);
    img->offsetX = offsetX;
    img->offsetY = offsetY;
    img->width = width;
    img->height = height;
    img->numRuns = img->data->numRuns;
    img->isGrey = img->data->isGrey;
    img->rows = rowTable(img->data);
    return cmath_xformPtrhConst_assign(&img->imageFromClient, imageFromClient);
}

int32_t attachResult(cblob_imageRlePtrh *result, cblob_imageRle **img) {
    CBLOB_REQUIRE_ARG(result && img && *img);
    const int32_t status = cblob_imageRlePtrh_attach(result, *img);
    if (result->ptrh.shared == &(*img)->shared) *img = nullptr;
    return status;
}

int32_t StorageWriter::start(cblob_imageRleData_ *data, int32_t width, int32_t height, bool grey, bool wide,
                             int64_t runsPerRow) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, data);
    CBLOB_FRAME_TRY(f, resetStorage(data, height));
    data->isGrey = grey ? 1 : 0;
    data->isWide = wide ? 1 : 0;
    data_ = data;
    rows_ = rowTable(data);
    width_ = width;
    height_ = height;
    grey_ = grey;
    wide_ = wide;
    perRun_ = wide ? (grey ? kWideGreyRunBytes : kWideBinaryRunBytes) : (grey ? 2 : 1);
    // One run per pixel, the terminator, and room for the escaped length of a
    // sentinel row however narrow the image.
    rowSpace_ = (static_cast<int64_t>(width) + 4) * perRun_ + kEscapedLengthBytes;
    runsPerRow_ = runsPerRow > 0 ? runsPerRow : 1;
    const int64_t first = (runsPerRow_ * height + 2) * perRun_ + 2 * rowSpace_;
    CBLOB_FRAME_TRY(f, newBlock(data, nextBlockSize(first, rowSpace_), &block_));
    if (wide) {
        writeWideSentinelRow(block_.cursor, &rows_[0], width, grey);
    } else {
        writeSentinelRow(block_.cursor, &rows_[0], width, grey);
    }
    return f.exit();
}

int32_t StorageWriter::beginRow(int32_t y, RunWriter *writer, bool poll) {
    Frame<0> f;
    if (poll && y % kPollRows == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
    const int64_t estimate = runsPerRow_ * perRun_ * (static_cast<int64_t>(height_) - y + 1) + rowSpace_;
    CBLOB_FRAME_TRY(f, ensureSpace(data_, &block_, rowSpace_, nextBlockSize(estimate, rowSpace_)));
    rowStart_ = block_.cursor;
    *writer = RunWriter(block_.cursor, grey_, wide_);
    return f.exit();
}

int32_t StorageWriter::endRow(int32_t y, RunWriter *writer) {
    block_.cursor = writer->finish();
    cblob_rleRow &entry = rows_[y + 1];
    entry.runs = rowStart_;
    entry.numRuns = writer->runs();
    entry.startValue = writer->startValue();
    return addRunCount(data_, writer->runs());
}

int32_t StorageWriter::newRowBlock(int32_t y) {
    const int64_t estimate = runsPerRow_ * perRun_ * (static_cast<int64_t>(height_) - y + 1) + rowSpace_;
    return ensureSpace(data_, &block_, rowSpace_, nextBlockSize(estimate, rowSpace_));
}

int32_t StorageWriter::finish() {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, ensureSpace(data_, &block_, rowSpace_, rowSpace_));
    if (wide_) {
        writeWideSentinelRow(block_.cursor, &rows_[height_ + 1], width_, grey_);
    } else {
        writeSentinelRow(block_.cursor, &rows_[height_ + 1], width_, grey_);
    }
    return f.exit();
}

}  // namespace cblob::rle
