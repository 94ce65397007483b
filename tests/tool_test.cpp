// End-to-end runs of the `cblob` command on generated images: what it prints
// equals what the C interface gives for the same image and parameters, in
// every input format and output format; the demo's command finds the coins;
// and every error path exits non-zero with one line naming the problem and
// writes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "png_io.h"
#include "support/tool_support.hpp"

namespace {

using tooltest::exists;
using tooltest::lines;
using tooltest::Outcome;
using tooltest::runTool;
using tooltest::Scratch;
using tooltest::slurp;
using tooltest::writePgm;

constexpr double kPi = 3.14159265358979323846;

// Runs the tool with stdout on a pipe whose reading end is already closed.
Outcome runToolIntoClosedPipe(const Scratch &scratch, const std::string &arguments) {
    int ends[2];
    if (pipe(ends) != 0) return {-1, "", "pipe failed"};
    close(ends[0]);
    const std::string command = "exec " + std::string(CBLOB_TOOL_PATH) + " " + arguments + " 2>" + scratch.path("stderr");
    const pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], 1);
        close(ends[1]);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", slurp(scratch.path("stderr"))};
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

// The pixels as the tools hold them: 8-bit bytes or 16-bit host-order words.
std::vector<uint8_t> packed(const std::vector<uint16_t> &pixels, int bits) {
    std::vector<uint8_t> bytes(pixels.size() * (bits / 8));
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (bits == 8)
            bytes[i] = static_cast<uint8_t>(pixels[i]);
        else
            std::memcpy(&bytes[2 * i], &pixels[i], 2);
    }
    return bytes;
}

struct TiffLayout {
    bool tiled = false;
    bool whiteIsZero = false;  // stores the inverted values, to be read back as the originals
    int samples = 1;           // 3 writes a colour file
};

// Writes a TIFF with libtiff: LZW strips of 7 rows, or uncompressed 16x16 tiles.
void writeTiff(const std::string &path, const std::vector<uint16_t> &pixels, int width, int height, int bits,
               TiffLayout layout) {
    TIFF *tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr) << path;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bits));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(layout.samples));
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 layout.samples == 3 ? PHOTOMETRIC_RGB
                                     : layout.whiteIsZero ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
    const uint16_t maxValue = bits == 8 ? 255 : 65535;
    std::vector<uint16_t> stored;
    for (uint16_t v : pixels)
        for (int s = 0; s < layout.samples; ++s) stored.push_back(layout.whiteIsZero ? static_cast<uint16_t>(maxValue - v) : v);
    const std::vector<uint8_t> bytes = packed(stored, bits);
    const size_t pixelBytes = static_cast<size_t>(bits / 8 * layout.samples);
    if (layout.tiled) {
        const int tile = 16;
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, tile);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, tile);
        std::vector<uint8_t> block(tile * tile * pixelBytes);
        for (int y0 = 0; y0 < height; y0 += tile)
            for (int x0 = 0; x0 < width; x0 += tile) {
                std::fill(block.begin(), block.end(), 0);
                for (int y = y0; y < std::min(height, y0 + tile); ++y)
                    std::memcpy(&block[(y - y0) * tile * pixelBytes], &bytes[(y * width + x0) * pixelBytes],
                                (std::min(width, x0 + tile) - x0) * pixelBytes);
                ASSERT_GE(TIFFWriteTile(tiff, block.data(), x0, y0, 0, 0), 0);
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 7);
        for (int y = 0; y < height; ++y)
            ASSERT_GE(TIFFWriteScanline(tiff, const_cast<uint8_t *>(&bytes[y * width * pixelBytes]), y, 0), 0);
    }
    TIFFClose(tiff);
}

// What the C interface finds in the same pixels, formatted as the tool's CSV
// rows, and the thresholds the run used.
struct LibraryRun {
    std::vector<std::string> rows;
    int32_t thresh = 0;
    std::string high;  // empty unless soft
};

// `post`, when given, works on the result set after the run; `top` >= 0
// keeps only the first rows.
LibraryRun runLibrary(const std::string &file, const std::vector<uint16_t> &pixels, int width, int height, int bits,
                      const std::function<void(cblob_runParams *)> &segment,
                      const std::function<void(cblob_resultSet *)> &post = nullptr, long top = -1) {
    std::vector<uint8_t> bytes = packed(pixels, bits);
    cimg_image image;
    cimg_image_constructUnbound(&image, bits);
    cimg_image_initFromBuffer(&image, bytes.data(), bits, width, height, width * bits / 8, 0, 0);
    cblob_runParams params;
    cblob_runParams_construct(&params);
    segment(&params);
    cblob_resultSet rs;
    cblob_resultSet_construct(&rs);
    EXPECT_EQ(bits == 8 ? cblob_run8(&image, nullptr, &params, &rs) : cblob_run16(&image, nullptr, &params, &rs), 0);
    if (post) post(&rs);
    LibraryRun run;
    EXPECT_EQ(cblob_runParams_getThresh(&params, &run.thresh), 0);
    int32_t high = 0;
    if (params.segmentationType == cblob_segmentationSoftThresh) {
        EXPECT_EQ(cblob_runParams_getHighThresh(&params, &high), 0);
        run.high = std::to_string(high);
    }
    for (int32_t i = 0; i < rs.numViewBlobs && (top < 0 || i < top); ++i) {
        const cblob_blob *b = rs.view[i];
        char line[512];
        std::snprintf(line, sizeof line, "%s,%d,%s,%d,%s,%d,%.17g,%.17g,%.17g,%d,%d,%d,%d,%.17g,%.17g", file.c_str(),
                      run.thresh, run.high.c_str(), b->label, b->colour ? "object" : "hole",
                      b->parent ? b->parent->label : 0, b->area, b->centerOfMassX, b->centerOfMassY, b->boxLeft,
                      b->boxTop, b->boxWidth, b->boxHeight, b->elongation, b->angle * 180.0 / kPi);
        run.rows.push_back(line);
    }
    cblob_resultSet_destruct(&rs);
    cblob_runParams_destruct(&params);
    cimg_image_destruct(&image);
    return run;
}

