// Finishing a region of the standard connectivity scan into a cblob_blob:
// area, centre of mass, box, central second moments and principal axes,
// mapped into the client frame, and the region's place in the blob tree.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "connect/blob_moments.hpp"
#include "connect/blob_record.hpp"
#include "connect/region_tree.hpp"
#include "connect/scan_state.hpp"
#include "core/frame.hpp"

namespace cblob::connect::scan {

namespace {

// A region with at least this many children, which are also at least a
// quarter of the blobs the scan has finished, gives its children their new
// parent in one pass over those blob records rather than through its child
// list. On noisy images one region can enclose nearly every other blob (a
// million holes in 16 megapixels), finished long ago: the list visits them
// in enclosure order with a cache miss each, the pass reads the blocks in
// address order, which the hardware prefetches, for at most four records
// a child.
constexpr int32_t kChildrenForBlockPass = 256;

// Blob records are written in order into blocks that outgrow the caches on
// images with many blobs, and each record spans five cache lines; the
// first store into a line that is not in the cache waits for it, and a
// finish writes five. Asking for the lines of the record kPrefetchAhead
// places on, with the intent to write, overlaps those waits with the
// finishes in between (about 6 % of the whole run on single-pixel noise).
constexpr int32_t kPrefetchAhead = 8;

void prefetchRecordForWrite(const cblob_blob *record) {
    const char *bytes = reinterpret_cast<const char *>(record);
    for (size_t line = 0; line < sizeof(cblob_blob); line += 64) __builtin_prefetch(bytes + line, 1, 3);
}

// Repoints every blob record of `blocks` from index `first` to `end` (the
// records finished before `blob`) whose parent is `working` to `blob`;
// returns how many there were.
int32_t reparentInSpan(const BlobBlocks *blocks, int32_t first, int32_t end, const cblob_blob_internal_ *working,
                       cblob_blob *blob) {
    int32_t found = 0;
    for (int32_t index = first; index < end;) {
        const int32_t offset = index % CBLOB_BLOB_BLOCK_CAPACITY;
        const int32_t inBlock = CBLOB_BLOB_BLOCK_CAPACITY - offset < end - index ? CBLOB_BLOB_BLOCK_CAPACITY - offset
                                                                                  : end - index;
        cblob_blob *record = getBlock(blocks, index / CBLOB_BLOB_BLOCK_CAPACITY) + offset;
        for (cblob_blob *const stop = record + inBlock; record != stop; ++record) {
            if (record->parent == static_cast<const void *>(working)) {
                record->parent = blob;
                ++found;
            }
        }
        index += inBlock;
    }
    return found;
}

// The blobs a block pass looks at: those this scan finished, or, in the
// seam join, every band's.
int64_t finishedBlobs(const ScanState &st) {
    if (!st.spans) return static_cast<int64_t>(*st.numBlobs) - st.firstBlobIndex;
    int64_t total = 0;
    for (int32_t s = 0; s < st.spanCount; ++s) total += *st.spans[s].count;
    return total;
}

int32_t reparentInBlocks(const ScanState &st, const cblob_blob_internal_ *working, cblob_blob *blob) {
    if (!st.spans) return reparentInSpan(*st.blobBlocks, st.firstBlobIndex, *st.numBlobs, working, blob);
    int32_t found = 0;
    for (int32_t s = 0; s < st.spanCount; ++s) {
        found += reparentInSpan(*st.spans[s].blocks, 0, *st.spans[s].count, working, blob);
    }
    return found;
}

// Writes [index] = value into a table that doubles when index does not fit.
int32_t setDoublingEntry(cstd_vector32s *table, int32_t index, int32_t value) {
    int32_t size = 0;
    int32_t status = cstd_vector32s_getSize(table, &size);
    if (!CBLOB_FAILED(status) && index >= size) {
        int64_t grown = size > 0 ? 2 * static_cast<int64_t>(size) : 1;
        if (grown <= index) grown = static_cast<int64_t>(index) + 1;
        status = cstd_vector32s_resize(table, grown);
    }
    int32_t *entries = nullptr;
    if (!CBLOB_FAILED(status)) status = cstd_vector32s_getBegin(table, &entries);
    if (!CBLOB_FAILED(status)) entries[index] = value;
    return status;
}


// What finishing computes of a region before it writes the record: area,
// centre of mass and central moments, first in window coordinates, then in
// the client frame.
struct RegionStatistics {
    double area = 0.0;
    double cx = 0.0, cy = 0.0;  // centre of mass, image coordinates
    Moments m;
};

// Statistics source: holes of the weighted scan with fill cleanup use their
// pixel count and unweighted sums; everything else the mass and the
// (weighted) sums. The centre of mass of pixel (x, y) is (x + 0.5, y + 0.5):
// Sx and Sy below are the sums of those centres. A region without mass has
// its box centre.
RegionStatistics regionStatistics(const ScanState &st, const cblob_blob_internal_ &region) {
    const bool hole = region.colour == 0;
    const bool plain = hole && st.plainSums;
    const double n = static_cast<double>(plain ? region.pixelCount : region.mass);
    const double sumX = plain ? region.plainSumX : region.sumX;
    const double sumY = plain ? region.plainSumY : region.sumY;
    RegionStatistics out;
    out.area = hole || st.scaleVal == 1.0 ? n : n / st.scaleVal;  // n / 1 is n
    double mx = region.left + region.width / 2.0;
    double my = region.top + region.height / 2.0;
    if (n > 0.0) {
        const double sx = sumX / 2.0;
        const double sy = sumY + n / 2.0;
        mx = sx / n;
        my = sy / n;
        if (st.moments) {
            out.m.xx = (plain ? region.plainSumXX : region.sumXX) / 3.0 - mx * sx;
            out.m.yy = (plain ? region.plainSumYY : region.sumYY) / 3.0 - my * sy;
            out.m.xy = (plain ? region.plainSumXY : region.sumXY) / 4.0 - my * sx;
        }
    }
    out.cx = mx + st.originX;
    out.cy = my + st.originY;
    return out;
}

// Maps the statistics into the client frame: nothing is mapped or scaled
// without a transform or with the identity. A non-linear transform gives the
// region its own local linear approximation, kept in the result set's
// transform blocks; *clientXform is then that entry.
int32_t mapToClient(const ScanState &st, RegionStatistics *stats, cmath_xformLinear **clientXform) {
    if (st.xformKind == ScanXformKind::none || st.xformIsIdentity) return 0;
    cmath_matrix l{};
    double areaFactor = 1.0;
    if (st.xformKind == ScanXformKind::linear) {
        l = st.linear.matrix;
        areaFactor = st.linearAreaFactor;
        const int32_t status = cmath_xformLinear_mapPoint(&st.linear, stats->cx, stats->cy, &stats->cx, &stats->cy);
        if (CBLOB_FAILED(status)) return status;
    } else {
        cmath_xformLinear local;
        int32_t status = cmath_xformPtrhConst_getLinear(st.xform, stats->cx, stats->cy, &local);
        if (!CBLOB_FAILED(status)) status = cmath_xformPtrhConst_mapPoint(st.xform, stats->cx, stats->cy, &stats->cx,
                                                                          &stats->cy);
        cmath_xformLinear *entry = nullptr;
        if (!CBLOB_FAILED(status)) status = takeXformSlot(st.rs->xformBlocks, &entry);
        if (CBLOB_FAILED(status)) return status;
        *entry = local;
        *clientXform = entry;
        status = commitXformSlot(st.rs->xformBlocks);
        if (CBLOB_FAILED(status)) return status;
        l = local.matrix;
        areaFactor = std::fabs(determinant(l));
    }
    stats->area *= areaFactor;
    stats->m = mapMoments(stats->m, l, areaFactor);
    return 0;
}

// Writes every field of the record but the tree links (no clearing pass
// over the record first).
void writeRecord(const ScanState &st, const cblob_blob_internal_ &region, const RegionStatistics &stats,
                 cmath_xformLinear *clientXform, int32_t label, cblob_blob *b) {
    b->nodeKind = &cblob_blob_external_vtable_;
    b->owner = st.rs;
    b->adjacencyHolder = nullptr;
    b->clientFromImage = clientXform;
    b->cachedRuns = nullptr;
    b->label = label;
    b->colour = region.colour;
    b->boxLeft = region.left + st.originX;
    b->boxTop = region.top + st.originY;
    b->boxWidth = region.width;
    b->boxHeight = region.height;
    b->boxCenterX = b->boxLeft + b->boxWidth / 2.0;
    b->boxCenterY = b->boxTop + b->boxHeight / 2.0;
    b->boxAspect = region.width > 0 ? static_cast<double>(region.height) / region.width : 0.0;
    b->isGrey = st.weighted ? 1 : 0;
    b->area = stats.area;
    b->centerOfMassX = stats.cx;
    b->centerOfMassY = stats.cy;
    if (st.moments) {
        setPrincipalAxes(b, stats.m);
    } else {
        b->momentsValid = 0;
        b->inertiaX = b->inertiaY = b->inertiaMin = b->inertiaMax = b->elongation = b->angle = 0.0;
    }
}

// The record takes the region's place in the blob tree (its children get
// it as their parent), or gets no links when the run keeps no tree.
void linkIntoTree(const ScanState &st, cblob_blob_internal_ *region, cblob_blob *b) {
    if (!st.keepTree) {
        b->parent = nullptr;
        b->firstChild = b->lastChild = b->nextSibling = b->prevSibling = nullptr;
        b->curFirstChild = b->curLastChild = b->curNextSibling = b->curPrevSibling = nullptr;
        b->numChildren = b->curNumChildren = 0;
        return;
    }
    const int32_t children = region->childCount;
    const int64_t finishedInScan = finishedBlobs(st);
    const bool blockPass = children >= kChildrenForBlockPass && static_cast<int64_t>(children) * 4 >= finishedInScan;
    // The pass finds every child when all of them are blob records of this
    // scan, as they are when a region is finished; anything else takes the
    // list walk, which repoints the rest.
    handOverPlace(region, b, !blockPass || reparentInBlocks(st, region, b) != children);
    if (b->parent == static_cast<void *>(st.outer)) b->parent = nullptr;  // a top-level blob
}

}  // namespace

int32_t prepareClientXform(ScanState &st, bool writeResultSet) {
    const ScanSettings &s = *st.settings;
    cblob_resultSet *rs = st.rs;
    st.xformKind = s.xformKind;
    st.xformIsIdentity = true;
    st.linearAreaFactor = 1.0;
    switch (s.xformKind) {
        case ScanXformKind::linear: {
            st.linear = s.linear;
            if (writeResultSet) rs->sharedLinearXform = s.linear;
            int32_t identity = 0;
            const int32_t status = cmath_xformLinear_getIsIdentity(&s.linear, &identity);
            if (CBLOB_FAILED(status)) return status;
            st.xformIsIdentity = identity != 0;
            st.linearAreaFactor = std::fabs(determinant(s.linear.matrix));
            return 0;
        }
        case ScanXformKind::nonLinear:
            CBLOB_REQUIRE_ARG(s.xform);
            st.xform = s.xform;
            st.xformIsIdentity = false;
            return writeResultSet ? ensureXformBlocks(&rs->xformBlocks) : 0;
        default:
            // No transform: blobs share the identity.
            return writeResultSet ? cmath_xformLinear_initIdentity(&rs->sharedLinearXform) : 0;
    }
}

int32_t bindBlobBlock(ScanState &st) {
    const BlobBlocks *blocks = *st.blobBlocks;
    const int32_t numBlocks = getNumBlocks(blocks);
    CBLOB_REQUIRE_ARG(numBlocks > 0);
    st.blobBlock = getBlock(blocks, numBlocks - 1);
    st.blobCount = blockCount(st.blobBlock);
    return 0;
}

int32_t finishRegion(ScanState &st, cblob_blob_internal_ *region) {
    RegionStatistics stats = regionStatistics(st, *region);
    cmath_xformLinear *clientXform = &st.rs->sharedLinearXform;
    // Most runs have no transform: the call is skipped for every blob then.
    int32_t status = st.xformKind == ScanXformKind::none || st.xformIsIdentity ? 0
                                                                                : mapToClient(st, &stats, &clientXform);
    // The label table first: a failure then leaves the result set as it was.
    const int32_t label = *st.numBlobs + 1;
    if (!CBLOB_FAILED(status) && st.blobLabels) status = setDoublingEntry(st.blobLabels, label, region->label);
    if (CBLOB_FAILED(status)) return status;
    // The next free record of the last blob block, which always has room.
    int32_t *count = st.blobCount;
    CBLOB_REQUIRE_ARG(count && *count >= 0 && *count < CBLOB_BLOB_BLOCK_CAPACITY);
    cblob_blob *b = st.blobBlock + *count;
    if (*count + kPrefetchAhead < CBLOB_BLOB_BLOCK_CAPACITY) prefetchRecordForWrite(b + kPrefetchAhead);
    writeRecord(st, *region, stats, clientXform, label, b);
    linkIntoTree(st, region, b);
    // Counted from here on: the block count follows the blob counter.
    *st.numBlobs = label;
    status = poolRelease(st.pool, region);
    if (CBLOB_FAILED(status)) return status;
    if (++*count < CBLOB_BLOB_BLOCK_CAPACITY) return 0;
    // The block is full: a new one is appended at once.
    status = appendBlobBlockFrom(*st.blobBlocks, st.spares);
    return CBLOB_FAILED(status) ? status : bindBlobBlock(st);
}

int32_t finishDetached(ScanState &st, const cblob_blob_internal_ &region, cblob_blob **blob) {
    RegionStatistics stats = regionStatistics(st, region);
    cmath_xformLinear *clientXform = &st.rs->sharedLinearXform;
    int32_t status = mapToClient(st, &stats, &clientXform);
    if (CBLOB_FAILED(status)) return status;
    const int32_t label = st.rs->numBlobs + 1;
    int32_t *count = st.blobCount;
    CBLOB_REQUIRE_ARG(count && *count >= 0 && *count < CBLOB_BLOB_BLOCK_CAPACITY);
    cblob_blob *b = st.blobBlock + *count;
    writeRecord(st, region, stats, clientXform, label, b);
    b->parent = nullptr;
    b->firstChild = b->lastChild = b->nextSibling = b->prevSibling = nullptr;
    b->curFirstChild = b->curLastChild = b->curNextSibling = b->curPrevSibling = nullptr;
    b->numChildren = b->curNumChildren = 0;
    st.rs->numBlobs = label;
    *blob = b;
    if (++*count < CBLOB_BLOB_BLOCK_CAPACITY) return 0;
    status = appendBlobBlockFrom(st.rs->blobBlocks, st.settings->spareBlobBlocks);
    return CBLOB_FAILED(status) ? status : bindBlobBlock(st);
}

}  // namespace cblob::connect::scan
