// Masking, sub-windows, combination, and copying and histogramming under a
// run-length mask, against per-pixel references: every image is decoded to
// pixels, the operation is applied pixel by pixel here, and the expectation
// is encoded again and compared with the library's result (compareEqual).
// Sources come in every storage (packed, filled a few rows per block,
// borrowed rows that end early), grey and binary, of many sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cblob/rle_image.h"
#include "rle/derived_image.hpp"
#include "rle/mask_kernel.hpp"
#include "rle/wide_copy.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_images.hpp"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"

namespace {

using rletest::Image;
using rletest::label;
using rletest::Model;
using rletest::Pixels;
using rletest::Storage;

// A random model of another image of the same size: a mask or an overlay.
Model partner(const Model &m, uint32_t seed, bool grey) {
    return rletest::randomModel(seed, m.width, m.height(), grey, 4, 3);
}

bool isNull(const cblob_imageRlePtrh &h) {
    int32_t null = 0;
    cblob_imageRlePtrh_getIsNull(&h, &null);
    return null != 0;
}

// ------------------------------------------------------------------ masking

Pixels referenceMask(const Pixels &src, const Pixels &mask, uint8_t value, uint8_t replacement, bool keepEqual) {
    Pixels out = src;
    for (int32_t y = 0; y < src.height; ++y)
        for (int32_t x = 0; x < src.width; ++x)
            if ((mask.at(x, y) == value) != keepEqual) out.at(x, y) = replacement;
    return out;
}

TEST(RleMask, MatchesPixelReferenceInEveryStorage) {
    struct Setting {
        uint8_t value, replacement;
        int32_t keepEqual;
    };
    uint32_t seed = 100;
    for (const Model &m : rletest::testModels()) {
        for (Storage s : rletest::storagesFor(m)) {
            Image src(m, s);
            for (bool maskGrey : {false, true}) {
                const Model maskModel = partner(m, seed++, maskGrey);
                for (Storage ms : {Storage::Filled, Storage::Borrowed}) {
                    Image mask(maskModel, ms);
                    for (const Setting &t : {Setting{0, 0, 0}, Setting{1, 1, 1}, Setting{2, 7, 1}, Setting{1, 0, 0}}) {
                        SCOPED_TRACE(label(m, s) + " mask " + label(maskModel, ms) + " value " +
                                     std::to_string(t.value) + " keepEqual " + std::to_string(t.keepEqual));
                        const uint8_t replacement = m.grey ? t.replacement : (t.replacement ? 1 : 0);
                        const Pixels want = referenceMask(rletest::decode(m), rletest::decode(mask.m), t.value,
                                                          replacement, t.keepEqual != 0);
                        runtest::RleHandle out;
                        ASSERT_EQ(cblob_imageRlePtrh_mask(&src.h, &mask.h, &out.h, t.value, t.replacement, t.keepEqual),
                                  0);
                        rletest::expectImageEquals(&out.h, rletest::encode(want, m.grey, m.offsetX, m.offsetY));
                    }
                }
            }
        }
    }
}

// The run pipeline's form: wide runs (4-byte lengths and a label slot),
// sentinel rows included, holding the same runs as the narrow result.
TEST(RleMask, WideOutputHoldsTheNarrowRuns) {
    uint32_t seed = 900;
    for (const Model &m : rletest::testModels()) {
        for (Storage s : {Storage::Filled, Storage::Borrowed}) {
            SCOPED_TRACE(label(m, s));
            Image src(m, s);
            Image mask(partner(m, seed++, false), Storage::Filled);
            cblob_imageRle *wide = nullptr;
            ASSERT_EQ(cblob::rle::maskImage(src.record(), mask.record(), 0, 0, 0, true, &wide), 0);
            const Model want = rletest::encode(referenceMask(rletest::decode(m), rletest::decode(mask.m), 0, 0, false),
                                               m.grey, m.offsetX, m.offsetY);
            ASSERT_EQ(wide->data->isWide, 1);
            EXPECT_EQ(wide->numRuns, want.numRuns());
            EXPECT_EQ(wide->offsetX, m.offsetX);
            EXPECT_EQ(wide->offsetY, m.offsetY);
            for (int32_t e = 0; e < m.height() + 2; ++e) {
                const cblob_rleRow &row = wide->rows[e];
                const bool sentinel = e == 0 || e == m.height() + 1;
                const rletest::Row expected = sentinel ? rletest::Row{{0, m.width}} : want.rows[e - 1];
                EXPECT_EQ(rletest::decodeRow(row.runs, m.grey, row.startValue, true), expected) << "entry " << e;
                EXPECT_EQ(row.numRuns, static_cast<int32_t>(expected.size()));
            }
            cblob::rle::deleteRecord(&wide);
        }
    }
}

TEST(RleMask, ResultMayBeTheSourceHandleAndKeepsTheTransform) {
    const Model m = rletest::randomModel(3, 20, 10, true, 4, 5);
    const Model maskModel = partner(m, 4, false);
    Image src(m, Storage::Filled), mask(maskModel, Storage::Filled);
    cmath_xformPtrhConst scale;
    const cmath_xformLinear linear = {{2, 0, 0, 3}, 5, 7};
    ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&scale, &linear), 0);
    ASSERT_EQ(cblob_imageRlePtrh_setClientFromImageXform(&src.h, &scale), 0);
    cblob_imageRlePtrh other;
    cblob_imageRlePtrh_constructCopy(&other, &src.h);
    ASSERT_EQ(cblob_imageRlePtrh_mask(&src.h, &mask.h, &src.h, 1, 0, 1), 0);
    rletest::expectImageEquals(&src.h, rletest::encode(referenceMask(rletest::decode(m), rletest::decode(maskModel), 1,
                                                                     0, true),
                                                       true, m.offsetX, m.offsetY));
    // The other handle keeps the source; the result has its transform.
    rletest::expectImageEquals(&other, m);
    cmath_xformPtrhConst got;
    cmath_xformPtrhConst_construct(&got);
    ASSERT_EQ(cblob_imageRlePtrh_getClientFromImageXform(&src.h, &got), 0);
    double x = 0, y = 0;
    ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&got, 1, 1, &x, &y), 0);
    EXPECT_DOUBLE_EQ(x, 7);
    EXPECT_DOUBLE_EQ(y, 10);
    cmath_xformPtrhConst_destruct(&got);
    cmath_xformPtrhConst_destruct(&scale);
    cblob_imageRlePtrh_destruct(&other);
}

