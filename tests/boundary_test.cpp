// Boundary tracing: the chain code of a blob's outer boundary against an
// independent crack-boundary walk on a doubled grid (spans of arbitrary pixel
// sets under every diagonal rule, and the blobs of random images under the
// labelling's rules), the boundary measures against their formulas, digitised
// discs and squares against their true perimeters, the chain-code calls,
// their statuses, and clean failure under allocation faults and cancellation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "cblob/cblob.h"
#include "results/boundary_spans.hpp"
#include "results/boundary_trace.hpp"
#include "support/blob_reference.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"

namespace {

using runtest::GreyImage;
using runtest::Params;
using runtest::Results;

constexpr double kPi = 3.14159265358979323846;

// A set of pixels in a w x h grid; outside the grid nothing is set.
struct Pixels {
    int w = 0, h = 0;
    std::vector<uint8_t> in;
    Pixels(int width, int height) : w(width), h(height), in(static_cast<size_t>(width) * height, 0) {}
    bool at(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && in[static_cast<size_t>(y) * w + x]; }
    void set(int x, int y) { in[static_cast<size_t>(y) * w + x] = 1; }
};

// ------------------------------------------------------------- reference

// The reference walk: corners at even points of a doubled grid, pixel (x, y)
// centred at (2x + 1, 2y + 1). A directed edge from corner c along d is on
// the boundary when the pixel on its right (y down) is set and the one on
// its left is not. At each corner the walk takes the only boundary edge
// leaving it, or, where two leave (pixels touching at the corner alone),
// the left turn when such corners connect and the right turn when they do
// not; horizontalRule decides for corners reached moving along x,
// verticalRule for those reached along y.
struct RefTrace {
    int startX = 0, startY = 0;
    std::vector<uint8_t> chain;  // without the end marker
    int64_t horizontal = 0, vertical = 0, convex = 0;
};

RefTrace referenceTrace(const Pixels &p, bool horizontalRule, bool verticalRule) {
    static const int kDx[4] = {1, -1, 0, 0}, kDy[4] = {0, 0, 1, -1};
    auto codeOf = [](int dx, int dy) { return dx == 1 ? 0 : dx == -1 ? 1 : dy == 1 ? 2 : 3; };
    auto setAtDoubled = [&](int px, int py) { return p.at((px - 1) / 2, (py - 1) / 2); };
    auto onBoundary = [&](int cx, int cy, int dx, int dy) {
        const int mx = cx + dx, my = cy + dy;  // the edge's midpoint
        return setAtDoubled(mx - dy, my + dx) && !setAtDoubled(mx + dy, my - dx);
    };
    RefTrace t;
    int top = -1, left = -1;
    for (int y = 0; y < p.h && top < 0; ++y)
        for (int x = 0; x < p.w; ++x)
            if (p.at(x, y)) {
                top = y;
                left = x;
                break;
            }
    t.startX = left;
    t.startY = top;
    int cx = 2 * left, cy = 2 * top, dx = 1, dy = 0;
    const size_t limit = 4 * p.in.size() + 8;
    for (;;) {
        t.chain.push_back(static_cast<uint8_t>(codeOf(dx, dy)));
        (dx != 0 ? t.horizontal : t.vertical) += 1;
        cx += 2 * dx;
        cy += 2 * dy;
        const int leftTurn[2] = {dy, -dx}, rightTurn[2] = {-dy, dx};
        const bool l = onBoundary(cx, cy, leftTurn[0], leftTurn[1]);
        const bool s = onBoundary(cx, cy, dx, dy);
        const bool r = onBoundary(cx, cy, rightTurn[0], rightTurn[1]);
        const bool connect = dx != 0 ? horizontalRule : verticalRule;
        int nx, ny;
        if (l && r) {
            EXPECT_FALSE(s);
            nx = connect ? leftTurn[0] : rightTurn[0];
            ny = connect ? leftTurn[1] : rightTurn[1];
        } else if (l) {
            nx = leftTurn[0], ny = leftTurn[1];
        } else if (s) {
            nx = dx, ny = dy;
        } else {
            EXPECT_TRUE(r);
            nx = rightTurn[0], ny = rightTurn[1];
        }
        if (nx == rightTurn[0] && ny == rightTurn[1]) ++t.convex;
        dx = nx;
        dy = ny;
        if ((cx == 2 * left && cy == 2 * top && dx == 1) || t.chain.size() > limit) break;
    }
    (void)kDx;
    (void)kDy;
    return t;
}

std::string chainText(const std::vector<uint8_t> &chain) {
    std::string s;
    for (uint8_t c : chain) s += static_cast<char>('0' + c);
    return s;
}

double perimeterFormula(int64_t h, int64_t v, int64_t c) {
    return (static_cast<double>(h + v) - 0.58579 * static_cast<double>(c)) * 0.94806;
}

// ------------------------------------------------------- spans and trace

// Rows of a pixel set in the blob-row layout: binary rows alternate from the
// first pixel's value; grey rows carry a value 1..255 on set pixels (drawn
// so that neighbours often differ) and 0 elsewhere.
struct EncodedRows {
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<cblob_rleRow> entries;
    EncodedRows(const Pixels &p, bool grey, std::mt19937 &rng) {
        for (int y = 0; y < p.h; ++y) {
            rletest::Row row;
            for (int x = 0; x < p.w; ++x) {
                const uint8_t v = static_cast<uint8_t>(p.at(x, y) ? (grey ? 1 + rng() % 3 : 1) : 0);
                if (!row.empty() && row.back().value == v) {
                    ++row.back().length;
                } else {
                    row.push_back({v, 1});
                }
            }
            bytes.push_back(rletest::encodeRow(row, grey));
            entries.push_back({nullptr, static_cast<int32_t>(row.size()), row[0].value ? uint8_t{1} : uint8_t{0}});
        }
        for (size_t y = 0; y < entries.size(); ++y) entries[y].runs = bytes[y].data();
    }
};

// Collects the steps and checks that each starts where the last one ended.
struct CollectSink {
    std::vector<uint8_t> chain;
    int x, y;
    bool consistent = true;
    void horizontal(int32_t code, int32_t fromX, int32_t fromY, int32_t count) {
        consistent = consistent && fromX == x && fromY == y && count > 0;
        chain.insert(chain.end(), static_cast<size_t>(count), static_cast<uint8_t>(code));
        x += code == 0 ? count : -count;
    }
    void vertical(int32_t code, int32_t fromX, int32_t fromY) {
        consistent = consistent && fromX == x && fromY == y;
        chain.push_back(static_cast<uint8_t>(code));
        y += code == 2 ? 1 : -1;
    }
};

// A random pixel set whose top row holds a pixel.
Pixels randomPixels(std::mt19937 &rng, int w, int h, double density) {
    Pixels p(w, h);
    std::bernoulli_distribution set(density);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (set(rng)) p.set(x, y);
    p.set(static_cast<int>(rng() % static_cast<unsigned>(w)), 0);
    return p;
}

TEST(BoundaryTrace, SpansOfArbitraryPixelSetsMatchTheReferenceUnderEveryRule) {
    std::mt19937 rng(16);
    int compared = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 13), h = 1 + static_cast<int>(rng() % 11);
        const Pixels p = randomPixels(rng, w, h, 0.2 + 0.6 * (trial % 7) / 6.0);
        const bool grey = trial % 3 == 0;
        const EncodedRows rows(p, grey, rng);
        // Every other set in a buffer of the caller's, where it fits.
        alignas(8) unsigned char local[400];
        cblob::results::BoundarySpans spans;
        ASSERT_EQ(cblob::results::buildBoundarySpans(rows.entries.data(), h, grey, trial % 5 == 0, trial % 2 ? local : nullptr,
                                                     sizeof local, &spans),
                  0);
        if (trial % 5 == 0) {
            double pixels = 0;
            for (uint8_t v : p.in) pixels += v;
            EXPECT_EQ(spans.pixels, pixels);
        }
        for (const auto &rules : {std::pair{true, true}, std::pair{false, false}, std::pair{false, true},
                                  std::pair{true, false}}) {
            SCOPED_TRACE("trial " + std::to_string(trial) + " rules " + std::to_string(rules.first) +
                         std::to_string(rules.second));
            const RefTrace ref = referenceTrace(p, rules.first, rules.second);
            CollectSink sink{{}, ref.startX, 0};
            cblob::results::TraceCounts counts;
            ASSERT_EQ(cblob::results::traceSpans(spans, {rules.first, rules.second}, sink, &counts), 0);
            EXPECT_TRUE(sink.consistent);
            EXPECT_EQ(chainText(sink.chain), chainText(ref.chain));
            EXPECT_EQ(counts.horizontal, ref.horizontal);
            EXPECT_EQ(counts.vertical, ref.vertical);
            EXPECT_EQ(counts.corners, ref.convex);
            EXPECT_LT(counts.steps(), spans.stepBound);
            ++compared;
        }
        csys_memory_free_internal(&spans.memory);
    }
    EXPECT_EQ(compared, 2400);
}

