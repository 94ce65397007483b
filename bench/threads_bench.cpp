// Banded labelling: cblob_run8 with a hard threshold on one thread and on two
// (the job thread group labels the image in two bands), against OpenCV's
// cv::threshold + cv::connectedComponentsWithStats with cv::setNumThreads(2),
// in the same run, on 4- and 16-megapixel scenes: structured sets of parts
// with holes, a document page, and single-pixel noise.
//
// Fresh against reused result sets: a caller that analyses each image into
// a new result set (constructed, run, destructed: timed together) against
// one that runs every image through the same result set. The first run of
// the process, into a fresh result set, is timed apart before any
// benchmark, since no memory of an earlier run exists then.
//
// After the benchmarks a table of ratios per image is printed: one thread /
// two threads, cblob (two threads) / OpenCV with stats (two threads), fresh /
// reused (two threads).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
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

std::vector<GreyImage> &images() {
    static std::vector<GreyImage> all;
    return all;
}

// One image wrapped for cblob, with its run parameters.
class Input {
public:
    explicit Input(const GreyImage &image) {
        cimg_image_constructUnbound(&img_, 8);
        cimg_image_initFromBuffer(&img_, const_cast<uint8_t *>(image.pixels.data()), 8, image.width, image.height,
                                  image.width, 0, 0);
        cblob_runParams_construct(&params_);
        cblob_runParams_setSegmentationHardThresh(&params_, image.threshold, 0);
    }
    ~Input() {
        cblob_runParams_destruct(&params_);
        cimg_image_destruct(&img_);
    }
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;
    int32_t run(cblob_resultSet *rs) { return cblob_run8(&img_, nullptr, &params_, rs); }

private:
    cimg_image img_;
    cblob_runParams params_;
};

// A run into a new result set, constructed and destructed around it; the
// blob count of the run in *blobs.
int32_t freshRun(Input &input, int32_t *blobs) {
    cblob_resultSet rs;
    int32_t status = cblob_resultSet_construct(&rs);
    if (!CBLOB_FAILED(status)) status = input.run(&rs);
    *blobs = rs.numBlobs;
    const int32_t end = cblob_resultSet_destruct(&rs);
    return CBLOB_FAILED(status) ? status : end;
}

void BM_CblobReused(benchmark::State &state, const GreyImage *image, int threads) {
    csys_job_setThreadCount(threads);
    Input input(*image);
    cblob_resultSet rs;
    cblob_resultSet_construct(&rs);
    for (auto _ : state) {
        const int32_t status = input.run(&rs);
        if (CBLOB_FAILED(status)) {
            state.SkipWithError(cblob_statusName(status));
            break;
        }
    }
    state.counters["blobs"] = rs.numBlobs;
    cblob_resultSet_destruct(&rs);
}

void BM_CblobFresh(benchmark::State &state, const GreyImage *image, int threads) {
    csys_job_setThreadCount(threads);
    Input input(*image);
    int32_t blobs = 0;
    for (auto _ : state) {
        const int32_t status = freshRun(input, &blobs);
        if (CBLOB_FAILED(status)) {
            state.SkipWithError(cblob_statusName(status));
            break;
        }
    }
    state.counters["blobs"] = blobs;
}

void BM_OpenCvWithStats(benchmark::State &state, const GreyImage *image, int threads) {
    cblobbench::openCvWithStats(state, *image, threads);
}

void addImages() {
    const int sizes[][2] = {{2048, 2048}, {4096, 4096}};
    for (const auto &size : sizes) {
        const std::string mp = std::to_string(size[0] * size[1] / (1024 * 1024)) + "MP";
        GreyImage parts = cblobbench::partsImage(size[0], size[1], size[0] * size[1] / 4000);
        parts.name = "parts_" + mp;
        images().push_back(std::move(parts));
        GreyImage text = cblobbench::textImage(size[0], size[1]);
        text.name = "text_" + mp;
        images().push_back(std::move(text));
        GreyImage noise = cblobbench::noiseImage(size[0], size[1], 0.5, 1);
        noise.name = "noise_" + mp;
        images().push_back(std::move(noise));
    }
}

}  // namespace

int main(int argc, char **argv) {
    addImages();
    // The first run of the process: 16-megapixel noise into a fresh result set.
    double firstMs = 0.0;
    {
        const GreyImage &noise = images().back();
        csys_job_setThreadCount(2);
        Input input(noise);
        int32_t blobs = 0;
        const auto start = std::chrono::steady_clock::now();
        freshRun(input, &blobs);
        firstMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    for (const GreyImage &image : images()) {
        for (int threads : {1, 2}) {
            const std::string t = "/" + std::to_string(threads) + "t";
            benchmark::RegisterBenchmark(("cblob_reused/" + image.name + t).c_str(), BM_CblobReused, &image, threads)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("cblob_fresh/" + image.name + t).c_str(), BM_CblobFresh, &image, threads)
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("opencv_stats/" + image.name + "/2t").c_str(), BM_OpenCvWithStats, &image, 2)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    cblobbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nFirst run of the process (noise, 16 MP, 2 threads, fresh result set): %.1f ms\n", firstMs);
    std::printf(
        "\n| image | reused 1t ms | reused 2t ms | 1t / 2t (reused) | 1t / 2t (fresh) | cblob 2t / OpenCV stats 2t "
        "| fresh / reused (2t) |\n|---|---|---|---|---|---|---|\n");
    for (const GreyImage &image : images()) {
        auto time = [&](const std::string &what, int threads) {
            return reporter.time(what + "/" + image.name + "/" + std::to_string(threads) + "t");
        };
        const double reused1 = time("cblob_reused", 1), reused2 = time("cblob_reused", 2);
        const double fresh1 = time("cblob_fresh", 1), fresh2 = time("cblob_fresh", 2);
        const double cv2 = time("opencv_stats", 2);
        if (reused1 <= 0 || reused2 <= 0 || fresh1 <= 0 || fresh2 <= 0 || cv2 <= 0) continue;
        std::printf("| %s | %.1f | %.1f | %.2f | %.2f | %.2f | %.2f |\n", image.name.c_str(), reused1, reused2,
                    reused1 / reused2, fresh1 / fresh2, reused2 / cv2, fresh2 / reused2);
    }
    return 0;
}
