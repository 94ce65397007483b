// The standard connectivity scan against the flood-fill reference: binary
// run-length input (narrow and wide), the single-pass path on 8- and 16-bit
// windows under every mask kind, the cleanup modes, the weighted scan, client
// transforms, the label map, failures and cancellation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "cblob/rle_image.h"
#include "connect/standard_scan.hpp"
#include "rle/row_access.hpp"
#include "support/blob_builder.hpp"
#include "support/blob_reference.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"
#include "support/scan_pixels.hpp"

namespace {

using namespace cblob::connect;

using scantest::blockyPixels;
using scantest::fromText;
using scantest::modelOf;
using scantest::near;
using scantest::Pixels;
using scantest::randomPixels;
using scantest::RleImage;

cblobtest::RefResult reference(const Pixels &p, int cleanup = 0, int32_t minArea = 0, int ox = 0, int oy = 0) {
    std::vector<uint8_t> objects(p.v.size());
    for (size_t i = 0; i < p.v.size(); ++i) objects[i] = p.v[i] ? 1 : 0;
    cblobtest::RefOptions o;
    o.cleanup = cleanup, o.minArea = minArea, o.originX = ox, o.originY = oy;
    return cblobtest::referenceBlobs(objects, p.w, p.h, o);
}

ScanSettings settingsFor(int w, int h, int ox = 0, int oy = 0) {
    ScanSettings s;
    s.width = w, s.height = h, s.originX = ox, s.originY = oy;
    return s;
}

// ------------------------------------------------------------ running a scan

// A result set, a pool and the optional label tables of one scan; all
// released on destruction.
struct Scan {
    cblob_resultSet rs{};
    BlobInternalPool pool{};
    cstd_vector32s *labelMap = nullptr, *blobLabels = nullptr;
    bool haveRs = false, havePool = false;
    int32_t status = 0;

    ~Scan() {
        if (haveRs) cblob_resultSet_destruct(&rs);
        if (havePool) poolDestruct(&pool);
        cstd_vector32s_delete(&labelMap);
        cstd_vector32s_delete(&blobLabels);
    }
    std::vector<cblob_blob *> blobs() const { return blobtest::blobsOf(&rs); }

