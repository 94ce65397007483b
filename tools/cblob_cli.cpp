// cblob: the command-line front end of the blob-analysis library.
//
//   cblob analyze FILE|DIR... [options]
//
// Reads 8- and 16-bit grey PNG files (colour is converted to grey), PGM and
// TIFF files, runs a blob analysis on each and prints one table of blobs with
// the threshold each file was segmented at.
//
// Exit codes: 0 success, 1 a failed input or output (unreadable file, full
// disk, closed pipe), 2 bad usage. Every error is one line on stderr.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "blob_outlines.hpp"
#include "cblob/cblob.h"
#include "labelled_options.hpp"
#include "cli_usage.h"
#include "measure_names.h"
#include "pgm_io.h"
#include "png_io.h"
#include "tiff_io.h"
#include "view_options.hpp"
#include "morph_options.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

const char *const kUsage = tool_cliUsage();

struct Options {
    std::vector<std::string> inputs;
    enum class Seg { none, hard, soft, percent } seg = Seg::none;
    long threshold = 0;
    long softLow = 0, softHigh = 0;
    bool haveSoftness = false;
    long softness = 0;
    double lowTail = 1, highTail = 1, percent = 50;
    bool invert = false;
    bool haveMinArea = false;
    long minArea = 0;
    int cleanup = 0;  // 1 prune, 2 fill; chosen by --prune/--fill
    bool prune = false, fill = false;
    bool noHoles = false;
    std::string mask;
    enum class Format { table, csv, json } format = Format::table;
    bool csv = false, json = false;
    std::string overlay;
    bool contours = false;
    std::string contoursFile, geojson;
    std::vector<const tool_measureName *> measures;
    double angleDeg = 0.0;
    bool haveExclude = false, excludePercent = false;
    double exclude = 0.0;
    ViewOptions view;
    std::vector<int32_t> morphOps;  // --erode, --dilate, --open, --close in order
    long threads = 0;  // 0: the library's default, every online core
    LabelledOptions labelled;
};

// The threshold a file was segmented at: the one given, or the one a
// percentage chose from the file's histogram. `high` only for soft ones.
struct FileResult {
    std::string file;
    bool soft;
    int32_t thresh, high;
};

struct Row {
    size_t file;  // index into the FileResults
    int label, colour, parent;
    double area, cx, cy;
    int left, top, width, height;
    double elongation, angle;
    // for the overlay only
    double inertiaMax;
    // --labelled: the region's label value and its neighbours
    int value;
    BlobNeighbours neighbours;
    // the --measures columns; NaN where the library cannot give the measure
    std::vector<double> extra;
    // --contours and --geojson: the outer boundary, and (--geojson) those of
    // the blob's holes
    tool::Outline outline;
    std::vector<tool::Outline> holes;
};

double degrees(double radians) { return radians * 180.0 / kPi; }

[[noreturn]] void fail(int code, const std::string &message) {
    std::fprintf(stderr, "cblob: %s\n", message.c_str());
    std::exit(code);
}

// Flushes stdout and turns any write error on it (a full disk, a closed pipe)
// into a failure: output that did not arrive must not look like success.
// `discard` names a file to remove first when that happens.
void finishOutput(const std::string &discard = std::string()) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout)) return;
    if (!discard.empty()) std::remove(discard.c_str());
    fail(1, std::string("cannot write the output: ") + (error ? std::strerror(error) : "write error"));
}

long parseInteger(const std::string &option, const char *text, long low, long high) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || errno) fail(2, option + " expects an integer, not '" + text + "'");
    if (value < low || value > high)
        fail(2, option + " " + text + " is out of range (" + std::to_string(low) + ".." + std::to_string(high) + ")");
    return value;
}

double parsePercent(const std::string &option, const char *text) {
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    if (!*text || *end || !std::isfinite(value)) fail(2, option + " expects a number, not '" + text + "'");
    if (value < 0 || value > 100) fail(2, option + " " + text + " is out of range (0..100)");
    return value;
}

double parseNumber(const std::string &option, const char *text) {
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value))
        fail(2, option + " needs a number, not '" + text + "'");
    return value;
}

// Measures the fixed columns already give (colour as object/hole).
bool isFixedColumn(const char *name) {
    for (const char *fixed : {"colour", "area", "center_x", "center_y", "elongation", "angle_deg"})
        if (!std::strcmp(name, fixed)) return true;
    return false;
}

