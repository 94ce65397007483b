// The whole-image scan (connectivityType 2): no connectivity at all. Every
// object run of the window, connected or not, adds to one blob with the
// statistics the standard scan computes for a region: area, centre of mass,
// box and second moments.
//
// Input rows come from a run-length image: binary runs (colour 1 is object,
// weight 1), grey runs (a value other than 0 is object and weighs its value),
// or wide runs of either kind, whose label slot the scan sets to 1 for object
// runs and 0 for the others. Large windows are summed in bands, one job per
// band on the job thread group, each into the one record of its own pool;
// the calling thread adds the bands' records, top band first.
#ifndef CBLOB_CONNECT_WHOLE_IMAGE_SCAN_HPP
#define CBLOB_CONNECT_WHOLE_IMAGE_SCAN_HPP

#include <cstdint>

#include "cblob/job.h"
#include "cblob/result_set.h"
#include "cblob/rle_image.h"
#include "connect/blob_internal_pool.hpp"
#include "connect/standard_scan.hpp"

namespace cblob::connect {

// Sums *image (of the settings' width and height) in `bands` bands (1 or
// more, at most one per row; band k covers rows k * h .. k * h + h - 1 with
// h = height / bands, the last band to the last row) on `group`, pools[k]
// being band k's pool of 2-record blocks (else an assertion). With an object
// pixel, one blob goes to the result set's blob blocks: the next label of
// its blob counter, colour 1, grey flag 0, no tree links (the result set's
// first top-level blob when it had none), finished as the
// standard scan finishes an object region (the weighted rule for grey runs)
// and mapped by the client transform. Without one, no blob. With a label
// map, it becomes {0, 1}; blob labels map the blob to working label 1.
// Statuses: cblob_err_connectivityConflict (0x8000129C) when
// connectivityCleanup is not 0, before anything else;
// cblob_err_rleImageNoRows for an image without rows; the attention check's
// (polled at rows that are multiples of 32 in every band), the job thread
// group's, memory failures, and those of finishing (cmath_err_outsideDomain
// for a non-linear transform undefined at the centre of mass). On failure
// the result set holds no blob of the scan.
int32_t scanWholeImage(const cblob_imageRle *image, const ScanSettings &settings, BlobInternalPool *pools,
                       int32_t bands, const csys_jobThreadGroup *group, cblob_resultSet *rs);

}  // namespace cblob::connect

#endif
