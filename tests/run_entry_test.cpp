// The run entry points: their checks in order, what each check leaves the
// result set as, every request through every input form, and the front
// end's soft threshold without levels.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "cblob/cblob.h"
#include "support/fault_injection.hpp"
#include "support/run_support.hpp"

namespace {

using runtest::GreyImage;
using runtest::Params;
using runtest::Results;
using runtest::RleHandle;
using runtest::TorvMask;

// The expected status of a run that passes every check.
constexpr int32_t kRuns = 1;

// 8 x 6 pixel values: value(i) for pixel i, row by row.
template <class F>
std::vector<uint16_t> values(F value) {
    std::vector<uint16_t> v(48);
    for (int i = 0; i < 48; ++i) v[i] = static_cast<uint16_t>(value(i));
    return v;
}

// Every input a case may need: an 8 x 6 image at (2, 3) in both depths,
// masks of every kind of the same geometry and elsewhere, run-length inputs.
struct Inputs {
    GreyImage img8{8, 6, 8, values([](int i) { return i * 37 % 256; }), 2, 3, 3};
    GreyImage img16{8, 6, 16, values([](int i) { return i * 37 % 256 * 200; }), 2, 3};
    GreyImage mask{8, 6, 8, values([](int i) { return i % 3 ? 255 : 0; }), 2, 3};
    GreyImage maskElsewhere{8, 6, 8, values([](int i) { return i % 3 ? 255 : 0; }), 3, 3};
    cimg_image unbound;
    RleHandle rleMask, rleMaskElsewhere, nullHandle, noRows, rleInput;
    TorvMask torv{mask};
    cstd_rect32 torvElsewhere{2, 4, 8, 6};
    cimg_windowConst window8{}, window16{}, maskWindow{}, maskWindowElsewhere{};

    Inputs() {
        cimg_image8_construct(&unbound);
        EXPECT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleMask.h, mask.image(), 1, 0), 0);
        EXPECT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleMaskElsewhere.h, maskElsewhere.image(), 1, 0), 0);
        EXPECT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleInput.h, img8.image(), 100, 0), 0);
        // A record that was constructed but never given rows.
        cblob_imageRle *record = nullptr;
        EXPECT_EQ(csys_memory_alloc_internal(sizeof(cblob_imageRle), reinterpret_cast<void **>(&record)), 0);
        EXPECT_EQ(cblob_imageRle_construct_(record), 0);
        EXPECT_EQ(cblob_imageRlePtrh_attach(&noRows.h, record), 0);
        cimg_windowConst_init(&window8, img8.image());
        cimg_windowConst_init(&window16, img16.image());
        cimg_windowConst_init(&maskWindow, mask.image());
        cimg_windowConst_init(&maskWindowElsewhere, maskElsewhere.image());
    }
    ~Inputs() { cimg_image_destruct(&unbound); }
};

struct Case {
    const char *name;
    std::function<int32_t(Inputs &, cblob_runParams *, cblob_resultSet *)> run;
    int32_t expected;  // a status, or kRuns
    bool clears;       // the result set was cleared before the run ended
};

int32_t hard(cblob_runParams *p, int32_t thresh) { return cblob_runParams_setSegmentationHardThresh(p, thresh, 0); }

// One case: its name, the expected status (or kRuns), whether the result
// set is cleared, and the statements that set the parameters and run.
#define RUN_CASE(name, expected, clears, ...) \
    Case { name, [](Inputs &in, cblob_runParams *p, cblob_resultSet *rs) -> int32_t { __VA_ARGS__ }, expected, clears }

