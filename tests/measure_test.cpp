// Blob measures: the box at an angle computed from a blob's rows against
// brute force over the corners of every pixel, medians against the sorted
// projected pixel masses, exclusion trimming exactly the amount from each
// end; the dispatcher's record, derived and cached measures, the cache keys
// and their reuse, the statuses, precomputation, the box and median
// queries, the interior flag, and clean failure under allocation faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "cblob/measure.h"
#include "results/box_at_angle.hpp"
#include "support/blob_builder.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A blob as a grid of pixel weights (0: not in the blob) at (left, top).
struct Shape {
    int32_t left = 0, top = 0;
    bool grey = false;
    std::vector<std::vector<int32_t>> w;  // w[y][x]
    int32_t width() const { return w.empty() ? 0 : static_cast<int32_t>(w[0].size()); }
    int32_t height() const { return static_cast<int32_t>(w.size()); }
};

// A pseudo-random shape: every box row and column holds a pixel (so the
// grid is the blob's box); grey weights 1 .. 9.
Shape randomShape(uint32_t seed, int32_t width, int32_t height, bool grey) {
    Shape s;
    s.left = static_cast<int32_t>(seed % 11) + 2;
    s.top = static_cast<int32_t>(seed % 7) + 1;
    s.grey = grey;
    uint32_t r = seed * 2654435761u + 7;
    auto next = [&] { return r = r * 1103515245u + 12345u, r >> 8; };
    s.w.assign(height, std::vector<int32_t>(width, 0));
    for (auto &row : s.w) {
        for (auto &p : row) p = next() % 3 ? (grey ? 1 + static_cast<int32_t>(next() % 9) : 1) : 0;
    }
    for (int32_t y = 0; y < height; ++y) s.w[y][y * width / height] = grey ? 5 : 1;
    for (int32_t x = 0; x < width; ++x) s.w[x * height / width][x] = grey ? 3 : 1;
    return s;
}

// The rows of a shape in the blob-row layout: binary rows alternate from the
// first pixel's value, grey rows carry values (0 outside the blob).
std::vector<rletest::Row> rowsOf(const Shape &s) {
    std::vector<rletest::Row> rows;
    for (const auto &line : s.w) {
        rletest::Row row;
        for (int32_t p : line) {
            const uint8_t v = static_cast<uint8_t>(s.grey ? p : (p != 0));
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

// Encoded rows in test memory, as the blob database holds them.
struct EncodedRows {
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<cblob_rleRow> entries;
    explicit EncodedRows(const Shape &s) {
        for (const rletest::Row &row : rowsOf(s)) bytes.push_back(rletest::encodeRow(row, s.grey));
        const auto rows = rowsOf(s);
        for (size_t i = 0; i < rows.size(); ++i) {
            entries.push_back({bytes[i].data(), static_cast<int32_t>(rows[i].size()), rows[i][0].value});
        }
    }
    cblob::results::BlobRows blobRows(const Shape &s) const {
        return {entries.data(), s.grey ? 1 : 0, s.left, s.top, s.width(), s.height()};
    }
};

struct Pt {
    double x, y;
};

Pt mapPoint(const cmath_xformLinear &m, double x, double y) {
    return {m.matrix.m00 * x + m.matrix.m01 * y + m.tx, m.matrix.m10 * x + m.matrix.m11 * y + m.ty};
}

// The mass-weighted mean of the pixel centres (image) and the mass.
struct Reference {
    double x = 0, y = 0, mass = 0;
};
Reference referenceOf(const Shape &s) {
    Reference r;
    for (int32_t y = 0; y < s.height(); ++y) {
        for (int32_t x = 0; x < s.width(); ++x) {
            const double w = s.w[y][x];
            r.mass += w;
            r.x += w * (s.left + x + 0.5);
            r.y += w * (s.top + y + 0.5);
        }
    }
    r.x /= r.mass;
    r.y /= r.mass;
    return r;
}

// Box coordinates (u, v) of a client point, from the reference point's image.
std::pair<double, double> boxCoords(const Shape &s, const cmath_xformLinear &m, double a, Pt p) {
    const Reference r = referenceOf(s);
    const Pt c = mapPoint(m, r.x, r.y);
    const double dx = p.x - c.x, dy = p.y - c.y;
    return {dx * std::cos(a) + dy * std::sin(a), -dx * std::sin(a) + dy * std::cos(a)};
}

// The exact box by brute force over the corners of every pixel.
struct Box {
    double uMin, uMax, vMin, vMax;
};
Box bruteBox(const Shape &s, const cmath_xformLinear &m, double a) {
    Box b{HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL};
    for (int32_t y = 0; y < s.height(); ++y) {
        for (int32_t x = 0; x < s.width(); ++x) {
            if (!s.w[y][x]) continue;
            for (int32_t c = 0; c < 4; ++c) {
                const auto [u, v] = boxCoords(s, m, a, mapPoint(m, s.left + x + c % 2, s.top + y + c / 2));
                b.uMin = std::min(b.uMin, u);
                b.uMax = std::max(b.uMax, u);
                b.vMin = std::min(b.vMin, v);
                b.vMax = std::max(b.vMax, v);
            }
        }
    }
    return b;
}

// The weighted median of the pixel centres' box coordinates along u (or v),
// by sorting the projected pixel masses.
double pointMedian(const Shape &s, const cmath_xformLinear &m, double a, bool alongU) {
    std::vector<std::pair<double, double>> pts;
    double total = 0;
    for (int32_t y = 0; y < s.height(); ++y) {
        for (int32_t x = 0; x < s.width(); ++x) {
            if (!s.w[y][x]) continue;
            const auto [u, v] = boxCoords(s, m, a, mapPoint(m, s.left + x + 0.5, s.top + y + 0.5));
            pts.push_back({alongU ? u : v, s.w[y][x]});
            total += s.w[y][x];
        }
    }
    std::sort(pts.begin(), pts.end());
    double sum = 0;
    for (const auto &[pos, w] : pts) {
        if ((sum += w) >= total / 2) return pos;
    }
    return pts.back().first;
}

// Along an axis of an axis-aligned frame every pixel spreads its mass
// evenly over the interval its corners span: the position at which `amount`
// of mass lies below (from the low end) or above (from the high end).
double trimmedPosition(const Shape &s, const cmath_xformLinear &m, double a, bool alongU, double amount,
                       bool fromLow) {
    std::vector<std::pair<double, double>> slabs;  // [lo, lo + len) with its mass, len equal for all
    double len = 0;
    for (int32_t y = 0; y < s.height(); ++y) {
        for (int32_t x = 0; x < s.width(); ++x) {
            if (!s.w[y][x]) continue;
            double lo = HUGE_VAL, hi = -HUGE_VAL;
            for (int32_t c = 0; c < 4; ++c) {
                const auto [u, v] = boxCoords(s, m, a, mapPoint(m, s.left + x + c % 2, s.top + y + c / 2));
                lo = std::min(lo, alongU ? u : v);
                hi = std::max(hi, alongU ? u : v);
            }
            len = hi - lo;
            slabs.push_back({fromLow ? lo : -hi, s.w[y][x]});
        }
    }
    // Slabs start on a grid of step len: the density is constant inside
    // each grid cell, so the cumulative mass is piecewise linear.
    std::sort(slabs.begin(), slabs.end());
    std::vector<std::pair<double, double>> cells;  // cell start, mass in the cell
    for (const auto &[lo, w] : slabs) {
        if (cells.empty() || std::fabs(cells.back().first - lo) > 1e-9) cells.push_back({lo, 0});
        cells.back().second += w;
    }
    double sum = 0;
    for (const auto &[start, mass] : cells) {
        if (sum + mass >= amount) {
            const double t = start + len * (amount - sum) / mass;
            return fromLow ? t : -t;
        }
        sum += mass;
    }
    return fromLow ? cells.back().first + len : -(cells.back().first + len);
}

cmath_xformLinear xform(double m00, double m01, double m10, double m11, double tx = 0, double ty = 0) {
    return cmath_xformLinear{{m00, m01, m10, m11}, tx, ty};
}

const cmath_xformLinear kIdentity = xform(1, 0, 0, 1);

// Transforms of every kind: identity, scale with translation, rotation,
// shear, mirror.
std::vector<cmath_xformLinear> transforms() {
    const double c = std::cos(0.3), s = std::sin(0.3);
    return {kIdentity, xform(2, 0, 0, 0.5, 10, -4), xform(c, -s, s, c, 3, 1), xform(1, 0.35, 0, 1),
            xform(-1, 0, 0, 1, 50, 0), xform(0.8, 0.1, -0.2, -1.1)};
}

std::vector<double> angles() {
    return {0, kPi / 2, kPi, -kPi / 2, 0.1, 0.7853981633974483, 1.2, 2.5, -0.4, -2.9, 1e-9, kPi / 2 + 1e-8};
}

cblob::results::BoxAtAngle box(const Shape &s, const cmath_xformLinear &m, double a, double amount) {
    const EncodedRows rows(s);
    cblob::results::BoxAtAngle out{};
    EXPECT_EQ(cblob::results::boxAtAngle(rows.blobRows(s), m, a, amount, &out), 0);
    return out;
}

// ------------------------------------------------------ box at an angle

TEST(MeasureBoxAtAngle, ExactBoxOfEveryPixelCorner) {
    int cases = 0;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        for (const bool grey : {false, true}) {
            const Shape s = randomShape(seed, 3 + static_cast<int32_t>(seed * 5 % 17), 2 + static_cast<int32_t>(seed * 3 % 13), grey);
            for (const cmath_xformLinear &m : transforms()) {
                for (const double a : angles()) {
                    const cblob::results::BoxAtAngle b = box(s, m, a, 0);
                    const Box ref = bruteBox(s, m, a);
                    const double tol = 1e-7 * (1 + s.width() + s.height());
                    ASSERT_NEAR(b.uMin, ref.uMin, tol) << "seed " << seed << " angle " << a;
                    ASSERT_NEAR(b.width, ref.uMax - ref.uMin, tol) << "seed " << seed << " angle " << a;
                    ASSERT_NEAR(b.vMin, ref.vMin, tol) << "seed " << seed << " angle " << a;
                    ASSERT_NEAR(b.height, ref.vMax - ref.vMin, tol) << "seed " << seed << " angle " << a;
                    const Reference r = referenceOf(s);
                    ASSERT_NEAR(b.mass, r.mass, 1e-9);
                    ASSERT_NEAR(b.referenceX, r.x, 1e-9);
                    ASSERT_NEAR(b.referenceY, r.y, 1e-9);
                    ++cases;
                }
            }
        }
    }
    EXPECT_GT(cases, 800);
}

TEST(MeasureBoxAtAngle, MedianSplitsTheProjectedMass) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        for (const bool grey : {false, true}) {
            const Shape s = randomShape(seed + 20, 4 + static_cast<int32_t>(seed * 7 % 19), 3 + static_cast<int32_t>(seed % 11), grey);
            for (const cmath_xformLinear &m : transforms()) {
                const double scale = std::max({std::fabs(m.matrix.m00) + std::fabs(m.matrix.m01),
                                               std::fabs(m.matrix.m10) + std::fabs(m.matrix.m11)});
                for (const double a : angles()) {
                    const cblob::results::BoxAtAngle b = box(s, m, a, 0);
                    // A bin holds the pixels whose centres lie within about a
                    // pixel's projected extent of each other.
                    EXPECT_NEAR(b.medianU, pointMedian(s, m, a, true), scale * 1.5) << seed << " " << a;
                    EXPECT_NEAR(b.medianV, pointMedian(s, m, a, false), scale * 1.5) << seed << " " << a;
                    // The client median point is the reference point moved by (u, v).
                    const Reference r = referenceOf(s);
                    const Pt c = mapPoint(m, r.x, r.y);
                    EXPECT_NEAR(b.medianX, c.x + b.medianU * std::cos(a) - b.medianV * std::sin(a), 1e-9);
                    EXPECT_NEAR(b.medianY, c.y + b.medianU * std::sin(a) + b.medianV * std::cos(a), 1e-9);
                }
            }
        }
    }
}

