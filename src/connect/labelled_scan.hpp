// The labelled connectivity scan: regions of equal run value (binary runs:
// equal colour bit) in a run-length image whose runs carry many values, such
// as a label image or a map segmentation; the graph of which regions touch
// which (the region adjacency graph); the enclosure tree built from it; the
// small-region cleanup; and the finishing of every kept region into a
// cblob_blob of the result set.
//
// Contacts are 6-connected for every value: a pixel touches its left, right,
// upper and lower neighbours and its upper-left and lower-right diagonal
// neighbours. Regions of one value that touch are one region; regions of
// different values that touch are neighbours. The window is surrounded by
// the outer region, which is never reported: every region that reaches the
// window border is its neighbour.
//
// The tree: a region's parent is the region that separates it from the
// outer region in the adjacency graph (the nearest such region: the one of
// another value that encloses it). Regions that no single region separates
// from the outer region are top-level blobs.
//
// Cleanup: prune (1) drops regions below minArea pixels that enclose nothing
// (innermost first, so a small region whose small children were all dropped
// goes too); fill (2) merges every region below minArea pixels, smallest
// first, into its largest neighbour other than the outer region (a region
// whose only neighbour is the outer region is dropped), and then merges into
// that neighbour every neighbour of its value, which the small region no
// longer separates from it; the tree is built after the fill.
//
// Blobs: colour is the region's value (binary runs: 0 or 1), the grey flag 0,
// labels from 1 without gaps in the order the regions were completed by the
// scan (top-down by last row). Each blob's adjacencyHolder points at its
// cblob_blobAdjacency (cblob/blob.h), kept in the result set's run work
// blocks for as long as the blobs live.
#ifndef CBLOB_CONNECT_LABELLED_SCAN_HPP
#define CBLOB_CONNECT_LABELLED_SCAN_HPP

#include <cstdint>

#include "cblob/result_set.h"
#include "cblob/rle_image.h"
#include "connect/standard_scan.hpp"

namespace cblob::connect {

// Labels the rows of `rle` (binary or grey runs, narrow or wide; rows that do
// not cover the width are cut at the width or padded with value 0) over the
// settings' window. Uses of the settings: connectivityCleanup, minArea
// (compared with the pixel count), computeSecondMoments, computeTopology
// (the tree is built with it or with any cleanup), scaleVal (area of regions
// with a value other than 0 = pixels / scaleVal), the window origin and
// size, the client transform, the spare blob blocks, and for per-blob runs
// the label map and the blob label table (`weighted` is ignored). With wide
// rows, each run's label slot receives the number of the region the scan put
// it in; the label map then gets [region] = region for a region that became
// a blob, -region for one merged into that region (by the scan or the fill),
// 0 for one dropped; the blob label table [blob label] = the blob's region
// number. Blobs are appended to rs's blob
// blocks (created when missing), numbered from rs->numBlobs + 1; the first
// top-level blob is set when the tree is built and rs had none. Polls the
// attention check before rows 0, 32, 64, ... and once before the graph
// passes. Statuses: cblob_err_rleImageNoRows (0x800012E3) for an image without
// rows; cblob_err_badScaleVal for a scaleVal below 1; csys_err_badSize when
// the window or the region count does not fit the tables; the attention
// status; cmath_err_outsideDomain when a non-linear transform is undefined
// at a blob's centre of mass; memory failures. On failure blobs already
// written stay in rs for the caller to clear; nothing else is left.
// Thread-safety: one call per result set at a time; the image is only read,
// except for the label slots of wide rows.
int32_t scanLabelled(const cblob_imageRle *rle, const ScanSettings &settings, cblob_resultSet *rs);

}  // namespace cblob::connect

#endif