TEST(BoundaryTrace, WideRowsWithManySpansAreSearchedCorrectly) {
    // Combs: rows of many spans, so the trace bisects them.
    std::mt19937 rng(5);
    for (int trial = 0; trial < 40; ++trial) {
        const int w = 60 + static_cast<int>(rng() % 40), h = 3 + static_cast<int>(rng() % 6);
        Pixels p(w, h);
        for (int x = 0; x < w; ++x) p.set(x, 0);
        for (int y = 1; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if ((x + y) % 2 == 0 || rng() % 5 == 0) p.set(x, y);
        const EncodedRows rows(p, false, rng);
        cblob::results::BoundarySpans spans;
        ASSERT_EQ(cblob::results::buildBoundarySpans(rows.entries.data(), h, false, false, nullptr, 0, &spans), 0);
        for (const bool connect : {true, false}) {
            const RefTrace ref = referenceTrace(p, connect, connect);
            CollectSink sink{{}, ref.startX, 0};
            cblob::results::TraceCounts counts;
            ASSERT_EQ(cblob::results::traceSpans(spans, {connect, connect}, sink, &counts), 0);
            EXPECT_EQ(chainText(sink.chain), chainText(ref.chain)) << trial;
        }
        csys_memory_free_internal(&spans.memory);
    }
}

// ------------------------------------------------------------ from runs

// Runs a hard threshold at 128 on 8-bit values, keeping per-blob images.
void runKeeping(const GreyImage &image, Results *results, int32_t minArea = 0, int32_t cleanup = 0) {
    Params params;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
    params.p.keepBlobImages = 1;
    params.p.minArea = minArea;
    params.p.connectivityCleanup = cleanup;
    ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results->rs), 0);
}