// Along the image axes every pixel spreads evenly over its interval, so the
// median is exact: the point with half the mass below.
TEST(MeasureBoxAtAngle, AxisMedianAndExclusionAreExact) {
    const std::vector<cmath_xformLinear> axisFrames = {kIdentity, xform(2, 0, 0, 0.5, 10, -4),
                                                       xform(-1, 0, 0, 3, 5, 5)};
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        for (const bool grey : {false, true}) {
            const Shape s = randomShape(seed + 40, 3 + static_cast<int32_t>(seed * 5 % 13), 2 + static_cast<int32_t>(seed * 3 % 9), grey);
            const double mass = referenceOf(s).mass;
            for (const cmath_xformLinear &m : axisFrames) {
                for (const double a : {0.0, kPi / 2, kPi, -kPi / 2}) {
                    for (const double amount : {0.0, 0.5, 1.0, 2.75, mass / 5, mass / 3, mass / 2}) {
                        const cblob::results::BoxAtAngle b = box(s, m, a, amount);
                        const double uLow = trimmedPosition(s, m, a, true, amount, true);
                        const double uHigh = trimmedPosition(s, m, a, true, amount, false);
                        const double vLow = trimmedPosition(s, m, a, false, amount, true);
                        const double vHigh = trimmedPosition(s, m, a, false, amount, false);
                        ASSERT_NEAR(b.uMin, std::min(uLow, uHigh), 1e-9) << seed << " " << a << " " << amount;
                        ASSERT_NEAR(b.width, std::fabs(uHigh - uLow), 1e-9) << seed << " " << a << " " << amount;
                        ASSERT_NEAR(b.vMin, std::min(vLow, vHigh), 1e-9) << seed << " " << a << " " << amount;
                        ASSERT_NEAR(b.height, std::fabs(vHigh - vLow), 1e-9) << seed << " " << a << " " << amount;
                        if (amount == 0.0) {
                            EXPECT_NEAR(b.medianU, trimmedPosition(s, m, a, true, mass / 2, true), 1e-9);
                            EXPECT_NEAR(b.medianV, trimmedPosition(s, m, a, false, mass / 2, true), 1e-9);
                        }
                    }
                }
            }
        }
    }
}

