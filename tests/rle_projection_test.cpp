// Value mapping, histograms and projections of run-length images, checked
// against per-pixel reference models: the image is decoded to pixels and
// every expectation is computed pixel by pixel (the projection at an angle
// by clipping each pixel's unit square against the bins).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cblob/rle_image.h"
#include "support/fault_injection.hpp"
#include "support/rle_images.hpp"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"

namespace {

using rletest::Image;
using rletest::label;
using rletest::Model;
using rletest::Row;
using rletest::Storage;
using rletest::storagesFor;

// The weight of a pixel: its grey value, or 1 for binary foreground.
double weight(const Model &m, int32_t x, int32_t y) { return m.pel(x, y); }

double totalWeight(const Model &m) {
    double total = 0;
    for (int32_t y = 0; y < m.height(); ++y)
        for (int32_t x = 0; x < m.width; ++x) total += weight(m, x, y);
    return total;
}

// Binary rows that end early, as the blob database stores them.
Model earlyEndingBinary() {
    return rletest::makeModel(12, {{{0, 3}, {1, 2}}, {{1, 4}}, {{0, 12}}, {{1, 1}, {0, 1}, {1, 10}}, {{0, 11}, {1, 1}}},
                              false);
}

std::vector<uint32_t> contents(const cstd_vector32 &v) {
    const uint32_t *begin = nullptr;
    int32_t size = 0;
    cstd_vector32_getBeginSize32Const(&v, &begin, &size);
    return std::vector<uint32_t>(begin, begin + size);
}

std::vector<double> contents(const cstd_vectord &v) {
    const double *begin = nullptr;
    int32_t size = 0;
    cstd_vectord_getBeginSize32Const(&v, &begin, &size);
    return std::vector<double>(begin, begin + size);
}

// ------------------------------------------------------------------ mapping

// The expected mapped rows: every pixel through the table, then re-encoded
// with neighbouring equal values merged.
std::vector<Row> mappedRows(const Model &m, const uint8_t *table) {
    std::vector<Row> rows;
    for (int32_t y = 0; y < m.height(); ++y) {
        Row row;
        for (int32_t x = 0; x < m.width; ++x) {
            const uint8_t v = table[m.pel(x, y)];
            if (!row.empty() && row.back().value == v) {
                ++row.back().length;
            } else {
                row.push_back({v, 1});
            }
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(RleProjection, MapMatchesThePixelTableAndMergesRuns) {
    struct Table {
        const char *name;
        std::function<uint8_t(int)> f;
    };
    const Table tables[] = {
        {"identity", [](int v) { return static_cast<uint8_t>(v); }},
        {"10/20", [](int v) { return static_cast<uint8_t>(v == 0 ? 10 : v == 1 ? 20 : 255 - v); }},
        {"halving merges neighbours", [](int v) { return static_cast<uint8_t>(v / 2); }},
        {"constant", [](int) { return uint8_t{7}; }},
    };
    std::vector<Model> all = rletest::testModels();
    all.push_back(rletest::makeModel(4, {{{1, 4}}, {{0, 4}}, {{1, 1}, {0, 3}}}, false));
    for (const Table &t : tables) {
        uint8_t table[256];
        for (int v = 0; v < 256; ++v) table[v] = t.f(v);
        for (const Model &m : all) {
            for (Storage storage : {Storage::Packed, Storage::Filled}) {
                if (!m.grey && storage == Storage::Packed) continue;
                SCOPED_TRACE(std::string(t.name) + ", " + label(m, storage));
                Image src(m, storage);
                runtest::RleHandle out;
                ASSERT_EQ(cblob_imageRlePtrh_map(&src.h, table, 256, &out.h), 0);
                cblob_imageRle *img = nullptr;
                cblob_imageRlePtrh_getImageRle(&out.h, &img);
                ASSERT_NE(img, nullptr);
                EXPECT_TRUE(img->isGrey == 1 && img->data != nullptr);
                EXPECT_TRUE(img->offsetX == m.offsetX && img->offsetY == m.offsetY);
                EXPECT_TRUE(img->width == m.width && img->height == m.height());
                const std::vector<Row> expected = mappedRows(m, table);
                int32_t runs = 0;
                for (int32_t y = 0; y < m.height(); ++y) {
                    const cblob_rleRow &entry = img->rows[y + 1];
                    EXPECT_EQ(rletest::decodeRow(entry.runs, true, 0), expected[y]) << "row " << y;
                    EXPECT_EQ(entry.numRuns, static_cast<int32_t>(expected[y].size()));
                    runs += entry.numRuns;
                }
                EXPECT_EQ(img->numRuns, runs);
                const Row sentinel = {{0, m.width}};
                EXPECT_EQ(rletest::decodeRow(img->rows[0].runs, true, 0), sentinel);
                EXPECT_EQ(rletest::decodeRow(img->rows[m.height() + 1].runs, true, 0), sentinel);
                // The source is unchanged, and mapping into its own handle works.
                uint8_t pel = 0;
                ASSERT_EQ(cblob_imageRlePtrh_getPel8(&src.h, m.offsetX, m.offsetY, &pel), 0);
                EXPECT_EQ(pel, m.pel(0, 0));
                ASSERT_EQ(cblob_imageRlePtrh_map(&src.h, table, 0, &src.h), 0);
                int32_t equal = 0;
                ASSERT_EQ(cblob_imageRlePtrh_compareEqual(&src.h, &out.h, &equal), 0);
                EXPECT_EQ(equal, 1);
            }
        }
    }
    // Block sizes come from the source's run count: a source claiming one
    // run needs a new block every row, with the same result.
    const Model m = rletest::randomModel(77, 19, 40, true, 3, 6);
    cblob_imageRlePtrh low;
    ASSERT_EQ(rletest::makeHandle(&low, [&](cblob_imageRle *img) { return rletest::buildFromTorv(img, m, 1); }), 0);
    uint8_t identity[256];
    for (int v = 0; v < 256; ++v) identity[v] = static_cast<uint8_t>(v);
    runtest::RleHandle out;
    ASSERT_EQ(cblob_imageRlePtrh_map(&low, identity, 256, &out.h), 0);
    cblob_imageRle *img = nullptr;
    cblob_imageRlePtrh_getImageRle(&out.h, &img);
    EXPECT_GT(img->data->blocks.untyped.size, 1);
    for (int32_t y = 0; y < m.height(); ++y)
        EXPECT_EQ(rletest::decodeRow(img->rows[y + 1].runs, true, 0), m.rows[y]) << "row " << y;
    cblob_imageRlePtrh_destruct(&low);
}

// --------------------------------------------------------------- histograms

TEST(RleProjection, HistoAddsPixelAndRunCountsPerValue) {
    std::vector<Model> all = rletest::testModels();
    all.push_back(earlyEndingBinary());
    for (const Model &m : all) {
        for (Storage storage : storagesFor(m)) {
            SCOPED_TRACE(label(m, storage));
            Image src(m, storage);
            // Per pixel, and per run of equal pixels along each row.
            std::vector<uint32_t> pixels(256, 3), runs(256, 5);
            for (int32_t y = 0; y < m.height(); ++y) {
                for (int32_t x = 0; x < m.width; ++x) {
                    ++pixels[m.pel(x, y)];
                    if (x == 0 || m.pel(x - 1, y) != m.pel(x, y)) ++runs[m.pel(x, y)];
                }
            }
            std::vector<uint32_t> gotPixels(256, 3), gotRuns(256, 5), alone(256, 0);
            ASSERT_EQ(cblob_imageRlePtrh_histo(&src.h, gotPixels.data(), gotRuns.data()), 0);
            EXPECT_EQ(gotPixels, pixels);
            EXPECT_EQ(gotRuns, runs);
            // Either histogram alone; counters add up over calls.
            ASSERT_EQ(cblob_imageRlePtrh_histo(&src.h, alone.data(), nullptr), 0);
            ASSERT_EQ(cblob_imageRlePtrh_histo(&src.h, alone.data(), nullptr), 0);
            for (int v = 0; v < 256; ++v) EXPECT_EQ(alone[v], 2 * (pixels[v] - 3)) << v;
            std::fill(alone.begin(), alone.end(), 0);
            ASSERT_EQ(cblob_imageRlePtrh_histo(&src.h, nullptr, alone.data()), 0);
            for (int v = 0; v < 256; ++v) EXPECT_EQ(alone[v], runs[v] - 5) << v;
            EXPECT_EQ(cblob_imageRlePtrh_histo(&src.h, nullptr, nullptr), 0);
        }
    }
    // A uniform 4 x 3 image of 9: 12 pixels and 3 runs of value 9.
    cblob_imageRlePtrh uniform;
    const cmath_xformPtrhConst none = rletest::identity();
    ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&uniform, 4, 3, 9, &none), 0);
    std::vector<uint32_t> pixels(256, 0), runs(256, 0);
    ASSERT_EQ(cblob_imageRlePtrh_histo(&uniform, pixels.data(), runs.data()), 0);
    EXPECT_EQ(pixels[9], 12u);
    EXPECT_EQ(runs[9], 3u);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0u), 255);
    cblob_imageRlePtrh_destruct(&uniform);
}

