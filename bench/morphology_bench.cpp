// Morphology on runs against OpenCV on pixels: cblob_imageRlePtrh_gmorph on
// the binary run-length image of a thresholded image against cv::erode,
// cv::dilate and cv::morphologyEx on the same binary image (0 / 255 pixels),
// both with the 3 x 3 square and one thread, in the same run. Both treat the
// outside of the image as neutral (OpenCV's default border for erosion and
// dilation, the repeated edge of cblob), so both give the same pixels; the
// program checks that once per image and operation before timing.
//
// cblob's cost follows the runs, OpenCV's the pixels: images with long runs
// (photographs, parts scenes, text pages, blocky noise) favour runs,
// single-pixel noise does not. After the benchmarks a table of ratios
// (cblob CPU time / OpenCV CPU time, the least of the repetitions of each;
// lower is better) is printed per image.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "photo_images.hpp"
#include "ratio_reporter.hpp"
#include "synthetic_images.hpp"

namespace {

using cblobbench::GreyImage;

// One benchmark image: the grey pixels, the binary pixels OpenCV works on,
// and the binary run-length image cblob works on.
struct Case {
    GreyImage grey;
    cv::Mat binary;
    cblob_imageRlePtrh runs;
    double runsPer256 = 0;
};

std::vector<Case *> &cases() {
    static std::vector<Case *> all;
    return all;
}

struct Op {
    const char *name;
    cblob_morphOp code;
    int cvOp;     // cv::MORPH_*
    bool square;  // 3 x 3, else the horizontal 1 x 3 element
};
// The four operations with the square, and the horizontal erosion: a pass
// that moves run ends within rows, about what reading and writing the runs
// costs (cblob) against one horizontal filter (OpenCV).
const Op kOps[] = {
    {"erode", cblob_morph_erode3x3, cv::MORPH_ERODE, true},
    {"dilate", cblob_morph_dilate3x3, cv::MORPH_DILATE, true},
    {"open", cblob_morph_open3x3, cv::MORPH_OPEN, true},
    {"close", cblob_morph_close3x3, cv::MORPH_CLOSE, true},
    {"erode1x3", cblob_morph_erode1x3, cv::MORPH_ERODE, false},
};

using cblobbench::otsu;
using cblobbench::readPng;

cv::Mat matOf(const GreyImage &image) {
    return cv::Mat(image.height, image.width, CV_8UC1, const_cast<uint8_t *>(image.pixels.data()));
}

const cv::Mat &element(bool square) {
    static const cv::Mat s = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    static const cv::Mat h = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 1));
    return square ? s : h;
}

void cvMorph(const cv::Mat &in, cv::Mat &out, const Op &op) {
    if (op.cvOp == cv::MORPH_ERODE) {
        cv::erode(in, out, element(op.square));
    } else if (op.cvOp == cv::MORPH_DILATE) {
        cv::dilate(in, out, element(op.square));
    } else {
        cv::morphologyEx(in, out, op.cvOp, element(op.square));
    }
}

// Thresholds the image, encodes its runs and keeps both forms.
void addCase(GreyImage grey) {
    auto *c = new Case;
    c->grey = std::move(grey);
    cv::threshold(matOf(c->grey), c->binary, c->grey.threshold - 1, 255, cv::THRESH_BINARY);
    cimg_image img;
    cimg_image_constructUnbound(&img, 8);
    cimg_image_initFromBuffer(&img, c->grey.pixels.data(), 8, c->grey.width, c->grey.height, c->grey.width, 0, 0);
    cblob_imageRlePtrh_construct(&c->runs);
    if (CBLOB_FAILED(cblob_imageRlePtrh_encodeHardThresh(&c->runs, &img, c->grey.threshold, 0))) {
        std::fprintf(stderr, "%s: encoding failed\n", c->grey.name.c_str());
    }
    cimg_image_destruct(&img);
    int32_t runs = 0;
    cblob_imageRlePtrh_getNumRuns(&c->runs, &runs);
    c->runsPer256 = 256.0 * runs / (static_cast<double>(c->grey.width) * c->grey.height);
    cases().push_back(c);
}

// Whether cblob's result equals OpenCV's, pixel for pixel.
bool sameResult(const Case &c, const Op &op) {
    cblob_imageRlePtrh out;
    cblob_imageRlePtrh_construct(&out);
    if (CBLOB_FAILED(cblob_imageRlePtrh_gmorph(&c.runs, &out, op.code))) return false;
    cimg_image rendered;
    cimg_image_constructUnbound(&rendered, 8);
    const bool drawn = !CBLOB_FAILED(cblob_imageRlePtrh_getImage(&out, &rendered));
    cv::Mat want;
    cvMorph(c.binary, want, op);
    bool same = drawn;
    for (int y = 0; same && y < c.grey.height; ++y)
        for (int x = 0; same && x < c.grey.width; ++x)
            same = (rendered.pels[y * rendered.strideBytes + x] != 0) == (want.at<uint8_t>(y, x) != 0);
    cimg_image_destruct(&rendered);
    cblob_imageRlePtrh_destruct(&out);
    return same;
}

