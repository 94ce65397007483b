// Run finders and the band dispatcher: band counts, banded against
// single-threaded results for 1 to 8 threads, the band layout and buffer
// sizes, buffer growth, attention polls, the inhibit hook's questions,
// optimised against portable finders, and mask-row decoding.
#include "segment/run_finder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "segment/band_dispatcher.hpp"
#include "segment/row_kernels.hpp"
#include "segment/segment_image.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"
#include "support/segmentation_support.hpp"

namespace {

using segtest::TestImage;

using segtest::Mask;
using segtest::MaskSetup;

// Inputs of one segmentation: the image, the setter, an optional mask.
struct Job {
    TestImage *image;
    std::function<void(cblob_runParams *)> set;
    MaskSetup *mask = nullptr;
    int32_t wide = 0;
};

// Segments into a new record attached to *h.
int32_t segmentToHandle(cblob_imageRlePtrh *h, const Job &job) {
    static MaskSetup none(Mask::none, 0, 0, 0);
    return rletest::makeHandle(h, [&](cblob_imageRle *img) {
        cblob_imageRle_construct(img);
        cblob_runParams p;
        cblob_runParams_construct(&p);
        job.set(&p);
        const int32_t status = (job.mask ? job.mask : &none)->segment(*job.image, &p, img, nullptr, job.wide);
        cblob_runParams_destruct(&p);
        if (CBLOB_FAILED(status)) cblob_imageRle_destruct(img);
        return status;
    });
}

cblob_imageRle *recordOf(const cblob_imageRlePtrh *h) {
    cblob_imageRle *img = nullptr;
    cblob_imageRlePtrh_getImageRle(h, &img);
    return img;
}

// The block index (in the storage's block order) of a row-table entry.
int64_t blockOf(const cblob_imageRle *img, int32_t entry) {
    const auto *blocks = static_cast<const cblob_rleData_Ptr *>(img->data->blocks.untyped.begin);
    const auto *sizes = static_cast<const uint32_t *>(img->data->blockSizes.untyped.begin);
    for (int64_t b = 0; b < img->data->blocks.untyped.size; ++b) {
        if (img->rows[entry].runs >= blocks[b] && img->rows[entry].runs < blocks[b] + sizes[b]) return b;
    }
    return -1;
}

std::vector<uint32_t> blockSizes(const cblob_imageRle *img) {
    const auto *sizes = static_cast<const uint32_t *>(img->data->blockSizes.untyped.begin);
    return std::vector<uint32_t>(sizes, sizes + img->data->blockSizes.untyped.size);
}

auto hard(int t, int invert = 0) {
    return [=](cblob_runParams *p) { cblob_runParams_setSegmentationHardThresh(p, t, invert); };
}

TEST(RunFinder, BandCounts) {
    struct Case {
        int w, h, threads, bands;
    };
    const Case cases[] = {
        {2, 2, 8, 1},         {100, 1000, 8, 8},   {100, 1003, 8, 8},  {100, 99, 2, 1},   {100, 101, 2, 1},
        {100, 199, 2, 1},     {100, 200, 2, 2},    {50, 401, 4, 2},    {100, 1000, 1, 1}, {10000, 4, 8, 1},
        {10000, 8, 8, 2},     {2500, 16, 8, 4},    {0, 5000, 8, 1},    {100000, 3, 8, 1}, {1000, 1000, 64, 64},
        {10000, 100, 64, 25}, {1000, 100, 64, 10}, {4096, 4096, 2, 2},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(cblob::seg::bandCount(c.w, c.h, c.threads), c.bands) << c.w << "x" << c.h << " on " << c.threads;
    }
}

// Every thread count gives the image the single-threaded pass gives.
TEST(RunFinder, BandedEqualsSingleThreadedForOneToEightThreads) {
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{2, 2}, {100, 1000}, {100, 1003}, {100, 99}, {100, 101}, {50, 399}, {50, 401}, {257, 81}};
    std::mt19937 rng(17);
    for (const Size &size : sizes) {
        TestImage img(8, size.w, size.h, -4, 9), img16(16, size.w, size.h);
        img.fillRandom(rng, 0, 255, 1 + size.w / 3);
        img16.fillRandom(rng, 0, 65535, 9);
        MaskSetup window(Mask::window, size.w, size.h, 49), rle(Mask::rleBinary, size.w, size.h, 29),
            torv(Mask::torv, size.w, size.h, 69);
        std::vector<uint8_t> map(256);
        for (int v = 0; v < 256; ++v) map[static_cast<size_t>(v)] = static_cast<uint8_t>(v / 40);
        const Job jobs[] = {
            {&img, hard(128)},
            {&img16, hard(30000, 1), nullptr, 1},
            {&img, hard(100, 1), &window},
            {&img, [](cblob_runParams *p) { cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 50, 200, 20, 0); },
             nullptr, 1},
            {&img, [](cblob_runParams *p) { cblob_runParams_setSegmentationNone(p, 1); }, &torv},
            {&img, [&](cblob_runParams *p) { cblob_runParams_setSegmentationMap(p, 6, map.data(), 256); }, &rle},
        };
        for (size_t j = 0; j < std::size(jobs); ++j) {
            SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h) + ", job " + std::to_string(j));
            cblob_imageRlePtrh single;
            {
                segtest::ThreadCount one(1);
                ASSERT_EQ(segmentToHandle(&single, jobs[j]), 0);
            }
            EXPECT_EQ(segtest::checkStructure(recordOf(&single)), "");
            const std::vector<uint8_t> pixels = segtest::decodePixels(recordOf(&single));
            for (int threads = 1; threads <= 8; ++threads) {
                segtest::ThreadCount count(threads);
                cblob_imageRlePtrh banded;
                ASSERT_EQ(segmentToHandle(&banded, jobs[j]), 0);
                int32_t equal = 0;
                ASSERT_EQ(cblob_imageRlePtrh_compareEqual(&single, &banded, &equal), 0);
                EXPECT_EQ(equal, 1) << threads << " threads";
                EXPECT_EQ(segtest::decodePixels(recordOf(&banded)), pixels) << threads << " threads";
                EXPECT_EQ(segtest::checkStructure(recordOf(&banded)), "");
                cblob_imageRlePtrh_destruct(&banded);
            }
            cblob_imageRlePtrh_destruct(&single);
        }
    }
}

