/*
 * cblob run parameters: how a run segments an image into runs, which
 * morphology follows, how connectivity labels the result and which
 * intermediate images the result set keeps.
 *
 * cblob_runParams is a plain structure constructed in caller storage. The
 * caller may write the connectivity, morphology and keep fields directly.
 * The segmentation fields (segmentationType down to threshImage16) are
 * written only through the cblob_runParams_setSegmentation* functions, which
 * validate them and keep dependent fields consistent; in particular the
 * three tables and the two threshold image objects must never be set or
 * freed by the caller.
 *
 * Ownership. The object owns `morphOps`, the tables `map`, `threshMap8` and
 * `threshMap16`, and the two threshold image objects. Each table remembers
 * how many entries it was made with (in a hidden header in front of the
 * entries), so a table is never read or written beyond its own length even
 * where `mapSize` or `threshMapSize` describe another table. A setter or
 * assign that stores new contents reuses a table's block when the number of
 * entries is unchanged, and otherwise allocates a fresh block and frees the
 * old one. The threshold image objects come from the memory service and
 * share pixels with the image they were copied from: no pixels are copied,
 * and the caller's pixel storage stays alive as long as the object holds it.
 *
 * Every function returns a status: 0 on success, else a failure (bit 31
 * set). A null required pointer is reported through cstd_assert_ with the
 * source line and the call then returns csys_err_assertFailed without
 * touching anything. Outputs are written only on success.
 *
 * Thread-safety: functions on distinct objects may run on any threads. One
 * object must not be changed by one thread while another uses it; getters
 * only read, so several threads may call getters on one object together.
 * A run with percentage thresholds writes back into its run parameters, so
 * one object must not be used by two runs at once.
 */
#ifndef CBLOB_RUN_PARAMS_H
#define CBLOB_RUN_PARAMS_H

#include <stdint.h>

#include "cblob/containers.h"
#include "cblob/export.h"
#include "cblob/image.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Segmentation types: the value of `segmentationType`. */
typedef enum cblob_segmentationType {
    cblob_segmentationHardThresh = 0,  /* object where pixel >= thresh (a hard threshold) */
    cblob_segmentationSoftThresh = 1,  /* graded values between thresh and highThresh */
    cblob_segmentationMap = 2,         /* each pixel value mapped through `map` */
    cblob_segmentationThreshImage = 3, /* compared against a per-pixel threshold image */
    cblob_segmentationNone = 4         /* pixel values used as they are (8-bit images only) */
} cblob_segmentationType;

/** Values of `connectivityType`: which connectivity scan labels the runs. */
enum {
    cblob_connectivityStandard = 0,  /* object and background regions, with the blob tree */
    cblob_connectivityLabelled = 1,  /* labelled regions with region adjacency */
    cblob_connectivityWholeImage = 2 /* the whole image as one blob */
};

/** Values of `connectivityCleanup`: what happens to regions below `minArea`. */
enum {
    cblob_connectivityCleanupNone = 0,  /* nothing */
    cblob_connectivityCleanupPrune = 1, /* small regions without children are pruned */
    cblob_connectivityCleanupFill = 2   /* small regions are filled into their parent */
};

/** Run parameters. Defaults are those set by cblob_runParams_construct. */
typedef struct cblob_runParams {
    int32_t connectivityType;              /* cblob_connectivity*; default 0 */
    cstd_vector_cblob_morphOp morphOps;    /* morphology (cblob_morph_* codes) applied in order to the segmented image; owned; empty */
    int32_t keepThresholdedImage;          /* flag: the result set keeps the segmented image; 0 */
    int32_t keepMorphedThresholdedImage;   /* flag: ... the image after morphology; 0 */
    int32_t keepMaskedAndThresholdedImage; /* flag: ... the segmented image after masking; 0 */
    int32_t keepBlobImages;                /* flag: one run-length image per blob is built; 0 */
    int32_t connectivityCleanup;           /* cblob_connectivityCleanup*; 0 */
    int32_t minArea;                       /* area threshold of connectivityCleanup; 0 */
    int32_t computeSecondMoments;          /* flag: accumulate second-order moment sums; 1 */
    int32_t computeTopology;               /* flag: keep the region tree; 1 */
    int32_t keepMaskImage;                 /* flag: the result set keeps the mask as a run-length image; 0 */
    int32_t thresh;                        /* hard threshold, or low threshold of a soft one; 0 */
    int32_t highThresh;                    /* high threshold of a soft threshold; 0 */
    int32_t invert;                        /* 1 swaps object and background; 0 */
    int32_t segmentationType;              /* cblob_segmentationType; 0 */
    uint8_t *map;                          /* pixel map of type 2, post map of type 3; owned; null */
    uint8_t *threshMap8;                   /* pixel map of type 3 with an 8-bit threshold image; owned; null */
    uint16_t *threshMap16;                 /* pixel map of type 3 with a 16-bit threshold image; owned; null */
    int32_t mapSize;                       /* entries of map; 0 */
    int32_t threshMapSize;                 /* entries of the threshold map set last; 0 */
    int32_t scaleVal;                      /* largest value a segmented run carries; 1 */
    int32_t softness;                      /* intermediate levels of a soft threshold; 0 */
    int32_t softnessFixed;                 /* flag: softness, scaleVal final (else a percent run derives them); 0 */
    float lowTailPercent;                  /* percent of pixels ignored at the dark end; 0 */
    float highTailPercent;                 /* percent of pixels ignored at the bright end; 100 */
    float highThreshPercent;               /* soft high threshold, percent of the histogram span; 100 */
    float lowThreshPercent;                /* soft low threshold, percent of the histogram span; 0 */
    float threshPercent;                   /* hard threshold, percent of the histogram span; 50 */
    int32_t isThreshPercent;               /* flag: thresholds are given as percentages; 0 */
    cimg_imageConst *threshImage8;         /* 8-bit per-pixel threshold image of type 3; owned object; null */
    cimg_imageConst *threshImage16;        /* 16-bit per-pixel threshold image of type 3; owned object; null */
} cblob_runParams;

