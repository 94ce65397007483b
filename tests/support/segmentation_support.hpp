// Helpers for the segmentation and run finder tests: test images over
// host-owned buffers, masks of every kind, segmentImage on them, decoding a
// segmented record to pixels with the independent decoder of rle_model.hpp,
// structural checks of owned storage, and guards for the pool's thread count
// and the optimisation-inhibit hook.
#ifndef CBLOB_TESTS_SEGMENTATION_SUPPORT_HPP
#define CBLOB_TESTS_SEGMENTATION_SUPPORT_HPP

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "cblob/image.h"
#include "cblob/job.h"
#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "cblob/sys.h"
#include "segment/segment_image.hpp"
#include "support/rle_model.hpp"

namespace segtest {

// An 8- or 16-bit image over a buffer the test owns (no memory-service
// allocation), with a window on all of it.
struct TestImage {
    int32_t bits = 8, width = 0, height = 0;
    std::vector<uint16_t> buffer;  // 16-bit aligned storage for either depth
    cimg_image image{};
    cimg_windowConst window{};

    TestImage(int32_t bitsPerPel, int32_t w, int32_t h, int32_t originX = 0, int32_t originY = 0)
        : bits(bitsPerPel), width(w), height(h) {
        const int32_t stride = (w * bits / 8 + 3) & ~1;  // a little padding on every row
        buffer.assign(static_cast<size_t>(stride / 2 * (h > 0 ? h : 1) + 1), 0);
        bits == 8 ? cimg_image8_construct(&image) : cimg_image16_construct(&image);
        cimg_image_initFromBuffer(&image, buffer.data(), bits, w, h, stride, originX, originY);
        cimg_windowConst_init(&window, &image);
    }
    ~TestImage() { cimg_image_destruct(&image); }
    TestImage(const TestImage &) = delete;
    TestImage &operator=(const TestImage &) = delete;

    uint8_t *rowBytes(int32_t y) { return reinterpret_cast<uint8_t *>(buffer.data()) + y * image.strideBytes; }
    int32_t get(int32_t x, int32_t y) { return bits == 8 ? rowBytes(y)[x] : reinterpret_cast<uint16_t *>(rowBytes(y))[x]; }
    void set(int32_t x, int32_t y, int32_t v) {
        if (bits == 8) {
            rowBytes(y)[x] = static_cast<uint8_t>(v);
        } else {
            reinterpret_cast<uint16_t *>(rowBytes(y))[x] = static_cast<uint16_t>(v);
        }
    }
    // Piecewise-constant rows: stretches of 1..maxRun pixels of values drawn from lo..hi.
    void fillRandom(std::mt19937 &rng, int32_t lo, int32_t hi, int32_t maxRun) {
        std::uniform_int_distribution<int32_t> value(lo, hi), run(1, maxRun);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width;) {
                const int32_t v = value(rng);
                for (int32_t n = run(rng); n > 0 && x < width; --n) set(x++, y, v);
            }
        }
    }
};

// segmentImage on a test image of either depth, with the mask arguments given.
inline int32_t segment(TestImage &img, cblob_runParams *p, cblob_imageRle *out,
                       const cimg_windowConst *maskWindow = nullptr, cblob_imageRle *rle = nullptr,
                       const uint8_t *const *torv = nullptr, bool rlePath = false, int wide = 0,
                       uint8_t *scratch = nullptr) {
    return cblob::seg::segmentImage(img.bits == 8 ? &img.window : nullptr, img.bits == 16 ? &img.window : nullptr,
                                    maskWindow, p, out, rle, torv, rlePath ? 1 : 0, wide, scratch);
}

enum class Mask { none, window, rleBinary, rleGrey, torv };

// One mask of any kind over a w x h image (random runs of 1 to 1 + seed % 40
// pixels of values 0..2), with its per-pixel inside states and values.
struct MaskSetup {
    Mask kind = Mask::none;
    std::unique_ptr<TestImage> window;
    cblob_imageRle rle{};
    std::vector<std::vector<uint8_t>> pairs;
    std::vector<const uint8_t *> torv;
    std::vector<uint8_t> inside, values;  // per pixel, row after row

    MaskSetup(Mask k, int w, int h, uint32_t seed) : kind(k) {
        cblob_imageRle_construct(&rle);
        if (k == Mask::none) return;
        const rletest::Model m = rletest::randomModel(seed, w, h, k != Mask::rleBinary, 1 + seed % 40, 3);
        if (k == Mask::window) window = std::make_unique<TestImage>(8, w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                values.push_back(m.pel(x, y));
                inside.push_back(values.back() != 0);
                if (window) window->set(x, y, values.back());
            }
        }
        if (k == Mask::torv) {
            for (const rletest::Row &row : m.rows) pairs.push_back(rletest::torvRow(row, 100));
            for (const auto &p : pairs) torv.push_back(p.data());
        } else if (k != Mask::window) {
            EXPECT_EQ(rletest::buildByFilling(&rle, m), 0);
        }
    }
    ~MaskSetup() { cblob_imageRle_destruct(&rle); }
    // segmentImage on img with this mask; a kept window or TORV mask goes to *kept.
    int32_t segment(TestImage &img, cblob_runParams *p, cblob_imageRle *out, cblob_imageRle *kept, int wide = 0,
                    uint8_t *scratch = nullptr) {
        const bool rleMask = kind == Mask::rleBinary || kind == Mask::rleGrey;
        return segtest::segment(img, p, out, window ? &window->window : nullptr, rleMask ? &rle : kept,
                                torv.empty() ? nullptr : torv.data(), rleMask || kind == Mask::torv, wide, scratch);
    }
};

