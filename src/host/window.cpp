// Windows: rectangles of an image's pixels, read-only (cimg_windowConst) or
// writable (cimg_window). Each twin pair shares one template.
#include "cblob/image.h"
#include "host/image_internal.hpp"
#include "core/require.hpp"

namespace {

template <class Window>
int32_t construct(Window *w) {
    CBLOB_REQUIRE_ARG(w);
    *w = Window{};
    w->bitsPerPel = 8;
    return 0;
}

// The window (x, y, width, height) on pixels whose first pixel `first` sits
// at (areaX, areaY); the rectangle has been checked to lie inside the area.
template <class Window, class Byte>
Window windowAt(Byte *first, int32_t areaX, int32_t areaY, int32_t strideBytes, int32_t bitsPerPel, int32_t x,
                int32_t y, int32_t width, int32_t height) {
    Window w{};
    w.x = x;
    w.y = y;
    w.width = width;
    w.height = height;
    w.strideBytes = strideBytes;
    w.bitsPerPel = bitsPerPel;
    // An empty window addresses no pixel; it keeps the area's own pointer so
    // that it still reads as bound without pointing past the buffer.
    const bool empty = width == 0 || height == 0;
    w.pels = (first && !empty) ? cblob::img::pelAddress(first, static_cast<int64_t>(x) - areaX,
                                                        static_cast<int64_t>(y) - areaY, strideBytes, bitsPerPel)
                               : first;
    return w;
}

template <class Window, class Image>
int32_t initWindow(Window *w, Image *img, int32_t x, int32_t y, int32_t width, int32_t height) {
    CBLOB_REQUIRE_ARG(w);
    CBLOB_REQUIRE_ARG(img);
    if (!cblob::img::rectInside(x, y, width, height, img->originX, img->originY, img->width, img->height))
        return cimg_err_badGeometry;
    *w = windowAt<Window>(img->pels, img->originX, img->originY, img->strideBytes, img->bitsPerPel, x, y, width,
                          height);
    return 0;
}

template <class Window, class Image>
int32_t init(Window *w, Image *img) {
    CBLOB_REQUIRE_ARG(img);
    return initWindow(w, img, img->originX, img->originY, img->width, img->height);
}

template <class Window>
int32_t getWindow(Window *out, const Window *w, int32_t x, int32_t y, int32_t width, int32_t height) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(w);
    if (!cblob::img::rectInside(x, y, width, height, w->x, w->y, w->width, w->height)) return cimg_err_badGeometry;
    *out = windowAt<Window>(w->pels, w->x, w->y, w->strideBytes, w->bitsPerPel, x, y, width, height);
    return 0;
}

template <class Window>
int32_t getIsBound(const Window *w, int32_t *isBound) {
    CBLOB_REQUIRE_ARG(w);
    CBLOB_REQUIRE_ARG(isBound);
    *isBound = w->pels ? 1 : 0;
    return 0;
}

template <class Window, class Byte>
int32_t getRow(const Window *w, int32_t row, Byte **ptr) {
    CBLOB_REQUIRE_ARG(w);
    CBLOB_REQUIRE_ARG(ptr);
    if (!w->pels) return cimg_err_unbound;
    if (row < 0 || row >= w->height || w->width == 0) return cimg_err_badGeometry;
    *ptr = w->pels + static_cast<int64_t>(row) * w->strideBytes;
    return 0;
}

}  // namespace

extern "C" {

int32_t cimg_windowConst_construct(cimg_windowConst *w) { return construct(w); }
int32_t cimg_window_construct(cimg_window *w) { return construct(w); }

int32_t cimg_windowConst_init(cimg_windowConst *w, const cimg_imageConst *img) { return init(w, img); }
int32_t cimg_window_init(cimg_window *w, cimg_image *img) { return init(w, img); }

int32_t cimg_windowConst_initWindow(cimg_windowConst *w, const cimg_imageConst *img, int32_t x, int32_t y,
                                    int32_t width, int32_t height) {
    return initWindow(w, img, x, y, width, height);
}
int32_t cimg_window_initWindow(cimg_window *w, cimg_image *img, int32_t x, int32_t y, int32_t width,
                               int32_t height) {
    return initWindow(w, img, x, y, width, height);
}

int32_t cimg_windowConst_getWindow(cimg_windowConst *out, const cimg_windowConst *w, int32_t x, int32_t y,
                                   int32_t width, int32_t height) {
    return getWindow(out, w, x, y, width, height);
}
int32_t cimg_window_getWindow(cimg_window *out, const cimg_window *w, int32_t x, int32_t y, int32_t width,
                              int32_t height) {
    return getWindow(out, w, x, y, width, height);
}

int32_t cimg_windowConst_initFromWindow(cimg_windowConst *out, const cimg_window *w) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(w);
    *out = cimg_windowConst{w->x, w->y, w->width, w->height, w->strideBytes, w->bitsPerPel, w->pels};
    return 0;
}

int32_t cimg_windowConst_getIsBound(const cimg_windowConst *w, int32_t *isBound) { return getIsBound(w, isBound); }
int32_t cimg_window_getIsBound(const cimg_window *w, int32_t *isBound) { return getIsBound(w, isBound); }

int32_t cimg_windowConst_getRow(const cimg_windowConst *w, int32_t row, const uint8_t **ptr) {
    return getRow(w, row, ptr);
}
int32_t cimg_window_getRow(const cimg_window *w, int32_t row, uint8_t **ptr) { return getRow(w, row, ptr); }

}  // extern "C"
