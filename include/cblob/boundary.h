/*
 * cblob boundary tracing: the chain code of a blob's outer boundary, alone
 * or with the boundary measures or the principal-axis box.
 *
 * The outer boundary runs along pixel edges (a crack boundary) through pixel
 * corners: pixel (x, y) has the corners (x, y) to (x + 1, y + 1). It keeps
 * the blob on its right (clockwise on the screen, y down) and starts at the
 * top-left corner of the first run of the blob's top row, moving +x. Its
 * chain code has one byte per unit step and ends with a marker:
 *   0 +x   1 -x   2 +y (down)   3 -y (up)   4 end marker (no step)
 * Only the outer boundary is traced: the boundary of a hole is the outer
 * boundary of the hole blob (the blob's children). Where two pixels of
 * neighbouring rows touch only at a corner, objects (colour 1) connect across
 * it and holes (colour 0) do not, as in the labelling (8-connected objects,
 * 4-connected holes); an object whose pixels touch that way passes the shared
 * corner twice. A one-pixel blob at (x, y) starts at (x, y) with the chain
 * 0 2 1 3 4.
 *
 * The boundary measures (cblob/measure.h, codes 3, 4, 14, 15) come from the
 * same trace: 3 the number of steps N; 4 the perimeter
 *   P = (nH + nV - 0.58579 C) * 0.94806
 * with nH, nV the horizontal and vertical steps and C the convex corners
 * (each cuts two unit edges short by a diagonal; the factor corrects the bias
 * of digitised curves), or, with a client transform whose matrix is not the
 * identity and x and y scales sx and sy,
 *   P = (nV sy + nH sx - C (sx + sy - sqrt(sx^2 + sy^2))) * 0.94806;
 * 14 the compactness P^2 / (4 pi A); 15 the acircularity
 *   1 + sqrt(mean over the N boundary points of (|p - c| - R)^2) / R
 * with R = sqrt(A / pi) the radius of the circle of the blob's area A and c
 * its centre of mass (the centre of its pixels when the run computed no
 * moments), all in client coordinates. The perimeter of a digitised disc
 * of radius r pixels lies within 3% of 2 pi r from r = 10 on and within 1%
 * from r = 30 on (mostly a little short; up to 11% for r = 2), and its
 * acircularity below 1 + 0.4 / r; a square's perimeter is exact but for its
 * four corner cuts. The measure cache keeps 3, 4 and 15; the chain-code
 * calls below trace afresh each time.
 *
 * The trace reads the blob's rows (cblob_blob_getRleRows), so it needs a run
 * that kept per-blob images (keepBlobImages); it works in memory of its own
 * that it frees before it returns.
 *
 * Conventions of every function here:
 *   - Returns 0 or a failure status (bit 31 set; cblob/status.h), in this
 *     order: cblob_err_traceNotForMode (0x800012E1) for a result set made
 *     with connectivity type 2 (the whole-image blob has no boundary); those
 *     of cblob_blob_getRleRows (cblob_err_rleImageEmpty (0x80001286) when the
 *     run kept no per-blob images; memory failures); the attention check's
 *     (csys_err_stopRequested), polled while the spans are built and during
 *     long walks; memory failures; then those of the measures read.
 *   - A null blob, or a blob without a result set, is reported through
 *     cstd_assert_; the call then returns csys_err_assertFailed.
 *   - Outputs are optional (null: not wanted) and written only on success;
 *     the chain vector is assigned (its old contents replaced) then.
 *   - Thread-safety: the trace writes the result set's blob database (the
 *     rows) and the measures its cache, so a result set and its blobs must
 *     not be used by two threads at once.
 */
#ifndef CBLOB_BOUNDARY_H
#define CBLOB_BOUNDARY_H

#include <stdint.h>

#include "cblob/blob.h"
#include "cblob/containers.h"
#include "cblob/export.h"
#include "cblob/math.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * start[0], start[1] = the first corner of the blob's outer boundary (image
 * coordinates); *chain = its chain code, the end marker included (size = the
 * step count + 1). start and chain may each be null.
 */
CBLOB_API int32_t cblob_blob_getBoundaryChainCode(cblob_blob *blob, int32_t start[2], cstd_vector8 *chain);

/**
 * The chain code as cblob_blob_getBoundaryChainCode when start or chain is
 * non-null, then measures 4 (perimeter), 14 (compactness) and 15
 * (acircularity) into the non-null outputs, without extrema exclusion and
 * through the measure cache.
 */
CBLOB_API int32_t cblob_blob_getBoundaryChainCodeAndMeasures(cblob_blob *blob, int32_t start[2],
                                                             cstd_vector8 *chain, double *perimeter,
                                                             double *compactness, double *acircularity);

/**
 * The box along the blob's principal axes and the chain code:
 *   rect: the oriented rectangle with centre (measures 39, 40), x side
 *     measure 45 and y side measure 46, both rotated by the blob's principal
 *     angle (measure 13);
 *   center: (measures 39, 40); aspect: measure 47;
 *   start, chain: as cblob_blob_getBoundaryChainCode, when either is non-null.
 * The box measures are read without extrema exclusion; they need the run's
 * second moments (cblob_err_measureUnavailable otherwise) and the blob's rows.
 * cmath_err_badShape when the rectangle cannot be made.
 */
CBLOB_API int32_t cblob_blob_getBoundaryChainCodeAndPrincipalAxisBoundingBox(cblob_blob *blob, int32_t start[2],
                                                                             cstd_vector8 *chain,
                                                                             cmath_shapeAffineRect *rect,
                                                                             double center[2], double *aspect);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_BOUNDARY_H */
