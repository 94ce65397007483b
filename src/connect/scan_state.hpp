// The working state of one standard connectivity scan, shared by its files:
// the row tables, the slot tables that map runs to open regions, the
// settings in the form the inner loop wants them, and the region operations
// (open, merge, enclose, complete, finish).
//
// Slot tables. Every run of the previous and the current row names a slot;
// a slot names a region for the region's whole life (slot 0 is always the
// outer region). Slots form a union-find forest: a merge links the root slot
// of the absorbed region under the survivor's root, so every run that named
// the absorbed region (earlier runs of this row, later runs of the previous
// row) reaches the survivor through its slot without being visited, and a
// merge costs a link. A root slot records the last row whose runs continued
// its region; after a row, a pass over the previous row's runs finds the
// regions that row did not continue (complete) in the order of their first
// runs. Slots return to a stack of free slots when their region completes,
// and, for an absorbed region, once no run names the slot any more: at the
// end of the row after the merge. During row y the slots in use are the
// outer region's, those of the regions alive when the row starts (each has a
// run in row y - 1), those opened in row y (one per run at most) and those
// absorbed during row y - 1 (each had a run in row y - 2): at most one slot
// per run of three rows, and the outer region's.
#ifndef CBLOB_CONNECT_SCAN_STATE_HPP
#define CBLOB_CONNECT_SCAN_STATE_HPP

#include <cstdint>

#include "cblob/blob.h"
#include "cblob/math.h"
#include "cblob/result_set.h"
#include "connect/blob_internal.hpp"
#include "connect/blob_internal_pool.hpp"
#include "connect/region_tree.hpp"
#include "connect/standard_scan.hpp"

