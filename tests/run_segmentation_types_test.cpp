// Whole runs under every valued segmentation type (soft threshold, map,
// threshold image, none), 8- and 16-bit: each pixel's value is computed here
// by a per-pixel model, and the blobs must be the connected components of
// the non-zero pixels, objects weighing their values (area = sum of values /
// scaleVal) and holes their pixel count.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <random>
#include <tuple>
#include <vector>

#include "cblob/cblob.h"
#include "support/blob_reference.hpp"
#include "support/run_support.hpp"

namespace {

using runtest::GreyImage;
using runtest::Params;
using runtest::Results;

// Blocky random values, so that regions span several rows and columns.
std::vector<uint16_t> blockyValues(int width, int height, int maxValue, std::mt19937 &random) {
    std::uniform_int_distribution<int> value(0, maxValue);
    std::vector<uint16_t> cells(static_cast<size_t>((width / 3 + 1) * (height / 3 + 1)));
    for (auto &c : cells) c = static_cast<uint16_t>(value(random));
    std::vector<uint16_t> values(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            values[static_cast<size_t>(y) * width + x] = cells[static_cast<size_t>((y / 3) * (width / 3 + 1) + x / 3)];
    return values;
}

// What the blobs should be: boxes of objects and holes, hole areas, and the
// objects' total weighted area.
struct Expected {
    std::vector<std::tuple<int, int, int, int, int>> boxes;  // colour, left, top, width, height
    std::vector<double> holeAreas;
    double objectArea = 0;
};

Expected expectedFrom(const std::vector<uint8_t> &segmented, int width, int height, int scaleVal) {
    std::vector<uint8_t> objects(segmented.size());
    Expected e;
    for (size_t i = 0; i < segmented.size(); ++i) {
        objects[i] = segmented[i] != 0;
        e.objectArea += static_cast<double>(segmented[i]) / scaleVal;
    }
    for (const auto &b : cblobtest::referenceBlobs(objects, width, height).blobs) {
        e.boxes.emplace_back(b.colour, b.left, b.top, b.width, b.height);
        if (!b.colour) e.holeAreas.push_back(static_cast<double>(b.area));
    }
    std::sort(e.boxes.begin(), e.boxes.end());
    std::sort(e.holeAreas.begin(), e.holeAreas.end());
    return e;
}

void expectBlobs(const cblob_resultSet &rs, const Expected &e, const char *what) {
    Expected got;
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        got.boxes.emplace_back(b->colour, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight);
        if (b->colour)
            got.objectArea += b->area;
        else
            got.holeAreas.push_back(b->area);
    }
    std::sort(got.boxes.begin(), got.boxes.end());
    std::sort(got.holeAreas.begin(), got.holeAreas.end());
    EXPECT_EQ(got.boxes, e.boxes) << what;
    EXPECT_EQ(got.holeAreas, e.holeAreas) << what;
    EXPECT_NEAR(got.objectArea, e.objectArea, 1e-9 * (1 + e.objectArea)) << what;
}

TEST(RunSegmentationTypes, EveryValuedTypeMatchesThePerPixelModel) {
    std::mt19937 random(7);
    const int width = 61, height = 37;
    for (int bits : {8, 16}) {
        const int maxPel = bits == 8 ? 255 : 65535;
        const int tableSize = maxPel + 1;
        for (int round = 0; round < 3; ++round) {
            GreyImage input(width, height, bits, blockyValues(width, height, maxPel, random));
            std::vector<uint16_t> threshValues = blockyValues(width, height, 200, random);
            GreyImage threshImage(width, height, bits, threshValues);
            std::uniform_int_distribution<int> small(0, 3);
            std::vector<uint8_t> map(static_cast<size_t>(tableSize)), postMap(256);
            for (auto &m : map) m = static_cast<uint8_t>(small(random) == 0 ? 0 : 1 + small(random));
            for (auto &m : postMap) m = static_cast<uint8_t>(small(random));
            std::vector<uint8_t> threshMap8(256);
            std::vector<uint16_t> threshMap16(65536);
            for (auto &t : threshMap8) t = static_cast<uint8_t>(random() % 256);
            for (auto &t : threshMap16) t = static_cast<uint16_t>(random() % 256);

            struct Type {
                const char *name;
                int scaleVal;
                std::function<int32_t(cblob_runParams *)> set;
                std::function<uint8_t(int x, int y, int v)> model;
            };
            const int low = maxPel / 3, high = maxPel / 3 + 40, softness = 20;
            std::vector<Type> types = {
                {"soft threshold", softness + 1,
                 [&](cblob_runParams *p) {
                     return cblob_runParams_setSegmentationSoftThreshWithSoftness(p, low, high, softness, 0);
                 },
                 [&](int, int, int v) -> uint8_t {
                     if (v < low) return 0;
                     if (v >= high) return softness + 1;
                     return static_cast<uint8_t>(1 + (v - low) * softness / (high - low));
                 }},
                {"map", 4,
                 [&](cblob_runParams *p) { return cblob_runParams_setSegmentationMap(p, 4, map.data(), tableSize); },
                 [&](int, int, int v) { return map[static_cast<size_t>(v)]; }},
                {"threshold image", 3,
                 [&](cblob_runParams *p) {
                     return bits == 8 ? cblob_runParams_setSegmentationThreshImage8(p, 3, threshMap8.data(),
                                                                                    threshImage.image(),
                                                                                    postMap.data(), 256, 256)
                                      : cblob_runParams_setSegmentationThreshImage16(p, 3, threshMap16.data(),
                                                                                     threshImage.image(),
                                                                                     postMap.data(), 65536, 256);
                 },
                 [&](int x, int y, int v) -> uint8_t {
                     const int u = bits == 8 ? threshMap8[static_cast<size_t>(v)] : threshMap16[static_cast<size_t>(v)];
                     const int t = threshImage.at(x, y);
                     return u < t ? 0 : postMap[static_cast<size_t>(u - t)];
                 }},
            };
            if (bits == 8)
                types.push_back({"none", 255, [](cblob_runParams *p) { return cblob_runParams_setSegmentationNone(p, 255); },
                                 [](int, int, int v) { return static_cast<uint8_t>(v); }});
            for (const Type &type : types) {
                Params params;
                ASSERT_EQ(type.set(&params.p), 0) << type.name;
                std::vector<uint8_t> segmented(static_cast<size_t>(width) * height);
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        segmented[static_cast<size_t>(y) * width + x] = type.model(x, y, input.at(x, y));
                Results results;
                const int32_t status = bits == 8 ? cblob_run8(input.image(), nullptr, &params.p, &results.rs)
                                                 : cblob_run16(input.image(), nullptr, &params.p, &results.rs);
                ASSERT_EQ(status, 0) << type.name << " " << bits << "-bit: " << cblob_statusName(status);
                expectBlobs(results.rs, expectedFrom(segmented, width, height, type.scaleVal),
                            (std::string(type.name) + " " + std::to_string(bits) + "-bit").c_str());
            }
        }
    }
}

}  // namespace
