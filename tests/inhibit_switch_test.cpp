// The suite-wide switch CBLOB_TEST_INHIBIT_OPTIMIZATIONS: when set, the
// inhibit hook is installed before the tests and declines every optimised
// routine; when not, no hook is installed and the optimised kernels run.
#include <gtest/gtest.h>

#include "cblob/sys.h"
#include "support/inhibit_environment.hpp"

namespace {

TEST(InhibitSwitch, HookMatchesTheSwitch) {
    const cprt_optimizationInhibitedFn hook = cprt_isOptimizationInhibitedFP;
    if (cblobtest::optimizationsInhibitedForRun()) {
        ASSERT_NE(hook, nullptr);
        EXPECT_NE(hook("cblob_findRunLengths8_hardThreshNoMask_row"), 0);
        EXPECT_NE(hook("any routine"), 0);
    } else {
        EXPECT_EQ(hook, nullptr);
    }
}

TEST(InhibitSwitch, ScopedHookRestoresTheSwitch) {
    const cprt_optimizationInhibitedFn before = cprt_isOptimizationInhibitedFP;
    {
        const cblobtest::ScopedInhibitHook other([](const char *) -> int32_t { return 0; });
        EXPECT_NE(cprt_isOptimizationInhibitedFP, before);
    }
    EXPECT_EQ(cprt_isOptimizationInhibitedFP, before);
}

}  // namespace