TEST(RleMask, RefusesMissingAndMismatchedImages) {
    const Model m = rletest::randomModel(5, 12, 6, false, 3);
    Image src(m, Storage::Filled);
    Image narrower(rletest::randomModel(6, 11, 6, false, 3), Storage::Filled);
    cblob_imageRlePtrh null, bare, out;
    cblob_imageRlePtrh_construct(&null);
    cblob_imageRlePtrh_constructCopy(&out, &src.h);
    ASSERT_EQ(rletest::makeHandle(&bare, [](cblob_imageRle *img) { return cblob_imageRle_construct_(img); }), 0);
    EXPECT_EQ(cblob_imageRlePtrh_mask(&null, &src.h, &out, 0, 0, 0), cblob_err_nullRleImage);
    EXPECT_TRUE(isNull(out));  // detached on failure
    EXPECT_EQ(cblob_imageRlePtrh_mask(&src.h, &null, &out, 0, 0, 0), cblob_err_nullRleImage);
    EXPECT_EQ(cblob_imageRlePtrh_mask(&src.h, &bare, &out, 0, 0, 0), cblob_err_rleImageEmpty);
    EXPECT_EQ(cblob_imageRlePtrh_mask(&bare, &src.h, &out, 0, 0, 0), cblob_err_rleImageEmpty);
    EXPECT_EQ(cblob_imageRlePtrh_mask(&src.h, &narrower.h, &out, 0, 0, 0), cblob_err_maskGeometryMismatch);
    EXPECT_TRUE(isNull(out));
    cblob_imageRlePtrh_destruct(&bare);
}

// ------------------------------------------------------------- sub-windows