    // Builds what the scan needs and runs it; returns the first failure.
    int32_t run(const ScanSource &src, ScanSettings s, bool maps = false, int32_t poolRecords = 0,
                bool ownScratch = false) {
        BLOBTEST_TRY(cblob_resultSet_construct(&rs));
        haveRs = true;
        int32_t records = poolRecords;
        if (records == 0) BLOBTEST_TRY(poolRecordsPerBlock(s.width, 1, s.connectivityCleanup, 0, &records));
        BLOBTEST_TRY(poolConstruct(&pool, records));
        havePool = true;
        if (maps) {
            BLOBTEST_TRY(cstd_vector32s_new(&labelMap));
            BLOBTEST_TRY(cstd_vector32s_new(&blobLabels));
            BLOBTEST_TRY(cstd_vector32s_resize(blobLabels, 1000));
            s.labelMap = labelMap, s.blobLabels = blobLabels;
        }
        std::vector<uint8_t> rowBuffer(static_cast<size_t>((4 * s.width + 4) * 2));
        std::vector<uint8_t> maskRow(static_cast<size_t>(s.width + 1));
        ScanScratch scratch;
        if (!ownScratch) scratch.rowBuffer = rowBuffer.data(), scratch.maskRow = maskRow.data();
        status = scanStandard(src, s, &pool, scratch, &rs);
        return status;
    }
};

// Every record the pool has linked is back in its free list.
void expectPoolComplete(const BlobInternalPool &pool) {
    int32_t blocks = 0, cursor = 0, free = 0;
    poolGetNumBlocks(&pool, &blocks);
    poolGetCursorIndex(&pool, &cursor);
    poolGetFreeCount(&pool, &free);
    EXPECT_EQ(free, (blocks - 1) * pool.recordsPerBlock + (cursor < 0 ? pool.recordsPerBlock : cursor));
}

// ------------------------------------------------------- comparing results

// The cross moment recovered from the principal axes.
double crossMoment(const cblob_blob *b) { return (b->inertiaMax - b->inertiaMin) / 2.0 * std::sin(2.0 * b->angle); }

std::string describe(const cblob_blob *b) {
    char text[200];
    std::snprintf(text, sizeof text, "blob %d colour %d area %.3f box (%d,%d %dx%d) centre (%.4f,%.4f)", b->label,
                  b->colour, b->area, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight, b->centerOfMassX,
                  b->centerOfMassY);
    return text;
}

// Pairs blobs with reference blobs by colour, box and area (and centre
// among equals). match[i] = reference index of blobs[i].
std::vector<int> matchBlobs(const std::vector<cblob_blob *> &blobs, const cblobtest::RefResult &ref,
                            const std::string &context) {
    using Key = std::tuple<int, int, int, int, int, double>;
    std::map<Key, std::vector<int>> byKey;
    for (size_t r = 0; r < ref.blobs.size(); ++r) {
        const cblobtest::RefBlob &e = ref.blobs[r];
        const Key key{e.colour, e.left, e.top, e.width, e.height, static_cast<double>(e.area)};
        byKey[key].push_back(static_cast<int>(r));
    }
    std::vector<int> match(blobs.size(), -1);
    EXPECT_EQ(blobs.size(), ref.blobs.size()) << context;
    for (size_t i = 0; i < blobs.size(); ++i) {
        const cblob_blob *b = blobs[i];
        auto found = byKey.find(Key{b->colour, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight, b->area});
        if (found != byKey.end()) {
            std::vector<int> &candidates = found->second;
            for (size_t c = 0; c < candidates.size(); ++c) {
                const cblobtest::RefBlob &e = ref.blobs[static_cast<size_t>(candidates[c])];
                if (!near(b->centerOfMassX, e.centerX, 1e3) || !near(b->centerOfMassY, e.centerY, 1e3)) continue;
                match[i] = candidates[c];
                candidates.erase(candidates.begin() + static_cast<std::ptrdiff_t>(c));
                break;
            }
        }
        EXPECT_GE(match[i], 0) << context << ": no reference blob for " << describe(b);
    }
    return match;
}

struct Expect {
    bool tree = true;
    bool moments = true;
};

// Blobs equal the reference as a multiset, with moments and parents.
void expectReference(const Scan &scan, const cblobtest::RefResult &ref, const std::string &context,
                     Expect expect = {}) {
    ASSERT_EQ(scan.status, 0) << context << ": " << cblob_statusName(scan.status);
    const std::vector<cblob_blob *> blobs = scan.blobs();
    EXPECT_EQ(scan.rs.numBlobs, static_cast<int32_t>(blobs.size())) << context;
    const std::vector<int> match = matchBlobs(blobs, ref, context);
    std::map<const cblob_blob *, int> refOf;
    for (size_t i = 0; i < blobs.size(); ++i) refOf[blobs[i]] = match[i];
    for (size_t i = 0; i < blobs.size(); ++i) {
        const cblob_blob *b = blobs[i];
        EXPECT_EQ(b->label, static_cast<int32_t>(i) + 1) << context;
        EXPECT_EQ(b->owner, &scan.rs) << context;
        if (match[i] < 0) continue;
        const cblobtest::RefBlob &e = ref.blobs[static_cast<size_t>(match[i])];
        const std::string what = context + ": " + cblobtest::describe(e);
        if (expect.moments) {
            const double scale = std::fabs(e.mxx) + std::fabs(e.myy);
            EXPECT_EQ(b->momentsValid, 1) << what;
            EXPECT_TRUE(near(b->inertiaX, e.mxx)) << what << " mxx " << b->inertiaX;
            EXPECT_TRUE(near(b->inertiaY, e.myy)) << what << " myy " << b->inertiaY;
            EXPECT_TRUE(near(crossMoment(b), e.mxy, scale)) << what << " mxy " << crossMoment(b);
            EXPECT_GE(b->elongation, 1.0) << what;
        } else {
            EXPECT_EQ(b->momentsValid, 0) << what;
            EXPECT_EQ(b->inertiaX, 0.0) << what;
            EXPECT_EQ(b->elongation, 0.0) << what;
        }
        if (expect.tree) {
            const int parent = b->parent ? refOf[b->parent] : -1;
            EXPECT_EQ(parent, e.parent) << what;
            EXPECT_EQ(b->numChildren, e.numChildren) << what;
        } else {
            EXPECT_FALSE(b->parent || b->firstChild || b->nextSibling || b->numChildren) << what;
        }
    }
    if (expect.tree) {
        EXPECT_TRUE(scantest::consistentTree(scan.rs, blobs)) << context;
    }
    expectPoolComplete(scan.pool);
}

ScanSource rleSource(const RleImage &img) {
    ScanSource s;
    s.rle = img.get();
    return s;
}

// ------------------------------------------------------------------- tests

TEST(StandardScan, BinaryRunLengthImagesMatchTheReference) {
    std::mt19937 rng(7);
    const int sizes[][2] = {{1, 1},   {1, 9},   {9, 1},   {2, 2},    {3, 5},
                            {17, 13}, {40, 31}, {64, 64}, {120, 70}, {300, 300}};
    for (int i = 0; i < 124; ++i) {
        const auto &size = sizes[i < 120 ? i % 9 : 9];  // four images of the largest size
        const double density = 0.05 + 0.9 * (i % 10) / 9.0;
        const Pixels p = i % 4 == 3 ? blockyPixels(rng, size[0], size[1], density)
                                    : randomPixels(rng, size[0], size[1], density);
        const int ox = static_cast<int>(rng() % 11) - 5, oy = static_cast<int>(rng() % 7) - 2;
        const bool wide = i % 3 == 1;
        const RleImage img(p, false, wide, ox, oy);
        Scan scan;
        scan.run(rleSource(img), settingsFor(p.w, p.h, ox, oy));
        expectReference(scan, reference(p, 0, 0, ox, oy),
                        "image " + std::to_string(i) + " " + std::to_string(p.w) + "x" + std::to_string(p.h));
        if (testing::Test::HasFailure()) return;
    }
}

// An 8- or 16-bit window of random values inside a wider buffer (stride > row).
struct Window {
    std::vector<uint16_t> pels16;
    std::vector<uint8_t> pels8;
    cimg_windowConst w{};
    // With repeatRows, about half the rows copy the row above (the padding
    // after the row excepted), and a quarter of those then differ in their
    // last pixel only.
    Window(std::mt19937 &rng, int width, int height, bool sixteen, bool repeatRows = false) {
        const int stride = width + 3;
        w.x = 4, w.y = -2, w.width = width, w.height = height, w.bitsPerPel = sixteen ? 16 : 8;
        if (sixteen) {
            fill(rng, pels16, stride, 1000, repeatRows);
            w.strideBytes = stride * 2;
            w.pels = reinterpret_cast<const uint8_t *>(pels16.data());
        } else {
            fill(rng, pels8, stride, 256, repeatRows);
            w.strideBytes = stride;
            w.pels = pels8.data();
        }
    }
    template <class Pel>
    void fill(std::mt19937 &rng, std::vector<Pel> &pels, int stride, unsigned range, bool repeatRows) {
        pels.resize(static_cast<size_t>(stride * (w.height + 1)));
        for (auto &v : pels) v = static_cast<Pel>(rng() % range);
        for (int y = 1; repeatRows && y < w.height; ++y) {
            if (rng() % 2) continue;
            Pel *row = pels.data() + y * stride;
            std::copy(row - stride, row - stride + w.width, row);
            if (rng() % 4 == 0) row[w.width - 1] = static_cast<Pel>(rng() % range);
        }
    }
    int value(int x, int y) const {
        return pels16.empty() ? pels8[static_cast<size_t>(y * w.strideBytes + x)]
                              : pels16[static_cast<size_t>(y * w.strideBytes / 2 + x)];
    }
};

enum class MaskKind { none, window, rle, torv };

TEST(StandardScan, SinglePassMatchesTheReference) {
    std::mt19937 rng(11);
    int n = 0;
    for (const bool sixteen : {false, true}) {
        for (const MaskKind kind : {MaskKind::none, MaskKind::window, MaskKind::rle, MaskKind::torv}) {
            for (int rep = 0; rep < 8; ++rep, ++n) {
                const int width = 1 + static_cast<int>(rng() % 70), height = 1 + static_cast<int>(rng() % 50);
                const Window win(rng, width, height, sixteen, rep >= 4);
                const int32_t thresh = rep == 5 ? 0 : static_cast<int32_t>(rng() % (sixteen ? 1000 : 256));
                const int32_t invert = rep % 2;
                const Pixels mask = randomPixels(rng, width, height, 0.8);
                Pixels objects{width, height, std::vector<uint8_t>(static_cast<size_t>(width * height))};
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) {
                        const bool inside = kind == MaskKind::none || mask.at(x, y);
                        const bool classA = win.value(x, y) >= thresh;
                        objects.v[static_cast<size_t>(y * width + x)] = inside && classA != (invert == 1);
                    }
                ScanSource src;
                (sixteen ? src.window16 : src.window8) = &win.w;
                src.thresh = thresh, src.invert = invert;
                std::vector<uint8_t> maskBytes(mask.v.size());
                for (size_t i = 0; i < mask.v.size(); ++i) {
                    maskBytes[i] = static_cast<uint8_t>(mask.v[i] * (1 + i % 200));  // any non-zero byte is inside
                }
                const cimg_windowConst maskWindow{win.w.x, win.w.y, width, height, width, 8, maskBytes.data()};
                const RleImage maskRle(mask, rep % 4 < 2, rep % 3 == 0, win.w.x, win.w.y);
                std::vector<std::vector<uint8_t>> torv;
                std::vector<const uint8_t *> torvRows;
                for (const auto &row : modelOf(mask, true).rows) torv.push_back(rletest::torvRow(row, 7));
                for (const auto &row : torv) torvRows.push_back(row.data());
                if (kind == MaskKind::window) src.maskWindow = &maskWindow;
                if (kind == MaskKind::rle) src.maskRle = maskRle.get(), src.maskIsRleOrTorv = true;
                if (kind == MaskKind::torv) src.torvMaskRows = torvRows.data(), src.maskIsRleOrTorv = true;
                Scan scan;
                scan.run(src, settingsFor(width, height, win.w.x, win.w.y), false, 0, rep == 3);
                const std::string context = "single pass " + std::to_string(n);
                if (sixteen && kind == MaskKind::torv) {
                    EXPECT_EQ(scan.status, cblob_err_torvMask16Bit) << context;
                    continue;
                }
                expectReference(scan, reference(objects, 0, 0, win.w.x, win.w.y), context);
                if (testing::Test::HasFailure()) return;
            }
        }
    }
}

