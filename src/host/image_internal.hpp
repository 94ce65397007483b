// Geometry helpers shared by the image and window files. All arithmetic on
// coordinates is done in 64 bits, so that origin + size never overflows.
#ifndef CBLOB_HOST_IMAGE_INTERNAL_HPP
#define CBLOB_HOST_IMAGE_INTERNAL_HPP

#include <cstdint>

#include "cblob/image.h"

namespace cblob {
namespace img {

inline bool depthIsValid(int32_t bitsPerPel) { return bitsPerPel == 8 || bitsPerPel == 16; }

inline int64_t bytesPerPel(int32_t bitsPerPel) { return bitsPerPel / 8; }

// Whether the rectangle (x, y, width, height), sizes >= 0, lies wholly in
// the area (areaX, areaY, areaWidth, areaHeight).
inline bool rectInside(int64_t x, int64_t y, int64_t width, int64_t height, int64_t areaX, int64_t areaY,
                       int64_t areaWidth, int64_t areaHeight) {
    return width >= 0 && height >= 0 && x >= areaX && y >= areaY && x + width <= areaX + areaWidth &&
           y + height <= areaY + areaHeight;
}

// The address of the pixel (dx, dy) pixels right of and below `first`.
template <class Byte>
inline Byte *pelAddress(Byte *first, int64_t dx, int64_t dy, int32_t strideBytes, int32_t bitsPerPel) {
    return first + dy * strideBytes + dx * bytesPerPel(bitsPerPel);
}

}  // namespace img
}  // namespace cblob

#endif
