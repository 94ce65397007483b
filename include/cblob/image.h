/*
 * cblob image services: 8- and 16-bit image objects and rectangular windows
 * on them.
 *
 * Coordinates. Pixel (x, y) covers [x, x+1) x [y, y+1). An image's first
 * pixel sits at its origin (originX, originY), so its pixels cover the image
 * coordinates originX .. originX+width-1 and originY .. originY+height-1.
 * Windows and pixel addresses are given in these image coordinates. Client
 * coordinates are image coordinates mapped by the image's client-from-image
 * transform (a null transform handle is the identity).
 *
 * Pixels. A row holds `width` pixels of bitsPerPel/8 bytes each (16-bit
 * pixels in the machine's byte order); rows follow each other `strideBytes`
 * apart. Every address is a byte address (uint8_t *); cast it for 16-bit
 * pixels (16-bit images keep pixels and strides 2-byte aligned).
 *
 * Ownership. An image either owns no pixels (unbound), holds a counted
 * reference to pixel storage made by cimg_image_assignNew, or points into a
 * buffer the host application wrapped with cimg_image_initFromBuffer (the
 * host keeps that buffer alive as long as any image or window uses it).
 * Copying an image never copies pixels: copies share the storage and see each
 * other's pixel writes; the storage is freed with its last image.
 *
 * Const images. cimg_imageConst is the same type as cimg_image. A distinct C
 * type would need a cast at every call that passes an image to a read-only
 * function (C has no implicit conversion between struct types), and since
 * copies share pixels a separate type could not enforce read-only pixels
 * anyway. The cimg_imageConst_ functions take a pointer to const and never
 * write pixels; the cimg_image_ functions may change the image.
 *
 * Windows are plain values: they hold no reference to the storage, so they
 * must not outlive the image (or wrapped buffer) they were made from.
 *
 * Every function returns a status (0 on success) and writes outputs only on
 * success; a failing call leaves its objects unchanged. A null required
 * pointer is reported through cstd_assert_ and the call then returns
 * csys_err_assertFailed. Constructors write nothing when they fail (the object
 * is then not constructed and must not be destructed). Functions on distinct
 * objects are thread-safe; one object must not be changed by one thread while
 * another uses it. Copies of one image may be used by different threads.
 */
#ifndef CBLOB_IMAGE_H
#define CBLOB_IMAGE_H

#include <stdint.h>

#include "cblob/export.h"
#include "cblob/math.h"
#include "cblob/status.h"
#include "cblob/sys.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ images */

typedef struct cimg_image {
    int32_t bitsPerPel;  /* 8 or 16, fixed at construction (initFromBuffer may change it) */
    int32_t width;       /* pixels per row, >= 0 */
    int32_t height;      /* rows, >= 0 */
    int32_t originX;     /* image coordinates of the first pixel */
    int32_t originY;
    int32_t strideBytes; /* bytes from one row to the next, >= width * bitsPerPel / 8 */
    uint8_t *pels;       /* the first pixel; null when the image is unbound */
    cstd_ptrh storage;   /* counted pixel storage from assignNew; null for wrapped buffers and unbound images */
    cmath_xformPtrhConst clientFromImage; /* maps image to client coordinates; null = identity */
} cimg_image;

/** The same type as cimg_image, used where an image is only read (see above). */
typedef cimg_image cimg_imageConst;

/** Constructs an unbound 8-bit image: size 0 x 0, origin (0, 0), identity transform. Returns 0. */
CBLOB_API int32_t cimg_image8_construct(cimg_image *img);
/** Constructs an unbound 16-bit image. Returns 0. */
CBLOB_API int32_t cimg_image16_construct(cimg_image *img);
/** Constructs an unbound image of the given depth; cimg_err_badDepth unless bitsPerPel is 8 or 16. */
CBLOB_API int32_t cimg_image_constructUnbound(cimg_image *img, int32_t bitsPerPel);
/** Constructs an image sharing src's pixels, geometry and transform. Never allocates; returns 0. */
CBLOB_API int32_t cimg_imageConst_constructCopy(cimg_imageConst *dst, const cimg_imageConst *src);
/**
 * Makes dst share src's pixels and take its depth, geometry and transform,
 * dropping dst's previous storage reference. Self-assignment is safe.
 * Never allocates; returns 0.
 */