TEST(RleSubWindow, MatchesPixelReferenceForManyRectangles) {
    uint32_t s = 7;
    auto next = [&](int32_t n) { return s = s * 1103515245u + 12345u, static_cast<int32_t>((s >> 8) % n); };
    for (const Model &m : rletest::testModels()) {
        for (Storage st : {Storage::Packed, Storage::Filled}) {
            if (st == Storage::Packed && !m.grey) continue;
            Image src(m, st);
            const Pixels px = rletest::decode(m);
            std::vector<cstd_rect32> rects = {{0, 0, m.width, m.height()}, {m.width - 1, m.height() - 1, 1, 1}};
            for (int i = 0; i < 6; ++i) {
                const int32_t x = next(m.width), y = next(m.height());
                rects.push_back({x, y, 1 + next(m.width - x), 1 + next(m.height() - y)});
            }
            for (const cstd_rect32 &r : rects) {
                SCOPED_TRACE(label(m, st) + " rect " + std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                             std::to_string(r.width) + "x" + std::to_string(r.height));
                Pixels want{r.width, r.height, std::vector<uint8_t>(static_cast<size_t>(r.width) * r.height)};
                for (int32_t y = 0; y < r.height; ++y)
                    for (int32_t x = 0; x < r.width; ++x) want.at(x, y) = px.at(r.x + x, r.y + y);
                runtest::RleHandle out;
                ASSERT_EQ(cblob_imageRlePtrh_subWindow(&src.h, &r, &out.h), 0);
                rletest::expectImageEquals(&out.h, rletest::encode(want, m.grey, m.offsetX + r.x, m.offsetY + r.y));
            }
        }
    }
}

TEST(RleSubWindow, RefusesRectanglesOutsideAndImagesWithoutStorage) {
    const Model m = rletest::randomModel(9, 10, 8, true, 3, 4);
    Image src(m, Storage::Filled), borrowed(m, Storage::Borrowed);
    cblob_imageRlePtrh null, out;
    cblob_imageRlePtrh_construct(&null);
    cblob_imageRlePtrh_construct(&out);
    const cstd_rect32 bad[] = {{-1, 0, 2, 2}, {0, -1, 2, 2}, {0, 0, 0, 2}, {0, 0, 2, 0},
                               {9, 0, 2, 2},  {0, 7, 2, 2},  {0, 0, 11, 8}, {1, 1, INT32_MAX, 1}};
    for (const cstd_rect32 &r : bad) EXPECT_EQ(cblob_imageRlePtrh_subWindow(&src.h, &r, &out), cblob_err_badSubWindow);
    const cstd_rect32 ok{1, 1, 2, 2};
    EXPECT_EQ(cblob_imageRlePtrh_subWindow(&null, &ok, &out), cblob_err_nullRleImage);
    EXPECT_EQ(cblob_imageRlePtrh_subWindow(&borrowed.h, &ok, &out), cblob_err_rleImageNoRows);
    EXPECT_TRUE(isNull(out));
}

// ------------------------------------------------------------- combination

Pixels referenceCombine(const Pixels &a, const Pixels &b, int64_t bx, int64_t by, const uint8_t *table,
                        uint8_t transparent) {
    Pixels out = a;
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t x = 0; x < b.width; ++x) {
            const int64_t ax = bx + x, ay = by + y;
            if (ax < 0 || ay < 0 || ax >= a.width || ay >= a.height) continue;
            const uint8_t t = table[b.at(x, y)];
            if (t != transparent) out.at(static_cast<int32_t>(ax), static_cast<int32_t>(ay)) = t;
        }
    return out;
}

