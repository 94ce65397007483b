// The labelled connectivity scan (connectivityType 1) end to end through
// cblob_run8 with segmentation none: regions of equal value, their
// neighbours and their tree against a reference written here (flood fill by
// equal value with 6-connected contacts, adjacency from touching pixel
// pairs, parents by separation from the outer region), on random label
// images and on map segmentations of photographs; the fill and prune
// cleanups on constructed cases; allocation failures and cancellation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "cblob/cblob.h"
#include "support/fault_injection.hpp"
#include "support/run_support.hpp"
#include "support/scan_pixels.hpp"

namespace {

using runtest::GreyImage;
using runtest::Params;
using runtest::Results;

// ------------------------------------------------------------ the reference

struct RefRegion {
    int value = 0;
    int64_t area = 0;
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;  // sums of pixel centres
    std::set<int> neighbours;                          // region indices
    bool border = false;
    int parent = -1;  // region index, -1 for a top-level region
};

struct RefLabels {
    std::vector<RefRegion> regions;
    std::vector<int> owner;  // per pixel
};

// The contacts of a pixel with the pixels after it: right, below, below-right.
constexpr int kForward[3][2] = {{1, 0}, {0, 1}, {1, 1}};

RefLabels referenceLabels(const std::vector<uint16_t> &v, int w, int h) {
    RefLabels out;
    out.owner.assign(static_cast<size_t>(w) * h, -1);
    const int all[6][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}};
    for (int y0 = 0; y0 < h; ++y0) {
        for (int x0 = 0; x0 < w; ++x0) {
            if (out.owner[y0 * w + x0] >= 0) continue;
            const int id = static_cast<int>(out.regions.size());
            RefRegion r;
            r.value = v[y0 * w + x0];
            std::vector<std::pair<int, int>> stack{{x0, y0}};
            out.owner[y0 * w + x0] = id;
            while (!stack.empty()) {
                const auto [x, y] = stack.back();
                stack.pop_back();
                ++r.area;
                r.left = std::min(r.left, x);
                r.right = std::max(r.right, x);
                r.top = std::min(r.top, y);
                r.bottom = std::max(r.bottom, y);
                const double cx = x + 0.5, cy = y + 0.5;
                r.sx += cx;
                r.sy += cy;
                // Exact integrals over the unit square.
                r.sxx += cx * cx + 1.0 / 12;
                r.syy += cy * cy + 1.0 / 12;
                r.sxy += cx * cy;
                for (const auto &d : all) {
                    const int nx = x + d[0], ny = y + d[1];
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                    if (out.owner[ny * w + nx] >= 0 || v[ny * w + nx] != r.value) continue;
                    out.owner[ny * w + nx] = id;
                    stack.push_back({nx, ny});
                }
            }
            out.regions.push_back(r);
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int a = out.owner[y * w + x];
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) out.regions[a].border = true;
            for (const auto &d : kForward) {
                const int nx = x + d[0], ny = y + d[1];
                if (nx >= w || ny >= h) continue;
                const int b = out.owner[ny * w + nx];
                if (a == b) continue;
                out.regions[a].neighbours.insert(b);
                out.regions[b].neighbours.insert(a);
            }
        }
    }
    return out;
}

// Parents: the regions whose removal cuts a region off the outer region
// (node -1 here, next to every border region) separate it; its parent is
// the nearest of them, the one that leaves it the fewest regions to reach.
void referenceParents(RefLabels &ref) {
    const int n = static_cast<int>(ref.regions.size());
    auto reach = [&](int from, int removed, bool *outer) {
        std::vector<char> seen(n, 0);
        std::vector<int> stack{from};
        seen[from] = 1;
        int count = 0;
        *outer = false;
        while (!stack.empty()) {
            const int r = stack.back();
            stack.pop_back();
            ++count;
            if (ref.regions[r].border) *outer = true;
            for (int q : ref.regions[r].neighbours) {
                if (q == removed || seen[q]) continue;
                seen[q] = 1;
                stack.push_back(q);
            }
        }
        return count;
    };
    for (int r = 0; r < n; ++r) {
        int best = -1, bestCount = n + 1;
        for (int p = 0; p < n; ++p) {
            if (p == r) continue;
            bool outer = false;
            const int count = reach(r, p, &outer);
            if (!outer && count < bestCount) {
                best = p;
                bestCount = count;
            }
        }
        ref.regions[r].parent = best;
    }
}