// "area,perimeter", "all" or both: the measures in the order given, each once,
// leaving out those the fixed columns already hold.
std::vector<const tool_measureName *> parseMeasures(const std::string &list) {
    int32_t count = 0;
    const tool_measureName *names = tool_measureNames(&count);
    std::vector<const tool_measureName *> out;
    const auto add = [&out](const tool_measureName *m) {
        if (!isFixedColumn(m->name) && std::find(out.begin(), out.end(), m) == out.end()) out.push_back(m);
    };
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string name = list.substr(start, comma - start);
        const tool_measureName *m = tool_findMeasure(name.c_str());
        if (name == "all") {
            for (int32_t i = 0; i < count; ++i) add(&names[i]);
        } else if (!m) {
            fail(2, "unknown measure '" + name + "' (cblob measures lists them)");
        } else {
            add(m);
        }
        start = comma + 1;
    }
    return out;
}

void listMeasures() {
    int32_t count = 0;
    const tool_measureName *names = tool_measureNames(&count);
    for (int32_t i = 0; i < count; ++i) std::printf("%-24s %s\n", names[i].name, names[i].meaning);
    finishOutput();
}

bool hasCsvExtension(const std::string &name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".csv";
}

Options parseOptions(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        std::exit(2);
    }
    // Asking for help or the version wins over everything else on the line.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            finishOutput();
            std::exit(0);
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("cblob %s\n", CBLOB_VERSION);
            finishOutput();
            std::exit(0);
        }
    }
    if (std::strcmp(argv[1], "measures") == 0 && argc == 2) {
        listMeasures();
        std::exit(0);
    }
    if (std::strcmp(argv[1], "analyze") != 0)
        fail(2, std::string("unknown command '") + argv[1] + "' (try: cblob analyze, or cblob --help)");
    Options o;
    auto setSeg = [&](Options::Seg seg, const char *name) {
        if (o.seg != Options::Seg::none) fail(2, std::string(name) + " conflicts with another segmentation option");
        o.seg = seg;
    };
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto need = [&](int count) {
            if (i + count >= argc) fail(2, arg + " needs " + std::to_string(count) + (count == 1 ? " value" : " values"));
        };
        if (arg == "--threshold") {
            need(1);
            setSeg(Options::Seg::hard, "--threshold");
            o.threshold = parseInteger(arg, argv[++i], 0, 65535);
        } else if (arg == "--soft") {
            need(2);
            setSeg(Options::Seg::soft, "--soft");
            o.softLow = parseInteger(arg, argv[++i], 0, 65535);
            o.softHigh = parseInteger(arg, argv[++i], 0, 65535);
            if (o.softLow >= o.softHigh) fail(2, "--soft needs LOW below HIGH");
        } else if (arg == "--softness") {
            need(1);
            o.haveSoftness = true;
            o.softness = parseInteger(arg, argv[++i], 0, 65534);
        } else if (arg == "--percent") {
            need(3);
            setSeg(Options::Seg::percent, "--percent");
            o.lowTail = parsePercent(arg, argv[++i]);
            o.highTail = parsePercent(arg, argv[++i]);
            o.percent = parsePercent(arg, argv[++i]);
            if (o.lowTail + o.highTail > 100) fail(2, "--percent tails add up to more than 100");
        } else if (arg == "--invert") {
            o.invert = true;
        } else if (arg == "--min-area") {
            need(1);
            o.haveMinArea = true;
            o.minArea = parseInteger(arg, argv[++i], 0, 2147483647);
        } else if (arg == "--threads") {
            need(1);
            o.threads = parseInteger(arg, argv[++i], 1, CSYS_JOB_MAX_THREADS);
        } else if (arg == "--prune") {
            o.prune = true;
        } else if (arg == "--fill") {
            o.fill = true;
        } else if (arg == "--no-holes") {
            o.noHoles = true;
        } else if (arg == "--mask") {
            need(1);
            o.mask = argv[++i];
        } else if (arg == "--csv") {
            o.csv = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--overlay") {
            need(1);
            o.overlay = argv[++i];
        } else if (arg == "--contours" || arg.rfind("--contours=", 0) == 0) {
            // The CSV file is optional: the next argument when it names one.
            o.contours = true;
            if (arg != "--contours") {
                o.contoursFile = arg.substr(11);
            } else if (i + 1 < argc && hasCsvExtension(argv[i + 1])) {
                o.contoursFile = argv[++i];
            }
        } else if (arg == "--geojson") {
            need(1);
            o.geojson = argv[++i];
        } else if (arg == "--measures") {
            need(1);
            o.measures = parseMeasures(argv[++i]);
        } else if (arg == "--angle") {
            need(1);
            o.angleDeg = parseNumber(arg, argv[++i]);
        } else if (arg == "--exclude") {
            need(1);
            std::string amount = argv[++i];
            o.haveExclude = true;
            o.excludePercent = !amount.empty() && amount.back() == '%';
            if (o.excludePercent) amount.pop_back();
            o.exclude = parseNumber(arg, amount.c_str());
            if (o.exclude < 0 || (o.excludePercent && o.exclude >= 50))
                fail(2, "--exclude needs N >= 0 (a percentage below 50)");
        } else if (parseLabelledOption(arg, &o.labelled)) {
        } else if (std::string error; parseViewOption(argc, argv, &i, &o.view, &error)) {
            if (!error.empty()) fail(2, error);
        } else if (tool_morphCode(arg.c_str(), "") != -1) {
            need(1);
            const int32_t code = tool_morphCode(arg.c_str(), argv[++i]);
            if (code < 0) fail(2, arg + " needs an element: 3x3, 1x3 or 3x1");
            o.morphOps.push_back(code);
        } else if (arg.size() > 1 && arg[0] == '-') {
            fail(2, "unknown option " + arg + " (see cblob --help)");
        } else {
            o.inputs.push_back(arg);
        }
    }
    if (o.inputs.empty()) fail(2, "no input files");
    if (o.haveSoftness && o.seg != Options::Seg::soft) fail(2, "--softness needs --soft");
    if (o.haveSoftness && o.softness > o.softHigh - o.softLow) fail(2, "--softness is larger than HIGH - LOW");
    if (o.prune && o.fill) fail(2, "--prune conflicts with --fill");
    if ((o.prune || o.fill) && !o.haveMinArea) fail(2, std::string(o.prune ? "--prune" : "--fill") + " needs --min-area");
    if (o.haveMinArea) o.cleanup = o.fill ? 2 : 1;
    if (o.csv && o.json) fail(2, "--csv conflicts with --json");
    o.format = o.csv ? Options::Format::csv : o.json ? Options::Format::json : Options::Format::table;
    if (o.contours && o.contoursFile.empty() && o.format != Options::Format::json && o.overlay.empty())
        fail(2, "--contours needs FILE.csv (or --json, or --overlay)");
    if (o.labelled.labelled && (o.seg != Options::Seg::none || o.invert))
        fail(2, "--labelled conflicts with the segmentation options");
    if (o.labelled.neighbours && !o.labelled.labelled) fail(2, "--neighbours needs --labelled");
    if (o.seg == Options::Seg::none) o.seg = Options::Seg::percent;
    return o;
}