// clang-format off
std::vector<Case> cases() {
    return {
        RUN_CASE("run8: unbound image", cblob_err_imageUnbound, false,
                 return cblob_run8(&in.unbound, nullptr, p, rs);),
        RUN_CASE("run8: unbound mask", cblob_err_maskUnbound, false,
                 return cblob_run8(in.img8.image(), &in.unbound, p, rs);),
        RUN_CASE("run8: mask elsewhere", cblob_err_maskGeometryMismatch, false,
                 return cblob_run8(in.img8.image(), in.maskElsewhere.image(), p, rs);),
        RUN_CASE("run8: hard threshold 256", cblob_err_badThreshRange, false,
                 hard(p, 256); return cblob_run8(in.img8.image(), nullptr, p, rs);),
        RUN_CASE("run8: soft 0..255 softness 10 passes", kRuns, true,
                 cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 0, 255, 10, 0);
                 return cblob_run8(in.img8.image(), nullptr, p, rs);),
        RUN_CASE("run8: soft span above 255", cblob_err_badThreshRange, false,
                 cblob_runParams_setSegmentationSoftThresh(p, 0, 255, 0); p->thresh = -1;
                 return cblob_run8(in.img8.image(), nullptr, p, rs);),
        RUN_CASE("run8: softness 255", cblob_err_badSoftness, false,
                 cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 0, 255, 255, 0);
                 return cblob_run8(in.img8.image(), nullptr, p, rs);),
        RUN_CASE("run8: whole image with pruning", cblob_err_connectivityConflict, false,
                 p->connectivityType = cblob_connectivityWholeImage;
                 p->connectivityCleanup = cblob_connectivityCleanupPrune;
                 return cblob_run8(in.img8.image(), nullptr, p, rs);),
        RUN_CASE("run8: kept mask without a mask runs", kRuns, true,
                 p->keepMaskImage = 1; return cblob_run8(in.img8.image(), nullptr, p, rs);),
        RUN_CASE("run8: scale value 0", cblob_err_badScaleVal, true,
                 const uint8_t map[2] = {0, 1}; cblob_runParams_setSegmentationMap(p, 1, map, 2); p->scaleVal = 0;
                 return cblob_run8(in.img8.image(), nullptr, p, rs);),
        RUN_CASE("run16: threshold 300 passes", kRuns, true,
                 hard(p, 300); return cblob_run16(in.img16.image(), in.mask.image(), p, rs);),
        RUN_CASE("run16: threshold 65536", cblob_err_badThreshRange, true,
                 hard(p, 65536); return cblob_run16(in.img16.image(), nullptr, p, rs);),
        RUN_CASE("run16: unbound image", cblob_err_imageUnbound, false,
                 return cblob_run16(&in.unbound, nullptr, p, rs);),
        RUN_CASE("run16: unbound mask", cblob_err_maskUnbound, false,
                 return cblob_run16(in.img16.image(), &in.unbound, p, rs);),
        RUN_CASE("run16: segmentation none", cblob_err_noneNeeds8Bit, true,
                 cblob_runParams_setSegmentationNone(p, 1); return cblob_run16(in.img16.image(), nullptr, p, rs);),
        // No conflict check in run16 itself: the whole-image scan refuses it,
        // after the result set was cleared.
        RUN_CASE("run16: whole image with pruning is refused by the scan", cblob_err_connectivityConflict, true,
                 p->connectivityType = cblob_connectivityWholeImage;
                 p->connectivityCleanup = cblob_connectivityCleanupPrune;
                 return cblob_run16(in.img16.image(), nullptr, p, rs);),
        RUN_CASE("runWindow8: window without pixels", cblob_err_imageUnbound, false,
                 cimg_windowConst w = in.window8; w.pels = nullptr;
                 return cblob_runWindow8(&w, nullptr, nullptr, p, rs);),
        RUN_CASE("runWindow8: mask window elsewhere", cblob_err_maskGeometryMismatch, false,
                 return cblob_runWindow8(&in.window8, nullptr, &in.maskWindowElsewhere, p, rs);),
        RUN_CASE("runWindow8: mask window without pixels", cblob_err_maskUnbound, true,
                 cimg_windowConst m = in.maskWindow; m.pels = nullptr;
                 return cblob_runWindow8(&in.window8, nullptr, &m, p, rs);),
        RUN_CASE("runWindow8: passes", kRuns, true,
                 return cblob_runWindow8(&in.window8, nullptr, &in.maskWindow, p, rs);),
        RUN_CASE("runWindow16: 16-bit mask window", cimg_err_badDepth, true,
                 return cblob_runWindow16(&in.window16, nullptr, &in.window16, p, rs);),
        RUN_CASE("run8_withRleMask: soft 0..255 softness 10", cblob_err_badThreshRange, false,
                 cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 0, 255, 10, 0);
                 return cblob_run8_withRleMask(in.img8.image(), &in.rleMask.h, p, rs);),
        RUN_CASE("run8_withRleMask: soft 0..254 passes", kRuns, true,
                 cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 0, 254, 10, 0);
                 return cblob_run8_withRleMask(in.img8.image(), &in.rleMask.h, p, rs);),
        RUN_CASE("run8_withRleMask: unbound image", cblob_err_imageUnbound, false,
                 return cblob_run8_withRleMask(&in.unbound, &in.rleMask.h, p, rs);),
        RUN_CASE("run8_withRleMask: null mask handle", cblob_err_nullRleImage, false,
                 return cblob_run8_withRleMask(in.img8.image(), &in.nullHandle.h, p, rs);),
        RUN_CASE("run8_withRleMask: mask without rows", cblob_err_rleImageNoRows, false,
                 return cblob_run8_withRleMask(in.img8.image(), &in.noRows.h, p, rs);),
        RUN_CASE("run16_withRleMask: mask elsewhere", cblob_err_maskGeometryMismatch, false,
                 return cblob_run16_withRleMask(in.img16.image(), &in.rleMaskElsewhere.h, p, rs);),
        RUN_CASE("run8_withTORVRleMask: rectangle elsewhere without a mask", cblob_err_maskGeometryMismatch, false,
                 return cblob_run8_withTORVRleMask(in.img8.image(), nullptr, &in.torvElsewhere, p, rs);),
        RUN_CASE("run8_withTORVRleMask: hard threshold 300", cblob_err_badThreshRange, false,
                 hard(p, 300);
                 return cblob_run8_withTORVRleMask(in.img8.image(), in.torv.rows.data(), &in.torv.rect, p, rs);),
        RUN_CASE("run8_withTORVRleMask: passes", kRuns, true,
                 return cblob_run8_withTORVRleMask(in.img8.image(), in.torv.rows.data(), &in.torv.rect, p, rs);),
        RUN_CASE("run16_withTORVRleMask: kept image passes", kRuns, true,
                 p->keepThresholdedImage = 1;
                 return cblob_run16_withTORVRleMask(in.img16.image(), in.torv.rows.data(), &in.torv.rect, p, rs);),
        RUN_CASE("runRle8_withRleMask: null input", cblob_err_nullRleImage, false,
                 return cblob_runRle8_withRleMask(&in.nullHandle.h, nullptr, p, rs);),
        RUN_CASE("runRle8_withRleMask: input without rows", cblob_err_rleImageNoRows, false,
                 return cblob_runRle8_withRleMask(&in.noRows.h, nullptr, p, rs);),
        RUN_CASE("runRle8_withRleMask: mask elsewhere", cblob_err_maskGeometryMismatch, false,
                 return cblob_runRle8_withRleMask(&in.rleInput.h, &in.rleMaskElsewhere.h, p, rs);),
        RUN_CASE("runRle8_withRleMask: hard threshold with a mask passes", kRuns, true,
                 hard(p, 1); return cblob_runRle8_withRleMask(&in.rleInput.h, &in.rleMask.h, p, rs);),
        RUN_CASE("runRle8_withMask8: hard threshold with a mask elsewhere", cblob_err_maskGeometryMismatch, true,
                 hard(p, 1); return cblob_runRle8_withMask8(&in.rleInput.h, in.maskElsewhere.image(), p, rs);),
        RUN_CASE("runRle8_withMask8: hard threshold with a mask passes", kRuns, true,
                 hard(p, 1); return cblob_runRle8_withMask8(&in.rleInput.h, in.mask.image(), p, rs);),
        RUN_CASE("runRle8_withTORVRleMask: none with a TORV mask", cblob_err_torvMaskWithRleInput, true,
                 cblob_runParams_setSegmentationNone(p, 1);
                 return cblob_runRle8_withTORVRleMask(&in.rleInput.h, in.torv.rows.data(), &in.torv.rect, p, rs);),
        RUN_CASE("runRle8_withTORVRleMask: none without a mask passes", kRuns, true,
                 cblob_runParams_setSegmentationNone(p, 1);
                 return cblob_runRle8_withTORVRleMask(&in.rleInput.h, nullptr, &in.torv.rect, p, rs);),
        RUN_CASE("runRle8_withTORVRleMask: rectangle elsewhere", cblob_err_maskGeometryMismatch, false,
                 cblob_runParams_setSegmentationNone(p, 1);
                 return cblob_runRle8_withTORVRleMask(&in.rleInput.h, in.torv.rows.data(), &in.torvElsewhere, p, rs);),
        RUN_CASE("runRle8_withTORVRleMask: hard threshold with a TORV mask passes", kRuns, true,
                 hard(p, 1);
                 return cblob_runRle8_withTORVRleMask(&in.rleInput.h, in.torv.rows.data(), &in.torv.rect, p, rs);),
    };
}
// clang-format on