namespace cblob::connect::scan {

// The outer region's slot in every row.
constexpr int32_t kOuterSlot = 0;

// One row as the scan sees it: maximal stretches of one colour
// ("segments"), alternating in colour from firstColour, covering exactly
// [0, width). In the weighted scan a segment can hold several runs; its
// weighted sums are given per segment (weight w, run start x, length L):
//   mass  = sum of w * L
//   sumX  = sum of w * (2x + L) * L
//   sumXX = sum of w * L * (3x(x + L) + L^2)
// The binary scan leaves them unset: each segment is one run of weight 1.
struct ScanRow {
    int32_t count = 0;
    uint8_t firstColour = 0;
    int32_t *end = nullptr;     // exclusive end x of each segment
    int64_t *mass = nullptr;    // weighted scan only
    double *sumX = nullptr;
    double *sumXX = nullptr;
};

// The working tables, carved from one block. maxSegments bounds the
// segments of one row (width + 2); maxSlots the slots in use at once. The two
// end tables have one entry before index 0, always 0 (the start of the first
// segment), and room for one after the last segment, where the walk puts a
// sentinel; so segment i always spans [end[i - 1], end[i]).
struct ScanTables {
    int32_t maxSegments = 0;
    int32_t maxSlots = 0;
    int32_t *prevEnd = nullptr;   // previous row: segment ends
    int32_t *prevSlot = nullptr;  // previous row: slot of each segment
    int32_t *curEnd = nullptr;    // current row: segment ends
    int32_t *curSlot = nullptr;   // current row: slot of each segment
    int32_t *segLabel = nullptr;  // current row: region label of each segment (wide rows)
    int32_t *completing = nullptr;  // after a row: root slots of the previous row no run continued
    int64_t *segMass = nullptr;   // current row: weighted sums (weighted scan)
    double *segSumX = nullptr;
    double *segSumXX = nullptr;
    int32_t *link = nullptr;      // slot -> parent slot; a root links to itself
    int32_t *seenRow = nullptr;   // root slot -> last row that continued (or completed) its region
    cblob_blob_internal_ **rec = nullptr;  // root slot -> region
    int32_t *freeSlots = nullptr;          // stack of unused slots
    int32_t freeCount = 0;
    // Slots absorbed by merges during the previous row [0] and during the
    // current row [1]; the previous row's go back to the stack at the end
    // of the current row.
    int32_t *absorbed[2] = {nullptr, nullptr};
    int32_t absorbedCount[2] = {0, 0};
};

// What a band of the banded scan records for the seam join about the
// regions that touch its first row (banded_scan.hpp). Band 0 and a scan of
// the whole window have none.
//
// Local labels are labels minus the band's label base: 0 is the band's outer
// region, 1 .. opened the regions its first row opened. A region touching the
// first row always has one of these labels (older regions survive merges).
struct SeamTables {
    // The first row: its segments (alternating colours) and the local label
    // each opened or joined.
    int32_t firstCount = 0;
    uint8_t firstColour = 0;
    int32_t *firstEnd = nullptr;
    int32_t *firstLabel = nullptr;
    int32_t opened = 0;
    // Local label -> the local label it merged into (itself while alive), and
    // the record of each label (valid while the label is alive).
    int32_t *link = nullptr;
    cblob_blob_internal_ **rec = nullptr;
    // Merges of two regions touching the first row, in order: the two local
    // labels and the local label of the region of the other colour between
    // the two contacts (-1 for none). Where the two regions meet above the
    // band, the merge is the contact that closes that region off instead.
    int32_t logCount = 0;
    int32_t *log = nullptr;  // three entries a merge
    // Regions touching the first row that completed in the band, with the
    // row that completed them.
    int32_t heldCount = 0;
    cblob_blob_internal_ **held = nullptr;
    int32_t *heldRow = nullptr;
};

// Seam states of a working record in a banded scan.
constexpr int32_t kSeamInside = 0;     // opened below the band's first row
constexpr int32_t kSeamTouching = 1;   // has a run in the band's first row (or merged with one that has)
constexpr int32_t kSeamHeld = 2;       // complete, but held for the seam join
constexpr int32_t kSeamForwarded = 3;  // merged away by the seam join; adjFirst names the survivor
// Not a seam state: a complete region that fill mode holds until its
// parent's fate is known (any scan).
constexpr int32_t kFillHeld = 4;

// The blob blocks of one band and its count of finished blobs.
struct BlobSpan {
    BlobBlocks *const *blocks;
    const int32_t *count;
};

struct ScanState {
    const ScanSettings *settings = nullptr;
    BlobInternalPool *pool = nullptr;
    cblob_resultSet *rs = nullptr;  // the owner of the blobs (and of their shared transform)
    // Where finished blobs go and their counter (the labels they get): the
    // result set's blocks and blob count, or a band's own.
    BlobBlocks **blobBlocks = nullptr;
    int32_t *numBlobs = nullptr;
    SpareBlobBlocks *spares = nullptr;

    // The rows scanned: rowBegin .. rowEnd - 1, then the closing row
    // (`height`) when `closing`. A band below the first starts with an open
    // top (no frame above): every run of its first row opens a region of its
    // own, except background at the window edges, which is the band's outer
    // region. Labels start at labelBase; labelLimit is the first one not
    // available.
    int32_t rowBegin = 0, rowEnd = 0;
    bool closing = true;
    int32_t labelBase = 0;
    int32_t labelLimit = INT32_MAX;
    SeamTables *seam = nullptr;
    // Banded scans (bands and the seam join): a complete region of fill
    // mode whose parent is the outer region is finished at once rather than
    // held (the outer region is never filled, so its children's fate is
    // known), and the outer region thus holds no such children.
    bool finishTopLevel = false;
    // The seam join: every band's finished blobs, for the block pass of
    // finishing (null: the blobs this scan finished).
    const BlobSpan *spans = nullptr;
    int32_t spanCount = 0;

    bool keepTree = false;    // computeTopology, or any cleanup mode
    bool moments = false;     // second-order sums wanted
    bool weighted = false;
    bool plainSums = false;   // weighted scan with fill cleanup: unweighted sums too
    int32_t cleanup = 0;
    uint32_t minArea = 0;     // compared unsigned with the mass
    double scaleVal = 1.0;
    int32_t originX = 0, originY = 0;

