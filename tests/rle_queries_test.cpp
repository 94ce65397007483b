// Run-length image queries and rendering, checked against the test model:
// pixels, run statistics, getImage and renderInImage destinations, equality.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cblob/rle_image.h"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"

namespace {

using rletest::Model;
using rletest::Row;

// A handle on a record built from the model: grey models through the row
// packer, binary ones (or any, given rowsPerBlock) by filling storage.
struct Image {
    explicit Image(const Model &m, int32_t rowsPerBlock = 0) {
        EXPECT_EQ(rletest::makeHandle(&h,
                                      [&](cblob_imageRle *img) {
                                          return m.grey && !rowsPerBlock
                                                     ? rletest::buildFromTorv(img, m)
                                                     : rletest::buildByFilling(img, m, rowsPerBlock ? rowsPerBlock : 3);
                                      }),
                  0);
    }
    ~Image() { cblob_imageRlePtrh_destruct(&h); }
    cblob_imageRle *record() const {
        cblob_imageRle *img = nullptr;
        cblob_imageRlePtrh_getImageRle(&h, &img);
        return img;
    }
    cblob_imageRlePtrh h;
};

Model placed(Model m, int32_t x, int32_t y) {
    m.offsetX = x;
    m.offsetY = y;
    return m;
}

// An 8-bit image of the given geometry, every pixel `fill`.
struct Canvas {
    Canvas(int32_t x, int32_t y, int32_t width, int32_t height, uint8_t fill) {
        cimg_image8_construct(&img);
        EXPECT_EQ(cimg_image_assignNew(&img, width, height), 0);
        cimg_image_setOrigin(&img, x, y);
        std::memset(img.pels, fill, static_cast<size_t>(img.strideBytes) * height);
    }
    ~Canvas() { cimg_image_destruct(&img); }
    uint8_t at(int32_t x, int32_t y) const { return img.pels[(y - img.originY) * img.strideBytes + x - img.originX]; }
    cimg_image img;
};

TEST(RleQueries, PixelsAndStatisticsMatchTheModel) {
    const Model models[] = {
        rletest::randomModel(11, 37, 9, true, 6, 5),
        rletest::randomModel(12, 600, 5, true, 400, 256),
        rletest::randomModel(13, 40, 8, false, 7),
        rletest::randomModel(14, 900, 4, false, 500),
    };
    for (const Model &m : models) {
        SCOPED_TRACE(::testing::Message() << "width " << m.width << (m.grey ? " grey" : " binary"));
        Image image(m);
        // Every pixel through getPel8 and through getImage into an unbound image.
        cimg_image out;
        cimg_image8_construct(&out);
        ASSERT_EQ(cblob_imageRlePtrh_getImage(&image.h, &out), 0);
        EXPECT_TRUE(out.width == m.width && out.height == m.height());
        EXPECT_TRUE(out.originX == m.offsetX && out.originY == m.offsetY);
        for (int32_t y = 0; y < m.height(); ++y) {
            for (int32_t x = 0; x < m.width; ++x) {
                uint8_t pel = 0xAA;
                ASSERT_EQ(cblob_imageRlePtrh_getPel8(&image.h, m.offsetX + x, m.offsetY + y, &pel), 0);
                ASSERT_EQ(pel, m.pel(x, y)) << x << "," << y;
                ASSERT_EQ(out.pels[y * out.strideBytes + x], m.pel(x, y)) << x << "," << y;
            }
        }
        cimg_image_destruct(&out);
        // Run statistics against counts taken from the model.
        for (int32_t value : {0, 1, 3, 200}) {
            int32_t count = 0, foreground = 0, lengthCount = 0, n = -1;
            double sum = 0, valueSum = 0, avg = -1;
            for (const Row &row : m.rows) {
                for (const auto &r : row) {
                    const bool match = m.grey ? r.value == value : r.value == (value ? 1 : 0);
                    const bool counted = m.grey || r.value == 1;
                    count += match;
                    valueSum += match ? r.length : 0;
                    sum += counted ? r.length : 0;
                    foreground += counted;
                    lengthCount += counted && r.length == value;
                }
            }
            ASSERT_EQ(cblob_imageRlePtrh_getNumRunsWithValue(&image.h, value + 256, &n), 0);  // low 8 bits
            EXPECT_EQ(n, count);
            ASSERT_EQ(cblob_imageRlePtrh_getNumRunsWithLength(&image.h, value, &n), 0);
            EXPECT_EQ(n, lengthCount);
            ASSERT_EQ(cblob_imageRlePtrh_getAvgRunLengthWithValue(&image.h, value, &avg), 0);
            EXPECT_DOUBLE_EQ(avg, count ? valueSum / count : 0.0);
            ASSERT_EQ(cblob_imageRlePtrh_getAvgRunLength(&image.h, &avg), 0);
            EXPECT_DOUBLE_EQ(avg, sum / m.numRuns());
        }
    }
}

TEST(RleQueries, EdgesOfTheImageAndOfRows) {
    // Row 0 starts with foreground (3, 2); row 1 ends before the width.
    Image image(placed(rletest::makeModel(5, {{{1, 3}, {0, 2}}, {{0, 1}, {1, 2}}}, false), 10, -4));
    const struct {
        int32_t x, y, status;
        uint8_t value;
    } cases[] = {
        {10, -4, 0, 1}, {12, -4, 0, 1}, {13, -4, 0, 0}, {14, -4, 0, 0}, {11, -3, 0, 1},
        {14, -3, 0, 0},  // past the last run
        {15, -4, cblob_err_pelOutside, 0}, {9, -4, cblob_err_pelOutside, 0},
        {10, -2, cblob_err_pelOutside, 0}, {10, -5, cblob_err_pelOutside, 0},
    };
    for (const auto &c : cases) {
        uint8_t pel = 0x55;
        EXPECT_EQ(cblob_imageRlePtrh_getPel8(&image.h, c.x, c.y, &pel), c.status) << c.x << "," << c.y;
        EXPECT_EQ(pel, c.status ? 0x55 : c.value) << c.x << "," << c.y;
    }
    // getImage draws the early-ended row's tail as 0 over a bound image.
    Canvas canvas(8, -6, 9, 5, 0x77);
    ASSERT_EQ(cblob_imageRlePtrh_getImage(&image.h, &canvas.img), 0);
    EXPECT_TRUE(canvas.at(14, -3) == 0 && canvas.at(12, -3) == 1 && canvas.at(9, -4) == 0x77);
    // No runs: 0 at once, even for rows never written.
    int32_t n = -1;
    double avg = -1;
    const cmath_xformPtrhConst identity = rletest::identity();
    cblob_imageRle blank;
    cblob_imageRle_construct(&blank);
    ASSERT_EQ(cblob_imageRle_init(&blank, 0, 0, 4, 3, &identity), 0);
    EXPECT_EQ(cblob_imageRle_getAvgRunLength(&blank, &avg), 0);
    EXPECT_EQ(cblob_imageRle_getNumRunsWithLength(&blank, 4, &n), 0);
    EXPECT_TRUE(avg == 0.0 && n == 0);
    cblob_imageRle_destruct(&blank);
}

TEST(RleQueries, RowTable) {
    Model m = rletest::randomModel(15, 30, 4, true, 9);
    Image image(m);
    cblob_rleRow *rows = nullptr;
    ASSERT_EQ(cblob_imageRlePtrh_getRows(&image.h, &rows), 0);
    EXPECT_EQ(rows, image.record()->rows + 1);  // past the top sentinel row
    for (int32_t y = 0; y < 4; ++y) EXPECT_EQ(rletest::decodeRow(rows[y].runs, true, 0), m.rows[y]);
    // An image of height 0 has no rows to give; nor has a cleared one, nor a null handle.
    cblob_imageRlePtrh empty, none;
    cblob_imageRlePtrh_construct(&none);
    ASSERT_EQ(rletest::makeHandle(&empty,
                                  [](cblob_imageRle *img) {
                                      const cmath_xformPtrhConst identity = rletest::identity();
                                      cblob_imageRle_construct(img);
                                      return cblob_imageRle_init(img, 0, 0, 5, 0, &identity);
                                  }),
              0);
    ASSERT_EQ(cblob_imageRle_clear(image.record()), 0);
    cimg_image out;
    cimg_image8_construct(&out);
    for (const cblob_imageRlePtrh *h : {&empty, &image.h}) {
        EXPECT_EQ(cblob_imageRlePtrh_getRows(h, &rows), cblob_err_rleImageNoRows);
        EXPECT_EQ(cblob_imageRlePtrh_getImage(h, &out), cblob_err_rleImageEmpty);
    }
    EXPECT_EQ(cblob_imageRlePtrh_getImage(&none, &out), cblob_err_rleImageEmpty);
    cblob_imageRlePtrh_destruct(&empty);
    cimg_image_destruct(&out);
}

TEST(RleQueries, GetImageDestinations) {
    const Model m = placed(rletest::randomModel(16, 6, 3, true, 3, 9), 2, 1);
    Image image(m);
    const cmath_xformLinear shift = {{1, 0, 0, 1}, 0, 3};
    cmath_xformPtrhConst xform;
    cmath_xformPtrhConst_constructLinear(&xform, &shift);
    ASSERT_EQ(cblob_imageRlePtrh_setImageFromClientXform(&image.h, &xform), 0);
    cmath_xformPtrhConst_destruct(&xform);
    const struct {
        std::string name;
        int32_t x, y, width, height, status;
        bool reallocated;
    } cases[] = {
        {"holds the window", 0, 0, 10, 5, 0, false},
        {"exactly the window", 2, 1, 6, 3, 0, false},
        {"large enough, window outside", 3, 1, 6, 3, cblob_err_windowOutsideImage, false},
        {"too narrow", 2, 1, 5, 9, 0, true},
        {"too low", 2, 1, 9, 2, 0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(c.x, c.y, c.width, c.height, 0xEE);
        ASSERT_EQ(cblob_imageRlePtrh_getImage(&image.h, &canvas.img), c.status);
        if (c.status) {
            for (int32_t i = 0; i < c.width * c.height; ++i) EXPECT_EQ(canvas.img.pels[i], 0xEE);
            continue;
        }
        EXPECT_EQ(canvas.img.width, c.reallocated ? 6 : c.width);
        EXPECT_EQ(canvas.img.height, c.reallocated ? 3 : c.height);
        for (int32_t y = 0; y < m.height(); ++y)
            for (int32_t x = 0; x < m.width; ++x) EXPECT_EQ(canvas.at(x + 2, y + 1), m.pel(x, y));
        EXPECT_TRUE(c.reallocated || c.width <= 6 || canvas.at(9, 4) == 0xEE);
        double cx = 0, cy = 1;
        ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&canvas.img.clientFromImage, 0, 3, &cx, &cy), 0);
        EXPECT_EQ(cy, 0.0);
    }
    cimg_image deep;
    cimg_image16_construct(&deep);
    EXPECT_EQ(cblob_imageRlePtrh_getImage(&image.h, &deep), cimg_err_badDepth);
    cimg_image_destruct(&deep);
}