// Exclusion at any angle: no amount gives the exact box, more cuts deeper
// from both ends, more than half the mass leaves both ends on the median.
TEST(MeasureBoxAtAngle, ExclusionShrinksTowardsTheMedian) {
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        const Shape s = randomShape(seed + 60, 12, 9, seed % 2 == 0);
        const double mass = referenceOf(s).mass;
        for (const cmath_xformLinear &m : transforms()) {
            for (const double a : {0.2, 1.0, 2.2, -0.7}) {
                double lastWidth = HUGE_VAL, lastHeight = HUGE_VAL;
                const cblob::results::BoxAtAngle exact = box(s, m, a, 0);
                for (const double amount : {0.0, 1.0, 3.0, mass / 4, mass / 2}) {
                    const cblob::results::BoxAtAngle b = box(s, m, a, amount);
                    EXPECT_LE(b.width, lastWidth + 1e-9);
                    EXPECT_LE(b.height, lastHeight + 1e-9);
                    EXPECT_GE(b.uMin, exact.uMin - 1e-9);
                    EXPECT_LE(b.uMin + b.width, exact.uMin + exact.width + 1e-9);
                    lastWidth = b.width;
                    lastHeight = b.height;
                }
                const cblob::results::BoxAtAngle over = box(s, m, a, mass / 2 + 0.5);
                EXPECT_EQ(over.width, 0.0);
                EXPECT_EQ(over.height, 0.0);
                EXPECT_EQ(over.uMin, over.medianU);
                EXPECT_EQ(over.vMin, over.medianV);
                const cblob::results::BoxAtAngle wider = box(s, m, a, -1.0);
                EXPECT_GT(wider.width, exact.width);
                EXPECT_GT(wider.height, exact.height);
            }
        }
    }
}

// A single pixel: a unit square whose box at angle a has sides
// |cos a| + |sin a| (identity) centred on the pixel's centre.
TEST(MeasureBoxAtAngle, OnePixel) {
    Shape s;
    s.left = 7;
    s.top = 3;
    s.w = {{1}};
    for (const double a : angles()) {
        const cblob::results::BoxAtAngle b = box(s, kIdentity, a, 0);
        const double side = std::fabs(std::cos(a)) + std::fabs(std::sin(a));
        // Within 1e-6 of an image axis the exact axis profile stands in.
        EXPECT_NEAR(b.width, side, 1e-7) << a;
        EXPECT_NEAR(b.height, side, 1e-7) << a;
        EXPECT_NEAR(b.uMin, -side / 2, 1e-7) << a;
        EXPECT_NEAR(b.vMin, -side / 2, 1e-7) << a;
        // The median interpolates evenly inside a bin: exact along the image
        // axes, inside the pixel's box otherwise.
        const bool axis = std::fabs(std::sin(2 * a)) < 1e-6;
        EXPECT_NEAR(b.medianU, 0.0, axis ? 1e-7 : side / 2) << a;
        EXPECT_NEAR(b.medianV, 0.0, axis ? 1e-7 : side / 2) << a;
        if (axis) {
            EXPECT_NEAR(b.medianX, 7.5, 1e-7) << a;
            EXPECT_NEAR(b.medianY, 3.5, 1e-7) << a;
        }
    }
}

TEST(MeasureBoxAtAngle, RowsWithoutWeightAreRefused) {
    Shape s;
    s.w = {{0, 0}};
    const EncodedRows rows(s);
    cblob::results::BoxAtAngle out{};
    EXPECT_EQ(cblob::results::boxAtAngle(rows.blobRows(s), kIdentity, 0.3, 0, &out), cblob_err_rleImageEmpty);
}

TEST(MeasureBoxAtAngle, CleanUnderAllocationFailures) {
    const Shape s = randomShape(3, 9, 6, true);
    const EncodedRows rows(s);
    const auto report = cblobtest::expectCleanUnderAllocationFailures([&] {
        cblob::results::BoxAtAngle out{};
        return cblob::results::boxAtAngle(rows.blobRows(s), kIdentity, 0.5, 1.0, &out);
    });
    EXPECT_GT(report.failuresInjected, 0);
}

// ------------------------------------------------------------ dispatcher

// A result set whose blobs are the shapes (label i + 1 is shape i), all
// top-level, built as the scan and pipeline build them; with a blob
// database holding each blob's rows when `database`. Connectivity type 1,
// scale value 4 (fillResultSet).
int32_t buildShapes(cblob_resultSet *rs, const std::vector<Shape> &shapes, bool perBlobXforms, bool database) {
    BLOBTEST_TRY(blobtest::buildTree(rs, blobtest::Tree(shapes.size(), -1), perBlobXforms));
    const std::vector<cblob_blob *> blobs = blobtest::blobsOf(rs);
    for (cblob_blob *b : blobs) {
        const Shape &s = shapes[b->label - 1];
        const Reference r = referenceOf(s);
        const cmath_matrix &m = b->clientFromImage->matrix;
        b->boxLeft = s.left;
        b->boxTop = s.top;
        b->boxWidth = s.width();
        b->boxHeight = s.height();
        b->boxCenterX = s.left + s.width() / 2.0;
        b->boxCenterY = s.top + s.height() / 2.0;
        b->boxAspect = static_cast<double>(s.height()) / s.width();
        b->isGrey = s.grey ? 1 : 0;
        b->area = r.mass * std::fabs(m.m00 * m.m11 - m.m01 * m.m10);
        const Pt c = mapPoint(*b->clientFromImage, r.x, r.y);
        b->centerOfMassX = c.x;
        b->centerOfMassY = c.y;
        b->angle = 0.25 * b->label - 0.6;
    }
    if (database) {
        BLOBTEST_TRY(blobtest::attachNewDatabase(rs));
        BLOBTEST_TRY(cstd_vector_cblob_imageRle_resize(&rs->blobDb->images, rs->numBlobs));
        for (cblob_blob *b : blobs) {
            const Shape &s = shapes[b->label - 1];
            BLOBTEST_TRY(blobtest::addBlobRows(rs->blobDb, b, rowsOf(s), s.grey, false));
        }
    }
    return blobtest::fillResultSet(rs);
}

std::vector<Shape> sampleShapes() {
    std::vector<Shape> shapes;
    for (uint32_t i = 0; i < 5; ++i) shapes.push_back(randomShape(i + 3, 4 + static_cast<int32_t>(i * 3), 3 + static_cast<int32_t>(i), i % 2 == 1));
    Shape one;
    one.left = 9;
    one.top = 4;
    one.w = {{1}};
    shapes.push_back(one);
    return shapes;
}

