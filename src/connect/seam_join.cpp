// The seam join of the banded scan (banded_scan.hpp): on the calling thread,
// after every band's job, each seam from the top is joined and what is left
// open is finished.
//
// The join of one seam works on groups ("nodes" in a union-find): one node
// per local label of the lower band's first row (its outer region and the
// regions its first row opened), one for the window's outer region, and one
// per region of the upper band's last row. The overlap walk of the seam
// rows and the replay of the lower band's merge log unite them; a contact
// within one group closes off the region of the other colour between its
// contacts, which becomes a child of the group. Each group then becomes one
// region, its oldest record.
#include <algorithm>
#include <cstdint>

#include "cblob/run_params.h"
#include "connect/banded_scan.hpp"
#include "connect/region_tree.hpp"
#include "connect/scan_state.hpp"
#include "core/frame.hpp"

namespace cblob::connect {

namespace {

using scan::ScanState;

// Group flags.
constexpr uint8_t kHasUpper = 1;  // holds a region of the upper band (or the outer region)
constexpr uint8_t kHasLower = 2;  // holds a region of the lower band: the upper ones continue
constexpr uint8_t kOpen = 4;      // a lower region in it is still open at the lower band's last row

// The record a region of the seam join ended up in.
cblob_blob_internal_ *resolve(cblob_blob_internal_ *region) {
    while (region->seamState == scan::kSeamForwarded) region = static_cast<cblob_blob_internal_ *>(region->adjFirst);
    return region;
}

// Node numbers ride in a record's (otherwise unused) adjacency field while a
// seam is joined: 0 for none, node + 1.
int32_t stashedNode(const cblob_blob_internal_ *region) {
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(region->adjLast)) - 1;
}
void stashNode(cblob_blob_internal_ *region, int32_t node) {
    region->adjLast = reinterpret_cast<void *>(static_cast<intptr_t>(node) + 1);
}

// The working tables of the join, sized once for every seam.
struct SeamNodes {
    int32_t capacity = 0;
    int32_t count = 0;
    int32_t *up = nullptr;
    uint8_t *flags = nullptr;
    int32_t *heldRow = nullptr;  // the last row that completed a held region of the group, -1 for none
    cblob_blob_internal_ **rec = nullptr;       // the record of a node (null: a label merged away in its band)
    cblob_blob_internal_ **survivor = nullptr;  // per group root: its oldest record
    int32_t *upperNode = nullptr;               // per segment of the upper band's last row
    int32_t *closing = nullptr;                 // closed-off pairs: child node, parent node
    int32_t closingCount = 0;
    int64_t *order = nullptr;                   // completion order of held groups: row << 32 | root