bool hasImageExtension(const std::string &name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "png" || ext == "pgm" || ext == "pnm" || ext == "tif" || ext == "tiff";
}

// A folder and a name in it, with one slash between them however the folder
// was written ("samples" or "samples/").
std::string joinPath(const std::string &dir, const std::string &name) {
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Expands directories into their image files, in name order.
std::vector<std::string> expandInputs(const std::vector<std::string> &inputs) {
    std::vector<std::string> files;
    for (const std::string &input : inputs) {
        struct stat info;
        if (stat(input.c_str(), &info) != 0) fail(1, "cannot read " + input + ": no such file or directory");
        if (!S_ISDIR(info.st_mode)) {
            files.push_back(input);
            continue;
        }
        DIR *dir = opendir(input.c_str());
        if (!dir) fail(1, "cannot read directory " + input);
        std::vector<std::string> found;
        while (dirent *entry = readdir(dir))
            if (hasImageExtension(entry->d_name)) found.push_back(joinPath(input, entry->d_name));
        closedir(dir);
        std::sort(found.begin(), found.end());
        if (found.empty()) fail(1, "no PNG, PGM or TIFF files in directory " + input);
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

enum class FileFormat { png, pgm, tiff, other };

// The format of a file from its first bytes (names can lie).
FileFormat sniffFormat(const std::string &path) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) fail(1, "cannot read " + path + ": " + std::strerror(errno));
    unsigned char magic[8] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file);
    std::fclose(file);
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (got == 8 && std::memcmp(magic, png, 8) == 0) return FileFormat::png;
    if (got >= 2 && magic[0] == 'P' && (magic[1] == '2' || magic[1] == '5')) return FileFormat::pgm;
    // Classic (42) and big (43) TIFF, little- or big-endian.
    if (got >= 4 && ((magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) && magic[3] == 0) ||
                     (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43))))
        return FileFormat::tiff;
    return FileFormat::other;
}