TEST(RleCombine, MatchesPixelReferenceWithShiftsAndClipping) {
    uint32_t s = 11;
    auto next = [&](int32_t n) { return s = s * 1103515245u + 12345u, static_cast<int32_t>((s >> 8) % n); };
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i % 3 == 0 ? 9 : 255 - i);
    table[0] = 9;  // transparent
    table[1] = 200;
    for (const Model &a : rletest::testModels()) {
        for (Storage sa : rletest::storagesFor(a)) {
            Image under(a, sa);
            for (bool bGrey : {false, true}) {
                Model bm = rletest::randomModel(s, 1 + next(a.width + 2), 1 + next(a.height() + 2), bGrey, 3, 5);
                for (Storage sb : {Storage::Filled, Storage::Borrowed}) {
                    Image over(bm, sb);
                    // Inside, at the corners and hanging over every edge.
                    const int32_t shifts[][2] = {{0, 0},
                                                 {next(a.width), next(a.height())},
                                                 {-next(bm.width + 1), -next(bm.height() + 1)},
                                                 {a.width - 1, a.height() - 1},
                                                 {a.width + 3, 0}};
                    for (const auto &d : shifts) {
                        SCOPED_TRACE(label(a, sa) + " over " + label(bm, sb) + " at " + std::to_string(d[0]) + "," +
                                     std::to_string(d[1]));
                        const int64_t bx = static_cast<int64_t>(bm.offsetX) - a.offsetX + d[0];
                        const int64_t by = static_cast<int64_t>(bm.offsetY) - a.offsetY + d[1];
                        const Pixels want =
                            referenceCombine(rletest::decode(a), rletest::decode(bm), bx, by, table, 9);
                        runtest::RleHandle out;
                        ASSERT_EQ(cblob_imageRlePtrh_combine(d[0], d[1], &under.h, &over.h, table, 256, 9, &out.h), 0);
                        rletest::expectImageEquals(&out.h, rletest::encode(want, true, a.offsetX, a.offsetY));
                    }
                }
            }
        }
    }
}

TEST(RleCombine, AllTransparentGivesTheUnderImageAsGreyRuns) {
    const Model a = rletest::randomModel(21, 30, 9, false, 5);
    Image under(a, Storage::Filled), over(rletest::randomModel(22, 10, 4, true, 3, 4), Storage::Filled);
    uint8_t table[256];
    std::fill(table, table + 256, uint8_t{77});
    runtest::RleHandle out;
    ASSERT_EQ(cblob_imageRlePtrh_combine(2, 1, &under.h, &over.h, table, 256, 77, &out.h), 0);
    Model grey = a;
    grey.grey = true;
    rletest::expectImageEquals(&out.h, grey);
    cblob_imageRlePtrh null;
    cblob_imageRlePtrh_construct(&null);
    EXPECT_EQ(cblob_imageRlePtrh_combine(0, 0, &null, &over.h, table, 256, 0, &out.h), cblob_err_nullRleImage);
    EXPECT_EQ(cblob_imageRlePtrh_combine(0, 0, &under.h, &null, table, 256, 0, &out.h), cblob_err_nullRleImage);
    EXPECT_TRUE(isNull(out.h));
}

// --------------------------------------------------- copy and histogram

// An 8-bit image over test-owned pixels at an origin.
struct Plain {
    Plain(int32_t w, int32_t h, int32_t ox, int32_t oy, uint32_t seed) : pixels(static_cast<size_t>(w) * h) {
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((seed + i * 37 + i / 5) & 0xFF);
        cimg_image_constructUnbound(&img, 8);
        cimg_image_initFromBuffer(&img, pixels.data(), 8, w, h, w, ox, oy);
    }
    ~Plain() { cimg_image_destruct(&img); }
    uint8_t at(int64_t x, int64_t y) const {  // image coordinates
        return pixels[static_cast<size_t>((y - img.originY) * img.width + (x - img.originX))];
    }
    bool inside(int64_t x, int64_t y) const {
        return x >= img.originX && y >= img.originY && x < img.originX + img.width && y < img.originY + img.height;
    }
    std::vector<uint8_t> pixels;
    cimg_image img;
};

// Whether the mask placed at its offset minus (dx, dy) selects the pixel at
// image coordinates (x, y); false outside the mask.
bool selects(const Model &mask, int32_t dx, int32_t dy, int32_t invert, int64_t x, int64_t y, bool *covered) {
    const int64_t mx = x - (static_cast<int64_t>(mask.offsetX) - dx);
    const int64_t my = y - (static_cast<int64_t>(mask.offsetY) - dy);
    *covered = mx >= 0 && my >= 0 && mx < mask.width && my < mask.height();
    return *covered && ((mask.pel(static_cast<int32_t>(mx), static_cast<int32_t>(my)) != 0) != (invert != 0));
}

