// The region tree of the labelled scan, from the adjacency graph: a depth-
// first search from the outer region finds the graph's biconnected
// components; the region at which a component hangs off the rest (nearer the
// outer region) is the parent of every other region of the component. So a
// region's parent is the region that separates it from the outer region:
// the region of another value around it. Regions that no single region
// separates from the outer region hang off the outer region: the top-level
// blobs. The prune cleanup follows on the tree.
#include <cstdint>
#include <initializer_list>

#include "cblob/run_params.h"
#include "connect/labelled_state.hpp"
#include "core/frame.hpp"

namespace cblob::connect::labelled {

namespace {

// Makes x the last child of p.
void appendChild(GraphTables &g, int32_t p, int32_t x) {
    g.parent[x] = p;
    g.prevSibling[x] = g.lastChild[p];
    g.nextSibling[x] = kNone;
    if (g.lastChild[p] == kNone) {
        g.firstChild[p] = x;
    } else {
        g.nextSibling[g.lastChild[p]] = x;
    }
    g.lastChild[p] = x;
    ++g.numChildren[p];
}

// Takes x out of its parent's child list.
void detach(GraphTables &g, int32_t x) {
    const int32_t p = g.parent[x];
    if (p == kNone) return;
    const int32_t prev = g.prevSibling[x], next = g.nextSibling[x];
    if (prev == kNone) {
        g.firstChild[p] = next;
    } else {
        g.nextSibling[prev] = next;
    }
    if (next == kNone) {
        g.lastChild[p] = prev;
    } else {
        g.prevSibling[next] = prev;
    }
    --g.numChildren[p];
    g.parent[x] = kNone;
    g.prevSibling[x] = g.nextSibling[x] = kNone;
}

// The working tables of the search.
struct Search {
    Grow<int32_t> disc, low, dfsParent, stack, finished;
    Grow<int64_t> next;     // position in the region's neighbour list
    Grow<uint64_t> edges;   // tree edges (u << 32 | w) of components not yet closed
    static int32_t release(Search *s) {
        int32_t status = 0;
        for (Grow<int32_t> *g : {&s->disc, &s->low, &s->dfsParent, &s->stack, &s->finished}) {
            const int32_t r = Grow<int32_t>::release(g);
            if (CBLOB_FAILED(r) && !CBLOB_FAILED(status)) status = r;
        }
        const int32_t r1 = Grow<int64_t>::release(&s->next);
        const int32_t r2 = Grow<uint64_t>::release(&s->edges);
        if (!CBLOB_FAILED(status)) status = CBLOB_FAILED(r1) ? r1 : r2;
        return status;
    }
};

// Closes the component that hangs off p below its child u: every region of
// its tree edges other than p becomes p's child.
void closeComponent(GraphTables &g, Search &s, int32_t p, int32_t u) {
    const uint64_t last = static_cast<uint64_t>(p) << 32 | static_cast<uint32_t>(u);
    while (s.edges.size > 0) {
        const uint64_t e = s.edges[--s.edges.size];
        const int32_t ends[2] = {static_cast<int32_t>(e >> 32), static_cast<int32_t>(e & 0xFFFFFFFFu)};
        for (int32_t x : ends) {
            if (x != p && g.parent[x] != p) appendChild(g, p, x);
        }
        if (e == last) break;
    }
}

// The depth-first search from the outer region; `finished` receives the
// regions in the order their search ends (every region after the regions
// it encloses).
int32_t search(State &st, Search &s) {
    GraphTables &g = st.g;
    int32_t counter = 1;
    auto visit = [&](int32_t u) {
        s.disc[u] = s.low[u] = counter++;
        s.next[u] = g.adjStart[u];
        s.stack[s.stack.size++] = u;
    };
    visit(kOuter);
    while (s.stack.size > 0) {
        const int32_t u = s.stack[s.stack.size - 1];
        if (s.next[u] < g.adjStart[u + 1]) {
            const int32_t w = g.adj[s.next[u]++];
            if (s.disc[w] == 0) {
                const int32_t status = s.edges.push(static_cast<uint64_t>(u) << 32 | static_cast<uint32_t>(w));
                if (CBLOB_FAILED(status)) return status;
                s.dfsParent[w] = u;
                visit(w);
            } else if (w != s.dfsParent[u] && s.disc[w] < s.low[u]) {
                s.low[u] = s.disc[w];
            }
            continue;
        }
        --s.stack.size;
        s.finished[s.finished.size++] = u;
        const int32_t p = s.dfsParent[u];
        if (p == kNone) continue;
        if (s.disc[p] <= s.low[u]) closeComponent(g, s, p, u);
        if (s.low[u] < s.low[p]) s.low[p] = s.low[u];
    }
    return 0;
}

// Prune: regions below minArea pixels without children are dropped,
// innermost first.
void prune(State &st, const Search &s) {
    GraphTables &g = st.g;
    const int64_t minArea = st.settings->minArea;
    for (int64_t i = 0; i < s.finished.size; ++i) {
        const int32_t r = s.finished[i];
        if (r == kOuter || g.numChildren[r] > 0 || st.regions[r].mass >= minArea) continue;
        detach(g, r);
        g.dead[r] = 1;
    }
}

}  // namespace

int32_t buildTree(State &st) {
    Frame<1> f;
    GraphTables &g = st.g;
    const int64_t n = st.regions.size;
    for (Grow<int32_t> *t : {&g.parent, &g.firstChild, &g.lastChild, &g.nextSibling, &g.prevSibling,
                             &g.numChildren}) {
        CBLOB_FRAME_TRY(f, t->resize(n));
        for (int64_t r = 0; r < n; ++r) (*t)[r] = t == &g.numChildren ? 0 : kNone;
    }
    if (!st.keepTree) return f.exit();
    Search s;
    f.addObject<&Search::release>(&s, csys_cleanup_tempObject);
    for (Grow<int32_t> *t : {&s.disc, &s.low, &s.dfsParent, &s.stack, &s.finished}) {
        CBLOB_FRAME_TRY(f, t->reserve(n));
    }
    CBLOB_FRAME_TRY(f, s.next.resize(n));
    for (int64_t r = 0; r < n; ++r) {
        s.disc[r] = 0;
        s.dfsParent[r] = kNone;
    }
    CBLOB_FRAME_TRY(f, search(st, s));
    if (st.settings->connectivityCleanup == cblob_connectivityCleanupPrune) prune(st, s);
    return f.exit();
}

}  // namespace cblob::connect::labelled
