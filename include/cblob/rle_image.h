/*
 * cblob run-length images: the record, its owned run storage, the counted
 * handle, the lifecycle and builders, the read-only queries and rendering,
 * encoding 8-bit images into run-length images, masking, sub-windows and
 * combination, value mapping, histograms and projections, and grey
 * morphology.
 *
 * A run-length image stores every row as a sequence of runs, each a count of
 * consecutive pixels sharing one value. An image holds either grey runs (a
 * value byte and a length) or binary runs (a length only; the values
 * alternate between 0 and 1 from the row's start value).
 *
 * Run byte format (little-endian, unaligned, packed with no gap):
 *   grey run    value byte, then the length
 *   binary run  the length alone
 *   length      one byte below 255; else the byte 0xFF and a 4-byte signed
 *               integer (a grey run of 255 pixels takes 6 bytes, a binary
 *               one 5)
 *   terminator  a run of length 0: grey 0x00 0x00, binary 0x00
 * Adjacent grey runs always differ in value. The runs of an owned row cover
 * exactly `width` pixels. A wide layout (4-byte lengths followed by a 4-byte
 * label slot) exists for the connectivity scans; only the storage flag
 * `isWide` marks it. Every function of this header writes the narrow
 * layout; the masking, sub-window, combination and morphology operations
 * also read sources held in the wide layout.
 *
 * Owned storage (cblob_imageRleData_) has height + 2 row-table entries:
 * entry 0 and entry height + 1 are sentinel rows (one run of value 0 over
 * the full width, start value 0), entries 1 .. height the image rows. Row y
 * of an image is entry y + 1 when the image owns storage (`data` non-null)
 * and entry y when it borrows rows from a blob database (`data` null).
 *
 * Conventions of every function here:
 *   - Returns 0 or a failure status (bit 31 set; cblob/status.h).
 *   - A null required pointer is reported through cstd_assert_ and the call
 *     then returns csys_err_assertFailed; so is a record that is not
 *     constructed where the function needs a constructed one.
 *   - Outputs are written only on success; validation failures change
 *     nothing.
 *   - Memory comes from the memory service; its failure status
 *     (csys_err_outOfMemory) is returned unchanged and the call leaks
 *     nothing.
 *   - Thread-safety: reading one record (queries, rendering, copies from
 *     it) from several threads at once is safe; changing a record (offset,
 *     transform, assign, clear, ...) while another thread uses it is not.
 *     Handles follow the rule of counted handles (cblob/sys.h): two threads
 *     may use two handles of one record; one handle must not be used by two
 *     threads at once. Handles share the record: a change made through one
 *     handle is seen through every other.
 */
#ifndef CBLOB_RLE_IMAGE_H
#define CBLOB_RLE_IMAGE_H

#include <stdint.h>

#include "cblob/containers.h"
#include "cblob/export.h"
#include "cblob/image.h"
#include "cblob/math.h"
#include "cblob/rect.h"
#include "cblob/status.h"
#include "cblob/sys.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ types */

/** The blob database whose rows a blob's image borrows (defined with the blob database). */
struct cblob_blobRleDb_;

/** A counted handle on a blob database; a null handle refers to none. */
typedef struct cblob_blobRleDb_Ptrh {
    cstd_ptrh ptrh;
} cblob_blobRleDb_Ptrh;

/** One row-table entry. */
typedef struct cblob_rleRow {
    uint8_t *runs;      /* first byte of the row's runs */
    int32_t numRuns;    /* runs in the row, the terminator not counted */
    uint8_t startValue; /* binary rows: the first run is foreground (1) when non-zero; grey rows ignore it */
} cblob_rleRow;

/** A pointer to one heap block of run bytes. */
typedef uint8_t *cblob_rleData_Ptr;

CSTD_VECTOR_DECLARE(cstd_vector_cblob_rleRow, cblob_rleRow)
CSTD_VECTOR_DECLARE(cstd_vector_cblob_rleData_Ptr, cblob_rleData_Ptr)
/* Each element is a whole vector of block pointers; the outer vector owns the
 * inner vectors (not the blocks they point to). */
CSTD_VECTOR_DECLARE(cstd_vector_vector_cblob_rleData_Ptr, cstd_vector_cblob_rleData_Ptr)

/**
 * The run storage an image owns. `blocks` hold the run bytes in the order
 * they were filled (rows are laid out in row order, each row wholly inside
 * one block); `blockSizes` holds each block's size in bytes.
 */
typedef struct cblob_imageRleData_ {
    cstd_vector_cblob_rleRow rows;          /* numRows + 2 entries, sentinel rows first and last */
    cstd_vector_cblob_rleData_Ptr blocks;   /* heap blocks holding the run bytes */
    cstd_vector32 blockSizes;               /* bytes of each block, parallel to blocks */
    int32_t numRows;                        /* the image height */
    int32_t numRuns;                        /* runs written into the image rows */
    int32_t isGrey;                         /* non-zero: grey runs; zero: binary runs */
    int32_t isWide;                         /* 1: the rows hold the wide layout */
} cblob_imageRleData_;

/**
 * The run-length image record. Read the fields, change them only through
 * the functions. A record reached through handles is destroyed (and, when it
 * does not live in a blob database, freed) by its last handle.
 */