std::vector<uint8_t> chainOf(cblob_blob *b, int32_t start[2]) {
    cstd_vector8 chain;
    EXPECT_EQ(cstd_vector8_constructEmpty(&chain), 0);
    EXPECT_EQ(cblob_blob_getBoundaryChainCode(b, start, &chain), 0);
    const auto *begin = static_cast<const uint8_t *>(chain.untyped.begin);
    std::vector<uint8_t> out(begin, begin + chain.untyped.size);
    cstd_vector8_destruct(&chain);
    return out;
}

double measureOf(cblob_blob *b, int32_t code) {
    double v = NAN;
    EXPECT_EQ(cblob_blob_getMeasure(b, code, 0, &v), 0) << code;
    return v;
}

// Every blob of a run on random images against the reference walk over the
// pixels an independent flood fill gives it (blobs matched by colour, box
// and area; the rare ambiguous ones are skipped): start, chain step by step,
// step count and perimeter.
TEST(BoundaryTrace, BlobsOfRandomImagesMatchTheReference) {
    std::mt19937 rng(1616);
    int compared = 0, holes = 0, onePixel = 0, atEdge = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int w = 8 + static_cast<int>(rng() % 40), h = 6 + static_cast<int>(rng() % 30);
        const double density = 0.25 + 0.5 * (trial % 5) / 4.0;
        const int cell = 1 + trial % 3;
        GreyImage image(w, h, 8, runtest::randomValues(rng, w, h, 8, density, cell), trial % 4, trial % 3);
        Results results;
        runKeeping(image, &results);
        const auto objects = runtest::hardObjects(image, 128, 0);
        cblobtest::RefOptions options;
        options.originX = image.originX();
        options.originY = image.originY();
        const cblobtest::RefResult ref = cblobtest::referenceBlobs(objects, w, h, options);
        std::map<std::tuple<int, int, int, int, int, int64_t>, std::vector<int>> byKey;
        for (size_t i = 0; i < ref.blobs.size(); ++i) {
            const auto &r = ref.blobs[i];
            byKey[{r.colour, r.left, r.top, r.width, r.height, r.area}].push_back(static_cast<int>(i));
        }
        for (int32_t i = 0; i < results.rs.numBlobs; ++i) {
            cblob_blob *b = results.rs.allBlobs[i];
            const auto &candidates = byKey[{b->colour, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight,
                                            static_cast<int64_t>(b->area)}];
            ASSERT_FALSE(candidates.empty());
            if (candidates.size() != 1) continue;
            Pixels p(b->boxWidth, b->boxHeight);
            for (int y = 0; y < b->boxHeight; ++y)
                for (int x = 0; x < b->boxWidth; ++x) {
                    const int ix = b->boxLeft - image.originX() + x, iy = b->boxTop - image.originY() + y;
                    if (ref.owner[static_cast<size_t>(iy) * w + ix] == candidates[0]) p.set(x, y);
                }
            const bool object = b->colour == 1;
            const RefTrace t = referenceTrace(p, object, object);
            int32_t start[2] = {-1, -1};
            const std::vector<uint8_t> chain = chainOf(b, start);
            SCOPED_TRACE("trial " + std::to_string(trial) + " blob " + std::to_string(b->label));
            EXPECT_EQ(start[0], b->boxLeft + t.startX);
            EXPECT_EQ(start[1], b->boxTop + t.startY);
            ASSERT_FALSE(chain.empty());
            EXPECT_EQ(chain.back(), 4);
            EXPECT_EQ(chainText(std::vector<uint8_t>(chain.begin(), chain.end() - 1)), chainText(t.chain));
            EXPECT_EQ(measureOf(b, cblob_measureBoundaryStepCount), static_cast<double>(t.chain.size()));
            EXPECT_DOUBLE_EQ(measureOf(b, cblob_measurePerimeter), perimeterFormula(t.horizontal, t.vertical, t.convex));
            ++compared;
            holes += object ? 0 : 1;
            onePixel += b->area == 1 ? 1 : 0;
            atEdge += b->boxLeft == image.originX() || b->boxTop == image.originY() ||
                      b->boxLeft + b->boxWidth == image.originX() + w || b->boxTop + b->boxHeight == image.originY() + h;
        }
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(holes, 100);
    EXPECT_GT(onePixel, 50);
    EXPECT_GT(atEdge, 100);
}

