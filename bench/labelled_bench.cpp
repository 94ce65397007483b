// Labelled connectivity: cblob_run8 with segmentation none and
// connectivityType 1 (every region of equal value, its statistics, its
// neighbours and the enclosure tree) against what a user would otherwise
// write with OpenCV: for each distinct value, the binary mask of that value
// (cv::compare) and cv::connectedComponentsWithStats on it, value after
// value. Both on one thread, in the same run.
//
// Images: Voronoi-like partitions (each pixel takes the value of its
// nearest seed; seeds jittered on a grid, values drawn at random, so
// neighbouring cells of one value form one region), and quantised
// photographs (grey value in a few levels: a map segmentation).
//
// After the benchmarks a table of ratios is printed: cblob / OpenCV loop,
// with and without the region tree, from CPU times (both run on one thread;
// CPU time is steadier than wall time on a machine shared with other work).
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "photo_images.hpp"
#include "ratio_reporter.hpp"

namespace {

struct LabelImage {
    std::string name;
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    std::vector<int> values;  // the distinct values
    int regions = 0;          // regions cblob finds
};

std::vector<LabelImage> &images() {
    static std::vector<LabelImage> all;
    return all;
}

// Seeds jittered on a grid of cell x cell pixels; each pixel takes the
// value of the nearest seed among the 3 x 3 cells around its own.
LabelImage voronoi(int width, int height, int cells, int values, uint32_t seed) {
    std::mt19937 rng(seed);
    const int cell = static_cast<int>(std::sqrt(static_cast<double>(width) * height / cells));
    const int cw = (width + cell - 1) / cell, ch = (height + cell - 1) / cell;
    std::uniform_real_distribution<double> jitter(0.0, 1.0);
    std::uniform_int_distribution<int> value(0, values - 1);
    std::vector<double> sx(static_cast<size_t>(cw) * ch), sy(sx.size());
    std::vector<int> sv(sx.size());
    for (int j = 0; j < ch; ++j) {
        for (int i = 0; i < cw; ++i) {
            sx[j * cw + i] = (i + jitter(rng)) * cell;
            sy[j * cw + i] = (j + jitter(rng)) * cell;
            sv[j * cw + i] = value(rng);
        }
    }
    LabelImage out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int ci = x / cell, cj = y / cell;
            double best = 1e300;
            int bestValue = 0;
            for (int j = std::max(0, cj - 1); j <= std::min(ch - 1, cj + 1); ++j) {
                for (int i = std::max(0, ci - 1); i <= std::min(cw - 1, ci + 1); ++i) {
                    const double dx = x + 0.5 - sx[j * cw + i], dy = y + 0.5 - sy[j * cw + i];
                    const double d = dx * dx + dy * dy;
                    if (d < best) {
                        best = d;
                        bestValue = sv[j * cw + i];
                    }
                }
            }
            out.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(bestValue);
        }
    }
    return out;
}

using cblobbench::readPng;

void findValues(LabelImage &image) {
    std::set<int> seen(image.pixels.begin(), image.pixels.end());
    image.values.assign(seen.begin(), seen.end());
}

// One labelled run; the result set is reused from run to run, as a caller
// analysing image after image would.
int32_t runCblob(const LabelImage &image, cblob_resultSet *rs, bool topology) {
    cimg_image img;
    cimg_image_constructUnbound(&img, 8);
    cimg_image_initFromBuffer(&img, const_cast<uint8_t *>(image.pixels.data()), 8, image.width, image.height,
                              image.width, 0, 0);
    cblob_runParams p;
    cblob_runParams_construct(&p);
    cblob_runParams_setSegmentationNone(&p, 1);
    p.connectivityType = cblob_connectivityLabelled;
    p.computeTopology = topology ? 1 : 0;
    const int32_t status = cblob_run8(&img, nullptr, &p, rs);
    cblob_runParams_destruct(&p);
    cimg_image_destruct(&img);
    return status;
}

void BM_Cblob(benchmark::State &state, const LabelImage *image, bool topology) {
    csys_job_setThreadCount(1);
    cblob_resultSet rs;
    cblob_resultSet_construct(&rs);
    for (auto _ : state) {
        if (runCblob(*image, &rs, topology) != 0) {
            state.SkipWithError("run failed");
            break;
        }
        benchmark::DoNotOptimize(rs.numBlobs);
    }
    state.counters["regions"] = rs.numBlobs;
    cblob_resultSet_destruct(&rs);
}

void BM_OpenCvLoop(benchmark::State &state, const LabelImage *image) {
    cv::setNumThreads(1);
    const cv::Mat mat(image->height, image->width, CV_8UC1, const_cast<uint8_t *>(image->pixels.data()));
    cv::Mat mask, labels, stats, centroids;
    int regions = 0;
    for (auto _ : state) {
        regions = 0;
        for (int value : image->values) {
            cv::compare(mat, cv::Scalar(value), mask, cv::CMP_EQ);
            regions += cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S) - 1;
        }
        benchmark::DoNotOptimize(regions);
    }
    state.counters["regions"] = regions;
}

void addImages() {
    struct Partition {
        int width, height, cells, values;
    } partitions[] = {{2048, 2048, 2000, 50}, {1024, 1024, 500, 50}, {2048, 2048, 2000, 8}, {2048, 2048, 20000, 50}};
    for (const Partition &p : partitions) {
        LabelImage image = voronoi(p.width, p.height, p.cells, p.values, 20);
        char name[64];
        std::snprintf(name, sizeof name, "voronoi_%dx%d_%dcells_%dvalues", p.width, p.height, p.cells, p.values);
        image.name = name;
        findValues(image);
        images().push_back(std::move(image));
    }
    for (const char *file : {"coins.png", "stars.png"}) {
        LabelImage image;
        if (!readPng(std::string(CBLOB_BENCH_IMAGE_DIR) + "/" + file, image)) continue;
        for (uint8_t &v : image.pixels) v = static_cast<uint8_t>(v * 6 / 256);
        image.name = std::string(file) + "_6levels";
        findValues(image);
        images().push_back(std::move(image));
    }
}

}  // namespace

int main(int argc, char **argv) {
    addImages();
    for (const LabelImage &image : images()) {
        benchmark::RegisterBenchmark(("cblob/" + image.name).c_str(), BM_Cblob, &image, true)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("cblob_no_tree/" + image.name).c_str(), BM_Cblob, &image, false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("opencv_loop/" + image.name).c_str(), BM_OpenCvLoop, &image)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    cblobbench::RatioReporter reporter(cblobbench::RatioReporter::Clock::cpu);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n| image | values | cblob CPU ms | OpenCV loop CPU ms | cblob / OpenCV loop | without tree / OpenCV loop |\n"
                "|---|---|---|---|---|---|\n");
    for (const LabelImage &image : images()) {
        auto time = [&](const char *what) {
            return reporter.time(std::string(what) + "/" + image.name);
        };
        const double cblob = time("cblob"), noTree = time("cblob_no_tree"), cv = time("opencv_loop");
        if (cblob <= 0 || cv <= 0) continue;
        std::printf("| %s | %zu | %.1f | %.1f | %.3f | %.3f |\n", image.name.c_str(), image.values.size(), cblob, cv,
                    cblob / cv, noTree / cv);
    }
    return 0;
}
