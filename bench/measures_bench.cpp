// Blob measures after a run: every measure of every blob, read through
// cblob_blob_getMeasure / cblob_blob_getMeasureAtAngle into the cache of a
// result set fresh from its run, against the run itself; and the principal
// box of every blob against OpenCV's per-contour cv::minAreaRect +
// cv::moments over cv::findContours on the same binary image. One thread
// for both (csys_job_setThreadCount(1), cv::setNumThreads(1)).
//
// Per image:
//   run_keep/      cblob_run8 with keepBlobImages = 1 into a fresh result set
//                  (construction and run timed; the release is not)
//   run_plain/     the same without keepBlobImages
//   measures/      after an untimed run_keep: every code 1..47 for every
//                  blob (objects and holes), four times: at the default angle
//                  and at the blob's principal angle (measure 13), each with
//                  exclusion off and on (mode cblob_excludeAmountChecked,
//                  kExcludeAmount pixels off each end)
//   principal/     after an untimed run_keep: codes 37..47 of every blob at
//                  the default angle, exclusion off
//   groups/        after an untimed run_keep: cblob_resultSet_precomputeMeasures
//                  of the angle group (default angle) and the principal
//                  group, exclusion off: one computation of each per blob
//   opencv_box/    cv::findContours (RETR_CCOMP, CHAIN_APPROX_SIMPLE) on the
//                  binary image, then cv::minAreaRect and cv::moments of
//                  every contour (the thresholding is not timed)
//
// The timed parts of measures/ and principal/ use manual timing (the run
// before them is outside the clock). A table of medians (over
// --benchmark_repetitions) and ratios follows the benchmarks.
#include <benchmark/benchmark.h>
#include <png.h>

#include <chrono>
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
using Clock = std::chrono::steady_clock;

constexpr double kExcludeAmount = 2.0;

std::vector<GreyImage> &images() {
    static std::vector<GreyImage> all;
    return all;
}


// An image wrapped for cblob with its run parameters; each run() goes into a
// result set constructed for it, as a caller analysing a new image would.
class CblobImage {
public:
    CblobImage(const GreyImage &image, bool keepBlobImages) {
        csys_job_setThreadCount(1);
        cimg_image_constructUnbound(&img_, 8);
        cimg_image_initFromBuffer(&img_, const_cast<uint8_t *>(image.pixels.data()), 8, image.width, image.height,
                                  image.width, 0, 0);
        cblob_runParams_construct(&params_);
        cblob_runParams_setSegmentationHardThresh(&params_, image.threshold, 0);
        params_.keepBlobImages = keepBlobImages ? 1 : 0;
    }
    ~CblobImage() {
        cblob_runParams_destruct(&params_);
        cimg_image_destruct(&img_);
    }
    CblobImage(const CblobImage &) = delete;
    CblobImage &operator=(const CblobImage &) = delete;
    // Constructs *rs and runs into it; *rs must be destructed by the caller
    // whatever the status.
    int32_t run(cblob_resultSet *rs) {
        cblob_resultSet_construct(rs);
        return cblob_run8(&img_, nullptr, &params_, rs);
    }

private:
    cimg_image img_;
    cblob_runParams params_;
};