TEST(RleQueries, RenderInImage) {
    // Binary: background 0 at x 0-1, foreground 2-3, then background to 6.
    Image binary(rletest::makeModel(6, {{{0, 2}, {1, 2}, {0, 2}}, {{1, 6}}}, false));
    const Model greyModel = placed(rletest::randomModel(17, 6, 2, true, 2, 4), 0, 0);  // values 0..3
    Image grey(greyModel);
    const cstd_point32 at = {1, 2};
    auto render = [&](const cblob_imageRlePtrh &h, std::vector<uint8_t> values, uint8_t transparent, cimg_image *img) {
        cstd_vector8 map;
        cstd_vector8_constructFromBlock(&map, values.data(), static_cast<int64_t>(values.size()));
        const int32_t status = cblob_imageRlePtrh_renderInImage(&h, &at, &map, transparent, img);
        cstd_vector8_destruct(&map);
        return status;
    };
    Canvas canvas(0, 0, 8, 5, 0x33), greyCanvas(0, 0, 8, 5, 0x33), untouched(0, 0, 8, 5, 0x33), small(0, 0, 6, 5, 0);
    // transparent == map[0]: only the foreground is drawn.
    ASSERT_EQ(render(binary.h, {10, 20}, 10, &canvas.img), 0);
    const uint8_t row0[8] = {0x33, 0x33, 0x33, 20, 20, 0x33, 0x33, 0x33};
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(canvas.at(x, 2), row0[x]) << x;
    EXPECT_EQ(canvas.at(6, 3), 20);
    // Nothing transparent: background drawn as map[0].
    ASSERT_EQ(render(binary.h, {10, 20}, 99, &canvas.img), 0);
    EXPECT_TRUE(canvas.at(1, 2) == 10 && canvas.at(6, 2) == 10 && canvas.at(7, 2) == 0x33);
    // A map too short for binary runs fails before drawing; one too short for
    // a grey value fails where it is met.
    EXPECT_EQ(render(binary.h, {10}, 99, &untouched.img), cblob_err_badMapSize);
    EXPECT_EQ(untouched.at(3, 2), 0x33);
    EXPECT_EQ(render(grey.h, {50}, 99, &untouched.img), cblob_err_badMapSize);
    ASSERT_EQ(render(grey.h, {50, 51, 52, 53}, 52, &greyCanvas.img), 0);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            const uint8_t v = greyModel.pel(x, y);
            EXPECT_EQ(greyCanvas.at(1 + x, 2 + y), v == 2 ? 0x33 : 50 + v) << x << "," << y;
        }
    }
    EXPECT_EQ(render(binary.h, {1, 2}, 0, &small.img), cblob_err_windowOutsideImage);
    cimg_image unbound;
    cimg_image8_construct(&unbound);
    cblob_imageRlePtrh none;
    cblob_imageRlePtrh_construct(&none);
    EXPECT_EQ(render(binary.h, {}, 0, &unbound), cblob_err_imageUnbound);
    EXPECT_EQ(render(none, {}, 0, &small.img), cblob_err_rleImageEmpty);
}

