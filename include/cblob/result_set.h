/*
 * cblob result sets: what a run hands back. A result set holds every blob
 * the connectivity scan finished (cblob/blob.h), a current view of them that
 * filters shrink and the sort reorders, the run-length images the caller
 * asked the run to keep, the client-from-image transform, and a
 * post-processing record with the filters, the sort key, the extrema-
 * exclusion setting and the measure cache.
 *
 * The caller constructs an empty result set, passes it to a run, then reads
 * blobs through it. The run is the only writer of the blob fields.
 *
 * Conventions of every function here:
 *   - Returns 0 or a failure status (bit 31 set; cblob/status.h).
 *   - A null required pointer is reported through cstd_assert_ and the call
 *     then returns csys_err_assertFailed, changing nothing.
 *   - Outputs are written only on success; validation failures change
 *     nothing.
 *   - Memory comes from the memory service; its failure status
 *     (csys_err_outOfMemory) is returned unchanged and the call leaks
 *     nothing.
 *   - Thread-safety: a result set must not be used by two threads at once
 *     (reading a measure writes its cache); distinct result sets are
 *     independent, also when they share kept images or transforms.
 */
#ifndef CBLOB_RESULT_SET_H
#define CBLOB_RESULT_SET_H

#include <stdint.h>

#include "cblob/blob.h"
#include "cblob/containers.h"
#include "cblob/export.h"
#include "cblob/math.h"
#include "cblob/rect.h"
#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/** One measure cache slot: an owned array of one float64 per blob (index label - 1). */
typedef double *cblob_measureDataPtr_;
CSTD_VECTOR_DECLARE(cstd_vector_cblob_measureDataPtr_, cblob_measureDataPtr_)

/** Extrema-exclusion modes of cblob_resultSet_setExcludeExtrema. */
enum {
    cblob_excludeAmount = 0,        /* amount in pixel-weight units, any value */
    cblob_excludeArea = 1,          /* an area in client units, >= 0 */
    cblob_excludeAmountChecked = 2, /* amount in pixel-weight units, >= 0 */
    cblob_excludePercent = 3        /* a percentage of the blob's area, 0 <= value < 50 */
};

/**
 * The post-processing record of a result set: filters, sort, exclusion
 * setting and the measure cache. Private to the library; callers use the
 * result set's functions.
 */
typedef struct cblob_resultSetPostProcessing_ {
    double weightScale;                             /* 1 / the run's scale value; 1.0 by default */
    int32_t connectivityType;                       /* the run's connectivityType; 0 by default */
    int32_t excludeMode;                            /* extrema-exclusion mode; 0 */
    double excludeValue;                            /* its amount; 0.0 */
    double defaultAngle;                            /* radians; 0.0 */
    int32_t sortDirection;                          /* 1 ascending, 0 descending; 1 */
    int32_t sortMeasure;                            /* measure code of the sort, 0 = none; 0 */
    cstd_vector_cblob_filter filters;               /* filters in force, in the order added */
    int32_t measureTable[CBLOB_MEASURE_TABLE_SIZE]; /* per code: a cache slot 0..31 or a class mark < 0 */
    cstd_vector_cblob_measureDataPtr_ measureData;  /* one owned array per cache slot */
    cstd_vector32 validBits;                        /* one word per blob; bit s: slot s holds its value */
} cblob_resultSetPostProcessing_;

/**
 * A result set. Read the fields; change them only through the functions.
 * Invariants: numViewBlobs <= numBlobs; every view entry is also in allBlobs;
 * every blob's owner is this result set and its label lies in 1..numBlobs,
 * unique within the set.
 */