TEST(BoundaryTrace, WeightedBlobsTraceTheirPixelsLikeBinaryOnes) {
    // Values 20 and 150..250: a soft threshold 100..200 grades the bright
    // pixels (weighted runs of many values) but picks the same pixels as a
    // hard threshold at 128.
    std::mt19937 rng(77);
    for (int trial = 0; trial < 10; ++trial) {
        const int w = 30, h = 20;
        std::vector<uint16_t> values = runtest::randomValues(rng, w, h, 8, 0.5, 1 + trial % 3);
        for (uint16_t &v : values) v = v >= 128 ? static_cast<uint16_t>(150 + rng() % 101) : 20;
        GreyImage image(w, h, 8, values);
        Results hard, soft;
        runKeeping(image, &hard);
        Params params;
        ASSERT_EQ(cblob_runParams_setSegmentationSoftThresh(&params.p, 100, 200, 0), 0);
        params.p.keepBlobImages = 1;
        ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &soft.rs), 0);
        ASSERT_EQ(hard.rs.numBlobs, soft.rs.numBlobs);
        std::map<std::tuple<int, int, int, int, int>, std::vector<uint8_t>> chains;
        for (int32_t i = 0; i < hard.rs.numBlobs; ++i) {
            cblob_blob *b = hard.rs.allBlobs[i];
            chains[{b->colour, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight}] = chainOf(b, nullptr);
        }
        int grey = 0;
        for (int32_t i = 0; i < soft.rs.numBlobs; ++i) {
            cblob_blob *b = soft.rs.allBlobs[i];
            grey += b->isGrey;
            EXPECT_EQ(chainText(chainOf(b, nullptr)),
                      chainText(chains[{b->colour, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight}]));
        }
        EXPECT_GT(grey, 0);
    }
}

