/*
 * cblob blobs: the finished region record `cblob_blob`, its 1000-entry
 * blocks, the per-blob client transform blocks, the measure codes, the
 * filter record, the per-blob run-length database `cblob_blobRleDb_` with
 * its counted handle, and the clean-up functions for arrays of blocks.
 *
 * A connectivity scan labels the runs of a run-length image into regions of
 * both colours: objects (colour 1) and the background pieces between and
 * inside them (colour 0, holes). Every finished region becomes a cblob_blob
 * in its result set (cblob/result_set.h), and a parent/child tree links each
 * region to the region of the other colour that encloses it.
 *
 * Conventions of every function here:
 *   - Returns 0 or a failure status (bit 31 set; cblob/status.h).
 *   - A null required pointer, and every other broken precondition named in
 *     a function's comment, is reported through cstd_assert_; the call then
 *     returns csys_err_assertFailed and changes nothing.
 *   - Outputs are written only on success.
 *   - Memory comes from the memory service; its failure status
 *     (csys_err_outOfMemory) is returned unchanged and the call leaks
 *     nothing.
 *   - Thread-safety: an object must not be used by two threads at once;
 *     distinct objects are independent. Handles follow the rule of counted
 *     handles (cblob/sys.h).
 */
#ifndef CBLOB_BLOB_H
#define CBLOB_BLOB_H

#include <stdint.h>

#include "cblob/containers.h"
#include "cblob/export.h"
#include "cblob/math.h"
#include "cblob/rle_image.h"
#include "cblob/status.h"
#include "cblob/sys.h"