typedef struct cblob_imageRle {
    int32_t offsetX;                      /* image x of the first pixel of every row */
    int32_t offsetY;                      /* image y of row 0 */
    int32_t width;                        /* pixels per row */
    int32_t height;                       /* rows */
    int32_t numRuns;                      /* runs of the image rows, sentinel rows not counted */
    int32_t isGrey;                       /* non-zero: grey runs; zero: binary runs */
    cblob_rleRow *rows;                   /* first row-table entry (the top sentinel row of owned storage) */
    struct cblob_blobRleDb_ *db;          /* the database whose rows are borrowed, or null */
    cblob_blobRleDb_Ptrh dbHandle;        /* reference on db, taken when a handle attaches the record */
    cblob_imageRleData_ *data;            /* owned storage, or null */
    int32_t isBlobImage;                  /* 1 for a blob's image living inside the blob database */
    cmath_xformPtrhConst imageFromClient; /* client -> image coordinates; null = identity */
    cstd_shared shared;                   /* the count handles share; its destroy is the image deleter */
    int32_t constructed;                  /* 1 once fully constructed */
} cblob_imageRle;

/** A counted handle on a run-length image record, or on nothing. */
typedef struct cblob_imageRlePtrh {
    cstd_ptrh ptrh;
} cblob_imageRlePtrh;

/* Element table: cblob_imageRle_construct / constructCopy / assign / destruct. */
CSTD_VECTOR_DECLARE(cstd_vector_cblob_imageRle, cblob_imageRle)

CSYS_TYPE_CHECK_DECLARE(cblob_imageRle)
CSYS_TYPE_CHECK_DECLARE(cblob_imageRlePtrh)
CSYS_TYPE_CHECK_DECLARE(cblob_imageRleData_)

/* -------------------------------------------------------- record lifecycle */

/**
 * The cheap constructor for records in arrays: sets `constructed` to 0 and
 * nothing else. Always returns 0. The record becomes usable through init,
 * assign, or one of the constructors below; destructing it as it is does
 * nothing.
 */
CBLOB_API int32_t cblob_imageRle_construct(cblob_imageRle *img);

/**
 * The full construction of raw storage: an empty record (offset, size, run
 * count 0, no rows, no storage, no database, null transform) whose `shared`
 * count is destroyed by the image deleter, with `constructed` set to 1.
 * Returns 0.
 */
CBLOB_API int32_t cblob_imageRle_construct_(cblob_imageRle *img);

/**
 * Makes the record own empty storage for `height` rows of `width` pixels at
 * (offsetX, offsetY): the storage is allocated when the record has none,
 * reset to height + 2 blank row entries (all previous blocks freed), the
 * record's numRuns and isGrey become 0, `rows` points at entry 0, and the
 * inverse of *clientFromImage (a null handle: identity) becomes the
 * record's image-from-client transform. A record built by cblob_imageRle_construct
 * is fully constructed first. A writer then fills the rows.
 * Statuses: cstd_err_badRect for a negative width or height or an extent
 * beyond 32 bits (offset + size); cmath_err_singularXform when
 * *clientFromImage is linear and singular (record unchanged); memory
 * failures. When resetting existing storage fails, the record is left with
 * no rows (`rows` null).
 */
CBLOB_API int32_t cblob_imageRle_init(cblob_imageRle *img, int32_t offsetX, int32_t offsetY, int32_t width,
                                      int32_t height, const cmath_xformPtrhConst *clientFromImage);

/**
 * Makes dst a copy of src. A src that is not constructed destructs dst (when
 * it was constructed) and leaves it not constructed. Otherwise dst is
 * constructed if needed and takes src's offset, size, run count, grey flag
 * and transform; owned storage is copied deeply (the copy's row pointers
 * point into the copy's blocks), borrowed database rows are shared (the
 * database reference is copied too). Self-assignment does nothing. The copy
 * is built before dst is changed: on failure (memory) dst is unchanged.
 */
CBLOB_API int32_t cblob_imageRle_assign(cblob_imageRle *dst, const cblob_imageRle *src);

/**
 * Constructs raw dst as a copy of src (see assign): owned storage copied,
 * borrowed rows shared. A src that is not constructed gives a dst that is
 * not constructed. On failure dst is left not constructed.
 */
CBLOB_API int32_t cblob_imageRle_constructCopy(cblob_imageRle *dst, const cblob_imageRle *src);

/**
 * As constructCopy, except that borrowed database rows are copied into new
 * owned storage so that the copy no longer depends on the database.
 */
CBLOB_API int32_t cblob_imageRle_constructDeepCopy(cblob_imageRle *dst, const cblob_imageRle *src);

/**
 * Constructs raw img as an owned grey image from the host vision library's
 * run-length format. rowRuns[0 .. height-1] point at each row's (value byte,
 * length byte) pairs, ended by a pair whose length byte is 0; adjacent pairs
 * of equal value are merged. numRuns is that image's run count and becomes
 * the record's numRuns as given; *imageFromClient is stored as is.
 * Statuses: cstd_err_badRect for a width or height below 1 or an extent
 * beyond 32 bits; cstd_err_badCount for a negative numRuns;
 * cimg_err_badGeometry when a row's lengths do not add up to `width`;
 * csys_err_badSize when the rows hold more than INT32_MAX runs; the
 * attention check's status when the host stops the call; memory failures.
 * A null row pointer is an assert. On failure img is left not constructed.
 */
CBLOB_API int32_t cblob_imageRle_constructFromTORVRLE(cblob_imageRle *img, const uint8_t *const *rowRuns,
                                                      int32_t numRuns, int32_t offsetX, int32_t offsetY,
                                                      int32_t width, int32_t height,
                                                      const cmath_xformPtrhConst *imageFromClient);

/**
 * Empties a constructed record: frees every block of its owned storage (the
 * storage object stays, with no rows), drops its database reference (`db`
 * null), makes its transform null and `rows` null. Offset, size, numRuns
 * and isGrey are kept. Returns 0 (or a release failure).
 */