// The hole of a ring is finished first, as the ring's only child; an empty
// window gives an empty set with its blocks.
TEST(StandardScan, RingOrderAndEmptyWindows) {
    {  // A ring: the hole is finished first, the ring's only child.
        const Pixels p = fromText({"###", "#.#", "###"});
        const RleImage img(p, false, false);
        Scan scan;
        scan.run(rleSource(img), settingsFor(3, 3));
        const auto blobs = scan.blobs();
        ASSERT_EQ(blobs.size(), 2u);
        EXPECT_EQ(blobs[0]->colour, 0);
        EXPECT_EQ(blobs[1]->firstChild, blobs[0]);
        EXPECT_EQ(scan.rs.firstTopLevelBlob, blobs[1]);
        EXPECT_DOUBLE_EQ(blobs[0]->centerOfMassX, 1.5);
    }
    for (const auto &[w, h] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}}) {
        std::vector<uint8_t> pels(1, 255);
        const cimg_windowConst win{0, 0, w, h, w + 1, 8, pels.data()};
        ScanSource src;
        src.window8 = &win;
        Scan scan;
        EXPECT_EQ(scan.run(src, settingsFor(w, h)), 0);
        EXPECT_EQ(scan.rs.numBlobs, 0);
        EXPECT_TRUE(scan.rs.blobBlocks);
    }
}