CSYS_TYPE_CHECK_DECLARE(cblob_runParams)

/* --------------------------------------------------------------- lifecycle */

/**
 * Constructs *p (raw storage) with every field at its default: an empty
 * morphology vector, hard threshold 0 with normal polarity, scaleVal 1,
 * moment and topology flags on, percentages 0 / 100 / 100 / 0 / 50, no
 * tables and no threshold images. Never allocates; returns 0 (or
 * csys_err_assertFailed for a null p). On failure *p is not constructed.
 */
CBLOB_API int32_t cblob_runParams_construct(cblob_runParams *p);

/**
 * Constructs *p (raw storage) as a deep copy of src: its own morphology
 * vector and tables, and threshold image objects that share src's threshold
 * images' pixels. p being src is reported through cstd_assert_ (nothing is
 * touched). Statuses: those of cblob_runParams_assign. On failure *p is not
 * constructed and everything the call allocated is released.
 */
CBLOB_API int32_t cblob_runParams_constructCopy(cblob_runParams *p, const cblob_runParams *src);

/**
 * Makes *p a copy of src (both constructed). Assigning an object to itself
 * changes nothing and returns 0. Otherwise, in order:
 *   - cblob_err_threshImageUnbound when src holds a threshold image object
 *     that is not bound; p is then unchanged.
 *   - The morphology vector is assigned (its allocation failure is returned;
 *     see cblob/vector.h for the state it leaves).
 *   - Every table src has is copied into p (reusing p's block when it has
 *     the same number of entries); a table src lacks is released from p.
 *     A threshold image object src has is shared into p's object (a new
 *     object is made when p has none); where src has none, p keeps its own.
 *     Then mapSize, threshMapSize and every other scalar field are copied.
 * An allocation failure (csys_err_outOfMemory) after the morphology vector
 * was assigned leaves that vector assigned and the rest of p unchanged, and
 * releases everything the call allocated.
 */
CBLOB_API int32_t cblob_runParams_assign(cblob_runParams *p, const cblob_runParams *src);

/**
 * Frees the three tables, destructs and frees the two threshold image
 * objects, and destructs the morphology vector, in that order; the owned
 * pointers are null afterwards. The first failing release ends the call with
 * its status (none fails with the library's own host services).
 */
CBLOB_API int32_t cblob_runParams_destruct(cblob_runParams *p);

/* ----------------------------------------------------------------- setters */

/*
 * Each setter checks its arguments in the order listed and returns the first
 * failing check's status, leaving the object unchanged. On success it writes
 * exactly the fields listed and no others; the fields of other segmentation
 * types (older tables and images among them) stay as they are. Percentages
 * are compared with closed bounds: 0 and 100 are accepted, and so are tails
 * summing to exactly 100 (the sum is compared exactly, without rounding).
 * A NaN percentage fails its range check.
 */

