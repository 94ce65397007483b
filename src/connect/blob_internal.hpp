// The working region record of a connectivity scan: one for each region
// that is still open. Records live only inside pool blocks
// (blob_internal_pool.hpp) and become cblob_blob records when finished.
#ifndef CBLOB_CONNECT_BLOB_INTERNAL_HPP
#define CBLOB_CONNECT_BLOB_INTERNAL_HPP

#include <cstdint>

#include "cblob/blob.h"

// Tree links are untyped: a working record's children and siblings can be
// working records or finished cblob_blob records (region_tree.hpp reads the
// node kind before it touches them).
struct cblob_blob_internal_ {
    const cblob_nodeKind_ *nodeKind;  // set while the region tree is built
    void *firstChild;
    void *lastChild;
    void *parent;                     // the enclosing region
    void *nextSibling;
    void *prevSibling;
    int32_t label;                    // unique within one scan; older regions have smaller labels
    uint8_t colour;                   // 1 object, 0 background
    int64_t pixelCount;               // weighted scan only
    int64_t mass;                     // binary: pixels; weighted: sum of weight x length (64 bits: a region can pass 2^32 pixels)
    // Sums over the region's unit pixel squares (weighted in the weighted
    // scan): 2x+1, y, (x+1)^3 - x^3, (y+1)^3 - y^3, (2x+1)(2y+1).
    double sumX;
    double sumY;
    double sumXX;
    double sumYY;
    double sumXY;
    // The same sums unweighted (weighted scan with fill cleanup only).
    double plainSumX;
    double plainSumY;
    double plainSumXX;
    double plainSumYY;
    double plainSumXY;
    int32_t left;                     // window coordinates
    int32_t top;
    int32_t width;
    int32_t height;
    cblob_blob_internal_ *poolPrev;   // circular free list
    cblob_blob_internal_ *poolNext;
    void *adjChainBlock;              // labelled scan: current adjacency chain block
    void *adjFirst;                   // first, last and next free adjacency node
    void *adjLast;
    void *adjNextFree;
    int32_t seamState;                // banded scans: 0 opened below the band's first row, 1 in it, 2 held
    int32_t merged;                   // 1 once unlinked from the tree by a merge
    int32_t childCount;               // nodes in the child list (kept by region_tree)
};

#endif