std::function<void(cblob_runParams *)> hard(int thresh) {
    return [thresh](cblob_runParams *p) { cblob_runParams_setSegmentationHardThresh(p, thresh, 0); };
}

const char *const kCsvHeader =
    "file,threshold,threshold_high,label,colour,parent,area,center_x,center_y,left,top,width,height,elongation,"
    "angle_deg";

// The rows of the tool's CSV output for `arguments`, after checking its exit
// code and header.
std::vector<std::string> csvRows(const Scratch &scratch, const std::string &arguments,
                                 const std::string &header = kCsvHeader) {
    const Outcome csv = runTool(scratch, arguments + " --csv");
    EXPECT_EQ(csv.exitCode, 0) << arguments << "\n" << csv.err;
    std::vector<std::string> rows = lines(csv.out);
    if (rows.empty()) return rows;
    EXPECT_EQ(rows[0], header) << arguments;
    rows.erase(rows.begin());
    return rows;
}

// The CSV rows the JSON output carries: each object's fields in order.
std::vector<std::string> jsonAsCsv(const std::string &json) {
    std::vector<std::string> rows;
    for (const std::string &line : lines(json)) {
        if (line.find("\"label\"") == std::string::npos) continue;
        char name[256], high[16], colour[16];
        int thresh, label, parent, left, top, w, h;
        double area, cx, cy, elongation, angle;
        const int got = std::sscanf(line.c_str(),
                                    " {\"file\": \"%255[^\"]\", \"threshold\": %d, \"threshold_high\": %15[^,], "
                                    "\"label\": %d, \"colour\": \"%15[^\"]\", \"parent\": %d, \"area\": %lf, "
                                    "\"center_x\": %lf, \"center_y\": %lf, \"left\": %d, \"top\": %d, \"width\": %d, "
                                    "\"height\": %d, \"elongation\": %lf, \"angle_deg\": %lf}",
                                    name, &thresh, high, &label, colour, &parent, &area, &cx, &cy, &left, &top, &w, &h,
                                    &elongation, &angle);
        EXPECT_EQ(got, 15) << line;
        char row[512];
        std::snprintf(row, sizeof row, "%s,%d,%s,%d,%s,%d,%.17g,%.17g,%.17g,%d,%d,%d,%d,%.17g,%.17g", name, thresh,
                      std::strcmp(high, "null") == 0 ? "" : high, label, colour, parent, area, cx, cy, left, top, w, h,
                      elongation, angle);
        rows.push_back(row);
    }
    return rows;
}

