// End-to-end blob analysis: cblob_run8 with a hard threshold against
// OpenCV's cv::threshold + cv::connectedComponentsWithStats (and the
// labels-only cv::connectedComponents on the same binary image), both on one
// thread, in the same run. cblob also computes holes, the region tree and
// second moments. A plain read pass over the image (a vectorised byte sum)
// is timed too, as the floor of any method that looks at every pixel.
//
// The output floor is timed too: what a run must spend on the blobs of an
// image besides labelling them, that is, finishing every blob (centre of
// mass, central moments, principal axes) and writing its record and its
// entry of the result set's blob table. It is measured without any
// labelling, on sums taken from cblob's own result for the image.
//
// After the benchmarks, a table of ratios per image is printed:
//   cblob / OpenCV-with-stats, cblob / OpenCV-labels-only, cblob / read pass,
//   output floor / OpenCV-labels-only.
#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <png.h>

#include <cmath>
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

std::vector<GreyImage> &images() {
    static std::vector<GreyImage> all;
    return all;
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

// cblob_run8 on one image with a hard threshold at the image's threshold,
// one thread, into one result set.
class CblobRun {
public:
    explicit CblobRun(const GreyImage &image) {
        csys_job_setThreadCount(1);
        cimg_image_constructUnbound(&img_, 8);
        cimg_image_initFromBuffer(&img_, const_cast<uint8_t *>(image.pixels.data()), 8, image.width, image.height,
                                  image.width, 0, 0);
        cblob_runParams_construct(&params_);
        cblob_runParams_setSegmentationHardThresh(&params_, image.threshold, 0);
        cblob_resultSet_construct(&rs_);
    }
    ~CblobRun() {
        cblob_resultSet_destruct(&rs_);
        cblob_runParams_destruct(&params_);
        cimg_image_destruct(&img_);
    }
    CblobRun(const CblobRun &) = delete;
    CblobRun &operator=(const CblobRun &) = delete;
    int32_t run() { return cblob_run8(&img_, nullptr, &params_, &rs_); }
    const cblob_resultSet &result() const { return rs_; }

private:
    cimg_image img_;
    cblob_runParams params_;
    cblob_resultSet rs_;
};

void BM_Cblob(benchmark::State &state, const GreyImage *image) {
    CblobRun cblob(*image);
    for (auto _ : state) {
        const int32_t status = cblob.run();
        if (CBLOB_FAILED(status)) {
            state.SkipWithError(cblob_statusName(status));
            break;
        }
    }
    state.counters["blobs"] = cblob.result().numBlobs;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image->pixels.size()));
}