CBLOB_API int32_t cblob_imageRle_clear(cblob_imageRle *img);

/**
 * Ends a record: drops the database reference, destroys and frees the owned
 * storage, drops the transform and marks the record not constructed. A
 * record that is not constructed is left alone (returns 0), so records made
 * by cblob_imageRle_construct may be destructed as they are.
 */
CBLOB_API int32_t cblob_imageRle_destruct(cblob_imageRle *img);

/* ---------------------------------------------------------- owned storage */

/** Constructs empty storage: no rows, no blocks, counters 0. Returns 0 (or a vector failure). */
CBLOB_API int32_t cblob_imageRleData__construct(cblob_imageRleData_ *data);
/**
 * Constructs raw dst as a deep copy of src: same counters and row table, a
 * copy of every block, and every row pointer moved to the same offset in the
 * copy's matching block. Memory failures leave dst not constructed. A row
 * pointer outside every block of src is an assert.
 */
CBLOB_API int32_t cblob_imageRleData__constructCopy(cblob_imageRleData_ *dst, const cblob_imageRleData_ *src);
/** Frees every block, then destroys the three vectors; the first failing step's status is returned. */
CBLOB_API int32_t cblob_imageRleData__destruct(cblob_imageRleData_ *data);

/* -------------------------------------------------------- record transforms */

/** Makes *xform (a constructed handle) share the record's image-from-client transform. Returns 0. */
CBLOB_API int32_t cblob_imageRle_getImageFromClientXform(const cblob_imageRle *img, cmath_xformPtrhConst *xform);
/**
 * Makes *xform share the inverse of the stored transform (client-from-image).
 * cmath_err_singularXform when the stored transform is linear and singular.
 */
CBLOB_API int32_t cblob_imageRle_getClientFromImageXform(const cblob_imageRle *img, cmath_xformPtrhConst *xform);
/** Stores *xform (shared) as the image-from-client transform. Returns 0. */
CBLOB_API int32_t cblob_imageRle_setImageFromClientXform(cblob_imageRle *img, const cmath_xformPtrhConst *xform);
/**
 * Stores the inverse of *xform, a client-from-image transform.
 * cmath_err_singularXform (record unchanged) when *xform is linear and singular.
 */
CBLOB_API int32_t cblob_imageRle_setClientFromImageXform(cblob_imageRle *img, const cmath_xformPtrhConst *xform);

/* ----------------------------------------------------------------- handles */

/** Constructs a null handle. Returns 0. */
CBLOB_API int32_t cblob_imageRlePtrh_construct(cblob_imageRlePtrh *h);
/** Constructs a handle sharing src's record (one more reference). Returns 0. */
CBLOB_API int32_t cblob_imageRlePtrh_constructCopy(cblob_imageRlePtrh *h, const cblob_imageRlePtrh *src);
/**
 * Makes the constructed handle h refer to the constructed record img, taking
 * a reference and dropping h's previous one. The last handle that lets go
 * destructs the record and frees it with csys_memory_free_internal, so img
 * must come from the memory service, unless it borrows a blob database's rows
 * (`db` set), in which case the database owns it and the record takes a
 * reference on the database. Returns 0, or the status of destroying h's
 * previous record.
 */
CBLOB_API int32_t cblob_imageRlePtrh_attach(cblob_imageRlePtrh *h, cblob_imageRle *img);
/** Drops h's reference; h is null afterwards. Returns the status of destroying the record if it was the last. */
CBLOB_API int32_t cblob_imageRlePtrh_detach(cblob_imageRlePtrh *h);
/** Makes h share src's record (or nothing), dropping its old reference. Self-assignment is safe. */
CBLOB_API int32_t cblob_imageRlePtrh_assign(cblob_imageRlePtrh *h, const cblob_imageRlePtrh *src);
/** Makes h null, dropping its reference. */
CBLOB_API int32_t cblob_imageRlePtrh_assignNull(cblob_imageRlePtrh *h);
/** Drops h's reference. */
CBLOB_API int32_t cblob_imageRlePtrh_destruct(cblob_imageRlePtrh *h);
/** *isNull = 1 when h refers to no record, else 0. Returns 0. */
CBLOB_API int32_t cblob_imageRlePtrh_getIsNull(const cblob_imageRlePtrh *h, int32_t *isNull);
/** *img = the record h refers to, null for a null handle. Returns 0. */
CBLOB_API int32_t cblob_imageRlePtrh_getImageRle(const cblob_imageRlePtrh *h, cblob_imageRle **img);
/**
 * Constructs h (raw storage) on a new grey record at offset (0, 0) whose
 * every pixel is the low 8 bits of `value`: one run per row, sentinel rows of
 * value 0, numRuns = height, image-from-client transform = the inverse of
 * *clientFromImage. Statuses: cstd_err_badRect for a width or height below 1;
 * cmath_err_singularXform when *clientFromImage is linear and singular;
 * csys_err_badSize when the run bytes would not fit one block; memory
 * failures. On failure h is a null handle (destructing it is harmless).
 */
CBLOB_API int32_t cblob_imageRlePtrh_constructUniform(cblob_imageRlePtrh *h, int32_t width, int32_t height,
                                                      int32_t value, const cmath_xformPtrhConst *clientFromImage);

/*
 * The four transform accessors of the record, on the record a handle refers
 * to; cblob_err_nullRleImage (0x800012E2) for a null handle.
 */
CBLOB_API int32_t cblob_imageRlePtrh_getImageFromClientXform(const cblob_imageRlePtrh *h,
                                                             cmath_xformPtrhConst *xform);
