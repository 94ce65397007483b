// End-to-end blob analysis: cblob_run8 with a hard threshold against
// OpenCV's cv::threshold + cv::connectedComponentsWithStats (and the
// labels-only cv::connectedComponents on the same binary image), both on one
// thread, in the same run. cblob also computes holes, the region tree and
// second moments. A plain read pass over the image (a vectorised byte sum)
// is timed too, as the floor of any method that looks at every pixel.
//
// After the benchmarks, a table of ratios per image is printed:
//   cblob / OpenCV-with-stats, cblob / OpenCV-labels-only, cblob / read pass.
#include <benchmark/benchmark.h>
#include <emmintrin.h>
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

uint64_t readPass(const GreyImage &image) {
    const uint8_t *p = image.pixels.data();
    const size_t n = image.pixels.size();
    __m128i sum = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= n; i += 16)
        sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i)), _mm_setzero_si128()));
    uint64_t total = static_cast<uint64_t>(_mm_cvtsi128_si64(sum)) + static_cast<uint64_t>(_mm_extract_epi16(sum, 4)) +
                     (static_cast<uint64_t>(_mm_extract_epi16(sum, 5)) << 16);
    for (; i < n; ++i) total += p[i];
    return total;
}

void BM_ReadPass(benchmark::State &state, const GreyImage *image) {
    for (auto _ : state) benchmark::DoNotOptimize(readPass(*image));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image->pixels.size()));
}

void BM_Cblob(benchmark::State &state, const GreyImage *image) {
    csys_job_setThreadCount(1);
    cimg_image img;
    cimg_image_constructUnbound(&img, 8);
    cimg_image_initFromBuffer(&img, const_cast<uint8_t *>(image->pixels.data()), 8, image->width, image->height,
                              image->width, 0, 0);
    cblob_runParams params;
    cblob_runParams_construct(&params);
    cblob_runParams_setSegmentationHardThresh(&params, image->threshold, 0);
    cblob_resultSet rs;
    cblob_resultSet_construct(&rs);
    for (auto _ : state) {
        const int32_t status = cblob_run8(&img, nullptr, &params, &rs);
        if (CBLOB_FAILED(status)) {
            state.SkipWithError(cblob_statusName(status));
            break;
        }
    }
    state.counters["blobs"] = rs.numBlobs;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image->pixels.size()));
    cblob_resultSet_destruct(&rs);
    cblob_runParams_destruct(&params);
    cimg_image_destruct(&img);
}

void BM_OpenCvWithStats(benchmark::State &state, const GreyImage *image) {
    cv::setNumThreads(1);
    cv::Mat mat(image->height, image->width, CV_8UC1, const_cast<uint8_t *>(image->pixels.data()));
    cv::Mat binary, labels, stats, centroids;
    int count = 0;
    for (auto _ : state) {
        cv::threshold(mat, binary, image->threshold - 1, 255, cv::THRESH_BINARY);
        count = cv::connectedComponentsWithStats(binary, labels, stats, centroids, 8, CV_32S);
        benchmark::DoNotOptimize(count);
    }
    state.counters["blobs"] = count - 1;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image->pixels.size()));
}

void BM_OpenCvLabelsOnly(benchmark::State &state, const GreyImage *image) {
    cv::setNumThreads(1);
    cv::Mat mat(image->height, image->width, CV_8UC1, const_cast<uint8_t *>(image->pixels.data()));
    cv::Mat binary, labels;
    cv::threshold(mat, binary, image->threshold - 1, 255, cv::THRESH_BINARY);
    for (auto _ : state) benchmark::DoNotOptimize(cv::connectedComponents(binary, labels, 8, CV_32S));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image->pixels.size()));
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
    for (const char *file : {"coins.png", "text.png", "cell.png", "stars.png"}) {
        for (const char *dir : dirs) {
            GreyImage image;
            image.name = file;
            if (!readPng(std::string(dir) + "/" + file, image)) continue;
            image.threshold = otsu(image);
            images().push_back(image);
            break;
        }
    }
    const int sizes[][2] = {{1024, 1024}, {2048, 2048}, {4096, 4096}};
    for (const auto &size : sizes) {
        const std::string mp = std::to_string(size[0] * size[1] / (1024 * 1024)) + "MP";
        for (int cell : {1, 4, 16}) {
            for (double density : {0.1, 0.5, 0.9}) {
                GreyImage image = cblobbench::noiseImage(size[0], size[1], density, cell);
                char name[64];
                std::snprintf(name, sizeof name, "noise_g%d_d%.1f_%s", cell, density, mp.c_str());
                image.name = name;
                images().push_back(std::move(image));
            }
        }
        GreyImage text = cblobbench::textImage(size[0], size[1]);
        text.name = "text_" + mp;
        images().push_back(std::move(text));
        GreyImage parts = cblobbench::partsImage(size[0], size[1]);
        parts.name = "parts_" + mp;
        images().push_back(std::move(parts));
    }
}

}  // namespace

int main(int argc, char **argv) {
    addImages();
    for (const GreyImage &image : images()) {
        benchmark::RegisterBenchmark(("read_pass/" + image.name).c_str(), BM_ReadPass, &image);
        benchmark::RegisterBenchmark(("cblob/" + image.name).c_str(), BM_Cblob, &image);
        benchmark::RegisterBenchmark(("opencv_stats/" + image.name).c_str(), BM_OpenCvWithStats, &image);
        benchmark::RegisterBenchmark(("opencv_labels/" + image.name).c_str(), BM_OpenCvLabelsOnly, &image);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n| image | cblob / OpenCV with stats | cblob / OpenCV labels only | cblob / read pass |\n|---|---|---|---|\n");
    for (const GreyImage &image : images()) {
        auto time = [&](const char *what) {
            auto it = reporter.times.find(std::string(what) + "/" + image.name);
            return it == reporter.times.end() ? 0.0 : it->second;
        };
        const double cblob = time("cblob"), stats = time("opencv_stats"), labels = time("opencv_labels"),
                     read = time("read_pass");
        if (cblob <= 0 || stats <= 0 || labels <= 0 || read <= 0) continue;
        std::printf("| %s | %.2f | %.2f | %.1f |\n", image.name.c_str(), cblob / stats, cblob / labels, cblob / read);
    }
    return 0;
}