/**
 * No segmentation: runs carry the pixel values themselves (8-bit images).
 * cblob_err_badScaleVal when scaleVal < 1.
 * Writes scaleVal; segmentationType = 4.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationNone(cblob_runParams *p, int32_t scaleVal);

/**
 * A hard threshold: pixels >= thresh are object (below thresh with invert 1).
 * cblob_err_badThresh when thresh < 0.
 * Writes thresh, invert; scaleVal = 1; isThreshPercent = 0; segmentationType = 0.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationHardThresh(cblob_runParams *p, int32_t thresh, int32_t invert);

/**
 * A hard threshold at threshPercent of the span between the pixel values
 * that cut off lowTailPercent and highTailPercent of the histogram,
 * computed by each run.
 * cblob_err_badLowTailPercent, cblob_err_badHighTailPercent,
 * cblob_err_badThreshPercent when the respective percentage is outside
 * 0..100; then cblob_err_tailPercentSum when lowTailPercent +
 * highTailPercent > 100.
 * Writes the three percentages, invert; scaleVal = 1; isThreshPercent = 1;
 * softnessFixed = 0; segmentationType = 0.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationHardThreshPercent(cblob_runParams *p, float lowTailPercent,
                                                                   float highTailPercent, float threshPercent,
                                                                   int32_t invert);

/**
 * A soft threshold from low to high with one level per grey value between.
 * cblob_err_badThreshRange when low >= high; cblob_err_badLowThresh when
 * low < 0; cblob_err_badHighThresh when high < 0 (cannot arise after the
 * first two checks, kept for the documented order).
 * Writes thresh = low, highThresh = high, invert; softness = high - low;
 * scaleVal = high - low + 1 (INT32_MAX when that does not fit);
 * softnessFixed = 1; isThreshPercent = 0; segmentationType = 1.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationSoftThresh(cblob_runParams *p, int32_t low, int32_t high,
                                                            int32_t invert);

/**
 * A soft threshold from low to high with `softness` intermediate levels
 * (0 behaves as a hard threshold at high).
 * The checks of cblob_runParams_setSegmentationSoftThresh, then
 * cblob_err_softnessTooLarge when softness > high - low, then
 * cblob_err_badSoftness when softness < 0.
 * Writes thresh, highThresh, invert, softness; scaleVal = softness + 1
 * (INT32_MAX when that does not fit); softnessFixed = 1;
 * isThreshPercent = 0; segmentationType = 1.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationSoftThreshWithSoftness(cblob_runParams *p, int32_t low,
                                                                        int32_t high, int32_t softness,
                                                                        int32_t invert);

/**
 * A soft threshold between lowThreshPercent and highThreshPercent of the
 * histogram span (see the hard percent setter); the first run derives
 * softness and scaleVal from the pixel thresholds it computes.
 * cblob_err_badLowTailPercent, cblob_err_badHighTailPercent,
 * cblob_err_badLowThreshPercent, cblob_err_badHighThreshPercent when the
 * respective percentage is outside 0..100; then cblob_err_tailPercentSum
 * when the tails add up to more than 100; then cblob_err_threshPercentOrder
 * when highThreshPercent <= lowThreshPercent.
 * Writes the four percentages, invert; softnessFixed = 0;
 * isThreshPercent = 1; segmentationType = 1 (softness and scaleVal are left
 * as they are).
 */
CBLOB_API int32_t cblob_runParams_setSegmentationSoftThreshPercent(cblob_runParams *p, float lowTailPercent,
                                                                   float highTailPercent, float lowThreshPercent,
                                                                   float highThreshPercent, int32_t invert);

/**
 * As cblob_runParams_setSegmentationSoftThreshPercent with a fixed softness.
 * Its checks, then cblob_err_badSoftness when softness < 0.
 * Writes the four percentages, invert, softness; scaleVal = softness + 1
 * (INT32_MAX when that does not fit); softnessFixed = 1;
 * isThreshPercent = 1; segmentationType = 1.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationSoftThreshPercentWithSoftness(
    cblob_runParams *p, float lowTailPercent, float highTailPercent, float lowThreshPercent, float highThreshPercent,
    int32_t softness, int32_t invert);

/**
 * A pixel map: a pixel of value v gets map[v]. `map` (required) holds mapSize
 * entries and is copied; the caller keeps its own array.
 * cblob_err_badScaleVal when scaleVal == 0; cblob_err_badMapSize when
 * mapSize < 1.
 * Writes scaleVal first; then the object's map is replaced by a copy of the
 * mapSize entries and mapSize written; isThreshPercent = 0;
 * segmentationType = 2. On an allocation failure (csys_err_outOfMemory) the
 * new scaleVal stays written and everything else is unchanged.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationMap(cblob_runParams *p, uint8_t scaleVal, const uint8_t *map,
                                                     int32_t mapSize);

/**
 * A per-pixel threshold image (8-bit): a pixel of value v at the position of
 * threshold pixel t gets 0 when threshMap[v] < t, else
 * postMap[threshMap[v] - t]. threshMap (threshMapSize entries), threshImage
 * and postMap (postMapSize entries) are required. The maps are copied; the
 * object keeps its own image object sharing threshImage's pixels (no pixel
 * copy), so the caller's image may be destructed afterwards. The image's
 * depth is not checked: a run reads threshImage8 as 8-bit.
 * cblob_err_badScaleVal when scaleVal == 0; cblob_err_threshImageUnbound
 * when threshImage is not bound; csys_err_badSize when threshMapSize or
 * postMapSize is negative.
 * Writes scaleVal first; then threshMap8 (threshMapSize entries) and
 * threshMapSize; map (postMapSize entries) and mapSize; threshImage8 becomes
 * a copy of threshImage (an existing object is destructed and constructed
 * again in place, a missing one is allocated); isThreshPercent = 0;
 * segmentationType = 3. threshMap16 and threshImage16 are left in place.
 * On an allocation failure (csys_err_outOfMemory) the new scaleVal stays
 * written and everything else is unchanged.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationThreshImage8(cblob_runParams *p, uint8_t scaleVal,
                                                              const uint8_t *threshMap,
                                                              const cimg_imageConst *threshImage,
                                                              const uint8_t *postMap, int32_t threshMapSize,
                                                              int32_t postMapSize);

/**
 * As cblob_runParams_setSegmentationThreshImage8 for 16-bit pixels: the map
 * of threshMapSize 16-bit entries goes to threshMap16 and the image object
 * to threshImage16; threshMap8 and threshImage8 are left in place.
 */
