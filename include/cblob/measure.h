/*
 * cblob blob measures and box queries: every number a caller can ask of a
 * blob, by its measure code (cblob/blob.h), through one dispatcher; the
 * precomputation of the cached measures of a whole result set; and the
 * blob's box as an oriented rectangle, its median point, its interior flag
 * and its client transform.
 *
 * How a measure is obtained (by code):
 *   record   1, 2, 5-13, 17-25: read from the blob record each time.
 *   derived  14, 28, 29, 31, 33, 36, 39, 40, 42, 44, 47: formed from other
 *            measures each time, at the same angle and with the same
 *            exclusion flag:
 *              14 compactness  P^2 / (4 pi A), P = measure 4, A = the area
 *              28, 29          the angle box centre: (mx, my) + (m30 + m34/2) u
 *                              + (m32 + m35/2) v, (mx, my) read as measures 6, 7
 *              31 = 30 + 34, 33 = 32 + 35, 36 = 35 / 34
 *              39, 40          the principal box centre, as 28, 29 with 41, 45,
 *                              43, 46 at the principal angle (centre of mass
 *                              read from the record)
 *              42 = 41 + 45, 44 = 43 + 46, 47 = 46 / 45
 *            (a ratio over a zero extent is +inf, or NaN over 0 / 0).
 *   cached   computed once per blob and kept in the result set's cache, a
 *            whole group at a time:
 *              boundary   3, 4, 15
 *              angle      26, 27, 30, 32, 34, 35 (keys 48: the angle,
 *                         49: the exclusion amount)
 *              principal  37, 38, 41, 43, 45, 46 (key 50: the exclusion amount)
 *              interior   16
 *            A cached angle value is reused only when it was computed at
 *            exactly the same angle and exclusion amount, a principal value
 *            only with the same amount; otherwise the group is computed
 *            again and replaces the old values. Changing the exclusion
 *            setting or the default angle therefore costs nothing until a
 *            measure is read. Codes 48 to 50 read the keys of the last
 *            computation of their group for the blob.
 *
 * The box at an angle a: u = (cos a, sin a), v = (-sin a, cos a) in client
 * coordinates; box coordinates are client lengths along u and v measured
 * from the blob's centre of mass. 30/32 are the box's low u and v, 34/35 its
 * extents; 26/27 the median point (client x, y), the point whose u and v
 * each split the blob's mass in halves. The box holds the blob's pixel
 * squares exactly when no mass is excluded. With extrema exclusion an
 * amount E of mass is cut off each end of each axis (E in run-weight units,
 * from the result set's setting: mode 1 an area / |det| of the blob's
 * transform, mode 3 value% of the area / |det|, other modes the value; then
 * times the weight scale unless the run used connectivity type 1). An E
 * above half the blob's mass leaves both ends on the median (extent 0); a
 * negative E (mode 0 accepts one) widens the box beyond the pixels.
 * The principal group is the same box at the blob's principal angle
 * (measure 13).
 *
 * Measures that need what the run did not compute:
 *   - 6 to 13 and 28, 29: cblob_err_measureUnavailable when the run did not
 *     compute second moments. So do the principal measures 37 to 47, as the
 *     principal angle is then unknown. The angle group (26, 27, 30, 32, 34,
 *     35) takes the centre of mass from the blob's runs and works without
 *     moments.
 *   - the angle and principal groups need the blob's runs
 *     (cblob_blob_getRleRows): cblob_err_rleImageEmpty when the run did not
 *     keep per-blob images (keepBlobImages).
 *   - the boundary group (3, 4, 15, and 14 through 4) traces the blob's
 *     outer boundary (cblob/boundary.h defines the step count, perimeter,
 *     compactness and acircularity); the trace reads the blob's runs:
 *     cblob_err_rleImageEmpty without keepBlobImages. Without second
 *     moments the acircularity is taken about the centre of the blob's
 *     pixels.
 *
 * Conventions of every function here:
 *   - Returns 0 or a failure status (bit 31 set; cblob/status.h).
 *   - A null required pointer, a blob without a result set, or a result set
 *     whose cache was not set up by a run (one valid-bits word per blob) is
 *     reported through cstd_assert_; the call then returns
 *     csys_err_assertFailed.
 *   - Outputs are written only on success. A failed computation stores
 *     nothing: values cached before stay valid.
 *   - Memory comes from the memory service; its failure status
 *     (csys_err_outOfMemory) is returned unchanged and nothing leaks.
 *   - Thread-safety: reading a measure may write the result set's measure
 *     cache and blob database, so a result set and its blobs must not be
 *     used by two threads at once; distinct result sets are independent.
 */
#ifndef CBLOB_MEASURE_H
#define CBLOB_MEASURE_H

#include <stdint.h>

#include "cblob/blob.h"
#include "cblob/containers.h"
#include "cblob/export.h"
#include "cblob/math.h"
#include "cblob/result_set.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* --------------------------------------------------------------- measures */