CBLOB_API int32_t cblob_imageRlePtrh_getClientFromImageXform(const cblob_imageRlePtrh *h,
                                                             cmath_xformPtrhConst *xform);
CBLOB_API int32_t cblob_imageRlePtrh_setImageFromClientXform(cblob_imageRlePtrh *h,
                                                             const cmath_xformPtrhConst *xform);
CBLOB_API int32_t cblob_imageRlePtrh_setClientFromImageXform(cblob_imageRlePtrh *h,
                                                             const cmath_xformPtrhConst *xform);

/* ------------------------------------------------------------------ queries */

/*
 * Unless noted, every cblob_imageRlePtrh_ query returns cblob_err_nullRleImage
 * (0x800012E2) for a null handle, and asserts for a record that is not
 * constructed or a null output pointer. Queries change nothing.
 */

/** *isBinary = 1 when the image holds binary runs (isGrey 0), else 0. */
CBLOB_API int32_t cblob_imageRlePtrh_getIsBinary(const cblob_imageRlePtrh *h, int32_t *isBinary);
/** *point = (offsetX, offsetY). */
CBLOB_API int32_t cblob_imageRlePtrh_getOffset(const cblob_imageRlePtrh *h, cstd_point32 *point);
/** Stores *point as the offset of the shared record (seen through every handle). */
CBLOB_API int32_t cblob_imageRlePtrh_setOffset(cblob_imageRlePtrh *h, const cstd_point32 *point);
/** *size = (width, height). */
CBLOB_API int32_t cblob_imageRlePtrh_getDimensions(const cblob_imageRlePtrh *h, cstd_size32 *size);
/** *rect = (offsetX, offsetY, width, height). */
CBLOB_API int32_t cblob_imageRlePtrh_getBoundingBox(const cblob_imageRlePtrh *h, cstd_rect32 *rect);
/** *n = the record's numRuns (sentinel rows not counted). */
CBLOB_API int32_t cblob_imageRlePtrh_getNumRuns(const cblob_imageRlePtrh *h, int32_t *n);
/**
 * *rows = the row-table entry of row 0 (past the top sentinel row of owned
 * storage); rows 0 .. height-1 follow it. The entries belong to the record
 * and stay valid until it changes. cblob_err_rleImageNoRows (0x800012E3)
 * when the height is below 1 or the record has no row table.
 */
CBLOB_API int32_t cblob_imageRlePtrh_getRows(const cblob_imageRlePtrh *h, cblob_rleRow **rows);

/*
 * Run statistics over the image rows (never the sentinel rows). For a grey
 * image every run counts with its value byte; for a binary image "value 0"
 * means the background runs and any other value the foreground runs. All
 * give 0 at once when numRuns is 0, and a mean over no runs is 0.0.
 * cblob_err_rleImageNoRows (0x800012E3) when numRuns is not 0 but the
 * record has no row table. The handle forms pass the low 8 bits of `value`.
 */
/** *n = grey: runs of this length; binary: foreground runs of this length. */
CBLOB_API int32_t cblob_imageRle_getNumRunsWithLength(const cblob_imageRle *img, int32_t length, int32_t *n);
/** *n = runs of this value (binary: background for 0, foreground otherwise). */
CBLOB_API int32_t cblob_imageRle_getNumRunsWithValue(const cblob_imageRle *img, uint8_t value, int32_t *n);
/** *avg = grey: all run lengths / numRuns; binary: foreground run lengths / numRuns. */
CBLOB_API int32_t cblob_imageRle_getAvgRunLength(const cblob_imageRle *img, double *avg);
/** *avg = the mean length of the runs of this value (binary: background for 0, foreground otherwise). */
CBLOB_API int32_t cblob_imageRle_getAvgRunLengthWithValue(const cblob_imageRle *img, uint8_t value, double *avg);
CBLOB_API int32_t cblob_imageRlePtrh_getNumRunsWithLength(const cblob_imageRlePtrh *h, int32_t length, int32_t *n);
CBLOB_API int32_t cblob_imageRlePtrh_getNumRunsWithValue(const cblob_imageRlePtrh *h, int32_t value, int32_t *n);
CBLOB_API int32_t cblob_imageRlePtrh_getAvgRunLength(const cblob_imageRlePtrh *h, double *avg);
CBLOB_API int32_t cblob_imageRlePtrh_getAvgRunLengthWithValue(const cblob_imageRlePtrh *h, int32_t value,
                                                              double *avg);

/**
 * *value = the pixel at image coordinates (x, y): a grey run's value byte, or
 * 0 / 1 for a binary row (0 past the last run of a row that ends early).
 * cblob_err_pelOutside (0x800012E7) when (x, y) lies outside the image;
 * cblob_err_rleImageNoRows (0x800012E3) when the record has no row table.
 */
CBLOB_API int32_t cblob_imageRlePtrh_getPel8(const cblob_imageRlePtrh *h, int32_t x, int32_t y, uint8_t *value);

/* --------------------------------------------------------------- rendering */

/**
 * Draws the image into the 8-bit image *image: grey runs as their value
 * byte, binary runs as 0 and 1 (the rest of a binary row that ends early
 * as 0). When *image is unbound, narrower than `width` or lower than
 * `height`, it first gets new zero-filled storage of exactly width x height
 * pixels with its origin at (offsetX, offsetY); otherwise the image's window
 * (offsetX, offsetY, width, height) is drawn. On success the image's
 * image-from-client transform becomes the record's.
 * Statuses: cblob_err_rleImageEmpty (0x80001286) for a null handle, a record
 * without rows or a height below 1; cimg_err_badDepth for a 16-bit image;
 * cblob_err_windowOutsideImage (0x8000129E) when the window does not lie
 * wholly inside a bound image that is large enough (nothing drawn);
 * cmath_err_singularXform when the record's transform is linear and singular
 * (nothing drawn); memory failures of the new storage (image unchanged).
 */