TEST(RleMaskRegion, CopyMatchesPixelReferenceIntoBoundAndUnboundImages) {
    uint32_t seed = 300;
    for (const Model &m : rletest::testModels()) {
        Image mask(m, Storage::Filled);
        Plain src(m.width + 6, m.height() + 4, -2, 3, seed++);
        const int32_t shifts[][2] = {{0, 0}, {m.offsetX + 2, m.offsetY - 3}, {-4, 2}, {m.width + 50, 0}};
        for (const auto &d : shifts)
            for (int32_t fill : {0, 1})
                for (int32_t invert : {0, 1}) {
                    SCOPED_TRACE(label(m, Storage::Filled) + " shift " + std::to_string(d[0]) + "," +
                                 std::to_string(d[1]) + " fill " + std::to_string(fill) + " invert " +
                                 std::to_string(invert));
                    // A bound destination overlapping part of the source.
                    Plain dst(m.width + 2, m.height() + 5, 0, 2, seed++);
                    const std::vector<uint8_t> before = dst.pixels;
                    ASSERT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&src.img, &mask.h, d[0], d[1], 33, fill, invert,
                                                                   &dst.img),
                              0);
                    for (int32_t y = 0; y < dst.img.height; ++y)
                        for (int32_t x = 0; x < dst.img.width; ++x) {
                            const int64_t ix = x + dst.img.originX, iy = y + dst.img.originY;
                            bool covered = false;
                            const bool sel = selects(m, d[0], d[1], invert, ix, iy, &covered);
                            uint8_t want = before[static_cast<size_t>(y) * dst.img.width + x];
                            if (covered && src.inside(ix, iy)) want = sel ? src.at(ix, iy) : fill ? 33 : want;
                            ASSERT_EQ(dst.at(ix, iy), want) << "at " << ix << "," << iy;
                        }
                    // An unbound destination gets the clipped rectangle.
                    cimg_image fresh;
                    cimg_image_constructUnbound(&fresh, 8);
                    ASSERT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&src.img, &mask.h, d[0], d[1], 33, fill, invert,
                                                                   &fresh),
                              0);
                    const int64_t x0 = std::max<int64_t>(m.offsetX - d[0], src.img.originX);
                    const int64_t y0 = std::max<int64_t>(m.offsetY - d[1], src.img.originY);
                    const int64_t x1 = std::min<int64_t>(m.offsetX - d[0] + m.width, src.img.originX + src.img.width);
                    const int64_t y1 =
                        std::min<int64_t>(m.offsetY - d[1] + m.height(), src.img.originY + src.img.height);
                    if (x0 >= x1 || y0 >= y1) {
                        EXPECT_EQ(fresh.pels, nullptr);
                    } else {
                        ASSERT_EQ(fresh.width, x1 - x0);
                        ASSERT_EQ(fresh.height, y1 - y0);
                        ASSERT_EQ(fresh.originX, x0);
                        ASSERT_EQ(fresh.originY, y0);
                        for (int64_t y = y0; y < y1; ++y)
                            for (int64_t x = x0; x < x1; ++x) {
                                bool covered = false;
                                const bool sel = selects(m, d[0], d[1], invert, x, y, &covered);
                                const uint8_t want = sel ? src.at(x, y) : fill ? 33 : 0;
                                ASSERT_EQ(fresh.pels[(y - y0) * fresh.strideBytes + (x - x0)], want);
                            }
                    }
                    cimg_image_destruct(&fresh);
                }
    }
}

TEST(RleMaskRegion, HistogramMatchesPixelReference) {
    uint32_t seed = 500;
    for (const Model &m : rletest::testModels()) {
        Image mask(m, m.grey ? Storage::Packed : Storage::Filled);
        Plain src(m.width + 3, m.height() + 2, 1, -1, seed++);
        const int32_t shifts[][2] = {{0, 0}, {m.offsetX - 1, m.offsetY + 1}, {-3, -2}};
        for (const auto &d : shifts)
            for (int32_t bins : {1, 16, 256, 1000})
                for (int32_t invert : {0, 1}) {
                    std::vector<uint32_t> hist(256, 5), want(256, 5);
                    const int32_t maxBin = bins < 256 ? bins - 1 : 255;
                    for (int64_t y = src.img.originY; y < src.img.originY + src.img.height; ++y)
                        for (int64_t x = src.img.originX; x < src.img.originX + src.img.width; ++x) {
                            bool covered = false;
                            if (selects(m, d[0], d[1], invert, x, y, &covered))
                                ++want[std::min<int32_t>(src.at(x, y), maxBin)];
                        }
                    ASSERT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&src.img, &mask.h, d[0], d[1], invert,
                                                                        hist.data(), bins),
                              0);
                    EXPECT_EQ(hist, want) << label(m, Storage::Filled) << " bins " << bins;
                }
    }
}