TEST(StandardScan, CleanupModesMatchTheReference) {
    std::mt19937 rng(3);
    for (int i = 0; i < 60; ++i) {
        const int cleanup = 1 + i % 2;
        const int32_t minArea = std::vector<int32_t>{0, 1, 2, 4, 9, 40, -1}[static_cast<size_t>(i % 7)];
        const int w = 5 + static_cast<int>(rng() % 60), h = 3 + static_cast<int>(rng() % 40);
        const double density = 0.1 + 0.8 * (i % 9) / 8.0;
        const Pixels p = i % 3 == 0 ? blockyPixels(rng, w, h, density) : randomPixels(rng, w, h, density);
        const RleImage img(p, false, i % 4 == 0);
        ScanSettings s = settingsFor(p.w, p.h);
        s.connectivityCleanup = cleanup, s.minArea = minArea;
        s.computeTopology = false;  // the cleanup modes keep the tree anyway
        Scan scan;
        scan.run(rleSource(img), s);
        expectReference(scan, reference(p, cleanup, minArea),
                        "cleanup " + std::to_string(cleanup) + " minArea " + std::to_string(minArea));
        if (testing::Test::HasFailure()) return;
    }
}

TEST(StandardScan, TopologyAndMomentsCanBeSwitchedOff) {
    std::mt19937 rng(9);
    const Pixels p = randomPixels(rng, 50, 40, 0.45);
    const RleImage img(p, false, false);
    for (const bool topology : {false, true}) {
        ScanSettings s = settingsFor(50, 40);
        s.computeTopology = topology;
        s.computeSecondMoments = !topology;
        Scan scan;
        scan.run(rleSource(img), s);
        Expect e;
        e.tree = topology, e.moments = !topology;
        expectReference(scan, reference(p), topology ? "no moments" : "no topology", e);
        if (!topology) {
            EXPECT_FALSE(scan.rs.firstTopLevelBlob);
        }
    }
}