// 8 threads cut 100 x 1000 into 8 bands of 125 rows and 100 x 1003 into 7
// of 125 and a last one of 128; each band's rows sit in its own buffer,
// between the two sentinel buffers.
TEST(RunFinder, BandLayoutAndBufferSizes) {
    segtest::ThreadCount count(8);
    struct Case {
        int h, wide;
        bool grey;
    };
    for (const Case &c : {Case{1000, 0, false}, Case{1003, 0, false}, Case{1003, 1, true}, Case{1000, 1, false}}) {
        SCOPED_TRACE("height " + std::to_string(c.h) + (c.grey ? " grey" : " binary") + (c.wide ? " wide" : ""));
        TestImage img(8, 100, c.h);
        std::mt19937 rng(1);
        img.fillRandom(rng, 0, 255, 400);  // a few runs per row: one buffer per band is enough
        Job job{&img, c.grey ? std::function<void(cblob_runParams *)>([](cblob_runParams *p) {
                    cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 10, 20, 3, 0);
                })
                             : hard(128)};
        job.wide = c.wide;
        cblob_imageRlePtrh h;
        ASSERT_EQ(segmentToHandle(&h, job), 0);
        const cblob_imageRle *rec = recordOf(&h);
        const uint32_t perRun = c.grey ? (c.wide ? 9 : 2) : (c.wide ? 8 : 1);
        const uint32_t band = std::max(12u * perRun * 125u + 1u, 104u * perRun);
        const uint32_t sentinel = (c.wide ? 16u : 8u) + (c.grey ? 2u : 0u);
        std::vector<uint32_t> expected(8, band);
        expected.insert(expected.begin(), sentinel);
        expected.push_back(sentinel);
        EXPECT_EQ(blockSizes(rec), expected);
        EXPECT_EQ(blockOf(rec, 0), 0);
        for (int r = 0; r < c.h; ++r) ASSERT_EQ(blockOf(rec, r + 1), 1 + std::min(r / 125, 7)) << "row " << r;
        EXPECT_EQ(blockOf(rec, c.h + 1), 9);
        EXPECT_EQ(segtest::checkStructure(rec), "");
        cblob_imageRlePtrh_destruct(&h);
    }
    // One thread: one buffer of min(((runsPerRow x height + 4) x bytes-per-run + 7) / 4, 10485760) x 4 bytes.
    segtest::ThreadCount one(1);
    TestImage img(8, 100, 1000);
    cblob_imageRlePtrh h;
    ASSERT_EQ(segmentToHandle(&h, Job{&img, hard(1)}), 0);
    EXPECT_EQ(blockSizes(recordOf(&h)), std::vector<uint32_t>{(12 * 1000 + 4 + 7) / 4 * 4});
    cblob_imageRlePtrh_destruct(&h);
}

