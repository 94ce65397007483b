// The band dispatcher: a single-threaded pass for small windows or one
// thread, otherwise one job per horizontal band on the job thread group and
// a join of the bands' buffers, in band order, between two sentinel rows.
#include "segment/band_dispatcher.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "cblob/job.h"
#include "rle/sentinel_rows.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"
#include "core/optimized.hpp"
#include "host/job_copy_params.hpp"

namespace cblob::seg {

namespace {

// Pixels and rows a band should carry at least.
constexpr uint64_t kBandPixels = 10000;
constexpr int32_t kBandRows = 4;
// The single-threaded pass's first buffer is at most this many 4-byte words.
constexpr int64_t kMaxFirstBufferWords = 10485760;

// The bands' own storages (buffers, sizes, run counts), released together.
struct BandStorages {
    cblob_imageRleData_ *items = nullptr;
    int32_t constructed = 0;
};

int32_t releaseBands(BandStorages *bands) {
    int32_t status = 0;
    for (int32_t b = bands->constructed - 1; b >= 0; --b) {
        const int32_t released = cblob_imageRleData__destruct(&bands->items[b]);
        if (!CBLOB_FAILED(status)) status = released;
    }
    bands->constructed = 0;
    const int32_t freed = release(&bands->items);
    return CBLOB_FAILED(status) ? status : freed;
}

int32_t constructBands(BandStorages *bands, int32_t count) {
    int32_t status =
        allocate(static_cast<int64_t>(count) * static_cast<int64_t>(sizeof(cblob_imageRleData_)), &bands->items);
    while (!CBLOB_FAILED(status) && bands->constructed < count) {
        status = cblob_imageRleData__construct(&bands->items[bands->constructed]);
        if (!CBLOB_FAILED(status)) ++bands->constructed;
    }
    return status;
}

// Appends a sentinel row in a buffer of its own to the storage.
int32_t appendSentinelRow(cblob_imageRleData_ *data, cblob_rleRow *entry, int32_t width, bool grey, bool wide) {
    const int64_t size = (wide ? 16 : 8) + (grey ? 2 : 0);
    uint8_t *buffer = nullptr;
    int32_t status = allocate(size, &buffer);
    if (CBLOB_FAILED(status)) return status;
    uint8_t *cursor = buffer;
    if (wide) {
        rle::writeWideSentinelRow(cursor, entry, width, grey);
    } else {
        rle::writeSentinelRow(cursor, entry, width, grey);
    }
    status = rle::addBlock(data, &buffer, size);  // frees the buffer when it fails
    if (CBLOB_FAILED(status)) entry->runs = nullptr;
    return status;
}

// Moves a band's buffers and sizes to the end of the storage's vectors and
// adds its run count; on failure the band keeps them.
int32_t takeBandBuffers(cblob_imageRleData_ *data, cblob_imageRleData_ *band) {
    if (static_cast<int64_t>(data->numRuns) + band->numRuns > INT32_MAX) return csys_err_badSize;
    const int64_t before = data->blocks.untyped.size;
    int32_t status = cstd_vector_cblob_rleData_Ptr_append(&data->blocks, &band->blocks);
    if (CBLOB_FAILED(status)) return status;
    status = cstd_vector32_append(&data->blockSizes, &band->blockSizes);
    if (CBLOB_FAILED(status)) {
        cstd_vector_cblob_rleData_Ptr_resize(&data->blocks, before);  // shrinking never fails
        return status;
    }
    // Shrinking never allocates; the band no longer owns the buffers.
    cstd_vector_cblob_rleData_Ptr_resize(&band->blocks, 0);
    cstd_vector32_resize(&band->blockSizes, 0);
    data->numRuns += band->numRuns;
    return 0;
}

// The banded pass: steps 4 and 5 of findRunsInBands.
int32_t runBands(const FindInputs &in, const RunFinder &finder, int32_t bands, const csys_jobThreadGroup *group,
                 cblob_imageRleData_ *data, cblob_rleRow *table) {
    Frame<4> f;
    const bool grey = finder.grey != 0;
    const bool wide = in.wide != 0;
    const int64_t perRun = bytesPerRun(grey, wide);
    const int32_t bandRows = in.numRows / bands;

    uint8_t *scratch = nullptr;
    if (in.mask.kind == MaskKind::rle || in.mask.kind == MaskKind::torv) {
        CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(bands) * in.width, &scratch));
        f.addMemory(&scratch, csys_cleanup_tempMemory);
    }
    BandStorages storages;
    f.addObject<&releaseBands>(&storages, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, constructBands(&storages, bands));
    csys_jobRequestSet requests;
    CBLOB_FRAME_TRY(f, csys_jobRequestSet_construct(&requests));
    f.addObject<&csys_jobRequestSet_destruct>(&requests, csys_cleanup_tempObject);
    csys_jobResultSet results;
    CBLOB_FRAME_TRY(f, csys_jobResultSet_construct(&results));
    f.addObject<&csys_jobResultSet_destruct>(&results, csys_cleanup_tempObject);