// A built result set, destroyed at the end of the test.
struct Built {
    cblob_resultSet rs;
    std::vector<Shape> shapes;
    explicit Built(bool perBlobXforms = true, bool database = true, std::vector<Shape> s = sampleShapes())
        : shapes(std::move(s)) {
        EXPECT_EQ(cblob_resultSet_construct(&rs), 0);
        EXPECT_EQ(buildShapes(&rs, shapes, perBlobXforms, database), 0);
    }
    ~Built() { cblob_resultSet_destruct(&rs); }
    Built(const Built &) = delete;
    Built &operator=(const Built &) = delete;
    cblob_blob *blob(int32_t label) const { return rs.allBlobs[label - 1]; }
};

double measure(cblob_blob *b, int32_t code, int32_t useExclusion = 0) {
    double v = NAN;
    EXPECT_EQ(cblob_blob_getMeasure(b, code, useExclusion, &v), 0) << "code " << code;
    return v;
}

double measureAt(cblob_blob *b, int32_t code, double angle, int32_t useExclusion = 0) {
    double v = NAN;
    EXPECT_EQ(cblob_blob_getMeasureAtAngle(b, code, useExclusion, &v, &angle), 0) << "code " << code;
    return v;
}

int32_t statusOf(cblob_blob *b, int32_t code, double angle = 0.0, int32_t useExclusion = 0) {
    double v = 0;
    return cblob_blob_getMeasureAtAngle(b, code, useExclusion, &v, &angle);
}

TEST(MeasureDispatch, RecordMeasuresAreTheFields) {
    using Field = std::function<double(const cblob_blob &)>;
    const std::vector<std::pair<int32_t, Field>> table = {
        {1, [](const cblob_blob &b) { return b.colour; }},
        {2, [](const cblob_blob &b) { return b.area; }},
        {5, [](const cblob_blob &b) { return b.numChildren; }},
        {6, [](const cblob_blob &b) { return b.centerOfMassX; }},
        {7, [](const cblob_blob &b) { return b.centerOfMassY; }},
        {8, [](const cblob_blob &b) { return b.inertiaX; }},
        {9, [](const cblob_blob &b) { return b.inertiaY; }},
        {10, [](const cblob_blob &b) { return b.inertiaMin; }},
        {11, [](const cblob_blob &b) { return b.inertiaMax; }},
        {12, [](const cblob_blob &b) { return b.elongation; }},
        {13, [](const cblob_blob &b) { return b.angle; }},
        {17, [](const cblob_blob &b) { return b.boxCenterX; }},
        {18, [](const cblob_blob &b) { return b.boxCenterY; }},
        {19, [](const cblob_blob &b) { return b.boxLeft; }},
        {20, [](const cblob_blob &b) { return b.boxLeft + b.boxWidth; }},
        {21, [](const cblob_blob &b) { return b.boxTop; }},
        {22, [](const cblob_blob &b) { return b.boxTop + b.boxHeight; }},
        {23, [](const cblob_blob &b) { return b.boxWidth; }},
        {24, [](const cblob_blob &b) { return b.boxHeight; }},
        {25, [](const cblob_blob &b) { return b.boxAspect; }},
    };
    Built built;
    for (int32_t label = 1; label <= built.rs.numBlobs; ++label) {
        cblob_blob *b = built.blob(label);
        for (const auto &[code, field] : table) {
            EXPECT_EQ(measure(b, code), field(*b)) << "code " << code;
            EXPECT_EQ(measureAt(b, code, 1.3, 1), field(*b)) << "code " << code;
        }
        b->momentsValid = 0;
        for (const auto &[code, field] : table) {
            if (code >= 6 && code <= 13) {
                EXPECT_EQ(statusOf(b, code), cblob_err_measureUnavailable) << code;
            } else {
                EXPECT_EQ(measure(b, code), field(*b)) << "code " << code;
            }
        }
    }
}

TEST(MeasureDispatch, CodesOutsideTheTableAndKeysBeforeTheirGroup) {
    Built built;
    cblob_blob *b = built.blob(2);
    for (const int32_t code : {0, -1, 51, 52, 1000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(statusOf(b, code), cblob_err_badMeasure) << code;
    }
    for (const int32_t code : {48, 49, 50}) EXPECT_EQ(statusOf(b, code), cblob_err_badMeasure) << code;
    measureAt(b, 30, 0.4);
    EXPECT_EQ(measure(b, 48), 0.4);
    EXPECT_EQ(measure(b, 49), 0.0);
    EXPECT_EQ(statusOf(b, 50), cblob_err_badMeasure);
    EXPECT_EQ(statusOf(built.blob(3), 48), cblob_err_badMeasure);  // another blob: not yet
    measure(b, 41);
    EXPECT_EQ(measure(b, 50), 0.0);
}

// The angle group through the dispatcher against brute force, with per-blob
// (shearing) and shared (scaling) transforms.
TEST(MeasureDispatch, AngleAndPrincipalBoxesMatchBruteForce) {
    for (const bool perBlob : {true, false}) {
        Built built(perBlob);
        for (int32_t label = 1; label <= built.rs.numBlobs; ++label) {
            cblob_blob *b = built.blob(label);
            const Shape &s = built.shapes[label - 1];
            for (const double a : {0.0, 0.3, -1.1, kPi / 2, 2.8}) {
                const Box ref = bruteBox(s, *b->clientFromImage, a);
                EXPECT_NEAR(measureAt(b, 30, a), ref.uMin, 1e-7);
                EXPECT_NEAR(measureAt(b, 31, a), ref.uMax, 1e-7);
                EXPECT_NEAR(measureAt(b, 32, a), ref.vMin, 1e-7);
                EXPECT_NEAR(measureAt(b, 33, a), ref.vMax, 1e-7);
                EXPECT_NEAR(measureAt(b, 34, a), ref.uMax - ref.uMin, 1e-7);
                EXPECT_NEAR(measureAt(b, 35, a), ref.vMax - ref.vMin, 1e-7);
            }
            const Box principal = bruteBox(s, *b->clientFromImage, b->angle);
            EXPECT_NEAR(measure(b, 41), principal.uMin, 1e-7);
            EXPECT_NEAR(measure(b, 42), principal.uMax, 1e-7);
            EXPECT_NEAR(measure(b, 43), principal.vMin, 1e-7);
            EXPECT_NEAR(measure(b, 44), principal.vMax, 1e-7);
            EXPECT_NEAR(measure(b, 45), principal.uMax - principal.uMin, 1e-7);
            EXPECT_NEAR(measure(b, 46), principal.vMax - principal.vMin, 1e-7);
            EXPECT_EQ(measure(b, 37), measureAt(b, 26, b->angle));
            EXPECT_EQ(measure(b, 38), measureAt(b, 27, b->angle));
        }
    }
}

TEST(MeasureDispatch, DerivedMeasuresFollowTheirFormulas) {
    Built built;
    for (int32_t label = 1; label <= built.rs.numBlobs; ++label) {
        cblob_blob *b = built.blob(label);
        for (const double a : {0.0, 0.6, -2.0}) {
            for (const int32_t ex : {0, 1}) {
                ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, 0, 1.5, &a), 0);
                auto m = [&](int32_t code) { return measureAt(b, code, a, ex); };
                EXPECT_EQ(m(31), m(30) + m(34));
                EXPECT_EQ(m(33), m(32) + m(35));
                // A blob cut to no extent has the ratio 0 / 0.
                auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
                EXPECT_TRUE(same(m(36), m(35) / m(34)));
                EXPECT_TRUE(same(measure(b, 36, ex), m(36)));  // the default angle is a
                EXPECT_NEAR(m(28), b->centerOfMassX + (m(30) + m(34) / 2) * std::cos(a) - (m(32) + m(35) / 2) * std::sin(a), 1e-12);
                EXPECT_NEAR(m(29), b->centerOfMassY + (m(30) + m(34) / 2) * std::sin(a) + (m(32) + m(35) / 2) * std::cos(a), 1e-12);
                const double t = b->angle;
                EXPECT_EQ(m(42), m(41) + m(45));
                EXPECT_EQ(m(44), m(43) + m(46));
                EXPECT_TRUE(same(m(47), m(46) / m(45)));
                EXPECT_NEAR(m(39), b->centerOfMassX + (m(41) + m(45) / 2) * std::cos(t) - (m(43) + m(46) / 2) * std::sin(t), 1e-12);
                EXPECT_NEAR(m(40), b->centerOfMassY + (m(41) + m(45) / 2) * std::sin(t) + (m(43) + m(46) / 2) * std::cos(t), 1e-12);
            }
        }
    }
}