    int32_t find(int32_t n) {
        while (up[n] != n) {
            up[n] = up[up[n]];
            n = up[n];
        }
        return n;
    }
    void unite(int32_t a, int32_t b) {
        a = find(a);
        b = find(b);
        if (a == b) return;
        up[b] = a;
        flags[a] |= flags[b];
        heldRow[a] = std::max(heldRow[a], heldRow[b]);
    }
    int32_t add(cblob_blob_internal_ *region, uint8_t flag) {
        const int32_t n = count++;
        up[n] = n;
        flags[n] = flag;
        heldRow[n] = -1;
        rec[n] = region;
        survivor[n] = nullptr;
        return n;
    }
    void closes(int32_t child, int32_t parent) {
        closing[2 * closingCount] = child;
        closing[2 * closingCount + 1] = parent;
        ++closingCount;
    }
};

// Bytes of the node tables for windows of this width: the lower band's
// labels (at most width + 3), the outer region, the upper band's regions
// (at most width + 2); closing pairs at most one per upper segment and per
// logged merge, and one more.
int64_t nodeBytes(int32_t width) {
    const int64_t nodes = 2 * (static_cast<int64_t>(width) + 3) + 2;
    return nodes * (4 + 1 + 4 + 2 * static_cast<int64_t>(sizeof(void *)) + 4 + 2 * 4 + 8) + 64;
}

void bindNodes(SeamNodes &n, uint8_t *block, int32_t width) {
    const int64_t nodes = 2 * (static_cast<int64_t>(width) + 3) + 2;
    n.capacity = static_cast<int32_t>(nodes);
    n.order = reinterpret_cast<int64_t *>(block);
    n.rec = reinterpret_cast<cblob_blob_internal_ **>(n.order + nodes);
    n.survivor = n.rec + nodes;
    n.up = reinterpret_cast<int32_t *>(n.survivor + nodes);
    n.heldRow = n.up + nodes;
    n.upperNode = n.heldRow + nodes;
    n.closing = n.upperNode + nodes;
    n.flags = reinterpret_cast<uint8_t *>(n.closing + 2 * nodes);
}

// The state that completes and finishes regions at a seam: the run's
// settings, the window's outer region, blobs into `target`'s blocks; the
// block pass of finishing looks at every band's blobs (`spans`).
int32_t seamState(const ScanSettings &settings, cblob_resultSet *rs, cblob_blob_internal_ *outer, BandScan *target,
                  const scan::BlobSpan *spans, int32_t bands, ScanState *st) {
    scan::initScanState(*st, settings, target->pool, rs);
    st->blobBlocks = &target->blocks;
    st->numBlobs = &target->numBlobs;
    st->spares = nullptr;
    st->outer = outer;
    st->finishTopLevel = true;
    st->spans = spans;
    st->spanCount = bands;
    int32_t status = scan::prepareClientXform(*st, false);
    if (!CBLOB_FAILED(status)) status = scan::bindBlobBlock(*st);
    return status;
}

// The lower band's outer region joins the window's: its child list is
// appended whole. Its blob children are top-level blobs already (no
// parent), and its working children all touch the seam (the band finished
// its other top-level regions at once), so the seam tables name them.
void spliceOuter(ScanState &st, const BandScan &lower) {
    cblob_blob_internal_ *outer = st.outer;
    cblob_blob_internal_ *band = lower.outer;
    if (!st.keepTree || !band->firstChild) return;
    void *first = band->firstChild;
    void *last = outer->lastChild;
    if (last) {
        setNodeNextSibling(last, first);
        setNodePrevSibling(first, last);
    } else {
        outer->firstChild = first;
    }
    outer->lastChild = band->lastChild;
    outer->childCount += band->childCount;
    band->firstChild = band->lastChild = nullptr;
    band->childCount = 0;
    const scan::SeamTables &seam = lower.seam;
    for (int32_t label = 1; label <= seam.opened; ++label) {
        if (seam.link[label] == label && seam.rec[label]->parent == band) seam.rec[label]->parent = outer;
    }
}

// Merges g into s at a seam: sums and box, g's children move to s, and s,
// when it has no parent yet, takes g's (a contact in g's band closed g off:
// it names the parent of the whole region). g is forwarded to s.
int32_t seamMerge(ScanState &st, cblob_blob_internal_ *s, cblob_blob_internal_ *g) {
    scan::addRegionSums(st, s, g);
    int32_t status = 0;
    if (st.keepTree) {
        void *moved = g->firstChild;
        if (moved) {
            moveChildren(g, s);
            if (s == st.outer) status = scan::adoptIntoOuter(st, moved);
        }
        auto *parent = static_cast<cblob_blob_internal_ *>(g->parent);
        if (parent) {
            detachFromParent(g);
            if (!s->parent && s != st.outer && parent != s) appendWorkingChild(parent, s);
        }
    }
    g->merged = 1;
    g->seamState = scan::kSeamForwarded;
    g->adjFirst = s;
    return status;
}

int32_t completeAtSeam(ScanState &st, cblob_blob_internal_ *region) {
    region->seamState = scan::kSeamInside;
    return st.cleanup == cblob_connectivityCleanupNone ? scan::finishRegion(st, region)
                                                       : scan::completeRegion(st, region);
}

// The nodes of one seam: the lower band's labels, the outer region, the
// upper band's last-row regions (one node per record).
void addNodes(SeamNodes &n, const BandScan &upper, const BandScan &lower, cblob_blob_internal_ *outer) {
    const scan::SeamTables &seam = lower.seam;
    n.count = 0;
    n.closingCount = 0;
    for (int32_t label = 0; label <= seam.opened; ++label) {
        cblob_blob_internal_ *region = seam.link[label] == label ? seam.rec[label] : nullptr;
        const bool open = region && region->seamState == scan::kSeamTouching;
        n.add(region, static_cast<uint8_t>(kHasLower | (open ? kOpen : 0)));
    }
    for (int32_t h = 0; h < seam.heldCount; ++h) {
        const int32_t label = seam.held[h]->label - lower.labelBase;
        n.heldRow[label] = seam.heldRow[h];
    }
    stashNode(outer, n.add(outer, kHasUpper));
    for (int32_t i = 0; i < upper.lastCount; ++i) {
        cblob_blob_internal_ *region = resolve(upper.lastRec[i]);
        int32_t node = stashedNode(region);
        if (node < 0) {
            node = n.add(region, kHasUpper);
            stashNode(region, node);
        }
        n.upperNode[i] = node;
    }
}

// The overlap walk of the seam: each run of the lower band's first row
// against the upper band's last row, as the scan walks a row (objects
// 8-connected, background 4-connected). The run's first contact names its
// group; a further contact of another group is united with it, one of its
// own group closes off the region just left of the contact.
void walkSeam(SeamNodes &n, const BandScan &upper, const BandScan &lower, int32_t width, bool keepTree,
              int32_t outerNode) {
    const scan::SeamTables &seam = lower.seam;
    const int32_t *upEnd = upper.lastEnd;
    const int32_t upCount = upper.lastCount;
    auto upStart = [&](int32_t i) { return i > 0 ? upEnd[i - 1] : 0; };
    int32_t cursor = 0;
    for (int32_t j = 0; j < seam.firstCount; ++j) {
        const int32_t colour = seam.firstColour ^ (j & 1);
        const bool object = colour != 0;
        const int32_t x0 = j > 0 ? seam.firstEnd[j - 1] : 0;
        const int32_t x1 = seam.firstEnd[j];
        const int32_t low = object ? x0 - 1 : x0;
        const int32_t high = object ? std::min(x1, width - 1) : x1 - 1;
        while (upEnd[cursor] <= low) ++cursor;
        int32_t i = cursor + ((upper.lastColour ^ cursor ^ colour) & 1);
        // Background at the left edge belongs to the outer region before its walk.
        int32_t own = !object && x0 == 0 ? seam.firstLabel[j] : -1;
        for (; i < upCount && upStart(i) <= high; i += 2) {
            const int32_t q = n.upperNode[i];
            if (own < 0) {
                own = q;
            } else if (n.find(q) == n.find(own)) {
                if (keepTree && upStart(i) > x0) n.closes(n.upperNode[i - 1], own);
            } else {
                n.unite(own, q);
            }
        }
        if (own >= 0) n.unite(own, seam.firstLabel[j]);
        // Background at the right edge is the outer region's; the region of
        // the upper row's last run, when no run of this row continued it, is
        // closed off by it.
        if (keepTree && !object && x1 == width) {
            const int32_t last = n.find(n.upperNode[upCount - 1]);
            if (last != n.find(outerNode) && !(n.flags[last] & kHasLower)) n.closes(last, outerNode);
        }
    }
}

// The lower band's merges of regions that touch its first row, in order: a
// merge of two groups that the seam already joined closes off the region
// between the contacts.
void replayLog(SeamNodes &n, const scan::SeamTables &seam, bool keepTree) {
    for (int32_t e = 0; e < seam.logCount; ++e) {
        const int32_t *entry = seam.log + 3 * static_cast<int64_t>(e);
        if (n.find(entry[0]) == n.find(entry[1])) {
            if (keepTree && entry[2] >= 0) n.closes(entry[2], entry[0]);
        } else {
            n.unite(entry[0], entry[1]);
        }
    }
}

// Each group becomes its oldest record; the regions closed off get their
// parents.
int32_t mergeGroups(SeamNodes &n, ScanState &st) {
    for (int32_t i = 0; i < n.count; ++i) {
        if (!n.rec[i]) continue;
        const int32_t root = n.find(i);
        if (!n.survivor[root] || n.rec[i]->label < n.survivor[root]->label) n.survivor[root] = n.rec[i];
    }
    for (int32_t i = 0; i < n.count; ++i) {
        if (!n.rec[i]) continue;
        cblob_blob_internal_ *s = n.survivor[n.find(i)];
        if (n.rec[i] == s) continue;
        const int32_t status = seamMerge(st, s, n.rec[i]);
        if (CBLOB_FAILED(status)) return status;
    }
    for (int32_t c = 0; c < n.closingCount; ++c) {
        cblob_blob_internal_ *child = n.survivor[n.find(n.closing[2 * c])];
        cblob_blob_internal_ *parent = n.survivor[n.find(n.closing[2 * c + 1])];
        if (child && parent && child != st.outer && child != parent && !child->parent) {
            appendWorkingChild(parent, child);
        }
    }
    return 0;
}

// Completion at the seam: first the upper band's regions the lower band
// does not continue (complete at the seam row), then the groups whose lower
// regions were all held, in the order of the rows that completed them.
int32_t completeGroups(SeamNodes &n, ScanState &st, const BandScan &upper) {
    for (int32_t i = 0; i < upper.lastCount; ++i) {
        const int32_t root = n.find(n.upperNode[i]);
        cblob_blob_internal_ *region = n.survivor[root];
        if ((n.flags[root] & kHasLower) || region == st.outer || (n.flags[root] & kOpen)) continue;
        n.flags[root] |= kOpen;  // done
        const int32_t status = completeAtSeam(st, region);
        if (CBLOB_FAILED(status)) return status;
    }
    int32_t held = 0;
    for (int32_t i = 0; i < n.count; ++i) {
        if (n.find(i) != i || !(n.flags[i] & kHasLower) || !n.survivor[i] || n.survivor[i] == st.outer) continue;
        if (n.flags[i] & kOpen) {
            n.survivor[i]->seamState = scan::kSeamInside;  // goes on below the lower band's last row
        } else if (n.heldRow[i] >= 0) {
            n.order[held++] = (static_cast<int64_t>(n.heldRow[i]) << 32) | static_cast<uint32_t>(i);
        }
    }
    std::sort(n.order, n.order + held);
    for (int32_t h = 0; h < held; ++h) {
        const int32_t root = static_cast<int32_t>(n.order[h] & 0xffffffff);
        const int32_t status = completeAtSeam(st, n.survivor[root]);
        if (CBLOB_FAILED(status)) return status;
    }
    return 0;
}

// Joins the seam between `upper` and `lower` (the next band down).
int32_t joinSeam(SeamNodes &n, const ScanSettings &settings, cblob_resultSet *rs, cblob_blob_internal_ *outer,
                 BandScan &upper, BandScan &lower, const scan::BlobSpan *spans, int32_t bands) {
    Frame<0> f;
    ScanState st;
    CBLOB_FRAME_TRY(f, seamState(settings, rs, outer, &upper, spans, bands, &st));
    addNodes(n, upper, lower, outer);
    const int32_t lowerNodes = lower.seam.opened + 1;
    const int32_t outerNode = lowerNodes;
    // The lower band's outer region is the window's.
    n.unite(outerNode, 0);
    walkSeam(n, upper, lower, settings.width, st.keepTree, outerNode);
    replayLog(n, lower.seam, st.keepTree);
    spliceOuter(st, lower);
    int32_t status = mergeGroups(n, st);
    if (!CBLOB_FAILED(status)) status = completeGroups(n, st, upper);
    for (int32_t i = lowerNodes; i < n.count; ++i) n.rec[i]->adjLast = nullptr;
    CBLOB_FRAME_TRY(f, status);
    return f.exit();
}

}  // namespace

