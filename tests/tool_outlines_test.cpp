// The cblob tool's outlines: --geojson writes a FeatureCollection that
// python3's JSON parser accepts and whose rings give every blob's area
// exactly by the shoelace formula (exterior minus holes); --contours puts
// the same corners into the JSON output and the CSV file; the usage errors
// of both options.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/tool_support.hpp"

namespace {

using tooltest::exists;
using tooltest::Scratch;
using tooltest::shell;
using tooltest::slurp;

// Runs the tool; stdout and stderr go to files in the scratch folder.
int toolExit(const Scratch &s, const std::string &arguments) { return tooltest::runTool(s, arguments).exitCode; }

// A plate with two holes, one of them holding an island; a diagonal chain
// of pixels (one object through its corners); a ring; a ring on the image's
// left edge; a blob in the bottom-right corner: '#' bright, '.' dark.
const char *const kArt[] = {
    "..........................",
    "..##############..........",
    "..##############..#.......",
    "..##...#########...#......",
    "..##.#.#########....#.....",
    "..##...####..###.....#....",
    "..#########..###......#...",
    "..#########..###..........",
    "..##############...###....",
    "..##############...#.#....",
    "...................###....",
    "###.......................",
    "#.#.......................",
    "###....................###",
    ".......................###",
};

void writeArt(const std::string &path) {
    std::vector<uint16_t> pixels;
    for (const char *row : kArt)
        for (const char *c = row; *c; ++c) pixels.push_back(*c == '#' ? 200 : 20);
    tooltest::writePgm(path, pixels, static_cast<int>(std::string(kArt[0]).size()),
                       static_cast<int>(std::size(kArt)), 255);
}

// Checks every feature: a Polygon whose rings are closed, axis-parallel
// and signed so that their shoelace sum is the blob's area exactly; as many
// interior rings as the blob has children. Prints the features' count.
const char *const kGeoCheck = R"(
import json, sys
data = json.load(open(sys.argv[1]))
assert data["type"] == "FeatureCollection"
for f in data["features"]:
    assert f["type"] == "Feature" and f["geometry"]["type"] == "Polygon"
    rings = f["geometry"]["coordinates"]
    total = 0
    for i, ring in enumerate(rings):
        assert ring[0] == ring[-1] and len(ring) >= 5, ring
        for a, b in zip(ring, ring[1:]):
            assert a[0] == b[0] or a[1] == b[1], (a, b)
        twice = sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(ring, ring[1:]))
        assert (twice > 0) == (i == 0), (f["properties"]["label"], i, twice)
        total += twice
    p = f["properties"]
    assert total == 2 * p["area"], (p["label"], total, p["area"])
    assert len(rings) - 1 == p["num_children"], (p["label"], len(rings), p["num_children"])
print(len(data["features"]))
)";

