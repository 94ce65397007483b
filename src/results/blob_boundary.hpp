// The outer boundary of one blob: its chain code, and the boundary measures
// (step count, perimeter, acircularity) from one trace.
#ifndef CBLOB_RESULTS_BLOB_BOUNDARY_HPP
#define CBLOB_RESULTS_BLOB_BOUNDARY_HPP

#include <cstdint>

#include "cblob/blob.h"
#include "cblob/containers.h"

namespace cblob::results {

struct BoundaryMeasures {
    double steps;         // the number of unit steps
    double perimeter;     // corner-corrected, in client units
    double acircularity;  // 1 + rms distance of the boundary points from the area-equivalent circle / its radius
};

// Traces the blob's outer boundary; *start = its first corner (image
// coordinates) and *chain = the chain code (one byte per step, 0 +x, 1 -x,
// 2 +y, 3 -y, then the end marker 4), each only when non-null and only on
// success. Statuses: cblob_err_traceNotForMode in whole-image mode, those
// of cblob_blob_getRleRows, the attention check's, memory failures.
int32_t traceBoundaryChain(cblob_blob *blob, int32_t start[2], cstd_vector8 *chain);

// The same trace, giving the measures instead of the chain.
int32_t traceBoundaryMeasures(cblob_blob *blob, BoundaryMeasures *out);

}  // namespace cblob::results

#endif