// The expected client values of a blob under a transform whose local linear
// part at the blob's centre is l.
void expectMapped(const cblob_blob *b, const cblob_blob *plain, const cmath_xformLinear &l, double cx, double cy,
                  const std::string &context) {
    const cmath_matrix &m = l.matrix;
    const double det = std::fabs(m.m00 * m.m11 - m.m01 * m.m10);
    const double xx = plain->inertiaX, yy = plain->inertiaY, xy = crossMoment(plain);
    const double scale = det * (xx + yy) * (m.m00 * m.m00 + m.m01 * m.m01 + m.m10 * m.m10 + m.m11 * m.m11);
    EXPECT_TRUE(near(b->area, plain->area * det)) << context;
    EXPECT_TRUE(near(b->centerOfMassX, cx, 1e3)) << context;
    EXPECT_TRUE(near(b->centerOfMassY, cy, 1e3)) << context;
    EXPECT_TRUE(near(b->inertiaX, det * (m.m00 * m.m00 * xx + 2 * m.m00 * m.m01 * xy + m.m01 * m.m01 * yy), scale))
        << context;
    EXPECT_TRUE(near(b->inertiaY, det * (m.m10 * m.m10 * xx + 2 * m.m10 * m.m11 * xy + m.m11 * m.m11 * yy), scale))
        << context;
    EXPECT_TRUE(near(crossMoment(b),
                     det * (m.m00 * m.m10 * xx + (m.m00 * m.m11 + m.m01 * m.m10) * xy + m.m01 * m.m11 * yy), scale))
        << context;
}

TEST(StandardScan, ClientTransformsMapAreaCentreAndMoments) {
    std::mt19937 rng(21);
    const Pixels p = randomPixels(rng, 60, 45, 0.4);
    const RleImage img(p, false, false, 3, -4);
    Scan plain;
    plain.run(rleSource(img), settingsFor(p.w, p.h, 3, -4));
    ASSERT_EQ(plain.status, 0);
    const auto base = plain.blobs();

    const cmath_xformLinear linear{{1.5, 0.4, -0.3, 0.8}, 10.0, -7.0};
    const cmath_xformLinear identity{{1.0, 0.0, 0.0, 1.0}, 0.0, 0.0};
    for (const cmath_xformLinear &l : {linear, identity}) {
        ScanSettings s = settingsFor(p.w, p.h, 3, -4);
        s.xformKind = ScanXformKind::linear;
        s.linear = l;
        Scan scan;
        ASSERT_EQ(scan.run(rleSource(img), s), 0);
        const auto blobs = scan.blobs();
        ASSERT_EQ(blobs.size(), base.size());
        for (size_t i = 0; i < blobs.size(); ++i) {
            double cx = 0, cy = 0;
            cmath_xformLinear_mapPoint(&l, base[i]->centerOfMassX, base[i]->centerOfMassY, &cx, &cy);
            expectMapped(blobs[i], base[i], l, cx, cy, "linear " + describe(base[i]));
            EXPECT_EQ(blobs[i]->clientFromImage, &scan.rs.sharedLinearXform);
        }
        EXPECT_EQ(std::memcmp(&scan.rs.sharedLinearXform, &l, sizeof l), 0);
    }

    const double h[9] = {1.1, 0.2, 5.0, -0.1, 0.9, 2.0, 0.002, 0.001, 1.0};
    cmath_xformPtrhConst xform;
    ASSERT_EQ(cmath_xformPtrhConst_constructPerspective(&xform, h), 0);
    ScanSettings s = settingsFor(p.w, p.h, 3, -4);
    s.xformKind = ScanXformKind::nonLinear;
    s.xform = &xform;
    Scan scan;
    ASSERT_EQ(scan.run(rleSource(img), s), 0);
    const auto blobs = scan.blobs();
    ASSERT_EQ(blobs.size(), base.size());
    for (size_t i = 0; i < blobs.size(); ++i) {
        cmath_xformLinear local;
        double cx = 0, cy = 0;
        ASSERT_EQ(cmath_xformPtrhConst_getLinear(&xform, base[i]->centerOfMassX, base[i]->centerOfMassY, &local), 0);
        cmath_xformPtrhConst_mapPoint(&xform, base[i]->centerOfMassX, base[i]->centerOfMassY, &cx, &cy);
        expectMapped(blobs[i], base[i], local, cx, cy, "perspective " + describe(base[i]));
        ASSERT_TRUE(blobs[i]->clientFromImage);
        EXPECT_TRUE(near(blobs[i]->clientFromImage->matrix.m01, local.matrix.m01));
        EXPECT_TRUE(near(blobs[i]->clientFromImage->tx, local.tx, 1e3));
    }
    EXPECT_EQ(getXformBlockCount(scan.rs.xformBlocks, 0), static_cast<int32_t>(blobs.size()));
    cmath_xformPtrhConst_destruct(&xform);
}

// Weighted sums of the 8-connected components of non-zero pixels.
struct WeightedBlob {
    int left, top, right, bottom;
    double mass = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
};