TEST(MeasureDispatch, OnePixelBlob) {
    Built built(false);
    cblob_blob *b = built.blob(6);  // the one-pixel shape at (9, 4), the shared scaling transform
    const cmath_xformLinear &m = *b->clientFromImage;
    const Pt centre = mapPoint(m, 9.5, 4.5);
    EXPECT_NEAR(measureAt(b, 26, 0.0), centre.x, 1e-12);
    EXPECT_NEAR(measureAt(b, 27, 0.0), centre.y, 1e-12);
    EXPECT_NEAR(measureAt(b, 28, 0.0), centre.x, 1e-12);
    EXPECT_NEAR(measureAt(b, 29, 0.0), centre.y, 1e-12);
    EXPECT_NEAR(measureAt(b, 34, 0.0), std::fabs(m.matrix.m00) + std::fabs(m.matrix.m01), 1e-12);
    EXPECT_NEAR(measureAt(b, 35, 0.0), std::fabs(m.matrix.m10) + std::fabs(m.matrix.m11), 1e-12);
    // Any exclusion of a one-pixel blob passes half its mass: no extent left.
    const double angle = 0.0;
    ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, 2, 0.75, &angle), 0);
    EXPECT_EQ(measure(b, 34, 1), 0.0);
    EXPECT_NEAR(measure(b, 30, 1), measure(b, 26, 1) - centre.x, 1e-12);
}

TEST(MeasureDispatch, WithoutMomentsTheMomentMeasuresAreRefused) {
    Built built;
    cblob_blob *b = built.blob(3);
    b->momentsValid = 0;
    for (int32_t code : {6, 7, 8, 9, 10, 11, 12, 13, 28, 29, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47}) {
        EXPECT_EQ(statusOf(b, code), cblob_err_measureUnavailable) << code;
    }
    // The angle group takes the centre of mass from the runs.
    for (int32_t code : {26, 27, 30, 31, 32, 33, 34, 35, 36}) EXPECT_EQ(statusOf(b, code), 0) << code;
}

TEST(MeasureDispatch, BoundaryGroupAndWholeImageMode) {
    Built built;
    cblob_blob *b = built.blob(1);
    for (int32_t code : {3, 4, 14, 15}) EXPECT_EQ(statusOf(b, code), 0) << code;
    built.rs.postProcessing->connectivityType = 2;
    for (int32_t code : {3, 4, 14, 15}) EXPECT_EQ(statusOf(b, code), cblob_err_angleMeasureNotForMode) << code;
    EXPECT_EQ(statusOf(b, 0), cblob_err_badMeasure);
    EXPECT_EQ(statusOf(b, 30), 0);
}

TEST(MeasureDispatch, BoxMeasuresWithoutRunsGiveRleImageEmpty) {
    Built built(true, false);
    cblob_blob *b = built.blob(1);
    for (int32_t code : {26, 27, 28, 30, 34, 36, 37, 41, 47}) EXPECT_EQ(statusOf(b, code), cblob_err_rleImageEmpty) << code;
    EXPECT_EQ(statusOf(b, 2), 0);
}

// --------------------------------------------------------------- cache

// Reads a measure with every allocation failing: it succeeds only when the
// cached value answers (a computation allocates its profiles).
bool readsFromCache(cblob_blob *b, int32_t code, double angle, int32_t useExclusion, double *value = nullptr) {
    double v = 0;
    csys_memory_failAfter(1, 1);
    const int32_t status = cblob_blob_getMeasureAtAngle(b, code, useExclusion, &v, &angle);
    csys_memory_failAfter(0, 0);
    EXPECT_TRUE(status == 0 || status == csys_err_outOfMemory) << cblob_statusName(status);
    if (value && status == 0) *value = v;
    return status == 0;
}

TEST(MeasureCache, OneComputationPerAngleAndAmount) {
    Built built;
    cblob_blob *b = built.blob(2);
    const double first = measureAt(b, 30, 0.4);
    double again = 0;
    EXPECT_TRUE(readsFromCache(b, 30, 0.4, 0, &again));
    EXPECT_EQ(again, first);
    for (int32_t code : {26, 27, 28, 29, 31, 32, 33, 34, 35, 36, 48, 49}) EXPECT_TRUE(readsFromCache(b, code, 0.4, 0)) << code;
    // Another angle computes again (here it fails: the first angle's values stay).
    EXPECT_FALSE(readsFromCache(b, 30, 0.9, 0));
    EXPECT_TRUE(readsFromCache(b, 30, 0.4, 0, &again));
    EXPECT_EQ(again, first);
    // Computed at the new angle, the old one is gone.
    measureAt(b, 34, 0.9);
    EXPECT_TRUE(readsFromCache(b, 30, 0.9, 0));
    EXPECT_FALSE(readsFromCache(b, 30, 0.4, 0));
    // Other blobs have their own entries.
    EXPECT_FALSE(readsFromCache(built.blob(3), 30, 0.9, 0));
    // The principal group is cached apart from the angle group.
    measure(b, 45);
    EXPECT_TRUE(readsFromCache(b, 41, 0.0, 0));
    EXPECT_TRUE(readsFromCache(b, 30, 0.9, 0));
    // The angle box at the principal angle is the principal box, and the
    // other way round: the second group is taken from the first.
    double angleBox = 0;
    EXPECT_TRUE(readsFromCache(b, 30, b->angle, 0, &angleBox));
    EXPECT_EQ(angleBox, measure(b, 41));
    cblob_blob *c = built.blob(3);
    const double width = measureAt(c, 34, c->angle);
    EXPECT_TRUE(readsFromCache(c, 45, 0.0, 0, &angleBox));
    EXPECT_EQ(angleBox, width);
}

