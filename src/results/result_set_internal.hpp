// Internals of the result set shared by its files and by the filters, the
// sort and the run pipeline: the view and the current link set.
#ifndef CBLOB_RESULTS_RESULT_SET_INTERNAL_HPP
#define CBLOB_RESULTS_RESULT_SET_INTERNAL_HPP

#include <cstdint>

#include "cblob/result_set.h"

namespace cblob::results {

// Restores the unfiltered view: the view array is (re)allocated to numBlobs
// entries and filled with the all-blobs array, the view count becomes
// numBlobs, every blob's current links (child count, first and last child,
// next and previous sibling) are reset from its labelled ones, and the view's
// first top-level blob becomes the labelled one. On a memory failure nothing
// changes.
int32_t restoreUnfilteredView(cblob_resultSet *rs);

// The unfiltered view of blobs whose current links already equal their
// labelled ones (a fresh run's blobs: the scan writes both sets alike): the
// view array is (re)allocated to numBlobs entries and becomes a copy of the
// all-blobs array, the view count becomes numBlobs and the view's first
// top-level blob the labelled one. The blob records are not touched. On a
// memory failure nothing changes.
int32_t setUnfilteredViewOfFreshBlobs(cblob_resultSet *rs);

// Makes the view the `count` blobs at `blobs` (which may lie in the view
// itself), in that order. count must lie in 0 .. numBlobs and the view array
// must exist when count > 0 (else assert). Never allocates.
int32_t setView(cblob_resultSet *rs, cblob_blob *const *blobs, int32_t count);

// Links the `count` blobs at `nodes` into one chain of current siblings in
// that order (the first gets no previous, the last no next sibling).
int32_t relinkCurrentSiblings(cblob_blob *const *nodes, int32_t count);

// Makes the `count` blobs at `children` the current children of `parent`, in
// that order: its current child count, first and last child, and the chain.
int32_t setCurrentChildren(cblob_blob *parent, cblob_blob *const *children, int32_t count);

}  // namespace cblob::results

#endif
