// The region adjacency graph of the labelled scan: the scan's contacts
// turned into each region's neighbours, the fill cleanup that merges small
// regions into their largest neighbour, and the neighbours of the regions
// that remain.
#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "cblob/run_params.h"
#include "connect/labelled_state.hpp"
#include "core/frame.hpp"

namespace cblob::connect::labelled {

namespace {

// The scan root of region r.
int32_t scanRoot(Region *regions, int32_t r) {
    while (regions[r].link != r) {
        regions[r].link = regions[regions[r].link].link;
        r = regions[r].link;
    }
    return r;
}

// Region x joins the group of root n: its pixels and sums, its member chain
// (appended to n's), and it is no group of its own any more.
void mergeGroup(State &st, int32_t n, int32_t x) {
    GraphTables &g = st.g;
    addRegion(st.regions[n], st.regions[x], st.moments);
    g.into[x] = n;
    g.nextMember[g.lastMember[n]] = x;
    g.lastMember[n] = g.lastMember[x];
    g.dead[x] = 1;
}

// The fill cleanup: each region below minArea pixels, smallest first (equal
// sizes in completion order), that is still a group of its own and still
// small joins its largest neighbour other than the outer region (the first
// in its list among equals), or is dropped without one; the neighbour then
// takes in every neighbour of its own value that came with the small region,
// which no longer separates them.
int32_t fill(State &st) {
    Frame<2> f;
    GraphTables &g = st.g;
    const int64_t minArea = st.settings->minArea;
    Grow<int32_t> order;
    f.addObject<&Grow<int32_t>::release>(&order, csys_cleanup_tempObject);
    Grow<int32_t> joining;
    f.addObject<&Grow<int32_t>::release>(&joining, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, order.resize(st.completed.size));
    for (int64_t i = 0; i < st.completed.size; ++i) order[i] = static_cast<int32_t>(i);
    const Region *regions = st.regions.data;
    const int32_t *completed = st.completed.data;
    std::sort(order.data, order.data + order.size, [&](int32_t a, int32_t b) {
        const int64_t ma = regions[completed[a]].mass, mb = regions[completed[b]].mass;
        return ma != mb ? ma < mb : a < b;
    });
    int32_t *into = g.into.data;
    for (int64_t i = 0; i < order.size; ++i) {
        const int32_t b = completed[order[i]];
        if (g.dead[b] || st.regions[b].mass >= minArea) continue;
        // Its largest neighbour.
        int32_t n = kNone;
        for (int32_t m = b; m != kNone; m = g.nextMember[m]) {
            for (int64_t e = st.scanAdjStart[m]; e < st.scanAdjStart[m + 1]; ++e) {
                const int32_t q = findRoot(into, st.scanAdj[e]);
                if (q == b || q == kOuter || g.dead[q]) continue;
                if (n == kNone || st.regions[q].mass > st.regions[n].mass) n = q;
            }
        }
        if (n == kNone) {
            g.dead[b] = 1;  // only the outer region around it: dropped
            continue;
        }
        const int32_t lastOfB = g.lastMember[b];
        mergeGroup(st, n, b);
        // The neighbours of n's value that came with b.
        joining.size = 0;
        for (int32_t m = b;; m = g.nextMember[m]) {
            for (int64_t e = st.scanAdjStart[m]; e < st.scanAdjStart[m + 1]; ++e) {
                const int32_t q = findRoot(into, st.scanAdj[e]);
                if (q == n || q == kOuter || g.dead[q] || st.regions[q].value != st.regions[n].value) continue;
                CBLOB_FRAME_TRY(f, joining.push(q));
            }
            if (m == lastOfB) break;
        }
        for (int64_t j = 0; j < joining.size; ++j) {
            if (findRoot(into, joining[j]) != n) mergeGroup(st, n, joining[j]);
        }
    }
    return f.exit();
}

// The neighbours of every live group: its members' neighbours, as groups,
// each once, without the group itself or dead groups.
int32_t connectGroups(State &st) {
    Frame<1> f;
    GraphTables &g = st.g;
    const int64_t n = st.regions.size;
    Grow<int32_t> stamp;
    f.addObject<&Grow<int32_t>::release>(&stamp, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, stamp.resize(n));
    std::fill(stamp.data, stamp.data + n, kNone);
    CBLOB_FRAME_TRY(f, g.adjStart.resize(n + 1));
    g.adj.size = 0;
    int32_t *into = g.into.data;
    for (int32_t r = 0; r < n; ++r) {
        g.adjStart[r] = g.adj.size;
        if (g.dead[r]) continue;
        for (int32_t m = r; m != kNone; m = g.nextMember[m]) {
            for (int64_t e = st.scanAdjStart[m]; e < st.scanAdjStart[m + 1]; ++e) {
                const int32_t q = findRoot(into, st.scanAdj[e]);
                if (q == r || g.dead[q] || stamp[q] == r) continue;
                stamp[q] = r;
                CBLOB_FRAME_TRY(f, g.adj.push(q));
            }
        }
    }
    g.adjStart[n] = g.adj.size;
    return f.exit();
}

}  // namespace

int32_t releaseState(State *st) {
    int32_t status = 0;
    auto free = [&status](auto &grow) {
        const int32_t s = std::remove_reference_t<decltype(grow)>::release(&grow);
        if (CBLOB_FAILED(s) && !CBLOB_FAILED(status)) status = s;
    };
    free(st->regions);
    free(st->contacts);
    free(st->completed);
    free(st->scanAdjStart);
    free(st->scanAdj);
    GraphTables &g = st->g;
    free(g.into);
    free(g.nextMember);
    free(g.lastMember);
    free(g.dead);
    free(g.adjStart);
    free(g.adj);
    free(g.parent);
    free(g.firstChild);
    free(g.lastChild);
    free(g.nextSibling);
    free(g.prevSibling);
    free(g.numChildren);
    return status;
}

int32_t buildScanAdjacency(State &st) {
    Frame<0> f;
    Region *regions = st.regions.data;
    uint64_t *contacts = st.contacts.data;
    int64_t kept = 0;
    for (int64_t i = 0; i < st.contacts.size; ++i) {
        int32_t a = scanRoot(regions, static_cast<int32_t>(contacts[i] >> 32));
        int32_t b = scanRoot(regions, static_cast<int32_t>(contacts[i] & 0xFFFFFFFFu));
        if (a == b) continue;  // regions of one value never touch apart
        if (b < a) std::swap(a, b);
        contacts[kept++] = static_cast<uint64_t>(a) << 32 | static_cast<uint32_t>(b);
    }
    std::sort(contacts, contacts + kept);
    st.contacts.size = std::unique(contacts, contacts + kept) - contacts;
    const int64_t n = st.regions.size;
    CBLOB_FRAME_TRY(f, st.scanAdjStart.resize(n + 1));
    CBLOB_FRAME_TRY(f, st.scanAdj.resize(2 * st.contacts.size));
    int64_t *start = st.scanAdjStart.data;
    std::fill(start, start + n + 1, 0);
    for (int64_t i = 0; i < st.contacts.size; ++i) {
        ++start[(contacts[i] >> 32) + 1];
        ++start[(contacts[i] & 0xFFFFFFFFu) + 1];
    }
    for (int64_t r = 0; r < n; ++r) start[r + 1] += start[r];
    // Filled in contact order, so each list is sorted; start[r] runs ahead
    // while filling and is moved back after.
    int32_t *adj = st.scanAdj.data;
    for (int64_t i = 0; i < st.contacts.size; ++i) {
        const int32_t a = static_cast<int32_t>(contacts[i] >> 32);
        const int32_t b = static_cast<int32_t>(contacts[i] & 0xFFFFFFFFu);
        adj[start[a]++] = b;
        adj[start[b]++] = a;
    }
    for (int64_t r = n; r > 0; --r) start[r] = start[r - 1];
    start[0] = 0;
    return f.exit();
}

int32_t cleanupAndConnect(State &st) {
    Frame<0> f;
    GraphTables &g = st.g;
    const int64_t n = st.regions.size;
    CBLOB_FRAME_TRY(f, g.into.resize(n));
    CBLOB_FRAME_TRY(f, g.nextMember.resize(n));
    CBLOB_FRAME_TRY(f, g.lastMember.resize(n));
    CBLOB_FRAME_TRY(f, g.dead.resize(n));
    for (int32_t r = 0; r < n; ++r) {
        g.into[r] = r;
        g.nextMember[r] = kNone;
        g.lastMember[r] = r;
        g.dead[r] = st.regions[r].link == r ? 0 : 1;  // absorbed by the scan
    }
    if (st.settings->connectivityCleanup == cblob_connectivityCleanupFill) CBLOB_FRAME_TRY(f, fill(st));
    CBLOB_FRAME_TRY(f, connectGroups(st));
    return f.exit();
}

}  // namespace cblob::connect::labelled
