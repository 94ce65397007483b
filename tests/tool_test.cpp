// End-to-end runs of the `cblob` command on generated images: what it prints
// equals what the C interface gives for the same image and parameters, and
// every error path exits non-zero with one line naming the problem and
// writes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "png_io.h"

namespace {

struct Scratch {
    std::string dir;
    Scratch() {
        char pattern[] = "/tmp/cblob_tool_test_XXXXXX";
        dir = mkdtemp(pattern);
    }
    ~Scratch() { std::system(("rm -rf " + dir).c_str()); }
    std::string path(const std::string &name) const { return dir + "/" + name; }
};

struct Outcome {
    int exitCode;
    std::string out, err;
};

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome runTool(const Scratch &scratch, const std::string &arguments) {
    const std::string command = std::string(CBLOB_TOOL_PATH) + " " + arguments + " >" + scratch.path("stdout") +
                                " 2>" + scratch.path("stderr");
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(scratch.path("stdout")), slurp(scratch.path("stderr"))};
}

bool exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A scene of plates with holes, 8- or 16-bit: bright parts (value `bright`)
// on a dark background.
std::vector<uint16_t> scene(int width, int height, uint16_t dark, uint16_t bright) {
    std::vector<uint16_t> pixels(static_cast<size_t>(width) * height, dark);
    auto rect = [&](int x0, int y0, int w, int h, uint16_t v) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) pixels[static_cast<size_t>(y) * width + x] = v;
    };
    rect(5, 5, 20, 12, bright);
    rect(10, 8, 4, 4, dark);
    rect(30, 3, 7, 25, bright);
    rect(40, 20, 1, 1, bright);
    rect(45, 10, 12, 12, bright);
    rect(48, 13, 2, 2, dark);
    rect(52, 13, 2, 2, dark);
    return pixels;
}

void writePgm(const std::string &path, const std::vector<uint16_t> &pixels, int width, int height, int maxValue) {
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << width << " " << height << "\n" << maxValue << "\n";
    for (uint16_t v : pixels) {
        if (maxValue > 255) out.put(static_cast<char>(v >> 8));
        out.put(static_cast<char>(v & 0xFF));
    }
}