// Every input format gives the blobs of the library for the same pixels, in
// CSV and in JSON alike.
TEST(Tool, CsvAndJsonEqualTheLibraryForEveryInputFormat) {
    Scratch scratch;
    const int width = 70, height = 37;  // not a whole number of 16x16 tiles
    char error[256];
    struct Case {
        const char *name;
        int bits;
        std::function<void(const std::string &, const std::vector<uint16_t> &)> write;
    } cases[] = {
        {"scene8.pgm", 8, [&](auto &path, auto &pixels) { writePgm(path, pixels, width, height, 255); }},
        {"scene16.pgm", 16, [&](auto &path, auto &pixels) { writePgm(path, pixels, width, height, 65535); }},
        {"scene8.png", 8,
         [&](auto &path, auto &pixels) {
             std::vector<uint8_t> bytes = packed(pixels, 8);
             const tool_greyImage grey{width, height, 8, width, bytes.data()};
             ASSERT_EQ(tool_writePngGrey(path.c_str(), &grey, error, sizeof error), 0) << error;
         }},
        {"scene16.png", 16,
         [&](auto &path, auto &pixels) {
             std::vector<uint8_t> bytes = packed(pixels, 16);
             const tool_greyImage grey{width, height, 16, 2 * width, bytes.data()};
             ASSERT_EQ(tool_writePngGrey(path.c_str(), &grey, error, sizeof error), 0) << error;
         }},
        {"scene8.tif", 8, [&](auto &path, auto &pixels) { writeTiff(path, pixels, width, height, 8, {}); }},
        {"scene16.tiff", 16, [&](auto &path, auto &pixels) { writeTiff(path, pixels, width, height, 16, {}); }},
        {"tiled16.tif", 16,
         [&](auto &path, auto &pixels) { writeTiff(path, pixels, width, height, 16, TiffLayout{true, false, 1}); }},
        {"white8.tif", 8,
         [&](auto &path, auto &pixels) {
             writeTiff(path, pixels, width, height, 8, TiffLayout{true, true, 1});
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto pixels = c.bits == 8 ? scene(width, height, 30, 200) : scene(width, height, 1000, 50000);
        const std::string file = scratch.path(c.name);
        c.write(file, pixels);
        const int thresh = c.bits == 8 ? 128 : 20000;
        const auto expected = runLibrary(file, pixels, width, height, c.bits, hard(thresh)).rows;
        ASSERT_EQ(expected.size(), 7u) << "three parts with three holes, and a dot";

        const std::string arguments = "analyze " + file + " --threshold " + std::to_string(thresh);
        EXPECT_EQ(csvRows(scratch, arguments), expected);
        const Outcome json = runTool(scratch, arguments + " --json");
        ASSERT_EQ(json.exitCode, 0) << json.err;
        EXPECT_EQ(jsonAsCsv(json.out), expected);
    }
}

// The threshold each file was segmented at, given or computed, heads the
// table and is a field of every CSV and JSON row, per file of a folder.
TEST(Tool, PrintsTheThresholdUsedPerFile) {
    Scratch scratch;
    const int width = 64, height = 32;
    mkdir(scratch.path("dir").c_str(), 0700);
    const auto bright = scene(width, height, 30, 200), dim = scene(width, height, 10, 100);
    const std::string brightFile = scratch.path("dir/bright.pgm"), dimFile = scratch.path("dir/dim.pgm");
    writePgm(brightFile, bright, width, height, 255);
    writePgm(dimFile, dim, width, height, 255);
    struct Case {
        std::string options;
        std::function<void(cblob_runParams *)> segment;
        std::string how;  // the table's header line after "threshold N"
    } cases[] = {
        {"--threshold 60", hard(60), ""},
        {"--soft 50 150", [](cblob_runParams *p) { cblob_runParams_setSegmentationSoftThresh(p, 50, 150, 0); },
         " (soft)"},
        {"", [](cblob_runParams *p) { cblob_runParams_setSegmentationHardThreshPercent(p, 1, 1, 50, 0); },
         " (--percent 1 1 50)"},
        {"--percent 0 0 25 --invert",
         [](cblob_runParams *p) { cblob_runParams_setSegmentationHardThreshPercent(p, 0, 0, 25, 1); },
         " (--percent 0 0 25), inverted"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        const LibraryRun first = runLibrary(brightFile, bright, width, height, 8, c.segment);
        const LibraryRun second = runLibrary(dimFile, dim, width, height, 8, c.segment);
        auto header = [&](const LibraryRun &run) {
            return "threshold " + std::to_string(run.thresh) + (run.high.empty() ? "" : ".." + run.high) + c.how;
        };
        std::vector<std::string> expected = first.rows;
        expected.insert(expected.end(), second.rows.begin(), second.rows.end());

        EXPECT_EQ(csvRows(scratch, "analyze " + scratch.path("dir") + " " + c.options), expected);
        const Outcome json = runTool(scratch, "analyze " + scratch.path("dir") + " " + c.options + " --json");
        EXPECT_EQ(jsonAsCsv(json.out), expected);

        const Outcome one = runTool(scratch, "analyze " + brightFile + " " + c.options);
        ASSERT_EQ(one.exitCode, 0) << one.err;
        EXPECT_EQ(lines(one.out).at(0), header(first));
        const Outcome both = runTool(scratch, "analyze " + scratch.path("dir") + " " + c.options);
        ASSERT_EQ(both.exitCode, 0) << both.err;
        const auto table = lines(both.out);
        ASSERT_GE(table.size(), 3u);
        EXPECT_EQ(table[0], brightFile + ": " + header(first));
        EXPECT_EQ(table[1], dimFile + ": " + header(second));
    }
}

TEST(Tool, TableOverlayHolesAndDirectories) {
    Scratch scratch;
    const int width = 64, height = 32;
    const auto pixels = scene(width, height, 30, 200);
    mkdir(scratch.path("dir").c_str(), 0700);
    writePgm(scratch.path("dir/a.pgm"), pixels, width, height, 255);
    writeTiff(scratch.path("dir/b.tif"), pixels, width, height, 8, {});
    { std::ofstream(scratch.path("dir/notes.txt")) << "not an image\n"; }
    // A colour PNG is read as grey.
    std::vector<uint8_t> rgb;
    for (uint16_t v : pixels) rgb.insert(rgb.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v)});
    char error[256];
    ASSERT_EQ(tool_writePngRgb(scratch.path("colour.png").c_str(), rgb.data(), width, height, error, sizeof error), 0);

    const std::string colour = "analyze " + scratch.path("colour.png") + " --threshold 128";
    const Outcome table = runTool(scratch, colour + " --overlay " + scratch.path("overlay.png"));
    ASSERT_EQ(table.exitCode, 0) << table.err;
    const auto tableRows = lines(table.out);
    ASSERT_EQ(tableRows.size(), 9u);  // threshold, column names and seven blobs
    EXPECT_EQ(tableRows[0], "threshold 128");
    EXPECT_EQ(tableRows[1].substr(tableRows[1].size() - 9), "angle_deg");
    tool_greyImage overlay;
    ASSERT_EQ(tool_readPng(scratch.path("overlay.png").c_str(), &overlay, error, sizeof error), 0) << error;
    EXPECT_EQ(overlay.width, width);
    EXPECT_EQ(overlay.height, height);
    tool_greyImage_free(&overlay);
    EXPECT_FALSE(exists(scratch.path("overlay.png.tmp")));

    // The table's angles are the CSV's, in degrees (the tall plate lies at +-90).
    const auto csvRows = lines(runTool(scratch, colour + " --csv").out);
    ASSERT_EQ(csvRows.size(), 8u);
    bool upright = false;
    for (size_t i = 1; i < csvRows.size(); ++i) {
        const double tableAngle = std::atof(tableRows[i + 1].substr(tableRows[i + 1].rfind(' ') + 1).c_str());
        const double csvAngle = std::atof(csvRows[i].substr(csvRows[i].rfind(',') + 1).c_str());
        EXPECT_NEAR(tableAngle, csvAngle, 0.005) << tableRows[i + 1] << "\n" << csvRows[i];
        upright = upright || std::fabs(std::fabs(csvAngle) - 90) < 1e-9;
    }
    EXPECT_TRUE(upright);

    // A folder given with a trailing slash: its PGM and TIFF files, one slash
    // in their names, the same blobs from the same pixels.
    const Outcome objects = runTool(scratch, "analyze " + scratch.path("dir/") + " --threshold 128 --no-holes --csv");
    ASSERT_EQ(objects.exitCode, 0) << objects.err;
    const auto rows = lines(objects.out);
    ASSERT_EQ(rows.size(), 1u + 2 * 4);  // header, three parts and a dot per file
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].rfind(scratch.path(i < 5 ? "dir/a.pgm," : "dir/b.tif,"), 0), 0u) << rows[i];
        EXPECT_NE(rows[i].find(",object,"), std::string::npos);
        if (i >= 5) {
            EXPECT_EQ(rows[i].substr(rows[i].find(',')), rows[i - 4].substr(rows[i - 4].find(',')));
        }
    }
    const Outcome folderTable = runTool(scratch, "analyze " + scratch.path("dir/") + " --threshold 128");
    EXPECT_NE(folderTable.out.find("\n" + scratch.path("dir/b.tif") + "  "), std::string::npos) << folderTable.out;

    // Pruning small regions drops the dot and the small holes.
    const Outcome pruned = runTool(scratch, "analyze " + scratch.path("dir/a.pgm") + " --threshold 128 --min-area 10 --csv");
    ASSERT_EQ(pruned.exitCode, 0) << pruned.err;
    EXPECT_EQ(lines(pruned.out).size(), 1u + 4);  // three parts and the 4x4 hole
}