CBLOB_API int32_t cblob_imageRlePtrh_getImage(const cblob_imageRlePtrh *h, cimg_image *image);

/**
 * Draws the image into the bound 8-bit image *image at the window
 * (offsetX + dx, offsetY + dy, width, height), (dx, dy) = *offset, through
 * the value map *map: a grey run's value byte indexes map; a binary row's
 * background runs take map[0] and its foreground runs map[1]. Runs whose
 * output equals `transparent` are skipped; after the last run of a binary
 * row, the rest of the row is filled with map[0] unless that is
 * transparent.
 * Statuses, in order: cblob_err_rleImageEmpty (0x80001286) for a null
 * handle, a record without rows or a height below 1; cblob_err_imageUnbound
 * (0x80001282) for an unbound image; cimg_err_badDepth for a 16-bit image;
 * cblob_err_windowOutsideImage (0x8000129E) when the window does not lie
 * wholly inside the image; cblob_err_badMapSize (0x800012EB) for a binary
 * image and a map of fewer than 2 entries (before drawing), or a grey run
 * value not below the map's size (the rows before it stay drawn).
 */
CBLOB_API int32_t cblob_imageRlePtrh_renderInImage(const cblob_imageRlePtrh *h, const cstd_point32 *offset,
                                                   const cstd_vector8 *map, uint8_t transparent, cimg_image *image);

/* ---------------------------------------------------------------- equality */

/**
 * *equal = 1 when both handles refer to the same record or to records owning
 * the same storage object, or when both records have the same offset and
 * size and equal rows: owned storage compares every row-table entry
 * (sentinel rows included), borrowed rows compare the image rows, by run
 * count, start value (binary rows) and the sequence of run values and
 * lengths; records without rows on both sides are equal. Any other pair (an
 * owning and a borrowing record, different geometry) gives 0.
 * cblob_err_nullRleImage (0x800012E2) when either handle is null.
 */
CBLOB_API int32_t cblob_imageRlePtrh_compareEqual(const cblob_imageRlePtrh *a, const cblob_imageRlePtrh *b,
                                                  int32_t *equal);

/* ---------------------------------------------------------------- encoding */

/*
 * Each encode function segments the whole 8-bit image *image into a new
 * run-length image and attaches it to *h (a constructed handle). It sets one
 * segmentation on a local run-parameters object with the setter named below
 * (the arguments after the image are passed on unchanged and mean what they
 * mean to that setter, cblob/run_params.h), and segments with it: no mask,
 * narrow runs, the image's origin, size and client-from-image transform.
 * Large images are segmented in horizontal bands on the job thread group.
 *
 * Value of a pixel v (see the setters): hard threshold: binary runs, object
 * (1) where v >= thresh, or v < thresh with invert exactly 1; soft
 * threshold: grey runs from 0 below `low` to softness + 1 from `high` on,
 * graded between (at most 254 levels; any non-zero invert inverts); map:
 * map[v], 0 beyond mapSize entries; threshold image: with t the threshold
 * image's pixel at the same position (read from its own first pixel) and
 * u = threshMap[v] (0 beyond threshMapSize entries), 0 when u < t, else
 * postMap[u - t] (indices beyond postMapSize read its last entry); none: v.
 * The percent forms compute the thresholds from the image's histogram on
 * each call.
 *
 * Ownership: h holds the only reference to the new record. An image h held
 * before is released from h (other handles on it keep it unchanged).
 *
 * Statuses, in order: the setter's failure (h unchanged); then
 * cblob_err_imageUnbound (0x80001282) for an unbound image, cimg_err_badDepth
 * for a 16-bit image, cblob_err_badThreshRange (0x8000128C) for a hard
 * threshold, soft low or soft high threshold above 255,
 * cblob_err_badSoftness (0x80001290) for a softness of exactly 255,
 * cblob_err_threshImageUnbound (0x80001299) / cimg_err_badDepth /
 * cimg_err_badGeometry for a threshold image that is unbound, not 8-bit or
 * smaller than the image (all with h unchanged); then, with h already null:
 * cip_err_emptyHistogram for a percent form on an empty image, the
 * attention check's status when the host stops the call, memory failures.
 * A null h or image is reported through cstd_assert_.
 *
 * Thread-safety: one handle must not be used by two threads at once; the
 * image is only read.
 */

/** No segmentation: grey runs of the pixel values (cblob_runParams_setSegmentationNone(p, 1)). */
CBLOB_API int32_t cblob_imageRlePtrh_encode(cblob_imageRlePtrh *h, const cimg_imageConst *image);

/** Grey runs of map[v] (cblob_runParams_setSegmentationMap(p, 1, map, mapSize); map required, mapSize >= 1). */
CBLOB_API int32_t cblob_imageRlePtrh_encodeMap8(cblob_imageRlePtrh *h, const cimg_imageConst *image,
                                                const uint8_t *map, int32_t mapSize);

/** Binary runs of a hard threshold (cblob_runParams_setSegmentationHardThresh(p, thresh, invert)). */
CBLOB_API int32_t cblob_imageRlePtrh_encodeHardThresh(cblob_imageRlePtrh *h, const cimg_imageConst *image,
                                                      int32_t thresh, int32_t invert);

/**
 * Grey runs of a soft threshold
 * (cblob_runParams_setSegmentationSoftThreshWithSoftness(p, low, high, softness, invert)).
 */