// -------------------------------------------- column, row and diagonal sums

TEST(RleProjection, AxisProjectionsMatchPixelSums) {
    std::vector<Model> all = rletest::testModels();
    all.push_back(earlyEndingBinary());
    all.push_back(rletest::makeModel(3, {{{1, 3}}, {{2, 1}, {5, 2}}}));  // 3 x 2: 4 diagonals
    for (const Model &m : all) {
        for (Storage storage : storagesFor(m)) {
            SCOPED_TRACE(label(m, storage));
            Image src(m, storage);
            std::vector<uint32_t> columns(m.width, 0), rows(m.height(), 0),
                diagonals(static_cast<size_t>(m.width + m.height() - 1), 0);
            for (int32_t y = 0; y < m.height(); ++y) {
                for (int32_t x = 0; x < m.width; ++x) {
                    const uint32_t w = m.pel(x, y);
                    columns[x] += w;
                    rows[y] += w;
                    diagonals[x + y] += w;
                }
            }
            const std::pair<int32_t (*)(const cblob_imageRlePtrh *, cstd_vector32 *), const std::vector<uint32_t> *>
                cases[] = {{&cblob_imageRlePtrh_projectVert, &columns},
                           {&cblob_imageRlePtrh_projectHoriz, &rows},
                           {&cblob_imageRlePtrh_projectDiag, &diagonals}};
            for (const auto &[project, expected] : cases) {
                // The output is resized and overwritten whatever it held.
                cstd_vector32 out;
                const uint32_t junk = 0xDEADBEEF;
                ASSERT_EQ(cstd_vector32_constructFill(&out, 100, &junk), 0);
                ASSERT_EQ(project(&src.h, &out), 0);
                EXPECT_EQ(contents(out), *expected);
                cstd_vector32_destruct(&out);
            }
        }
    }
}

