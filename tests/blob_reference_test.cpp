// The flood-fill reference of the blob tests must itself be right: these are
// the cases whose answers are known by hand.
#include <gtest/gtest.h>

#include "support/blob_reference.hpp"

namespace {

using cblobtest::RefOptions;
using cblobtest::referenceBlobs;

std::vector<uint8_t> parse(const std::vector<std::string> &rows) {
    std::vector<uint8_t> pixels;
    for (const std::string &row : rows)
        for (char c : row) pixels.push_back(c == '#' ? 1 : 0);
    return pixels;
}

TEST(BlobReference, KnownScenes) {
    struct Case {
        const char *name;
        std::vector<std::string> rows;
        RefOptions options;
        int objects, holes;
    } cases[] = {
        {"empty", {"....", "...."}, {}, 0, 0},
        {"corner-touching objects are one blob", {"#.", ".#"}, {}, 1, 0},
        {"corner-touching holes are two", {"####", "#.##", "##.#", "####"}, {}, 1, 2},
        {"border background is never a hole", {"#.#", "#.#", "###"}, {}, 1, 0},
        {"ring", {".....", ".###.", ".#.#.", ".###.", "....."}, {}, 1, 1},
        {"prune keeps a small object with a hole",
         {"#######", "#.....#", "#.....#", "#.....#", "#.....#", "#.....#", "#######"}, {1, 25}, 1, 1},
        {"prune drops a small hole, then its small parent", {"###", "#.#", "###"}, {1, 20}, 0, 0},
        {"prune drops small childless objects", {"#..#", "...."}, {1, 2}, 0, 0},
        {"fill removes a small hole", {"###", "#.#", "###"}, {2, 2}, 1, 0},
    };
    for (const Case &c : cases) {
        const int width = static_cast<int>(c.rows[0].size()), height = static_cast<int>(c.rows.size());
        const auto result = referenceBlobs(parse(c.rows), width, height, c.options);
        int objects = 0, holes = 0;
        for (const auto &b : result.blobs) (b.colour ? objects : holes)++;
        EXPECT_EQ(objects, c.objects) << c.name;
        EXPECT_EQ(holes, c.holes) << c.name;
    }
}

TEST(BlobReference, RingTreeAndMoments) {
    const auto result = referenceBlobs(parse({"###", "#.#", "###"}), 3, 3, {0, 0, 10, 20});
    ASSERT_EQ(result.blobs.size(), 2u);
    const auto &ring = result.blobs[0].colour ? result.blobs[0] : result.blobs[1];
    const auto &hole = result.blobs[0].colour ? result.blobs[1] : result.blobs[0];
    EXPECT_EQ(ring.parent, -1);
    EXPECT_EQ(ring.numChildren, 1);
    EXPECT_EQ(&result.blobs[static_cast<size_t>(hole.parent)], &ring);
    EXPECT_EQ(ring.area, 8);
    EXPECT_DOUBLE_EQ(ring.centerX, 11.5);
    EXPECT_DOUBLE_EQ(ring.centerY, 21.5);
    // Eight unit squares around the centre: six at |dx| = 1, each contributing
    // 1 + 1/12, two at dx = 0 contributing 1/12.
    EXPECT_NEAR(ring.mxx, 6.0 + 8.0 / 12.0, 1e-12);
    EXPECT_NEAR(ring.mxy, 0.0, 1e-12);
    EXPECT_EQ(hole.area, 1);
    EXPECT_NEAR(hole.mxx, 1.0 / 12.0, 1e-12);
    // The fill mode gives the hole's pixel to the ring.
    const auto filled = referenceBlobs(parse({"###", "#.#", "###"}), 3, 3, {2, 2, 0, 0});
    ASSERT_EQ(filled.blobs.size(), 1u);
    EXPECT_EQ(filled.blobs[0].area, 9);
    EXPECT_EQ(filled.blobs[0].numChildren, 0);
}

}  // namespace
