// Finishing the regions of the labelled scan into blobs: every region left
// after the cleanup, in the order the scan completed them, through the
// standard scan's finishing (area, centre of mass, box, moments, client
// transform); then the tree links and each blob's neighbours.
#include <algorithm>
#include <cstdint>

#include "connect/blob_record.hpp"
#include "connect/labelled_state.hpp"
#include "connect/scan_state.hpp"
#include "core/frame.hpp"

namespace cblob::connect::labelled {

namespace {

// The working record finishing reads, from a region.
cblob_blob_internal_ workingRecord(const Region &r) {
    cblob_blob_internal_ w{};
    w.colour = static_cast<uint8_t>(r.value);
    w.mass = r.mass;
    w.sumX = r.sumX;
    w.sumY = r.sumY;
    w.sumXX = r.sumXX;
    w.sumYY = r.sumYY;
    w.sumXY = r.sumXY;
    w.left = r.left;
    w.top = r.top;
    w.width = r.right - r.left + 1;
    w.height = r.bottom - r.top + 1;
    return w;
}

// The finishing state: no tree (linked here afterwards), unweighted sums.
int32_t prepareFinishing(State &st, scan::ScanState &fs) {
    const ScanSettings &s = *st.settings;
    fs.settings = &s;
    fs.rs = st.rs;
    fs.blobBlocks = &st.rs->blobBlocks;
    fs.numBlobs = &st.rs->numBlobs;
    fs.spares = s.spareBlobBlocks;
    fs.keepTree = false;
    fs.moments = st.moments;
    fs.weighted = false;
    fs.plainSums = false;
    fs.cleanup = s.connectivityCleanup;
    fs.scaleVal = s.scaleVal;
    fs.originX = s.originX;
    fs.originY = s.originY;
    fs.firstBlobIndex = st.rs->numBlobs;
    int32_t status = scan::prepareClientXform(fs);
    if (!CBLOB_FAILED(status)) status = scan::bindBlobBlock(fs);
    return status;
}

cblob_blob *blobOrNull(cblob_blob *const *blobOf, int32_t r) { return r == kNone || r == kOuter ? nullptr : blobOf[r]; }

// The tree links of every blob (both sets), from the region tree.
void linkTree(State &st, cblob_blob *const *blobOf) {
    const GraphTables &g = st.g;
    for (int64_t i = 0; i < st.completed.size; ++i) {
        const int32_t r = st.completed[i];
        if (g.dead[r]) continue;
        cblob_blob *b = blobOf[r];
        b->parent = blobOrNull(blobOf, g.parent[r]);
        b->firstChild = b->curFirstChild = blobOrNull(blobOf, g.firstChild[r]);
        b->lastChild = b->curLastChild = blobOrNull(blobOf, g.lastChild[r]);
        b->nextSibling = b->curNextSibling = blobOrNull(blobOf, g.nextSibling[r]);
        b->prevSibling = b->curPrevSibling = blobOrNull(blobOf, g.prevSibling[r]);
        b->numChildren = b->curNumChildren = g.numChildren[r];
    }
    if (!st.rs->firstTopLevelBlob) st.rs->firstTopLevelBlob = blobOrNull(blobOf, g.firstChild[kOuter]);
}

// Every blob's neighbours: one block of holders and neighbour pointers,
// kept in the result set's run work blocks.
int32_t linkNeighbours(State &st, cblob_blob *const *blobOf, int32_t numFinished) {
    Frame<1> f;
    const GraphTables &g = st.g;
    int64_t entries = 0;
    for (int64_t i = 0; i < st.completed.size; ++i) {
        const int32_t r = st.completed[i];
        if (g.dead[r]) continue;
        for (int64_t e = g.adjStart[r]; e < g.adjStart[r + 1]; ++e) entries += g.adj[e] != kOuter && !g.dead[g.adj[e]];
    }
    const int64_t holderBytes = static_cast<int64_t>(sizeof(cblob_blobAdjacency)) * numFinished;
    uint8_t *block = nullptr;
    CBLOB_FRAME_TRY(f, allocate(holderBytes + entries * static_cast<int64_t>(sizeof(cblob_blob *)) + 1, &block));
    const int32_t id = f.addMemory(&block, csys_cleanup_tempMemory);
    if (!st.rs->runWorkBlocks) CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleData_Ptr_new(&st.rs->runWorkBlocks));
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleData_Ptr_pushBack(st.rs->runWorkBlocks, &block));
    f.handOver(id);
    auto *holder = reinterpret_cast<cblob_blobAdjacency *>(block);
    auto *next = reinterpret_cast<cblob_blob **>(block + holderBytes);
    for (int64_t i = 0; i < st.completed.size; ++i) {
        const int32_t r = st.completed[i];
        if (g.dead[r]) continue;
        holder->neighbours = next;
        holder->numNeighbours = 0;
        holder->touchesBorder = 0;
        for (int64_t e = g.adjStart[r]; e < g.adjStart[r + 1]; ++e) {
            const int32_t q = g.adj[e];
            if (q == kOuter) {
                holder->touchesBorder = 1;
            } else if (!g.dead[q]) {
                *next++ = blobOf[q];
                ++holder->numNeighbours;
            }
        }
        std::sort(holder->neighbours, next, [](const cblob_blob *a, const cblob_blob *b) { return a->label < b->label; });
        blobOf[r]->adjacencyHolder = holder;
        ++holder;
    }
    return f.exit();
}