typedef struct cblob_resultSet {
    int32_t numBlobs;                                     /* blobs the run produced (objects and holes) */
    int32_t numViewBlobs;                                 /* blobs in the current view */
    cblob_blob **allBlobs;                                /* every blob, in the order the run stored them; owned */
    cblob_blob **view;                                    /* the current view, filtered and sorted; owned */
    cblob_blob *firstTopLevelBlob;                        /* first blob without a parent, labelled links */
    cblob_blob *viewFirstTopLevelBlob;                    /* the same for the current links */
    cstd_rect32 runWindow;                                /* window the run analysed; null before a run */
    cblob_rleRow *thresholdedRows;                        /* rows of the kept thresholded image, or null */
    cblob_rleRow *maskedRows;                             /* rows of the kept masked-and-thresholded image */
    cblob_rleRow *morphedRows;                            /* rows of the kept morphed image */
    double runTimings[4];                                 /* phase times of the run, milliseconds */
    cstd_vector_cblock_of_cblob_blob_ptr *blobBlocks;     /* blob record storage; owned */
    cstd_vector_cblock_of_cblob_xformLinear_ptr *xformBlocks; /* per-blob linear transforms; owned */
    cstd_vector_cblob_rleData_Ptr *runWorkBlocks;         /* working storage left by the run; owned */
    cstd_vector32s *runLabels;                            /* blob label -> working label of the scan; owned */
    cstd_vector_vector32s *runLabelLists;                 /* written by the run; owned */
    void *runTable;                                       /* working label -> surviving label; owned block */
    int32_t tableShift;                                   /* 0: runTable is flat; else high bits per sub-array */
    int32_t tableMask;                                    /* mask of the label bits that index a sub-array */
    cblob_imageRlePtrh sourceImage;                       /* the run's labelled run image */
    cblob_blobRleDb_ *blobDb;                             /* the blob database object, or null */
    cblob_blobRleDb_Ptrh blobDbHandle;                    /* reference on blobDb */
    cblob_imageRlePtrh maskImage;                         /* the run's mask as a run-length image */
    cblob_imageRlePtrh thresholdedImage;                  /* kept images */
    cblob_imageRlePtrh maskedAndThresholdedImage;
    cblob_imageRlePtrh morphedThresholdedImage;
    cblob_resultSetPostProcessing_ *postProcessing;       /* owned */
    cmath_xformLinear sharedLinearXform;                  /* the linear client transform shared by all blobs */
    cmath_xformPtrhConst clientFromImage;                 /* the client transform; null = identity */
} cblob_resultSet;

CSYS_TYPE_CHECK_DECLARE(cblob_resultSet)
CSYS_TYPE_CHECK_DECLARE(cblob_resultSetPostProcessing_)

/* --------------------------------------------------------------- lifecycle */

/**
 * Constructs raw *rs empty: counts, pointers, timings and heads 0, run window
 * null, null image, database and transform handles, a zero shared linear
 * transform, and a new post-processing record with its defaults. On failure
 * (memory) *rs is left not constructed and nothing leaks.
 */
CBLOB_API int32_t cblob_resultSet_construct(cblob_resultSet *rs);

/**
 * Constructs raw *rs as a deep copy of *src (see assign). rs must not be src
 * (assert). On failure *rs is left not constructed and nothing leaks.
 */
CBLOB_API int32_t cblob_resultSet_constructCopy(cblob_resultSet *rs, const cblob_resultSet *src);

/**
 * Makes *dst a deep copy of *src; assigning a result set to itself changes
 * nothing. dst is cleared first; when src never ran (no blob blocks) it stays
 * so. Otherwise dst gets copies of every blob record (same labels, block
 * layout and counts; owner dst; every tree link and the view pointing at
 * dst's own blobs), its own transform blocks (or the shared linear transform),
 * shares of src's kept images, source image, mask and client transform, a
 * deep copy of the blob database with every blob's cached runs re-pointed
 * into the copy, copies of the run labels, run label lists and run table (so
 * that the copy extracts its blobs' runs from the shared source image), and
 * a copy of the post-processing record. The run work blocks are not copied. Statuses: memory failures, and a failing clear of dst. On any
 * failure dst is left cleared.
 */
CBLOB_API int32_t cblob_resultSet_assign(cblob_resultSet *dst, const cblob_resultSet *src);

/**
 * Empties *rs: frees the blob blocks and transform blocks (each block, then
 * the vector), the run work blocks, run labels, run label lists and run
 * table; detaches the blob database handle (the database ends with its last
 * handle); makes every image handle null; frees both blob arrays; makes the
 * client transform null; resets the post-processing record to its defaults;
 * and zeroes counts, heads and timings with a null run window. The first
 * failing step's status is returned at once; later steps are not done.
 */