// --------------------------------------------------- projection at an angle

// The area of the part of a convex polygon where lo <= t(p) <= hi, t affine:
// the polygon clipped by both half-planes, then the shoelace formula.
struct Pt {
    double x, y;
};
double clippedArea(std::vector<Pt> poly, const std::function<double(Pt)> &t, double lo, double hi) {
    auto clip = [&](const std::vector<Pt> &in, const std::function<double(Pt)> &inside) {
        std::vector<Pt> out;
        for (size_t i = 0; i < in.size(); ++i) {
            const Pt a = in[i], b = in[(i + 1) % in.size()];
            const double fa = inside(a), fb = inside(b);
            if (fa >= 0) out.push_back(a);
            if ((fa >= 0) != (fb >= 0)) {
                const double r = fa / (fa - fb);
                out.push_back({a.x + r * (b.x - a.x), a.y + r * (b.y - a.y)});
            }
        }
        return out;
    };
    poly = clip(poly, [&](Pt p) { return t(p) - lo; });
    poly = clip(poly, [&](Pt p) { return hi - t(p); });
    double area = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Pt a = poly[i], b = poly[(i + 1) % poly.size()];
        area += a.x * b.y - b.x * a.y;
    }
    return std::fabs(area) / 2;
}

struct AngleResult {
    int32_t kind = -1;
    double origin[2] = {0, 0};
    double binSize = 0, first = 0, last = 0;
    std::vector<double> masses;
};