// ---------------------------------------------------------------- the runs

// Runs the labelled scan over an 8-bit label image.
int32_t runLabelled(const GreyImage &img, cblob_resultSet *rs, int32_t cleanup = 0, int32_t minArea = 0,
                    int32_t topology = 1, int32_t keepBlobImages = 0) {
    Params params;
    int32_t status = cblob_runParams_setSegmentationNone(&params.p, 1);
    params.p.connectivityType = cblob_connectivityLabelled;
    params.p.connectivityCleanup = cleanup;
    params.p.minArea = minArea;
    params.p.computeTopology = topology;
    params.p.keepBlobImages = keepBlobImages;
    if (!CBLOB_FAILED(status)) status = cblob_run8(img.image(), nullptr, &params.p, rs);
    return status;
}

const cblob_blobAdjacency &adjacency(const cblob_blob *b) {
    return *static_cast<const cblob_blobAdjacency *>(b->adjacencyHolder);
}

// Compares the result set with the reference: one blob per region (found by
// value, box and area), its statistics, neighbours, border contact and
// parent; labels 1..n; the tree's child lists.
void expectMatches(const cblob_resultSet &rs, const RefLabels &ref, bool checkParents, const GreyImage &img) {
    ASSERT_EQ(rs.numBlobs, static_cast<int32_t>(ref.regions.size()));
    std::map<std::tuple<int, int, int, int, int, int64_t>, int> byKey;
    for (size_t i = 0; i < ref.regions.size(); ++i) {
        const RefRegion &r = ref.regions[i];
        byKey[{r.value, r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1, r.area}] = static_cast<int>(i);
    }
    std::vector<int> regionOf(rs.numBlobs + 1, -1);
    std::vector<const cblob_blob *> blobOf(ref.regions.size(), nullptr);
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        ASSERT_EQ(b->label, i + 1);
        auto it = byKey.find({b->colour, b->boxLeft - img.originX(), b->boxTop - img.originY(), b->boxWidth,
                              b->boxHeight, static_cast<int64_t>(std::llround(b->area))});
        ASSERT_NE(it, byKey.end()) << "blob " << b->label << " matches no region";
        ASSERT_EQ(blobOf[it->second], nullptr) << "two blobs for one region";
        blobOf[it->second] = b;
        regionOf[b->label] = it->second;
    }
    for (size_t i = 0; i < ref.regions.size(); ++i) {
        const RefRegion &r = ref.regions[i];
        const cblob_blob *b = blobOf[i];
        ASSERT_NE(b, nullptr);
        const double n = static_cast<double>(r.area);
        const double mx = r.sx / n, my = r.sy / n;
        EXPECT_NEAR(b->centerOfMassX, mx + img.originX(), 1e-9 * (1 + std::fabs(mx)));
        EXPECT_NEAR(b->centerOfMassY, my + img.originY(), 1e-9 * (1 + std::fabs(my)));
        const double ixx = r.sxx - n * mx * mx, iyy = r.syy - n * my * my;
        EXPECT_NEAR(b->inertiaX, ixx, 1e-6 * (1 + std::fabs(ixx)));
        EXPECT_NEAR(b->inertiaY, iyy, 1e-6 * (1 + std::fabs(iyy)));
        EXPECT_EQ(b->momentsValid, 1);
        const cblob_blobAdjacency &adj = adjacency(b);
        std::set<int> got;
        for (int32_t k = 0; k < adj.numNeighbours; ++k) {
            if (k > 0) {
                EXPECT_LT(adj.neighbours[k - 1]->label, adj.neighbours[k]->label);
            }
            got.insert(regionOf[adj.neighbours[k]->label]);
        }
        EXPECT_EQ(got, r.neighbours) << "neighbours of blob " << b->label;
        EXPECT_EQ(adj.touchesBorder != 0, r.border) << "blob " << b->label;
        if (checkParents) {
            const cblob_blob *want = r.parent >= 0 ? blobOf[r.parent] : nullptr;
            EXPECT_EQ(b->parent, want) << "parent of blob " << b->label;
        }
    }
    if (checkParents) {
        EXPECT_TRUE(scantest::consistentTree(rs, std::vector<cblob_blob *>(rs.allBlobs, rs.allBlobs + rs.numBlobs)));
    }
}

