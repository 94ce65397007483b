/*
 * cblob geometry services: 2x2 matrices, 2-D affine ("linear") transforms,
 * a shared immutable transform handle that holds either an affine or a
 * perspective transform, the affine rectangle, and two scalar helpers.
 *
 * Conventions
 *   - A matrix maps the column vector (x, y) to (m00 x + m01 y, m10 x + m11 y).
 *   - An affine transform maps a point p to M p + t; a vector only to M v.
 *   - Every function returns a status (0 on success) and writes its results
 *     through pointer arguments, only on success. Outputs may alias inputs.
 *   - A null required pointer is reported through cstd_assert_ and the call
 *     then returns csys_err_assertFailed.
 *   - Singular means: the determinant is not finite, or its magnitude is within
 *     rounding error of zero, |det| <= 8 * DBL_EPSILON * (|m00 m11| + |m01 m10|).
 *     The test does not depend on the scale of the matrix.
 *   - The plain-value functions are thread-safe. The handle follows the rule
 *     of counted handles (sys.h): two threads may use two handles of one
 *     transform; one handle must not be used by two threads at once.
 */
#ifndef CBLOB_MATH_H
#define CBLOB_MATH_H

#include <stdint.h>

#include "cblob/export.h"
#include "cblob/status.h"
#include "cblob/sys.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------- scalars */

/** *result = the largest whole number not above x (floor). Returns 0. */
CBLOB_API int32_t cmath_double_floor(double x, double *result);
/** *result = x * x. Returns 0. */
CBLOB_API int32_t cmath_double_sqr(double x, double *result);

/* -------------------------------------------------------------- 2x2 matrix */

/** A 2x2 matrix, row by row. */
typedef struct cmath_matrix {
    double m00, m01;
    double m10, m11;
} cmath_matrix;

/** Sets the matrix row by row: [[m00, m01], [m10, m11]]. Returns 0. */
CBLOB_API int32_t cmath_matrix_init(cmath_matrix *m, double m00, double m01, double m10, double m11);
/** Sets the identity matrix. Returns 0. */
CBLOB_API int32_t cmath_matrix_initIdentity(cmath_matrix *m);
/** *out = the inverse of *m; cmath_err_singularXform when *m is singular. */
CBLOB_API int32_t cmath_matrix_initInverse(cmath_matrix *out, const cmath_matrix *m);
/** *out = a b (b applied to a vector first). Returns 0. */
CBLOB_API int32_t cmath_matrix_initMultiply(cmath_matrix *out, const cmath_matrix *a, const cmath_matrix *b);
/** *out = a b c. Returns 0. */
CBLOB_API int32_t cmath_matrix_initMultiply3(cmath_matrix *out, const cmath_matrix *a, const cmath_matrix *b,
                                             const cmath_matrix *c);
/** *out = the transpose of *m. Returns 0. */
CBLOB_API int32_t cmath_matrix_initTranspose(cmath_matrix *out, const cmath_matrix *m);
/** *det = m00 m11 - m01 m10. Returns 0. */
CBLOB_API int32_t cmath_matrix_getDeterminant(const cmath_matrix *m, double *det);
/** *isIdentity = 1 when the matrix is exactly the identity, else 0. Returns 0. */
CBLOB_API int32_t cmath_matrix_getIsIdentity(const cmath_matrix *m, int32_t *isIdentity);
/** *isSingular = 1 when the matrix is singular (see Conventions), else 0. Returns 0. */
CBLOB_API int32_t cmath_matrix_getIsSingular(const cmath_matrix *m, int32_t *isSingular);
/** *scale = the length of the image of the unit x vector, |(m00, m10)|. Returns 0. */
CBLOB_API int32_t cmath_matrix_getXScale(const cmath_matrix *m, double *scale);
/** *scale = the length of the image of the unit y vector, |(m01, m11)|. Returns 0. */
CBLOB_API int32_t cmath_matrix_getYScale(const cmath_matrix *m, double *scale);

/* ------------------------------------------------------ affine transforms */

/** The affine transform p -> matrix p + (tx, ty). */
typedef struct cmath_xformLinear {
    cmath_matrix matrix;
    double tx, ty;
} cmath_xformLinear;

/** Sets the identity transform. Returns 0. */
CBLOB_API int32_t cmath_xformLinear_initIdentity(cmath_xformLinear *xf);
/** Sets the transform p -> (*matrix) p + (tx, ty). Returns 0. */
CBLOB_API int32_t cmath_xformLinear_init(cmath_xformLinear *xf, const cmath_matrix *matrix, double tx, double ty);
/** (*ox, *oy) = the image of the point (x, y). Returns 0. */
CBLOB_API int32_t cmath_xformLinear_mapPoint(const cmath_xformLinear *xf, double x, double y, double *ox, double *oy);
/**
 * (*ox, *oy) = the point whose image is (x, y). cmath_err_singularXform when
 * the matrix is singular.
 */