TEST(MeasureCache, ExclusionChangesRecomputeOnlyWithExclusionOn) {
    Built built;
    cblob_blob *b = built.blob(4);
    const double angle = 0.3;
    ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, 2, 1.0, &angle), 0);
    const double exact = measure(b, 34, 0);
    const double cut = measure(b, 34, 1);
    EXPECT_LT(cut, exact);
    EXPECT_TRUE(readsFromCache(b, 34, angle, 1));   // the last computation: amount 1
    EXPECT_FALSE(readsFromCache(b, 34, angle, 0));  // amount 0 needs its own
    measure(b, 34, 0);
    ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, 2, 2.0, &angle), 0);
    double value = 0;
    EXPECT_TRUE(readsFromCache(b, 34, angle, 0, &value));  // key 0 still applies
    EXPECT_EQ(value, exact);
    EXPECT_FALSE(readsFromCache(b, 34, angle, 1));
    EXPECT_LT(measure(b, 34, 1), cut);
    // The principal group's key is the amount alone.
    measure(b, 45, 1);
    EXPECT_TRUE(readsFromCache(b, 45, 2.0, 1));  // the angle argument does not matter
    ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, 2, 3.0, &angle), 0);
    EXPECT_FALSE(readsFromCache(b, 45, 0.0, 1));
}

TEST(MeasureCache, DefaultAngleFollowsTheSetting) {
    Built built;
    cblob_blob *b = built.blob(1);
    for (const double angle : {0.0, 0.8, -1.7}) {
        ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, 0, 0.0, &angle), 0);
        for (int32_t code = 26; code <= 36; ++code) EXPECT_EQ(measure(b, code), measureAt(b, code, angle)) << code;
        EXPECT_EQ(measure(b, 48), angle);
    }
}

// The amount each mode gives, as key 49, with and without the weight scale.
TEST(MeasureCache, ExclusionAmountOfEveryMode) {
    Built built;
    cblob_blob *b = built.blob(3);
    const cmath_matrix &m = b->clientFromImage->matrix;
    const double det = std::fabs(m.m00 * m.m11 - m.m01 * m.m10);
    const double angle = 0.2;
    struct Case {
        int32_t mode;
        double value, pixels;
    } cases[] = {{0, 1.5, 1.5}, {0, -2.0, -2.0}, {1, 3.0, 3.0 / det}, {2, 0.75, 0.75},
                 {3, 10.0, 10.0 * 0.01 * b->area / det}, {9, 4.0, 4.0}};
    for (const int32_t type : {1, 0}) {
        built.rs.postProcessing->connectivityType = type;
        const double scale = type == 1 ? 1.0 : built.rs.postProcessing->weightScale;
        for (const Case &c : cases) {
            ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, c.mode, c.value, &angle), 0);
            measure(b, 30, 1);
            EXPECT_DOUBLE_EQ(measure(b, 49), c.pixels * scale) << c.mode;
            measure(b, 30, 0);
            EXPECT_EQ(measure(b, 49), 0.0);
        }
    }
    EXPECT_EQ(built.rs.postProcessing->weightScale, 0.25);
}

// Allocation failures at every step of every cached computation: the
// failure is returned and the values stored before stay valid (slots made
// before the failure stay with the result set; leaks are checked over the
// whole set's life below).
TEST(MeasureCache, FailuresKeepStoredValues) {
    Built built;
    cblob_blob *b = built.blob(5);
    const double at04 = measureAt(b, 30, 0.4);
    for (const int32_t code : {41, 16, 30}) {
        for (int64_t n = 1;; ++n) {
            double v = 0;
            const double angle = 1.1;
            csys_memory_failAfter(n, 0);
            const int32_t status = cblob_blob_getMeasureAtAngle(b, code, 0, &v, &angle);
            const int64_t injected = csys_memory_getInjectedFailureCount();
            csys_memory_failAfter(0, 0);
            if (injected == 0) {
                EXPECT_EQ(status, 0);
                break;
            }
            EXPECT_EQ(status, csys_err_outOfMemory) << code << " allocation " << n;
            double kept = 0;
            EXPECT_TRUE(readsFromCache(b, 30, 0.4, 0, &kept)) << code << " allocation " << n;
            EXPECT_EQ(kept, at04);
        }
    }
    EXPECT_NE(measureAt(b, 30, 1.1), at04);
}

// ----------------------------------------------------------- precompute

TEST(MeasurePrecompute, FillsTheAskedGroupsOfEveryBlob) {
    Built built;
    const double angle = 0.5;
    ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, 2, 1.0, &angle), 0);
    cstd_vector_cblob_measure codes;
    ASSERT_EQ(cstd_vector_cblob_measure_constructEmpty(&codes), 0);
    for (const cblob_measure c : {1, 14, 16, 33, 99}) ASSERT_EQ(cstd_vector_cblob_measure_pushBack(&codes, &c), 0);
    ASSERT_EQ(cblob_resultSet_precomputeMeasures(&built.rs, &codes), 0);
    for (int32_t label = 1; label <= built.rs.numBlobs; ++label) {
        cblob_blob *b = built.blob(label);
        for (const int32_t code : {26, 27, 30, 32, 34, 35}) EXPECT_TRUE(readsFromCache(b, code, angle, 1)) << code;
        EXPECT_FALSE(readsFromCache(b, 41, 0, 1));
        EXPECT_EQ(measure(b, 49), 1.0);
    }
    const cblob_measure principal = 47;
    ASSERT_EQ(cstd_vector_cblob_measure_assignElements(&codes, &principal, 1), 0);
    ASSERT_EQ(cblob_resultSet_precomputeMeasures(&built.rs, &codes), 0);
    for (int32_t label = 1; label <= built.rs.numBlobs; ++label) {
        EXPECT_TRUE(readsFromCache(built.blob(label), 45, 0, 1));
    }
    // Everything cached with matching keys: a second call computes nothing.
    csys_memory_failAfter(1, 1);
    EXPECT_EQ(cblob_resultSet_precomputeMeasures(&built.rs, &codes), 0);
    csys_memory_failAfter(0, 0);
    cstd_vector_cblob_measure_destruct(&codes);
}

TEST(MeasurePrecompute, Statuses) {
    auto precompute = [](cblob_resultSet *rs, std::vector<cblob_measure> list) {
        cstd_vector_cblob_measure codes;
        cstd_vector_cblob_measure_constructEmpty(&codes);
        for (const cblob_measure c : list) cstd_vector_cblob_measure_pushBack(&codes, &c);
        const int32_t status = cblob_resultSet_precomputeMeasures(rs, &codes);
        cstd_vector_cblob_measure_destruct(&codes);
        return status;
    };
    Built withDb;
    EXPECT_EQ(precompute(&withDb.rs, {}), 0);
    EXPECT_EQ(precompute(&withDb.rs, {30, 3}), 0);
    EXPECT_EQ(precompute(&withDb.rs, {14}), 0);
    withDb.blob(2)->momentsValid = 0;
    EXPECT_EQ(precompute(&withDb.rs, {40}), cblob_err_measureUnavailable);
    EXPECT_TRUE(readsFromCache(withDb.blob(1), 41, 0, 0));  // blob 1 came before the failure
    withDb.rs.postProcessing->connectivityType = 2;
    EXPECT_EQ(precompute(&withDb.rs, {15}), cblob_err_measureNotForMode);
    Built noDb(true, false);
    EXPECT_EQ(precompute(&noDb.rs, {30}), cblob_err_rleImageEmpty);
    EXPECT_EQ(precompute(&noDb.rs, {4}), cblob_err_rleImageEmpty);
    noDb.rs.postProcessing->connectivityType = 2;
    EXPECT_EQ(precompute(&noDb.rs, {4}), cblob_err_measureNotForMode);
}