tool_greyImage readImage(const std::string &path) {
    tool_greyImage image;
    char error[512];
    int rc = 0;
    switch (sniffFormat(path)) {
        case FileFormat::png: rc = tool_readPng(path.c_str(), &image, error, sizeof error); break;
        case FileFormat::pgm: rc = tool_readPgm(path.c_str(), &image, error, sizeof error); break;
        case FileFormat::tiff: rc = tool_readTiff(path.c_str(), &image, error, sizeof error); break;
        default: fail(1, "cannot read " + path + ": unknown file format (supported formats: PNG, PGM, TIFF)");
    }
    if (rc != 0) fail(1, error);
    return image;
}

void check(int32_t status, const std::string &what) {
    if (CBLOB_FAILED(status)) fail(1, what + ": " + cblob_statusName(status));
}

void setSegmentation(cblob_runParams *params, const Options &o, const std::string &file, int bits) {
    const long maxPel = bits == 8 ? 255 : 65535;
    const int32_t invert = o.invert ? 1 : 0;
    switch (o.seg) {
        case Options::Seg::hard:
            if (o.threshold > maxPel)
                fail(2, "--threshold " + std::to_string(o.threshold) + " is beyond the " + std::to_string(bits) +
                            "-bit pixel range of " + file);
            check(cblob_runParams_setSegmentationHardThresh(params, static_cast<int32_t>(o.threshold), invert),
                  "--threshold");
            break;
        case Options::Seg::soft:
            if (o.softHigh > maxPel)
                fail(2, "--soft " + std::to_string(o.softHigh) + " is beyond the " + std::to_string(bits) +
                            "-bit pixel range of " + file);
            if (o.haveSoftness)
                check(cblob_runParams_setSegmentationSoftThreshWithSoftness(params, static_cast<int32_t>(o.softLow),
                                                                            static_cast<int32_t>(o.softHigh),
                                                                            static_cast<int32_t>(o.softness), invert),
                      "--soft");
            else
                check(cblob_runParams_setSegmentationSoftThresh(params, static_cast<int32_t>(o.softLow),
                                                                static_cast<int32_t>(o.softHigh), invert),
                      "--soft");
            break;
        default:
            check(cblob_runParams_setSegmentationHardThreshPercent(params, static_cast<float>(o.lowTail),
                                                                   static_cast<float>(o.highTail),
                                                                   static_cast<float>(o.percent), invert),
                  "--percent");
            break;
    }
}

// Runs the analysis of one file, records the threshold it used and appends
// its blobs to `rows`.
// The --measures of one blob. A measure the library cannot give for this blob
// (not built yet, moments not computed, not for this mode) is NaN, printed
// as missing; any other failure ends the run.
std::vector<double> readMeasures(cblob_blob *b, const Options &o, double angle, const std::string &file) {
    std::vector<double> values;
    for (const tool_measureName *m : o.measures) {
        double v = 0.0;
        const int32_t status =
            cblob_blob_getMeasureAtAngle(b, static_cast<cblob_measure>(m->code), o.haveExclude ? 1 : 0, &v, &angle);
        if (status == cblob_err_notYetSupported || status == cblob_err_measureUnavailable ||
            status == cblob_err_measureNotForMode || status == cblob_err_angleMeasureNotForMode)
            v = std::nan("");
        else
            check(status, "measure " + std::string(m->name) + " of " + file);
        values.push_back(m->isAngle ? degrees(v) : v);
    }
    return values;
}

bool isBoundaryMeasure(int32_t code) {
    return code == cblob_measureBoundaryStepCount || code == cblob_measurePerimeter ||
           code == cblob_measureCompactness || code == cblob_measureAcircularity;
}

// The blob's outline, and for --geojson those of its holes (its children).
void readOutlines(cblob_blob *b, const Options &o, const std::string &file, Row *row) {
    check(tool::readOutline(b, &row->outline), "boundary of blob " + std::to_string(b->label) + " of " + file);
    if (o.geojson.empty()) return;
    for (cblob_blob *child = b->firstChild; child; child = child->nextSibling) {
        row->holes.emplace_back();
        check(tool::readOutline(child, &row->holes.back()),
              "boundary of blob " + std::to_string(child->label) + " of " + file);
    }
}

