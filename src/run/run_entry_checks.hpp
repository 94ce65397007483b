// Checks and inputs shared by the entry points that take images: the
// thresholds of the 8-bit image runs, run-length image handles given as
// inputs or masks, geometry, and an image's client transform.
#ifndef CBLOB_RUN_RUN_ENTRY_CHECKS_HPP
#define CBLOB_RUN_RUN_ENTRY_CHECKS_HPP

#include <cstdint>

#include "cblob/image.h"
#include "cblob/math.h"
#include "cblob/rect.h"
#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "core/frame.hpp"

namespace cblob::run {

// How the soft-threshold span (highThresh - thresh) is checked.
enum class SpanRule {
    above255,   // cblob_run8, cblob_run8_withTORVRleMask: a span above 255 fails
    equals255,  // cblob_run8_withRleMask: a span of exactly 255 fails
};

// The threshold checks of the 8-bit image runs, on the stored thresholds:
// type 0: thresh above 255 gives cblob_err_badThreshRange; type 1: thresh or
// highThresh above 255 or the span rule gives cblob_err_badThreshRange, then
// softness 255 gives cblob_err_badSoftness; other types pass.
int32_t checkThresholds8(const cblob_runParams *params, SpanRule rule);

// *img = the record *h holds: cblob_err_nullRleImage when it holds none,
// cblob_err_rleImageNoRows when the record has no row table.
int32_t requireRleImage(const cblob_imageRlePtrh *h, cblob_imageRle **img);

// True when the rectangle (x, y, width, height) of b equals a's.
bool sameRect(const cstd_rect32 &a, const cstd_rect32 &b);

// The rectangle a window, an image or a run-length record covers.
cstd_rect32 rectOf(const cimg_windowConst &w);
cstd_rect32 rectOf(const cblob_imageRle &img);

}  // namespace cblob::run

#endif