TEST(ToolOutlines, GeoJsonParsesAndItsRingsHaveTheBlobsArea) {
    if (shell("python3 -c 'import json' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not available";
    Scratch s;
    writeArt(s.path("art.pgm"));
    { std::ofstream(s.path("check.py")) << kGeoCheck; }
    ASSERT_EQ(toolExit(s, "analyze " + s.path("art.pgm") + " --threshold 128 --measures num_children --geojson " +
                             s.path("blobs.geojson")),
              0)
        << slurp(s.path("stderr"));
    EXPECT_EQ(shell("python3 -m json.tool " + s.path("blobs.geojson") + " >/dev/null"), 0);
    EXPECT_EQ(shell("python3 " + s.path("check.py") + " " + s.path("blobs.geojson") + " >" + s.path("count")), 0)
        << slurp(s.path("blobs.geojson"));
    // Six objects (plate, island, chain, two rings, corner blob) and four
    // holes (the plate's two, one in each ring).
    EXPECT_EQ(slurp(s.path("count")), "10\n");
    EXPECT_FALSE(exists(s.path("blobs.geojson.tmp")));
    // Without holes in the listing, objects keep their interior rings.
    ASSERT_EQ(toolExit(s, "analyze " + s.path("art.pgm") + " --threshold 128 --no-holes --measures num_children "
                         "--geojson " + s.path("objects.geojson")),
              0);
    EXPECT_EQ(shell("python3 " + s.path("check.py") + " " + s.path("objects.geojson") + " >" + s.path("count")), 0);
    EXPECT_EQ(slurp(s.path("count")), "6\n");
}

TEST(ToolOutlines, ContoursInJsonAndCsvAgree) {
    if (shell("python3 -c 'import json' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not available";
    Scratch s;
    writeArt(s.path("art.pgm"));
    ASSERT_EQ(toolExit(s, "analyze " + s.path("art.pgm") + " --threshold 128 --json --contours " + s.path("c.csv") +
                             " --overlay " + s.path("o.png")),
              0)
        << slurp(s.path("stderr"));
    EXPECT_TRUE(exists(s.path("o.png")));
    // The JSON contour of every blob equals its rows of the CSV file; a
    // one-pixel-wide ring's contour starts at its top-left corner.
    const char *check = R"(
import csv, json, sys
blobs = json.load(open(sys.argv[1]))
rows = {}
for r in csv.DictReader(open(sys.argv[2])):
    rows.setdefault(int(r["label"]), []).append((int(r["point"]), [int(r["x"]), int(r["y"])]))
assert len(rows) == len(blobs)
for b in blobs:
    points = [p for _, p in sorted(rows[b["label"]])]
    assert points == b["contour"], (b["label"], points, b["contour"])
    assert b["contour"][0][1] == b["top"]
    xs = [p[0] for p in b["contour"]]; ys = [p[1] for p in b["contour"]]
    assert min(xs) == b["left"] and max(xs) == b["left"] + b["width"]
    assert min(ys) == b["top"] and max(ys) == b["top"] + b["height"]
print("ok")
)";
    { std::ofstream(s.path("check.py")) << check; }
    EXPECT_EQ(shell("python3 " + s.path("check.py") + " " + s.path("stdout") + " " + s.path("c.csv") + " >/dev/null"), 0)
        << slurp(s.path("stdout"));
}

TEST(ToolOutlines, UsageErrors) {
    Scratch s;
    writeArt(s.path("art.pgm"));
    const std::string a = s.path("art.pgm");
    struct Case {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"analyze " + a + " --contours", "--contours needs FILE.csv"},
        {"analyze " + a + " --csv --contours", "--contours needs FILE.csv"},
        {"analyze " + a + " --geojson", "--geojson needs 1 value"},
        {"analyze " + a + " --geojson " + s.path("missing/dir.geojson"), "cannot write"},
    };
    for (const Case &c : cases) {
        const int code = toolExit(s, c.arguments);
        EXPECT_EQ(code, c.message == "cannot write" ? 1 : 2) << c.arguments;
        EXPECT_NE(slurp(s.path("stderr")).find(c.message), std::string::npos) << slurp(s.path("stderr"));
    }
}

// Whichever output file cannot be written, the tool says so and exits with
// 1, leaving none of its files (the other outline file, the overlay) nor
// their temporaries behind.
TEST(ToolOutlines, AFailedOutputFileLeavesNoFile) {
    Scratch s;
    writeArt(s.path("art.pgm"));
    mkdir(s.path("out").c_str(), 0700);
    const std::string base = "analyze " + s.path("art.pgm") + " --threshold 128 --overlay " + s.path("out/o.png");
    const std::string good = s.path("out/"), bad = s.path("missing/");
    for (const std::string &arguments : {base + " --geojson " + bad + "b.geojson --contours " + good + "c.csv",
                                         base + " --geojson " + good + "b.geojson --contours " + bad + "c.csv"}) {
        EXPECT_EQ(toolExit(s, arguments), 1) << arguments;
        EXPECT_NE(slurp(s.path("stderr")).find("cannot write " + bad), std::string::npos) << slurp(s.path("stderr"));
        EXPECT_EQ(shell("test -z \"$(ls -A " + s.path("out") + ")\""), 0) << arguments;
    }
}

// Filters and the sort on a boundary measure read the blobs' runs, which
// the tool keeps for them as it does for --measures.
TEST(ToolOutlines, FilterAndSortByABoundaryMeasure) {
    Scratch s;
    writeArt(s.path("art.pgm"));
    ASSERT_EQ(toolExit(s, "analyze " + s.path("art.pgm") + " --threshold 128 --csv --filter perimeter:5: --sort "
                         "compactness:desc --measures perimeter,compactness"),
              0)
        << slurp(s.path("stderr"));
    std::istringstream lines(slurp(s.path("stdout")));
    std::string line;
    std::getline(lines, line);  // the header
    double previous = INFINITY;
    int rows = 0;
    while (std::getline(lines, line)) {
        const size_t last = line.rfind(','), before = line.rfind(',', last - 1);
        const double perimeter = std::stod(line.substr(before + 1)), compactness = std::stod(line.substr(last + 1));
        EXPECT_GE(perimeter, 5.0) << line;
        EXPECT_LE(compactness, previous) << line;
        previous = compactness;
        ++rows;
    }
    EXPECT_GT(rows, 2);
}

}  // namespace
