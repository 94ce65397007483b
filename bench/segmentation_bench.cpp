// Hard-threshold run finding into a run-length image
// (cblob_imageRlePtrh_encodeHardThresh) on 8-bit images, against the peer
// "read pass": a vectorised sum of every byte of the same image, the least a
// routine that reads every pixel must spend.
//
// Each iteration runs the read pass and then the encode, back to back, so
// that both see the same machine state; the reported ratio is the best
// encode time over the best read-pass time of the run. Modes: one thread
// (csys_job_setThreadCount(1)) or every hardware thread, with the optimised
// kernels or with them inhibited through cprt_isOptimizationInhibitedFP.
// The read pass always runs on one thread.
//
// Images: the PNG photographs in samples/ and the shared data folder
// (threshold: the image's mean value), and synthetic images with 1, 4, 8, 16
// and 64 runs per 256 pixels at 1, 4 and 16 megapixels (noisy stretches on
// either side of threshold 128, a random phase per row). After the runs a
// markdown table of the ratios is printed.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "cblob/image.h"
#include "cblob/job.h"
#include "cblob/rle_image.h"
#include "cblob/sys.h"

namespace {

struct BenchImage {
    std::string name;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    int32_t thresh = 128;
};

// ------------------------------------------------------------------ images

bool readPng(const std::string &path, BenchImage *out) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_GRAY;
    out->width = static_cast<int32_t>(png.width);
    out->height = static_cast<int32_t>(png.height);
    out->pixels.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, out->pixels.data(), out->width, nullptr)) {
        png_image_free(&png);
        return false;
    }
    uint64_t sum = 0;
    for (uint8_t v : out->pixels) sum += v;
    out->thresh = static_cast<int32_t>(sum / std::max<uint64_t>(out->pixels.size(), 1));
    return true;
}

// Every PNG of the image folders, each file name once.
std::vector<std::string> pngPaths() {
    std::vector<std::string> paths, names;
    std::stringstream dirs(CBLOB_BENCH_IMAGE_DIRS);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        DIR *d = opendir(dir.c_str());
        if (!d) continue;
        std::vector<std::string> found;
        while (dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) found.push_back(name);
        }
        closedir(d);
        std::sort(found.begin(), found.end());
        for (const std::string &name : found) {
            if (std::find(names.begin(), names.end(), name) != names.end()) continue;
            names.push_back(name);
            paths.push_back(dir + "/" + name);
        }
    }
    return paths;
}

// Alternating stretches of 256 / runsPer256 pixels below and at or above 128,
// noisy inside each class, with a random phase per row.
void synthesize(BenchImage *img, int32_t side, int32_t runsPer256) {
    img->width = side;
    img->height = side;
    img->thresh = 128;
    img->pixels.resize(static_cast<size_t>(side) * side);
    std::mt19937 rng(static_cast<uint32_t>(runsPer256 * 7919 + side));
    const int32_t stretch = 256 / runsPer256;
    for (int32_t y = 0; y < side; ++y) {
        const int32_t phase = static_cast<int32_t>(rng() % static_cast<uint32_t>(2 * stretch));
        uint8_t *row = img->pixels.data() + static_cast<size_t>(y) * side;
        for (int32_t x = 0; x < side; ++x) {
            const bool above = ((x + phase) / stretch) % 2 == 1;
            const int32_t noise = static_cast<int32_t>(rng() % 100);
            row[x] = static_cast<uint8_t>(above ? 128 + noise : 127 - noise);
        }
    }
}

// Images are made on first use, so that a filtered run makes only its own.
struct ImageSource {
    std::string name;
    std::string path;  // a PNG, or empty for a synthetic image
    int32_t side = 0, runsPer256 = 0;
    std::unique_ptr<BenchImage> image;
    const BenchImage *get() {
        if (!image) {
            image = std::make_unique<BenchImage>();
            if (path.empty()) {
                synthesize(image.get(), side, runsPer256);
            } else if (!readPng(path, image.get())) {
                image.reset();
                return nullptr;
            }
            image->name = name;
        }
        return image.get();
    }
};

std::vector<std::unique_ptr<ImageSource>> &sources() {
    static std::vector<std::unique_ptr<ImageSource>> list;
    return list;
}

// --------------------------------------------------------------- the peer

#if defined(__x86_64__)
__attribute__((target("avx2"))) uint64_t sumAvx2(const uint8_t *p, size_t n) {
    __m256i acc = _mm256_setzero_si256();
    const __m256i zero = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 128 <= n; i += 128) {
        const __m256i *v = reinterpret_cast<const __m256i *>(p + i);
        const __m256i s0 = _mm256_sad_epu8(_mm256_loadu_si256(v), zero);
        const __m256i s1 = _mm256_sad_epu8(_mm256_loadu_si256(v + 1), zero);
        const __m256i s2 = _mm256_sad_epu8(_mm256_loadu_si256(v + 2), zero);
        const __m256i s3 = _mm256_sad_epu8(_mm256_loadu_si256(v + 3), zero);
        acc = _mm256_add_epi64(acc, _mm256_add_epi64(_mm256_add_epi64(s0, s1), _mm256_add_epi64(s2, s3)));
    }
    alignas(32) uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), acc);
    uint64_t sum = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    for (; i < n; ++i) sum += p[i];
    return sum;
}
#endif