CBLOB_API int32_t cblob_resultSet_clear(cblob_resultSet *rs);

/** Clears *rs, then ends its handles and deletes its post-processing record. Statuses as clear. */
CBLOB_API int32_t cblob_resultSet_destruct(cblob_resultSet *rs);

/* ------------------------------------------------------------ kept images */

/*
 * *out (a constructed handle) comes to share the kept thresholded, masked-
 * and-thresholded or morphed thresholded image (a reference, not a copy of
 * the runs). cblob_err_imageNotKept (0x800012F0), *out untouched, when the
 * run did not keep that image.
 */
CBLOB_API int32_t cblob_resultSet_getThresholdedImageRlePtrh(const cblob_resultSet *rs, cblob_imageRlePtrh *out);
CBLOB_API int32_t cblob_resultSet_getMaskedAndThresholdedImageRlePtrh(const cblob_resultSet *rs,
                                                                       cblob_imageRlePtrh *out);
CBLOB_API int32_t cblob_resultSet_getMorphedThresholdedImageRlePtrh(const cblob_resultSet *rs,
                                                                     cblob_imageRlePtrh *out);

/* ------------------------------------------------------ extrema exclusion */

/**
 * Stores the extrema-exclusion mode, its value and *angle (radians) as the
 * default angle of the angle-box measures. Checks by mode (setting unchanged
 * when refused): mode 1 needs value >= 0 (cblob_err_badExcludeCount), mode 2
 * value >= 0 (cblob_err_badExcludeAmount), mode 3 0 <= value < 50
 * (cblob_err_badExcludePercent); mode 0 and any other mode accept any value
 * (other modes then behave like mode 0). A NaN value is refused by modes 1 to
 * 3. Cached measures are re-validated when next read.
 */
CBLOB_API int32_t cblob_resultSet_setExcludeExtrema(cblob_resultSet *rs, int32_t mode, double value,
                                                    const double *angle);

/** *mode, *value and *angle = the stored exclusion mode, value and default angle. Returns 0. */
CBLOB_API int32_t cblob_resultSet_getExcludeExtrema(const cblob_resultSet *rs, int32_t *mode, double *value,
                                                    double *angle);

/* ------------------------------------------------------ filters and sort */

/*
 * Filters and the sort narrow and order the view (numViewBlobs, view,
 * viewFirstTopLevelBlob) and the blobs' current links (cur* fields of
 * cblob_blob); the all-blobs array and the labelled links never change.
 * Both read measures as cblob_blob_getMeasure (cblob/measure.h) does, with
 * extrema exclusion on when the stored exclusion mode is non-zero and at the
 * default angle. A call that fails for any reason after its argument checks
 * (a measure a blob cannot give, memory) leaves the view, the links, the
 * stored filters and the sort as they were; only cached measure values it
 * computed on the way stay.
 *
 * A filter keeps a blob when its measure lies in [low, high] (excludeRange
 * 0) or outside it (excludeRange non-zero). Among the filters one call
 * adds, those on the same measure are alternatives (a blob passes when one
 * of them keeps it) and those on different measures must all keep it; each
 * call narrows the view further. When the stored filters are applied anew
 * (after unsetFilter, clearFilters or disableSort), all stored filters on
 * one measure are alternatives. Filtering keeps the view's order and
 * takes dropped blobs out of their parent's current child list and out of
 * the current chain of top-level blobs.
 */

/**
 * Stores the filters of *filters after those already stored and narrows the
 * view by them. An empty vector changes nothing. cblob_err_badMeasure
 * (0x8000129B), nothing stored, when a filter's measure is not 1 .. 47 or
 * its low is above its high (or either is NaN). Then the statuses of the
 * measures read (cblob_blob_getMeasure) and memory failures.
 */
CBLOB_API int32_t cblob_resultSet_setAndApplyFilters(cblob_resultSet *rs, const cstd_vector_cblob_filter *filters);