// Rows with more runs than estimated start new buffers sized for the rows
// still to do, exactly as a simulation of the rule in run_finder.hpp predicts.
TEST(RunFinder, BufferGrowthFollowsTheRunsPerRowEstimate) {
    segtest::ThreadCount one(1);
    struct Case {
        int w, h, wide;
    };
    for (const Case &c : {Case{64, 50, 0}, Case{300, 20, 0}, Case{64, 40, 1}, Case{7, 30, 0}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        TestImage img(8, c.w, c.h);
        for (int y = 0; y < c.h; ++y) {
            for (int x = 0; x < c.w; ++x) img.set(x, y, (x + y) % 2 ? 200 : 10);  // a run per pixel
        }
        cblob_imageRlePtrh h;
        ASSERT_EQ(segmentToHandle(&h, Job{&img, hard(128), nullptr, c.wide}), 0);
        const int64_t perRun = c.wide ? 8 : 1, rpr = c.w < 64 ? c.w : c.w / 8, rowSpace = (c.w + 4) * perRun;
        const int64_t rowBytes = (c.w + 1) * perRun, sentinelBytes = c.wide ? 16 : (c.w < 255 ? 2 : 6);
        std::vector<uint32_t> expected{
            static_cast<uint32_t>(std::min<int64_t>(((rpr * c.h + 4) * perRun + 7) / 4, 10485760) * 4)};
        int64_t left = expected[0] - sentinelBytes;
        for (int r = 0; r < c.h; ++r) {
            if (left < rowSpace) {
                expected.push_back(static_cast<uint32_t>(std::max(rpr * perRun * (c.h - r) + 1, rowSpace)));
                left = expected.back();
            }
            left -= rowBytes;
        }
        if (left < sentinelBytes) expected.push_back(static_cast<uint32_t>(sentinelBytes));
        EXPECT_EQ(blockSizes(recordOf(&h)), expected);
        EXPECT_EQ(segtest::checkStructure(recordOf(&h)), "");
        cblob_imageRlePtrh_destruct(&h);
    }
}

TEST(RunFinder, SingleThreadedFindersPollEveryThirtyTwoRowsBandsNever) {
    struct Case {
        int w, h, threads, polls;
    };
    const Case cases[] = {{10, 1, 1, 1},  {10, 32, 1, 1},   {10, 33, 1, 2},  {10, 64, 1, 2},
                          {10, 65, 1, 3}, {400, 100, 1, 4}, {400, 100, 4, 0}};
    for (const Case &c : cases) {
        segtest::ThreadCount count(c.threads);
        TestImage img(8, c.w, c.h);
        cblobtest::AttentionStopper counter(0);
        cblob_imageRlePtrh h;
        ASSERT_EQ(segmentToHandle(&h, Job{&img, hard(5)}), 0);
        EXPECT_EQ(counter.polls(), c.polls) << c.w << "x" << c.h << " on " << c.threads;
        cblob_imageRlePtrh_destruct(&h);
    }
}

// The optimised finders ask the hook once per call (not per row), under
// their own names, and the row kernel's name once when they resolve it.
TEST(RunFinder, InhibitHookIsAskedOncePerFinderCall) {
    struct Case {
        int bits, threads;
        bool inhibit;
        int single, band, row8;
    };
    const Case cases[] = {
        {8, 1, false, 1, 0, 1},  {8, 4, false, 0, 4, 4}, {16, 1, false, 1, 0, 0},
        {16, 4, false, 0, 4, 0}, {8, 1, true, 1, 0, 0},  {8, 4, true, 0, 4, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.threads) + " threads" +
                     (c.inhibit ? ", inhibited" : ""));
        segtest::ThreadCount count(c.threads);
        segtest::InhibitHook hook(c.inhibit);
        TestImage img(c.bits, 400, 200);
        cblob_imageRlePtrh h;
        ASSERT_EQ(segmentToHandle(&h, Job{&img, hard(5)}), 0);
        EXPECT_EQ(hook.asked(cblob::seg::kHardFinderSingleName), c.single);
        EXPECT_EQ(hook.asked(cblob::seg::kHardFinderBandName), c.band);
        EXPECT_EQ(hook.asked(cblob::row::kHardRow8KernelName), c.row8);
        EXPECT_EQ(hook.asked(cblob::row::kHardRow16KernelName), 0);
        cblob_imageRlePtrh_destruct(&h);
    }
}