std::vector<WeightedBlob> weightedObjects(const Pixels &p) {
    std::vector<WeightedBlob> out;
    std::vector<int> seen(p.v.size(), 0);
    for (int y0 = 0; y0 < p.h; ++y0)
        for (int x0 = 0; x0 < p.w; ++x0) {
            if (!p.at(x0, y0) || seen[static_cast<size_t>(y0 * p.w + x0)]) continue;
            WeightedBlob b{x0, y0, x0, y0};
            std::vector<std::pair<int, int>> stack{{x0, y0}};
            seen[static_cast<size_t>(y0 * p.w + x0)] = 1;
            while (!stack.empty()) {
                auto [x, y] = stack.back();
                stack.pop_back();
                const double v = p.at(x, y), cx = x + 0.5, cy = y + 0.5;
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
                b.mass += v, b.sx += v * cx, b.sy += v * cy;
                b.sxx += v * (cx * cx + 1.0 / 12), b.syy += v * (cy * cy + 1.0 / 12), b.sxy += v * cx * cy;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= p.w || ny >= p.h || !p.at(nx, ny)) continue;
                        int &s = seen[static_cast<size_t>(ny * p.w + nx)];
                        if (!s) s = 1, stack.emplace_back(nx, ny);
                    }
            }
            out.push_back(b);
        }
    return out;
}

TEST(StandardScan, WeightedScanWeighsObjectRunsByTheirValue) {
    std::mt19937 rng(17);
    for (int i = 0; i < 30; ++i) {
        const Pixels p = randomPixels(rng, 2 + static_cast<int>(rng() % 50), 2 + static_cast<int>(rng() % 40),
                                      0.2 + 0.6 * (i % 5) / 4.0, 5);
        const bool fill = i % 3 == 2;
        const RleImage img(p, true, i % 2 == 1);
        ScanSettings s = settingsFor(p.w, p.h);
        s.weighted = true, s.scaleVal = 5;
        s.connectivityCleanup = fill ? 2 : 0;  // minArea 0: nothing is small, holes use their pixel count
        Scan scan;
        ASSERT_EQ(scan.run(rleSource(img), s), 0);
        const cblobtest::RefResult ref = reference(p);
        const auto objects = weightedObjects(p);
        const auto blobs = scan.blobs();
        ASSERT_EQ(blobs.size(), ref.blobs.size());
        for (const cblob_blob *b : blobs) {
            EXPECT_EQ(b->isGrey, 1);
            if (b->colour == 0) {  // holes: unweighted, as in the binary scan
                bool found = false;
                for (const auto &e : ref.blobs)
                    found |= e.colour == 0 && e.left == b->boxLeft && e.top == b->boxTop &&
                             static_cast<double>(e.area) == b->area && near(e.mxx, b->inertiaX);
                EXPECT_TRUE(found) << describe(b);
                continue;
            }
            const WeightedBlob *w = nullptr;
            for (const auto &o : objects)
                if (o.left == b->boxLeft && o.top == b->boxTop && o.right - o.left + 1 == b->boxWidth &&
                    o.bottom - o.top + 1 == b->boxHeight && near(o.mass / 5.0, b->area))
                    w = &o;
            ASSERT_TRUE(w) << describe(b);
            const double cx = w->sx / w->mass, cy = w->sy / w->mass;
            EXPECT_TRUE(near(b->centerOfMassX, cx, 1e3)) << describe(b);
            EXPECT_TRUE(near(b->centerOfMassY, cy, 1e3)) << describe(b);
            EXPECT_TRUE(near(b->inertiaX, w->sxx - w->sx * cx)) << describe(b);
            EXPECT_TRUE(near(b->inertiaY, w->syy - w->sy * cy)) << describe(b);
        }
    }
    {  // Fill: a small hole takes the value of the run before it as its weight.
        Pixels p = fromText({".....", ".###.", ".#.#.", ".###.", "....."});
        for (auto &v : p.v) v = static_cast<uint8_t>(v * 3);
        const RleImage img(p, true, false);
        ScanSettings s = settingsFor(5, 5);
        s.weighted = true, s.scaleVal = 4, s.connectivityCleanup = 2, s.minArea = 4;
        Scan scan;
        ASSERT_EQ(scan.run(rleSource(img), s), 0);
        const auto blobs = scan.blobs();
        ASSERT_EQ(blobs.size(), 1u);
        EXPECT_EQ(blobs[0]->area, 9 * 3 / 4.0);
        EXPECT_EQ(blobs[0]->centerOfMassX, 2.5);
    }
}

// Follows the label map from a run's label to the region that holds it.
int32_t resolve(const std::vector<int32_t> &map, int32_t label) {
    while (map[static_cast<size_t>(label)] != label) label = -map[static_cast<size_t>(label)];
    return label;
}