    cblob_blob_internal_ *outer = nullptr;
    int32_t nextLabel = 1;
    cblob_blob *firstTopLevelBefore = nullptr;  // the result set's, before this scan

    // Label map (null when not wanted): [label] = label while alive,
    // -survivor once merged. blobLabels: [blob label] = working label.
    cstd_vector32s *labelMap = nullptr;
    cstd_vector32s *blobLabels = nullptr;

    // Client transform, prepared once (scan_finish.cpp).
    ScanXformKind xformKind = ScanXformKind::none;
    bool xformIsIdentity = true;       // linear: nothing is mapped or scaled
    double linearAreaFactor = 1.0;     // linear: |det L|
    cmath_xformLinear linear{};        // linear: the transform
    const cmath_xformPtrhConst *xform = nullptr;  // non-linear: the handle

    // The last blob block of the result set and its count: finished
    // regions are written there (scan_finish.cpp).
    cblob_blob *blobBlock = nullptr;
    int32_t *blobCount = nullptr;
    int32_t firstBlobIndex = 0;  // the result set's blob count when the scan started

    ScanTables t;
};

// Path-halving find of a slot's root.
inline int32_t findRoot(int32_t *link, int32_t slot) {
    while (link[slot] != slot) {
        link[slot] = link[link[slot]];
        slot = link[slot];
    }
    return slot;
}

// The state of a scan of the whole window with these settings: blobs into
// the result set, numbered from its blob count (standard_scan.cpp). Bands and
// the seam join redirect the rows and the blobs afterwards.
void initScanState(ScanState &st, const ScanSettings &settings, BlobInternalPool *pool, cblob_resultSet *rs);

// ------------------------------------------------- regions (scan_regions.cpp)

// Writes [label] = value into the label map (when kept), growing it.
int32_t setLabelMapEntry(ScanState &st, int32_t label, int32_t value);

// The sums of one run of the binary scan, for a region that starts with it.
struct RunSums {
    int64_t mass = 0;
    double sumX = 0.0, sumY = 0.0, sumXX = 0.0, sumYY = 0.0, sumXY = 0.0;
};

// Opens a region of `colour` whose first run is [x0, x1) in row y: a record
// from the pool with the next label, the box of that run (empty when
// x1 == x0), no tree links, and its label-map entry. Its sums are `first`
// when given (binary scan: the run's own, stored once rather than added to
// zeros), else zero (the caller adds the run's). Only the sums the scan
// keeps are written: second-order sums with moments, unweighted sums with
// plainSums. Fails only when the pool or the label map must grow, or with
// csys_err_badSize when the scan has handed out INT32_MAX - 1 labels.
// Inline: the walk opens a region for every run that touches none above it.
inline int32_t openRegion(ScanState &st, uint8_t colour, int32_t x0, int32_t x1, int32_t y,
                          cblob_blob_internal_ **region, const RunSums *first = nullptr) {
    // Labels are unique within a scan (a band: within its label space) and 32 bits wide.
    if (st.nextLabel == st.labelLimit) return csys_err_badSize;
    cblob_blob_internal_ *r = nullptr;
    int32_t status = poolOpen(st.pool, &r);
    if (CBLOB_FAILED(status)) return status;
    r->nodeKind = st.keepTree ? &kWorkingNodeKind : nullptr;
    r->firstChild = nullptr;
    r->lastChild = nullptr;
    r->parent = nullptr;
    r->nextSibling = nullptr;
    r->prevSibling = nullptr;
    r->label = st.nextLabel++;
    r->colour = colour;
    r->pixelCount = 0;
    if (first) {
        r->mass = first->mass;
        r->sumX = first->sumX;
        r->sumY = first->sumY;
        if (st.moments) {
            r->sumXX = first->sumXX;
            r->sumYY = first->sumYY;
            r->sumXY = first->sumXY;
        }
    } else {
        r->mass = 0;
        r->sumX = r->sumY = 0.0;
        if (st.moments) r->sumXX = r->sumYY = r->sumXY = 0.0;
    }
    if (st.plainSums) r->plainSumX = r->plainSumY = r->plainSumXX = r->plainSumYY = r->plainSumXY = 0.0;
    r->left = x0;
    r->top = y;
    r->width = x1 - x0;
    r->height = x1 > x0 ? 1 : 0;
    r->adjChainBlock = nullptr;
    r->adjFirst = nullptr;
    r->adjLast = nullptr;
    r->adjNextFree = nullptr;
    r->seamState = 0;
    r->childCount = 0;
    if (st.labelMap) {
        status = setLabelMapEntry(st, r->label, r->label);
        if (CBLOB_FAILED(status)) return status;
    }
    *region = r;
    return 0;
}

// Adds the sums, pixel count and box of `from` into `into`: the sums the
// scan keeps (see openRegion).
void addRegionSums(const ScanState &st, cblob_blob_internal_ *into, const cblob_blob_internal_ *from);

// Merges region g into s (the survivor, the smaller label): sums and box,
// g's children move to s, g leaves its parent's child list, the label map
// records -s for g, and g's record returns to the pool. The caller repoints
// the slots.
int32_t mergeRegion(ScanState &st, cblob_blob_internal_ *s, cblob_blob_internal_ *g);

// Makes q a child of r when the run that closes q off is r's: only a region
// that has no parent yet, is not the outer region and is not r itself.
inline void encloseRegion(const ScanState &st, cblob_blob_internal_ *r, cblob_blob_internal_ *q) {
    if (!st.keepTree || q == st.outer || q == r || q->parent) return;
    appendWorkingChild(r, q);
}

// Blobs among the outer region's children are the top-level blobs, whose
// parent is null rather than the outer record: finishing writes null
// directly, and a merge or fill that moves children into the outer region
// calls this with the first moved child (they were appended at the end of
// its list). Working records keep the outer record as parent.
inline void clearTopLevelParents(void *firstMoved) {
    for (void *node = firstMoved; node; node = nodeNextSibling(node)) {
        if (isBlobNode(node)) static_cast<cblob_blob *>(node)->parent = nullptr;
    }
}

// Children just moved into the outer region (from firstMoved on): blobs lose
// their parent (clearTopLevelParents); in a banded scan, complete regions
// held in fill mode are finished (finishTopLevel; a region closed off in the
// row being walked is complete only once the row ends, which finishes it).
// Fails as finishing.
int32_t adoptIntoOuter(ScanState &st, void *firstMoved);

// Binds the result set's last blob block (the blob blocks must exist).
int32_t bindBlobBlock(ScanState &st);

// ------------------------------------------------ completion (scan_cleanup.cpp)

// A region with no run in the current row: pruned, filled into its parent,
// held or finished, by the cleanup mode.
int32_t completeRegion(ScanState &st, cblob_blob_internal_ *region);

// The outer region had runs in the previous row and none in this one: in
// fill mode, its held children are finished.
int32_t completeOuter(ScanState &st);

// After the closing row: held children of the outer region are finished,
// every child of the outer region loses its parent, the head of their
// sibling chain becomes the result set's first top-level blob (unless it had
// one before the scan), and the outer record returns to the pool.
int32_t endScan(ScanState &st);

// ----------------------------------------------------- finishing (scan_finish.cpp)

// Reads the client transform from the settings into the state and, with
// writeResultSet, into the result set (its shared linear transform, or its
// transform blocks). Fails on a memory failure of the transform blocks.
// Band jobs read only: the calling thread wrote the result set before.
int32_t prepareClientXform(ScanState &st, bool writeResultSet = true);

// Finishes a region into the next blob record of the result set and returns
// its working record to the pool.
int32_t finishRegion(ScanState &st, cblob_blob_internal_ *region);

// Finishes a region into the next blob record of the result set, like
// finishRegion, but without tree links (all null, child counts 0) and
// without touching the working record, which need not come from a pool
// (the labelled scan finishes its own region records). *blob is the record.
int32_t finishDetached(ScanState &st, const cblob_blob_internal_ &region, cblob_blob **blob);

}  // namespace cblob::connect::scan

#endif