std::vector<uint16_t> randomLabels(std::mt19937 &rng, int w, int h, int values, int cell) {
    std::uniform_int_distribution<int> pick(0, values - 1);
    const int cw = (w + cell - 1) / cell;
    const int ch = (h + cell - 1) / cell;
    std::vector<int> cells(static_cast<size_t>(cw) * ch);
    for (int &c : cells) c = pick(rng);
    std::vector<uint16_t> v(static_cast<size_t>(w) * h);
    std::uniform_real_distribution<double> noise(0, 1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            v[y * w + x] = static_cast<uint16_t>(noise(rng) < 0.15 ? pick(rng) : cells[(y / cell) * cw + x / cell]);
        }
    }
    return v;
}

// ------------------------------------------------------------------ tests

TEST(LabelledScan, RandomLabelImagesMatchTheReference) {
    std::mt19937 rng(20);
    struct Case {
        int w, h, values, cell;
    } cases[] = {{1, 1, 1, 1},   {5, 1, 3, 1},   {1, 7, 2, 1},   {12, 9, 2, 1},  {17, 13, 3, 2},
                 {30, 20, 2, 3}, {25, 25, 5, 1}, {40, 30, 8, 4}, {33, 31, 256, 1}, {64, 48, 4, 5}};
    int withParents = 0;
    for (const Case &c : cases) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " values " + std::to_string(c.values) +
                         " cell " + std::to_string(c.cell) + " round " + std::to_string(round));
            const std::vector<uint16_t> v = randomLabels(rng, c.w, c.h, c.values, c.cell);
            const GreyImage img(c.w, c.h, 8, v, round * 7, round * 3, round);
            RefLabels ref = referenceLabels(v, c.w, c.h);
            const bool parents = ref.regions.size() <= 150;
            if (parents) referenceParents(ref);
            withParents += parents;
            Results res;
            ASSERT_EQ(runLabelled(img, &res.rs), 0);
            expectMatches(res.rs, ref, parents, img);
        }
    }
    EXPECT_GE(withParents, 15);
}

// Map segmentations of photographs: grey values quantised to a few levels,
// on crops small enough for the reference's tree and on the whole image for
// the regions and their neighbours.
TEST(LabelledScan, MapSegmentationsOfPhotographs) {
    const std::string dir = CBLOB_SHARED_DATA_DIR;
    int tested = 0, trees = 0;
    for (const char *name : {"coins.png", "text.png", "cell.png", "stars.png"}) {
        int w = 0, h = 0;
        std::vector<uint16_t> grey;
        if (!runtest::readPngGrey(dir + "/" + name, &w, &h, &grey)) continue;
        ++tested;
        for (int levels : {3, 6}) {
            SCOPED_TRACE(std::string(name) + " levels " + std::to_string(levels));
            std::vector<uint16_t> q(grey.size());
            for (size_t i = 0; i < grey.size(); ++i) q[i] = static_cast<uint16_t>(grey[i] * levels / 256);
            {
                const GreyImage img(w, h, 8, q);
                const RefLabels ref = referenceLabels(q, w, h);
                Results res;
                ASSERT_EQ(runLabelled(img, &res.rs), 0);
                expectMatches(res.rs, ref, false, img);
            }
            // A crop with a few hundred regions at most, for the tree.
            for (int size = 96; size >= 16; size /= 2) {
                const int x0 = w / 3, y0 = h / 3;
                const int cw = std::min(size, w - x0), chh = std::min(size, h - y0);
                std::vector<uint16_t> crop(static_cast<size_t>(cw) * chh);
                for (int y = 0; y < chh; ++y) {
                    for (int x = 0; x < cw; ++x) crop[y * cw + x] = q[(y0 + y) * w + x0 + x];
                }
                RefLabels ref = referenceLabels(crop, cw, chh);
                if (ref.regions.size() > 150) continue;
                referenceParents(ref);
                const GreyImage img(cw, chh, 8, crop);
                Results res;
                ASSERT_EQ(runLabelled(img, &res.rs), 0);
                expectMatches(res.rs, ref, true, img);
                ++trees;
                break;
            }
        }
    }
    if (tested == 0) GTEST_SKIP() << "no photographs in " << dir;
    EXPECT_GE(trees, tested);
}