TEST(StandardScan, LabelMapAndWideRowLabelsIdentifyEveryBlobsPixels) {
    {  // Two arms joined below: the younger arm's label points at the older one.
        const Pixels p = fromText({"#.#", "#.#", "###"});
        const RleImage img(p, false, true);
        Scan scan;
        ASSERT_EQ(scan.run(rleSource(img), settingsFor(3, 3), true), 0);
        const int32_t *m = nullptr;
        cstd_vector32s_getBeginConst(scan.labelMap, &m);
        EXPECT_EQ(std::make_tuple(m[0], m[1], m[2]), std::make_tuple(0, 1, -1));
    }
    std::mt19937 rng(31);
    for (int i = 0; i < 16; ++i) {
        const bool grey = i % 2 == 1;
        const int w = 10 + static_cast<int>(rng() % 80), h = 5 + static_cast<int>(rng() % 60);
        const double density = 0.15 + 0.7 * (i % 4) / 3.0;
        // The last ones are blocky: rows that repeat the row above.
        const Pixels p =
            i < 12 ? randomPixels(rng, w, h, density, grey ? 3 : 1) : blockyPixels(rng, w, h, density, 2 + i % 3);
        const RleImage img(p, grey, true);
        ScanSettings s = settingsFor(p.w, p.h);
        s.weighted = grey;
        Scan scan;
        ASSERT_EQ(scan.run(rleSource(img), s, true), 0);
        const int32_t *m = nullptr;
        int32_t size = 0;
        cstd_vector32s_getBeginSizeConst(scan.labelMap, &m, &size);
        ASSERT_GE(size, 1000);
        EXPECT_EQ(size % 1000, 0);
        const std::vector<int32_t> map(m, m + size);
        // Pixels and boxes per surviving label, read back from the label slots.
        std::map<int32_t, std::tuple<int64_t, int, int, int, int>> regions;
        for (int y = 0; y < p.h; ++y) {
            const uint8_t *run = cblob::rle::imageRow(img.get(), y)->runs;
            for (int x = 0; x < p.w; run += grey ? 9 : 8) {
                const int32_t len = rletest::getInt32(run + (grey ? 1 : 0));
                const int32_t label = resolve(map, rletest::getInt32(run + (grey ? 5 : 4)));
                auto [it, fresh] = regions.try_emplace(label, 0, x, y, x + len - 1, y);
                auto &[n, l, t, r, b] = it->second;
                n += len, l = std::min(l, x), r = std::max(r, x + len - 1), b = y;
                (void)fresh, (void)t;
                x += len;
            }
        }
        const int32_t *working = nullptr;
        cstd_vector32s_getBeginConst(scan.blobLabels, &working);
        for (const cblob_blob *b : scan.blobs()) {
            const int32_t label = working[b->label];
            EXPECT_EQ(map[static_cast<size_t>(label)], label) << describe(b);
            ASSERT_TRUE(regions.count(label)) << describe(b);
            const auto &[n, l, t, r, bottom] = regions[label];
            if (!grey || b->colour == 0) {
                EXPECT_EQ(static_cast<double>(n), b->area) << describe(b);
            }
            EXPECT_EQ(std::make_tuple(l, t, r - l + 1, bottom - t + 1),
                      std::make_tuple(b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight))
                << describe(b);
            regions.erase(label);
        }
        // What is left is the outer region.
        EXPECT_LE(regions.size(), 1u);
        if (!regions.empty()) {
            EXPECT_EQ(regions.begin()->first, 0);
        }
    }
}

// Isolated dots every other pixel: many blobs, several blocks of them.
Pixels dots(int w, int h) {
    Pixels p{w, h, std::vector<uint8_t>(static_cast<size_t>(w * h))};
    for (int y = 0; y < h; y += 2)
        for (int x = 0; x < w; x += 2) p.v[static_cast<size_t>(y * w + x)] = 1;
    return p;
}