CBLOB_API int32_t cimg_imageConst_assign(cimg_imageConst *dst, const cimg_imageConst *src);
/** Drops the image's storage and transform references; the image is unbound afterwards. Returns 0. */
CBLOB_API int32_t cimg_imageConst_destruct(cimg_imageConst *img);
/** The same as cimg_imageConst_destruct. */
CBLOB_API int32_t cimg_image_destruct(cimg_image *img);

/**
 * Gives the image fresh, zero-filled pixel storage of width x height pixels
 * of its own depth, with packed rows (strideBytes = width * bitsPerPel / 8),
 * dropping its previous storage (other copies keep theirs). The origin and
 * the transform are not changed. A size of 0 gives a bound, empty image.
 * cimg_err_badDepth when the image's depth field is not 8 or 16;
 * cimg_err_badGeometry for a negative size or a size whose rows or whole
 * storage do not fit the address range (row bytes above INT32_MAX);
 * csys_err_outOfMemory when the storage cannot be allocated.
 */
CBLOB_API int32_t cimg_image_assignNew(cimg_image *img, int32_t width, int32_t height);
/**
 * Makes the image refer to a pixel buffer owned by the host application: no
 * copy is made and the caller keeps the buffer alive and unmoved while the
 * image, its copies or its windows use it. Drops the previous storage
 * reference; keeps the transform. `pixels` (required, even for an empty
 * image) is the first pixel, at image coordinates (originX, originY).
 * cimg_err_badDepth unless bitsPerPel is 8 or 16; cimg_err_badGeometry for a
 * negative size, a stride below width * bitsPerPel / 8, or, for 16-bit
 * pixels, an odd stride or an odd buffer address.
 */
CBLOB_API int32_t cimg_image_initFromBuffer(cimg_image *img, void *pixels, int32_t bitsPerPel, int32_t width,
                                            int32_t height, int32_t strideBytes, int32_t originX, int32_t originY);

/** *isBound = 1 when the image refers to pixels, else 0. Returns 0. */
CBLOB_API int32_t cimg_imageConst_getIsBound(const cimg_imageConst *img, int32_t *isBound);
/** The same as cimg_imageConst_getIsBound. */
CBLOB_API int32_t cimg_image_getIsBound(const cimg_image *img, int32_t *isBound);
/** Moves the image in image coordinates: its first pixel is at (originX, originY) afterwards. Returns 0. */
CBLOB_API int32_t cimg_image_setOrigin(cimg_image *img, int32_t originX, int32_t originY);
/** The image coordinates of the first pixel. Returns 0. */
CBLOB_API int32_t cimg_imageConst_getOrigin(const cimg_imageConst *img, int32_t *originX, int32_t *originY);
/** Width and height in pixels. Returns 0. */
CBLOB_API int32_t cimg_imageConst_getSize(const cimg_imageConst *img, int32_t *width, int32_t *height);
/** The pixel depth, 8 or 16. Returns 0. */
CBLOB_API int32_t cimg_imageConst_getBitsPerPel(const cimg_imageConst *img, int32_t *bitsPerPel);

/**
 * *ptr = the address of the pixel at image coordinates (x, y).
 * cimg_err_unbound for an unbound image; cimg_err_badGeometry when the pixel
 * lies outside the image.
 */
CBLOB_API int32_t cimg_imageConst_pointToPel_internal(const cimg_imageConst *img, int32_t x, int32_t y,
                                                      const uint8_t **ptr);
/** The writable twin of cimg_imageConst_pointToPel_internal. */
CBLOB_API int32_t cimg_image_pointToPel_internal(cimg_image *img, int32_t x, int32_t y, uint8_t **ptr);

/** Makes *xform (a constructed handle) share the image's client-from-image transform. Returns 0. */
CBLOB_API int32_t cimg_imageConst_getClientFromImageXform(const cimg_imageConst *img, cmath_xformPtrhConst *xform);
/**
 * Makes *xform share the inverse of the client-from-image transform (the
 * image-from-client transform). cmath_err_singularXform when that transform
 * is linear and singular.
 */
CBLOB_API int32_t cimg_imageConst_getImageFromClientXform(const cimg_imageConst *img, cmath_xformPtrhConst *xform);
/** Stores *xform (shared, null = identity) as the client-from-image transform. Returns 0. */
CBLOB_API int32_t cimg_image_setClientFromImageXform(cimg_image *img, const cmath_xformPtrhConst *xform);
/**
 * Stores the inverse of *xform, an image-from-client transform, as the
 * client-from-image transform (a null handle stores null). Never allocates.
 * cmath_err_singularXform when *xform is linear and singular; the image is
 * then unchanged.
 */
