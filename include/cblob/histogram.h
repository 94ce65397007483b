/*
 * cblob histogram services: pixel histograms of image windows and their
 * inverse cumulative table.
 *
 * Counts are 32-bit unsigned: a window with more than UINT32_MAX pixels is
 * refused (cip_err_countOverflow) rather than silently wrapping. Every
 * function returns a status (0 on success) and writes its outputs only on
 * success. A null required pointer is reported through cstd_assert_ and the
 * call then returns csys_err_assertFailed. All functions are thread-safe for
 * distinct outputs; they only read the window's pixels.
 */
#ifndef CBLOB_HISTOGRAM_H
#define CBLOB_HISTOGRAM_H

#include <stdint.h>

#include "cblob/export.h"
#include "cblob/image.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * counts[v] = the number of pixels of value v in the 8-bit window, for v in
 * 0..255 (all 256 entries are overwritten; an empty window gives zeros).
 * cimg_err_badDepth for a window that is not 8-bit; cimg_err_unbound for an
 * unbound window; cimg_err_badGeometry for a window with a negative size;
 * cip_err_countOverflow for a window of more than UINT32_MAX pixels.
 */
CBLOB_API int32_t cip_pelHistogramWindow8(const cimg_windowConst *window, uint32_t counts[256]);

/**
 * counts[v] = the number of pixels of value v in the 16-bit window, for v in
 * 0..bins-1 (all `bins` entries are overwritten). A caller that knows its
 * pixels stay below some limit may pass fewer than 65536 bins.
 * cimg_err_badDepth for a window that is not 16-bit; cimg_err_unbound for an
 * unbound window; cimg_err_badGeometry and cip_err_countOverflow as for 8
 * bits; cip_err_badBins when bins < 1 or a pixel value is >= bins (counts is
 * then untouched).
 */
CBLOB_API int32_t cip_pelHistogramWindow16(const cimg_windowConst *window, uint32_t *counts, int32_t bins);

/**
 * The inverse cumulative table of a histogram counts[0..bins-1] with total
 * count N > 0. With C(v) = counts[0] + ... + counts[v], for each whole
 * percent p in 0..100:
 *
 *     table[p] = the smallest v with C(v) >= max(1, p * N / 100)
 *
 * (compared exactly, without rounding). So table[p] is the pixel value at
 * which the cumulative count first reaches p percent of all pixels, table[0]
 * is the smallest value present (the max(1, ...) makes 0 percent mean "the
 * first pixel" rather than value 0), table[100] is the largest value present,
 * and the table never decreases.
 * cip_err_badBins when bins < 1; cip_err_emptyHistogram when every count is 0.
 */
CBLOB_API int32_t cip_pelHistogramStat_invCum(const uint32_t *counts, int32_t bins, int32_t table[101]);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_HISTOGRAM_H */
