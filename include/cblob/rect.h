/*
 * cblob host services: integer rectangles.
 *
 * cstd_rect32 is an origin and a size in pixels: it covers the columns
 * x .. x + width - 1 and the rows y .. y + height - 1. A rectangle whose
 * width or height is 0 is the null rectangle: it covers nothing, and every
 * null rectangle counts as equal to every other. cstd_rect32_initNull and
 * an empty intersection give the canonical null rectangle {0, 0, 0, 0}.
 *
 * Every function returns 0 or a failure status; a null pointer argument is
 * reported to cstd_assert_ and the function then returns
 * csys_err_assertFailed. Outputs are written only on success. The functions
 * keep no state and are thread-safe.
 */
#ifndef CBLOB_RECT_H
#define CBLOB_RECT_H

#include <stdint.h>

#include "cblob/export.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct cstd_rect32 {
    int32_t x;      /* first column */
    int32_t y;      /* first row */
    int32_t width;  /* columns, >= 0 */
    int32_t height; /* rows, >= 0 */
} cstd_rect32;

/** An integer point (a pixel position or an offset) in image coordinates. */
typedef struct cstd_point32 {
    int32_t x;
    int32_t y;
} cstd_point32;

/** An integer size in pixels. */
typedef struct cstd_size32 {
    int32_t width;
    int32_t height;
} cstd_size32;

/**
 * Sets r to the given origin and size. cstd_err_badRect (r unchanged) when
 * width or height is negative, or when x + width or y + height exceeds
 * INT32_MAX (the edge one past the last pixel must be representable).
 */
CBLOB_API int32_t cstd_rect32_init(cstd_rect32 *r, int32_t x, int32_t y, int32_t width, int32_t height);
/** Sets r to the null rectangle {0, 0, 0, 0}. */
CBLOB_API int32_t cstd_rect32_initNull(cstd_rect32 *r);
/** *isNull = 1 when r's width or height is 0 (or below), else 0. */
CBLOB_API int32_t cstd_rect32_getIsNull(const cstd_rect32 *r, int32_t *isNull);
/**
 * *out = the pixels a and b have in common; the null rectangle {0, 0, 0, 0}
 * when they share none or either is null. out may be a or b.
 */
CBLOB_API int32_t cstd_rect32_intersect(cstd_rect32 *out, const cstd_rect32 *a, const cstd_rect32 *b);
/** *isEqual = 1 when a and b cover the same pixels (both null, or all fields equal). */
CBLOB_API int32_t cstd_rect32_getIsEqual(const cstd_rect32 *a, const cstd_rect32 *b, int32_t *isEqual);
/** *contains = 1 when pixel (px, py) lies in r. */
CBLOB_API int32_t cstd_rect32_getContainsPoint(const cstd_rect32 *r, int32_t px, int32_t py, int32_t *contains);
/** *contains = 1 when every pixel of inner lies in outer (always for a null inner). */
CBLOB_API int32_t cstd_rect32_getContainsRect(const cstd_rect32 *outer, const cstd_rect32 *inner, int32_t *contains);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_RECT_H */