/**
 * *value = measure `code` of the blob; the angle-box codes 26 to 36 at the
 * result set's default angle (cblob_resultSet_setExcludeExtrema).
 * useExclusion: non-zero applies the result set's extrema exclusion to the
 * box measures (26 to 47), 0 computes the exact box.
 * Statuses, in the order checked:
 *   cblob_err_badMeasure (0x8000129B)      code outside 1 .. 50, or a key
 *                                          code 48 .. 50 before its group
 *                                          was computed for the blob
 *   cblob_err_angleMeasureNotForMode (0x800012E5)
 *                                          3, 4, 14 or 15 in a result set
 *                                          made with connectivity type 2
 *   cblob_err_measureUnavailable (0x80001287)
 *                                          a moment measure (6-13, 28, 29,
 *                                          37-47) without second moments
 *   cblob_err_rleImageEmpty (0x80001286)   a box or boundary measure (3, 4,
 *                                          14, 15, 26-47) when the blob's
 *                                          runs are not available
 *   csys_err_stopRequested                 the attention check stopped a
 *                                          boundary trace
 *   memory failures of a computation.
 * Writes the result set's cache (see the thread-safety note above).
 */
CBLOB_API int32_t cblob_blob_getMeasure(cblob_blob *blob, cblob_measure code, int32_t useExclusion, double *value);

/**
 * As cblob_blob_getMeasure, with *angle (radians, required) instead of the
 * default angle for codes 26 to 36; other codes ignore it. Statuses as
 * cblob_blob_getMeasure.
 */
CBLOB_API int32_t cblob_blob_getMeasureAtAngle(cblob_blob *blob, cblob_measure code, int32_t useExclusion,
                                               double *value, const double *angle);

/**
 * Fills the cache for every blob of the result set (filtered out or not)
 * for the groups the listed codes belong to: 3, 4, 15 the boundary group;
 * 26 to 36 the angle group at the default angle; 37 to 47 the principal
 * group; every other code (14 and 16 among them) is ignored. Exclusion is applied when
 * the stored exclusion mode is non-zero. Blobs whose group is already
 * cached with matching keys are skipped.
 * Statuses, in the order checked (nothing is computed before):
 *   cblob_err_measureNotForMode (0x8000129D)  the boundary group is asked
 *                                             in a result set made with
 *                                             connectivity type 2
 *   cblob_err_rleImageEmpty (0x80001286)      the result set holds no blob
 *                                             database (the run did not
 *                                             keep per-blob images)
 *   then the first failure of a blob's computation (for instance
 *   cblob_err_measureUnavailable for the principal group without moments,
 *   or memory); the blobs computed before it keep their cached values.
 * codes: required. Writes the cache: not thread-safe with other uses of rs.
 */
CBLOB_API int32_t cblob_resultSet_precomputeMeasures(cblob_resultSet *rs, const cstd_vector_cblob_measure *codes);

/* ---------------------------------------------------------- box queries */

/**
 * The box at an angle as a rectangle: centre = measures 28, 29, x side =
 * measure 34 along (cos a, sin a), y side = measure 35 along (-sin a, cos a)
 * (both rotations a). useExclusion as for cblob_blob_getMeasure.
 * cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema is the general form:
 * *angle required; rect, center (2 doubles: x, y) and aspect (measure 35 /
 * measure 34) each optional (null: not written). The other three are short
 * forms: the default angle and/or no exclusion; rect required.
 * Statuses: those of the measures read (cblob_blob_getMeasure), returned
 * with nothing written; cmath_err_badShape when the rectangle cannot be
 * made (a non-finite value).
 */
CBLOB_API int32_t cblob_blob_getBoundingBox(cblob_blob *blob, cmath_shapeAffineRect *rect);
CBLOB_API int32_t cblob_blob_getBoundingBoxAtAngle(cblob_blob *blob, const double *angle,
                                                   cmath_shapeAffineRect *rect);
CBLOB_API int32_t cblob_blob_getBoundingBoxAndExcludeExtrema(cblob_blob *blob, int32_t useExclusion,
                                                             cmath_shapeAffineRect *rect);
CBLOB_API int32_t cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema(cblob_blob *blob, int32_t useExclusion,
                                                                    const double *angle,
                                                                    cmath_shapeAffineRect *rect, double center[2],
                                                                    double *aspect);

/**
 * median[0], median[1] = measures 26 and 27 at *angle, without exclusion:
 * the client point whose u and v coordinates each split the blob's mass in
 * halves. Statuses as cblob_blob_getMeasure.
 */
CBLOB_API int32_t cblob_blob_getMedian(cblob_blob *blob, const double *angle, double median[2]);

/**
 * *isInterior = 1 when the blob touches neither the edge of the run's
 * window nor the edge of the run's mask, else 0 (measure 16 as an int32).
 * A blob whose box reaches a window edge is never interior. With a mask,
 * every run of the blob must lie strictly inside one mask run of its own row
 * (starting and ending elsewhere) and have, for each pixel x, the pixels
 * x - 1 .. x + 1 of the rows above and below inside one mask run.
 * Statuses: cblob_err_rleImageEmpty when a mask must be compared and the
 * blob's runs are not available; memory failures.
 */
CBLOB_API int32_t cblob_blob_getIsInterior(cblob_blob *blob, int32_t *isInterior);

/**
 * *xform = the blob's client-from-image transform (its own entry, or the
 * result set's shared linear transform). A blob without one is a broken
 * invariant (assert). Returns 0; thread-safe.
 */
CBLOB_API int32_t cblob_blob_getClientFromImageXform(const cblob_blob *blob, cmath_xformLinear *xform);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_MEASURE_H */