TEST(BoundaryTrace, EdgeCasesOfTheChain) {
    struct Case {
        const char *name;
        std::vector<const char *> art;  // '#' object pixels
        std::string chain;              // of the blob holding the top-left object pixel
        int startX, startY;
    } cases[] = {
        {"one pixel", {"....", ".#..", "...."}, "0213", 1, 1},
        {"diagonal pair", {".....", ".#...", "..#..", "....."}, "02021313", 1, 1},
        {"bar", {"....", ".###", "...."}, "00021113", 1, 1},
        {"touching the corner", {"#.", ".#"}, "02021313", 0, 0},
        {"ring", {"###", "#.#", "###"}, "000222111333", 0, 0},
        {"U", {"#.#", "#.#", "###"}, "0220330222111333", 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int w = static_cast<int>(std::strlen(c.art[0])), h = static_cast<int>(c.art.size());
        std::vector<uint16_t> values;
        for (const char *row : c.art)
            for (int x = 0; x < w; ++x) values.push_back(row[x] == '#' ? 200 : 10);
        GreyImage image(w, h, 8, values);
        Results results;
        runKeeping(image, &results);
        cblob_blob *found = nullptr;
        for (int32_t i = 0; i < results.rs.numBlobs; ++i) {
            cblob_blob *b = results.rs.allBlobs[i];
            if (b->colour == 1 && b->boxLeft == c.startX && b->boxTop == c.startY) found = b;
        }
        ASSERT_NE(found, nullptr);
        int32_t start[2] = {-1, -1};
        const std::vector<uint8_t> chain = chainOf(found, start);
        EXPECT_EQ(chainText(chain), c.chain + "4");
        EXPECT_EQ(start[0], c.startX);
        EXPECT_EQ(start[1], c.startY);
    }
}

TEST(BoundaryTrace, OnePixelBlobMeasures) {
    GreyImage image(5, 4, 8, {10, 10, 10, 10, 10, 10, 10, 10, 200, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10});
    Results results;
    runKeeping(image, &results);
    ASSERT_EQ(results.rs.numBlobs, 1);
    cblob_blob *b = results.rs.allBlobs[0];
    EXPECT_EQ(measureOf(b, cblob_measureBoundaryStepCount), 4.0);
    const double p = (4 - 4 * 0.58579) * 0.94806;
    EXPECT_DOUBLE_EQ(measureOf(b, cblob_measurePerimeter), p);
    EXPECT_DOUBLE_EQ(measureOf(b, cblob_measureCompactness), p * p / (4 * kPi));
    // The four corners lie sqrt(1/2) from the centre; the circle of area 1
    // has radius 1 / sqrt(pi).
    const double r = 1 / std::sqrt(kPi);
    EXPECT_NEAR(measureOf(b, cblob_measureAcircularity), 1 + std::fabs(std::sqrt(0.5) - r) / r, 1e-12);
}

// ---------------------------------------------------------------- shapes

struct ShapeRun {
    Results results;
    cblob_blob *object = nullptr;
    // A disc of radius r (pixel centres within r of a centre off the grid)
    // or an n x n square, on a margin of background.
    explicit ShapeRun(double discRadius, int square = 0) {
        const int margin = 3;
        const int size = square > 0 ? square + 2 * margin : static_cast<int>(2 * discRadius) + 2 * margin + 2;
        const double c = size / 2.0 + 0.31;
        std::vector<uint16_t> values(static_cast<size_t>(size) * size, 10);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const bool in = square > 0 ? (x >= margin && y >= margin && x < margin + square && y < margin + square)
                                           : (x + 0.5 - c) * (x + 0.5 - c) + (y + 0.5 - c) * (y + 0.5 - c) <=
                                                 discRadius * discRadius;
                if (in) values[static_cast<size_t>(y) * size + x] = 200;
            }
        GreyImage image(size, size, 8, values);
        runKeeping(image, &results);
        for (int32_t i = 0; i < results.rs.numBlobs; ++i)
            if (results.rs.allBlobs[i]->colour == 1) object = results.rs.allBlobs[i];
    }
};

