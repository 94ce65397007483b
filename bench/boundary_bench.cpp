// Boundary tracing: the chain code of every blob of a run (objects and
// holes, cblob_blob_getBoundaryChainCode) against OpenCV's cv::findContours
// (RETR_CCOMP, CHAIN_APPROX_NONE: the outer border of every object and the
// border of every hole, every border pixel kept) on the same binary image,
// both on one thread, in the same run.
//
// What is timed: for cblob, tracing every blob of a result set that a run
// with keepBlobImages filled beforehand (the run, which also builds each
// blob's rows, is not timed); for OpenCV, findContours on the thresholded
// image (the threshold is not timed). Both produce one boundary per object
// and per hole.
//
// After the benchmarks, a table per image: blobs, contours, steps of all
// chains, points of all contours, the two times and their ratio.
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
#include "synthetic_images.hpp"

namespace {

using cblobbench::GreyImage;

std::vector<GreyImage> &images() {
    static std::vector<GreyImage> all;
    return all;
}

bool readPng(const std::string &path, GreyImage &image) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_GRAY;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.pixels.resize(PNG_IMAGE_SIZE(png));
    return png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr) != 0;
}

// Otsu's threshold, so that each photograph is cut where it separates best.
int otsu(const GreyImage &image) {
    cv::Mat mat(image.height, image.width, CV_8UC1, const_cast<uint8_t *>(image.pixels.data()));
    cv::Mat out;
    return static_cast<int>(cv::threshold(mat, out, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU)) + 1;
}

struct Counts {
    double blobs = 0, steps = 0, contours = 0, points = 0;
};
std::map<std::string, Counts> &counts() {
    static std::map<std::string, Counts> all;
    return all;
}

// A run with a hard threshold at the image's threshold that keeps per-blob
// images, on one thread.
class KeptRun {
public:
    explicit KeptRun(const GreyImage &image) {
        csys_job_setThreadCount(1);
        cimg_image_constructUnbound(&img_, 8);
        cimg_image_initFromBuffer(&img_, const_cast<uint8_t *>(image.pixels.data()), 8, image.width, image.height,
                                  image.width, 0, 0);
        cblob_runParams_construct(&params_);
        cblob_runParams_setSegmentationHardThresh(&params_, image.threshold, 0);
        params_.keepBlobImages = 1;
        cblob_resultSet_construct(&rs_);
        status_ = cblob_run8(&img_, nullptr, &params_, &rs_);
    }
    ~KeptRun() {
        cblob_resultSet_destruct(&rs_);
        cblob_runParams_destruct(&params_);
        cimg_image_destruct(&img_);
    }
    KeptRun(const KeptRun &) = delete;
    KeptRun &operator=(const KeptRun &) = delete;
    int32_t status() const { return status_; }
    cblob_resultSet &result() { return rs_; }

private:
    cimg_image img_;
    cblob_runParams params_;
    cblob_resultSet rs_;
    int32_t status_ = 0;
};

void BM_Cblob(benchmark::State &state, const GreyImage *image) {
    KeptRun run(*image);
    if (CBLOB_FAILED(run.status())) {
        state.SkipWithError(cblob_statusName(run.status()));
        return;
    }
    cblob_resultSet &rs = run.result();
    cstd_vector8 chain;
    cstd_vector8_constructEmpty(&chain);
    double steps = 0;
    for (auto _ : state) {
        steps = 0;
        for (int32_t i = 0; i < rs.numBlobs; ++i) {
            int32_t start[2];
            const int32_t status = cblob_blob_getBoundaryChainCode(rs.allBlobs[i], start, &chain);
            if (CBLOB_FAILED(status)) {
                state.SkipWithError(cblob_statusName(status));
                break;
            }
            steps += static_cast<double>(chain.untyped.size - 1);
        }
        benchmark::DoNotOptimize(steps);
    }
    cstd_vector8_destruct(&chain);
    counts()[image->name].blobs = rs.numBlobs;
    counts()[image->name].steps = steps;
    state.counters["blobs"] = rs.numBlobs;
}

void BM_OpenCv(benchmark::State &state, const GreyImage *image) {
    cv::setNumThreads(1);
    cv::Mat mat(image->height, image->width, CV_8UC1, const_cast<uint8_t *>(image->pixels.data()));
    cv::Mat binary;
    cv::threshold(mat, binary, image->threshold - 1, 255, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    for (auto _ : state) {
        cv::findContours(binary, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE);
        benchmark::DoNotOptimize(contours.data());
    }
    double points = 0;
    for (const auto &c : contours) points += static_cast<double>(c.size());
    counts()[image->name].contours = static_cast<double>(contours.size());
    counts()[image->name].points = points;
    state.counters["contours"] = static_cast<double>(contours.size());
}

// Collects each run's time per iteration for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void addImages() {
    const char *dirs[] = {CBLOB_BENCH_IMAGE_DIRS};
    for (const char *file : {"coins.png", "parts8.png", "text.png", "cell.png", "stars.png"}) {
        for (const char *dir : dirs) {
            GreyImage image;
            image.name = file;
            if (!readPng(std::string(dir) + "/" + file, image)) continue;
            image.threshold = otsu(image);
            images().push_back(image);
            break;
        }
    }
    const int size = 2048;  // 4 megapixels
    for (int cell : {1, 4, 16}) {
        GreyImage image = cblobbench::noiseImage(size, size, 0.5, cell);
        image.name = "noise_g" + std::to_string(cell) + "_d0.5_4MP";
        images().push_back(std::move(image));
    }
    GreyImage text = cblobbench::textImage(size, size);
    text.name = "text_4MP";
    images().push_back(std::move(text));
    GreyImage parts = cblobbench::partsImage(size, size);
    parts.name = "parts_4MP";
    images().push_back(std::move(parts));
}

}  // namespace

int main(int argc, char **argv) {
    addImages();
    for (const GreyImage &image : images()) {
        benchmark::RegisterBenchmark(("cblob_trace/" + image.name).c_str(), BM_Cblob, &image);
        benchmark::RegisterBenchmark(("opencv_findContours/" + image.name).c_str(), BM_OpenCv, &image);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n| image | size | blobs | OpenCV contours | chain steps | OpenCV points | cblob ms | OpenCV ms "
                "| cblob / OpenCV |\n|---|---|---|---|---|---|---|---|---|\n");
    for (const GreyImage &image : images()) {
        auto time = [&](const char *what) {
            auto it = reporter.times.find(std::string(what) + "/" + image.name);
            return it == reporter.times.end() ? 0.0 : it->second;
        };
        const double cblob = time("cblob_trace"), opencv = time("opencv_findContours");
        if (cblob <= 0 || opencv <= 0) continue;
        const Counts &c = counts()[image.name];
        std::printf("| %s | %dx%d | %.0f | %.0f | %.0f | %.0f | %.3f | %.3f | %.2f |\n", image.name.c_str(),
                    image.width, image.height, c.blobs, c.contours, c.steps, c.points, cblob / 1e6, opencv / 1e6,
                    cblob / opencv);
    }
    return 0;
}