TEST(MeasurePrecompute, CleanUnderAllocationFailuresAndStoredValuesStayValid) {
    const std::vector<Shape> shapes = sampleShapes();
    const double angle = -0.4;
    Built reference;
    ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&reference.rs, 0, 0.0, &angle), 0);
    auto run = [&](std::vector<std::vector<double>> *cached) -> int32_t {
        cblob_resultSet rs;
        BLOBTEST_TRY(cblob_resultSet_construct(&rs));
        blobtest::Finally end{[&] { cblob_resultSet_destruct(&rs); }};
        BLOBTEST_TRY(buildShapes(&rs, shapes, true, true));
        BLOBTEST_TRY(cblob_resultSet_setExcludeExtrema(&rs, 0, 0.0, &angle));
        cstd_vector_cblob_measure codes;
        BLOBTEST_TRY(cstd_vector_cblob_measure_constructEmpty(&codes));
        const cblob_measure list[] = {30, 41};
        int32_t status = cstd_vector_cblob_measure_assignElements(&codes, list, 2);
        if (!CBLOB_FAILED(status)) status = cblob_resultSet_precomputeMeasures(&rs, &codes);
        cstd_vector_cblob_measure_destruct(&codes);
        if (cached) {
            for (int32_t label = 1; label <= rs.numBlobs; ++label) {
                double v = 0;
                const int32_t code = 30;
                cached->push_back({});
                if (readsFromCache(rs.allBlobs[label - 1], code, angle, 0, &v)) cached->back().push_back(v);
            }
        }
        return status;
    };
    cblobtest::expectCleanUnderAllocationFailures([&] { return run(nullptr); });
    // Failing the n-th allocation of precompute alone.
    for (int64_t n = 1; n < 40; ++n) {
        std::vector<std::vector<double>> cached;
        cblob_resultSet rs;
        ASSERT_EQ(cblob_resultSet_construct(&rs), 0);
        ASSERT_EQ(buildShapes(&rs, shapes, true, true), 0);
        ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&rs, 0, 0.0, &angle), 0);
        cstd_vector_cblob_measure codes;
        ASSERT_EQ(cstd_vector_cblob_measure_constructEmpty(&codes), 0);
        const cblob_measure list[] = {30, 41};
        ASSERT_EQ(cstd_vector_cblob_measure_assignElements(&codes, list, 2), 0);
        csys_memory_failAfter(n, 0);
        const int32_t status = cblob_resultSet_precomputeMeasures(&rs, &codes);
        const int64_t injected = csys_memory_getInjectedFailureCount();
        csys_memory_failAfter(0, 0);
        EXPECT_EQ(status, injected ? csys_err_outOfMemory : 0);
        for (int32_t label = 1; label <= rs.numBlobs; ++label) {
            double v = 0;
            if (readsFromCache(rs.allBlobs[label - 1], 30, angle, 0, &v)) {
                EXPECT_EQ(v, measureAt(reference.blob(label), 30, angle)) << n << " " << label;
            }
        }
        cstd_vector_cblob_measure_destruct(&codes);
        cblob_resultSet_destruct(&rs);
        if (!injected) break;
    }
}

// ---------------------------------------------------------- box queries

TEST(MeasureBoxQueries, RectangleCentreAspectAndMedian) {
    Built built;
    for (int32_t label = 1; label <= built.rs.numBlobs; ++label) {
        cblob_blob *b = built.blob(label);
        for (const double a : {0.0, 0.45, -2.2}) {
            for (const int32_t ex : {0, 1}) {
                ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&built.rs, 0, 0.25, &a), 0);
                cmath_shapeAffineRect rect{};
                double center[2] = {0, 0}, aspect = 0;
                ASSERT_EQ(cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema(b, ex, &a, &rect, center, &aspect), 0);
                EXPECT_EQ(center[0], measureAt(b, 28, a, ex));
                EXPECT_EQ(center[1], measureAt(b, 29, a, ex));
                EXPECT_EQ(rect.centerX, center[0]);
                EXPECT_EQ(rect.centerY, center[1]);
                EXPECT_EQ(rect.sideX, measureAt(b, 34, a, ex));
                EXPECT_EQ(rect.sideY, measureAt(b, 35, a, ex));
                EXPECT_NEAR(rect.axisXx, std::cos(a), 1e-12);
                EXPECT_NEAR(rect.axisXy, std::sin(a), 1e-12);
                EXPECT_NEAR(rect.axisYx, -std::sin(a), 1e-12);
                EXPECT_EQ(aspect, measureAt(b, 35, a, ex) / measureAt(b, 34, a, ex));
                ASSERT_EQ(cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema(b, ex, &a, nullptr, nullptr, nullptr), 0);
                cmath_shapeAffineRect shortForm{};
                ASSERT_EQ(cblob_blob_getBoundingBoxAndExcludeExtrema(b, ex, &shortForm), 0);  // default angle a
                EXPECT_EQ(shortForm.sideX, rect.sideX);
                EXPECT_EQ(shortForm.centerY, rect.centerY);
            }
            cmath_shapeAffineRect plain{}, atAngle{};
            ASSERT_EQ(cblob_blob_getBoundingBox(b, &plain), 0);
            ASSERT_EQ(cblob_blob_getBoundingBoxAtAngle(b, &a, &atAngle), 0);
            EXPECT_EQ(plain.sideX, atAngle.sideX);
            EXPECT_EQ(plain.sideX, measureAt(b, 34, a, 0));
            // The rectangle's corners are the brute-force box's.
            const Box ref = bruteBox(built.shapes[label - 1], *b->clientFromImage, a);
            EXPECT_NEAR(plain.sideX, ref.uMax - ref.uMin, 1e-7);
            EXPECT_NEAR(plain.sideY, ref.vMax - ref.vMin, 1e-7);
            double median[2] = {0, 0};
            ASSERT_EQ(cblob_blob_getMedian(b, &a, median), 0);
            EXPECT_EQ(median[0], measureAt(b, 26, a));
            EXPECT_EQ(median[1], measureAt(b, 27, a));
        }
        cmath_xformLinear x{};
        ASSERT_EQ(cblob_blob_getClientFromImageXform(b, &x), 0);
        EXPECT_EQ(std::memcmp(&x, b->clientFromImage, sizeof(x)), 0);
    }
}

