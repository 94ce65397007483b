// Row kernels: every kernel of the family decoded by an independent reader
// and compared with a per-pixel model; the optimised hard-threshold variants
// compared byte for byte with the portable kernel; the run-end kernels
// (portable and every optimised variant) against a per-pixel model,
// inside a buffer of exactly width + kRowEndsSlack entries; the inhibit hook
// and the variant selection. Each optimised variant is its own test case, so
// one this machine cannot run shows as skipped, with the reason.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "cblob/sys.h"
#include "core/frame.hpp"
#include "core/optimized.hpp"
#include "segment/row_kernels.hpp"
#include "support/inhibit_environment.hpp"
#include "support/row_variants.hpp"

namespace {

namespace row = cblob::row;

// ------------------------------------------------------------ the decoder

struct Decoded {
    std::vector<int> values;  // one per pixel
    int32_t runs = 0;
    size_t bytes = 0;         // up to and including the terminator
    std::string error;        // empty when the row is well formed
};

int32_t load32(const uint8_t *p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Reads one row; binary runs alternate from firstClass. Rejects zero-length
// runs, escapes of short lengths and grey neighbours of equal value.
Decoded decodeRow(const uint8_t *begin, bool grey, bool wide, int firstClass) {
    Decoded d;
    const uint8_t *p = begin;
    int cls = firstClass;
    for (;;) {
        int value = 0;
        if (grey) value = *p++;
        int32_t length;
        if (wide) {
            length = load32(p);
            p += 8;
        } else if (*p == 0xFF) {
            length = load32(p + 1);
            p += 5;
            if (length < 255) d.error = "short length escaped";
        } else {
            length = *p++;
        }
        if (length == 0) {
            if (value != 0) d.error = "grey terminator with a value";
            break;
        }
        if (length < 0 || d.values.size() + static_cast<size_t>(length) > 200000) {
            d.error = "bad length";
            break;
        }
        if (grey && d.runs > 0 && d.values.back() == value) d.error = "equal grey neighbours";
        d.values.insert(d.values.end(), static_cast<size_t>(length), grey ? value : cls);
        cls ^= 1;
        ++d.runs;
    }
    d.bytes = static_cast<size_t>(p - begin);
    return d;
}

// ------------------------------------------------------------ test rows

std::mt19937 &rng() {
    static std::mt19937 engine(12345);
    return engine;
}
int randomIn(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng()); }

enum class Style { random, stretches, alternating };

// `width` values in lo..hi: independent, in stretches of equal values, or
// alternating between lo and hi.
std::vector<int> makeValues(int width, Style style, int lo, int hi) {
    std::vector<int> v(static_cast<size_t>(width));
    for (int x = 0; x < width;) {
        const int value = style == Style::alternating ? (x % 2 ? hi : lo) : randomIn(lo, hi);
        const int length = style == Style::stretches ? randomIn(1, randomIn(0, 3) ? 40 : 700) : 1;
        for (int i = 0; i < length && x < width; ++i) v[static_cast<size_t>(x++)] = value;
    }
    return v;
}

template <class T>
std::vector<T> narrow(const std::vector<int> &v) {
    return std::vector<T>(v.begin(), v.end());
}

// All inputs a kernel may read for one row.
struct Row {
    int width = 0;
    std::vector<uint8_t> px8, mask, thr8;
    std::vector<uint16_t> px16, thr16;
};

Row makeRow(int width, Style style) {
    Row r;
    r.width = width;
    r.px8 = narrow<uint8_t>(makeValues(width, style, 0, 255));
    r.px16 = narrow<uint16_t>(makeValues(width, style, 0, 65535));
    r.mask = narrow<uint8_t>(makeValues(width, Style::stretches, 0, 3));  // 1..3 are all inside
    r.thr8 = narrow<uint8_t>(makeValues(width, Style::stretches, 0, 255));
    r.thr16 = narrow<uint16_t>(makeValues(width, Style::stretches, 0, 65535));
    return r;
}

// Tables with few distinct outputs, so that neighbouring pixels often merge.
struct Tables {
    std::vector<uint8_t> map8 = narrow<uint8_t>(makeValues(256, Style::stretches, 0, 3));
    std::vector<uint8_t> map16 = narrow<uint8_t>(makeValues(65536, Style::stretches, 0, 3));
    std::vector<uint8_t> tmap8 = narrow<uint8_t>(makeValues(256, Style::random, 0, 255));
    std::vector<uint8_t> tmap16to8 = narrow<uint8_t>(makeValues(65536, Style::random, 0, 255));
    std::vector<uint16_t> tmap16 = narrow<uint16_t>(makeValues(65536, Style::random, 0, 65535));
    std::vector<uint8_t> post256 = narrow<uint8_t>(makeValues(256, Style::stretches, 0, 4));
    std::vector<uint8_t> post65536 = narrow<uint8_t>(makeValues(65536, Style::stretches, 0, 4));
    std::vector<uint8_t> postShort = {0, 3, 1, 2, 4};  // clamps every index from 4 on
    std::vector<uint8_t> postEmpty;                    // reads as 0
};

// ------------------------------------------------------ the kernel family

struct Params {
    int thresh;
    int invert;
    int post;  // 0: full post map, 1: short, 2: empty
};

using Kernel = std::function<int32_t(uint8_t **, const Row &, const Params &, int32_t wide, int32_t *runs,
                                     int32_t *firstClass)>;
using Model = std::function<int(const Row &, const Params &, size_t x)>;

struct KernelCase {
    const char *name;
    bool grey;
    int maxThresh;  // pixel range of the threshold, for binary kernels
    Kernel run;
    Model model;
};

template <class ThreshPixel>
row::ThreshImageTables<ThreshPixel> tablesFor(const std::vector<ThreshPixel> &tmap, const std::vector<uint8_t> &post) {
    return {tmap.data(), post.data(), static_cast<int32_t>(post.size())};
}

int threshImageModel(int u, int t, const std::vector<uint8_t> &post) {
    if (u < t || post.empty()) return 0;
    return post[std::min(static_cast<size_t>(u - t), post.size() - 1)];
}

std::vector<KernelCase> kernelFamily(const Tables &tb) {
    using R = const Row &;
    using P = const Params &;
    const auto inside = [](R r, size_t x) { return r.mask[x] != 0; };
    const auto post8 = [&tb](P p) -> const std::vector<uint8_t> & {
        return p.post == 0 ? tb.post256 : p.post == 1 ? tb.postShort : tb.postEmpty;
    };
    const auto post16 = [&tb](P p) -> const std::vector<uint8_t> & {
        return p.post == 0 ? tb.post65536 : p.post == 1 ? tb.postShort : tb.postEmpty;
    };
    std::vector<KernelCase> c;
    // Hard thresholds, 8 and 16 bits, plain and masked (masked ones invert).
    const auto hardPair = [&](const char *name, const char *maskedName, auto pixels, int maxThresh) {
        using Px = typename std::remove_reference_t<decltype(Row{}.*pixels)>::value_type;
        c.push_back({name, false, maxThresh,
                     [=](uint8_t **cur, R r, P p, int32_t w, int32_t *n, int32_t *) {
                         return row::hardRow<Px>(cur, (r.*pixels).data(), r.width, p.thresh, w, n);
                     },
                     [=](R r, P p, size_t x) { return int((r.*pixels)[x] >= p.thresh); }});
        c.push_back({maskedName, false, maxThresh,
                     [=](uint8_t **cur, R r, P p, int32_t w, int32_t *n, int32_t *first) {
                         return row::maskedHardRow<Px>(cur, (r.*pixels).data(), r.mask.data(), r.width, p.thresh,
                                                       p.invert, w, n, first);
                     },
                     [=](R r, P p, size_t x) {
                         return int(inside(r, x) && ((r.*pixels)[x] >= p.thresh) != (p.invert != 0));
                     }});
    };
    hardPair("hard8", "maskedHard8", &Row::px8, 256);
    hardPair("hard16", "maskedHard16", &Row::px16, 65536);
    c.push_back({"none", true, 0,
                 [](uint8_t **cur, R r, P, int32_t w, int32_t *n, int32_t *) {
                     return row::noneRow(cur, r.px8.data(), r.width, w, n);
                 },
                 [](R r, P, size_t x) { return int(r.px8[x]); }});
    c.push_back({"maskedNone", true, 0,
                 [](uint8_t **cur, R r, P, int32_t w, int32_t *n, int32_t *) {
                     return row::maskedNoneRow(cur, r.px8.data(), r.mask.data(), r.width, w, n);
                 },
                 [=](R r, P, size_t x) { return inside(r, x) ? int(r.px8[x]) : 0; }});
    // Maps of 8- and 16-bit pixels, plain and masked.
    const auto mapPair = [&](const char *name, const char *maskedName, auto pixels, const std::vector<uint8_t> &map) {
        using Px = typename std::remove_reference_t<decltype(Row{}.*pixels)>::value_type;
        for (const bool masked : {false, true}) {
            c.push_back({masked ? maskedName : name, true, 0,
                         [=, &map](uint8_t **cur, R r, P, int32_t w, int32_t *n, int32_t *) {
                             const Px *px = (r.*pixels).data();
                             return masked ? row::maskedMapRow<Px>(cur, px, r.mask.data(), r.width, map.data(), w, n)
                                           : row::mapRow<Px>(cur, px, r.width, map.data(), w, n);
                         },
                         [=, &map](R r, P, size_t x) {
                             return masked && !inside(r, x) ? 0 : int(map[(r.*pixels)[x]]);
                         }});
        }
    };
    mapPair("map8", "maskedMap8", &Row::px8, tb.map8);
    mapPair("map16", "maskedMap16", &Row::px16, tb.map16);
    // Threshold images: 8/8, 16/8 and 16/16, plain and masked.
    const auto threshImagePair = [&](const char *name, const char *maskedName, auto pixels, auto thresholds,
                                     const auto &tmap, auto post) {
        using Px = typename std::remove_reference_t<decltype(Row{}.*pixels)>::value_type;
        using T = typename std::remove_reference_t<decltype(tmap)>::value_type;
        for (const bool masked : {false, true}) {
            c.push_back({masked ? maskedName : name, true, 0,
                         [=, &tmap](uint8_t **cur, R r, P p, int32_t w, int32_t *n, int32_t *) {
                             const auto t = tablesFor(tmap, post(p));
                             const Px *px = (r.*pixels).data();
                             const T *thr = (r.*thresholds).data();
                             return masked ? row::maskedThreshImageRow<Px, T>(cur, px, thr, r.mask.data(), r.width, &t,
                                                                              w, n)
                                           : row::threshImageRow<Px, T>(cur, px, thr, r.width, &t, w, n);
                         },
                         [=, &tmap](R r, P p, size_t x) {
                             if (masked && !inside(r, x)) return 0;
                             return threshImageModel(tmap[(r.*pixels)[x]], (r.*thresholds)[x], post(p));
                         }});
        }
    };
    threshImagePair("threshImage8_8", "maskedThreshImage8_8", &Row::px8, &Row::thr8, tb.tmap8, post8);
    threshImagePair("threshImage16_8", "maskedThreshImage16_8", &Row::px16, &Row::thr8, tb.tmap16to8, post8);
    threshImagePair("threshImage16_16", "maskedThreshImage16_16", &Row::px16, &Row::thr16, tb.tmap16, post16);
    return c;
}

int bytesPerRun(bool grey, bool wide) { return grey ? (wide ? 9 : 2) : (wide ? 8 : 1); }

TEST(RowKernels, EveryKernelMatchesThePerPixelModel) {
    const Tables tables;
    const std::vector<KernelCase> family = kernelFamily(tables);
    std::vector<int> widths;
    for (int w = 0; w <= 200; ++w) widths.push_back(w);
    widths.insert(widths.end(), {1000, 4099, 70000});
    for (int width : widths) {
        for (Style style : {Style::random, Style::stretches, Style::alternating}) {
            if (width >= 70000 && style != Style::stretches) continue;
            const Row r = makeRow(width, style);
            const int special[] = {0, 1, 128, 255, 256, 65535, 65536};
            for (const KernelCase &kc : family) {
                Params p{randomIn(0, 3) ? randomIn(0, kc.maxThresh) : special[randomIn(0, 6)], randomIn(0, 1),
                         std::max(0, randomIn(-3, 2))};
                if (p.thresh > kc.maxThresh) p.thresh = kc.maxThresh;
                for (int32_t wide = 0; wide <= 1; ++wide) {
                    SCOPED_TRACE(std::string(kc.name) + " width " + std::to_string(width) + " wide " +
                                 std::to_string(wide) + " thresh " + std::to_string(p.thresh));
                    std::vector<uint8_t> buffer(static_cast<size_t>(width + 4) * bytesPerRun(kc.grey, wide), 0xA5);
                    uint8_t *cursor = buffer.data();
                    int32_t runs = -1, first = -1;
                    ASSERT_EQ(kc.run(&cursor, r, p, wide, &runs, &first), 0);
                    std::vector<int> expected(static_cast<size_t>(width));
                    for (size_t x = 0; x < expected.size(); ++x) expected[x] = kc.model(r, p, x);
                    const bool masked = std::string(kc.name).rfind("masked", 0) == 0;
                    if (!kc.grey && masked) {
                        EXPECT_EQ(first, width ? expected[0] : 0);
                    }
                    const Decoded d = decodeRow(buffer.data(), kc.grey, wide, width ? expected[0] : 0);
                    ASSERT_EQ(d.error, "");
                    ASSERT_EQ(d.values, expected);
                    EXPECT_EQ(d.runs, runs);
                    EXPECT_EQ(static_cast<size_t>(cursor - buffer.data()), d.bytes);
                }
            }
        }
    }
}

// ------------------------------------------------- optimised vs portable

using varianttest::VariantGuard;

// The kernels the active variant resolves to.
struct ForcedVariant {
    row::HardRowKernel<uint8_t> runs8 = nullptr;
    row::HardRowKernel<uint16_t> runs16 = nullptr;
    row::HardRowEndsKernel<uint8_t> ends8 = nullptr;
    row::HardRowEndsKernel<uint16_t> ends16 = nullptr;
};

// One optimised variant per test case: forced for the test (automatic again
// afterwards), its kernels resolved, which must not be the portable ones. A
// variant this build or CPU cannot run skips the case with the reason.
class OptimisedRowKernels : public ::testing::TestWithParam<row::HardRowVariant> {
protected:
    void SetUp() override {
        const std::string lacking = varianttest::forceOrWhyNot(GetParam());
        ASSERT_FALSE(HasFailure());
        if (!lacking.empty()) GTEST_SKIP() << lacking;
        // These tests are about the optimised kernels themselves: resolve
        // them without a hook, also when the suite runs inhibited.
        const cblobtest::ScopedInhibitHook noHook(nullptr);
        ASSERT_EQ(row::resolveHardRowKernel(&forced.runs8), 0);
        ASSERT_EQ(row::resolveHardRowKernel(&forced.runs16), 0);
        ASSERT_EQ(row::resolveHardRowEndsKernel(&forced.ends8), 0);
        ASSERT_EQ(row::resolveHardRowEndsKernel(&forced.ends16), 0);
        ASSERT_NE(forced.runs8, &row::hardRow<uint8_t>);
        ASSERT_NE(forced.runs16, &row::hardRow<uint16_t>);
        ASSERT_NE(forced.ends8, &row::hardRowEnds<uint8_t>);
        ASSERT_NE(forced.ends16, &row::hardRowEnds<uint16_t>);
    }
    VariantGuard guard;
    ForcedVariant forced;
};

INSTANTIATE_TEST_SUITE_P(Variants, OptimisedRowKernels, ::testing::ValuesIn(varianttest::kOptimisedVariants),
                         varianttest::paramName);

template <class Pixel>
void expectSameAsPortable(row::HardRowKernel<Pixel> kernel, const std::vector<Pixel> &px, int thresh) {
    const int width = static_cast<int>(px.size());
    for (int32_t wide = 0; wide <= 1; ++wide) {
        const size_t size = static_cast<size_t>(width + 4) * (wide ? 8 : 1);
        std::vector<uint8_t> want(size, 0x5A), got(size, 0x5A);
        uint8_t *wantCursor = want.data(), *gotCursor = got.data();
        int32_t wantRuns = -1, gotRuns = -2;
        ASSERT_EQ(row::hardRow<Pixel>(&wantCursor, px.data(), width, thresh, wide, &wantRuns), 0);
        ASSERT_EQ(kernel(&gotCursor, px.data(), width, thresh, wide, &gotRuns), 0);
        ASSERT_EQ(gotRuns, wantRuns) << "width " << width << " thresh " << thresh << " wide " << wide;
        ASSERT_EQ(gotCursor - got.data(), wantCursor - want.data());
        ASSERT_TRUE(got == want) << "width " << width << " thresh " << thresh << " wide " << wide;
    }
}

// Rows that do not depend on the threshold: random and in stretches, at
// widths around the 64-pixel blocks, plus long rows for escaped lengths.
template <class Pixel>
std::vector<std::vector<Pixel>> fixedRows(int maxValue) {
    std::vector<std::vector<Pixel>> rows;
    for (int width : {1, 2, 15, 31, 63, 64, 65, 127, 128, 129, 200, 1000})
        for (Style style : {Style::random, Style::stretches})
            rows.push_back(narrow<Pixel>(makeValues(width, style, 0, maxValue)));
    rows.push_back(narrow<Pixel>(makeValues(4099, Style::stretches, 0, maxValue)));
    return rows;
}

// Rows built around one threshold: alternating below/at it, and random
// values within two of it.
template <class Pixel>
std::vector<std::vector<Pixel>> rowsAround(int thresh, int maxValue) {
    const int lo = std::clamp(thresh - 2, 0, maxValue), hi = std::clamp(thresh + 2, 0, maxValue);
    std::vector<std::vector<Pixel>> rows;
    for (int width : {1, 64, 67, 300}) {
        rows.push_back(narrow<Pixel>(makeValues(width, Style::alternating, std::clamp(thresh - 1, 0, maxValue),
                                                std::min(thresh, maxValue))));
        rows.push_back(narrow<Pixel>(makeValues(width, Style::random, lo, hi)));
    }
    return rows;
}

std::vector<int> thresholds16() {
    std::vector<int> t = {-1, 0, 1, 2, 255, 256, 257, 32767, 32768, 32769, 65534, 65535, 65536};
    for (int i = 0; i < 65536; i += 97) t.push_back(i);
    for (int i = 0; i < 100; ++i) t.push_back(randomIn(0, 65535));
    return t;
}

TEST_P(OptimisedRowKernels, ByteIdenticalToPortable) {
    const auto fixed8 = fixedRows<uint8_t>(255);
    const auto fixed16 = fixedRows<uint16_t>(65535);
    const std::vector<uint8_t> uniform8(70000, 200);
    for (int t = -1; t <= 257; ++t) {
        for (const auto &px : fixed8) expectSameAsPortable(forced.runs8, px, t);
        for (const auto &px : rowsAround<uint8_t>(t, 255)) expectSameAsPortable(forced.runs8, px, t);
        if (t % 50 == 0) expectSameAsPortable(forced.runs8, uniform8, t);
        if (HasFatalFailure()) return;
    }
    for (int t : thresholds16()) {
        for (const auto &px : fixed16) expectSameAsPortable(forced.runs16, px, t);
        for (const auto &px : rowsAround<uint16_t>(t, 65535)) expectSameAsPortable(forced.runs16, px, t);
        if (HasFatalFailure()) return;
    }
}

// Rows for the uniform-block fast path of the optimised kernels: classes
// change exactly at the given edges (the first pixel's class is `startHigh`),
// so stretches can end on a 64-pixel block edge or one pixel before or after
// it. Pixels take the values closest to the threshold (t - 1 and t), where an
// off-by-one in a packed compare shows, and now and then any value of their
// class, so that a block's minimum or maximum is not always its first pixel.
template <class Pixel>
std::vector<Pixel> rowWithEdges(int width, const std::vector<int> &edges, bool startHigh, int thresh, int maxValue) {
    std::vector<Pixel> px(static_cast<size_t>(width));
    bool high = startHigh;
    size_t next = 0;
    for (int x = 0; x < width; ++x) {
        while (next < edges.size() && edges[next] <= x) {
            high = !high;
            ++next;
        }
        const bool exact = randomIn(0, 7) != 0;
        px[static_cast<size_t>(x)] = static_cast<Pixel>(high ? (exact ? thresh : randomIn(thresh, maxValue))
                                                             : (exact ? thresh - 1 : randomIn(0, thresh - 1)));
    }
    return px;
}

// Edges every `period` pixels shifted by `offset`, or (period 0) after
// random stretches of 1 to 5 blocks, each one pixel short, exact or long.
std::vector<int> edgesFor(int width, int period, int offset) {
    std::vector<int> edges;
    for (int x = 0;;) {
        x += period > 0 ? period : 64 * randomIn(1, 5) + randomIn(-1, 1);
        if (x + offset >= width) break;
        if (x + offset > 0) edges.push_back(x + offset);
    }
    return edges;
}

template <class Pixel>
void expectUniformStretchesLikePortable(row::HardRowKernel<Pixel> kernel, int maxValue) {
    const int middle = (maxValue + 1) / 2;
    // Both directions of the threshold move and the extreme thresholds.
    const int thresholds[] = {1, 2, middle - 1, middle, middle + 1, maxValue - 1, maxValue};
    for (int t : thresholds) {
        for (int width : {63, 64, 65, 127, 128, 129, 191, 192, 193, 320, 1023, 1024, 1025}) {
            for (int period : {0, 64, 128, 192, 320}) {
                for (int offset : {-1, 0, 1}) {
                    const std::vector<int> edges = edgesFor(width, period, offset);
                    for (bool startHigh : {false, true}) {
                        expectSameAsPortable(kernel, rowWithEdges<Pixel>(width, edges, startHigh, t, maxValue), t);
                    }
                }
            }
        }
        // One pixel of the other class in a uniform row, at every position:
        // every pixel of a skipped block must take part in its test.
        for (int width : {192, 193}) {
            for (int odd = 0; odd < width; ++odd) {
                for (bool startHigh : {false, true}) {
                    expectSameAsPortable(kernel, rowWithEdges<Pixel>(width, {odd, odd + 1}, startHigh, t, maxValue),
                                         t);
                }
            }
        }
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST_P(OptimisedRowKernels, SkipUniformBlocksExactly) {
    expectUniformStretchesLikePortable(forced.runs8, 255);
    if (HasFatalFailure()) return;
    expectUniformStretchesLikePortable(forced.runs16, 65535);
}

// ------------------------------------------------------------ run ends

struct HookLog {
    static inline std::vector<std::string> names;
    static inline int32_t answer = 0;
    static int32_t hook(const char *name) {
        names.push_back(name);
        return answer;
    }
};

struct HookGuard {
    cprt_optimizationInhibitedFn previous = cprt_isOptimizationInhibitedFP;
    HookGuard() {
        HookLog::names.clear();
        HookLog::answer = 0;
        cprt_isOptimizationInhibitedFP = &HookLog::hook;
    }
    ~HookGuard() { cprt_isOptimizationInhibitedFP = previous; }
};


// The run ends of the class "thresh <= value", pixel by pixel.
template <class Pixel>
std::vector<int32_t> modelEnds(const std::vector<Pixel> &px, int thresh) {
    std::vector<int32_t> ends;
    for (size_t x = 1; x <= px.size(); ++x) {
        if (x == px.size() || (px[x] >= thresh) != (px[x - 1] >= thresh)) ends.push_back(static_cast<int32_t>(x));
    }
    return ends;
}

// Runs the kernel into a buffer of exactly width + kRowEndsSlack entries
// between guards, and compares with the model.
template <class Pixel>
void expectEnds(row::HardRowEndsKernel<Pixel> kernel, const std::vector<Pixel> &px, int thresh) {
    constexpr int32_t kGuard = 16;
    constexpr int32_t kFill = -7;
    const int width = static_cast<int>(px.size());
    std::vector<int32_t> buffer(static_cast<size_t>(width + row::kRowEndsSlack + 2 * kGuard), kFill);
    int32_t runs = -1;
    ASSERT_EQ(kernel(buffer.data() + kGuard, px.data(), width, thresh, &runs), 0);
    const std::vector<int32_t> want = modelEnds(px, thresh);
    ASSERT_EQ(runs, static_cast<int32_t>(want.size())) << "width " << width << " thresh " << thresh;
    ASSERT_EQ(std::vector<int32_t>(buffer.begin() + kGuard, buffer.begin() + kGuard + runs), want)
        << "width " << width << " thresh " << thresh;
    for (int32_t i = 0; i < kGuard; ++i) {
        ASSERT_EQ(buffer[static_cast<size_t>(i)], kFill) << "written before the row";
        ASSERT_EQ(buffer[buffer.size() - 1 - static_cast<size_t>(i)], kFill) << "written past the slack";
    }
}

// Every threshold (8-bit) and a dense sample of thresholds (16-bit) over
// random rows of widths 0..200 and a few long ones, and long uniform
// stretches with edges on and next to block edges.
void expectRunEndsMatchTheModel(row::HardRowEndsKernel<uint8_t> k8, row::HardRowEndsKernel<uint16_t> k16) {
    std::vector<std::vector<uint8_t>> rows8;
    std::vector<std::vector<uint16_t>> rows16;
    for (int width = 0; width <= 200; ++width) {
        const Style style = width % 3 == 0 ? Style::stretches : width % 3 == 1 ? Style::random : Style::alternating;
        rows8.push_back(narrow<uint8_t>(makeValues(width, style, 0, 255)));
        rows16.push_back(narrow<uint16_t>(makeValues(width, style, 0, 65535)));
    }
    for (int width : {1000, 4099}) {
        for (Style style : {Style::random, Style::stretches}) {
            rows8.push_back(narrow<uint8_t>(makeValues(width, style, 0, 255)));
            rows16.push_back(narrow<uint16_t>(makeValues(width, style, 0, 65535)));
        }
    }
    // Dense boundaries near the threshold: every pixel within two of it.
    for (int width : {64, 67, 300}) rows8.push_back(narrow<uint8_t>(makeValues(width, Style::random, 126, 130)));
    for (int t = -1; t <= 257; ++t) {
        for (const auto &px : rows8) expectEnds(k8, px, t);
        if (::testing::Test::HasFatalFailure()) return;
    }
    for (int t : thresholds16()) {
        for (const auto &px : rows16) expectEnds(k16, px, t);
        if (::testing::Test::HasFatalFailure()) return;
    }
    for (int t : {1, 127, 128, 129, 255}) {
        for (int width : {63, 64, 65, 129, 320, 1025}) {
            for (int offset : {-1, 0, 1}) {
                const std::vector<int> edges = edgesFor(width, 0, offset);
                for (bool startHigh : {false, true}) {
                    expectEnds(k8, rowWithEdges<uint8_t>(width, edges, startHigh, t, 255), t);
                    expectEnds(k16, rowWithEdges<uint16_t>(width, edges, startHigh, t * 257, 65535), t * 257);
                }
            }
        }
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(RowKernels, PortableRunEndKernelsMatchThePerPixelModel) {
    expectRunEndsMatchTheModel(&row::hardRowEnds<uint8_t>, &row::hardRowEnds<uint16_t>);
}

TEST_P(OptimisedRowKernels, RunEndsMatchThePerPixelModel) { expectRunEndsMatchTheModel(forced.ends8, forced.ends16); }

// A copy of a row that ends where an inaccessible page begins: a kernel that
// reads one pixel past the row faults.
template <class Pixel>
class GuardedRow {
public:
    explicit GuardedRow(const std::vector<Pixel> &px) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t bytes = px.size() * sizeof(Pixel);
        span_ = (bytes + page - 1) / page * page + page;
        void *map = mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) return;
        base_ = static_cast<uint8_t *>(map);
        uint8_t *guard = base_ + span_ - page;
        if (mprotect(guard, page, PROT_NONE) != 0) return;
        pixels_ = reinterpret_cast<Pixel *>(guard - bytes);
        std::memcpy(pixels_, px.data(), bytes);
    }
    ~GuardedRow() {
        if (base_) munmap(base_, span_);
    }
    GuardedRow(const GuardedRow &) = delete;
    GuardedRow &operator=(const GuardedRow &) = delete;
    const Pixel *pixels() const { return pixels_; }

private:
    uint8_t *base_ = nullptr;
    size_t span_ = 0;
    Pixel *pixels_ = nullptr;
};

// Both kernel families of one optimised variant on rows that end at an
// inaccessible page, for every tail length (widths 1..200), give the
// portable kernels' output.
template <class Pixel>
void expectNothingReadPastTheRow(row::HardRowKernel<Pixel> runs, row::HardRowEndsKernel<Pixel> ends, int maxValue) {
    const int middle = (maxValue + 1) / 2;
    for (int width = 1; width <= 200; ++width) {
        const Style style = width % 2 == 0 ? Style::random : Style::stretches;
        const std::vector<Pixel> px = narrow<Pixel>(makeValues(width, style, 0, maxValue));
        GuardedRow<Pixel> guarded(px);
        ASSERT_NE(guarded.pixels(), nullptr);
        for (int thresh : {1, middle, maxValue}) {
            for (int32_t wide = 0; wide <= 1; ++wide) {
                std::vector<uint8_t> want(static_cast<size_t>(width + 4) * 8), got(want.size());
                uint8_t *wantCursor = want.data(), *gotCursor = got.data();
                int32_t wantRuns = -1, gotRuns = -2;
                ASSERT_EQ(row::hardRow<Pixel>(&wantCursor, px.data(), width, thresh, wide, &wantRuns), 0);
                ASSERT_EQ(runs(&gotCursor, guarded.pixels(), width, thresh, wide, &gotRuns), 0);
                ASSERT_EQ(gotRuns, wantRuns) << "width " << width << " thresh " << thresh;
                ASSERT_TRUE(want == got) << "width " << width << " thresh " << thresh;
            }
            std::vector<int32_t> want(static_cast<size_t>(width) + row::kRowEndsSlack), got(want.size());
            int32_t wantRuns = -1, gotRuns = -2;
            ASSERT_EQ(row::hardRowEnds<Pixel>(want.data(), px.data(), width, thresh, &wantRuns), 0);
            ASSERT_EQ(ends(got.data(), guarded.pixels(), width, thresh, &gotRuns), 0);
            ASSERT_EQ(gotRuns, wantRuns) << "width " << width << " thresh " << thresh;
            want.resize(static_cast<size_t>(wantRuns));
            got.resize(static_cast<size_t>(gotRuns));
            ASSERT_EQ(got, want) << "width " << width << " thresh " << thresh;
        }
    }
}

TEST_P(OptimisedRowKernels, ReadNothingPastTheRow) {
    expectNothingReadPastTheRow<uint8_t>(forced.runs8, forced.ends8, 255);
    if (HasFatalFailure()) return;
    expectNothingReadPastTheRow<uint16_t>(forced.runs16, forced.ends16, 65535);
}

// --------------------------------------------------- hook and selection

// A forced variant (automatic: the best available) and the hook's answer
// (0 lets the optimised kernel run, anything else inhibits it).
struct Selection {
    row::HardRowVariant variant;
    int32_t hookAnswer;
};

class KernelSelection : public ::testing::TestWithParam<Selection> {};

INSTANTIATE_TEST_SUITE_P(Cases, KernelSelection,
                         ::testing::Values(Selection{row::HardRowVariant::automatic, 1},
                                           Selection{row::HardRowVariant::automatic, 0},
                                           Selection{row::HardRowVariant::portable, 0},
                                           Selection{row::HardRowVariant::sse2, 0},
                                           Selection{row::HardRowVariant::avx2, 0},
                                           Selection{row::HardRowVariant::avx2, 7},
                                           Selection{row::HardRowVariant::avx512, 0},
                                           Selection{row::HardRowVariant::avx512, 3}),
                         [](const ::testing::TestParamInfo<Selection> &param) {
                             return varianttest::variantName(param.param.variant) + "_hook" +
                                    std::to_string(param.param.hookAnswer);
                         });

TEST_P(KernelSelection, HookAndForcedVariantSelectTheKernel) {
    VariantGuard variantGuard;
    HookGuard hookGuard;
    const std::vector<uint8_t> px = {1, 9, 9, 2, 200, 7};
    const std::vector<uint16_t> px16 = {1, 40000, 40000, 2};
    uint8_t buffer[64] = {};
    const Selection c = GetParam();
    const std::string lacking = varianttest::forceOrWhyNot(c.variant);
    ASSERT_FALSE(HasFailure());
    if (!lacking.empty()) GTEST_SKIP() << lacking;
    row::HardRowVariant active{};
    ASSERT_EQ(row::getHardRowVariant(&active), 0);
    const char *name = nullptr;
    ASSERT_EQ(row::getHardRowVariantName(active, &name), 0);
    SCOPED_TRACE(std::string(name) + " hook answer " + std::to_string(c.hookAnswer));
    const bool optimised = c.hookAnswer == 0 && active != row::HardRowVariant::portable;
    HookLog::answer = c.hookAnswer;

    // Resolving asks the hook exactly once, under the kernel's name; the
    // run-end kernels answer to the same names.
    auto expectResolved = [&](auto resolve8, auto resolve16, auto portable8, auto portable16) {
        HookLog::names.clear();
        decltype(portable8) k8 = nullptr;
        decltype(portable16) k16 = nullptr;
        ASSERT_EQ(resolve8(&k8), 0);
        ASSERT_EQ(resolve16(&k16), 0);
        EXPECT_EQ(HookLog::names, (std::vector<std::string>{"cblob_findRunLengths8_hardThreshNoMask_row",
                                                            "cblob_findRunLengths16_hardThreshNoMask_row"}));
        EXPECT_EQ(k8 == portable8, !optimised);
        EXPECT_EQ(k16 == portable16, !optimised);
    };
    expectResolved(&row::resolveHardRowKernel<uint8_t>, &row::resolveHardRowKernel<uint16_t>,
                   &row::hardRow<uint8_t>, &row::hardRow<uint16_t>);
    expectResolved(&row::resolveHardRowEndsKernel<uint8_t>, &row::resolveHardRowEndsKernel<uint16_t>,
                   &row::hardRowEnds<uint8_t>, &row::hardRowEnds<uint16_t>);

    // The optimised entry declines without touching its outputs, and the
    // caller's fallback gives the portable result either way.
    uint8_t *cursor = buffer;
    int32_t runs = -1;
    const int32_t declined = row::hardRowOptimized<uint8_t>(&cursor, px.data(), 6, 9, 0, &runs);
    EXPECT_EQ(declined, optimised ? 0 : cprt_err_optimizationInhibited);
    if (!optimised) {
        EXPECT_EQ(cursor, buffer);
        EXPECT_EQ(runs, -1);
    }
    int32_t status = -1;
    cursor = buffer;
    CBLOB_RUN_OPTIMIZED(status, row::hardRowOptimized<uint8_t>(&cursor, px.data(), 6, 9, 0, &runs),
                        row::hardRow<uint8_t>(&cursor, px.data(), 6, 9, 0, &runs));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(runs, 5);
    EXPECT_EQ(std::vector<uint8_t>(buffer, cursor), (std::vector<uint8_t>{1, 2, 1, 1, 1, 0}));
    cursor = buffer;
    CBLOB_RUN_OPTIMIZED(status, row::hardRowOptimized<uint16_t>(&cursor, px16.data(), 4, 40000, 1, &runs),
                        row::hardRow<uint16_t>(&cursor, px16.data(), 4, 40000, 1, &runs));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(cursor - buffer, 4 * 8);
    EXPECT_EQ((std::vector<int32_t>{load32(buffer), load32(buffer + 8), load32(buffer + 16), load32(buffer + 24)}),
              (std::vector<int32_t>{1, 2, 1, 0}));
}

// A variant that does not exist is refused and leaves the selection alone.
TEST(RowKernels, ForcingAnUnknownVariantIsRefused) {
    VariantGuard guard;
    ASSERT_EQ(row::forceHardRowVariant(row::HardRowVariant::portable), 0);
    EXPECT_EQ(row::forceHardRowVariant(static_cast<row::HardRowVariant>(99)), cprt_err_optimizationInhibited);
    row::HardRowVariant active{};
    ASSERT_EQ(row::getHardRowVariant(&active), 0);
    EXPECT_EQ(active, row::HardRowVariant::portable);
}

}  // namespace