CBLOB_API int32_t cblob_imageRlePtrh_encodeSoftThreshWithSoftness(cblob_imageRlePtrh *h,
                                                                  const cimg_imageConst *image, int32_t low,
                                                                  int32_t high, int32_t softness, int32_t invert);

/**
 * Grey runs against a per-pixel threshold image
 * (cblob_runParams_setSegmentationThreshImage8(p, 1, threshMap, threshImage, postMap, threshMapSize,
 * postMapSize); the three pointers required). The threshold image must be
 * 8-bit and at least as large as the image.
 */
CBLOB_API int32_t cblob_imageRlePtrh_encodeThreshImage8(cblob_imageRlePtrh *h, const cimg_imageConst *image,
                                                        const uint8_t *threshMap, const cimg_imageConst *threshImage,
                                                        const uint8_t *postMap, int32_t threshMapSize,
                                                        int32_t postMapSize);

/**
 * Binary runs of a hard threshold at threshPercent of the histogram span
 * (cblob_runParams_setSegmentationHardThreshPercent(p, lowTailPercent, highTailPercent, threshPercent,
 * invert)).
 */
CBLOB_API int32_t cblob_imageRlePtrh_encodeHardThreshPercent(cblob_imageRlePtrh *h, const cimg_imageConst *image,
                                                             float lowTailPercent, float highTailPercent,
                                                             float threshPercent, int32_t invert);

/**
 * Grey runs of a soft threshold between two percentages of the histogram
 * span (cblob_runParams_setSegmentationSoftThreshPercentWithSoftness(p, lowTailPercent, highTailPercent,
 * lowThreshPercent, highThreshPercent, softness, invert)).
 */
CBLOB_API int32_t cblob_imageRlePtrh_encodeSoftThreshPercentWithSoftness(
    cblob_imageRlePtrh *h, const cimg_imageConst *image, float lowTailPercent, float highTailPercent,
    float lowThreshPercent, float highThreshPercent, int32_t softness, int32_t invert);

/* --------------------------------- masking, sub-windows and combination */

/*
 * Operations that derive a new image from one or two others by walking
 * their runs in step, never expanding rows to pixels. The new image owns
 * its storage (narrow runs, sentinel rows, each row's run count and the
 * total in numRuns). `result` is a constructed handle and may be one of the
 * sources: on success it holds the only reference to the new record and
 * drops the one it held before (other handles keep that record); on every
 * failure it is left detached (null) and nothing leaks. Rows that end early
 * (binary rows borrowed from a blob database) read as 0 up to the width;
 * sources in the wide layout are read as well.
 * Each polls the attention check every 32 rows and returns its status when
 * the host stops the call. A null required pointer, or a record that is not
 * constructed, is reported through cstd_assert_.
 * Thread-safety: the sources are only read.
 */

/**
 * Masks src by a second run-length image: pixel (x, y) of the result is
 * src's pixel where the mask passes, else `replacement`. The mask passes at
 * a pixel when (mask value == value) equals (keepEqual != 0); a binary mask
 * has values 0 and 1. The mask is read from its own first pixel (its offset
 * is not consulted) and must have src's width and height. The result has
 * src's offset, size, format (grey or binary) and client transform; for a
 * binary src any non-zero replacement is foreground (1). Both images may own
 * their storage or borrow a blob database's rows.
 * Statuses: cblob_err_nullRleImage (0x800012E2) for a null src or mask
 * handle; cblob_err_rleImageEmpty (0x80001286) for an image without rows;
 * cblob_err_maskGeometryMismatch (0x80001284) for a mask of another size;
 * csys_err_badSize for more than INT32_MAX runs; the attention check's;
 * memory failures.
 */
CBLOB_API int32_t cblob_imageRlePtrh_mask(const cblob_imageRlePtrh *src, const cblob_imageRlePtrh *mask,
                                          cblob_imageRlePtrh *result, uint8_t value, uint8_t replacement,
                                          int32_t keepEqual);

/**
 * Cuts the rectangle *rect (x, y relative to src's first pixel) out of src
 * as an image of its own: offset src's offset + (x, y), the rectangle's
 * size, src's format and client transform; runs are split at the
 * rectangle's left and right edges.
 * Statuses: cblob_err_nullRleImage (0x800012E2) for a null handle;
 * cblob_err_rleImageNoRows (0x800012E3) for a source without owned storage
 * (a blob's image borrowing database rows included: cblob_imageRle_constructDeepCopy
 * gives it storage); cblob_err_badSubWindow (0x800012E6) unless x >= 0,
 * y >= 0, width >= 1, height >= 1 and the rectangle lies inside src; the
 * attention check's; memory failures.
 */
CBLOB_API int32_t cblob_imageRlePtrh_subWindow(const cblob_imageRlePtrh *src, const cstd_rect32 *rect,
                                               cblob_imageRlePtrh *result);

/**
 * Lays b over a through a value table. b sits at (b.offsetX - a.offsetX +
 * dx, b.offsetY - a.offsetY + dy) relative to a's first pixel; the part of
 * b outside a is clipped away. Where b covers a pixel, t = table[b's value]
 * (a binary b gives index 0 or 1) and the result is t, or a's value when t
 * equals `transparent`; elsewhere the result is a's value (0 or 1 for a
 * binary a). The result is always grey, with a's offset, size and client
 * transform. table: 256 entries, required; tableSize is not read. Both
 * images may own their storage or borrow a blob database's rows.
 * Statuses: cblob_err_nullRleImage (0x800012E2) for a null handle;
 * cblob_err_rleImageEmpty (0x80001286) for an image without rows;
 * csys_err_badSize; the attention check's; memory failures.
 */
