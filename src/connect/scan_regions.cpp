// Region operations of the standard connectivity scan: opening a region,
// merging two regions of one colour, closing a region off inside another
// (enclosure), and the label map.
#include <cstdint>

#include "connect/region_tree.hpp"
#include "connect/scan_state.hpp"
#include "run/frame.hpp"

namespace cblob::connect::scan {

namespace {

// Masses are sums of non-negative weights kept in 32 bits; they wrap rather
// than overflow on gigantic inputs, and readers treat them as unsigned.
inline int32_t addMass(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

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

int32_t openRegion(ScanState &st, uint8_t colour, int32_t x0, int32_t y, cblob_blob_internal_ **region) {
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
    r->mass = 0;
    r->sumX = r->sumY = r->sumXX = r->sumYY = r->sumXY = 0.0;
    r->plainSumX = r->plainSumY = r->plainSumXX = r->plainSumYY = r->plainSumXY = 0.0;
    r->left = x0;
    r->top = y;
    r->width = 0;  // the first run sets the box
    r->height = 0;
    r->adjChainBlock = nullptr;
    r->adjFirst = nullptr;
    r->adjLast = nullptr;
    r->adjNextFree = nullptr;
    r->seamState = 0;
    status = setLabelMapEntry(st, r->label, r->label);
    if (CBLOB_FAILED(status)) return status;
    *region = r;
    return 0;
}

void addRegionSums(cblob_blob_internal_ *into, const cblob_blob_internal_ *from) {
    into->pixelCount = addMass(into->pixelCount, from->pixelCount);
    into->mass = addMass(into->mass, from->mass);
    into->sumX += from->sumX;
    into->sumY += from->sumY;
    into->sumXX += from->sumXX;
    into->sumYY += from->sumYY;
    into->sumXY += from->sumXY;
    into->plainSumX += from->plainSumX;
    into->plainSumY += from->plainSumY;
    into->plainSumXX += from->plainSumXX;
    into->plainSumYY += from->plainSumYY;
    into->plainSumXY += from->plainSumXY;
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

int32_t mergeRegion(ScanState &st, cblob_blob_internal_ *s, cblob_blob_internal_ *g) {
    CBLOB_REQUIRE_ARG(s && g && s != g);
    addRegionSums(s, g);
    if (st.keepTree) {
        int32_t status = 0;
        if (g->firstChild) status = moveChildren(g, s);
        if (!CBLOB_FAILED(status) && g->parent) status = detachFromParent(g);
        if (CBLOB_FAILED(status)) return status;
        g->merged = 1;
    }
    const int32_t status = setLabelMapEntry(st, g->label, -s->label);
    if (CBLOB_FAILED(status)) return status;
    return poolRelease(st.pool, g);
}

int32_t encloseRegion(ScanState &st, cblob_blob_internal_ *r, cblob_blob_internal_ *q) {
    if (!st.keepTree || q == st.outer || q == r || q->parent) return 0;
    return appendChild(r, q);
}

}  // namespace cblob::connect::scan