// The expected profile of model m for the client direction d under the
// client-from-image matrix M (m00, m01, m10, m11).
AngleResult expectedProfile(const Model &m, const double M[4], const double d[2]) {
    AngleResult r;
    const double det = M[0] * M[3] - M[1] * M[2];
    // The direction in the image frame: the inverse matrix applied to d.
    const double vx = (M[3] * d[0] - M[1] * d[1]) / det, vy = (M[0] * d[1] - M[2] * d[0]) / det;
    const double theta = std::atan2(vy, vx);
    const double sn = std::sin(theta), cs = std::cos(theta), s = std::fabs(sn), c = std::fabs(cs);
    const bool fx = (sn <= 0) != (det < 0), fy = (cs > 0) != (det < 0);
    const int32_t w = m.width, h = m.height();
    r.origin[0] = fx ? 0 : w;
    r.origin[1] = fy ? 0 : h;
    const double nx = M[0] * -sn + M[1] * cs, ny = M[2] * -sn + M[3] * cs;
    r.binSize = std::fabs(nx * d[1] - ny * d[0]);
    if (c < 1e-6 || s < 1e-6) {
        const bool columns = c < 1e-6;
        r.kind = columns ? (fx ? 3 : 4) : (fy ? 1 : 2);
        r.masses.assign(columns ? w : h, 0.0);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                r.masses[columns ? (fx ? x : w - 1 - x) : (fy ? y : h - 1 - y)] += weight(m, x, y);
        return r;
    }
    r.kind = 0;
    r.masses.assign(static_cast<size_t>(std::floor(h * c + w * s)) + 1, 0.0);
    // The axis position of an image point (relative to the offset).
    auto t = [&](Pt p) { return (fx ? p.x : w - p.x) * s + (fy ? p.y : h - p.y) * c; };
    double tmin = HUGE_VAL, tmax = -HUGE_VAL;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const double pw = weight(m, x, y);
            if (pw == 0) continue;
            const std::vector<Pt> square = {{double(x), double(y)}, {x + 1.0, double(y)}, {x + 1.0, y + 1.0},
                                            {double(x), y + 1.0}};
            double lo = HUGE_VAL, hi = -HUGE_VAL;
            for (const Pt &p : square) lo = std::min(lo, t(p)), hi = std::max(hi, t(p));
            tmin = std::min(tmin, lo);
            tmax = std::max(tmax, hi);
            for (int64_t k = static_cast<int64_t>(std::floor(lo)); k <= static_cast<int64_t>(std::floor(hi)); ++k)
                if (k < static_cast<int64_t>(r.masses.size()))
                    r.masses[k] += pw * clippedArea(square, t, double(k), double(k) + 1.0);
        }
    }
    if (tmin <= tmax) {
        r.first = tmin - std::floor(tmin);
        r.last = std::ceil(tmax) - tmax;
    }
    return r;
}

// Fractions compared on the circle: 0 and 1 are one position apart by less
// than rounding.
double fractionDistance(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, std::fabs(1 - d));
}