void analyze(const std::string &file, const Options &o, const tool_greyImage *mask, std::vector<FileResult> &files,
             std::vector<Row> &rows, tool_greyImage *keep) {
    tool_greyImage pixels = readImage(file);
    if (mask && (mask->width != pixels.width || mask->height != pixels.height))
        fail(1, "mask " + o.mask + " is " + std::to_string(mask->width) + "x" + std::to_string(mask->height) +
                    " but " + file + " is " + std::to_string(pixels.width) + "x" + std::to_string(pixels.height));
    LabelInput labels;
    std::string labelError;
    if (o.labelled.labelled && !makeLabelInput(pixels, &labels, &labelError)) fail(1, file + ": " + labelError);
    cimg_image image, maskImage;
    if (o.labelled.labelled) {
        check(cimg_image_constructUnbound(&image, 8), file);
        check(cimg_image_initFromBuffer(&image, const_cast<uint8_t *>(labels.pixels), 8, labels.width, labels.height,
                                        labels.strideBytes, 0, 0),
              file);
    } else {
        check(cimg_image_constructUnbound(&image, pixels.bitsPerPel), file);
        check(cimg_image_initFromBuffer(&image, pixels.pixels, pixels.bitsPerPel, pixels.width, pixels.height,
                                        pixels.strideBytes, 0, 0),
              file);
    }
    check(cimg_image8_construct(&maskImage), o.mask);
    if (mask)
        check(cimg_image_initFromBuffer(&maskImage, mask->pixels, 8, mask->width, mask->height, mask->strideBytes, 0,
                                        0),
              o.mask);
    cblob_runParams params;
    check(cblob_runParams_construct(&params), "run parameters");
    if (o.labelled.labelled)
        check(setLabelledRun(&params), "--labelled");
    else
        setSegmentation(&params, o, file, pixels.bitsPerPel);
    params.connectivityCleanup = o.cleanup;
    params.minArea = static_cast<int32_t>(o.minArea);
    check(tool_addMorphOps(&params, o.morphOps.data(), static_cast<int32_t>(o.morphOps.size())), "morphology");
    // Boxes and medians at an angle, and the interior test against a mask,
    // read each blob's own runs, which the run keeps only when asked.
    for (const tool_measureName *m : o.measures)
        if (m->code >= cblob_measureMedianX || (m->code == cblob_measureIsInterior && mask) ||
            isBoundaryMeasure(m->code))
            params.keepBlobImages = 1;
    if (o.contours || !o.geojson.empty()) params.keepBlobImages = 1;
    if (o.view.needsBlobRuns(mask != nullptr)) params.keepBlobImages = 1;
    cblob_resultSet rs;
    check(cblob_resultSet_construct(&rs), "result set");
    const int32_t status = pixels.bitsPerPel == 8 || o.labelled.labelled ? cblob_run8(&image, mask ? &maskImage : nullptr, &params, &rs)
                                                  : cblob_run16(&image, mask ? &maskImage : nullptr, &params, &rs);
    check(status, "analysing " + file);
    // A percentage run has written the thresholds it computed back into the
    // parameters, so reading them gives the values used in every mode.
    FileResult used{file, o.seg == Options::Seg::soft, 0, 0};
    if (!o.labelled.labelled) check(cblob_runParams_getThresh(&params, &used.thresh), "threshold of " + file);
    if (used.soft) check(cblob_runParams_getHighThresh(&params, &used.high), "high threshold of " + file);
    files.push_back(used);
    const double angle = o.angleDeg * kPi / 180.0;
    check(cblob_resultSet_setExcludeExtrema(&rs, o.excludePercent ? cblob_excludePercent : cblob_excludeAmountChecked,
                                            o.exclude, &angle),
          "--exclude");
    std::string step;
    const int32_t viewStatus = applyViewOptions(&rs, o.view, &step);
    check(viewStatus, step + " of " + file);
    long shown = 0;
    for (int32_t i = 0; i < rs.numViewBlobs && (o.view.top < 0 || shown < o.view.top); ++i) {
        cblob_blob *b = rs.view[i];
        if (o.noHoles && b->colour == 0) continue;
        ++shown;
        rows.push_back(Row{files.size() - 1, b->label, b->colour, b->parent ? b->parent->label : 0, b->area, b->centerOfMassX,
                           b->centerOfMassY, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight, b->elongation,
                           b->angle, b->inertiaMax, o.labelled.labelled ? labels.values[b->colour] : b->colour,
                           blobNeighbours(b), readMeasures(b, o, angle, file), {}, {}});
        if (o.contours || !o.geojson.empty()) readOutlines(b, o, file, &rows.back());
    }
    cblob_resultSet_destruct(&rs);
    cblob_runParams_destruct(&params);
    cimg_image_destruct(&maskImage);
    cimg_image_destruct(&image);
    if (keep)
        *keep = pixels;
    else
        tool_greyImage_free(&pixels);
}

// ----------------------------------------------------------------- output