TEST(MeasureBoxQueries, FailuresWriteNothing) {
    Built built(true, false);
    cblob_blob *b = built.blob(1);
    cmath_shapeAffineRect rect{};
    rect.sideX = 123;
    double center[2] = {7, 7}, aspect = 9, median[2] = {5, 5};
    const double a = 0.1;
    EXPECT_EQ(cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema(b, 0, &a, &rect, center, &aspect), cblob_err_rleImageEmpty);
    EXPECT_EQ(cblob_blob_getBoundingBox(b, &rect), cblob_err_rleImageEmpty);
    EXPECT_EQ(cblob_blob_getMedian(b, &a, median), cblob_err_rleImageEmpty);
    EXPECT_EQ(rect.sideX, 123);
    EXPECT_EQ(center[0], 7);
    EXPECT_EQ(aspect, 9);
    EXPECT_EQ(median[1], 5);
}

// ------------------------------------------------------------- interior

int32_t interior(cblob_blob *b) {
    int32_t v = -1;
    EXPECT_EQ(cblob_blob_getIsInterior(b, &v), 0);
    return v;
}

TEST(MeasureInterior, WindowEdgesAndMask) {
    {
        Built built;  // run window (0, 0) 64 x 48; no shape reaches an edge
        for (int32_t label = 1; label <= built.rs.numBlobs; ++label) EXPECT_EQ(interior(built.blob(label)), 1);
        EXPECT_EQ(measure(built.blob(1), 16), 1.0);
    }
    for (int32_t edge = 0; edge < 4; ++edge) {
        Built built;
        cblob_blob *b = built.blob(2);
        if (edge == 0) b->boxLeft = 0;
        if (edge == 1) b->boxTop = 0;
        if (edge == 2) b->boxLeft = 64 - b->boxWidth;
        if (edge == 3) b->boxTop = 48 - b->boxHeight;
        EXPECT_EQ(interior(b), 0) << edge;
        EXPECT_EQ(measure(b, 16), 0.0);
        EXPECT_EQ(interior(built.blob(3)), 1);
    }
    // A mask: the full window keeps every blob interior; a gap next to a
    // blob pixel, or a mask edge in line with a blob run, does not.
    auto withMask = [](Built &built, const std::function<uint8_t(int32_t, int32_t)> &on) {
        rletest::Model m;
        m.width = 64;
        m.grey = false;
        for (int32_t y = 0; y < 48; ++y) {
            rletest::Row row;
            for (int32_t x = 0; x < 64; ++x) {
                const uint8_t v = on(x, y);
                if (!row.empty() && row.back().value == v) {
                    ++row.back().length;
                } else {
                    row.push_back({v, 1});
                }
            }
            m.rows.push_back(row);
        }
        ASSERT_EQ(rletest::makeHandle(&built.rs.maskImage, [&](cblob_imageRle *img) { return rletest::buildByFilling(img, m); }), 0);
    };
    {
        Built built;
        withMask(built, [](int32_t, int32_t) { return uint8_t{1}; });
        for (int32_t label = 1; label <= built.rs.numBlobs; ++label) EXPECT_EQ(interior(built.blob(label)), 1) << label;
    }
    {
        Built built;
        const Shape &s = built.shapes[0];
        int32_t x0 = 0;
        while (!s.w[0][x0]) ++x0;
        const int32_t gx = s.left + x0, gy = s.top - 1;
        withMask(built, [&](int32_t x, int32_t y) { return static_cast<uint8_t>(x == gx && y == gy ? 0 : 1); });
        EXPECT_EQ(interior(built.blob(1)), 0);
    }
    {
        Built built;
        const Shape &s = built.shapes[0];
        int32_t x0 = 0;
        while (!s.w[0][x0]) ++x0;
        // The mask's own row starts where the blob's first run starts.
        const int32_t gx = s.left + x0 - 1, gy = s.top;
        withMask(built, [&](int32_t x, int32_t y) { return static_cast<uint8_t>(x == gx && y == gy ? 0 : 1); });
        EXPECT_EQ(interior(built.blob(1)), 0);
    }
}

// ------------------------------------------------------------ end to end

// Through a run that keeps per-blob images: the boxes of every blob against
// brute force over its pixels (taken from the blob's own image).
TEST(MeasureEndToEnd, RunWithBlobImages) {
    std::mt19937 rng(7);
    const int width = 60, height = 40;
    runtest::GreyImage image(width, height, 8, runtest::randomValues(rng, width, height, 8, 0.45, 3), 2, 3);
    runtest::Params params;
    runtest::Results results;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
    params.p.keepBlobImages = 1;
    ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
    ASSERT_GT(results.rs.numBlobs, 3);
    cstd_vector_cblob_measure codes;
    ASSERT_EQ(cstd_vector_cblob_measure_constructEmpty(&codes), 0);
    const cblob_measure list[] = {30, 45};
    ASSERT_EQ(cstd_vector_cblob_measure_assignElements(&codes, list, 2), 0);
    ASSERT_EQ(cblob_resultSet_precomputeMeasures(&results.rs, &codes), 0);
    cstd_vector_cblob_measure_destruct(&codes);
    for (int32_t i = 0; i < results.rs.numBlobs; ++i) {
        cblob_blob *b = results.rs.allBlobs[i];
        // The blob's pixels from its rendered image.
        cimg_image out;
        ASSERT_EQ(cimg_image_constructUnbound(&out, 8), 0);
        ASSERT_EQ(cblob_blob_getBlobImage(b, &out), 0);
        Shape s;
        s.left = b->boxLeft;
        s.top = b->boxTop;
        s.w.assign(b->boxHeight, std::vector<int32_t>(b->boxWidth, 0));
        for (int32_t y = 0; y < b->boxHeight; ++y) {
            for (int32_t x = 0; x < b->boxWidth; ++x) {
                uint8_t *pel = nullptr;
                ASSERT_EQ(cimg_image_pointToPel_internal(&out, b->boxLeft + x, b->boxTop + y, &pel), 0);
                s.w[y][x] = *pel ? 1 : 0;
            }
        }
        cimg_image_destruct(&out);
        for (const double a : {0.0, 0.7, 2.0}) {
            const Box ref = bruteBox(s, *b->clientFromImage, a);
            EXPECT_NEAR(measureAt(b, 30, a), ref.uMin, 1e-6);
            EXPECT_NEAR(measureAt(b, 34, a), ref.uMax - ref.uMin, 1e-6);
            EXPECT_NEAR(measureAt(b, 35, a), ref.vMax - ref.vMin, 1e-6);
            // The box centre through the record's centre of mass.
            EXPECT_NEAR(measureAt(b, 28, a), b->centerOfMassX + (ref.uMin + ref.uMax) / 2 * std::cos(a) - (ref.vMin + ref.vMax) / 2 * std::sin(a), 1e-6);
        }
        const Box principal = bruteBox(s, *b->clientFromImage, b->angle);
        EXPECT_NEAR(measure(b, 45), principal.uMax - principal.uMin, 1e-6);
        EXPECT_EQ(interior(b), b->boxLeft > 2 && b->boxTop > 3 && b->boxLeft + b->boxWidth < 62 && b->boxTop + b->boxHeight < 43 ? 1 : 0);
    }
}

}  // namespace