#ifdef __cplusplus
extern "C" {
#endif

struct cblob_resultSet;
struct cblob_blob_internal_;

/* ------------------------------------------------------------- measures */

/** Measure codes (cblob_measure, cblob/containers.h). 0 means no measure. */
enum {
    cblob_measureColour = 1,
    cblob_measureArea = 2,
    cblob_measureBoundaryStepCount = 3,
    cblob_measurePerimeter = 4,
    cblob_measureNumChildren = 5,
    cblob_measureCenterOfMassX = 6,
    cblob_measureCenterOfMassY = 7,
    cblob_measureInertiaX = 8,
    cblob_measureInertiaY = 9,
    cblob_measureInertiaMin = 10,
    cblob_measureInertiaMax = 11,
    cblob_measureElongation = 12,
    cblob_measureAngle = 13,
    cblob_measureCompactness = 14,
    cblob_measureAcircularity = 15,
    cblob_measureIsInterior = 16,
    cblob_measureBoxCenterX = 17,
    cblob_measureBoxCenterY = 18,
    cblob_measureBoxLeft = 19,
    cblob_measureBoxRight = 20,
    cblob_measureBoxTop = 21,
    cblob_measureBoxBottom = 22,
    cblob_measureBoxWidth = 23,
    cblob_measureBoxHeight = 24,
    cblob_measureBoxAspect = 25,
    cblob_measureMedianX = 26,
    cblob_measureMedianY = 27,
    cblob_measureAngleBoxCenterX = 28,
    cblob_measureAngleBoxCenterY = 29,
    cblob_measureAngleBoxMinX = 30,
    cblob_measureAngleBoxMaxX = 31,
    cblob_measureAngleBoxMinY = 32,
    cblob_measureAngleBoxMaxY = 33,
    cblob_measureAngleBoxWidth = 34,
    cblob_measureAngleBoxHeight = 35,
    cblob_measureAngleBoxAspect = 36,
    cblob_measurePrincipalMedianX = 37,
    cblob_measurePrincipalMedianY = 38,
    cblob_measurePrincipalBoxCenterX = 39,
    cblob_measurePrincipalBoxCenterY = 40,
    cblob_measurePrincipalBoxMinX = 41,
    cblob_measurePrincipalBoxMaxX = 42,
    cblob_measurePrincipalBoxMinY = 43,
    cblob_measurePrincipalBoxMaxY = 44,
    cblob_measurePrincipalBoxWidth = 45,
    cblob_measurePrincipalBoxHeight = 46,
    cblob_measurePrincipalBoxAspect = 47
};

/** The number of entries of a measure table: one per code 0 .. 50 (48 to 50 are internal cache keys). */
#define CBLOB_MEASURE_TABLE_SIZE 51

/**
 * One measure range filter, a value type. A blob passes when its measure
 * value lies in [low, high] (excludeRange 0) or outside it (any other
 * excludeRange: value < low or value > high).
 */
typedef struct cblob_filter {
    int32_t measure;      /* measure code, 1 .. 47 */
    double low;           /* lower bound, inclusive */
    double high;          /* upper bound, inclusive; low <= high */
    int32_t excludeRange; /* 0: keep values inside the range; else keep values outside it */
} cblob_filter;

CSTD_VECTOR_DECLARE(cstd_vector_cblob_filter, cblob_filter)
/* Each element is a whole vector of filters, owned by the outer vector. */
CSTD_VECTOR_DECLARE(cstd_vector_vector_cblob_filter, cstd_vector_cblob_filter)
CSYS_TYPE_CHECK_DECLARE(cblob_filter)

/* ------------------------------------------------------------ tree nodes */

/**
 * The node kind every tree node starts with. Working records of a scan and
 * finished blob records can share one child list, and their link fields lie
 * in different places, so tree code asks `isBlob` before it touches a
 * sibling link. Both slots take the node's address and return their answer
 * directly (they cannot fail): isBlob 1 for a cblob_blob, 0 for a working
 * record; getLabel the blob label or the working label.
 */
typedef struct cblob_nodeKind_ {
    int32_t (*isBlob)(const void *node);
    int32_t (*getLabel)(const void *node);
} cblob_nodeKind_;

/** The node kind of every cblob_blob. Thread-safe constant. */
CBLOB_API extern const cblob_nodeKind_ cblob_blob_external_vtable_;

/* ------------------------------------------------------------ blob record */

/**
 * A finished region. Written by the connectivity scan into its result set's
 * blob blocks; read it, never change it. Records never move while their
 * result set lives, so the pointers between them stay valid.
 *
 * The tree links are kept twice: the labelled set keeps the tree as the scan
 * built it; the current set starts as an equal copy, and filters and the
 * sort of the result set change only that set. While a scan runs, a link may
 * name a working record; once the scan has ended every link names a blob of
 * the same result set.
 */
typedef struct cblob_blob {
    const cblob_nodeKind_ *nodeKind;      /* always &cblob_blob_external_vtable_ */
    struct cblob_resultSet *owner;        /* the result set holding the blob */
    void *adjacencyHolder;                /* labelled scan only: adjacency list and raw sums until finished */
    cmath_xformLinear *clientFromImage;   /* the blob's client transform: a transform block entry, or the
                                             result set's shared linear transform */
    cblob_rleRow *cachedRuns;             /* the blob's first row entry in the blob database, or null */
    int32_t label;                        /* 1 .. the result set's blob count, without gaps */
    uint8_t colour;                       /* 1 object, 0 hole */
    int32_t boxLeft;                      /* bounding box, image coordinates */
    int32_t boxTop;
    int32_t boxWidth;
    int32_t boxHeight;
    double boxCenterX;                    /* boxLeft + boxWidth / 2 */
    double boxCenterY;                    /* boxTop + boxHeight / 2 */
    double boxAspect;                     /* boxHeight / boxWidth */
    int32_t isGrey;                       /* 1 when the blob's runs carry values (weighted scan) */
    double area;                          /* client units */
    double centerOfMassX;                 /* client coordinates */
    double centerOfMassY;
    int32_t momentsValid;                 /* 1 once the six moment fields below hold values */
    double inertiaX;                      /* central second moment in x, not divided by the area */
    double inertiaY;                      /* central second moment in y */
    double inertiaMin;                    /* minor principal moment */
    double inertiaMax;                    /* major principal moment */
    double elongation;                    /* inertiaMax / inertiaMin, >= 1 */
    double angle;                         /* principal angle, radians */
    struct cblob_blob *parent;            /* enclosing blob, or null for a top-level blob */
    int32_t numChildren;                  /* labelled set */
    struct cblob_blob *firstChild;
    struct cblob_blob *lastChild;
    struct cblob_blob *nextSibling;
    struct cblob_blob *prevSibling;
    int32_t curNumChildren;               /* current set */
    struct cblob_blob *curFirstChild;
    struct cblob_blob *curLastChild;
    struct cblob_blob *curNextSibling;
    struct cblob_blob *curPrevSibling;
} cblob_blob;

CSYS_TYPE_CHECK_DECLARE(cblob_blob)

/**
 * The neighbours of a blob of the labelled scan (connectivityType 1): the
 * blobs whose pixels touch its pixels (left, right, above, below, or at the
 * upper-left or lower-right diagonal). After a labelled run every blob's
 * adjacencyHolder points at one of these; it lives, with the neighbours
 * array, as long as the result set's blobs (until the set is cleared or
 * destroyed). Read it, never change it. Blobs of other scans, and copies made
 * by cblob_resultSet_assign, have a null adjacencyHolder.
 */
typedef struct cblob_blobAdjacency {
    int32_t numNeighbours;             /* blobs of the result set it touches */
    int32_t touchesBorder;             /* 1 when it reaches the window border (touches the outer region) */
    struct cblob_blob **neighbours;    /* numNeighbours blobs, by ascending label */
} cblob_blobAdjacency;

/*
 * Blob blocks: a cblock_of_cblob_blob_ptr cell (cblob/containers.h) points
 * at the first of CBLOB_BLOB_BLOCK_CAPACITY blob records, which are followed
 * by an int32_t count of the records in use. A result set keeps its blocks in
 * a cstd_vector_cblock_of_cblob_blob_ptr; only the last block is written, and
 * a new block is appended as soon as a count reaches the capacity.
 *
 * Transform blocks: a cblock_of_cblob_xformLinear_ptr cell points at the
 * first of CBLOB_XFORM_BLOCK_CAPACITY cmath_xformLinear entries, followed by
 * an int32_t count, kept the same way.
 */
#define CBLOB_BLOB_BLOCK_CAPACITY 1000
#define CBLOB_XFORM_BLOCK_CAPACITY 1000

/* ------------------------------------------------- working record pool */

/**
 * One block of the scan's pool of working region records: the records and
 * their number. The working record itself is private to the library.
 */
typedef struct cblob_blob_internal_block_ {
    struct cblob_blob_internal_ *records;
    int32_t count;
} cblob_blob_internal_block_;

/** The element of the pool vector: one pool block. */
typedef cblob_blob_internal_block_ cblob_blob_internal__ptr;
CSTD_VECTOR_DECLARE(cstd_vector_cblob_blob_internal__ptr, cblob_blob_internal__ptr)

/** Sets the block's records pointer to null and its count to 0. Returns 0. */
CBLOB_API int32_t cblob_blob_internal_block__init(cblob_blob_internal_block_ *block);

/* ----------------------------------------------------- blob run database */

/**
 * A row block of the blob database: `size` bytes at `memory` holding row
 * entries (cblob_rleRow), of which the first `used` are taken.
 */
typedef struct cblob_blob_rleRowBlock_ {
    cblob_rleRow *memory;
    int32_t size; /* bytes, a multiple of sizeof(cblob_rleRow) */
    int32_t used; /* row entries in use */
} cblob_blob_rleRowBlock_;

/**
 * A data block of the blob database: `size` bytes at `memory` holding
 * encoded runs (binary rows: each length one byte below 255, else 0xFF and a
 * 4-byte little-endian length; each row ends with a 0 byte; grey rows, of
 * blobs whose grey flag is set: a value byte before each length, and a row
 * ends with 0x00 0x00). `cursor` is the next byte to write, `entries` the
 * rows written.
 */
typedef struct cblob_blob_rleDataBlock_ {
    uint8_t *memory;
    uint8_t *cursor;
    int32_t size;    /* bytes */
    int32_t entries; /* rows written */
} cblob_blob_rleDataBlock_;

CSTD_VECTOR_DECLARE(cstd_vector_cblob_blob_rleRowBlock_, cblob_blob_rleRowBlock_)
CSTD_VECTOR_DECLARE(cstd_vector_cblob_blob_rleDataBlock_, cblob_blob_rleDataBlock_)
/* Vectors of such vectors (one per band); the outer vector owns the inner ones. */
CSTD_VECTOR_DECLARE(cstd_vector_vector_cblob_blob_rleRowBlock_, cstd_vector_cblob_blob_rleRowBlock_)
CSTD_VECTOR_DECLARE(cstd_vector_vector_cblob_blob_rleDataBlock_, cstd_vector_cblob_blob_rleDataBlock_)

/**
 * The per-blob run-length database: the run rows of single blobs, filled on
 * demand, and one run-length image per blob (entry label - 1 of `images`)
 * whose rows it lends. It is shared through cblob_blobRleDb_Ptrh handles:
 * `shared` counts them, and when the last one lets go the database is
 * destructed and its memory freed. So a database that any handle attaches to
 * must have been allocated from the memory service; one in other storage may
 * be constructed, used and destructed as long as no handle ever refers to it.
 */
typedef struct cblob_blobRleDb_ {
    cstd_vector_cblob_blob_rleRowBlock_ *rowBlocks;   /* heap vector, null until first used */
    cstd_vector_cblob_blob_rleDataBlock_ *dataBlocks; /* heap vector, null until first used */
    cstd_shared shared;                               /* payload: the database; ops: shBlobRleDb_Vtable_ */
    cstd_vector_cblob_imageRle images;                /* blob images, borrowing the database's rows */
} cblob_blobRleDb_;

/** The descriptor of every database's `shared` count: default counting, destroy = destruct and free. */
CBLOB_API extern const cstd_sharedDescriptor shBlobRleDb_Vtable_;

CSYS_TYPE_CHECK_DECLARE(cblob_blobRleDb_)
CSYS_TYPE_CHECK_DECLARE(cblob_blobRleDb_Ptrh)

/**
 * Constructs raw *db: no row or data block vectors, an empty image vector, a
 * shared count of 0 with shBlobRleDb_Vtable_. Returns 0 or a vector failure
 * (then nothing is left constructed).
 */
CBLOB_API int32_t cblob_blobRleDb__construct(cblob_blobRleDb_ *db);

/**
 * Constructs raw *db as a deep copy of *src: copies of every row and data
 * block (same sizes, cursors, counts), every row entry's run pointer moved to
 * the same offset in the copy's matching data block, and a copy of every
 * image whose rows are moved likewise into the copy's row blocks and which
 * names *db as its database (without a reference: the copy's images have no
 * handles yet). Images that are not constructed stay not constructed. The
 * shared count starts at 0. A run or row pointer that lies in no block of src
 * is a broken invariant (assert). On failure *db is left not constructed and
 * everything made is released. Not thread-safe with changes of src.
 */
CBLOB_API int32_t cblob_blobRleDb__constructCopy(cblob_blobRleDb_ *db, const cblob_blobRleDb_ *src);

/**
 * Empties *db: frees every row block and the row block vector, then every
 * data block and the data block vector (both pointers become null), then
 * destructs every image and resizes the image vector to 0. The first
 * failing step's status is returned at once and later steps are not done.
 * A database that never built a block clears successfully.
 */
CBLOB_API int32_t cblob_blobRleDb__clear(cblob_blobRleDb_ *db);

/** Clears *db, then destroys its image vector. Does not free *db. Statuses as clear. */
CBLOB_API int32_t cblob_blobRleDb__destruct(cblob_blobRleDb_ *db);

/**
 * Allocates a row block of byteSize bytes, pushes it onto *blocks with used
 * 0 and stores the new element's address in *element (valid until *blocks
 * changes again). byteSize must be >= 0 and a multiple of
 * sizeof(cblob_rleRow) (else assert). When the push fails the block is
 * freed; *element is then untouched.
 */
CBLOB_API int32_t cblob_blobRleDb__addRowBlock(int32_t byteSize, cblob_blob_rleRowBlock_ **element,
                                               cstd_vector_cblob_blob_rleRowBlock_ *blocks);

/**
 * Allocates a data block of byteSize bytes (>= 0, else assert), pushes it
 * onto *blocks with cursor = memory and entries 0, and stores the memory in
 * *memory and the new element's address in *element. When the push fails
 * the block is freed and the outputs are untouched.
 */
CBLOB_API int32_t cblob_blobRleDb__addDataBlock(int32_t byteSize, uint8_t **memory,
                                                cblob_blob_rleDataBlock_ **element,
                                                cstd_vector_cblob_blob_rleDataBlock_ *blocks);

/** Value operations of a data block record: construct sets the four fields to 0; copy and assign copy them;
 *  destruct does nothing. Each returns 0. */
CBLOB_API int32_t cblob_blob_rleDataBlock__construct(cblob_blob_rleDataBlock_ *block);
CBLOB_API int32_t cblob_blob_rleDataBlock__constructCopy(cblob_blob_rleDataBlock_ *block,
                                                         const cblob_blob_rleDataBlock_ *src);
CBLOB_API int32_t cblob_blob_rleDataBlock__assign(cblob_blob_rleDataBlock_ *block,
                                                  const cblob_blob_rleDataBlock_ *src);
CBLOB_API int32_t cblob_blob_rleDataBlock__destruct(cblob_blob_rleDataBlock_ *block);

/*
 * The counted handle on a database (cblob_blobRleDb_Ptrh, cblob/rle_image.h).
 * construct: a null handle. constructCopy / assign: share src's database (one
 * more reference; assign drops the old one). attach: refer to *db (taking a
 * reference; *db must come from the memory service). detach / assignNull:
 * drop the reference, the handle becomes null. destruct: drop the reference.
 * Dropping the last reference destructs and frees the database and returns
 * the destruct status. getIsNull: *isNull = 1 for a null handle, else 0.
 * getRefCount: the number of references, 0 for a null handle.
 */
CBLOB_API int32_t cblob_blobRleDb_Ptrh_construct(cblob_blobRleDb_Ptrh *h);
CBLOB_API int32_t cblob_blobRleDb_Ptrh_constructCopy(cblob_blobRleDb_Ptrh *h, const cblob_blobRleDb_Ptrh *src);
CBLOB_API int32_t cblob_blobRleDb_Ptrh_attach(cblob_blobRleDb_Ptrh *h, cblob_blobRleDb_ *db);
CBLOB_API int32_t cblob_blobRleDb_Ptrh_detach(cblob_blobRleDb_Ptrh *h);
CBLOB_API int32_t cblob_blobRleDb_Ptrh_assign(cblob_blobRleDb_Ptrh *h, const cblob_blobRleDb_Ptrh *src);
CBLOB_API int32_t cblob_blobRleDb_Ptrh_assignNull(cblob_blobRleDb_Ptrh *h);
CBLOB_API int32_t cblob_blobRleDb_Ptrh_destruct(cblob_blobRleDb_Ptrh *h);
CBLOB_API int32_t cblob_blobRleDb_Ptrh_getIsNull(const cblob_blobRleDb_Ptrh *h, int32_t *isNull);
CBLOB_API int32_t cblob_blobRleDb_Ptrh_getRefCount(const cblob_blobRleDb_Ptrh *h, int64_t *count);

/* ------------------------------------------------------- clean-up functions */

/*
 * Clean-up functions, for cleanup lists and clear functions. Each releases
 * what the elements of its argument point to, skipping null entries (and
 * nulling the ones it frees), and stops at the first failing release, whose
 * status it returns. None frees or shrinks the vector itself.
 *   _cleanupFuncImageRles            destructs every image of db->images
 *   _cleanupFuncRleRowBlockVect      frees each row block's memory
 *   _cleanupFuncRleDataBlockVect     frees each data block's memory
 *   _cleanupFuncRleRowBlockVectVect  the same for every inner vector
 *   _cleanupFuncRleDataBlockVectVect the same for every inner vector
 *   _cleanupFuncBlobPtrVect          frees each blob block
 *   _cleanupFuncBlobXformPtrVect     frees each transform block
 */
CBLOB_API int32_t _cleanupFuncImageRles(cblob_blobRleDb_ *db);
CBLOB_API int32_t _cleanupFuncRleRowBlockVect(cstd_vector_cblob_blob_rleRowBlock_ *blocks);
CBLOB_API int32_t _cleanupFuncRleDataBlockVect(cstd_vector_cblob_blob_rleDataBlock_ *blocks);
CBLOB_API int32_t _cleanupFuncRleRowBlockVectVect(cstd_vector_vector_cblob_blob_rleRowBlock_ *blocks);
CBLOB_API int32_t _cleanupFuncRleDataBlockVectVect(cstd_vector_vector_cblob_blob_rleDataBlock_ *blocks);
CBLOB_API int32_t _cleanupFuncBlobPtrVect(cstd_vector_cblock_of_cblob_blob_ptr *blocks);
CBLOB_API int32_t _cleanupFuncBlobXformPtrVect(cstd_vector_cblock_of_cblob_xformLinear_ptr *blocks);

/* ------------------------------------------------------ a blob's image */

/**
 * Makes *img the run-length image of one blob: its rows are the blob's rows
 * in the blob database of the blob's result set (borrowed: `data` null,
 * height entries, no sentinel rows), `db` that database, isGrey the blob's
 * grey flag, offset and size the blob's bounding box, isBlobImage 1, and the
 * image-from-client transform a share of *imageFromClient. numRuns is left
 * for the caller to store. A record made by cblob_imageRle_construct is fully
 * constructed first; a constructed one loses its previous contents.
 * Statuses: cblob_err_rleImageEmpty when the result set holds no blob
 * database or the blob has no rows yet (img unchanged). A blob without a
 * result set is an assert. Not thread-safe with other uses of *img.
 */
CBLOB_API int32_t cblob_imageRle_initFromBlob(cblob_imageRle *img, const cblob_blob *blob,
                                              const cmath_xformPtrhConst *imageFromClient);

/* ------------------------------------------------------ a blob's runs */

/**
 * *rows = the blob's first row entry: box-height rows covering exactly the
 * blob's box (x measured from box left), held by the blob database of the
 * blob's result set. The rows are extracted from the run's labelled run
 * image (kept by a run with keepBlobImages, or keepMaskImage and a mask) on
 * first use and reused afterwards (the blob's cachedRuns field); a pixel of
 * the box is the blob's when its region ended up in the blob's region.
 * Rows of a blob whose grey flag is 0 are binary rows: lengths alternating
 * from the row's start flag (1: the row begins with blob pixels). Rows of a
 * blob whose grey flag is set are grey rows (value byte and length per run):
 * blob pixels carry their segmented value, or 1 where that value is 0 (the
 * background pixels of a hole or of a filled region); pixels outside the
 * blob carry 0. Runs of one kind are merged in both formats.
 * Ownership: the rows belong to the database and stay valid while the result
 * set holds it (until it is cleared, run again or destructed).
 * Statuses: cblob_err_rleImageEmpty (0x80001286) when the result set holds
 * no labelled run image or no blob database (the run did not keep per-blob
 * images; a result set that never ran); csys_err_badSize for a box higher than 178956970 rows;
 * memory failures (the blob then has no rows yet; a later call tries again).
 * A null argument or a blob without a result set is an assert. Writes the
 * result set's blob database and shortens the chains of its run table: not
 * thread-safe with other calls on the same result set.
 */
CBLOB_API int32_t cblob_blob_getRleRows(cblob_blob *blob, cblob_rleRow **rows);

/**
 * *image = the blob's run-length image, held by the blob database of the
 * blob's result set (entry label - 1 of its image vector): offset and size
 * the blob's box, rows the blob's rows (as cblob_blob_getRleRows gives them,
 * extracted first when needed; borrowed, data null, no sentinel rows),
 * numRuns their run total, isGrey the blob's grey flag, isBlobImage 1, the
 * inverse of the result set's client transform as its image-from-client
 * transform. A run that kept per-blob images built every blob's image; one
 * the database does not hold yet is made on this call.
 * Ownership: the record belongs to the database and lives as long as the
 * result set keeps it (until the result set is cleared, run again or
 * destructed); attach a cblob_imageRlePtrh to it to keep it and the database
 * alive beyond that. Do not destruct it.
 * Statuses: cblob_err_rleImageEmpty (0x80001286) when the result set holds
 * no labelled run image or no blob database (the run did not keep per-blob
 * images); memory failures. *image is written only on success.
 * A null argument or a blob without a result set is an assert.
 * Thread-safety: writes the result set's blob database; not thread-safe with
 * other calls on the same result set.
 */
CBLOB_API int32_t cblob_blob_getImageRle(cblob_blob *blob, cblob_imageRle **image);

/**
 * Renders the blob into the 8-bit image *image (constructed, bound or not):
 * 1 on the blob's pixels, 0 on every other pixel of the blob's box (holes,
 * other blobs, background). The rows come from cblob_blob_getRleRows.
 *   - *image unbound, or bound but narrower than the box width or lower than
 *     the box height: it gets new pixel storage of exactly the box's width
 *     and height (cimg_image_assignNew; its former storage is dropped, other
 *     copies keep theirs) and the box's left and top as its origin, and the
 *     whole of it is written.
 *   - otherwise the window of *image at the box (image coordinates) is
 *     written and nothing else; the image's storage, origin and transform do
 *     not change.
 * Statuses, in order: cimg_err_badDepth (0x80000503) when the image is not
 * 8-bit; those of cblob_blob_getRleRows (cblob_err_rleImageEmpty
 * (0x80001286) when the run did not keep per-blob images, memory failures);
 * csys_err_outOfMemory and cimg_err_badGeometry of cimg_image_assignNew;
 * cblob_err_windowOutsideImage (0x8000129E) when the image is bound, large
 * enough, but does not contain the box (nothing is written then).
 * A null argument or a blob without a result set is an assert.
 * Thread-safety: writes the result set's blob database and the image's
 * pixels; not thread-safe with other calls on the same result set or image.
 */
CBLOB_API int32_t cblob_blob_getBlobImage(cblob_blob *blob, cimg_image *image);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_BLOB_H */
