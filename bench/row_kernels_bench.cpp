// Hard-threshold row kernels over 8-bit images of 1024 rows with 1, 4, 8, 16
// or 64 runs per 256 pixels, 1024 pixels wide (1 MP, stays in the level-2
// cache) or 4096 (4 MP, does not): the portable, SSE2, AVX2 and AVX-512
// variants of the run-length kernels (kernelPass) and of the run-end kernels
// (endsPass), each against the peer "read pass", a packed sum of every byte of the same
// image (the least any kernel that reads every pixel must spend). Bytes/s
// counts input pixels, so kernel time / read-pass time is the ratio of the
// two rates.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <utility>
#include <random>
#include <vector>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "segment/row_kernels.hpp"

namespace {

namespace row = cblob::row;

constexpr int kHeight = 1024;
constexpr int kThresh = 128;

// Alternating stretches of 256 / runsPer256 pixels below and at or above the
// threshold, with noise inside each class and a random phase per row so that
// boundaries do not line up with vector blocks.
const std::vector<uint8_t> &image(int runsPer256, int width) {
    static std::map<std::pair<int, int>, std::vector<uint8_t>> cache;
    std::vector<uint8_t> &pixels = cache[{runsPer256, width}];
    if (pixels.empty()) {
        std::mt19937 rng(static_cast<uint32_t>(runsPer256));
        const int stretch = 256 / runsPer256;
        pixels.resize(static_cast<size_t>(width) * kHeight);
        for (int y = 0; y < kHeight; ++y) {
            const int phase = static_cast<int>(rng() % static_cast<uint32_t>(2 * stretch));
            for (int x = 0; x < width; ++x) {
                const bool above = ((x + phase) / stretch) % 2 == 1;
                const int noise = static_cast<int>(rng() % 100);
                pixels[static_cast<size_t>(y) * width + x] =
                    static_cast<uint8_t>(above ? kThresh + noise : kThresh - 1 - noise);
            }
        }
    }
    return pixels;
}

// Forces `variant` for one benchmark; false, with the benchmark skipped,
// when the CPU lacks it.
bool useVariant(benchmark::State &state, row::HardRowVariant variant) {
    int32_t available = 0;
    row::getHardRowVariantAvailable(variant, &available);
    if (!available) {
        state.SkipWithError("variant not available on this CPU");
        return false;
    }
    row::forceHardRowVariant(variant);
    return true;
}

// Times encodeRow(pixels of row y, &runs) over every row of the image, and
// reports the runs per row.
template <class EncodeRow>
void timeRows(benchmark::State &state, const std::vector<uint8_t> &pixels, int width, EncodeRow encodeRow) {
    int64_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (int y = 0; y < kHeight; ++y) total += encodeRow(pixels.data() + static_cast<size_t>(y) * width, y);
        benchmark::DoNotOptimize(total);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * width * kHeight);
    state.counters["runs/row"] = static_cast<double>(total) / kHeight;
    row::forceHardRowVariant(row::HardRowVariant::automatic);
}

void kernelPass(benchmark::State &state, row::HardRowVariant variant) {
    if (!useVariant(state, variant)) return;
    row::HardRowKernel<uint8_t> kernel = nullptr;
    row::resolveHardRowKernel(&kernel);
    const int width = static_cast<int>(state.range(1));
    const std::vector<uint8_t> &pixels = image(static_cast<int>(state.range(0)), width);
    std::vector<uint8_t> runs(static_cast<size_t>(width + 4) * kHeight);
    uint8_t *cursor = runs.data();
    timeRows(state, pixels, width, [&](const uint8_t *row, int y) {
        if (y == 0) cursor = runs.data();
        int32_t n = 0;
        kernel(&cursor, row, width, kThresh, 0, &n);
        return n;
    });
}

// The run-end kernels (as the connectivity scan calls them), into one row of
// ends reused for every image row.
void endsPass(benchmark::State &state, row::HardRowVariant variant) {
    if (!useVariant(state, variant)) return;
    row::HardRowEndsKernel<uint8_t> kernel = nullptr;
    row::resolveHardRowEndsKernel(&kernel);
    const int width = static_cast<int>(state.range(1));
    const std::vector<uint8_t> &pixels = image(static_cast<int>(state.range(0)), width);
    std::vector<int32_t> ends(static_cast<size_t>(width + row::kRowEndsSlack));
    timeRows(state, pixels, width, [&](const uint8_t *row, int) {
        int32_t n = 0;
        kernel(ends.data(), row, width, kThresh, &n);
        return n;
    });
}

// The peer: sum every byte of the image, 16 bytes per packed step.
void readPass(benchmark::State &state) {
    const std::vector<uint8_t> &pixels = image(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        uint64_t sum = 0;
#if defined(__x86_64__)
        __m128i acc = _mm_setzero_si128();
        for (size_t i = 0; i < pixels.size(); i += 64) {
            const __m128i *p = reinterpret_cast<const __m128i *>(pixels.data() + i);
            const __m128i s0 = _mm_sad_epu8(_mm_loadu_si128(p), _mm_setzero_si128());
            const __m128i s1 = _mm_sad_epu8(_mm_loadu_si128(p + 1), _mm_setzero_si128());
            const __m128i s2 = _mm_sad_epu8(_mm_loadu_si128(p + 2), _mm_setzero_si128());
            const __m128i s3 = _mm_sad_epu8(_mm_loadu_si128(p + 3), _mm_setzero_si128());
            acc = _mm_add_epi64(acc, _mm_add_epi64(_mm_add_epi64(s0, s1), _mm_add_epi64(s2, s3)));
        }
        sum = static_cast<uint64_t>(_mm_cvtsi128_si64(acc)) +
              static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
#else
        for (uint8_t v : pixels) sum += v;
#endif
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pixels.size()));
}

void runsArgs(benchmark::internal::Benchmark *b) {
    b->ArgNames({"runsPer256", "width"})
        ->ArgsProduct({{1, 4, 8, 16, 64}, {1024, 4096}})
        ->Unit(benchmark::kMicrosecond);
}

BENCHMARK(readPass)->Apply(runsArgs);
BENCHMARK_CAPTURE(kernelPass, portable, row::HardRowVariant::portable)->Apply(runsArgs);
BENCHMARK_CAPTURE(kernelPass, sse2, row::HardRowVariant::sse2)->Apply(runsArgs);
BENCHMARK_CAPTURE(kernelPass, avx2, row::HardRowVariant::avx2)->Apply(runsArgs);
BENCHMARK_CAPTURE(kernelPass, avx512, row::HardRowVariant::avx512)->Apply(runsArgs);
BENCHMARK_CAPTURE(endsPass, portable, row::HardRowVariant::portable)->Apply(runsArgs);
BENCHMARK_CAPTURE(endsPass, sse2, row::HardRowVariant::sse2)->Apply(runsArgs);
BENCHMARK_CAPTURE(endsPass, avx2, row::HardRowVariant::avx2)->Apply(runsArgs);
BENCHMARK_CAPTURE(endsPass, avx512, row::HardRowVariant::avx512)->Apply(runsArgs);

}  // namespace

BENCHMARK_MAIN();