std::string jsonString(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string csvField(const std::string &text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// "130", or "100..150" for a soft threshold.
std::string thresholdText(const FileResult &f) {
    return f.soft ? std::to_string(f.thresh) + ".." + std::to_string(f.high) : std::to_string(f.thresh);
}

// The table's header line for one file: the threshold used and how it came about.
std::string thresholdLine(const FileResult &f, const Options &o) {
    if (o.labelled.labelled) return "labelled: every value a region";
    std::string line = "threshold " + thresholdText(f);
    if (o.seg == Options::Seg::percent) {
        char how[96];
        std::snprintf(how, sizeof how, " (--percent %g %g %g)", o.lowTail, o.highTail, o.percent);
        line += how;
    } else if (f.soft) {
        line += " (soft)";
    }
    if (o.invert) line += ", inverted";
    return line;
}

// A value in full precision, or `missing` for NaN (a measure the library
// could not give).
std::string number(double v, const char *missing) {
    if (std::isnan(v)) return missing;
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

int columnWidth(const tool_measureName *m) { return std::max(10, static_cast<int>(std::strlen(m->name))); }

// The colour column: "object" or "hole", or the region's label value with
// --labelled (a JSON number then).
std::string colourText(const Row &r, const Options &o) {
    static const char *const name[2] = {"hole", "object"};
    return o.labelled.labelled ? std::to_string(r.value) : name[r.colour];
}
std::string colourJson(const Row &r, const Options &o) {
    return o.labelled.labelled ? colourText(r, o) : jsonString(colourText(r, o));
}

// The JSON members of one blob ("\"file\": ..., \"label\": ...", no braces):
// a JSON output object, and the properties of a GeoJSON feature.
std::string jsonMembers(const Row &r, const FileResult &f, const Options &o) {
    const std::string high = f.soft ? std::to_string(f.high) : "null";
    char fixed[768];
    std::snprintf(fixed, sizeof fixed,
                  "\"threshold\": %d, \"threshold_high\": %s, \"label\": %d, \"colour\": %s, \"parent\": %d, "
                  "\"%s\": %.17g, \"%s\": %.17g, \"%s\": %.17g, \"left\": %d, \"top\": %d, "
                  "\"width\": %d, \"height\": %d, \"elongation\": %.17g, \"%s\": %.17g",
                  f.thresh, high.c_str(), r.label, colourJson(r, o).c_str(), r.parent, clientField(o.view, "area").c_str(),
                  r.area, clientField(o.view, "center_x").c_str(), r.cx, clientField(o.view, "center_y").c_str(), r.cy,
                  r.left, r.top, r.width, r.height, r.elongation, clientField(o.view, "angle_deg").c_str(),
                  degrees(r.angle));
    std::string out = "\"file\": " + jsonString(f.file) + ", " + fixed;
    for (size_t m = 0; m < o.measures.size(); ++m)
        out += ", \"" + std::string(o.measures[m]->name) + "\": " + number(r.extra[m], "null");
    if (o.labelled.neighbours)
        out += ", \"neighbours\": " + neighboursJson(r.neighbours) +
               ", \"touches_border\": " + (r.neighbours.border ? "true" : "false");
    return out;
}

void printRows(const std::vector<FileResult> &files, const std::vector<Row> &rows, const Options &o) {
    const bool withFile = files.size() > 1;
    if (o.format == Options::Format::json) {
        std::printf("[");
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row &r = rows[i];
            std::printf("%s\n  {%s", i ? "," : "", jsonMembers(r, files[r.file], o).c_str());
            if (o.contours) std::printf(", \"contour\": %s", tool::cornersJson(tool::outlineCorners(r.outline)).c_str());
            std::printf("}");
        }
        std::printf("%s]\n", rows.empty() ? "" : "\n");
        return;
    }
    if (o.format == Options::Format::csv) {
        std::printf("file,threshold,threshold_high,label,colour,parent,%s,%s,%s,left,top,width,height,elongation,%s",
                    clientField(o.view, "area").c_str(), clientField(o.view, "center_x").c_str(),
                    clientField(o.view, "center_y").c_str(), clientField(o.view, "angle_deg").c_str());
        for (const tool_measureName *m : o.measures) std::printf(",%s", m->name);
        if (o.labelled.neighbours) std::printf(",neighbours,touches_border");
        std::printf("\n");
        for (const Row &r : rows) {
            const FileResult &f = files[r.file];
            const std::string high = f.soft ? std::to_string(f.high) : "";
            std::printf("%s,%d,%s,%d,%s,%d,%.17g,%.17g,%.17g,%d,%d,%d,%d,%.17g,%.17g", csvField(f.file).c_str(),
                        f.thresh, high.c_str(), r.label, colourText(r, o).c_str(), r.parent, r.area, r.cx, r.cy, r.left,
                        r.top, r.width, r.height, r.elongation, degrees(r.angle));
            for (double v : r.extra) std::printf(",%s", number(v, "").c_str());
            if (o.labelled.neighbours)
                std::printf(",%s,%d", neighboursCsv(r.neighbours).c_str(), r.neighbours.border ? 1 : 0);
            std::printf("\n");
        }
        return;
    }
    // One header line per file gives its threshold, so a file without blobs
    // still shows that it was analysed and at what level.
    size_t fileWidth = 4;
    for (const FileResult &f : files) {
        fileWidth = std::max(fileWidth, f.file.size());
        if (withFile)
            std::printf("%s: %s\n", f.file.c_str(), thresholdLine(f, o).c_str());
        else
            std::printf("%s\n", thresholdLine(f, o).c_str());
    }
    if (o.view.calibrated) std::printf("%s\n", clientUnitsLine(o.view).c_str());
    if (withFile) std::printf("%-*s  ", static_cast<int>(fileWidth), "file");
    std::printf("%6s  %-6s  %6s  %10s  %9s  %9s  %6s  %6s  %6s  %6s  %10s  %9s", "label", "colour", "parent", "area",
                "center_x", "center_y", "left", "top", "width", "height", "elongation", "angle_deg");
    for (const tool_measureName *m : o.measures) std::printf("  %*s", columnWidth(m), m->name);
    if (o.labelled.neighbours) std::printf("  neighbours");
    std::printf("\n");
    for (const Row &r : rows) {
        if (withFile) std::printf("%-*s  ", static_cast<int>(fileWidth), files[r.file].file.c_str());
        std::printf("%6d  %-6s  %6d  %10.1f  %9.2f  %9.2f  %6d  %6d  %6d  %6d  %10.3f  %9.2f", r.label,
                    colourText(r, o).c_str(), r.parent, r.area, r.cx, r.cy, r.left, r.top, r.width, r.height, r.elongation,
                    degrees(r.angle));
        for (size_t m = 0; m < o.measures.size(); ++m) {
            char cell[64];
            std::snprintf(cell, sizeof cell, "%.4f", r.extra[m]);
            std::printf("  %*s", columnWidth(o.measures[m]), std::isnan(r.extra[m]) ? "-" : cell);
        }
        if (o.labelled.neighbours) std::printf("  %s", neighboursCell(r.neighbours).c_str());
        std::printf("\n");
    }
    if (rows.empty()) std::printf("(no blobs)\n");
}

// ---------------------------------------------------------------- overlay

struct Canvas {
    int width, height;
    std::vector<uint8_t> rgb;
    void put(int x, int y, const uint8_t colour[3]) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        std::memcpy(&rgb[(static_cast<size_t>(y) * width + x) * 3], colour, 3);
    }
    void line(double x0, double y0, double x1, double y1, const uint8_t colour[3]) {
        const int steps = static_cast<int>(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))) + 1;
        for (int i = 0; i <= steps; ++i) {
            const double t = static_cast<double>(i) / steps;
            put(static_cast<int>(std::floor(x0 + (x1 - x0) * t)), static_cast<int>(std::floor(y0 + (y1 - y0) * t)),
                colour);
        }
    }
};

