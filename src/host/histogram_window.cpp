// Pixel histograms of 8- and 16-bit windows.
#include <cstdint>

#include "cblob/histogram.h"
#include "core/require.hpp"

namespace {

// Checks that the window can be counted as pixels of type Pel.
template <class Pel>
int32_t checkWindow(const cimg_windowConst *w) {
    if (w->bitsPerPel != static_cast<int32_t>(8 * sizeof(Pel))) return cimg_err_badDepth;
    if (!w->pels) return cimg_err_unbound;
    if (w->width < 0 || w->height < 0) return cimg_err_badGeometry;
    if (static_cast<int64_t>(w->width) * w->height > static_cast<int64_t>(UINT32_MAX)) return cip_err_countOverflow;
    return 0;
}

template <class Pel>
const Pel *rowOf(const cimg_windowConst *w, int32_t row) {
    return reinterpret_cast<const Pel *>(w->pels + static_cast<int64_t>(row) * w->strideBytes);
}

// The largest pixel value of a 16-bit window with at least one pixel.
uint16_t maxPel16(const cimg_windowConst *w) {
    uint16_t largest = 0;
    for (int32_t r = 0; r < w->height; ++r) {
        const uint16_t *p = rowOf<uint16_t>(w, r);
        for (int32_t x = 0; x < w->width; ++x) largest = p[x] > largest ? p[x] : largest;
    }
    return largest;
}

}  // namespace

extern "C" {

int32_t cip_pelHistogramWindow8(const cimg_windowConst *window, uint32_t counts[256]) {
    CBLOB_REQUIRE_ARG(window);
    CBLOB_REQUIRE_ARG(counts);
    const int32_t status = checkWindow<uint8_t>(window);
    if (CBLOB_FAILED(status)) return status;
    // Four interleaved part histograms: runs of equal pixels then increment
    // four different counters instead of waiting on one counter's store.
    uint32_t part[4][256] = {};
    const int32_t width = window->width;
    for (int32_t r = 0; r < window->height; ++r) {
        const uint8_t *p = rowOf<uint8_t>(window, r);
        int32_t x = 0;
        for (; x + 4 <= width; x += 4) {
            ++part[0][p[x]];
            ++part[1][p[x + 1]];
            ++part[2][p[x + 2]];
            ++part[3][p[x + 3]];
        }
        for (; x < width; ++x) ++part[0][p[x]];
    }
    for (int v = 0; v < 256; ++v) counts[v] = part[0][v] + part[1][v] + part[2][v] + part[3][v];
    return 0;
}

int32_t cip_pelHistogramWindow16(const cimg_windowConst *window, uint32_t *counts, int32_t bins) {
    CBLOB_REQUIRE_ARG(window);
    CBLOB_REQUIRE_ARG(counts);
    const int32_t status = checkWindow<uint16_t>(window);
    if (CBLOB_FAILED(status)) return status;
    if (bins < 1) return cip_err_badBins;
    const bool empty = window->width == 0 || window->height == 0;
    // With fewer bins than pixel values, check every pixel fits before any
    // count is written.
    if (bins <= UINT16_MAX && !empty && maxPel16(window) >= bins) return cip_err_badBins;
    for (int32_t v = 0; v < bins; ++v) counts[v] = 0;
    for (int32_t r = 0; r < window->height; ++r) {
        const uint16_t *p = rowOf<uint16_t>(window, r);
        for (int32_t x = 0; x < window->width; ++x) ++counts[p[x]];
    }
    return 0;
}

}  // extern "C"
