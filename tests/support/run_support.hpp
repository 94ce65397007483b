// Helpers for the run tests: grey images that own their pixels, scoped run
// parameters and result sets, masks of every kind, the objects a hard
// threshold should find, and a comparison of a result set's blobs with the
// test reference.
#ifndef CBLOB_TESTS_RUN_SUPPORT_HPP
#define CBLOB_TESTS_RUN_SUPPORT_HPP

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "support/blob_reference.hpp"

namespace runtest {

// An 8- or 16-bit grey image wrapping pixels it owns; values row by row.
// Rows may be padded (stride beyond the width) to catch stride mistakes.
class GreyImage {
public:
    GreyImage(int width, int height, int bits, std::vector<uint16_t> values, int originX = 0, int originY = 0,
              int padPixels = 0);
    ~GreyImage();
    GreyImage(const GreyImage &) = delete;
    GreyImage &operator=(const GreyImage &) = delete;

    const cimg_imageConst *image() const { return &image_; }
    cimg_image *mutableImage() { return &image_; }
    uint16_t at(int x, int y) const { return values_[static_cast<size_t>(y) * width_ + x]; }
    int width() const { return width_; }
    int height() const { return height_; }
    int originX() const { return originX_; }
    int originY() const { return originY_; }
    const std::vector<uint16_t> &values() const { return values_; }

private:
    int width_, height_, originX_, originY_;
    std::vector<uint16_t> values_;
    std::vector<uint16_t> storage_;  // 2-byte aligned for both depths
    cimg_image image_;
};

// Scoped construct / destruct.
struct Params {
    cblob_runParams p;
    Params();
    ~Params();
    Params(const Params &) = delete;
    Params &operator=(const Params &) = delete;
};
struct Results {
    cblob_resultSet rs;
    Results();
    ~Results();
    Results(const Results &) = delete;
    Results &operator=(const Results &) = delete;
};
struct RleHandle {
    cblob_imageRlePtrh h;
    RleHandle();
    ~RleHandle();
    RleHandle(const RleHandle &) = delete;
    RleHandle &operator=(const RleHandle &) = delete;
};

// A TORV run-length mask: per row (value, length) byte pairs ended by a pair
// of length 0; runs longer than 255 are split.
struct TorvMask {
    std::vector<std::vector<uint8_t>> rowBytes;
    std::vector<const uint8_t *> rows;
    cstd_rect32 rect{};
    TorvMask(const GreyImage &mask);
};

// Random values: each pixel is an object of a hard threshold at `thresh`
// (thresh 128 for 8-bit, 32768 for 16-bit) with probability `density`,
// drawn on a grid of `cell` x `cell` blocks so larger cells give larger
// blobs with holes.
std::vector<uint16_t> randomValues(std::mt19937 &rng, int width, int height, int bits, double density, int cell);

// 1 where the hard threshold makes an object: inside the mask (non-zero
// mask value; no mask: everywhere) and (v >= thresh) != (invert == 1).
std::vector<uint8_t> hardObjects(const GreyImage &image, int32_t thresh, int32_t invert,
                                 const GreyImage *mask = nullptr);

// Reads an 8-bit grey PNG; false when it cannot be read.
bool readPngGrey(const std::string &path, int *width, int *height, std::vector<uint16_t> *values);

// Checks the result set's arrays (view = all blobs, counts, labels 1..n,
// owners, the first top-level blob: a blob without parent, also the
// view's) and compares its blobs with the reference as multisets: matched by colour, box and area (then nearest centre
// of mass), then centre of mass, second moments (relative tolerance) and parents.
::testing::AssertionResult blobsMatch(const cblob_resultSet &rs, const cblobtest::RefResult &ref);

// The sum of the areas of the object blobs (colour 1).
double objectArea(const cblob_resultSet &rs);

}  // namespace runtest

#endif