TEST(RleMaskRegion, StatusesInOrder) {
    const Model m = rletest::randomModel(31, 8, 8, false, 3);
    Image mask(m, Storage::Filled), borrowed(m, Storage::Borrowed);
    Plain src(8, 8, 0, 0, 1);
    cimg_image unbound, empty, deep;
    cimg_image_constructUnbound(&unbound, 8);
    cimg_image_constructUnbound(&empty, 8);
    cimg_image_assignNew(&empty, 0, 5);
    cimg_image_constructUnbound(&deep, 16);
    cimg_image_assignNew(&deep, 8, 8);
    cblob_imageRlePtrh null;
    cblob_imageRlePtrh_construct(&null);
    uint32_t hist[256] = {};
    cimg_image dst;
    cimg_image_constructUnbound(&dst, 8);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&unbound, &null, 0, 0, 0, 0, 0, &dst), cblob_err_imageUnbound);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&src.img, &null, 0, 0, 0, 0, 0, &dst), cblob_err_nullRleImage);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&src.img, &borrowed.h, 0, 0, 0, 0, 0, &dst),
              cblob_err_rleImageNoRows);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&empty, &mask.h, 0, 0, 0, 0, 0, &dst), cblob_err_emptyWindow);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&deep, &mask.h, 0, 0, 0, 0, 0, &dst), cimg_err_badDepth);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&src.img, &mask.h, 0, 0, 0, 0, 0, &deep), cimg_err_badDepth);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&unbound, &null, 0, 0, 0, hist, 256), cblob_err_imageUnbound);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&src.img, &null, 0, 0, 0, hist, 256), cblob_err_nullRleImage);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&src.img, &borrowed.h, 0, 0, 0, hist, 256),
              cblob_err_rleImageNoRows);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&empty, &mask.h, 0, 0, 0, hist, 256), cblob_err_emptyWindow);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&src.img, &mask.h, 0, 0, 0, hist, 0), cip_err_badBins);
    // A mask wholly outside changes nothing.
    const std::vector<uint8_t> before = src.pixels;
    EXPECT_EQ(cblob_imageRlePtrh_maskAndCopyRegion(&src.img, &mask.h, 100, 0, 0, 1, 0, &src.img), 0);
    EXPECT_EQ(src.pixels, before);
    EXPECT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&src.img, &mask.h, 0, -100, 0, hist, 256), 0);
    EXPECT_EQ(std::count(hist, hist + 256, 0u), 256);
    cimg_image_destruct(&dst);
    cimg_image_destruct(&deep);
    cimg_image_destruct(&empty);
    cimg_image_destruct(&unbound);
}

// --------------------------------------------------------- wide inputs

// A handle on a wide copy of a model's image (the layout the connectivity
// scans label): every operation reads it as it reads the narrow image.
struct WideImage {
    explicit WideImage(const Model &m) : narrow(m, Storage::Filled) {
        cblob_imageRlePtrh_construct(&h);
        EXPECT_EQ(rletest::makeHandle(&h, [&](cblob_imageRle *img) {
                      return cblob::rle::constructWideCopy(img, narrow.record());
                  }),
                  0);
    }
    ~WideImage() { cblob_imageRlePtrh_destruct(&h); }
    Image narrow;
    cblob_imageRlePtrh h;
};