int32_t joinBands(const ScanSettings &settings, BandScan *bands, int32_t count, cblob_resultSet *rs) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, bands);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, count >= 2);
    uint8_t *block = nullptr;
    const int64_t spanBytes = static_cast<int64_t>(sizeof(scan::BlobSpan)) * count;
    CBLOB_FRAME_TRY(f, allocate(nodeBytes(settings.width) + spanBytes, &block));
    f.addMemory(&block, csys_cleanup_tempMemory);
    SeamNodes nodes;
    bindNodes(nodes, block + spanBytes, settings.width);
    auto *spans = reinterpret_cast<scan::BlobSpan *>(block);
    for (int32_t k = 0; k < count; ++k) spans[k] = scan::BlobSpan{&bands[k].blocks, &bands[k].numBlobs};
    cblob_blob_internal_ *outer = bands[0].outer;
    for (int32_t k = 1; k < count; ++k) {
        CBLOB_FRAME_TRY(f, csys_attention_check());
        CBLOB_FRAME_TRY(f, joinSeam(nodes, settings, rs, outer, bands[k - 1], bands[k], spans, count));
    }
    // Every region is finished now but the outer region.
    ScanState st;
    CBLOB_FRAME_TRY(f, seamState(settings, rs, outer, &bands[count - 1], spans, count, &st));
    CBLOB_FRAME_TRY(f, scan::endScan(st));
    return f.exit();
}

}  // namespace cblob::connect