TEST(RleQueries, CompareEqual) {
    const Model m = rletest::randomModel(18, 500, 12, true, 300, 3);
    Image a(m);
    cblob_imageRlePtrh same, copy, none;
    cblob_imageRlePtrh_constructCopy(&same, &a.h);
    cblob_imageRlePtrh_construct(&none);
    ASSERT_EQ(rletest::makeHandle(&copy,
                                  [&](cblob_imageRle *img) { return cblob_imageRle_constructCopy(img, a.record()); }),
              0);
    cblob_imageRle *c = nullptr;
    cblob_imageRlePtrh_getImageRle(&copy, &c);
    auto equal = [](const cblob_imageRlePtrh &x, const cblob_imageRlePtrh &y) {
        int32_t result = -1;
        EXPECT_EQ(cblob_imageRlePtrh_compareEqual(&x, &y, &result), 0);
        return result;
    };
    // Two handles on one record are equal without reading rows.
    cblob_rleRow *rows = a.record()->rows;
    a.record()->rows = nullptr;
    EXPECT_EQ(equal(a.h, same), 1);
    a.record()->rows = rows;
    EXPECT_EQ(equal(a.h, copy), 1);
    // One changed run value, one moved offset, one image of other rows.
    c->rows[7].runs[0] ^= 0x40;  // the first run's value byte
    EXPECT_EQ(equal(a.h, copy), 0);
    c->rows[7].runs[0] ^= 0x40;
    c->offsetX += 1;
    EXPECT_EQ(equal(copy, a.h), 0);
    c->offsetX -= 1;
    Model other = m;
    std::swap(other.rows[0], other.rows[1]);
    Image b(other);
    EXPECT_EQ(equal(a.h, b.h), 0);
    // The same pixels built differently: packer and filled storage.
    Image filled(m, 5);
    const Model binary = rletest::randomModel(19, 20, 3, false, 4);
    Image binA(binary, 1), binB(binary, 2);
    EXPECT_EQ(equal(a.h, filled.h), 1);
    EXPECT_EQ(equal(binA.h, binB.h), 1);
    binB.record()->rows[2].startValue ^= 1;
    EXPECT_EQ(equal(binA.h, binB.h), 0);
    int32_t result = -1;
    EXPECT_EQ(cblob_imageRlePtrh_compareEqual(&a.h, &none, &result), cblob_err_nullRleImage);
    EXPECT_EQ(result, -1);
    cblob_imageRlePtrh_destruct(&same);
    cblob_imageRlePtrh_destruct(&copy);
}

}  // namespace
