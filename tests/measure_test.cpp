// Blob measures: the box at an angle computed from a blob's rows against
// brute force over the corners of every pixel, medians against the sorted
// projected pixel masses, exclusion trimming exactly the amount from each
// end; the dispatcher's record, derived and cached measures, the cache keys
// and their reuse, the statuses, precomputation, the box and median
// queries, the interior flag, and clean failure under allocation faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "cblob/measure.h"
#include "results/box_at_angle.hpp"
#include "support/blob_builder.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"

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
    for (int32_t code : {3, 4, 14, 15}) EXPECT_EQ(statusOf(b, code), cblob_err_notYetSupported) << code;
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

}  // namespace
