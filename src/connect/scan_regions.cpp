// Region operations of the standard connectivity scan: merging two regions
// of one colour, adding one region's sums and box to another, and the label
// map. Opening a region and closing one off inside another (enclosure) are
// inline in scan_state.hpp: the walk does them for many runs.
#include <cstdint>

#include "cblob/run_params.h"

#include "connect/region_tree.hpp"
#include "connect/scan_state.hpp"
#include "core/frame.hpp"

namespace cblob::connect::scan {

namespace {

// Rounds a label map up to the next multiple of this many entries.
constexpr int32_t kLabelMapStep = 1000;

}  // namespace

int32_t setLabelMapEntry(ScanState &st, int32_t label, int32_t value) {
    if (!st.labelMap) return 0;
    int32_t size = 0;
    int32_t status = cstd_vector32s_getSize(st.labelMap, &size);
    if (!CBLOB_FAILED(status) && label >= size) {
        const int64_t grown = (static_cast<int64_t>(label) / kLabelMapStep + 1) * kLabelMapStep;
        status = cstd_vector32s_resize(st.labelMap, grown);
    }
    int32_t *entries = nullptr;
    if (!CBLOB_FAILED(status)) status = cstd_vector32s_getBegin(st.labelMap, &entries);
    if (!CBLOB_FAILED(status)) entries[label] = value;
    return status;
}

void addRegionSums(const ScanState &st, cblob_blob_internal_ *into, const cblob_blob_internal_ *from) {
    into->pixelCount = into->pixelCount + from->pixelCount;
    into->mass = into->mass + from->mass;
    into->sumX += from->sumX;
    into->sumY += from->sumY;
    if (st.moments) {
        into->sumXX += from->sumXX;
        into->sumYY += from->sumYY;
        into->sumXY += from->sumXY;
    }
    if (st.plainSums) {
        into->plainSumX += from->plainSumX;
        into->plainSumY += from->plainSumY;
        into->plainSumXX += from->plainSumXX;
        into->plainSumYY += from->plainSumYY;
        into->plainSumXY += from->plainSumXY;
    }
    if (from->width <= 0) return;
    if (into->width <= 0) {
        into->left = from->left;
        into->top = from->top;
        into->width = from->width;
        into->height = from->height;
        return;
    }
    const int32_t right = into->left + into->width > from->left + from->width ? into->left + into->width
                                                                              : from->left + from->width;
    const int32_t bottom = into->top + into->height > from->top + from->height ? into->top + into->height
                                                                               : from->top + from->height;
    if (from->left < into->left) into->left = from->left;
    if (from->top < into->top) into->top = from->top;
    into->width = right - into->left;
    into->height = bottom - into->top;
}

int32_t adoptIntoOuter(ScanState &st, void *firstMoved) {
    if (!st.finishTopLevel || st.cleanup != cblob_connectivityCleanupFill) {
        clearTopLevelParents(firstMoved);
        return 0;
    }
    for (void *node = firstMoved; node;) {
        void *next = nodeNextSibling(node);
        if (isBlobNode(node)) {
            static_cast<cblob_blob *>(node)->parent = nullptr;
        } else {
            auto *held = static_cast<cblob_blob_internal_ *>(node);
            if (held->seamState == kFillHeld) {
                const int32_t status = finishRegion(st, held);
                if (CBLOB_FAILED(status)) return status;
            }
        }
        node = next;
    }
    return 0;
}

int32_t mergeRegion(ScanState &st, cblob_blob_internal_ *s, cblob_blob_internal_ *g) {
    CBLOB_REQUIRE_ARG(s && g && s != g);
    addRegionSums(st, s, g);
    // In a band, the survivor touches the band's first row when either did;
    // the seam join follows the merged first-row labels.
    if (g->seamState == kSeamTouching) s->seamState = kSeamTouching;
    if (st.seam && g->label - st.labelBase <= st.seam->opened) {
        st.seam->link[g->label - st.labelBase] = s->label - st.labelBase;
    }
    if (st.keepTree) {
        int32_t status = 0;
        void *moved = g->firstChild;
        if (moved) {
            status = moveChildren(g, s);
            if (s == st.outer) status = adoptIntoOuter(st, moved);
        }
        if (!CBLOB_FAILED(status) && g->parent) status = detachFromParent(g);
        if (CBLOB_FAILED(status)) return status;
        g->merged = 1;
    }
    if (st.labelMap) {
        const int32_t status = setLabelMapEntry(st, g->label, -s->label);
        if (CBLOB_FAILED(status)) return status;
    }
    return poolRelease(st.pool, g);
}

}  // namespace cblob::connect::scan