void BM_OpenCvWithStats(benchmark::State &state, const GreyImage *image) {
    cblobbench::openCvWithStats(state, *image, 1);
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

// ------------------------------------------------------------ output floor

// The sums a labelling pass hands to finishing, for one blob: pixel count,
// x- and y-moment sums and the three second-order sums (over unit pixel
// squares, as the scan keeps them), and the box.
struct BlobSums {
    double n, sumX, sumY, sumXX, sumYY, sumXY;
    int32_t left, top, width, height;
    uint8_t colour;
};

// The sums that give back a blob record of cblob's result (the cross term
// from the principal axes, so that axis-parallel blobs stay so).
BlobSums sumsOf(const cblob_blob &b) {
    BlobSums s;
    s.n = b.area;
    const double sx = b.centerOfMassX * s.n, sy = b.centerOfMassY * s.n;
    const double ixy = 0.5 * (b.inertiaMax - b.inertiaMin) * std::sin(2.0 * b.angle);
    s.sumX = 2.0 * sx;
    s.sumY = sy - s.n / 2.0;
    s.sumXX = 3.0 * (b.inertiaX + b.centerOfMassX * sx);
    s.sumYY = 3.0 * (b.inertiaY + b.centerOfMassY * sy);
    s.sumXY = 4.0 * (ixy + b.centerOfMassY * sx);
    s.left = b.boxLeft;
    s.top = b.boxTop;
    s.width = b.boxWidth;
    s.height = b.boxHeight;
    s.colour = b.colour;
    return s;
}

// Finishing one blob into a record: the arithmetic every blob needs (five
// divisions and a square root; two more divisions and an arc tangent for a
// tilted one) and a store into every field.
void finishFloor(const BlobSums &s, int32_t label, cblob_blob *b) {
    const double sx = s.sumX / 2.0, sy = s.sumY + s.n / 2.0;
    const double mx = sx / s.n, my = sy / s.n;
    const double xx = s.sumXX / 3.0 - mx * sx, yy = s.sumYY / 3.0 - my * sy, xy = s.sumXY / 4.0 - my * sx;
    const double dx = xx - yy, r = std::sqrt(dx * dx + 4.0 * xy * xy);
    double minor = ((xx + yy) - r) / 2.0, major = ((xx + yy) + r) / 2.0;
    if (minor <= 0.0) minor += 1.0;
    if (major <= 0.0) major += 1.0;
    const double elongation = major / minor;
    double angle = 0.0;
    if (elongation >= 1.00000001 && xy != 0.0) angle = 0.5 * std::atan2(2.0 * xy / r, dx / r);
    b->nodeKind = nullptr;
    b->owner = nullptr;
    b->adjacencyHolder = nullptr;
    b->clientFromImage = nullptr;
    b->cachedRuns = nullptr;
    b->label = label;
    b->colour = s.colour;
    b->boxLeft = s.left;
    b->boxTop = s.top;
    b->boxWidth = s.width;
    b->boxHeight = s.height;
    b->boxCenterX = s.left + s.width / 2.0;
    b->boxCenterY = s.top + s.height / 2.0;
    b->boxAspect = s.width > 0 ? static_cast<double>(s.height) / s.width : 0.0;
    b->isGrey = 0;
    b->area = s.n;
    b->centerOfMassX = mx;
    b->centerOfMassY = my;
    b->momentsValid = 1;
    b->inertiaX = xx;
    b->inertiaY = yy;
    b->inertiaMin = minor;
    b->inertiaMax = major;
    b->elongation = elongation;
    b->angle = angle;
    b->parent = b->firstChild = b->lastChild = b->nextSibling = b->prevSibling = nullptr;
    b->curFirstChild = b->curLastChild = b->curNextSibling = b->curPrevSibling = nullptr;
    b->numChildren = b->curNumChildren = 0;
}

void BM_OutputFloor(benchmark::State &state, const GreyImage *image) {
    // cblob's result gives the blobs and their sums.
    std::vector<BlobSums> sums;
    {
        CblobRun cblob(*image);
        if (!CBLOB_FAILED(cblob.run())) {
            const cblob_resultSet &rs = cblob.result();
            for (int32_t i = 0; i < rs.numBlobs; ++i) sums.push_back(sumsOf(*rs.allBlobs[i]));
        }
    }
    // Records in blocks of 1000, reused by every iteration as a run into the
    // same result set reuses its blocks, and the table of record pointers.
    constexpr size_t kBlock = 1000;
    std::vector<std::vector<cblob_blob>> blocks((sums.size() + kBlock - 1) / kBlock, std::vector<cblob_blob>(kBlock));
    std::vector<cblob_blob *> table(sums.size());
    for (auto _ : state) {
        for (size_t i = 0; i < sums.size(); ++i) {
            cblob_blob *b = &blocks[i / kBlock][i % kBlock];
            finishFloor(sums[i], static_cast<int32_t>(i + 1), b);
            table[i] = b;
        }
        benchmark::DoNotOptimize(table.data());
        benchmark::ClobberMemory();
    }
    state.counters["blobs"] = static_cast<double>(sums.size());
}

void addImages() {
    cblobbench::addPhotographs(images(), {"coins.png", "text.png", "cell.png", "stars.png"}, {CBLOB_BENCH_IMAGE_DIRS});
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
        cblobbench::addTextAndParts(images(), size[0], size[1], mp);
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
        benchmark::RegisterBenchmark(("output_floor/" + image.name).c_str(), BM_OutputFloor, &image);
    }
    benchmark::Initialize(&argc, argv);
    cblobbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf(
        "\n| image | cblob / OpenCV with stats | cblob / OpenCV labels only | cblob / read pass "
        "| output floor / OpenCV labels only |\n|---|---|---|---|---|\n");
    for (const GreyImage &image : images()) {
        auto time = [&](const char *what) {
            return reporter.time(std::string(what) + "/" + image.name);
        };
        const double cblob = time("cblob"), stats = time("opencv_stats"), labels = time("opencv_labels"),
                     read = time("read_pass"), floor = time("output_floor");
        if (cblob <= 0 || stats <= 0 || labels <= 0 || read <= 0) continue;
        std::printf("| %s | %.2f | %.2f | %.1f | %.2f |\n", image.name.c_str(), cblob / stats, cblob / labels,
                    cblob / read, floor / labels);
    }
    return 0;
}
