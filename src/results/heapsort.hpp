// The heapsort of the view, of child lists and of the top-level chain. It is
// not stable, and the order it leaves equal keys in is part of the result
// set's behaviour: callers see it in the view.
#ifndef CBLOB_RESULTS_HEAPSORT_HPP
#define CBLOB_RESULTS_HEAPSORT_HPP

#include <cstdint>

#include "cblob/blob.h"

namespace cblob::results {

// Sorts keys[1..n] with blobs[1..n] moved along (index 0 is not used), in
// ascending order when ascending is true, else descending. n < 2 leaves
// both arrays alone.
void heapsortBlobs(double *keys, cblob_blob **blobs, int32_t n, bool ascending);

}  // namespace cblob::results

#endif