/** One filter, as cblob_resultSet_setAndApplyFilters with a one-element vector. */
CBLOB_API int32_t cblob_resultSet_addAndApplyFilter(cblob_resultSet *rs, cblob_filter filter);

/**
 * Removes every stored filter on `measure`, rebuilds the view from all
 * blobs with the remaining filters and sorts it again by the stored sort.
 * cblob_err_badMeasure when measure is not 0 .. 47; measure 0, or no stored
 * filter, changes nothing. Then the statuses of the measures read and memory
 * failures.
 */
CBLOB_API int32_t cblob_resultSet_unsetFilter(cblob_resultSet *rs, cblob_measure measure);

/**
 * Removes every filter: the view holds every blob again, sorted by the
 * stored sort. Statuses: those of the measures read, memory failures.
 */
CBLOB_API int32_t cblob_resultSet_clearFilters(cblob_resultSet *rs);

/** *count = the number of stored filters. Returns 0. */
CBLOB_API int32_t cblob_resultSet_getNumFilters(const cblob_resultSet *rs, int32_t *count);

/**
 * *filters = the stored filters, in the order they were added (the stored
 * array itself, valid until the next filter or sort call; not to be read
 * when there are none: ask cblob_resultSet_getNumFilters first). Returns 0.
 */
CBLOB_API int32_t cblob_resultSet_getFilters(const cblob_resultSet *rs, const cblob_filter **filters);

/**
 * Sorts the view by `measure`, ascending (direction 1) or descending
 * (direction 0); so are the current children of every view blob that has
 * more than one child, and the current chain of top-level blobs (whose first
 * blob becomes viewFirstTopLevelBlob). The sort is a heapsort and not
 * stable: the order of blobs with equal keys is fixed but not their run
 * order. Measure 0 removes the sort (cblob_resultSet_disableSort; the stored
 * direction then stays). With fewer than 2 blobs in the view only measure and
 * direction are stored (a later filter change sorts with them); asking again
 * for the stored measure and direction does nothing. The sort is stored and
 * applied again whenever filters are removed; adding filters keeps the
 * sorted order.
 * Statuses, in order: cblob_err_badSortOrder (0x8000129A) for a direction
 * other than 0 or 1; cblob_err_badMeasure for a measure outside 0 .. 47; then
 * the statuses of the measures read and memory failures.
 */
CBLOB_API int32_t cblob_resultSet_sort(cblob_resultSet *rs, cblob_measure measure, int32_t direction);

/** *measure, *direction = the stored sort (0 when none) and direction (1 by default). Returns 0. */
CBLOB_API int32_t cblob_resultSet_getSort(const cblob_resultSet *rs, cblob_measure *measure, int32_t *direction);

/**
 * Removes the sort: the view goes back to run order with the stored filters
 * applied again; the stored direction stays. Nothing happens without a sort.
 * Statuses: those of the measures read, memory failures.
 */
CBLOB_API int32_t cblob_resultSet_disableSort(cblob_resultSet *rs);

/* ------------------------------------------------ client coordinate frame */

/*
 * The client-from-image transform maps image coordinates into the caller's
 * frame (for example calibrated units). The blob fields area, centerOfMassX
 * and Y, the moments, elongation and angle are in the client frame; the box
 * fields stay in image pixels. Each blob points at the linear transform that
 * applies to it: the result set's shared one when the client transform is
 * linear, else its own local linear approximation at its centre of mass.
 */

/** *xform (a constructed handle) comes to share the result set's transform (null: identity). Returns 0. */
CBLOB_API int32_t cblob_resultSet_getClientFromImageXform(const cblob_resultSet *rs, cmath_xformPtrhConst *xform);

/**
 * *linear = the client transform when it is linear (the identity for a null
 * one); cblob_err_xformNotLinear (0x800012F7) otherwise.
 */
CBLOB_API int32_t cblob_resultSet_getClientFromImageXformLinear(const cblob_resultSet *rs,
                                                                cmath_xformLinear *linear);

