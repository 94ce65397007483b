// The `cblob` command's --labelled and --neighbours on generated label
// images: every region with its value and neighbours as the C interface
// gives them, in CSV, JSON and the table, for 8- and 16-bit images; and the
// usage errors.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "support/tool_support.hpp"

namespace {

using tooltest::Outcome;
using tooltest::Scratch;

// 8 bits when `sixteen` is not set.
void writeLabels(const Scratch &s, const std::string &name, int w, int h, const std::vector<int> &v, bool sixteen) {
    tooltest::writePgm(s.path(name), std::vector<uint16_t>(v.begin(), v.end()), w, h, sixteen ? 65535 : 255);
}

// Voronoi-like label image: each pixel takes the value of its nearest seed.
std::vector<int> voronoi(std::mt19937 &rng, int w, int h, int seeds, const std::vector<int> &values) {
    std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1);
    std::uniform_int_distribution<size_t> pv(0, values.size() - 1);
    std::vector<int> sx(seeds), sy(seeds), sv(seeds);
    for (int i = 0; i < seeds; ++i) {
        sx[i] = px(rng);
        sy[i] = py(rng);
        sv[i] = values[pv(rng)];
    }
    std::vector<int> out(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int best = 0;
            long bestD = -1;
            for (int i = 0; i < seeds; ++i) {
                const long d = static_cast<long>(x - sx[i]) * (x - sx[i]) + static_cast<long>(y - sy[i]) * (y - sy[i]);
                if (bestD < 0 || d < bestD) {
                    bestD = d;
                    best = i;
                }
            }
            out[y * w + x] = sv[best];
        }
    }
    return out;
}

// What the library gives for the image: per label, "value|neighbours|border".
std::map<int, std::string> libraryRegions(int w, int h, const std::vector<int> &v) {
    // The tool numbers 16-bit values in ascending order; the regions and
    // their neighbours do not depend on the numbering, only the value does.
    std::map<int, int> rank;
    for (int value : v) rank[value] = 0;
    std::vector<int> valueOf;
    for (auto &[value, r] : rank) {
        r = static_cast<int>(valueOf.size());
        valueOf.push_back(value);
    }
    std::vector<uint8_t> pixels(v.size());
    for (size_t i = 0; i < v.size(); ++i) pixels[i] = static_cast<uint8_t>(rank[v[i]]);
    cimg_image image;
    cimg_image_constructUnbound(&image, 8);
    cimg_image_initFromBuffer(&image, pixels.data(), 8, w, h, w, 0, 0);
    cblob_runParams p;
    cblob_runParams_construct(&p);
    cblob_runParams_setSegmentationNone(&p, 1);
    p.connectivityType = cblob_connectivityLabelled;
    cblob_resultSet rs;
    cblob_resultSet_construct(&rs);
    std::map<int, std::string> out;
    EXPECT_EQ(cblob_run8(&image, nullptr, &p, &rs), 0);
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        const auto *adj = static_cast<const cblob_blobAdjacency *>(b->adjacencyHolder);
        std::string text = std::to_string(valueOf[b->colour]) + "|";
        for (int32_t k = 0; k < adj->numNeighbours; ++k) text += (k ? ";" : "") + std::to_string(adj->neighbours[k]->label);
        out[b->label] = text + "|" + (adj->touchesBorder ? "1" : "0");
    }
    cblob_resultSet_destruct(&rs);
    cblob_runParams_destruct(&p);
    cimg_image_destruct(&image);
    return out;
}

std::vector<std::string> split(const std::string &line, char separator) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, separator)) fields.push_back(field);
    if (!line.empty() && line.back() == separator) fields.push_back("");
    return fields;
}

TEST(LabelledTool, RegionsAndNeighboursInEveryFormat) {
    Scratch s;
    std::mt19937 rng(3);
    struct Case {
        const char *name;
        bool sixteen;
        std::vector<int> values;
    } cases[] = {{"labels8.pgm", false, {0, 1, 2, 7, 200}}, {"labels16.pgm", true, {0, 300, 40000, 65535}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int w = 70, h = 50;
        const std::vector<int> v = voronoi(rng, w, h, 40, c.values);
        writeLabels(s, c.name, w, h, v, c.sixteen);
        const std::map<int, std::string> want = libraryRegions(w, h, v);
        ASSERT_GT(want.size(), 10u);

        const Outcome csv = tooltest::runTool(s, "analyze " + s.path(c.name) + " --labelled --neighbours --csv");
        ASSERT_EQ(csv.exitCode, 0) << csv.err;
        std::stringstream lines(csv.out);
        std::string line;
        std::getline(lines, line);
        const std::vector<std::string> header = split(line, ',');
        ASSERT_EQ(header.back(), "touches_border");
        std::map<int, std::string> got;
        while (std::getline(lines, line)) {
            const std::vector<std::string> f = split(line, ',');
            ASSERT_EQ(f.size(), header.size()) << line;
            got[std::stoi(f[3])] = f[4] + "|" + f[f.size() - 2] + "|" + f.back();
        }
        EXPECT_EQ(got, want);

        const Outcome json = tooltest::runTool(s, "analyze " + s.path(c.name) + " --labelled --neighbours --json");
        ASSERT_EQ(json.exitCode, 0) << json.err;
        for (const auto &[label, text] : want) {
            const std::vector<std::string> parts = split(text, '|');
            std::string spaced;  // the neighbour list as JSON writes it
            for (char ch : parts[1]) spaced += ch == ';' ? std::string(", ") : std::string(1, ch);
            const std::string expect = "\"label\": " + std::to_string(label) + ", \"colour\": " + parts[0] + ",";
            EXPECT_NE(json.out.find(expect), std::string::npos) << expect;
            EXPECT_NE(json.out.find("\"neighbours\": [" + spaced + "], \"touches_border\": " +
                                    (parts[2] == "1" ? "true" : "false")),
                      std::string::npos)
                << label;
        }
        const Outcome table = tooltest::runTool(s, "analyze " + s.path(c.name) + " --labelled --neighbours");
        ASSERT_EQ(table.exitCode, 0) << table.err;
        EXPECT_NE(table.out.find("neighbours"), std::string::npos);
        EXPECT_EQ(static_cast<size_t>(std::count(table.out.begin(), table.out.end(), '\n')), want.size() + 2);
    }
}

TEST(LabelledTool, UsageErrors) {
    Scratch s;
    writeLabels(s, "l.pgm", 3, 1, {0, 1, 2}, false);
    std::vector<int> many(300);
    for (int i = 0; i < 300; ++i) many[i] = i * 7;
    writeLabels(s, "many.pgm", 300, 1, many, true);
    struct Row {
        std::string args;
        int code;
        const char *message;
    } rows[] = {
        {"analyze " + s.path("l.pgm") + " --neighbours", 2, "--neighbours needs --labelled"},
        {"analyze " + s.path("l.pgm") + " --labelled --threshold 3", 2, "conflicts"},
        {"analyze " + s.path("many.pgm") + " --labelled", 1, "at most 256 distinct values"},
    };
    for (const Row &r : rows) {
        const Outcome out = tooltest::runTool(s, r.args);
        EXPECT_EQ(out.exitCode, r.code) << r.args;
        EXPECT_NE(out.err.find(r.message), std::string::npos) << out.err;
        EXPECT_EQ(out.out, "") << r.args;
    }
}

}  // namespace