TEST(BoundaryMeasures, SquaresOfEverySize) {
    for (int n = 1; n <= 40; ++n) {
        ShapeRun run(0, n);
        ASSERT_NE(run.object, nullptr);
        EXPECT_EQ(measureOf(run.object, cblob_measureBoundaryStepCount), 4.0 * n) << n;
        EXPECT_DOUBLE_EQ(measureOf(run.object, cblob_measurePerimeter), perimeterFormula(2 * n, 2 * n, 4)) << n;
    }
}

TEST(BoundaryMeasures, DigitisedDiscsAgainstTheFormulaAndTwoPiR) {
    for (double r = 2; r <= 120; r *= 1.17) {
        SCOPED_TRACE("r " + std::to_string(r));
        ShapeRun run(r);
        ASSERT_NE(run.object, nullptr);
        // The formula over the counts of the reference walk of the disc.
        Pixels p(run.object->boxWidth, run.object->boxHeight);
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x) {
                const double c = (static_cast<int>(2 * r) + 2 * 3 + 2) / 2.0 + 0.31;
                const double px = run.object->boxLeft + x + 0.5 - c, py = run.object->boxTop + y + 0.5 - c;
                if (px * px + py * py <= r * r) p.set(x, y);
            }
        const RefTrace t = referenceTrace(p, true, true);
        const double perimeter = measureOf(run.object, cblob_measurePerimeter);
        EXPECT_DOUBLE_EQ(perimeter, perimeterFormula(t.horizontal, t.vertical, t.convex));
        // The documented bias: within 3% of 2 pi r from r = 10 on, 1% from
        // r = 30 on (about 11% for the smallest discs).
        const double bias = perimeter / (2 * kPi * r) - 1;
        EXPECT_LT(std::fabs(bias), r >= 30 ? 0.01 : r >= 10 ? 0.03 : 0.11);
        // Acircularity falls towards 1 as the disc grows.
        EXPECT_LT(measureOf(run.object, cblob_measureAcircularity), 1 + 0.4 / r);
    }
}

TEST(BoundaryMeasures, LargeDiscIsAlmostCircular) {
    ShapeRun run(150);
    ASSERT_NE(run.object, nullptr);
    const double q = measureOf(run.object, cblob_measureAcircularity);
    EXPECT_GT(q, 1.0);
    EXPECT_LT(q, 1.005);
    // A square is farther from its circle.
    ShapeRun square(0, 100);
    EXPECT_GT(measureOf(square.object, cblob_measureAcircularity), 1.05);
}