CBLOB_API int32_t cmath_xformLinear_invMapPoint(const cmath_xformLinear *xf, double x, double y, double *ox,
                                                double *oy);
/** (*ox, *oy) = the image of the vector (x, y): the matrix alone. Returns 0. */
CBLOB_API int32_t cmath_xformLinear_mapVector(const cmath_xformLinear *xf, double x, double y, double *ox,
                                              double *oy);
/** *out = the inverse transform; cmath_err_singularXform when the matrix is singular. */
CBLOB_API int32_t cmath_xformLinear_initInverse(cmath_xformLinear *out, const cmath_xformLinear *xf);
/** *out = a after b: p -> a(b(p)). Returns 0. */
CBLOB_API int32_t cmath_xformLinear_initCompose(cmath_xformLinear *out, const cmath_xformLinear *a,
                                                const cmath_xformLinear *b);
/** *isIdentity = 1 when the matrix is exactly the identity and the translation exactly 0. Returns 0. */
CBLOB_API int32_t cmath_xformLinear_getIsIdentity(const cmath_xformLinear *xf, int32_t *isIdentity);

/* ------------------------------------------------- shared transform handle */

/**
 * A counted handle on an immutable 2-D transform, or on nothing. The
 * transform is either affine ("linear") or perspective: a 3x3 homography H,
 * row by row, mapping (x, y) to ((h0 x + h1 y + h2) / w, (h3 x + h4 y + h5) / w)
 * with w = h6 x + h7 y + h8.
 *
 * A null handle stands for the identity everywhere in the library: it maps
 * points to themselves, is linear, and its inverse is again null.
 *
 * Every transform is created together with its inverse in one shared heap
 * object; a handle refers to one of the two directions. So getInverseConst
 * never allocates, and the inverse of the inverse is the original transform.
 * Copies of a handle share the object (the count is atomic); the object is
 * freed when the last handle of either direction lets go. The field is
 * public only so that the handle can be embedded in other structures; use the
 * functions below (or cstd_ptrh_getRefCount on &h->ptrh) to work with it.
 *
 * Constructors write nothing when they fail: the handle is then not
 * constructed and must not be destructed.
 */
typedef struct cmath_xformPtrhConst {
    cstd_ptrh ptrh;
} cmath_xformPtrhConst;

/** Constructs a null handle (the identity). Returns 0. */
CBLOB_API int32_t cmath_xformPtrhConst_construct(cmath_xformPtrhConst *h);
/** Constructs a handle sharing src's transform. Returns 0. */
CBLOB_API int32_t cmath_xformPtrhConst_constructCopy(cmath_xformPtrhConst *h, const cmath_xformPtrhConst *src);
/**
 * Constructs a handle on a new transform equal to *linear. A singular matrix
 * is accepted (the transform exists; only its inverse does not).
 * Returns csys_err_outOfMemory when the object cannot be allocated.
 */
CBLOB_API int32_t cmath_xformPtrhConst_constructLinear(cmath_xformPtrhConst *h, const cmath_xformLinear *linear);
/**
 * Constructs a handle on a new perspective transform with the homography
 * h[0..8] (row by row; any non-zero scale of H is the same transform). When
 * h6 and h7 are both 0 the transform is affine and is stored as a linear one
 * (getIsLinear then reports 1). Returns cmath_err_singularXform when H is
 * singular or has a non-finite coefficient (relative test as for matrices,
 * on the terms of the 3x3 determinant), csys_err_outOfMemory when the object
 * cannot be allocated.
 */
