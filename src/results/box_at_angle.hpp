// The box of a blob at an angle, computed from the blob's rows: the median
// point and the extents along the rotated axes u = (cos a, sin a) and
// v = (-sin a, cos a), with an amount of mass excluded from each end.
#ifndef CBLOB_RESULTS_BOX_AT_ANGLE_HPP
#define CBLOB_RESULTS_BOX_AT_ANGLE_HPP

#include <cstdint>

#include "cblob/math.h"
#include "cblob/rle_image.h"

namespace cblob::results {

// A blob's rows: `height` row entries covering its box, x measured from
// `left`; grey rows carry value bytes (a pixel belongs to the blob when its
// value is non-zero and weighs that value), binary rows alternate blob and
// gap runs from their start flag and weigh 1 per blob pixel.
struct BlobRows {
    const cblob_rleRow *rows;
    int32_t isGrey;
    int32_t left, top, width, height;  // the box, image coordinates
};

// A record over the rows, enough for the run-length readers (size, grey
// flag, row table; nothing owned, nothing to destruct).
cblob_imageRle rowsRecord(const BlobRows &rows);

struct BoxAtAngle {
    double referenceX, referenceY;  // mass-weighted mean of the pixel centres, image coordinates
    double mass;                    // total weight of the rows
    double medianU, medianV;        // the median point, box coordinates
    double medianX, medianY;        // the median point, client coordinates
    double uMin, vMin;              // the box's low corner, box coordinates
    double width, height;           // its extents along u and v (>= 0)
};

// Box coordinates are client lengths along u and v measured from the client
// image of the reference point. `clientFromImage` maps image to client
// coordinates; `amount` is the weight excluded from each end of each axis
// (0: the exact box of the pixel squares). An amount above half the mass
// makes both ends the median (a box of no extent); a negative amount widens
// the box beyond the pixels by the same rule.
// Statuses: cblob_err_rleImageEmpty when the rows hold no weight; memory
// failures of the profiles (nothing written then).
int32_t boxAtAngle(const BlobRows &rows, const cmath_xformLinear &clientFromImage, double angle, double amount,
                   BoxAtAngle *out);

}  // namespace cblob::results

#endif
