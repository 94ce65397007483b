// Value histograms of a run-length image: pixels and runs per value.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/projection.hpp"
#include "rle/row_access.hpp"
#include "core/frame.hpp"

namespace {

// Rows are polled for cancellation this often.
constexpr int32_t kPollRows = 128;

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_histo(const cblob_imageRlePtrh *src, uint32_t *pixelHist, uint32_t *runHist) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, src);
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveReadable(src, &img));
    // A histogram the caller does not want is counted into a scratch table,
    // so the run loop needs no test for it.
    uint32_t pixelScratch[256] = {};
    uint32_t runScratch[256] = {};
    uint32_t *pixels = pixelHist ? pixelHist : pixelScratch;
    uint32_t *runs = runHist ? runHist : runScratch;
    const bool grey = img->isGrey != 0;
    const int32_t width = img->width;
    for (int32_t y = 0; y < img->height; ++y) {
        if (y % kPollRows == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
        cblob::rle::RowReader reader(*cblob::rle::imageRow(img, y), grey);
        cblob::rle::Run run;
        int64_t covered = 0;
        while (reader.next(run)) {
            pixels[run.value] += static_cast<uint32_t>(run.length);
            ++runs[run.value];
            covered += run.length;
        }
        // A binary row borrowed from the blob database may end after its
        // last foreground run: the rest of the row is one background run.
        if (covered < width) {
            pixels[0] += static_cast<uint32_t>(width - covered);
            ++runs[0];
        }
    }
    return f.exit();
}

}  // extern "C"
