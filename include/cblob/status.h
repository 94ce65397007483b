/*
 * cblob status codes.
 *
 * Every function of the library and of its host services returns a signed
 * 32-bit status. 0 is success; a failure has bit 31 set. Test failure with
 * CBLOB_FAILED(status) and never compare with a particular success value:
 * a host service may return a positive value that still means success.
 *
 * The library's own failures lie between 0x80001282 and 0x80001300. The host
 * services (memory, vectors, images, transforms, histograms, jobs) use the
 * lower ranges listed first; their codes pass through the library unchanged.
 */
#ifndef CBLOB_STATUS_H
#define CBLOB_STATUS_H

#include <stdint.h>

#include "cblob/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/** True when a status is a failure (bit 31 set). */
#define CBLOB_FAILED(status) (((int32_t)(status)) < 0)

#define CBLOB_STATUS_CODE(u) ((int32_t)(uint32_t)(u))

/*
 * Every status code as X(name, value): the enum below and cblob_statusName
 * are both generated from this one list.
 */
#define CBLOB_STATUS_CODES(X) \
    /* host services: system (0x800001xx-0x800002xx) */ \
    X(csys_err_assertFailed           , 0x80000001) /* a precondition failed and the assert handler returned */ \
    X(csys_err_outOfMemory            , 0x80000101) /* the memory service could not supply a block */ \
    X(csys_err_badSize                , 0x80000102) /* a negative or overflowing allocation size */ \
    X(csys_err_stopRequested          , 0x80000201) /* the host's attention check asked running operations to stop */ \
    X(csys_err_timerNotRunning        , 0x80000202) /* a stopwatch was stopped that was not started */ \
    /* host services: vectors and rectangles (0x800003xx) */ \
    X(cstd_err_badIndex               , 0x80000301) /* an element index or range outside the vector */ \
    X(cstd_err_badCount               , 0x80000302) /* a negative element count */ \
    X(cstd_err_emptyVector            , 0x80000303) /* popBack on an empty vector */ \
    X(cstd_err_badElementTable        , 0x80000304) /* an element action table without its end marker */ \
    X(cstd_err_badElementSize         , 0x80000305) /* a vector element size below 1 */ \
    X(cstd_err_badFlags               , 0x80000306) /* vector construction flags other than 0 */ \
    X(cstd_err_badMemoryTable         , 0x80000307) /* a vector memory table with a missing function */ \
    X(cstd_err_elementMismatch        , 0x80000308) /* two vectors of different element size or action table */ \
    X(cstd_err_sizeOver32Bits         , 0x80000309) /* a 32-bit size asked of a vector longer than INT32_MAX */ \
    X(cstd_err_badRect                , 0x8000030A) /* a negative rectangle size, or an edge beyond 32 bits */ \
    /* host services: jobs (0x800004xx) */ \
    X(csys_err_threadStart            , 0x80000401) /* a worker thread could not be started */ \
    X(csys_err_badThreadCount         , 0x80000402) /* a thread count below 1 or above CSYS_JOB_MAX_THREADS */ \
    X(csys_err_noJobData              , 0x80000403) /* a job's parameter or result block is missing */ \
    X(csys_err_jobNesting             , 0x80000404) /* a pool shutdown asked for from inside a job or worker */ \
    X(csys_err_badJobIndex            , 0x80000405) /* a result index outside the job result set */ \
    /* host services: images (0x800005xx) */ \
    X(cimg_err_unbound                , 0x80000501) /* an image or window has no pixel storage */ \
    X(cimg_err_badGeometry            , 0x80000502) /* a negative size, a short stride, or a window outside its image */ \
    X(cimg_err_badDepth               , 0x80000503) /* a pixel depth other than 8 or 16 bits, or a mismatch of depths */ \
    /* host services: transforms (0x8000058x) */ \
    X(cmath_err_notLinear             , 0x80000581) /* a linear transform was asked of a non-linear handle */ \
    X(cmath_err_singularXform         , 0x80000582) /* a transform or matrix is singular */ \
    X(cmath_err_nullXform             , 0x80000583) /* a transform handle holds no transform */ \
    X(cmath_err_outsideDomain         , 0x80000584) /* a point has no image under a non-linear transform */ \
    X(cmath_err_badShape              , 0x80000585) /* negative side lengths or parallel axes of an affine rectangle */ \
    /* host services: optimised routines (0x800006xx) */ \
    X(cprt_err_optimizationInhibited  , 0x80000601) /* internal: the portable routine must run instead */ \
    /* host services: histograms (0x800007xx) */ \
    X(cip_err_badBins                 , 0x80000701) /* a histogram with no bins, or a pixel beyond the last bin */ \
    X(cip_err_emptyHistogram          , 0x80000702) /* an inverse cumulative table of a histogram with no counts */ \
    X(cip_err_countOverflow           , 0x80000703) /* a window with more pixels than a 32-bit count holds */ \
    /* the library */ \
    X(cblob_err_imageUnbound          , 0x80001282) /* the input image or window is not bound to pixels */ \
    X(cblob_err_maskGeometryMismatch  , 0x80001284) /* a mask's origin or size differs from its image's */ \
    X(cblob_err_maskUnbound           , 0x80001285) /* the mask image is not bound */ \
    X(cblob_err_rleImageEmpty         , 0x80001286) /* a run-length image has neither rows nor data, or no blob database is held */ \
    X(cblob_err_measureUnavailable    , 0x80001287) /* the blob record does not hold the requested measure */ \
    X(cblob_err_badScaleVal           , 0x8000128A) /* a segmentation scale value out of range */ \
    X(cblob_err_badThresh             , 0x8000128B) /* a negative hard threshold */ \
    X(cblob_err_badThreshRange        , 0x8000128C) /* thresholds out of order or beyond the pixel range */ \
    X(cblob_err_badLowThresh          , 0x8000128D) /* a negative low threshold */ \
    X(cblob_err_badHighThresh         , 0x8000128E) /* a negative high threshold */ \
    X(cblob_err_softnessTooLarge      , 0x8000128F) /* a softness above high minus low */ \
    X(cblob_err_badSoftness           , 0x80001290) /* a negative softness, or one the pixel range cannot hold */ \
    X(cblob_err_badLowTailPercent     , 0x80001291) /* a low tail percentage outside 0..100 */ \
    X(cblob_err_badHighTailPercent    , 0x80001292) /* a high tail percentage outside 0..100 */ \
    X(cblob_err_badThreshPercent      , 0x80001293) /* a threshold percentage outside 0..100 */ \
    X(cblob_err_tailPercentSum        , 0x80001294) /* tail percentages adding up to more than 100 */ \
    X(cblob_err_badLowThreshPercent   , 0x80001295) /* a low threshold percentage outside 0..100 */ \
    X(cblob_err_badHighThreshPercent  , 0x80001296) /* a high threshold percentage outside 0..100 */ \
    X(cblob_err_threshPercentOrder    , 0x80001297) /* a high threshold percentage not above the low one */ \
    X(cblob_err_notApplicable         , 0x80001298) /* the value is not used by the current segmentation type */ \
    X(cblob_err_threshImageUnbound    , 0x80001299) /* the threshold image is not bound */ \
    X(cblob_err_badSortOrder          , 0x8000129A) /* a sort order other than 0 or 1 */ \
    X(cblob_err_badMeasure            , 0x8000129B) /* an unknown measure code, or a filter range upside down */ \
    X(cblob_err_connectivityConflict  , 0x8000129C) /* whole-image connectivity together with a cleanup mode */ \
    X(cblob_err_measureNotForMode     , 0x8000129D) /* the measure is not available in whole-image mode */ \
    X(cblob_err_windowOutsideImage    , 0x8000129E) /* the destination image does not contain the window */ \
    X(cblob_err_traceNotForMode       , 0x800012E1) /* boundary tracing in whole-image mode */ \
    X(cblob_err_nullRleImage          , 0x800012E2) /* a run-length image handle holds no image */ \
    X(cblob_err_rleImageNoRows        , 0x800012E3) /* a run-length image has no row table */ \
    X(cblob_err_angleMeasureNotForMode, 0x800012E5) /* a measure at an angle in whole-image mode */ \
    X(cblob_err_badSubWindow          , 0x800012E6) /* a sub-window outside the run-length image */ \
    X(cblob_err_pelOutside            , 0x800012E7) /* a point outside the run-length image */ \
    X(cblob_err_badExcludeCount       , 0x800012E8) /* a negative exclusion count */ \
    X(cblob_err_badExcludeAmount      , 0x800012E9) /* a negative exclusion amount */ \
    X(cblob_err_badExcludePercent     , 0x800012EA) /* an exclusion percentage outside 0..50 */ \
    X(cblob_err_badMapSize            , 0x800012EB) /* a value map that is empty or too short */ \
    X(cblob_err_maskMissing           , 0x800012ED) /* a masked path was reached without a mask */ \
    X(cblob_err_noneNeeds8Bit         , 0x800012EF) /* segmentation type none on a 16-bit image */ \
    X(cblob_err_imageNotKept          , 0x800012F0) /* the result set did not keep that image */ \
    X(cblob_err_torvMask16Bit         , 0x800012F1) /* a TORV mask on the single-pass path with a 16-bit image */ \
    X(cblob_err_badIndex              , 0x800012F2) /* a one-based index outside 1..count */ \
    X(cblob_err_xformNotLinear        , 0x800012F7) /* the result set's client transform is not linear */ \
    X(cblob_err_torvMaskWithRleInput  , 0x800012F8) /* a TORV mask given with a run-length input */ \
    X(cblob_err_emptyWindow           , 0x800012F9) /* an image window of zero width or height */ \
    X(cblob_err_badMorphOp            , 0x800012FA) /* a morphology operation code outside 0..11 */ \
    X(cblob_err_notYetSupported       , 0x80001300) /* the run asks for a feature this build does not provide yet */ \
    /* end of list */

#define CBLOB_STATUS_ENUM_ENTRY_(name, value) name = CBLOB_STATUS_CODE(value),
enum {
    cblob_ok = 0,
    CBLOB_STATUS_CODES(CBLOB_STATUS_ENUM_ENTRY_)
    cblob_status_end_ = 0
};

/**
 * The name of a status code ("cblob_err_badThresh"), "cblob_ok" for 0 and for
 * any other non-failure, or "unknown status" for a failure this library does
 * not know. The string is static; the call never allocates. Thread-safe.
 */
CBLOB_API const char *cblob_statusName(int32_t status);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_STATUS_H */