TEST(BoundaryMeasures, ClientTransformScalesTheStepsItStretches) {
    // A horizontal 3 x 1 bar: 6 horizontal steps, 2 vertical, 4 corners.
    GreyImage image(5, 3, 8, {10, 10, 10, 10, 10, 10, 200, 200, 200, 10, 10, 10, 10, 10, 10});
    Results results;
    runKeeping(image, &results);
    ASSERT_EQ(results.rs.numBlobs, 1);
    cblob_blob *b = results.rs.allBlobs[0];
    // The same blob in a result set whose client units stretch x by 2.
    Results scaled;
    ASSERT_EQ(cblob_resultSet_assign(&scaled.rs, &results.rs), 0);
    EXPECT_DOUBLE_EQ(measureOf(b, cblob_measurePerimeter), perimeterFormula(6, 2, 4));
    cblob_blob *s = scaled.rs.allBlobs[0];
    *s->clientFromImage = cmath_xformLinear{{2.0, 0.0, 0.0, 1.0}, 0.0, 0.0};
    const double expected = (2 * 1 + 6 * 2 - 4 * (3 - std::sqrt(5.0))) * 0.94806;
    EXPECT_DOUBLE_EQ(measureOf(s, cblob_measurePerimeter), expected);
    EXPECT_EQ(measureOf(s, cblob_measureBoundaryStepCount), 8.0);
}

// -------------------------------------------------------- chain-code calls