CBLOB_API int32_t cblob_imageRlePtrh_combine(int32_t dx, int32_t dy, const cblob_imageRlePtrh *a,
                                             const cblob_imageRlePtrh *b, const uint8_t *table, int32_t tableSize,
                                             uint8_t transparent, cblob_imageRlePtrh *result);

/**
 * Copies the pixels of the 8-bit image *src that lie under the mask into
 * *dst. The mask covers the rectangle (mask.offsetX - dx, mask.offsetY -
 * dy, mask.width, mask.height) of src's image coordinates, clipped to src.
 * A pixel is selected when (mask value != 0) differs from (invert != 0); a
 * selected pixel is copied to the pixel of dst at the same image
 * coordinates, an unselected one gets fillValue when `fill` is non-zero and
 * is left alone otherwise. An unbound dst first gets new zero-filled 8-bit
 * storage of the clipped rectangle's size with its origin at the
 * rectangle's; a bound dst clips the rectangle further to its own extent.
 * A mask that covers none of src does nothing and succeeds.
 * Statuses, in order: cblob_err_imageUnbound (0x80001282) for an unbound
 * src; cblob_err_nullRleImage (0x800012E2) for a null mask handle;
 * cblob_err_rleImageNoRows (0x800012E3) for a mask without owned storage;
 * cblob_err_emptyWindow (0x800012F9) for a src without pixels;
 * cimg_err_badDepth for a src or dst that is not 8-bit; the attention
 * check's (the rows copied before it stay copied); memory failures of dst's
 * new storage.
 */
CBLOB_API int32_t cblob_imageRlePtrh_maskAndCopyRegion(const cimg_imageConst *src, const cblob_imageRlePtrh *mask,
                                                       int32_t dx, int32_t dy, uint8_t fillValue, int32_t fill,
                                                       int32_t invert, cimg_image *dst);

/**
 * Adds the pixels of the 8-bit image *src selected by the mask (placed and
 * selected as in cblob_imageRlePtrh_maskAndCopyRegion) to hist: pixel p
 * increments hist[min(p, maxBin)], maxBin = numBins - 1 below 256 bins, else
 * 255. The counters are added to, never cleared. Allocates nothing.
 * Statuses: those of cblob_imageRlePtrh_maskAndCopyRegion for src and the
 * mask; cip_err_badBins for numBins below 1; the attention check's (the rows
 * counted before it stay counted).
 */
CBLOB_API int32_t cblob_imageRlePtrh_maskAndHistogramRegion(const cimg_imageConst *src,
                                                            const cblob_imageRlePtrh *mask, int32_t dx, int32_t dy,
                                                            int32_t invert, uint32_t *hist, int32_t numBins);

/* --------------------------------------------------------------- morphology */

/**
 * Applies one morphology operation (cblob_morph_* in cblob/containers.h) to
 * src and makes *result refer to a new image with src's offset, size,
 * format and client transform. Erosion takes the minimum and dilation the
 * maximum over the element, of grey values or of binary 0 and 1; outside
 * the image the nearest edge pixel repeats (an object touching the border
 * is not eroded from it). Computed on runs: a horizontal pass moves run
 * boundaries within each row, a vertical pass merges each row with its
 * neighbours; the 3 x 3 element is the two passes in turn, opening and
 * closing two elements in turn. src may own its storage or borrow a blob
 * database's rows; result may be src's own handle (see above).
 * Statuses: cblob_err_nullRleImage (0x800012E2) for a null src handle;
 * cblob_err_badMorphOp (0x800012FA) for a code outside 0..11;
 * cblob_err_rleImageEmpty (0x80001286) for a source without rows;
 * csys_err_badSize; the attention check's (polled every 32 rows of each
 * pass); memory failures. On failure *result is detached.
 */
CBLOB_API int32_t cblob_imageRlePtrh_gmorph(const cblob_imageRlePtrh *src, cblob_imageRlePtrh *result,
                                            cblob_morphOp op);

/* ------------------------------------ mapping, histograms and projections */

/*
 * Operations that read an image run by run. In every sum a binary pixel
 * weighs 1 when foreground and 0 when background, a grey pixel its value.
 * Rows are read as stored: a binary row that ends early (rows borrowed from
 * a blob database) is background after its last run.
 *
 * Unless noted: cblob_err_nullRleImage (0x800012E2) for a null handle;
 * cblob_err_rleImageEmpty (0x80001286) for a record without a row table
 * (neither owned storage nor borrowed rows). A null required pointer, or a
 * record that is not constructed, is reported through cstd_assert_.
 * Thread-safety: the source image is only read, so several threads may map,
 * histogram and project one image at once through their own handles; the
 * outputs (result handle, vectors, counters) must not be shared with
 * another thread during the call.
 */

/**
 * Makes *result refer to a new grey image whose every pixel is
 * table[source value]: grey runs map their value byte, binary rows their
 * background runs to table[0] and foreground runs to table[1]. Neighbouring
 * runs that map to one value are merged, so the new image may have fewer
 * runs than the source. The new image has the source's offset, size and
 * client transform, its own storage with sentinel rows, each row's run count
 * and the total run count in numRuns.
 *
 * table: 256 entries, required. tableSize: not read (the table always has
 * 256 entries). result: a constructed handle, which may be src itself; on
 * success it holds the only reference to the new record and drops the one
 * it held before (other handles keep that record).
 *
 * Statuses: cblob_err_nullRleImage (0x800012E2) for a null source handle;
 * cblob_err_rleImageNoRows (0x800012E3) for a source without owned storage
 * (never initialised, emptied, or a blob's image borrowing database rows);
 * the attention check's status when the host stops the call (polled every
 * 32 rows); csys_err_badSize for more than INT32_MAX runs; memory failures.
 * On every failure *result is left detached (null), nothing leaks.
 */