// The image rows of a record with owned storage, decoded to one value per
// pixel (binary rows 0 / 1), row after row.
inline std::vector<uint8_t> decodePixels(const cblob_imageRle *img) {
    std::vector<uint8_t> pixels;
    const bool wide = img->data && img->data->isWide;
    for (int32_t y = 0; y < img->height; ++y) {
        const cblob_rleRow &e = img->rows[(img->data ? 1 : 0) + y];
        for (const rletest::Run &r : rletest::decodeRow(e.runs, img->isGrey != 0, e.startValue, wide))
            pixels.insert(pixels.end(), static_cast<size_t>(r.length), r.value);
    }
    return pixels;
}

// Checks the invariants of owned storage: height + 2 row entries, sentinel
// rows of one background run, every row covering the width with positive
// lengths, run counts that add up, grey neighbours that differ, and rows
// lying inside the blocks in block order. Returns "" or the first problem.
inline std::string checkStructure(const cblob_imageRle *img) {
    const cblob_imageRleData_ *d = img->data;
    if (!d || !img->rows) return "no owned storage";
    if (d->rows.untyped.size != img->height + 2) return "row table size";
    const bool grey = img->isGrey != 0, wide = d->isWide != 0;
    const auto *blocks = static_cast<const cblob_rleData_Ptr *>(d->blocks.untyped.begin);
    const auto *sizes = static_cast<const uint32_t *>(d->blockSizes.untyped.begin);
    const int64_t numBlocks = d->blocks.untyped.size;
    if (d->blockSizes.untyped.size != numBlocks) return "block vectors differ in size";
    int64_t block = 0, runs = 0;
    for (int32_t e = 0; e < img->height + 2; ++e) {
        const cblob_rleRow &row = img->rows[e];
        const std::string at = " in row " + std::to_string(e);
        while (block < numBlocks && !(row.runs >= blocks[block] && row.runs < blocks[block] + sizes[block])) ++block;
        if (block == numBlocks) return "outside the blocks, or out of order" + at;
        const rletest::Row decoded = rletest::decodeRow(row.runs, grey, row.startValue, wide);
        int64_t covered = 0;
        for (size_t i = 0; i < decoded.size(); ++i) {
            if (decoded[i].length <= 0) return "bad length" + at;
            if (grey && i > 0 && decoded[i].value == decoded[i - 1].value) return "equal grey neighbours" + at;
            covered += decoded[i].length;
        }
        if (covered != img->width) return "covers " + std::to_string(covered) + at;
        if (static_cast<int32_t>(decoded.size()) != row.numRuns) return "run count" + at;
        const bool sentinel = e == 0 || e == img->height + 1;
        if (sentinel && (decoded.size() != 1 || decoded[0].value != 0)) return "sentinel" + at;
        if (!sentinel) runs += row.numRuns;
    }
    if (runs != img->numRuns || d->numRuns != img->numRuns) return "run total";
    return "";
}

// Run parameters and two image records (a segmented image and a kept mask),
// constructed and released together.
struct Records {
    cblob_runParams p;
    cblob_imageRle out, kept;
    Records() { cblob_runParams_construct(&p), cblob_imageRle_construct(&out), cblob_imageRle_construct(&kept); }
    ~Records() { cblob_imageRle_destruct(&out), cblob_imageRle_destruct(&kept), cblob_runParams_destruct(&p); }
    Records(const Records &) = delete;
    Records &operator=(const Records &) = delete;
};

// Sets the pool's thread count for its lifetime.
struct ThreadCount {
    int32_t saved = 1;
    explicit ThreadCount(int32_t threads) { csys_job_getThreadCount(&saved), csys_job_setThreadCount(threads); }
    ~ThreadCount() { csys_job_setThreadCount(saved); }
};

// Installs an inhibit hook that counts the names it is asked and inhibits
// every routine when `inhibit` is set (the hook runs on worker threads too).
class InhibitHook {
public:
    explicit InhibitHook(bool inhibit) : previous_(cprt_isOptimizationInhibitedFP) {
        state().inhibit = inhibit;
        state().asked.clear();
        cprt_isOptimizationInhibitedFP = &InhibitHook::hook;
    }
    ~InhibitHook() { cprt_isOptimizationInhibitedFP = previous_; }
    InhibitHook(const InhibitHook &) = delete;
    InhibitHook &operator=(const InhibitHook &) = delete;
    int asked(const std::string &name) {
        std::lock_guard<std::mutex> hold(state().lock);
        return state().asked[name];
    }

private:
    cprt_optimizationInhibitedFn previous_;
    struct State {
        std::mutex lock;
        std::map<std::string, int> asked;
        bool inhibit = false;
    };
    static State &state() {
        static State s;
        return s;
    }
    static int32_t hook(const char *name) {
        std::lock_guard<std::mutex> hold(state().lock);
        ++state().asked[name];
        return state().inhibit ? 1 : 0;
    }
};

}  // namespace segtest

#endif