uint64_t readPass(const std::vector<uint8_t> &pixels) {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) return sumAvx2(pixels.data(), pixels.size());
#endif
    uint64_t sum = 0;
    for (uint8_t v : pixels) sum += v;
    return sum;
}

// ------------------------------------------------------------- benchmarks

struct Mode {
    const char *name;
    bool allThreads;
    bool portable;
};
const Mode kModes[] = {{"1 thread, optimised", false, false},
                       {"1 thread, portable", false, true},
                       {"all threads, optimised", true, false},
                       {"all threads, portable", true, true}};

int32_t inhibitEverything(const char *) { return 1; }

int32_t hardwareThreads() { return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency())); }

struct Result {
    double readMs = 0, encodeMs = 0, runsPer256 = 0;
};
std::map<std::string, std::map<std::string, Result>> &results() {
    static std::map<std::string, std::map<std::string, Result>> table;
    return table;
}

using Clock = std::chrono::steady_clock;
double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void encodeBench(benchmark::State &state, ImageSource *source, const Mode *mode) {
    const BenchImage *img = source->get();
    if (!img) {
        state.SkipWithError("cannot read the image");
        return;
    }
    csys_job_setThreadCount(mode->allThreads ? hardwareThreads() : 1);
    cprt_isOptimizationInhibitedFP = mode->portable ? &inhibitEverything : nullptr;
    cimg_image image;
    cimg_image8_construct(&image);
    cimg_image_initFromBuffer(&image, const_cast<uint8_t *>(img->pixels.data()), 8, img->width, img->height, img->width,
                              0, 0);
    cblob_imageRlePtrh h;
    cblob_imageRlePtrh_construct(&h);
    if (CBLOB_FAILED(cblob_imageRlePtrh_encodeHardThresh(&h, &image, img->thresh, 0))) {  // warm-up
        state.SkipWithError("encode failed");
        return;
    }
    int32_t runs = 0;
    cblob_imageRlePtrh_getNumRuns(&h, &runs);
    cblob_imageRlePtrh_assignNull(&h);
    double bestRead = 1e300, bestEncode = 1e300;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        benchmark::DoNotOptimize(readPass(img->pixels));
        const Clock::time_point t1 = Clock::now();
        const int32_t status = cblob_imageRlePtrh_encodeHardThresh(&h, &image, img->thresh, 0);
        const Clock::time_point t2 = Clock::now();
        benchmark::DoNotOptimize(status);
        cblob_imageRlePtrh_assignNull(&h);  // releasing the image is not timed
        bestRead = std::min(bestRead, msBetween(t0, t1));
        bestEncode = std::min(bestEncode, msBetween(t1, t2));
        state.SetIterationTime(msBetween(t1, t2) / 1000.0);
    }
    cblob_imageRlePtrh_destruct(&h);
    cimg_image_destruct(&image);
    cprt_isOptimizationInhibitedFP = nullptr;
    csys_job_setThreadCount(hardwareThreads());

    const double pixels = static_cast<double>(img->width) * img->height;
    Result &r = results()[img->name][mode->name];
    r.readMs = bestRead;
    r.encodeMs = bestEncode;
    r.runsPer256 = runs * 256.0 / std::max(pixels, 1.0);
    state.counters["xRead"] = bestEncode / bestRead;
    state.counters["runs/256px"] = r.runsPer256;
    state.counters["bestMs"] = bestEncode;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pixels));
}

void registerAll() {
    for (const std::string &path : pngPaths()) {
        auto source = std::make_unique<ImageSource>();
        source->name = path.substr(path.find_last_of('/') + 1);
        source->path = path;
        sources().push_back(std::move(source));
    }
    for (int32_t side : {1024, 2048, 4096}) {
        for (int32_t runs : {1, 4, 8, 16, 64}) {
            auto source = std::make_unique<ImageSource>();
            source->name =
                "synthetic " + std::to_string(side * side / (1 << 20)) + " MP, " + std::to_string(runs) + " runs/256";
            source->side = side;
            source->runsPer256 = runs;
            sources().push_back(std::move(source));
        }
    }
    for (const auto &source : sources()) {
        for (const Mode &mode : kModes) {
            benchmark::RegisterBenchmark((source->name + " / " + mode.name).c_str(), &encodeBench, source.get(), &mode)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.3);
        }
    }
}

// The ratios of the run as a markdown table.
void printTable() {
    if (results().empty()) return;
    std::printf("\n| image | size | runs / 256 px | read pass ms |");
    for (const Mode &mode : kModes) std::printf(" %s |", mode.name);
    std::printf("\n|---|---|---|---|");
    for (size_t i = 0; i < std::size(kModes); ++i) std::printf("---|");
    std::printf("\n");
    for (const auto &source : sources()) {
        const auto row = results().find(source->name);
        if (row == results().end() || !source->image) continue;
        const Result &any = row->second.begin()->second;
        std::printf("| %s | %dx%d | %.1f | %.3f |", source->name.c_str(), source->image->width, source->image->height,
                    any.runsPer256, any.readMs);
        for (const Mode &mode : kModes) {
            const auto cell = row->second.find(mode.name);
            if (cell == row->second.end()) {
                std::printf(" |");
            } else {
                std::printf(" %.2f |", cell->second.encodeMs / cell->second.readMs);
            }
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char **argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    printTable();
    benchmark::Shutdown();
    return 0;
}