TEST(RunFinder, MaskRowsExpandToOneBytePerPixel) {
    auto narrow = [](const rletest::Row &row, bool grey) { return rletest::encodeRow(row, grey); };
    auto wide = [](std::vector<std::pair<int, int>> runs, bool grey) {
        std::vector<uint8_t> out;
        runs.push_back({0, 0});
        for (auto [value, length] : runs) {
            if (grey) out.push_back(static_cast<uint8_t>(value));
            for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(i < 4 ? length >> (8 * i) : 0xAB));
        }
        return out;
    };
    enum Kind { narrowRow, wideRow, torvRow };
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;  // empty: no bytes at all (a null pointer)
        uint8_t start;
        bool grey;
        Kind kind;
        std::vector<uint8_t> expected;  // one byte per pixel of the width
    };
    const Case cases[] = {
        {"binary ending early", narrow({{1, 3}, {0, 2}}, false), 1, false, narrowRow, {1, 1, 1, 0, 0, 0, 0}},
        {"binary past the width", narrow({{0, 5}, {1, 5}}, false), 0, false, narrowRow, {0, 0, 0, 0, 0, 1, 1}},
        {"escaped length", narrow({{1, 300}}, false), 1, false, narrowRow, {1, 1, 1, 1}},
        {"grey", narrow({{4, 2}, {0, 1}, {9, 2}}, true), 0, true, narrowRow, {4, 4, 0, 9, 9, 0}},
        {"wide binary", wide({{0, 2}, {0, 3}}, false), 1, false, wideRow, {1, 1, 0, 0, 0, 0}},
        {"wide grey", wide({{7, 2}, {3, 1}}, true), 0, true, wideRow, {7, 7, 3}},
        {"no run bytes", {}, 1, false, narrowRow, {0, 0, 0}},
        {"TORV pairs", {5, 2, 0, 1, 9, 200, 0, 0}, 0, true, torvRow, {5, 5, 0, 9, 9, 9}},
        {"TORV short row", {5, 2, 0, 0}, 0, true, torvRow, {5, 5, 0, 0}},
        {"TORV none", {}, 0, true, torvRow, {0, 0}},
    };
    for (const Case &c : cases) {
        const int width = static_cast<int>(c.expected.size());
        std::vector<uint8_t> out(static_cast<size_t>(width) + 1, 0xEE);
        const uint8_t *bytes = c.bytes.empty() ? nullptr : c.bytes.data();
        if (c.kind == torvRow) {
            cblob::seg::expandTorvMaskRow(out.data(), bytes, width);
        } else {
            cblob::seg::expandRleMaskRow(out.data(), cblob_rleRow{const_cast<uint8_t *>(bytes), 0, c.start}, width,
                                         c.grey, c.kind == wideRow);
        }
        EXPECT_EQ(out.back(), 0xEE) << c.name << ": wrote past the width";
        out.pop_back();
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

}  // namespace