GreyImage fromRows(const std::vector<std::string> &rows) {
    const int w = static_cast<int>(rows[0].size());
    std::vector<uint16_t> v;
    for (const std::string &r : rows) {
        for (char c : r) v.push_back(static_cast<uint16_t>(c - '0'));
    }
    return GreyImage(w, static_cast<int>(rows.size()), 8, v);
}

// Constructed cases, one blob per value: nesting, the fill and prune
// cleanups, and a run without topology.
TEST(LabelledScan, ConstructedCasesGiveTheirBlobs) {
    struct Want {
        int value, area, parentValue, children, neighbours;  // parentValue -1: top level
        int left, top, width, height;
    };
    struct Case {
        const char *name;
        std::vector<std::string> rows;
        int32_t cleanup, minArea, topology;
        int firstValue;  // the value of blob 1 (the first completed), -1 unchecked
        std::vector<Want> blobs;
    };
    const std::string ones(20, '1'), twos(20, '2'), threes(20, '3');
    auto stripes = [](std::vector<std::pair<std::string, int>> bands) {
        std::vector<std::string> rows;
        for (const auto &[row, count] : bands) rows.insert(rows.end(), static_cast<size_t>(count), row);
        return rows;
    };
    const Case cases[] = {
        {"nested regions are children, innermost completed first",
         {"0000000", "0111110", "0122210", "0123210", "0122210", "0111110", "0000000"}, 0, 0, 1, 3,
         {{0, 24, -1, 1, 1, 0, 0, 7, 7}, {1, 16, 0, 1, 2, 1, 1, 5, 5}, {2, 8, 1, 1, 2, 2, 2, 3, 3},
          {3, 1, 2, 0, 1, 3, 3, 1, 1}}},
        {"fill merges a small stripe and the stripes it separated",
         stripes({{ones, 10}, {twos, 2}, {ones, 10}}), cblob_connectivityCleanupFill, 50, 1, 1,
         {{1, 440, -1, 0, 0, 0, 0, 20, 22}}},
        {"fill gives a small region to its larger neighbour",
         stripes({{ones, 5}, {twos, 2}, {threes, 10}}), cblob_connectivityCleanupFill, 50, 1, -1,
         {{1, 100, -1, 0, 1, 0, 0, 20, 5}, {3, 240, -1, 0, 1, 0, 5, 20, 12}}},
        {"fill drops a small region alone", {"7777", "7777", "7777"}, cblob_connectivityCleanupFill, 50, 1, -1, {}},
        {"fill of small islands rebuilds the tree", {"000000000", "011111110", "012111310", "011111110", "000000000"},
         cblob_connectivityCleanupFill, 2, 1, -1, {{0, 24, -1, 1, 1, 0, 0, 9, 5}, {1, 21, 0, 0, 1, 1, 1, 7, 3}}},
        {"prune drops the island, then the ring that enclosed only it", {"00000", "01110", "01210", "01110", "00000"},
         cblob_connectivityCleanupPrune, 9, 1, -1, {{0, 16, -1, 0, 0, 0, 0, 5, 5}}},
        {"prune drops the island only", {"00000", "01110", "01210", "01110", "00000"}, cblob_connectivityCleanupPrune,
         2, 1, -1, {{0, 16, -1, 1, 1, 0, 0, 5, 5}, {1, 8, 0, 0, 1, 1, 1, 3, 3}}},
        {"without topology no links", {"000", "010", "000"}, 0, 0, 0, -1,
         {{0, 8, -1, 0, 1, 0, 0, 3, 3}, {1, 1, -1, 0, 1, 1, 1, 1, 1}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const GreyImage img = fromRows(c.rows);
        Results res;
        ASSERT_EQ(runLabelled(img, &res.rs, c.cleanup, c.minArea, c.topology), 0);
        ASSERT_EQ(res.rs.numBlobs, static_cast<int32_t>(c.blobs.size()));
        std::map<int, const cblob_blob *> byValue;
        for (int32_t i = 0; i < res.rs.numBlobs; ++i) {
            EXPECT_EQ(res.rs.allBlobs[i]->label, i + 1);
            byValue[res.rs.allBlobs[i]->colour] = res.rs.allBlobs[i];
        }
        if (c.firstValue >= 0) {
            EXPECT_EQ(res.rs.allBlobs[0]->colour, c.firstValue);
        }
        for (const Want &w : c.blobs) {
            ASSERT_EQ(byValue.count(w.value), 1u) << "value " << w.value;
            const cblob_blob *b = byValue[w.value];
            EXPECT_EQ(b->area, w.area) << "value " << w.value;
            EXPECT_EQ(b->parent, w.parentValue < 0 ? nullptr : byValue[w.parentValue]) << "value " << w.value;
            EXPECT_EQ(b->numChildren, w.children) << "value " << w.value;
            EXPECT_EQ(adjacency(b).numNeighbours, w.neighbours) << "value " << w.value;
            EXPECT_EQ(std::make_tuple(b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight),
                      std::make_tuple(w.left, w.top, w.width, w.height))
                << "value " << w.value;
            // Exact centres of uniform regions that fill their box.
            if (w.area == w.width * w.height) {
                EXPECT_DOUBLE_EQ(b->centerOfMassY, w.top + w.height / 2.0) << "value " << w.value;
            }
        }
        const cblob_blob *top = res.rs.firstTopLevelBlob;
        EXPECT_EQ(top != nullptr, c.topology && !c.blobs.empty());
        if (top) {
            EXPECT_EQ(top->parent, nullptr);
        }
    }
}

TEST(LabelledScan, BinaryRunsAndCopies) {
    // A hard threshold gives binary runs: the labelled scan then finds the
    // regions of each colour, 6-connected.
    const GreyImage img = fromRows({"00000", "09990", "09090", "09990", "00000"});
    Params params;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 5, 0), 0);
    params.p.connectivityType = cblob_connectivityLabelled;
    Results res;
    ASSERT_EQ(cblob_run8(img.image(), nullptr, &params.p, &res.rs), 0);
    ASSERT_EQ(res.rs.numBlobs, 3);
    EXPECT_EQ(res.rs.allBlobs[0]->colour, 0);  // the hole, completed first
    EXPECT_EQ(res.rs.allBlobs[0]->parent, res.rs.allBlobs[1]);
    // A copy has blobs but no neighbours.
    Results copy;
    ASSERT_EQ(cblob_resultSet_assign(&copy.rs, &res.rs), 0);
    ASSERT_EQ(copy.rs.numBlobs, 3);
    EXPECT_EQ(copy.rs.allBlobs[0]->adjacencyHolder, nullptr);
}