// The run table for per-blob runs: [region] = region for a region that
// became a blob, -survivor for one merged into another (by the scan or the
// fill), 0 for one dropped (its runs belong to no blob).
int32_t writeLabelMap(State &st) {
    Frame<0> f;
    cstd_vector32s *map = st.settings->labelMap;
    int32_t size = 0;
    CBLOB_FRAME_TRY(f, cstd_vector32s_getSize(map, &size));
    if (size < st.regions.size) CBLOB_FRAME_TRY(f, cstd_vector32s_resize(map, st.regions.size));
    int32_t *entries = nullptr;
    CBLOB_FRAME_TRY(f, cstd_vector32s_getBegin(map, &entries));
    const GraphTables &g = st.g;
    for (int32_t r = 0; r < st.regions.size; ++r) {
        const Region &region = st.regions[r];
        if (region.link != r) {
            entries[r] = -region.link;  // the scan merged it (its chain resolves to the root)
        } else if (g.into[r] != r) {
            entries[r] = -g.into[r];    // the fill merged it
        } else {
            entries[r] = g.dead[r] ? 0 : r;
        }
    }
    return f.exit();
}

// The blob label table: [blob label] = the region number written into the
// runs.
int32_t writeBlobLabels(State &st, cblob_blob *const *blobOf) {
    Frame<0> f;
    cstd_vector32s *table = st.settings->blobLabels;
    int32_t size = 0;
    CBLOB_FRAME_TRY(f, cstd_vector32s_getSize(table, &size));
    if (size <= st.rs->numBlobs) CBLOB_FRAME_TRY(f, cstd_vector32s_resize(table, st.rs->numBlobs + 1));
    int32_t *entries = nullptr;
    CBLOB_FRAME_TRY(f, cstd_vector32s_getBegin(table, &entries));
    for (int64_t i = 0; i < st.completed.size; ++i) {
        const int32_t r = st.completed[i];
        if (!st.g.dead[r]) entries[blobOf[r]->label] = r;
    }
    return f.exit();
}

}  // namespace

int32_t finishBlobs(State &st) {
    Frame<1> f;
    scan::ScanState fs;
    CBLOB_FRAME_TRY(f, prepareFinishing(st, fs));
    Grow<cblob_blob *> blobOf;
    f.addObject<&Grow<cblob_blob *>::release>(&blobOf, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, blobOf.resize(st.regions.size));
    int32_t finished = 0;
    for (int64_t i = 0; i < st.completed.size; ++i) {
        const int32_t r = st.completed[i];
        if (st.g.dead[r]) continue;
        const cblob_blob_internal_ w = workingRecord(st.regions[r]);
        CBLOB_FRAME_TRY(f, scan::finishDetached(fs, w, &blobOf[r]));
        ++finished;
    }
    if (st.keepTree) linkTree(st, blobOf.data);
    CBLOB_FRAME_TRY(f, linkNeighbours(st, blobOf.data, finished));
    if (st.settings->labelMap) CBLOB_FRAME_TRY(f, writeLabelMap(st));
    if (st.settings->blobLabels) CBLOB_FRAME_TRY(f, writeBlobLabels(st, blobOf.data));
    return f.exit();
}

}  // namespace cblob::connect::labelled