CBLOB_API int32_t cimg_image_setImageFromClientXform(cimg_image *img, const cmath_xformPtrhConst *xform);

/* ----------------------------------------------------------------- windows */

/**
 * A read-only rectangle of an image's pixels. A window of an unbound image
 * keeps the geometry and has a null pixel pointer. An empty window (width or
 * height 0) of a bound image keeps a non-null pixel pointer (its image's or
 * parent window's) and has no pixel to address.
 */
typedef struct cimg_windowConst {
    int32_t x, y;          /* image coordinates of the window's first pixel */
    int32_t width, height; /* >= 0 */
    int32_t strideBytes;   /* bytes from one row to the next (the image's stride) */
    int32_t bitsPerPel;    /* 8 or 16 */
    const uint8_t *pels;   /* the first pixel; null = unbound */
} cimg_windowConst;

/** A writable rectangle of an image's pixels; the fields mean the same. */
typedef struct cimg_window {
    int32_t x, y;
    int32_t width, height;
    int32_t strideBytes;
    int32_t bitsPerPel;
    uint8_t *pels;
} cimg_window;

/** Sets an unbound, empty 8-bit window at (0, 0). Returns 0. */
CBLOB_API int32_t cimg_windowConst_construct(cimg_windowConst *w);
/** The writable twin of cimg_windowConst_construct. */
CBLOB_API int32_t cimg_window_construct(cimg_window *w);
/** Sets the window to the whole image (unbound when the image is). Returns 0. */
CBLOB_API int32_t cimg_windowConst_init(cimg_windowConst *w, const cimg_imageConst *img);
/** The writable twin of cimg_windowConst_init. */
CBLOB_API int32_t cimg_window_init(cimg_window *w, cimg_image *img);
/**
 * Sets the window to the rectangle at image coordinates (x, y) of the given
 * size. cimg_err_badGeometry for a negative size or a rectangle not wholly
 * inside the image; *w is then unchanged.
 */
CBLOB_API int32_t cimg_windowConst_initWindow(cimg_windowConst *w, const cimg_imageConst *img, int32_t x, int32_t y,
                                              int32_t width, int32_t height);
/** The writable twin of cimg_windowConst_initWindow. */
CBLOB_API int32_t cimg_window_initWindow(cimg_window *w, cimg_image *img, int32_t x, int32_t y, int32_t width,
                                         int32_t height);
/**
 * *out = the rectangle at image coordinates (x, y) of the given size within
 * the window *w (out may be w). cimg_err_badGeometry for a negative size or a
 * rectangle not wholly inside *w.
 */
CBLOB_API int32_t cimg_windowConst_getWindow(cimg_windowConst *out, const cimg_windowConst *w, int32_t x, int32_t y,
                                             int32_t width, int32_t height);
/** The writable twin of cimg_windowConst_getWindow. */
CBLOB_API int32_t cimg_window_getWindow(cimg_window *out, const cimg_window *w, int32_t x, int32_t y, int32_t width,
                                        int32_t height);
/** *out = a read-only view of the writable window *w. Returns 0. */
CBLOB_API int32_t cimg_windowConst_initFromWindow(cimg_windowConst *out, const cimg_window *w);
/** *isBound = 1 when the window has pixels (a non-null pixel pointer). Returns 0. */
CBLOB_API int32_t cimg_windowConst_getIsBound(const cimg_windowConst *w, int32_t *isBound);
/** The writable twin of cimg_windowConst_getIsBound. */
CBLOB_API int32_t cimg_window_getIsBound(const cimg_window *w, int32_t *isBound);
/**
 * *ptr = the first pixel of row `row` of the window, counted from 0 at the
 * window's top. cimg_err_unbound for an unbound window; cimg_err_badGeometry
 * for an empty window or a row not in 0 .. height-1.
 */
CBLOB_API int32_t cimg_windowConst_getRow(const cimg_windowConst *w, int32_t row, const uint8_t **ptr);
/** The writable twin of cimg_windowConst_getRow. */
CBLOB_API int32_t cimg_window_getRow(const cimg_window *w, int32_t row, uint8_t **ptr);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_IMAGE_H */