// The blobs of the C interface, formatted as the tool's CSV rows.
std::vector<std::string> libraryRows(const std::string &file, std::vector<uint16_t> pixels, int width, int height,
                                     int bits, int thresh) {
    std::vector<uint8_t> bytes(pixels.size() * (bits / 8));
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (bits == 8)
            bytes[i] = static_cast<uint8_t>(pixels[i]);
        else
            std::memcpy(&bytes[2 * i], &pixels[i], 2);
    }
    cimg_image image;
    cimg_image_constructUnbound(&image, bits);
    cimg_image_initFromBuffer(&image, bytes.data(), bits, width, height, width * bits / 8, 0, 0);
    cblob_runParams params;
    cblob_runParams_construct(&params);
    cblob_runParams_setSegmentationHardThresh(&params, thresh, 0);
    cblob_resultSet rs;
    cblob_resultSet_construct(&rs);
    EXPECT_EQ(bits == 8 ? cblob_run8(&image, nullptr, &params, &rs) : cblob_run16(&image, nullptr, &params, &rs), 0);
    std::vector<std::string> rows;
    for (int32_t i = 0; i < rs.numViewBlobs; ++i) {
        const cblob_blob *b = rs.view[i];
        char line[512];
        std::snprintf(line, sizeof line, "%s,%d,%s,%d,%.17g,%.17g,%.17g,%d,%d,%d,%d,%.17g,%.17g", file.c_str(),
                      b->label, b->colour ? "object" : "hole", b->parent ? b->parent->label : 0, b->area,
                      b->centerOfMassX, b->centerOfMassY, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight,
                      b->elongation, b->angle);
        rows.push_back(line);
    }
    cblob_resultSet_destruct(&rs);
    cblob_runParams_destruct(&params);
    cimg_image_destruct(&image);
    return rows;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(Tool, CsvAndJsonEqualTheLibrary) {
    Scratch scratch;
    const int width = 64, height = 32;
    for (int bits : {8, 16}) {
        const auto pixels = bits == 8 ? scene(width, height, 30, 200) : scene(width, height, 1000, 50000);
        const std::string file = scratch.path(bits == 8 ? "scene8.pgm" : "scene16.pgm");
        writePgm(file, pixels, width, height, bits == 8 ? 255 : 65535);
        const int thresh = bits == 8 ? 128 : 20000;
        const auto expected = libraryRows(file, pixels, width, height, bits, thresh);
        ASSERT_EQ(expected.size(), 7u) << "three parts with three holes, and a dot";

        const Outcome csv = runTool(scratch, "analyze " + file + " --threshold " + std::to_string(thresh) + " --csv");
        ASSERT_EQ(csv.exitCode, 0) << csv.err;
        auto got = lines(csv.out);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0], "file,label,colour,parent,area,center_x,center_y,left,top,width,height,elongation,angle");
        got.erase(got.begin());
        EXPECT_EQ(got, expected);

        // JSON carries the same numbers: rebuild CSV-like rows from its fields.
        const Outcome json = runTool(scratch, "analyze " + file + " --threshold " + std::to_string(thresh) + " --json");
        ASSERT_EQ(json.exitCode, 0) << json.err;
        std::vector<std::string> fromJson;
        for (const std::string &line : lines(json.out)) {
            if (line.find("\"label\"") == std::string::npos) continue;
            char name[256], colour[16];
            int label, parent, left, top, w, h;
            double area, cx, cy, elongation, angle;
            ASSERT_EQ(std::sscanf(line.c_str(),
                                  " {\"file\": \"%255[^\"]\", \"label\": %d, \"colour\": \"%15[^\"]\", \"parent\": %d, "
                                  "\"area\": %lf, \"center_x\": %lf, \"center_y\": %lf, \"left\": %d, \"top\": %d, "
                                  "\"width\": %d, \"height\": %d, \"elongation\": %lf, \"angle\": %lf",
                                  name, &label, colour, &parent, &area, &cx, &cy, &left, &top, &w, &h, &elongation,
                                  &angle),
                      13)
                << line;
            char row[512];
            std::snprintf(row, sizeof row, "%s,%d,%s,%d,%.17g,%.17g,%.17g,%d,%d,%d,%d,%.17g,%.17g", name, label, colour,
                          parent, area, cx, cy, left, top, w, h, elongation, angle);
            fromJson.push_back(row);
        }
        EXPECT_EQ(fromJson, expected);
    }
}

TEST(Tool, TableOverlayHolesAndDirectories) {
    Scratch scratch;
    const int width = 64, height = 32;
    const auto pixels = scene(width, height, 30, 200);
    mkdir(scratch.path("dir").c_str(), 0700);
    writePgm(scratch.path("dir/a.pgm"), pixels, width, height, 255);
    writePgm(scratch.path("dir/b.pgm"), pixels, width, height, 255);
    // A colour PNG is read as grey.
    std::vector<uint8_t> rgb;
    for (uint16_t v : pixels) rgb.insert(rgb.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v)});
    char error[256];
    ASSERT_EQ(tool_writePngRgb(scratch.path("colour.png").c_str(), rgb.data(), width, height, error, sizeof error), 0);

    const Outcome table = runTool(scratch, "analyze " + scratch.path("colour.png") + " --threshold 128 --overlay " +
                                               scratch.path("overlay.png"));
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_EQ(lines(table.out).size(), 8u);  // header and seven blobs
    tool_greyImage overlay;
    ASSERT_EQ(tool_readPng(scratch.path("overlay.png").c_str(), &overlay, error, sizeof error), 0) << error;
    EXPECT_EQ(overlay.width, width);
    EXPECT_EQ(overlay.height, height);
    tool_greyImage_free(&overlay);

    const Outcome objects = runTool(scratch, "analyze " + scratch.path("dir") + " --threshold 128 --no-holes --csv");
    ASSERT_EQ(objects.exitCode, 0) << objects.err;
    const auto rows = lines(objects.out);
    ASSERT_EQ(rows.size(), 1u + 2 * 4);  // header, three parts and a dot per file
    EXPECT_EQ(rows[1].rfind(scratch.path("dir/a.pgm"), 0), 0u);
    EXPECT_EQ(rows[5].rfind(scratch.path("dir/b.pgm"), 0), 0u);
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_NE(rows[i].find(",object,"), std::string::npos);

    // Pruning small regions drops the dot and the small holes.
    const Outcome pruned = runTool(scratch, "analyze " + scratch.path("dir/a.pgm") + " --threshold 128 --min-area 10 --csv");
    ASSERT_EQ(pruned.exitCode, 0) << pruned.err;
    EXPECT_EQ(lines(pruned.out).size(), 1u + 4);  // three parts and the 4x4 hole
}

