// The working state of one labelled connectivity scan (labelled_scan.hpp),
// shared by its files: the region records, the contacts between regions of
// different values, the adjacency graph built from them, the merges of the
// cleanup and the region tree.
//
// Regions are numbered in the order the scan opens them; region 0 is the
// outer region. During the scan regions of one value that meet are joined
// in a union-find forest (the older region survives); the fill cleanup
// joins regions in a second forest (`into`), whose members stay chained
// (`nextMember`) so that a group's neighbours are the neighbours of its
// members. Every table is an array from the memory service that grows by
// doubling.
#ifndef CBLOB_CONNECT_LABELLED_STATE_HPP
#define CBLOB_CONNECT_LABELLED_STATE_HPP

#include <cstdint>

#include "cblob/result_set.h"
#include "connect/standard_scan.hpp"
#include "core/frame.hpp"

namespace cblob::connect::labelled {

constexpr int32_t kOuter = 0;     // the outer region's number
constexpr int32_t kNone = -1;     // no region
constexpr int32_t kOuterValue = -1;  // the outer region's value: it joins no region

// An array from the memory service that grows by doubling. Not copyable;
// release() frees it (also from a cleanup list).
template <class T>
struct Grow {
    T *data = nullptr;
    int64_t size = 0;
    int64_t capacity = 0;

    Grow() = default;
    Grow(const Grow &) = delete;
    Grow &operator=(const Grow &) = delete;

    int32_t reserve(int64_t count) {
        if (count <= capacity) return 0;
        int64_t grown = capacity > 0 ? capacity * 2 : 64;
        if (grown < count) grown = count;
        const int32_t status = reallocate(grown * static_cast<int64_t>(sizeof(T)), &data);
        if (CBLOB_FAILED(status)) return status;
        capacity = grown;
        return 0;
    }
    // Size `count`, new entries uninitialised.
    int32_t resize(int64_t count) {
        const int32_t status = reserve(count);
        if (!CBLOB_FAILED(status)) size = count;
        return status;
    }
    int32_t push(const T &value) {
        if (size == capacity) {
            const int32_t status = reserve(size + 1);
            if (CBLOB_FAILED(status)) return status;
        }
        data[size++] = value;
        return 0;
    }
    T &operator[](int64_t i) { return data[i]; }
    const T &operator[](int64_t i) const { return data[i]; }
    static int32_t release(Grow *g) {
        const int32_t status = cblob::release(&g->data);
        g->size = g->capacity = 0;
        return status;
    }
};

// One region: its value, pixel count, sums over its unit pixel squares
// (2x+1, y, (x+1)^3 - x^3, (y+1)^3 - y^3, (2x+1)(2y+1)) and box (inclusive).
struct Region {
    int64_t mass;
    double sumX, sumY, sumXX, sumYY, sumXY;
    int32_t left, top, right, bottom;
    int32_t value;     // kOuterValue for the outer region
    int32_t link;      // scan forest: parent region (itself at a root)
    int32_t seenRow;   // last row that continued the region
};

// Per-region tables of the graph passes, indexed by region number.
struct GraphTables {
    Grow<int32_t> into;        // fill forest: the group a region was merged into (itself at a root)
    Grow<int32_t> nextMember;  // next member of the group chain, kNone at its end
    Grow<int32_t> lastMember;  // at a group's root: its chain's last member
    Grow<uint8_t> dead;        // 1: merged away, dropped or not a region of its own
    // The adjacency of the groups after the cleanup: neighbours of group r
    // at adj[adjStart[r]] .. adj[adjStart[r + 1] - 1], without the group
    // itself, dead groups or repeats (the outer region included).
    Grow<int64_t> adjStart;
    Grow<int32_t> adj;
    // The tree: parent (kNone for the outer region and regions outside it)
    // and child lists.
    Grow<int32_t> parent;
    Grow<int32_t> firstChild, lastChild, nextSibling, prevSibling, numChildren;
};

struct State {
    const ScanSettings *settings = nullptr;
    cblob_resultSet *rs = nullptr;
    bool moments = true;
    bool keepTree = true;
    Grow<Region> regions;
    // Contacts between regions of different values as (a << 32 | b); after
    // the scan, each pair once as (smaller << 32 | larger), sorted.
    Grow<uint64_t> contacts;
    // Regions in the order the scan completed them.
    Grow<int32_t> completed;
    // The adjacency of the regions the scan made (CSR over region numbers;
    // only scan roots have entries): neighbours of r at
    // scanAdj[scanAdjStart[r]] .. scanAdj[scanAdjStart[r + 1] - 1].
    Grow<int64_t> scanAdjStart;
    Grow<int32_t> scanAdj;
    GraphTables g;
};

// Path-halving find in a forest given as a parent table.
inline int32_t findRoot(int32_t *link, int32_t r) {
    while (link[r] != r) {
        link[r] = link[link[r]];
        r = link[r];
    }
    return r;
}

// Adds region `from`'s pixels, sums and box to region `into`.
inline void addRegion(Region &into, const Region &from, bool moments) {
    into.mass += from.mass;
    into.sumX += from.sumX;
    into.sumY += from.sumY;
    if (moments) {
        into.sumXX += from.sumXX;
        into.sumYY += from.sumYY;
        into.sumXY += from.sumXY;
    }
    if (from.left < into.left) into.left = from.left;
    if (from.top < into.top) into.top = from.top;
    if (from.right > into.right) into.right = from.right;
    if (from.bottom > into.bottom) into.bottom = from.bottom;
}

// Frees every table of the state (labelled_graph.cpp).
int32_t releaseState(State *st);

// ------------------------------------------------------- labelled_graph.cpp

// The scan's contacts into the adjacency of its regions (scanAdj).
int32_t buildScanAdjacency(State &st);

// Sets up the group tables, applies the fill cleanup when asked for, and
// builds the group adjacency (g.adj).
int32_t cleanupAndConnect(State &st);

// ------------------------------------------------------- labelled_tree.cpp

// The tree from the group adjacency, then the prune cleanup when asked for.
int32_t buildTree(State &st);

// ----------------------------------------------------- labelled_finish.cpp

// Finishes every live region, in completion order, into a blob; links the
// tree and the adjacency holders.
int32_t finishBlobs(State &st);

}  // namespace cblob::connect::labelled

#endif
