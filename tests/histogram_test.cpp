// Window histograms and the inverse cumulative table.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "cblob/histogram.h"
#include "support/fault_injection.hpp"

namespace {

// The model of the inverse cumulative table, straight from its definition:
// the smallest v whose cumulative count C satisfies 100 C >= p N and C >= 1.
std::vector<int32_t> modelInvCum(const std::vector<uint32_t> &counts) {
    uint64_t total = 0;
    for (uint32_t c : counts) total += c;
    std::vector<int32_t> table(101);
    for (int p = 0; p <= 100; ++p) {
        uint64_t cumulative = 0;
        for (size_t v = 0; v < counts.size(); ++v) {
            cumulative += counts[v];
            if (cumulative >= 1 && 100 * cumulative >= static_cast<uint64_t>(p) * total) {
                table[p] = static_cast<int32_t>(v);
                break;
            }
        }
    }
    return table;
}

std::vector<int32_t> invCum(const std::vector<uint32_t> &counts, int32_t *status) {
    std::vector<int32_t> table(101, -1);
    *status = cip_pelHistogramStat_invCum(counts.data(), static_cast<int32_t>(counts.size()), table.data());
    return table;
}

TEST(Histogram, Window8MatchesNaiveCountOnSubWindows) {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> pel(0, 255);
    const int width = 37, height = 11, stride = 48;
    std::vector<uint8_t> buffer(stride * height);
    for (uint8_t &b : buffer) b = static_cast<uint8_t>(pel(rng));
    // A long run of one value, as in real images.
    for (int x = 0; x < 30; ++x) buffer[2 * stride + x] = 77;
    cimg_image img;
    cimg_image8_construct(&img);
    ASSERT_EQ(cimg_image_initFromBuffer(&img, buffer.data(), 8, width, height, stride, 5, 5), 0);
    struct Sub {
        int32_t x, y, width, height;
    } subs[] = {{5, 5, 37, 11}, {6, 7, 1, 1}, {8, 5, 5, 11}, {9, 6, 30, 4}, {5, 5, 0, 3}, {7, 8, 7, 2}};
    for (const Sub &s : subs) {
        cimg_windowConst w;
        ASSERT_EQ(cimg_windowConst_initWindow(&w, &img, s.x, s.y, s.width, s.height), 0);
        uint32_t counts[256];
        ASSERT_EQ(cip_pelHistogramWindow8(&w, counts), 0);
        uint32_t model[256] = {};
        for (int y = s.y; y < s.y + s.height; ++y)
            for (int x = s.x; x < s.x + s.width; ++x) ++model[buffer[(y - 5) * stride + (x - 5)]];
        for (int v = 0; v < 256; ++v) ASSERT_EQ(counts[v], model[v]) << "value " << v << " window " << s.x;
    }
    cimg_image_destruct(&img);
}

TEST(Histogram, Window16BinsAndErrors) {
    const uint16_t pels[6] = {0, 999, 65535, 999, 3, 3};
    cimg_image img;
    cimg_image16_construct(&img);
    ASSERT_EQ(cimg_image_initFromBuffer(&img, const_cast<uint16_t *>(pels), 16, 3, 2, 6, 0, 0), 0);
    cimg_windowConst w, left;
    cimg_windowConst_init(&w, &img);
    std::vector<uint32_t> counts(65536, 7);
    ASSERT_EQ(cip_pelHistogramWindow16(&w, counts.data(), 65536), 0);
    EXPECT_TRUE(counts[999] == 2 && counts[65535] == 1 && counts[3] == 2 && counts[0] == 1 && counts[1] == 0);
    // 65535 does not fit 1000 bins: nothing is written.
    std::vector<uint32_t> small(1000, 7);
    EXPECT_EQ(cip_pelHistogramWindow16(&w, small.data(), 1000), cip_err_badBins);
    EXPECT_EQ(small[999], 7u);
    cimg_windowConst_initWindow(&left, &img, 0, 0, 2, 2);  // 0, 999 / 999, 3
    ASSERT_EQ(cip_pelHistogramWindow16(&left, small.data(), 1000), 0);
    EXPECT_TRUE(small[0] == 1 && small[999] == 2 && small[3] == 1 && small[998] == 0);
    EXPECT_EQ(cip_pelHistogramWindow16(&left, small.data(), 0), cip_err_badBins);
    uint32_t c8[256];
    EXPECT_EQ(cip_pelHistogramWindow8(&w, c8), cimg_err_badDepth);
    {
        cblobtest::AssertCatcher catcher;
        EXPECT_EQ(cip_pelHistogramWindow16(&w, nullptr, 5), csys_err_assertFailed);
        EXPECT_EQ(catcher.count(), 1);
    }
    cimg_windowConst unbound;
    cimg_windowConst_construct(&unbound);
    EXPECT_EQ(cip_pelHistogramWindow8(&unbound, c8), cimg_err_unbound);
    cimg_windowConst huge = w;
    huge.bitsPerPel = 8;
    huge.width = 70000;
    huge.height = 70000;
    EXPECT_EQ(cip_pelHistogramWindow8(&huge, c8), cip_err_countOverflow);
    cimg_image_destruct(&img);
}

TEST(Histogram, InverseCumulativeMatchesModel) {
    std::mt19937 rng(4);
    for (int i = 0; i < 300; ++i) {
        const int bins = std::uniform_int_distribution<int>(1, 300)(rng);
        std::vector<uint32_t> counts(bins, 0);
        const int filled = std::uniform_int_distribution<int>(1, 6)(rng);
        for (int k = 0; k < filled; ++k)
            counts[std::uniform_int_distribution<int>(0, bins - 1)(rng)] +=
                std::uniform_int_distribution<uint32_t>(1, (i % 3 == 0) ? 4000000000u : 50u)(rng);
        int32_t status = 0;
        const std::vector<int32_t> t = invCum(counts, &status);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(t, modelInvCum(counts)) << "case " << i;
    }
    // Empty and bin-less histograms are refused, the table untouched.
    int32_t status = 0;
    const std::vector<uint32_t> empty(256, 0);
    EXPECT_EQ(invCum(empty, &status)[0], -1);
    EXPECT_EQ(status, cip_err_emptyHistogram);
    int32_t table[101];
    EXPECT_EQ(cip_pelHistogramStat_invCum(empty.data(), 0, table), cip_err_badBins);
}

}  // namespace