// Draws the overlay into `temporary`; the caller renames it into place once
// the rest of the output has gone out, so a failure leaves no partial file.
void writeOverlay(const std::string &temporary, const tool_greyImage &image, const std::vector<Row> &rows,
                  const ViewOptions &view, bool boundaries) {
    Canvas canvas{image.width, image.height, std::vector<uint8_t>(static_cast<size_t>(image.width) * image.height * 3)};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t *p = image.pixels + static_cast<size_t>(y) * image.strideBytes;
            uint8_t v;
            if (image.bitsPerPel == 8) {
                v = p[x];
            } else {
                uint16_t w;
                std::memcpy(&w, p + 2 * x, 2);
                v = static_cast<uint8_t>(w >> 8);
            }
            uint8_t *out = &canvas.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
            out[0] = out[1] = out[2] = v;
        }
    }
    const uint8_t objectColour[3] = {40, 230, 40}, holeColour[3] = {230, 40, 230}, markColour[3] = {255, 60, 40},
                  axisColour[3] = {40, 160, 255};
    for (Row r : rows) {
        toImageFrame(view, &r.cx, &r.cy, &r.angle, &r.area, &r.inertiaMax);
        const uint8_t *box = r.colour ? objectColour : holeColour;
        if (boundaries) {
            tool::forEachBoundaryPixel(r.outline, [&](int32_t x, int32_t y) { canvas.put(x, y, box); });
        } else {
            const double x0 = r.left, y0 = r.top, x1 = r.left + r.width - 1, y1 = r.top + r.height - 1;
            canvas.line(x0, y0, x1, y0, box);
            canvas.line(x1, y0, x1, y1, box);
            canvas.line(x1, y1, x0, y1, box);
            canvas.line(x0, y1, x0, y0, box);
        }
        canvas.line(r.cx - 3, r.cy, r.cx + 3, r.cy, markColour);
        canvas.line(r.cx, r.cy - 3, r.cx, r.cy + 3, markColour);
        if (r.colour && r.area > 0 && r.inertiaMax > 0) {
            // For a uniform ellipse the major moment is area * a^2 / 4.
            const double half = 2.0 * std::sqrt(r.inertiaMax / r.area);
            const double dx = std::cos(r.angle) * half, dy = std::sin(r.angle) * half;
            canvas.line(r.cx - dx, r.cy - dy, r.cx + dx, r.cy + dy, axisColour);
        }
    }
    char error[512];
    if (tool_writePngRgb(temporary.c_str(), canvas.rgb.data(), image.width, image.height, error, sizeof error) != 0) {
        std::remove(temporary.c_str());
        fail(1, error);
    }
}