TEST(RleOps, WideInputsGiveTheResultsOfNarrowOnes) {
    uint32_t seed = 1200;
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i == 1 ? 0 : 255 - i);
    for (const Model &m : rletest::testModels()) {
        SCOPED_TRACE(label(m, Storage::Filled));
        WideImage wide(m);
        const Model maskModel = partner(m, seed++, false);
        WideImage wideMask(maskModel);
        // Each operation on the narrow and on the wide form.
        auto same = [&](const char *what, const std::function<int32_t(const cblob_imageRlePtrh *,
                                                                     const cblob_imageRlePtrh *,
                                                                     cblob_imageRlePtrh *)> &op) {
            SCOPED_TRACE(what);
            cblob_imageRlePtrh a, b;
            cblob_imageRlePtrh_construct(&a);
            cblob_imageRlePtrh_construct(&b);
            ASSERT_EQ(op(&wide.narrow.h, &wideMask.narrow.h, &a), 0);
            ASSERT_EQ(op(&wide.h, &wideMask.h, &b), 0);
            int32_t equal = 0;
            cblob_imageRlePtrh_compareEqual(&a, &b, &equal);
            EXPECT_EQ(equal, 1);
            cblob_imageRlePtrh_destruct(&a);
            cblob_imageRlePtrh_destruct(&b);
        };
        same("mask", [](auto *src, auto *mask, auto *out) { return cblob_imageRlePtrh_mask(src, mask, out, 1, 0, 1); });
        same("combine", [&](auto *src, auto *mask, auto *out) {
            return cblob_imageRlePtrh_combine(1, -1, src, mask, table, 256, 0, out);
        });
        for (int32_t op = 0; op < 12; ++op) {
            same("gmorph", [op](auto *src, auto *, auto *out) { return cblob_imageRlePtrh_gmorph(src, out, op); });
        }
        const cstd_rect32 r{0, 0, m.width, m.height()};
        same("subWindow", [&](auto *src, auto *, auto *out) { return cblob_imageRlePtrh_subWindow(src, &r, out); });
        // Copy and histogram with a wide mask.
        Plain src(m.width, m.height(), maskModel.offsetX, maskModel.offsetY, seed);
        uint32_t h1[256] = {}, h2[256] = {};
        ASSERT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&src.img, &wideMask.narrow.h, 0, 0, 0, h1, 256), 0);
        ASSERT_EQ(cblob_imageRlePtrh_maskAndHistogramRegion(&src.img, &wideMask.h, 0, 0, 0, h2, 256), 0);
        EXPECT_TRUE(std::equal(h1, h1 + 256, h2));
    }
}

// ------------------------------------------------ cancellation, every op

TEST(RleOps, EveryOperationStopsWhenAsked) {
    const Model grey = rletest::randomModel(41, 37, 100, true, 5, 6);
    const Model binary = rletest::randomModel(42, 37, 100, false, 6);
    Image g(grey, Storage::Filled), b(binary, Storage::Filled), bb(binary, Storage::Borrowed);
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i * 3);
    Plain plain(37, 100, grey.offsetX, grey.offsetY, 3);
    uint32_t hist[256] = {};
    const std::vector<std::pair<const char *, std::function<int32_t()>>> ops = {
        {"mask",
         [&] {
             runtest::RleHandle out;
             return cblob_imageRlePtrh_mask(&g.h, &bb.h, &out.h, 1, 0, 1);
         }},
        {"subWindow",
         [&] {
             runtest::RleHandle out;
             const cstd_rect32 r{3, 2, 30, 97};
             return cblob_imageRlePtrh_subWindow(&b.h, &r, &out.h);
         }},
        {"combine",
         [&] {
             runtest::RleHandle out;
             return cblob_imageRlePtrh_combine(-3, 4, &g.h, &bb.h, table, 256, 0, &out.h);
         }},
        {"maskAndCopyRegion",
         [&] {
             cimg_image dst;
             cimg_image_constructUnbound(&dst, 8);
             const int32_t st = cblob_imageRlePtrh_maskAndCopyRegion(&plain.img, &b.h, 0, 0, 1, 1, 0, &dst);
             cimg_image_destruct(&dst);
             return st;
         }},
        {"maskAndHistogramRegion",
         [&] { return cblob_imageRlePtrh_maskAndHistogramRegion(&plain.img, &g.h, 1, 1, 0, hist, 256); }},
    };
    for (const auto &[name, op] : ops) {
        SCOPED_TRACE(name);
        // 100 rows: polled at rows 0, 32, 64, 96.
        EXPECT_EQ(cblobtest::expectCleanUnderCancellation(op), 4);
    }
}

}  // namespace