    const int64_t firstBuffer = std::max(static_cast<int64_t>(in.runsPerRow) * perRun * bandRows + 1,
                                         (static_cast<int64_t>(in.width) + 4) * perRun);
    for (int32_t b = 0; b < bands; ++b) {
        const int32_t first = b * bandRows;
        BandJob job;
        job.in = in;
        job.in.numRows = b < bands - 1 ? bandRows : in.numRows - first;
        job.in.pixels = in.pixels + first * in.pixelStride;
        if (in.threshPixels) job.in.threshPixels = in.threshPixels + first * in.threshStride;
        if (in.mask.window) job.in.mask.window = in.mask.window + first * in.mask.windowStride;
        if (in.mask.rleRows) job.in.mask.rleRows = in.mask.rleRows + first;
        if (in.mask.torvRows) job.in.mask.torvRows = in.mask.torvRows + first;
        if (scratch) job.in.scratch = scratch + static_cast<int64_t>(b) * in.width;
        job.in.rows = table + 1 + first;
        job.storage = &storages.items[b];
        CBLOB_FRAME_TRY(f, rle::newBlock(job.storage, firstBuffer, &job.block));
        CBLOB_FRAME_TRY(f, addJobWithCopy(&requests, finder.band, job));
    }
    CBLOB_FRAME_TRY(f, csys_jobThreadGroup_dispatchAndWait(group, &requests, &results));

    CBLOB_FRAME_TRY(f, appendSentinelRow(data, &table[0], in.width, grey, wide));
    for (int32_t b = 0; b < bands; ++b) CBLOB_FRAME_TRY(f, takeBandBuffers(data, &storages.items[b]));
    CBLOB_FRAME_TRY(f, appendSentinelRow(data, &table[in.numRows + 1], in.width, grey, wide));
    return f.exit();
}

// The whole pass, on one thread or in bands.
int32_t findRuns(const FindInputs &all, const RunFinder &finder, cblob_imageRleData_ *data) {
    Frame<1> f;
    const int32_t height = all.numRows;
    if (rle::rowCount(data) != height + 2) {
        CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleRow_resize(&data->rows, static_cast<int64_t>(height) + 2));
    }
    cblob_rleRow *table = rle::rowTable(data);
    FindInputs in = all;
    in.rows = table + 1;
    in.inhibitHook = currentInhibitHook();
    data->numRows = height;
    data->numRuns = 0;
    data->isGrey = finder.grey ? 1 : 0;
    data->isWide = in.wide ? 1 : 0;

    csys_jobThreadGroup group;
    CBLOB_FRAME_TRY(f, csys_jobThreadGroup_construct(&group));
    f.addObject<&csys_jobThreadGroup_destruct>(&group, csys_cleanup_tempObject);
    int32_t threads = 1;
    CBLOB_FRAME_TRY(f, csys_jobGetCurrentThreadState(&threads, &group));
    const int32_t bands = bandCount(in.width, height, threads);

    if (bands == 1 || !finder.band) {
        const int64_t perRun = bytesPerRun(finder.grey != 0, in.wide != 0);
        const int64_t words =
            std::min(((static_cast<int64_t>(in.runsPerRow) * height + 4) * perRun + 7) / 4, kMaxFirstBufferWords);
        rle::WriteBlock block;
        CBLOB_FRAME_TRY(f, rle::newBlock(data, words * 4, &block));
        CBLOB_FRAME_TRY(f, finder.single(&in, data, &block));
    } else {
        CBLOB_FRAME_TRY(f, runBands(in, finder, bands, &group, data, table));
    }
    return f.exit();
}

}  // namespace

int32_t bandCount(int32_t width, int32_t height, int32_t threads) {
    // 64-bit pixel count: the same answer as 32 bits wherever that does not wrap.
    const uint64_t pixels = static_cast<uint64_t>(std::max(width, 0)) * static_cast<uint64_t>(std::max(height, 0));
    int64_t t = std::max(threads, 1);
    if (pixels / kBandPixels < static_cast<uint64_t>(t))
        t = std::max<int64_t>(1, static_cast<int64_t>(pixels / kBandPixels));
    if (height / t < kBandRows && height / kBandRows < t) t = std::max<int64_t>(1, height / kBandRows);
    return static_cast<int32_t>(t);
}

int32_t findRunsInBands(const FindInputs &in, const RunFinder &finder, cblob_imageRle *out) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(out->data);
    CBLOB_REQUIRE_ARG(finder.single);
    CBLOB_REQUIRE_ARG(in.width >= 0 && in.numRows >= 0);
    cblob_imageRleData_ *data = out->data;
    const int32_t status = findRuns(in, finder, data);
    if (CBLOB_FAILED(status)) {
        // Rows of failed bands point into buffers released with the bands:
        // leave a table of empty rows rather than dangling pointers.
        const int64_t entries = rle::rowCount(data);
        if (entries > 0) std::memset(rle::rowTable(data), 0, static_cast<size_t>(entries) * sizeof(cblob_rleRow));
        data->numRuns = 0;
    }
    out->numRuns = data->numRuns;
    out->isGrey = data->isGrey;
    out->rows = rle::rowTable(data);
    return status;
}

}  // namespace cblob::seg