/**
 * Replaces the client transform by *xform (shared, null: identity) and moves
 * every blob (filtered out or not) into the new frame without a new run:
 * each blob's area, centre of mass and moments are taken back into the image
 * frame through the blob's old transform and mapped forward by the new one
 * (a non-linear transform through its local linear approximation at the
 * blob's centre of mass, which becomes the blob's own transform); principal
 * moments, elongation and angle follow. Boxes do not change. The measure
 * cache is emptied (every cached measure is computed again on demand) and
 * kept per-blob images take the new transform.
 * Statuses: cmath_err_singularXform (0x80000582) when the new transform, or
 * its local approximation at a blob, is singular; cmath_err_outsideDomain
 * when a blob's centre of mass has no image; memory failures. On any failure
 * nothing changes.
 */
CBLOB_API int32_t cblob_resultSet_setClientFromImageXform(cblob_resultSet *rs, const cmath_xformPtrhConst *xform);

/** As cblob_resultSet_setClientFromImageXform with a new handle on *linear. */
CBLOB_API int32_t cblob_resultSet_setClientFromImageXformLinear(cblob_resultSet *rs, const cmath_xformLinear *linear);

/* ------------------------------------------------------ measure caching */

/**
 * Run pipeline: sizes the valid-bits vector to numBlobs words, all 0, once
 * the blobs are final. Statuses: memory failures (vector unchanged).
 */
CBLOB_API int32_t cblob_resultSet_createAndInitMeasureCaching_(cblob_resultSet *rs);

/**
 * Run pipeline: weightScale = 1.0 / the run parameters' scale value and
 * connectivityType = theirs. A scale value below 1 is an assert (the run
 * parameters' setters never store one). Returns 0.
 */
CBLOB_API int32_t cblob_resultSetPostProcessing_recordRunParams(cblob_resultSetPostProcessing_ *pp,
                                                                const cblob_runParams *runParams);

/* ------------------------------------------------- post-processing record */

/**
 * Value operations of the post-processing record.
 *   __construct(pp): raw pp with the defaults (weight scale 1, connectivity
 *     type 0, exclusion mode 0 value 0, default angle 0, ascending, no sort,
 *     no filters, the initial measure table, an empty cache).
 *   __constructCopy(pp, src) / __assign(pp, src): every field copied; the
 *     filters, the valid bits and each measure-data array (one float64 per
 *     valid-bits word) deep-copied. assign builds the copy first: on failure
 *     pp is unchanged; assigning pp to itself does nothing.
 *   __clear(pp): empties the filters, frees every measure-data array and
 *     empties both cache vectors; restores the defaults and the table.
 *   __destruct(pp): clears, then ends the three vectors.
 *   __new(&p): allocates and constructs (the old *p is not freed: pass null).
 *   __delete(&p): destructs and frees *p, sets p null; nothing for null.
 *   __newClone(&p, src): allocates and copy-constructs.
 * On failure the constructors leave nothing constructed and nothing leaks;
 * __new and __newClone leave *p untouched.
 */
CBLOB_API int32_t cblob_resultSetPostProcessing__construct(cblob_resultSetPostProcessing_ *pp);
CBLOB_API int32_t cblob_resultSetPostProcessing__constructCopy(cblob_resultSetPostProcessing_ *pp,
                                                               const cblob_resultSetPostProcessing_ *src);
CBLOB_API int32_t cblob_resultSetPostProcessing__assign(cblob_resultSetPostProcessing_ *pp,
                                                        const cblob_resultSetPostProcessing_ *src);
CBLOB_API int32_t cblob_resultSetPostProcessing__clear(cblob_resultSetPostProcessing_ *pp);
CBLOB_API int32_t cblob_resultSetPostProcessing__destruct(cblob_resultSetPostProcessing_ *pp);
CBLOB_API int32_t cblob_resultSetPostProcessing__new(cblob_resultSetPostProcessing_ **p);
CBLOB_API int32_t cblob_resultSetPostProcessing__delete(cblob_resultSetPostProcessing_ **p);
CBLOB_API int32_t cblob_resultSetPostProcessing__newClone(cblob_resultSetPostProcessing_ **p,
                                                          const cblob_resultSetPostProcessing_ *src);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_RESULT_SET_H */