CBLOB_API int32_t cblob_imageRlePtrh_map(const cblob_imageRlePtrh *src, const uint8_t *table, int32_t tableSize,
                                         cblob_imageRlePtrh *result);

/**
 * Adds to pixelHist[v] the number of pixels of value v and to runHist[v] the
 * number of runs of value v, over the image rows (binary images: values 0
 * and 1; the rest of a row that ends early counts as one background run).
 * Either array (256 counters) may be null and is then skipped. The counters
 * are added to, never cleared; counts wrap at 2^32.
 * Statuses: 0x800012E2, 0x80001286 as above; the attention check's status
 * when the host stops the call (polled every 128 rows), the rows counted
 * before it staying counted. Allocates nothing.
 */
CBLOB_API int32_t cblob_imageRlePtrh_histo(const cblob_imageRlePtrh *src, uint32_t *pixelHist, uint32_t *runHist);

/**
 * The column projection: *out is resized to `width` entries and entry x
 * overwritten with the weight of column x (x relative to offsetX). Every
 * sum is exact: csys_err_badSize, before anything is written, when a column
 * could weigh more than 2^32 - 1 (a grey image more than 16843009 rows
 * high). Statuses: 0x800012E2, 0x80001286 as above; csys_err_badSize; the
 * vector's resize failure (memory), *out then unchanged.
 */
CBLOB_API int32_t cblob_imageRlePtrh_projectVert(const cblob_imageRlePtrh *src, cstd_vector32 *out);

/**
 * The row projection: *out is resized to `height` entries and entry y
 * overwritten with the weight of row y. csys_err_badSize when a row could
 * weigh more than 2^32 - 1 (a grey image more than 16843009 pixels wide).
 * Statuses as for cblob_imageRlePtrh_projectVert.
 */
CBLOB_API int32_t cblob_imageRlePtrh_projectHoriz(const cblob_imageRlePtrh *src, cstd_vector32 *out);

/**
 * The diagonal projection: *out is resized to width + height - 1 entries
 * (none for an image without pixels) and entry d overwritten with the weight
 * of the pixels with x + y = d (x, y relative to the offset).
 * csys_err_badSize when a diagonal could weigh more than 2^32 - 1 (a grey
 * image whose smaller side passes 16843009). Statuses as for
 * cblob_imageRlePtrh_projectVert.
 */
CBLOB_API int32_t cblob_imageRlePtrh_projectDiag(const cblob_imageRlePtrh *src, cstd_vector32 *out);

/**
 * The mass profile across a client direction: the image's weight summed
 * along lines parallel to direction = (d0, d1), laid out in unit bins along
 * the perpendicular axis.
 *
 * xform: the client-from-image transform (a null handle: identity; a
 * perspective transform is taken by its local affine approximation at the
 * image's centre). With M its matrix, the direction in the image frame is
 * M^-1 d at the angle theta; s = |sin theta|, c = |cos theta|. The axis runs
 * along n = (-sin theta, cos theta), with pixel coordinates mirrored so that
 * every position is non-negative: x' = x when fx, else width - 1 - x; y' = y
 * when fy, else height - 1 - y, where fx = (sin theta <= 0) xor (det M < 0)
 * and fy = (cos theta > 0) xor (det M < 0) (x, y relative to the offset).
 *
 * Outputs, all written on success:
 *   *kind       0 in general; 1 (fy) or 2 for a direction along the image
 *               rows (s < 1e-6); 3 (fx) or 4 for one along the image columns
 *               (c < 1e-6).
 *   masses      kind 0: the vector is overwritten with
 *               floor(height c + width s) + 1 bin masses; pixel (x, y)
 *               covers the axis from x' s + y' c to that plus s + c, and its
 *               weight is spread over the bins [k, k + 1) exactly in
 *               proportion to the density of its unit square's projection
 *               (a trapezoid), so the bins add up to the image's weight up
 *               to rounding; a bin never holds a negative mass.
 *               Kinds 1 to 4: when fillAxisProfile is non-zero, the row sums
 *               (kinds 1, 2) or column sums (kinds 3, 4) as doubles, in y'
 *               or x' order (reversed for kinds 2 and 4); when it is 0 the
 *               vector is left as it was.
 *   origin      (0 when fx, else width; 0 when fy, else height).
 *   *binSize    |(M n) x d|, the client length one bin spans across the
 *               direction (one bin for a unit direction vector).
 *   *firstFraction, *lastFraction
 *               kind 0: tmin - floor(tmin) and ceil(tmax) - tmax, where tmin
 *               and tmax are the lowest and highest axis positions any
 *               weighted run covers; 0 when no pixel has weight, and 0 for
 *               kinds 1 to 4.
 *
 * Statuses: 0x800012E2, 0x80001286 as above; cmath_err_outsideDomain when a
 * perspective transform is not defined at the image's centre; the vector's
 * resize failure (memory), *masses and the other outputs then unchanged.
 * Never polls the attention check.
 */
CBLOB_API int32_t cblob_imageRlePtrh_projectAngle(const cblob_imageRlePtrh *src, const double direction[2],
                                                  const cmath_xformPtrhConst *xform, int32_t fillAxisProfile,
                                                  cstd_vectord *masses, int32_t *kind, double origin[2],
                                                  double *binSize, double *firstFraction, double *lastFraction);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_RLE_IMAGE_H */