CBLOB_API int32_t cmath_xformPtrhConst_constructPerspective(cmath_xformPtrhConst *h, const double coefficients[9]);
/** Makes h share src's transform (or nothing). Self-assignment is safe. Returns 0. */
CBLOB_API int32_t cmath_xformPtrhConst_assign(cmath_xformPtrhConst *h, const cmath_xformPtrhConst *src);
/** Makes h null, dropping its reference. Returns 0. */
CBLOB_API int32_t cmath_xformPtrhConst_assignNull(cmath_xformPtrhConst *h);
/** Drops h's reference; h is null afterwards. Returns 0. */
CBLOB_API int32_t cmath_xformPtrhConst_destruct(cmath_xformPtrhConst *h);
/** *isNull = 1 when h holds no transform. Returns 0. */
CBLOB_API int32_t cmath_xformPtrhConst_getIsNull(const cmath_xformPtrhConst *h, int32_t *isNull);
/** *isLinear = 1 for an affine transform and for a null handle, 0 for a perspective one. Returns 0. */
CBLOB_API int32_t cmath_xformPtrhConst_getIsLinear(const cmath_xformPtrhConst *h, int32_t *isLinear);
/**
 * *linear = the affine transform itself (x, y are ignored), the identity for
 * a null handle, or for a perspective transform its local affine
 * approximation at (x, y): the matrix is the Jacobian at (x, y) and the
 * translation makes it map (x, y) exactly to the transform's image of it.
 * cmath_err_outsideDomain when (x, y) lies on the perspective transform's
 * line at infinity (w = 0) or its image is not finite.
 */
CBLOB_API int32_t cmath_xformPtrhConst_getLinear(const cmath_xformPtrhConst *h, double x, double y,
                                                 cmath_xformLinear *linear);
/**
 * Makes *inverse (a constructed handle) share the inverse transform; a null
 * handle gives a null handle. Never allocates. cmath_err_singularXform when
 * the transform is linear and singular; *inverse is then unchanged.
 */
CBLOB_API int32_t cmath_xformPtrhConst_getInverseConst(const cmath_xformPtrhConst *h, cmath_xformPtrhConst *inverse);
/**
 * (*ox, *oy) = the image of the point (x, y) (the point itself for a null
 * handle). cmath_err_outsideDomain when a perspective transform's w is 0 at
 * the point or the image is not finite.
 */
CBLOB_API int32_t cmath_xformPtrhConst_mapPoint(const cmath_xformPtrhConst *h, double x, double y, double *ox,
                                                double *oy);
/**
 * coefficients[0..8] = the transform as a homography, row by row: for an
 * affine transform [m00 m01 tx; m10 m11 ty; 0 0 1], for a perspective one
 * the coefficients it was made from (for the inverse of one, a multiple of
 * the adjugate of those), for a null handle the identity. Returns 0.
 */
CBLOB_API int32_t cmath_xformPtrhConst_getHomography(const cmath_xformPtrhConst *h, double coefficients[9]);

/* -------------------------------------------------------- affine rectangle */

/**
 * A rectangle that may be rotated and sheared: a centre, the lengths of its
 * two sides and the unit directions along which they run. Its corners are
 * centre +/- sideX/2 * axisX +/- sideY/2 * axisY.
 */
typedef struct cmath_shapeAffineRect {
    double centerX, centerY;
    double sideX, sideY;   /* side lengths, >= 0 */
    double axisXx, axisXy; /* unit direction of the x side */
    double axisYx, axisYy; /* unit direction of the y side */
} cmath_shapeAffineRect;

/**
 * Sets the rectangle from its centre, its side lengths and the rotations
 * (radians) of its sides: the x side runs along (cos rotationX, sin rotationX)
 * and the y side along (-sin rotationY, cos rotationY). Equal rotations give a
 * true rotated rectangle. cmath_err_badShape for a negative or non-finite
 * side or centre, a non-finite rotation, or parallel sides
 * (|cos(rotationX - rotationY)| < 1e-12); *r is then unchanged.
 */
CBLOB_API int32_t cmath_shapeAffineRect_initCenter(cmath_shapeAffineRect *r, double centerX, double centerY,
                                                   double sideX, double sideY, double rotationX,
                                                   double rotationY);
/**
 * As initCenter, with the side directions given as vectors (normalised here).
 * cmath_err_badShape also for a zero or non-finite direction or directions
 * whose normalised cross product is below 1e-12 in magnitude.
 */
CBLOB_API int32_t cmath_shapeAffineRect_initCenterAxes(cmath_shapeAffineRect *r, double centerX, double centerY,
                                                       double sideX, double sideY, double axisXx, double axisXy,
                                                       double axisYx, double axisYy);
/**
 * xy[0..7] = the four corners (x, y) in order: centre - hx - hy,
 * centre + hx - hy, centre + hx + hy, centre - hx + hy, with hx = sideX/2 axisX
 * and hy = sideY/2 axisY. Returns 0.
 */
CBLOB_API int32_t cmath_shapeAffineRect_getCorners(const cmath_shapeAffineRect *r, double xy[8]);
/** The rotations (radians, -pi..pi) of the x and y sides, as initCenter takes them. Returns 0. */
CBLOB_API int32_t cmath_shapeAffineRect_getRotations(const cmath_shapeAffineRect *r, double *rotationX,
                                                     double *rotationY);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_MATH_H */