// Each check returns its status in the documented order; checks before the
// clearing leave the result set untouched (its exclusion setting survives),
// later failures leave it cleared.
TEST(RunEntry, ChecksInOrder) {
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        const int64_t live = csys_memory_getLiveBlockCount();
        {
            Inputs in;
            Params params;
            Results results;
            const double angle = 0.25;
            ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&results.rs, cblob_excludePercent, 10.0, &angle), 0);
            const int32_t status = c.run(in, &params.p, &results.rs);
            EXPECT_EQ(status, c.expected == kRuns ? 0 : c.expected)
                << cblob_statusName(status) << " instead of " << cblob_statusName(c.expected);
            int32_t mode = -1;
            double value = 0, gotAngle = 0;
            ASSERT_EQ(cblob_resultSet_getExcludeExtrema(&results.rs, &mode, &value, &gotAngle), 0);
            EXPECT_EQ(mode, c.clears ? cblob_excludeAmount : cblob_excludePercent);
            if (status != 0) {
                EXPECT_EQ(results.rs.numBlobs, 0);
            }
        }
        EXPECT_EQ(csys_memory_getLiveBlockCount(), live) << "the run left memory behind";
    }
}

// Every input form: each entry point without a mask and with one of its
// kind, all of the input's geometry.
struct Form {
    std::string name;
    bool masked;
    int32_t (*run)(Inputs &, cblob_runParams *, cblob_resultSet *);
};