void BM_Cblob(benchmark::State &state, const Case *c, const Op *op) {
    csys_job_setThreadCount(1);
    cblob_imageRlePtrh out;
    cblob_imageRlePtrh_construct(&out);
    for (auto _ : state) {
        const int32_t status = cblob_imageRlePtrh_gmorph(&c->runs, &out, op->code);
        if (CBLOB_FAILED(status)) {
            state.SkipWithError(cblob_statusName(status));
            break;
        }
    }
    int32_t runs = 0;
    cblob_imageRlePtrh_getNumRuns(&out, &runs);
    state.counters["runs_out"] = runs;
    cblob_imageRlePtrh_destruct(&out);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * c->grey.width * c->grey.height);
}

void BM_OpenCv(benchmark::State &state, const Case *c, const Op *op) {
    cv::setNumThreads(1);
    cv::Mat out;
    for (auto _ : state) {
        cvMorph(c->binary, out, *op);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * c->grey.width * c->grey.height);
}

void addImages() {
    const char *dirs[] = {CBLOB_BENCH_IMAGE_DIRS};
    for (const char *file : {"coins.png", "parts8.png", "cell.png", "stars.png", "text.png"}) {
        for (const char *dir : dirs) {
            GreyImage image;
            image.name = file;
            if (!readPng(std::string(dir) + "/" + file, image)) continue;
            image.threshold = otsu(image);
            addCase(std::move(image));
            break;
        }
    }
    const int sizes[][2] = {{2048, 2048}, {4096, 4096}};
    for (const auto &size : sizes) {
        const std::string mp = std::to_string(size[0] * size[1] / (1024 * 1024)) + "MP";
        GreyImage parts = cblobbench::partsImage(size[0], size[1]);
        parts.name = "parts_" + mp;
        addCase(std::move(parts));
        GreyImage blocks = cblobbench::noiseImage(size[0], size[1], 0.5, 16);
        blocks.name = "blocks_g16_" + mp;
        addCase(std::move(blocks));
    }
    GreyImage page = cblobbench::textImage(2048, 2048);
    page.name = "text_page_4MP";
    addCase(std::move(page));
    for (int cell : {4, 1}) {
        GreyImage noise = cblobbench::noiseImage(2048, 2048, 0.5, cell);
        noise.name = "noise_g" + std::to_string(cell) + "_4MP";
        addCase(std::move(noise));
    }
}

}  // namespace

int main(int argc, char **argv) {
    addImages();
    bool allSame = true;
    for (const Case *c : cases()) {
        for (const Op &op : kOps) {
            if (!sameResult(*c, op)) {
                std::fprintf(stderr, "MISMATCH: %s %s differs from OpenCV\n", c->grey.name.c_str(), op.name);
                allSame = false;
            }
            benchmark::RegisterBenchmark(("cblob/" + std::string(op.name) + "/" + c->grey.name).c_str(), BM_Cblob, c,
                                         &op);
            benchmark::RegisterBenchmark(("opencv/" + std::string(op.name) + "/" + c->grey.name).c_str(), BM_OpenCv,
                                         c, &op);
        }
    }
    benchmark::Initialize(&argc, argv);
    // CPU times: the machine the table was made on is shared, and a process
    // that waits for a core does not count the wait.
    cblobbench::RatioReporter reporter(cblobbench::RatioReporter::Clock::cpu);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nEvery result %s OpenCV's pixels.\n", allSame ? "equals" : "does NOT equal");
    std::printf(
        "\n| image | size | runs / 256 px | erode | dilate | open | close | erode 1x3 |\n"
        "|---|---|---|---|---|---|---|---|\n");
    for (const Case *c : cases()) {
        std::printf("| %s | %dx%d | %.1f |", c->grey.name.c_str(), c->grey.width, c->grey.height, c->runsPer256);
        for (const Op &op : kOps) {
            const std::string suffix = std::string(op.name) + "/" + c->grey.name;
            const double a = reporter.time("cblob/" + suffix), b = reporter.time("opencv/" + suffix);
            if (a <= 0 || b <= 0) {
                std::printf(" - |");
            } else {
                std::printf(" %.2f |", a / b);
            }
        }
        std::printf("\n");
    }
    for (Case *c : cases()) {
        cblob_imageRlePtrh_destruct(&c->runs);
        delete c;
    }
    return 0;
}
