// The host may change the optimisation-inhibit hook and the attention
// callback from another thread while runs go on in bands on worker threads.
// Each run must then still give the right blobs, a poll of the attention
// check must see one whole (callback, data) pair, and all bands of one run
// ask the hook the run found when it started.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "cblob/cblob.h"
#include "support/inhibit_environment.hpp"
#include "support/run_support.hpp"
#include "support/segmentation_support.hpp"

namespace {

using runtest::GreyImage;
using runtest::Params;
using runtest::Results;

// Blobs of a run as comparable numbers.
std::vector<double> blobsOf(const cblob_resultSet &rs) {
    std::vector<double> out;
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        out.insert(out.end(), {double(b->colour), double(b->boxLeft), double(b->boxTop), double(b->boxWidth),
                               double(b->boxHeight), b->area, b->parent ? double(b->parent->label) : 0.0});
    }
    return out;
}

// Large enough for several segmentation bands on two threads.
struct Scene {
    std::mt19937 rng{2201};
    GreyImage image{320, 240, 8, runtest::randomValues(rng, 320, 240, 8, 0.45, 3)};
    int32_t run(std::vector<double> *blobs) {
        Params p;
        // Keeping the segmented image makes the run segment in bands (no
        // single pass).
        p.p.keepThresholdedImage = 1;
        EXPECT_EQ(cblob_runParams_setSegmentationHardThresh(&p.p, 128, 0), 0);
        Results r;
        const int32_t status = cblob_run8(image.image(), nullptr, &p.p, &r.rs);
        if (status == 0) *blobs = blobsOf(r.rs);
        return status;
    }
};

int32_t inhibitAll(const char *) { return 1; }
int32_t inhibitNone(const char *) { return 0; }

// Two callbacks, each with its own data: a poll that paired one's function
// with the other's data would show.
struct Tag {
    int id;
    std::atomic<int> *mismatches;
};
int32_t callbackA(void *data) {
    if (static_cast<Tag *>(data)->id != 1) ++*static_cast<Tag *>(data)->mismatches;
    return 0;
}
int32_t callbackB(void *data) {
    if (static_cast<Tag *>(data)->id != 2) ++*static_cast<Tag *>(data)->mismatches;
    return 0;
}

// The host thread flips the inhibit hook and the attention callback (with
// its data) while banded runs go on: every run gives the blobs of a quiet
// run, and no poll sees one callback with the other's data.
TEST(HostHooksRace, HooksChangedDuringBandedRunsKeepResults) {
    const segtest::ThreadCount threads(2);
    Scene scene;
    std::vector<double> reference;
    ASSERT_EQ(scene.run(&reference), 0);
    ASSERT_FALSE(reference.empty());
    const cprt_optimizationInhibitedFn before = __atomic_load_n(&cprt_isOptimizationInhibitedFP, __ATOMIC_ACQUIRE);
    std::atomic<int> mismatches{0};
    Tag a{1, &mismatches}, b{2, &mismatches};
    std::atomic<bool> stop{false};
    std::thread host([&] {
        const cprt_optimizationInhibitedFn hooks[] = {&inhibitAll, &inhibitNone, nullptr};
        for (int i = 0; !stop.load(); ++i) {
            __atomic_store_n(&cprt_isOptimizationInhibitedFP, hooks[i % 3], __ATOMIC_RELEASE);
            if (i % 3 == 2) csys_attention_setCallback(nullptr, nullptr);
            else if (i % 3 == 1) csys_attention_setCallback(&callbackB, &b);
            else csys_attention_setCallback(&callbackA, &a);
        }
    });
    for (int i = 0; i < 30; ++i) {
        std::vector<double> blobs;
        ASSERT_EQ(scene.run(&blobs), 0);
        EXPECT_EQ(blobs, reference) << "run " << i;
    }
    stop = true;
    host.join();
    __atomic_store_n(&cprt_isOptimizationInhibitedFP, before, __ATOMIC_RELEASE);
    csys_attention_setCallback(nullptr, nullptr);
    EXPECT_EQ(mismatches.load(), 0);
}

// A hook that, when first asked, installs another one: every band of that
// run still asks the first.
std::atomic<int> g_firstAsked{0}, g_secondAsked{0};
int32_t secondHook(const char *) {
    ++g_secondAsked;
    return 0;
}
int32_t firstHook(const char *) {
    if (g_firstAsked++ == 0) __atomic_store_n(&cprt_isOptimizationInhibitedFP, &secondHook, __ATOMIC_RELEASE);
    return 0;
}

TEST(HostHooksRace, BandsOfOneRunAskTheHookTheRunFound) {
    const segtest::ThreadCount threads(2);
    Scene scene;
    g_firstAsked = 0;
    g_secondAsked = 0;
    const cblobtest::ScopedInhibitHook hook(&firstHook);
    std::vector<double> blobs;
    ASSERT_EQ(scene.run(&blobs), 0);
    EXPECT_GE(g_firstAsked.load(), 2);  // the segmentation bands
    EXPECT_EQ(g_secondAsked.load(), 0);
    // The next run finds the second hook.
    ASSERT_EQ(scene.run(&blobs), 0);
    EXPECT_GE(g_secondAsked.load(), 2);
}

}  // namespace