TEST(RleProjection, AngleProjectionSpreadsEveryPixelExactly) {
    const double pi = std::acos(-1.0);
    auto rotation = [&](double scale, double degrees, double mirrorX) {
        const double a = degrees * pi / 180;
        return std::vector<double>{scale * mirrorX * std::cos(a), -scale * std::sin(a), scale * mirrorX * std::sin(a),
                                   scale * std::cos(a)};
    };
    struct Xform {
        const char *name;
        std::vector<double> matrix;  // client from image
    };
    const Xform xforms[] = {
        {"identity", {1, 0, 0, 1}},
        {"scale 2, rotate 20", rotation(2, 20, 1)},
        {"mirror x, scale 1.5, rotate 10", rotation(1.5, 10, -1)},
        {"mirror y", {1, 0, 0, -1}},
    };
    std::vector<Model> all = rletest::testModels();
    all.push_back(earlyEndingBinary());
    for (const Xform &xf : xforms) {
        cmath_xformLinear linear;
        cmath_matrix matrix;
        cmath_matrix_init(&matrix, xf.matrix[0], xf.matrix[1], xf.matrix[2], xf.matrix[3]);
        cmath_xformLinear_init(&linear, &matrix, 5, -3);
        cmath_xformPtrhConst xform;
        ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&xform, &linear), 0);
        // Besides the usual angles, two within a hair of the image axes (sin or
        // cos just above the axis tolerance): ramps of a millionth of a bin.
        for (double degrees : {0.0, 30.0, 45.0, 90.0, 137.0, 1e-4, 90 - 1e-4}) {
            const double d[2] = {std::cos(degrees * pi / 180), std::sin(degrees * pi / 180)};
            for (const Model &m : all) {
                for (Storage storage : storagesFor(m)) {
                    SCOPED_TRACE(::testing::Message() << xf.name << ", " << degrees << " degrees, " << label(m, storage));
                    Image src(m, storage);
                    const AngleResult want = expectedProfile(m, xf.matrix.data(), d);
                    AngleResult got;
                    cstd_vectord masses;
                    const double seven = 7;
                    ASSERT_EQ(cstd_vectord_constructFill(&masses, 3, &seven), 0);
                    // Without the axis profile an axis direction leaves the vector alone.
                    ASSERT_EQ(cblob_imageRlePtrh_projectAngle(&src.h, d, &xform, 0, &masses, &got.kind, got.origin,
                                                              &got.binSize, &got.first, &got.last),
                              0);
                    if (want.kind != 0) {
                        EXPECT_EQ(contents(masses), std::vector<double>(3, 7.0));
                    }
                    ASSERT_EQ(cblob_imageRlePtrh_projectAngle(&src.h, d, &xform, 1, &masses, &got.kind, got.origin,
                                                              &got.binSize, &got.first, &got.last),
                              0);
                    got.masses = contents(masses);
                    cstd_vectord_destruct(&masses);
                    EXPECT_EQ(got.kind, want.kind);
                    EXPECT_EQ(got.origin[0], want.origin[0]);
                    EXPECT_EQ(got.origin[1], want.origin[1]);
                    EXPECT_NEAR(got.binSize, want.binSize, 1e-12);
                    EXPECT_LT(fractionDistance(got.first, want.first), 1e-9) << got.first << " " << want.first;
                    EXPECT_LT(fractionDistance(got.last, want.last), 1e-9) << got.last << " " << want.last;
                    const double total = totalWeight(m);
                    ASSERT_EQ(got.masses.size(), want.masses.size());
                    double sum = 0;
                    for (size_t k = 0; k < want.masses.size(); ++k) {
                        EXPECT_NEAR(got.masses[k], want.masses[k], 1e-9 * (1 + total)) << "bin " << k;
                        EXPECT_GE(got.masses[k], 0.0);
                        sum += got.masses[k];
                    }
                    EXPECT_NEAR(sum, total, 1e-9 * (1 + total));
                    // The axis directions of the identity: columns reversed (kind 4)
                    // for (0, 1), rows in order (kind 1) for (1, 0).
                    const bool identity = xf.matrix == std::vector<double>{1, 0, 0, 1};
                    if (identity && degrees == 90) {
                        EXPECT_EQ(got.kind, 4);
                    }
                    if (identity && degrees == 0) {
                        EXPECT_EQ(got.kind, 1);
                    }
                }
            }
        }
        cmath_xformPtrhConst_destruct(&xform);
    }
    // A null transform handle is the identity; an image without weight has
    // empty bins and zero fractions.
    const Model blank = rletest::makeModel(5, {{{0, 5}}, {{0, 5}}}, false);
    Image src(blank, Storage::Filled);
    const cmath_xformPtrhConst none = rletest::identity();
    const double d[2] = {1, 1};
    AngleResult got;
    cstd_vectord masses;
    ASSERT_EQ(cstd_vectord_constructEmpty(&masses), 0);
    ASSERT_EQ(cblob_imageRlePtrh_projectAngle(&src.h, d, &none, 1, &masses, &got.kind, got.origin, &got.binSize,
                                              &got.first, &got.last),
              0);
    EXPECT_EQ(got.kind, 0);
    EXPECT_EQ(contents(masses), std::vector<double>(static_cast<size_t>(std::floor(7 * std::sqrt(0.5))) + 1, 0.0));
    EXPECT_TRUE(got.first == 0 && got.last == 0);
    EXPECT_NEAR(got.binSize, std::sqrt(2.0), 1e-12);  // a unit bin across a direction of length sqrt 2
    cstd_vectord_destruct(&masses);
}

// ------------------------------------------------- failures and cancellation

// A column, row or diagonal projection into a vector of its own.
std::function<int32_t(const cblob_imageRlePtrh *)> project32(int32_t (*project)(const cblob_imageRlePtrh *,
                                                                                 cstd_vector32 *)) {
    return [project](const cblob_imageRlePtrh *h) {
        cstd_vector32 out;
        cstd_vector32_constructEmpty(&out);
        const int32_t status = project(h, &out);
        cstd_vector32_destruct(&out);
        return status;
    };
}

