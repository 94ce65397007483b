// The one template every run finder is generated from: a row loop over a
// kernel policy, wrapped as a single-threaded finder and as a band job.
//
// A kernel policy K provides
//   static constexpr bool kGrey;      grey rows (else binary)
//   static constexpr bool kMasked;    the loop supplies a mask row per row
//   static int32_t prepare(const FindInputs &in, bool singleThreaded, K *k);
//       resolves what the rows need (once per finder call, never per row);
//       may decline with cprt_err_optimizationInhibited before anything is
//       written
//   void row(uint8_t **cursor, const uint8_t *pixels, const uint8_t *threshRow,
//            const uint8_t *mask, const FindInputs &in, int32_t *numRuns,
//            uint8_t *startValue) const;
//       encodes one row (terminator included) at *cursor and advances it
// Included only by the family sources, which instantiate it with their own
// policies.
#ifndef CBLOB_SEGMENT_RUN_FINDER_CORE_HPP
#define CBLOB_SEGMENT_RUN_FINDER_CORE_HPP

#include <algorithm>
#include <cstdint>

#include "cblob/job.h"
#include "rle/sentinel_rows.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"
#include "segment/run_finder.hpp"

namespace cblob::seg::core {

// Writes a sentinel row (one background run over the width, and its
// terminator) of the row kind at *block, starting a buffer of exactly its
// size in `data` when the current one has too little room left.
template <bool Grey>
int32_t writeSentinel(cblob_imageRleData_ *data, rle::WriteBlock *block, cblob_rleRow *entry, int32_t width,
                      int32_t wide) {
    const int32_t bytes = wide ? rle::wideSentinelRowBytes(Grey) : rle::sentinelRowBytes(width, Grey);
    const int32_t status = rle::ensureSpace(data, block, bytes, bytes);
    if (CBLOB_FAILED(status)) return status;
    if (wide) {
        rle::writeWideSentinelRow(block->cursor, entry, width, Grey);
    } else {
        rle::writeSentinelRow(block->cursor, entry, width, Grey);
    }
    return 0;
}

// Encodes in's rows with kernel k, starting at *block; new buffers go to
// `sink`. *numRuns gets the runs written (also the rows done before a
// failure). Poll: ask the attention check before rows 0, 32, 64, ...
template <class K, bool Poll>
int32_t encodeRows(const K &k, const FindInputs &in, cblob_imageRleData_ *sink, rle::WriteBlock *block,
                   int64_t *numRuns) {
    int32_t status = 0;
    const int64_t perRun = bytesPerRun(K::kGrey, in.wide != 0);
    const int64_t rowSpace = (static_cast<int64_t>(in.width) + 4) * perRun;
    const int64_t perRowEstimate = static_cast<int64_t>(in.runsPerRow) * perRun;
    const uint8_t *pixels = in.pixels;
    const uint8_t *threshRow = in.threshPixels;
    cblob_rleRow *entry = in.rows;
    uint8_t *cursor = block->cursor;
    const uint8_t *end = block->start + block->size;
    int64_t runs = 0;
    for (int32_t y = 0; y < in.numRows; ++y, ++entry) {
        if (Poll && (y & kPollRowMask) == 0) {
            status = csys_attention_check();
            if (CBLOB_FAILED(status)) break;
        }
        if (end - cursor < rowSpace) {
            status = rle::newBlock(sink, rle::nextBlockSize(perRowEstimate * (in.numRows - y) + 1, rowSpace), block);
            if (CBLOB_FAILED(status)) break;
            cursor = block->cursor;
            end = block->start + block->size;
        }
        const uint8_t *mask = K::kMasked ? maskRow(in, y) : nullptr;
        entry->runs = cursor;
        int32_t rowRuns = 0;
        uint8_t start = 0;
        k.row(&cursor, pixels, threshRow, mask, in, &rowRuns, &start);
        entry->numRuns = rowRuns;
        entry->startValue = start;
        runs += rowRuns;
        pixels += in.pixelStride;
        if (threshRow) threshRow += in.threshStride;
    }
    block->cursor = cursor;
    *numRuns = runs;
    return CBLOB_FAILED(status) ? status : 0;
}

template <class K>
int32_t findSingle(const FindInputs *in, cblob_imageRleData_ *data, rle::WriteBlock *block) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, in && data && block && in->rows);
    K k;
    CBLOB_FRAME_TRY(f, K::prepare(*in, true, &k));
    CBLOB_FRAME_TRY(f, writeSentinel<K::kGrey>(data, block, in->rows - 1, in->width, in->wide));
    int64_t runs = 0;
    const int32_t status = encodeRows<K, true>(k, *in, data, block, &runs);
    CBLOB_FRAME_TRY(f, rle::addRunCount(data, runs));
    CBLOB_FRAME_TRY(f, status);
    CBLOB_FRAME_TRY(f, writeSentinel<K::kGrey>(data, block, in->rows + in->numRows, in->width, in->wide));
    return f.exit();
}

template <class K>
int32_t findBand(const csys_jobParams *params, csys_jobResult * /*result*/) {
    Frame<0> f;
    const void *block = nullptr;
    CBLOB_FRAME_TRY(f, csys_jobParams_getDataConst(params, &block));
    const BandJob &job = *static_cast<const BandJob *>(block);
    K k;
    CBLOB_FRAME_TRY(f, K::prepare(job.in, false, &k));
    rle::WriteBlock cursor = job.block;
    int64_t runs = 0;
    const int32_t status = encodeRows<K, false>(k, job.in, job.storage, &cursor, &runs);
    job.storage->numRuns = 0;
    CBLOB_FRAME_TRY(f, rle::addRunCount(job.storage, runs));
    CBLOB_FRAME_TRY(f, status);
    return f.exit();
}

// The finder of policy K.
template <class K>
RunFinder finderOf() {
    RunFinder finder;
    finder.single = &findSingle<K>;
    finder.band = &findBand<K>;
    finder.grey = K::kGrey ? 1 : 0;
    return finder;
}

}  // namespace cblob::seg::core

#endif