// The pixels of every blob, rendered from its runs: 1 where the blob is,
// per pixel of the image (-1: no blob).
std::vector<int> ownersFromBlobImages(const cblob_resultSet &rs, int w, int h, int ox, int oy) {
    std::vector<int> owner(static_cast<size_t>(w) * h, -1);
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        cblob_blob *b = rs.allBlobs[i];
        cimg_image out;
        EXPECT_EQ(cimg_image_constructUnbound(&out, 8), 0);
        EXPECT_EQ(cblob_blob_getBlobImage(b, &out), 0);
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                if (!out.pels[static_cast<size_t>(y) * out.strideBytes + x]) continue;
                int &o = owner[static_cast<size_t>(b->boxTop - oy + y) * w + (b->boxLeft - ox + x)];
                EXPECT_EQ(o, -1) << "a pixel in two blobs";
                o = b->label;
            }
        }
        cimg_image_destruct(&out);
    }
    return owner;
}

// Per-blob runs: every blob's rows hold exactly the pixels of its region,
// also after the fill merged regions (the merged pixels are the survivor's)
// and after the prune dropped some (their pixels are no blob's).
TEST(LabelledScan, BlobRunsHoldTheRegionsPixels) {
    std::mt19937 rng(11);
    for (int32_t cleanup : {0, 1, 2}) {
        SCOPED_TRACE(cleanup);
        const int w = 37, h = 29;
        const std::vector<uint16_t> v = randomLabels(rng, w, h, 4, 3);
        const GreyImage img(w, h, 8, v, 5, 9);
        Results res;
        ASSERT_EQ(runLabelled(img, &res.rs, cleanup, 6, 1, 1), 0);
        const std::vector<int> owner = ownersFromBlobImages(res.rs, w, h, 5, 9);
        // Each blob's pixels: as many as its area, of its value, touching
        // only pixels of other blobs or of none across its border.
        std::map<int, int64_t> pixels;
        for (int i = 0; i < w * h; ++i) {
            if (owner[i] < 0) continue;
            ++pixels[owner[i]];
            if (cleanup == 0) {
                EXPECT_EQ(v[i], res.rs.allBlobs[owner[i] - 1]->colour);
            }
        }
        int64_t covered = 0;
        for (int32_t i = 0; i < res.rs.numBlobs; ++i) {
            EXPECT_EQ(static_cast<double>(pixels[i + 1]), res.rs.allBlobs[i]->area) << "blob " << i + 1;
            covered += pixels[i + 1];
        }
        if (cleanup != 1) {
            EXPECT_EQ(covered, w * h);
        }
        if (cleanup == 0) {
            // Without cleanup, exactly the reference's regions.
            const RefLabels ref = referenceLabels(v, w, h);
            std::map<int, int> blobOfRegion;
            for (int i = 0; i < w * h; ++i) {
                auto [it, fresh] = blobOfRegion.insert({ref.owner[i], owner[i]});
                EXPECT_EQ(it->second, owner[i]);
            }
            EXPECT_EQ(static_cast<int32_t>(blobOfRegion.size()), res.rs.numBlobs);
        }
    }
}

TEST(LabelledScan, AllocationFailuresAndCancellation) {
    std::mt19937 rng(7);
    const std::vector<uint16_t> v = randomLabels(rng, 48, 40, 5, 3);
    const GreyImage img(48, 40, 8, v);
    for (int32_t cleanup : {0, 1, 2}) {
        SCOPED_TRACE(cleanup);
        const auto run = [&]() -> int32_t {
            cblob_resultSet rs;
            int32_t status = cblob_resultSet_construct(&rs);
            if (CBLOB_FAILED(status)) return status;
            status = runLabelled(img, &rs, cleanup, 4, 1, cleanup == 2 ? 1 : 0);
            const int32_t destructed = cblob_resultSet_destruct(&rs);
            return CBLOB_FAILED(status) ? status : destructed;
        };
        const cblobtest::FaultInjectionReport report = cblobtest::expectCleanUnderAllocationFailures(run);
        EXPECT_GT(report.failuresInjected, 5);
        EXPECT_GT(cblobtest::expectCleanUnderCancellation(run), 2);
    }
}

}  // namespace
