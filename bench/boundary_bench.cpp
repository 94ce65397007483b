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
// and per hole. Each iteration times both back to back.
//
// After the benchmarks, a table per image: blobs, contours, steps of all
// chains, points of all contours, the best time of each over all
// iterations and their ratio.
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
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
#include "synthetic_images.hpp"

namespace {

using cblobbench::GreyImage;

std::vector<GreyImage> &images() {
    static std::vector<GreyImage> all;
    return all;
}


struct Counts {
    double blobs = 0, steps = 0, contours = 0, points = 0;
    double cblob = 0, opencv = 0;  // best seconds per trace of all boundaries
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

// Traces every blob of the run; returns the chain steps, or -1 on failure.
double traceAll(cblob_resultSet &rs, cstd_vector8 *chain) {
    double steps = 0;
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        int32_t start[2];
        if (CBLOB_FAILED(cblob_blob_getBoundaryChainCode(rs.allBlobs[i], start, chain))) return -1;
        steps += static_cast<double>(chain->untyped.size - 1);
    }
    return steps;
}

double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One iteration traces with cblob and then with OpenCV, back to back, so
// that both see the same load of the shared machine; the reported time is
// cblob's, and the table compares the best time of each.
void BM_Pair(benchmark::State &state, const GreyImage *image) {
    KeptRun run(*image);
    if (CBLOB_FAILED(run.status())) {
        state.SkipWithError(cblob_statusName(run.status()));
        return;
    }
    cblob_resultSet &rs = run.result();
    cstd_vector8 chain;
    cstd_vector8_constructEmpty(&chain);
    cv::setNumThreads(1);
    cv::Mat mat(image->height, image->width, CV_8UC1, const_cast<uint8_t *>(image->pixels.data()));
    cv::Mat binary;
    cv::threshold(mat, binary, image->threshold - 1, 255, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    Counts &c = counts()[image->name];
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        const double steps = traceAll(rs, &chain);
        const double cblob = secondsSince(t0);
        if (steps < 0) {
            state.SkipWithError("tracing failed");
            break;
        }
        t0 = std::chrono::steady_clock::now();
        cv::findContours(binary, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE);
        const double opencv = secondsSince(t0);
        benchmark::DoNotOptimize(contours.data());
        state.SetIterationTime(cblob);
        c.steps = steps;
        c.cblob = c.cblob > 0 ? std::min(c.cblob, cblob) : cblob;
        c.opencv = c.opencv > 0 ? std::min(c.opencv, opencv) : opencv;
    }
    cstd_vector8_destruct(&chain);
    c.blobs = rs.numBlobs;
    c.contours = static_cast<double>(contours.size());
    c.points = 0;
    for (const auto &contour : contours) c.points += static_cast<double>(contour.size());
    state.counters["blobs"] = rs.numBlobs;
    state.counters["opencv_ms"] = c.opencv * 1e3;
    state.counters["ratio"] = c.opencv > 0 ? c.cblob / c.opencv : 0;
}

void addImages() {
    cblobbench::addPhotographs(images(), {"coins.png", "parts8.png", "text.png", "cell.png", "stars.png"}, {CBLOB_BENCH_IMAGE_DIRS});
    const int size = 2048;  // 4 megapixels
    for (int cell : {1, 4, 16}) {
        GreyImage image = cblobbench::noiseImage(size, size, 0.5, cell);
        image.name = "noise_g" + std::to_string(cell) + "_d0.5_4MP";
        images().push_back(std::move(image));
    }
    cblobbench::addTextAndParts(images(), size, size, "4MP");
}

}  // namespace

int main(int argc, char **argv) {
    addImages();
    for (const GreyImage &image : images())
        benchmark::RegisterBenchmark(("trace/" + image.name).c_str(), BM_Pair, &image)->UseManualTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n| image | size | blobs | OpenCV contours | chain steps | OpenCV points | cblob ms | OpenCV ms "
                "| cblob / OpenCV |\n|---|---|---|---|---|---|---|---|---|\n");
    for (const GreyImage &image : images()) {
        const auto it = counts().find(image.name);
        if (it == counts().end() || it->second.cblob <= 0 || it->second.opencv <= 0) continue;
        const Counts &c = it->second;
        const double ratio = c.cblob / c.opencv;
        std::printf("| %s | %dx%d | %.0f | %.0f | %.0f | %.0f | %.3f | %.3f | %.*f |\n", image.name.c_str(),
                    image.width, image.height, c.blobs, c.contours, c.steps, c.points, c.cblob * 1e3, c.opencv * 1e3,
                    ratio < 0.1 ? 3 : 2, ratio);
    }
    return 0;
}
