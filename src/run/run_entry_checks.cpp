// Checks shared by the run entry points.
#include "run/run_entry_checks.hpp"

#include <cstdint>

#include "core/frame.hpp"

namespace cblob::run {

namespace {

constexpr int32_t kMaxPel8 = 255;

}  // namespace

int32_t checkThresholds8(const cblob_runParams *params, SpanRule rule) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, params);
    if (params->segmentationType == cblob_segmentationHardThresh) {
        int32_t thresh = 0;
        CBLOB_FRAME_TRY(f, cblob_runParams_getThresh(params, &thresh));
        CBLOB_FRAME_CHECK(f, thresh <= kMaxPel8, cblob_err_badThreshRange);
    } else if (params->segmentationType == cblob_segmentationSoftThresh) {
        int32_t low = 0, high = 0, softness = 0;
        CBLOB_FRAME_TRY(f, cblob_runParams_getThresh(params, &low));
        CBLOB_FRAME_TRY(f, cblob_runParams_getHighThresh(params, &high));
        CBLOB_FRAME_TRY(f, cblob_runParams_getSoftness(params, &softness));
        const int64_t span = static_cast<int64_t>(high) - low;
        const bool spanFails = rule == SpanRule::above255 ? span > kMaxPel8 : span == kMaxPel8;
        CBLOB_FRAME_CHECK(f, low <= kMaxPel8 && high <= kMaxPel8 && !spanFails, cblob_err_badThreshRange);
        CBLOB_FRAME_CHECK(f, softness != kMaxPel8, cblob_err_badSoftness);
    }
    return f.exit();
}

int32_t requireRleImage(const cblob_imageRlePtrh *h, cblob_imageRle **img) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, h);
    CBLOB_FRAME_REQUIRE(f, img);
    cblob_imageRle *record = nullptr;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getImageRle(h, &record));
    CBLOB_FRAME_CHECK(f, record, cblob_err_nullRleImage);
    CBLOB_FRAME_CHECK(f, record->rows, cblob_err_rleImageNoRows);
    *img = record;
    return f.exit();
}

bool sameRect(const cstd_rect32 &a, const cstd_rect32 &b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

cstd_rect32 rectOf(const cimg_windowConst &w) { return cstd_rect32{w.x, w.y, w.width, w.height}; }

cstd_rect32 rectOf(const cblob_imageRle &img) { return cstd_rect32{img.offsetX, img.offsetY, img.width, img.height}; }

}  // namespace cblob::run