// The command scripts/demo.sh runs, word for word, finds each of the 24 coins
// of samples/coins.png as one blob and nothing else.
TEST(Tool, DemoCommandFindsEachCoinOnce) {
    Scratch scratch;
    const std::string root = std::string(CBLOB_SAMPLES_DIR) + "/..";
    std::string command;
    for (std::string line : lines(slurp(root + "/scripts/demo.sh"))) {
        if (command.empty() && line.find("tools/cblob analyze") == std::string::npos) continue;
        const bool continued = !line.empty() && line.back() == '\\';
        command += continued ? line.substr(0, line.size() - 1) : line;
        if (!continued) break;
    }
    // The same command, with the overlay written to the scratch folder.
    ASSERT_NE(command.find("analyze"), std::string::npos);
    std::string arguments = command.substr(command.find("analyze"));
    const std::string overlay = "samples/coins_overlay.png";
    const size_t at = arguments.find(overlay);
    ASSERT_NE(at, std::string::npos) << command;
    arguments.replace(at, overlay.size(), scratch.path("coins_overlay.png"));
    const Outcome demo = runTool(scratch, arguments, "", root);
    ASSERT_EQ(demo.exitCode, 0) << arguments << "\n" << demo.err;
    EXPECT_TRUE(exists(scratch.path("coins_overlay.png")));

    struct Coin {
        double area, x, y, elongation;
        int top;
    };
    std::vector<Coin> coins;
    const auto table = lines(demo.out);
    ASSERT_GE(table.size(), 2u);
    for (size_t i = 2; i < table.size(); ++i) {
        Coin c{};
        int label, parent, left, width, height;
        char colour[16];
        ASSERT_EQ(std::sscanf(table[i].c_str(), "%d %15s %d %lf %lf %lf %d %d %d %d %lf", &label, colour, &parent,
                              &c.area, &c.x, &c.y, &left, &c.top, &width, &height, &c.elongation),
                  11)
            << table[i];
        coins.push_back(c);
    }
    ASSERT_EQ(coins.size(), 24u) << demo.out;
    for (size_t i = 0; i < coins.size(); ++i) {
        // Coin-sized and round, clear of the bright top edge, and no two
        // blobs on the same coin (neighbouring coins are over 45 pixels apart).
        EXPECT_GT(coins[i].area, 900);
        EXPECT_LT(coins[i].area, 3500);
        EXPECT_LT(coins[i].elongation, 1.5);
        EXPECT_GT(coins[i].top, 0);
        for (size_t j = 0; j < i; ++j)
            EXPECT_GT(std::hypot(coins[i].x - coins[j].x, coins[i].y - coins[j].y), 30) << i << " " << j;
    }
}