#define FORM(name, masked, ...) \
    Form { name, masked, [](Inputs &in, cblob_runParams *p, cblob_resultSet *rs) -> int32_t { return __VA_ARGS__; } }

// clang-format off
const std::vector<Form> &forms() {
    static const std::vector<Form> all = {
        FORM("run8", false, cblob_run8(in.img8.image(), nullptr, p, rs)),
        FORM("run8 + mask", true, cblob_run8(in.img8.image(), in.mask.image(), p, rs)),
        FORM("run16", false, cblob_run16(in.img16.image(), nullptr, p, rs)),
        FORM("run16 + mask", true, cblob_run16(in.img16.image(), in.mask.image(), p, rs)),
        FORM("runWindow8", false, cblob_runWindow8(&in.window8, nullptr, nullptr, p, rs)),
        FORM("runWindow8 + mask", true, cblob_runWindow8(&in.window8, nullptr, &in.maskWindow, p, rs)),
        FORM("runWindow16", false, cblob_runWindow16(&in.window16, nullptr, nullptr, p, rs)),
        FORM("runWindow16 + mask", true, cblob_runWindow16(&in.window16, nullptr, &in.maskWindow, p, rs)),
        FORM("run8_withRleMask", false, cblob_run8_withRleMask(in.img8.image(), nullptr, p, rs)),
        FORM("run8_withRleMask + mask", true, cblob_run8_withRleMask(in.img8.image(), &in.rleMask.h, p, rs)),
        FORM("run16_withRleMask", false, cblob_run16_withRleMask(in.img16.image(), nullptr, p, rs)),
        FORM("run16_withRleMask + mask", true, cblob_run16_withRleMask(in.img16.image(), &in.rleMask.h, p, rs)),
        FORM("run8_withTORVRleMask", false,
             cblob_run8_withTORVRleMask(in.img8.image(), nullptr, &in.torv.rect, p, rs)),
        FORM("run8_withTORVRleMask + mask", true,
             cblob_run8_withTORVRleMask(in.img8.image(), in.torv.rows.data(), &in.torv.rect, p, rs)),
        FORM("run16_withTORVRleMask", false,
             cblob_run16_withTORVRleMask(in.img16.image(), nullptr, &in.torv.rect, p, rs)),
        FORM("run16_withTORVRleMask + mask", true,
             cblob_run16_withTORVRleMask(in.img16.image(), in.torv.rows.data(), &in.torv.rect, p, rs)),
        FORM("runRle8_withRleMask", false, cblob_runRle8_withRleMask(&in.rleInput.h, nullptr, p, rs)),
        FORM("runRle8_withRleMask + mask", true, cblob_runRle8_withRleMask(&in.rleInput.h, &in.rleMask.h, p, rs)),
        FORM("runRle8_withMask8", false, cblob_runRle8_withMask8(&in.rleInput.h, nullptr, p, rs)),
        FORM("runRle8_withMask8 + mask", true, cblob_runRle8_withMask8(&in.rleInput.h, in.mask.image(), p, rs)),
        FORM("runRle8_withTORVRleMask", false,
             cblob_runRle8_withTORVRleMask(&in.rleInput.h, nullptr, &in.torv.rect, p, rs)),
        FORM("runRle8_withTORVRleMask + mask", true,
             cblob_runRle8_withTORVRleMask(&in.rleInput.h, in.torv.rows.data(), &in.torv.rect, p, rs)),
    };
    return all;
}
// clang-format on