// Writes the --geojson and --contours FILE.csv files beside their final
// names (tool::commitOutputs moves them into place).
void stageOutlineFiles(const std::vector<FileResult> &files, const std::vector<Row> &rows, const Options &o) {
    std::string error;
    if (!o.geojson.empty()) {
        std::vector<tool::GeoFeature> features;
        for (const Row &r : rows) features.push_back({jsonMembers(r, files[r.file], o), r.outline, r.holes});
        if (!tool::stageGeoJson(o.geojson, features, &error)) fail(1, error);
    }
    if (!o.contoursFile.empty()) {
        std::vector<tool::ContourRow> contours;
        for (const Row &r : rows) contours.push_back({files[r.file].file, r.label, tool::outlineCorners(r.outline)});
        if (!tool::stageContoursCsv(o.contoursFile, contours, &error)) fail(1, error);
    }
}

void progress(size_t done, size_t total) {
    const int width = 30;
    const int filled = static_cast<int>(width * done / total);
    std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu", filled, "##############################", width - filled, "", done, total);
    if (done == total) std::fprintf(stderr, "\r%*s\r", width + 24, "");
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char **argv) {
    // A reader that goes away (`cblob ... | head`) shows up as EPIPE on a
    // write, reported by finishOutput, instead of a silent death by signal.
    signal(SIGPIPE, SIG_IGN);
    const Options options = parseOptions(argc, argv);
    if (options.threads > 0) csys_job_setThreadCount(static_cast<int32_t>(options.threads));
    const std::vector<std::string> files = expandInputs(options.inputs);
    if (!options.overlay.empty() && files.size() != 1) fail(2, "--overlay needs exactly one input file");

    tool_greyImage mask{};
    if (!options.mask.empty()) {
        mask = readImage(options.mask);
        if (mask.bitsPerPel != 8) fail(1, "mask " + options.mask + " must be an 8-bit image");
    }
    std::vector<FileResult> results;
    std::vector<Row> rows;
    tool_greyImage kept{};
    const bool showProgress = files.size() > 1 && isatty(2);
    for (size_t i = 0; i < files.size(); ++i) {
        analyze(files[i], options, options.mask.empty() ? nullptr : &mask, results, rows,
                options.overlay.empty() ? nullptr : &kept);
        if (showProgress) progress(i + 1, files.size());
    }
    // The outline files are staged first: a failure there exits before the
    // overlay's temporary file exists, and one of the overlay's removes the
    // staged files at exit.
    stageOutlineFiles(results, rows, options);
    const std::string temporary = options.overlay.empty() ? std::string() : options.overlay + ".tmp";
    if (!options.overlay.empty()) writeOverlay(temporary, kept, rows, options.view, options.contours);
    printRows(results, rows, options);
    finishOutput(temporary);
    std::string outlineError;
    if (!tool::commitOutputs(&outlineError)) {
        std::remove(temporary.c_str());
        fail(1, outlineError);
    }
    if (!options.overlay.empty() && std::rename(temporary.c_str(), options.overlay.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        fail(1, "cannot write " + options.overlay + ": " + reason);
    }
    tool_greyImage_free(&kept);
    tool_greyImage_free(&mask);
    return 0;
}
