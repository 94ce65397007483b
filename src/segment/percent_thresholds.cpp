// Thresholds given as histogram percentages: the window's histogram, its
// inverse cumulative table, and the pixel thresholds derived from the
// percentages, written back into the run parameters.
#include <cstdint>

#include "cblob/histogram.h"
#include "core/frame.hpp"
#include "segment/segment_parts.hpp"

namespace cblob::seg {

namespace {

constexpr int32_t kBins16 = 65536;

// A whole percent as an index into the 101-entry table (NaN reads 0).
int32_t percentIndex(float percent) {
    if (!(percent > 0.0f)) return 0;
    if (percent >= 100.0f) return 100;
    return static_cast<int32_t>(percent);  // truncates toward zero
}

// The inverse cumulative table of the window's histogram.
int32_t inverseCumulative(const cimg_windowConst *window, int32_t table[101]) {
    Frame<1> f;
    uint32_t *counts16 = nullptr;  // outlives the branches: the frame frees it at exit
    if (window->bitsPerPel == 8) {
        uint32_t counts[256];
        CBLOB_FRAME_TRY(f, cip_pelHistogramWindow8(window, counts));
        CBLOB_FRAME_TRY(f, cip_pelHistogramStat_invCum(counts, 256, table));
    } else {
        CBLOB_FRAME_TRY(f, allocateClear(int64_t{kBins16} * static_cast<int64_t>(sizeof(uint32_t)), &counts16));
        f.addMemory(&counts16, csys_cleanup_tempMemory);
        CBLOB_FRAME_TRY(f, cip_pelHistogramWindow16(window, counts16, kBins16));
        CBLOB_FRAME_TRY(f, cip_pelHistogramStat_invCum(counts16, kBins16, table));
    }
    return f.exit();
}

// A threshold stored at the pixel width.
int32_t asPixel(int64_t value) { return static_cast<uint16_t>(value); }

}  // namespace

int32_t computePercentThresholds(const cimg_windowConst *window, cblob_runParams *params) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, window);
    CBLOB_FRAME_REQUIRE(f, params);
    int32_t table[101];
    CBLOB_FRAME_TRY(f, inverseCumulative(window, table));
    const int64_t lowPel = table[percentIndex(params->lowTailPercent)];
    const int64_t highPel = table[100 - percentIndex(params->highTailPercent)];
    const int64_t span = highPel - lowPel;
    if (params->segmentationType == cblob_segmentationHardThresh) {
        const double offset = static_cast<double>(span) * static_cast<double>(params->threshPercent) / 100.0 + 0.5;
        params->thresh = asPixel(lowPel + static_cast<int64_t>(offset));  // the cast truncates toward zero
    } else {
        const auto level = [&](float percent) {
            const double product = static_cast<double>(percentIndex(percent) * span);
            return asPixel(lowPel + static_cast<int64_t>(product / 100.0 + 0.5));
        };
        params->thresh = level(params->lowThreshPercent);
        params->highThresh = level(params->highThreshPercent);
        if (!params->softnessFixed) {
            params->softness = params->highThresh - params->thresh;
            params->scaleVal = params->softness + 1;
            params->softnessFixed = 1;
        }
    }
    return f.exit();
}

}  // namespace cblob::seg