TEST(BoundaryCalls, MeasuresAndPrincipalBoxCallsAgreeWithTheDispatcher) {
    std::mt19937 rng(3);
    GreyImage image(40, 30, 8, runtest::randomValues(rng, 40, 30, 8, 0.5, 3));
    Results results;
    runKeeping(image, &results);
    for (int32_t i = 0; i < results.rs.numBlobs; ++i) {
        cblob_blob *b = results.rs.allBlobs[i];
        int32_t s1[2], s2[2], s3[2];
        const std::vector<uint8_t> chain = chainOf(b, s1);
        cstd_vector8 c2, c3;
        cstd_vector8_constructEmpty(&c2);
        cstd_vector8_constructEmpty(&c3);
        double p = 0, k = 0, q = 0;
        ASSERT_EQ(cblob_blob_getBoundaryChainCodeAndMeasures(b, s2, &c2, &p, &k, &q), 0);
        EXPECT_EQ(p, measureOf(b, cblob_measurePerimeter));
        EXPECT_EQ(k, measureOf(b, cblob_measureCompactness));
        EXPECT_EQ(q, measureOf(b, cblob_measureAcircularity));
        cmath_shapeAffineRect rect;
        double centre[2] = {0, 0}, aspect = 0;
        ASSERT_EQ(cblob_blob_getBoundaryChainCodeAndPrincipalAxisBoundingBox(b, s3, &c3, &rect, centre, &aspect), 0);
        EXPECT_EQ(centre[0], measureOf(b, cblob_measurePrincipalBoxCenterX));
        EXPECT_EQ(centre[1], measureOf(b, cblob_measurePrincipalBoxCenterY));
        EXPECT_EQ(aspect, measureOf(b, cblob_measurePrincipalBoxAspect));
        for (const cstd_vector8 *c : {&c2, &c3}) {
            const auto *begin = static_cast<const uint8_t *>(c->untyped.begin);
            EXPECT_EQ(std::vector<uint8_t>(begin, begin + c->untyped.size), chain);
        }
        EXPECT_TRUE(s1[0] == s2[0] && s1[1] == s2[1] && s1[0] == s3[0] && s1[1] == s3[1]);
        // Without outputs the calls still trace and succeed.
        EXPECT_EQ(cblob_blob_getBoundaryChainCode(b, nullptr, nullptr), 0);
        EXPECT_EQ(cblob_blob_getBoundaryChainCodeAndMeasures(b, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
        cstd_vector8_destruct(&c2);
        cstd_vector8_destruct(&c3);
    }
}

TEST(BoundaryCalls, Statuses) {
    GreyImage image(6, 5, 8, std::vector<uint16_t>(30, 200));
    {
        // Without per-blob images the blob has no rows to trace.
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
        ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
        cblob_blob *b = results.rs.allBlobs[0];
        int32_t start[2] = {7, 7};
        EXPECT_EQ(cblob_blob_getBoundaryChainCode(b, start, nullptr), cblob_err_rleImageEmpty);
        EXPECT_EQ(start[0], 7);
        double v = 0;
        for (int32_t code : {3, 4, 14, 15}) EXPECT_EQ(cblob_blob_getMeasure(b, code, 0, &v), cblob_err_rleImageEmpty);
    }
    Results results;
    runKeeping(image, &results);
    cblob_blob *b = results.rs.allBlobs[0];
    results.rs.postProcessing->connectivityType = 2;
    cstd_vector8 chain;
    cstd_vector8_constructEmpty(&chain);
    const uint8_t old = 9;
    cstd_vector8_pushBack(&chain, &old);
    EXPECT_EQ(cblob_blob_getBoundaryChainCode(b, nullptr, &chain), cblob_err_traceNotForMode);
    EXPECT_EQ(chain.untyped.size, 1);  // untouched on failure
    double p = 0;
    EXPECT_EQ(cblob_blob_getBoundaryChainCodeAndMeasures(b, nullptr, nullptr, &p, nullptr, nullptr),
              cblob_err_angleMeasureNotForMode);
    results.rs.postProcessing->connectivityType = 0;
    EXPECT_EQ(cblob_blob_getBoundaryChainCode(b, nullptr, &chain), 0);
    EXPECT_EQ(chainText(std::vector<uint8_t>(static_cast<uint8_t *>(chain.untyped.begin),
                                             static_cast<uint8_t *>(chain.untyped.begin) + chain.untyped.size)),
              "00000022222111111333334");
    cstd_vector8_destruct(&chain);
}

TEST(BoundaryCalls, PrecomputeFillsTheBoundaryGroup) {
    std::mt19937 rng(8);
    GreyImage image(50, 40, 8, runtest::randomValues(rng, 50, 40, 8, 0.5, 2));
    Results results;
    runKeeping(image, &results);
    cstd_vector_cblob_measure codes;
    ASSERT_EQ(cstd_vector_cblob_measure_constructEmpty(&codes), 0);
    const cblob_measure c = cblob_measureAcircularity;
    ASSERT_EQ(cstd_vector_cblob_measure_pushBack(&codes, &c), 0);
    ASSERT_EQ(cblob_resultSet_precomputeMeasures(&results.rs, &codes), 0);
    // Everything is cached: reading any boundary measure allocates nothing.
    csys_memory_failAfter(1, 1);
    double v = 0;
    for (int32_t i = 0; i < results.rs.numBlobs; ++i)
        for (int32_t code : {3, 4, 14, 15}) EXPECT_EQ(cblob_blob_getMeasure(results.rs.allBlobs[i], code, 0, &v), 0);
    csys_memory_failAfter(0, 0);
    cstd_vector_cblob_measure_destruct(&codes);
}

// -------------------------------------------------- faults and cancellation

TEST(BoundaryCalls, CancellationStopsTracingCleanly) {
    // A tall blob with a long boundary: the span building polls every 32 rows.
    const int w = 9, h = 200;
    std::vector<uint16_t> values(static_cast<size_t>(w) * h, 10);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x == 0 || (x + y) % 4 != 0) values[static_cast<size_t>(y) * w + x] = 200;
    GreyImage image(w, h, 8, values);
    Results results;
    runKeeping(image, &results);
    const int64_t polls = cblobtest::expectCleanUnderCancellation([&] {
        cstd_vector8 chain;
        int32_t status = cstd_vector8_constructEmpty(&chain);
        for (int32_t i = 0; i < results.rs.numBlobs && !CBLOB_FAILED(status); ++i)
            status = cblob_blob_getBoundaryChainCode(results.rs.allBlobs[i], nullptr, &chain);
        cstd_vector8_destruct(&chain);
        return status;
    });
    EXPECT_GE(polls, 6);
}

}  // namespace