TEST(Tool, ErrorsExitNonZeroWithOneLineAndWriteNothing) {
    Scratch scratch;
    const int width = 64, height = 32;
    writePgm(scratch.path("a.pgm"), scene(width, height, 30, 200), width, height, 255);
    writePgm(scratch.path("b.pgm"), scene(32, 32, 30, 200), 32, 32, 255);
    { std::ofstream(scratch.path("notes.txt")) << "not an image\n"; }
    const std::string a = scratch.path("a.pgm"), overlay = " --overlay " + scratch.path("out.png");
    struct Case {
        std::string arguments;
        std::string message;  // a fragment the one-line message must contain
    } cases[] = {
        {"", "usage"},
        {"measure " + a, "unknown command"},
        {"analyze " + a + " --bogus" + overlay, "unknown option --bogus"},
        {"analyze" + overlay, "no input files"},
        {"analyze " + a + " --threshold 10 --soft 1 5" + overlay, "conflicts"},
        {"analyze " + a + " --prune --fill --min-area 3" + overlay, "--prune conflicts with --fill"},
        {"analyze " + a + " --fill" + overlay, "--fill needs --min-area"},
        {"analyze " + a + " --softness 3" + overlay, "--softness needs --soft"},
        {"analyze " + a + " --threshold 300" + overlay, "beyond the 8-bit pixel range"},
        {"analyze " + a + " --threshold -1" + overlay, "out of range"},
        {"analyze " + a + " --threshold x" + overlay, "expects an integer"},
        {"analyze " + a + " --percent 60 50 50" + overlay, "more than 100"},
        {"analyze " + a + " --soft 9 3" + overlay, "LOW below HIGH"},
        {"analyze " + a + " --csv --json" + overlay, "--csv conflicts with --json"},
        {"analyze " + scratch.path("missing.pgm") + overlay, "missing.pgm"},
        {"analyze " + scratch.path("notes.txt") + overlay, "notes.txt"},
        {"analyze " + a + " " + scratch.path("b.pgm") + overlay, "exactly one input file"},
        {"analyze " + a + " --mask " + scratch.path("b.pgm") + overlay, "mask"},
    };
    for (const Case &c : cases) {
        const Outcome outcome = runTool(scratch, c.arguments);
        EXPECT_NE(outcome.exitCode, 0) << c.arguments;
        EXPECT_TRUE(outcome.out.empty()) << c.arguments << "\n" << outcome.out;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << c.arguments << "\n" << outcome.err;
        if (!c.arguments.empty()) {
            EXPECT_EQ(lines(outcome.err).size(), 1u) << c.arguments << "\n" << outcome.err;
        }
        EXPECT_FALSE(exists(scratch.path("out.png"))) << c.arguments;
        EXPECT_FALSE(exists(scratch.path("out.png.tmp"))) << c.arguments;
    }
}

}  // namespace
