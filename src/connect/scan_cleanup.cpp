// Completion of regions in the standard connectivity scan: what happens to
// a region that has no run in the current row, by the cleanup mode (none,
// prune small childless regions, fill small regions into their parent), and
// the end of the scan.
#include <cstdint>

#include "cblob/run_params.h"
#include "connect/region_tree.hpp"
#include "connect/scan_state.hpp"
#include "core/frame.hpp"

namespace cblob::connect::scan {

namespace {

bool isSmall(const ScanState &st, const cblob_blob_internal_ *region) {
    return region->mass < static_cast<int64_t>(st.minArea);
}

// Fill mode: region `from` is poured into `into`: its sums, its label (not
// into the outer region), its children (to from's parent, which is `into`
// whenever `into` is from's parent), and its record.
int32_t fillInto(ScanState &st, cblob_blob_internal_ *into, cblob_blob_internal_ *from) {
    addRegionSums(st, into, from);
    int32_t status = 0;
    if (into != st.outer) status = setLabelMapEntry(st, from->label, -into->label);
    void *moved = from->firstChild;
    if (!CBLOB_FAILED(status)) status = unlinkWorking(from);
    if (!CBLOB_FAILED(status) && into == st.outer) status = adoptIntoOuter(st, moved);
    if (!CBLOB_FAILED(status)) status = poolRelease(st.pool, from);
    return status;
}

// Finishes every child of `parent` that is still a working record (fill
// mode holds completed regions until their parent's fate is known). In a
// band, regions that touch its first row wait for the seam join.
int32_t finishHeldChildren(ScanState &st, cblob_blob_internal_ *parent) {
    void *child = parent->firstChild;
    while (child) {
        void *next = nodeNextSibling(child);
        if (!isBlobNode(child) && static_cast<cblob_blob_internal_ *>(child)->seamState == kFillHeld) {
            const int32_t status = finishRegion(st, static_cast<cblob_blob_internal_ *>(child));
            if (CBLOB_FAILED(status)) return status;
        }
        child = next;
    }
    return 0;
}

int32_t completeFill(ScanState &st, cblob_blob_internal_ *region) {
    if (!isSmall(st, region)) {
        // The region itself is held, but for a banded scan's top-level regions.
        const int32_t status = finishHeldChildren(st, region);
        if (CBLOB_FAILED(status)) return status;
        if (st.finishTopLevel && region->parent == st.outer) return finishRegion(st, region);
        region->seamState = kFillHeld;
        return 0;
    }
    void *child = region->firstChild;
    while (child) {
        void *next = nodeNextSibling(child);
        if (!isBlobNode(child)) {
            const int32_t status = fillInto(st, region, static_cast<cblob_blob_internal_ *>(child));
            if (CBLOB_FAILED(status)) return status;
        }
        child = next;
    }
    auto *parent = static_cast<cblob_blob_internal_ *>(region->parent);
    if (parent) return fillInto(st, parent, region);
    // Not enclosed by anything: its pixels are dropped.
    const int32_t status = unlinkWorking(region);
    return CBLOB_FAILED(status) ? status : poolRelease(st.pool, region);
}

}  // namespace

int32_t completeRegion(ScanState &st, cblob_blob_internal_ *region) {
    switch (st.cleanup) {
        case cblob_connectivityCleanupPrune:
            if (isSmall(st, region) && !region->firstChild) {
                const int32_t status = unlinkWorking(region);
                return CBLOB_FAILED(status) ? status : poolRelease(st.pool, region);
            }
            return finishRegion(st, region);
        case cblob_connectivityCleanupFill:
            return completeFill(st, region);
        default:
            return finishRegion(st, region);
    }
}

int32_t completeOuter(ScanState &st) {
    // Banded scans hold no children of the outer region.
    return st.cleanup == cblob_connectivityCleanupFill && !st.finishTopLevel ? finishHeldChildren(st, st.outer) : 0;
}

int32_t endScan(ScanState &st) {
    cblob_blob_internal_ *outer = st.outer;
    int32_t status = completeOuter(st);
    if (CBLOB_FAILED(status)) return status;
    if (st.keepTree) {
        // Every region is finished by now, so the children of the outer
        // region are the top-level blobs, whose parents are already null
        // (clearTopLevelParents). The head of their sibling chain is the
        // result set's first top-level blob. (Regions completing in one row
        // are finished left to right by their first run but were closed off
        // left to right by their last contact, so the head is not always the
        // first blob finished; the chain head is what the view's filters and
        // sort walk.)
        if (!st.firstTopLevelBefore) st.rs->firstTopLevelBlob = static_cast<cblob_blob *>(outer->firstChild);
    }
    outer->firstChild = nullptr;
    outer->lastChild = nullptr;
    outer->childCount = 0;
    st.outer = nullptr;
    status = poolRelease(st.pool, outer);
    return status;
}

}  // namespace cblob::connect::scan