CBLOB_API int32_t cblob_runParams_setSegmentationThreshImage16(cblob_runParams *p, uint8_t scaleVal,
                                                               const uint16_t *threshMap,
                                                               const cimg_imageConst *threshImage,
                                                               const uint8_t *postMap, int32_t threshMapSize,
                                                               int32_t postMapSize);

/* ----------------------------------------------------------------- getters */

/*
 * Each getter writes through its (required) output pointer and returns 0, or
 * returns cblob_err_notApplicable without writing when the value is not used
 * by the current segmentation type. The pointers handed out by getMap,
 * getPostMap and getThreshImage stay owned by the object and are valid until
 * the next setter, assign or destruct.
 */

/** *type = segmentationType. Any type. */
CBLOB_API int32_t cblob_runParams_getSegmentationType(const cblob_runParams *p, int32_t *type);
/** *thresh = thresh. Types 0 and 1. */
CBLOB_API int32_t cblob_runParams_getThresh(const cblob_runParams *p, int32_t *thresh);
/** *highThresh = highThresh. Type 1. */
CBLOB_API int32_t cblob_runParams_getHighThresh(const cblob_runParams *p, int32_t *highThresh);
/** *invert = invert. Types 0 and 1. */
CBLOB_API int32_t cblob_runParams_getInvert(const cblob_runParams *p, int32_t *invert);
/** *isThreshPercent = isThreshPercent. Types 0 and 1. */
CBLOB_API int32_t cblob_runParams_getIsThreshPercent(const cblob_runParams *p, int32_t *isThreshPercent);

/**
 * The pixel map of types 2 and 3. At least one of map8 and map16, and size,
 * are required.
 *   - map16 given: *map8 = null (when given), *map16 = threshMap16,
 *     *size = threshMapSize.
 *   - only map8 given and no threshMap16: *map8 = threshMap8 with
 *     *size = threshMapSize when threshMap8 is set, else map with mapSize.
 *   - only map8 given and threshMap16 set: *map8 = null; *size is not written.
 */
CBLOB_API int32_t cblob_runParams_getMap(const cblob_runParams *p, const uint8_t **map8, const uint16_t **map16,
                                         int32_t *size);
/** *map = map (the post map), *size = mapSize. Type 3. Both pointers required. */
CBLOB_API int32_t cblob_runParams_getPostMap(const cblob_runParams *p, const uint8_t **map, int32_t *size);
/**
 * *image8 = threshImage8 and *image16 = threshImage16, each only when its
 * pointer is given; at least one is required. Type 3.
 */
CBLOB_API int32_t cblob_runParams_getThreshImage(const cblob_runParams *p, const cimg_imageConst **image8,
                                                 const cimg_imageConst **image16);
/** *scaleVal = scaleVal. Any type. */
CBLOB_API int32_t cblob_runParams_getScaleVal(const cblob_runParams *p, int32_t *scaleVal);
/** *softness = softness. Any type. */
CBLOB_API int32_t cblob_runParams_getSoftness(const cblob_runParams *p, int32_t *softness);
/** *percent = lowTailPercent. Any type. */
CBLOB_API int32_t cblob_runParams_getLowTailPercent(const cblob_runParams *p, float *percent);
/** *percent = highTailPercent. Any type. */
CBLOB_API int32_t cblob_runParams_getHighTailPercent(const cblob_runParams *p, float *percent);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_RUN_PARAMS_H */