// The thread count changes how a run is banded, not what it finds.
TEST(Tool, ThreadsGiveTheSameBlobs) {
    Scratch scratch;
    // Labels follow the bands (and centres and moments may differ in their
    // last digits): colour, area and box are the same set.
    auto blobs = [&](const std::string &threads) {
        std::vector<std::string> rows = csvRows(
            scratch, "analyze " + std::string(CBLOB_SAMPLES_DIR) + "/coins.png --threshold 130 --threads " + threads);
        for (std::string &row : rows) {
            std::stringstream in(row);
            std::vector<std::string> fields;
            for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
            row.clear();
            for (size_t f : {4, 6, 9, 10, 11, 12}) row += (f < fields.size() ? fields[f] : "") + ",";
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    const std::vector<std::string> one = blobs("1");
    EXPECT_GT(one.size(), 10u);
    for (const char *threads : {"2", "7"}) EXPECT_EQ(blobs(threads), one) << threads << " threads";
    EXPECT_NE(runTool(scratch, "--help").out.find("--threads N"), std::string::npos);
}

// Help and version go to stdout with exit 0; output that cannot be written
// (a full disk, a closed pipe) is an error with one line, and no overlay.
TEST(Tool, HelpVersionAndOutputErrors) {
    Scratch scratch;
    writePgm(scratch.path("a.pgm"), scene(64, 32, 30, 200), 64, 32, 255);
    const std::string a = scratch.path("a.pgm"), overlay = " --overlay " + scratch.path("out.png");
    enum class Sink { file, full, closedPipe };
    struct Case {
        std::string arguments;
        Sink sink;
        int exitCode;
        std::string out, err;  // fragments of stdout and stderr; "" for an empty stream
    } cases[] = {
        {"--help", Sink::file, 0, "usage: cblob analyze", ""},
        {"-h", Sink::file, 0, "usage: cblob analyze", ""},
        {"analyze --help", Sink::file, 0, "--threshold N", ""},
        {"analyze " + a + " --threshold 5 -h", Sink::file, 0, "TIFF", ""},
        {"--version", Sink::file, 0, "cblob 0.", ""},
        {"analyze " + a + " --threshold 128", Sink::full, 1, "", "cannot write the output: No space left on device"},
        {"analyze " + a + " --json" + overlay, Sink::full, 1, "", "cannot write the output"},
        {"--help", Sink::full, 1, "", "cannot write the output"},
        {"analyze " + a + " --csv" + overlay, Sink::closedPipe, 1, "", "cannot write the output: Broken pipe"},
    };
    for (const Case &c : cases) {
        const Outcome outcome = c.sink == Sink::closedPipe ? runToolIntoClosedPipe(scratch, c.arguments)
                                                           : runTool(scratch, c.arguments,
                                                                     c.sink == Sink::full ? "/dev/full" : "");
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments << "\n" << outcome.err;
        EXPECT_NE(outcome.out.find(c.out), std::string::npos) << c.arguments << "\n" << outcome.out;
        EXPECT_EQ(outcome.out.empty(), c.out.empty()) << c.arguments;
        EXPECT_NE(outcome.err.find(c.err), std::string::npos) << c.arguments << "\n" << outcome.err;
        EXPECT_EQ(lines(outcome.err).size(), c.err.empty() ? 0u : 1u) << c.arguments << "\n" << outcome.err;
        EXPECT_FALSE(exists(scratch.path("out.png"))) << c.arguments;
        EXPECT_FALSE(exists(scratch.path("out.png.tmp"))) << c.arguments;
    }
}

// Every name `cblob measures` lists is accepted by --measures, and the extra
// columns of `--measures all` hold what the library's measure dispatcher gives
// at the --angle with the --exclude amount (angles in degrees; missing where
// the library has no value for the blob).
TEST(Tool, MeasuresEqualTheLibrary) {
    Scratch scratch;
    const int width = 64, height = 32;
    const std::vector<uint16_t> pixels = scene(width, height, 30, 200);
    writePgm(scratch.path("a.pgm"), pixels, width, height, 255);
    const Outcome listed = runTool(scratch, "measures");
    ASSERT_EQ(listed.exitCode, 0);
    std::vector<std::string> names;
    for (const std::string &line : lines(listed.out)) names.push_back(line.substr(0, line.find(' ')));
    ASSERT_EQ(names.size(), 47u);

    // Named twice, and with the measures the fixed columns hold: each
    // column once, fixed columns not repeated.
    const Outcome out = runTool(scratch, "analyze " + scratch.path("a.pgm") +
                                             " --threshold 100 --csv --measures all,area,perimeter --angle 30 --exclude 2");
    ASSERT_EQ(out.exitCode, 0) << out.err;
    const std::vector<std::string> csv = lines(out.out);
    std::vector<std::string> columns;
    std::stringstream fixed(kCsvHeader);
    for (std::string c; std::getline(fixed, c, ',');) columns.push_back(c);
    const size_t fixedCount = columns.size();
    for (const std::string &n : names)
        if (std::find(columns.begin(), columns.begin() + fixedCount, n) == columns.begin() + fixedCount)
            columns.push_back(n);
    ASSERT_EQ(columns.size(), fixedCount + 47 - 6);
    std::string header = kCsvHeader;
    for (size_t c = fixedCount; c < columns.size(); ++c) header += "," + columns[c];
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv[0], header);

    const double angle = 30.0 * kPi / 180.0;
    const auto compare = [&](cblob_resultSet *rs) {
        ASSERT_EQ(cblob_resultSet_setExcludeExtrema(rs, cblob_excludeAmountChecked, 2.0, &angle), 0);
        ASSERT_EQ(csv.size(), static_cast<size_t>(rs->numViewBlobs) + 1);
        for (int32_t i = 0; i < rs->numViewBlobs; ++i) {
            std::vector<std::string> fields;
            std::stringstream row(csv[i + 1]);
            for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
            if (csv[i + 1].back() == ',') fields.push_back("");
            ASSERT_EQ(fields.size(), columns.size()) << csv[i + 1];
            for (int32_t code = 1; code <= 47; ++code) {
                double expected = 0.0;
                const int32_t status = cblob_blob_getMeasureAtAngle(rs->view[i], static_cast<cblob_measure>(code), 1,
                                                                    &expected, &angle);
                const auto column = std::find(columns.begin(), columns.end(), names[code - 1]) - columns.begin();
                const std::string &field = fields[static_cast<size_t>(column)];
                if (code == cblob_measureColour) {
                    EXPECT_EQ(field, expected != 0.0 ? "object" : "hole");
                    continue;
                }
                if (CBLOB_FAILED(status) || std::isnan(expected)) {  // e.g. the aspect of a box trimmed to nothing
                    EXPECT_EQ(field, "") << names[code - 1] << ": " << cblob_statusName(status);
                    continue;
                }
                if (code == cblob_measureAngle) expected *= 180.0 / kPi;
                ASSERT_FALSE(field.empty()) << names[code - 1] << "\n" << csv[i + 1];
                EXPECT_DOUBLE_EQ(std::strtod(field.c_str(), nullptr), expected) << names[code - 1];
            }
        }
    };
    runLibrary(scratch.path("a.pgm"), pixels, width, height, 8,
               [](cblob_runParams *p) {
                   cblob_runParams_setSegmentationHardThresh(p, 100, 0);
                   p->keepBlobImages = 1;
               },
               compare);
}

// --calibration, --filter, --sort and --top give the rows the library's
// view gives after the same calls, in CSV and JSON; calibrated output names
// its client units in the header.
TEST(Tool, ViewOptionsEqualTheLibrarysView) {
    Scratch scratch;
    const int width = 64, height = 32;
    const auto pixels = scene(width, height, 30, 200);
    const std::string file = scratch.path("a.pgm");
    writePgm(file, pixels, width, height, 255);
    auto filter = [](cblob_resultSet *rs, int32_t measure, double low, double high, int32_t exclude = 0) {
        ASSERT_EQ(cblob_resultSet_addAndApplyFilter(rs, cblob_filter{measure, low, high, exclude}), 0);
    };
    auto calibrate = [](cblob_resultSet *rs, double scale, double degrees, double x, double y) {
        const double a = degrees * kPi / 180.0, c = scale * std::cos(a), s = scale * std::sin(a);
        const cmath_xformLinear t{{c, -s, s, c}, x, y};
        ASSERT_EQ(cblob_resultSet_setClientFromImageXformLinear(rs, &t), 0);
    };
    const double inf = INFINITY;
    struct Case {
        std::string options;
        std::function<void(cblob_resultSet *)> post;
        long top;
        size_t rows;  // the number of rows expected, so that every case shows something
    } cases[] = {
        {"--filter area:10:200", [&](cblob_resultSet *rs) { filter(rs, 2, 10, 200); }, -1, 3},
        {"--filter '!area:10:200' --filter colour:1:", [&](cblob_resultSet *rs) {
             filter(rs, 2, 10, 200, 1);
             filter(rs, 1, 1, inf);
         }, -1, 2},
        {"--filter box_top::6 --sort area:desc", [&](cblob_resultSet *rs) {
             filter(rs, cblob_measureBoxTop, -inf, 6);
             ASSERT_EQ(cblob_resultSet_sort(rs, cblob_measureArea, 0), 0);
         }, -1, 2},
        {"--filter area:1:4 --filter box_left:30: --filter area:100:", [&](cblob_resultSet *rs) {
             const cblob_filter list[] = {{2, 1, 4, 0}, {cblob_measureBoxLeft, 30, inf, 0}, {2, 100, inf, 0}};
             cstd_vector_cblob_filter v;
             ASSERT_EQ(cstd_vector_cblob_filter_constructEmpty(&v), 0);
             ASSERT_EQ(cstd_vector_cblob_filter_assignElements(&v, list, 3), 0);
             ASSERT_EQ(cblob_resultSet_setAndApplyFilters(rs, &v), 0);
             cstd_vector_cblob_filter_destruct(&v);
         }, -1, 5},
        {"--sort area --top 4", [&](cblob_resultSet *rs) { ASSERT_EQ(cblob_resultSet_sort(rs, 2, 1), 0); }, 4, 4},
        {"--sort box_left:asc --top 0", nullptr, 0, 0},
        {"--calibration 0.5,30,10,-4 --filter area:1:100 --filter angle_deg:-60:60 --sort center_y:desc",
         [&](cblob_resultSet *rs) {
             calibrate(rs, 0.5, 30, 10, -4);
             filter(rs, 2, 1, 100);
             filter(rs, 13, -kPi / 3, kPi / 3);
             ASSERT_EQ(cblob_resultSet_sort(rs, 7, 0), 0);
         }, -1, 5},
        {"--calibration 2 --top 2", [&](cblob_resultSet *rs) { calibrate(rs, 2, 0, 0, 0); }, 2, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        const auto expected = runLibrary(file, pixels, width, height, 8, hard(128), c.post, c.top).rows;
        EXPECT_EQ(expected.size(), c.rows);
        const bool calibrated = c.options.find("--calibration") != std::string::npos;
        const std::string arguments = "analyze " + file + " --threshold 128 " + c.options;
        std::string header = kCsvHeader;
        if (calibrated) {
            for (const char *name : {"area", "center_x", "center_y", "angle_deg"})
                header.replace(header.find(std::string(",") + name), std::strlen(name) + 1,
                               std::string(",client_") + name);
        }
        EXPECT_EQ(csvRows(scratch, arguments, header), expected);
        const Outcome table = runTool(scratch, arguments);
        ASSERT_EQ(table.exitCode, 0) << table.err;
        EXPECT_EQ(lines(table.out).size(), 2 + expected.size() + (calibrated ? 1 : 0) + (expected.empty() ? 1 : 0));
        EXPECT_EQ(table.out.find("client units: 1 pixel = ") != std::string::npos, calibrated);
        if (!calibrated) {
            const Outcome json = runTool(scratch, arguments + " --json");
            EXPECT_EQ(jsonAsCsv(json.out), expected);
        }
    }
}

TEST(Tool, ErrorsExitNonZeroWithOneLineAndWriteNothing) {
    Scratch scratch;
    const int width = 64, height = 32;
    writePgm(scratch.path("a.pgm"), scene(width, height, 30, 200), width, height, 255);
    writePgm(scratch.path("b.pgm"), scene(32, 32, 30, 200), 32, 32, 255);
    writeTiff(scratch.path("rgb.tif"), scene(width, height, 30, 200), width, height, 8, TiffLayout{false, false, 3});
    { std::ofstream(scratch.path("notes.txt")) << "not an image\n"; }
    { std::ofstream(scratch.path("x.bmp")) << "BM not really\n"; }
    { std::ofstream(scratch.path("cut.tif"), std::ios::binary) << std::string("II*\0\x08\0\0\0\x05\0", 10); }
    {
        // A deflate file of a few bytes declaring 60000 x 60000 pixels.
        TIFF *bomb = TIFFOpen(scratch.path("bomb.tif").c_str(), "w");
        for (const auto tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP})
            TIFFSetField(bomb, tag, 60000u);
        TIFFSetField(bomb, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(bomb, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(bomb, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        char raw[8] = {};
        TIFFWriteRawStrip(bomb, 0, raw, sizeof raw);
        TIFFClose(bomb);
    }
    mkdir(scratch.path("empty").c_str(), 0700);
    const std::string a = scratch.path("a.pgm"), overlay = " --overlay " + scratch.path("out.png");
    struct Case {
        std::string arguments;
        int exitCode;         // 2 for bad usage, 1 for an input that fails
        std::string message;  // a fragment the one-line message must contain
    } cases[] = {
        {"", 2, "usage"},
        {"measure " + a, 2, "unknown command"},
        {"analyze " + a + " --bogus" + overlay, 2, "unknown option --bogus"},
        {"analyze" + overlay, 2, "no input files"},
        {"analyze " + a + " --threshold 10 --soft 1 5" + overlay, 2, "conflicts"},
        {"analyze " + a + " --prune --fill --min-area 3" + overlay, 2, "--prune conflicts with --fill"},
        {"analyze " + a + " --fill" + overlay, 2, "--fill needs --min-area"},
        {"analyze " + a + " --softness 3" + overlay, 2, "--softness needs --soft"},
        {"analyze " + a + " --threshold 300" + overlay, 2, "beyond the 8-bit pixel range"},
        {"analyze " + a + " --threshold -1" + overlay, 2, "out of range"},
        {"analyze " + a + " --threshold x" + overlay, 2, "expects an integer"},
        {"analyze " + a + " --percent 60 50 50" + overlay, 2, "more than 100"},
        {"analyze " + a + " --soft 9 3" + overlay, 2, "LOW below HIGH"},
        {"analyze " + a + " --csv --json" + overlay, 2, "--csv conflicts with --json"},
        {"analyze " + a + " " + scratch.path("b.pgm") + overlay, 2, "exactly one input file"},
        {"analyze " + scratch.path("missing.pgm") + overlay, 1, "missing.pgm"},
        {"analyze " + scratch.path("notes.txt") + overlay, 1, "notes.txt: unknown file format"},
        {"analyze " + scratch.path("x.bmp") + overlay, 1, "supported formats: PNG, PGM, TIFF"},
        {"analyze " + scratch.path("rgb.tif") + overlay, 1, "only 8- and 16-bit unsigned grey TIFF"},
        {"analyze " + scratch.path("cut.tif") + overlay, 1, "cannot read " + scratch.path("cut.tif")},
        {"analyze " + scratch.path("empty") + overlay, 1, "no PNG, PGM or TIFF files"},
        {"analyze " + scratch.path("bomb.tif") + overlay, 1, "bomb.tif: image larger than the reader's limit"},
        {"analyze " + a + " --mask " + scratch.path("b.pgm") + overlay, 1, "mask"},
        {"analyze " + a + " --measures area,bogus" + overlay, 2, "unknown measure 'bogus'"},
        {"analyze " + a + " --exclude 50%" + overlay, 2, "percentage below 50"},
        {"analyze " + a + " --threads 0" + overlay, 2, "out of range"},
        {"analyze " + a + " --angle north" + overlay, 2, "--angle needs a number"},
        {"analyze " + a + " --filter area:1" + overlay, 2, "--filter needs [!]MEASURE:LOW:HIGH"},
        {"analyze " + a + " --filter size:1:2" + overlay, 2, "unknown measure 'size'"},
        {"analyze " + a + " --filter area:5:x" + overlay, 2, "bound 'x' is not a number"},
        {"analyze " + a + " --filter area:5:1" + overlay, 2, "LOW is above HIGH"},
        {"analyze " + a + " --filter" + overlay, 2, "--overlay"},  // takes it as its value
        {"analyze " + a + " --sort area:up" + overlay, 2, "--sort needs MEASURE[:asc|:desc]"},
        {"analyze " + a + " --sort" , 2, "--sort needs 1 value"},
        {"analyze " + a + " --calibration 0" + overlay, 2, "SCALE > 0"},
        {"analyze " + a + " --calibration 1,2" + overlay, 2, "--calibration needs"},
        {"analyze " + a + " --top -1" + overlay, 2, "--top needs a count"},
    };
    for (const Case &c : cases) {
        const Outcome outcome = runTool(scratch, c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments;
        EXPECT_TRUE(outcome.out.empty()) << c.arguments << "\n" << outcome.out;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << c.arguments << "\n" << outcome.err;
        if (!c.arguments.empty()) {
            EXPECT_EQ(lines(outcome.err).size(), 1u) << c.arguments << "\n" << outcome.err;
        }
        EXPECT_FALSE(exists(scratch.path("out.png"))) << c.arguments;
        EXPECT_FALSE(exists(scratch.path("out.png.tmp"))) << c.arguments;
    }
}

// The morphology options run the operations in the order given, with the
// element given: the blobs equal a library run with those operations, and
// differ from a run without them.
TEST(Tool, MorphologyOptionsEqualTheLibrary) {
    Scratch scratch;
    const int width = 70, height = 37;
    std::vector<uint16_t> pixels = scene(width, height, 30, 200);
    for (size_t i = 0; i < pixels.size(); i += 13) pixels[i] = pixels[i] > 128 ? 0 : 255;  // salt and pepper
    const std::string file = scratch.path("noisy.pgm");
    writePgm(file, pixels, width, height, 255);
    struct Case {
        const char *options;
        std::vector<int32_t> ops;
    } cases[] = {
        {"--open 3x3", {cblob_morph_open3x3}},
        {"--close 1x3 --erode 3x1 --dilate 3x3", {cblob_morph_close1x3, cblob_morph_erode3x1, cblob_morph_dilate3x3}},
        {"--dilate 1x3 --open 3x1 --close 3x3", {cblob_morph_dilate1x3, cblob_morph_open3x1, cblob_morph_close3x3}},
    };
    const auto plain = runLibrary(file, pixels, width, height, 8, hard(128)).rows;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        const auto expected = runLibrary(file, pixels, width, height, 8, [&](cblob_runParams *p) {
                                  cblob_runParams_setSegmentationHardThresh(p, 128, 0);
                                  for (int32_t op : c.ops) cstd_vector_cblob_morphOp_pushBack(&p->morphOps, &op);
                              }).rows;
        EXPECT_NE(expected, plain);
        EXPECT_EQ(csvRows(scratch, "analyze " + file + " --threshold 128 " + c.options), expected);
    }
    for (const char *bad : {"--open", "--open 5x5", "--erode 3X3"}) {
        const Outcome outcome = runTool(scratch, "analyze " + file + " " + bad);
        EXPECT_EQ(outcome.exitCode, 2) << bad;
        EXPECT_NE(outcome.err.find("needs"), std::string::npos) << outcome.err;
    }
}

}  // namespace