// Rows that merge many regions at once, again and again: combs whose teeth
// meet in a bar, stacked and mirrored, in both colours. Every row then frees
// and reuses many slots of absorbed and completed regions.
TEST(StandardScan, RowsThatMergeManyRegionsMatchTheReference) {
    const int w = 61, h = 48;
    // value(x, y) of each pattern before inversion: 1 object, 0 background.
    const std::vector<std::pair<std::string, std::function<bool(int, int)>>> patterns = {
        {"teeth meet in a bar every 6 rows", [](int x, int y) { return y % 6 == 5 || x % 2 == 0; }},
        {"bars every other row", [](int x, int y) { return y % 2 == 1 || x % 2 == 0; }},
        {"teeth shift by one each block", [](int x, int y) { return y % 4 == 3 || (x + y / 4) % 2 == 0; }},
        {"diagonal teeth", [](int x, int y) { return (x + y) % 3 == 0 || y % 7 == 6; }},
    };
    for (const auto &[name, object] : patterns) {
        for (const bool inverted : {false, true}) {
            Pixels p{w, h, std::vector<uint8_t>(static_cast<size_t>(w * h))};
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) p.v[static_cast<size_t>(y * w + x)] = object(x, y) != inverted ? 1 : 0;
            const RleImage img(p, false, false);
            Scan scan;
            scan.run(rleSource(img), settingsFor(p.w, p.h));
            expectReference(scan, reference(p), name + (inverted ? " (inverted)" : ""));
            expectPoolComplete(scan.pool);
        }
    }
}

TEST(StandardScan, StatusesForBadSources) {
    std::mt19937 rng(2);
    const Window win8(rng, 8, 6, false), win16(rng, 8, 6, true);
    cblob_imageRle noRows;
    cblob_imageRle_construct(&noRows);
    const RleImage smallMask(randomPixels(rng, 7, 6, 0.5), false, false);
    const uint8_t *torvRows[6] = {};
    const cimg_windowConst unbound{0, 0, 8, 6, 8, 8, nullptr};
    struct Case {
        const char *name;
        ScanSource src;
        int32_t scaleVal;
        int32_t status;
    };
    ScanSource base;
    base.window8 = &win8.w;
    std::vector<Case> cases;
    auto add = [&](const char *name, ScanSource src, int32_t status, int32_t scaleVal = 1) {
        cases.push_back({name, src, scaleVal, status});
    };
    ScanSource s = base;
    s.maskIsRleOrTorv = true;
    add("mask missing", s, cblob_err_maskMissing);
    s = base, s.window8 = nullptr, s.window16 = &win16.w, s.torvMaskRows = torvRows, s.maskIsRleOrTorv = true;
    add("torv with 16 bits", s, cblob_err_torvMask16Bit);
    s = base, s.maskRle = &noRows, s.maskIsRleOrTorv = true;
    add("mask without rows", s, cblob_err_rleImageNoRows);
    s = base, s.maskRle = smallMask.get(), s.maskIsRleOrTorv = true;
    add("mask of another size", s, cblob_err_maskGeometryMismatch);
    s = base, s.window8 = &unbound;
    add("unbound window", s, cblob_err_imageUnbound);
    add("scale value 0", base, cblob_err_badScaleVal, 0);
    for (const Case &c : cases) {
        ScanSettings settings = settingsFor(8, 6);
        settings.scaleVal = c.scaleVal;
        Scan scan;
        EXPECT_EQ(scan.run(c.src, settings), c.status) << c.name;
        EXPECT_EQ(scan.rs.numBlobs, 0) << c.name;
    }
}

TEST(StandardScan, AllocationFailuresAndCancellationLeaveNothingBehind) {
    std::mt19937 rng(41);
    const Pixels random = randomPixels(rng, 40, 30, 0.5, 3);
    const Pixels manyBlobs = dots(70, 60);  // > 1000 blobs: a second block is appended mid-scan
    const double h[9] = {1.0, 0.1, 0.0, 0.0, 1.0, 0.0, 0.001, 0.0, 1.0};
    cmath_xformPtrhConst perspective;
    ASSERT_EQ(cmath_xformPtrhConst_constructPerspective(&perspective, h), 0);
    for (int variant = 0; variant < 3; ++variant) {
        const Pixels &p = variant == 1 ? manyBlobs : random;
        const RleImage img(p, variant == 2, true);
        const auto operation = [&] {
            ScanSettings s = settingsFor(p.w, p.h);
            s.weighted = variant == 2;
            s.connectivityCleanup = variant == 1 ? 0 : 1 + variant / 2;
            s.minArea = 3;
            if (variant == 0) s.xformKind = ScanXformKind::nonLinear, s.xform = &perspective;
            Scan scan;
            return scan.run(rleSource(img), s, true, 10, variant != 1);
        };
        const auto report = cblobtest::expectCleanUnderAllocationFailures(operation);
        EXPECT_GT(report.failuresInjected, 5) << variant;
    }
    cmath_xformPtrhConst_destruct(&perspective);

    const Window win(rng, 33, 100, false);
    const auto operation = [&] {
        ScanSource src;
        src.window8 = &win.w;
        src.thresh = 100;
        Scan scan;
        return scan.run(src, settingsFor(33, 100));
    };
    EXPECT_EQ(cblobtest::expectCleanUnderCancellation(operation), 4);  // rows 0, 32, 64, 96
}

}  // namespace