void BM_Run(benchmark::State &state, const GreyImage *image, bool keepBlobImages) {
    CblobImage cblob(*image, keepBlobImages);
    int32_t blobs = 0;
    for (auto _ : state) {
        cblob_resultSet rs;
        const auto start = Clock::now();
        const int32_t status = cblob.run(&rs);
        const auto stop = Clock::now();
        blobs = rs.numBlobs;
        cblob_resultSet_destruct(&rs);
        if (CBLOB_FAILED(status)) {
            state.SkipWithError(cblob_statusName(status));
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    state.counters["blobs"] = blobs;
}

// Every measure of every blob at both angles, exclusion off and on. Per
// blob: exclusion off, then on; for each, the default angle and then the
// principal angle (so the principal group, whose values do not depend on the
// angle asked, is computed once per exclusion setting, and the angle group
// four times). A failing status stops the benchmark.
int32_t readAllMeasures(cblob_resultSet &rs, double &sink) {
    const double defaultAngle = 0.0;
    int32_t status =
        cblob_resultSet_setExcludeExtrema(&rs, cblob_excludeAmountChecked, kExcludeAmount, &defaultAngle);
    if (CBLOB_FAILED(status)) return status;
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        cblob_blob *blob = rs.allBlobs[i];
        double principalAngle = 0.0;
        status = cblob_blob_getMeasure(blob, cblob_measureAngle, 0, &principalAngle);
        if (CBLOB_FAILED(status)) return status;
        for (int32_t exclusion = 0; exclusion < 2; ++exclusion)
            for (int atPrincipal = 0; atPrincipal < 2; ++atPrincipal)
                for (int code = 1; code <= 47; ++code) {
                    double value = 0.0;
                    status = atPrincipal ? cblob_blob_getMeasureAtAngle(blob, static_cast<cblob_measure>(code),
                                                                        exclusion, &value, &principalAngle)
                                         : cblob_blob_getMeasure(blob, static_cast<cblob_measure>(code), exclusion,
                                                                 &value);
                    if (CBLOB_FAILED(status)) return status;
                    sink += value;
                }
    }
    return 0;
}

// The principal box of every blob: codes 37 to 47, exclusion off.
int32_t readPrincipalBoxes(cblob_resultSet &rs, double &sink) {
    for (int32_t i = 0; i < rs.numBlobs; ++i)
        for (int code = 37; code <= 47; ++code) {
            double value = 0.0;
            const int32_t status =
                cblob_blob_getMeasure(rs.allBlobs[i], static_cast<cblob_measure>(code), 0, &value);
            if (CBLOB_FAILED(status)) return status;
            sink += value;
        }
    return 0;
}

// One angle group (at the default angle) and one principal group per blob,
// exclusion off, through cblob_resultSet_precomputeMeasures: the group
// computations alone, without the dispatcher of single reads. Reading every
// measure computes the angle group four times and the principal group twice
// per blob.
int32_t precomputeGroups(cblob_resultSet &rs, double &sink) {
    const cblob_measure block[2] = {cblob_measureMedianX, cblob_measurePrincipalMedianX};
    cstd_vector_cblob_measure codes;
    int32_t status = cstd_vector_cblob_measure_constructFromBlock(&codes, block, 2);
    if (CBLOB_FAILED(status)) return status;
    status = cblob_resultSet_precomputeMeasures(&rs, &codes);
    cstd_vector_cblob_measure_destruct(&codes);
    sink += rs.numBlobs;
    return status;
}

template <int32_t (*Read)(cblob_resultSet &, double &)>
void BM_AfterRun(benchmark::State &state, const GreyImage *image) {
    CblobImage cblob(*image, true);
    double sink = 0.0;
    int32_t blobs = 0;
    for (auto _ : state) {
        cblob_resultSet rs;
        int32_t status = cblob.run(&rs);
        double seconds = 0.0;
        if (!CBLOB_FAILED(status)) {
            const auto start = Clock::now();
            status = Read(rs, sink);
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
        }
        blobs = rs.numBlobs;
        cblob_resultSet_destruct(&rs);
        if (CBLOB_FAILED(status)) {
            state.SkipWithError(cblob_statusName(status));
            break;
        }
        state.SetIterationTime(seconds);
    }
    benchmark::DoNotOptimize(sink);
    state.counters["blobs"] = blobs;
}

void BM_OpenCvBox(benchmark::State &state, const GreyImage *image) {
    cv::setNumThreads(1);
    cv::Mat mat(image->height, image->width, CV_8UC1, const_cast<uint8_t *>(image->pixels.data()));
    cv::Mat binary;
    cv::threshold(mat, binary, image->threshold - 1, 255, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    double sink = 0.0;
    for (auto _ : state) {
        const auto start = Clock::now();
        cv::findContours(binary, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
        for (const auto &contour : contours) {
            const cv::RotatedRect box = cv::minAreaRect(contour);
            const cv::Moments m = cv::moments(contour);
            sink += box.size.width + box.center.x + m.m00 + m.mu11;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    benchmark::DoNotOptimize(sink);
    state.counters["contours"] = static_cast<double>(contours.size());
}

void addImages() {
    cblobbench::addPhotographs(images(), {"cell.png", "coins.png", "stars.png", "text.png"}, {CBLOB_BENCH_IMAGE_DIRS});
    const int width = 2048, height = 2048;
    for (int cell : {1, 4, 16}) {
        for (double density : {0.1, 0.5, 0.9}) {
            GreyImage image = cblobbench::noiseImage(width, height, density, cell);
            char name[64];
            std::snprintf(name, sizeof name, "noise_g%d_d%.1f_4MP", cell, density);
            image.name = name;
            images().push_back(std::move(image));
        }
    }
    cblobbench::addTextAndParts(images(), width, height, "4MP");
}

}  // namespace

int main(int argc, char **argv) {
    addImages();
    for (const GreyImage &image : images()) {
        auto add = [&](const std::string &what, auto &&fn) {
            benchmark::RegisterBenchmark((what + "/" + image.name).c_str(), fn, &image)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        };
        add("run_keep", [](benchmark::State &s, const GreyImage *i) { BM_Run(s, i, true); });
        add("run_plain", [](benchmark::State &s, const GreyImage *i) { BM_Run(s, i, false); });
        add("measures", BM_AfterRun<readAllMeasures>);
        add("principal", BM_AfterRun<readPrincipalBoxes>);
        add("groups", BM_AfterRun<precomputeGroups>);
        add("opencv_box", BM_OpenCvBox);
    }
    benchmark::Initialize(&argc, argv);
    cblobbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf(
        "\n| image | blobs | run, keepBlobImages ms | plain run ms | all measures ms | measures / run "
        "| measures / plain run | principal box ms | OpenCV contours + minAreaRect + moments ms "
        "| principal box / OpenCV | one angle + one principal group ms |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const GreyImage &image : images()) {
        auto time = [&](const char *what) {
            return reporter.time(std::string(what) + "/" + image.name);
        };
        const double keep = time("run_keep"), plain = time("run_plain"), all = time("measures"),
                     principal = time("principal"), opencv = time("opencv_box"), groups = time("groups");
        if (keep <= 0 || plain <= 0 || all <= 0 || principal <= 0 || opencv <= 0) continue;
        std::printf("| %s | %.0f | %.3f | %.3f | %.3f | %.2f | %.2f | %.3f | %.3f | %.2f | %.3f |\n",
                    image.name.c_str(), reporter.counter("run_keep/" + image.name, "blobs"), keep, plain, all, all / keep,
                    all / plain, principal, opencv, principal / opencv, groups);
    }
    return 0;
}
