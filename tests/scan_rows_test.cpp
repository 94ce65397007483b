// Single-pass rows of the connectivity scan: unmasked rows, which the run-end
// kernels write straight into the segment table, against a per-pixel model
// and against the same rows read under an all-inside mask window (run-length
// kernel and general decoder), plain and with weighted sums, under every
// kernel variant and with the optimised kernels inhibited.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cblob/sys.h"
#include "connect/scan_rows.hpp"
#include "support/inhibit_environment.hpp"
#include "support/row_variants.hpp"
#include "support/segmentation_support.hpp"

namespace {

namespace scan = cblob::connect::scan;
namespace row = cblob::row;
using cblob::connect::ScanSettings;
using cblob::connect::ScanSource;

// Segment tables of exactly width + 2 entries (what the scan gives a row),
// between guards that must stay untouched.
struct Tables {
    static constexpr int kGuard = 8;
    static constexpr int32_t kFill = -7;
    std::vector<int32_t> end;
    std::vector<int64_t> mass;
    std::vector<double> sumX, sumXX;
    explicit Tables(int width)
        : end(static_cast<size_t>(width + 2 + 2 * kGuard), kFill),
          mass(static_cast<size_t>(width + 2)),
          sumX(mass.size()),
          sumXX(mass.size()) {}
    scan::ScanRow row() {
        scan::ScanRow r;
        r.end = end.data() + kGuard;
        r.mass = mass.data();
        r.sumX = sumX.data();
        r.sumXX = sumXX.data();
        return r;
    }
    bool guardsIntact() const {
        for (int i = 0; i < kGuard; ++i) {
            if (end[static_cast<size_t>(i)] != kFill || end[end.size() - 1 - static_cast<size_t>(i)] != kFill) {
                return false;
            }
        }
        return true;
    }
};

// One window row of random pixels in stretches of 1 to 15, 8- or 16-bit.
struct Window : segtest::TestImage {
    Window(std::mt19937 &rng, int w, bool sixteen) : TestImage(sixteen ? 16 : 8, w, 1) {
        fillRandom(rng, 0, sixteen ? 65535 : 255, 15);
    }
    int value(int x) { return get(x, 0); }
};

struct Read {
    std::vector<int32_t> ends;
    int firstColour = -1;
    std::vector<int64_t> mass;
    std::vector<double> sumX, sumXX;
    bool guardsIntact = false;
};

Read readRow(Window &win, int32_t thresh, int32_t invert, const cimg_windowConst *mask, bool sums,
             bool fillWeights) {
    ScanSource src;
    (win.bits == 16 ? src.window16 : src.window8) = &win.window;
    src.thresh = thresh;
    src.invert = invert;
    src.maskWindow = mask;
    ScanSettings settings;
    settings.width = win.width;
    settings.height = 1;
    std::vector<uint8_t> rowBuffer(static_cast<size_t>(scan::rowBufferBytes(win.width)));
    scan::RowSource source;
    Read r;
    EXPECT_EQ(source.bind(src, settings, rowBuffer.data(), nullptr), 0);
    Tables t(win.width);
    scan::ScanRow row = t.row();
    source.read(0, row, sums, fillWeights);
    r.ends.assign(row.end, row.end + row.count);
    r.firstColour = row.firstColour;
    if (sums) {
        r.mass.assign(row.mass, row.mass + row.count);
        r.sumX.assign(row.sumX, row.sumX + row.count);
        r.sumXX.assign(row.sumXX, row.sumXX + row.count);
    }
    r.guardsIntact = t.guardsIntact();
    return r;
}

void expectRowsRight(const std::string &context) {
    std::mt19937 rng(77);
    std::vector<int> widths;
    for (int w = 1; w <= 140; ++w) widths.push_back(w);
    widths.insert(widths.end(), {1000, 4099});
    for (const bool sixteen : {false, true}) {
        for (int width : widths) {
            Window win(rng, width, sixteen);
            std::vector<uint8_t> inside(static_cast<size_t>(width), 0xFF);
            const cimg_windowConst mask{0, 0, width, 1, width, 8, inside.data()};
            const int limit = sixteen ? 65536 : 256;
            const int32_t thresh = rng() % 10 == 0 ? static_cast<int32_t>(rng() % 3) * limit / 2 - 1
                                                   : static_cast<int32_t>(rng() % static_cast<uint32_t>(limit));
            const int32_t invert = static_cast<int32_t>(rng() % 2);
            SCOPED_TRACE(context + (sixteen ? " 16-bit" : " 8-bit") + " width " + std::to_string(width) + " thresh " +
                         std::to_string(thresh) + " invert " + std::to_string(invert));
            // The model: colour 1 on the object side, runs of equal colour.
            std::vector<int32_t> ends;
            const auto colourAt = [&](int x) { return int((win.value(x) >= thresh) != (invert == 1)); };
            for (int x = 1; x <= width; ++x) {
                if (x == width || colourAt(x) != colourAt(x - 1)) ends.push_back(x);
            }
            for (int variant = 0; variant < 3; ++variant) {
                const bool sums = variant > 0, fill = variant == 2;
                const Read got = readRow(win, thresh, invert, nullptr, sums, fill);
                ASSERT_TRUE(got.guardsIntact) << "written outside the segment table";
                ASSERT_EQ(got.ends, ends);
                ASSERT_EQ(got.firstColour, colourAt(0));
                const Read masked = readRow(win, thresh, invert, &mask, sums, fill);
                ASSERT_EQ(masked.ends, ends);
                EXPECT_EQ(got.mass, masked.mass);
                EXPECT_EQ(got.sumX, masked.sumX);
                EXPECT_EQ(got.sumXX, masked.sumXX);
            }
        }
    }
}

int32_t inhibitAll(const char *) { return 1; }

// Each kernel variant is a test case of its own (a variant this machine
// cannot run is reported skipped), and so are the inhibited kernels.
class ScanRowsUnder : public ::testing::TestWithParam<row::HardRowVariant> {
protected:
    varianttest::VariantGuard guard;
};

INSTANTIATE_TEST_SUITE_P(Variants, ScanRowsUnder,
                         ::testing::Values(row::HardRowVariant::portable, row::HardRowVariant::sse2,
                                           row::HardRowVariant::avx2, row::HardRowVariant::avx512),
                         varianttest::paramName);

TEST_P(ScanRowsUnder, UnmaskedSinglePassRowsMatchModelAndMaskedPath) {
    const std::string lacking = varianttest::forceOrWhyNot(GetParam());
    ASSERT_FALSE(HasFailure());
    if (!lacking.empty()) GTEST_SKIP() << lacking;
    expectRowsRight(varianttest::variantName(GetParam()));
}

TEST(ScanRows, InhibitedUnmaskedSinglePassRowsMatchModelAndMaskedPath) {
    varianttest::VariantGuard guard;
    const cblobtest::ScopedInhibitHook inhibit(&inhibitAll);
    expectRowsRight("inhibited");
}

}  // namespace