// What a run asks for, on top of a hard threshold at 100.
struct Request {
    const char *name;
    void (*set)(cblob_runParams *);
};

const Request kRequests[] = {
    {"hard threshold", [](cblob_runParams *) {}},
    {"segmentation none", [](cblob_runParams *p) { cblob_runParams_setSegmentationNone(p, 1); }},
    {"kept thresholded images",
     [](cblob_runParams *p) { p->keepThresholdedImage = p->keepMaskedAndThresholdedImage = 1; }},
    {"keepMorphedThresholdedImage", [](cblob_runParams *p) { p->keepMorphedThresholdedImage = 1; }},
    {"keepMaskImage", [](cblob_runParams *p) { p->keepMaskImage = 1; }},
    {"keepBlobImages", [](cblob_runParams *p) { p->keepBlobImages = 1; }},
    {"morphology", [](cblob_runParams *p) {
         const cblob_morphOp op = 1;
         cstd_vector_cblob_morphOp_pushBack(&p->morphOps, &op);
     }},
    {"connectivityType 1", [](cblob_runParams *p) { p->connectivityType = cblob_connectivityLabelled; }},
    {"connectivityType 2", [](cblob_runParams *p) { p->connectivityType = cblob_connectivityWholeImage; }},
};

// Every request through every input form runs, or meets a refusal that is
// not a missing feature (segmentation none on 16 bits, a TORV mask where
// the one-pass path or a run-length input cannot take one), and leaves
// nothing behind.
TEST(RunEntry, EveryRequestThroughEveryForm) {
    for (const Form &form : forms()) {
        for (const Request &request : kRequests) {
            SCOPED_TRACE(form.name + ", " + request.name);
            const int64_t live = csys_memory_getLiveBlockCount();
            {
                Inputs in;
                Params params;
                Results results;
                ASSERT_EQ(hard(&params.p, 100), 0);
                request.set(&params.p);
                const int32_t status = form.run(in, &params.p, &results.rs);
                EXPECT_TRUE(status == 0 || status == cblob_err_noneNeeds8Bit || status == cblob_err_torvMask16Bit ||
                            status == cblob_err_torvMaskWithRleInput)
                    << cblob_statusName(status);
            }
            EXPECT_EQ(csys_memory_getLiveBlockCount(), live) << "the run left memory behind";
        }
    }
}

// The soft threshold without levels runs on a private copy: the caller's
// object keeps its soft segmentation.
TEST(RunEntry, SoftWithoutLevelsLeavesCallerParams) {
    Inputs in;
    Params params;
    Results results;
    ASSERT_EQ(cblob_runParams_setSegmentationSoftThreshWithSoftness(&params.p, 40, 90, 0, 1), 0);
    ASSERT_EQ(cblob_run8(in.img8.image(), nullptr, &params.p, &results.rs), 0);
    EXPECT_EQ(params.p.segmentationType, cblob_segmentationSoftThresh);
    EXPECT_EQ(params.p.thresh, 40);
    EXPECT_EQ(params.p.scaleVal, 1);
    EXPECT_EQ(results.rs.postProcessing->weightScale, 1.0);
}

// Every allocation of the entry points' own work (transforms, rendering,
// local run parameters) fails in turn: a run-length input rendered through
// its mask and labelled on the front end's copy of the run parameters.
TEST(RunEntry, LabelledRunOfRunLengthInputLeaksNothing) {
    Inputs in;
    int32_t blobs = -1;
    const std::function<int32_t()> labelled = [&]() -> int32_t {
        cblob_runParams p;
        int32_t status = cblob_runParams_construct(&p);
        if (CBLOB_FAILED(status)) return status;
        cblob_resultSet rs;
        status = cblob_resultSet_construct(&rs);
        if (!CBLOB_FAILED(status)) {
            // Rendered from the run-length input through the mask, then labelled.
            cblob_runParams_setSegmentationSoftThreshWithSoftness(&p, 0, 1, 0, 0);
            p.connectivityType = cblob_connectivityLabelled;
            status = cblob_runRle8_withMask8(&in.rleInput.h, in.mask.image(), &p, &rs);
            if (!CBLOB_FAILED(status)) blobs = rs.numBlobs;
            cblob_resultSet_destruct(&rs);
        }
        cblob_runParams_destruct(&p);
        return status;
    };
    ASSERT_EQ(labelled(), 0);
    EXPECT_GT(blobs, 0);
    cblobtest::expectCleanUnderAllocationFailures(labelled);
}

}  // namespace