TEST(RleProjection, FailuresLeakNothingAndStopCleanly) {
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(255 - v);
    const cmath_xformPtrhConst none = rletest::identity();
    const double d[2] = {std::cos(0.5), std::sin(0.5)};
    using Op = std::function<int32_t(const cblob_imageRlePtrh *)>;
    const std::pair<const char *, Op> ops[] = {
        {"map",
         [&](const cblob_imageRlePtrh *h) {
             runtest::RleHandle out;
             const int32_t status = cblob_imageRlePtrh_map(h, table, 256, &out.h);
             int32_t isNull = 0;
             cblob_imageRlePtrh_getIsNull(&out.h, &isNull);
             EXPECT_EQ(isNull, CBLOB_FAILED(status) ? 1 : 0);
             return status;
         }},
        {"histo",
         [](const cblob_imageRlePtrh *h) {
             uint32_t pixels[256] = {}, runs[256] = {};
             return cblob_imageRlePtrh_histo(h, pixels, runs);
         }},
        {"projectVert", project32(&cblob_imageRlePtrh_projectVert)},
        {"projectHoriz", project32(&cblob_imageRlePtrh_projectHoriz)},
        {"projectDiag", project32(&cblob_imageRlePtrh_projectDiag)},
        {"projectAngle",
         [&](const cblob_imageRlePtrh *h) {
             cstd_vectord out;
             cstd_vectord_constructEmpty(&out);
             int32_t kind = 0;
             double origin[2], bin = 0, first = 0, last = 0;
             const int32_t status =
                 cblob_imageRlePtrh_projectAngle(h, d, &none, 1, &out, &kind, origin, &bin, &first, &last);
             cstd_vectord_destruct(&out);
             return status;
         }},
    };

    // Images that cannot be read: a null handle, a record without rows, an
    // owned record emptied by clear, and (for map only) borrowed rows.
    cblob_imageRlePtrh null, bare, cleared;
    cblob_imageRlePtrh_construct(&null);
    ASSERT_EQ(rletest::makeHandle(&bare, [](cblob_imageRle *img) { return cblob_imageRle_construct_(img); }), 0);
    const Model grey = rletest::randomModel(5, 30, 100, true, 4, 6);
    ASSERT_EQ(rletest::makeHandle(&cleared, [&](cblob_imageRle *img) { return rletest::buildFromTorv(img, grey); }),
              0);
    cblob_imageRle *clearedRecord = nullptr;
    cblob_imageRlePtrh_getImageRle(&cleared, &clearedRecord);
    ASSERT_EQ(cblob_imageRle_clear(clearedRecord), 0);
    Image borrowed(earlyEndingBinary(), Storage::Borrowed);
    const Model binary = rletest::randomModel(6, 300, 260, false, 40);
    Image packed(grey, Storage::Packed), filled(binary, Storage::Filled);
    for (const auto &[name, op] : ops) {
        SCOPED_TRACE(name);
        const bool isMap = std::string(name) == "map";
        EXPECT_EQ(op(&null), cblob_err_nullRleImage);
        EXPECT_EQ(op(&bare), isMap ? cblob_err_rleImageNoRows : cblob_err_rleImageEmpty);
        EXPECT_EQ(op(&cleared), isMap ? cblob_err_rleImageNoRows : cblob_err_rleImageEmpty);
        EXPECT_EQ(op(&borrowed.h), isMap ? cblob_err_rleImageNoRows : 0);
    }
    // The map result of a failed call is detached even when it held an image.
    cblob_imageRlePtrh out;
    cblob_imageRlePtrh_constructCopy(&out, &packed.h);
    EXPECT_EQ(cblob_imageRlePtrh_map(&null, table, 256, &out), cblob_err_nullRleImage);
    int32_t isNull = 0;
    cblob_imageRlePtrh_getIsNull(&out, &isNull);
    EXPECT_EQ(isNull, 1);
    cblob_imageRlePtrh_destruct(&out);

    // Stopping at every poll: map every 32 rows, histo every 128.
    EXPECT_EQ(cblobtest::expectCleanUnderCancellation([&] { return ops[0].second(&packed.h); }), 4);
    EXPECT_EQ(cblobtest::expectCleanUnderCancellation([&] { return ops[1].second(&filled.h); }), 3);
    EXPECT_EQ(cblobtest::expectCleanUnderCancellation([&] { return ops[2].second(&filled.h); }), 0);

    cblob_imageRlePtrh_destruct(&cleared);
    cblob_imageRlePtrh_destruct(&bare);
    cblob_imageRlePtrh_destruct(&null);
}

}  // namespace
