// The suite-wide switch that inhibits every optimised routine
// (CBLOB_TEST_INHIBIT_OPTIMIZATIONS), and a scoped hook for tests that
// install their own: it restores the hook it found, so the switch stays in
// force after the test.
#ifndef CBLOB_TESTS_SUPPORT_INHIBIT_ENVIRONMENT_HPP
#define CBLOB_TESTS_SUPPORT_INHIBIT_ENVIRONMENT_HPP

#include "cblob/sys.h"

namespace cblobtest {

// True when this test program runs with every optimised routine inhibited.
bool optimizationsInhibitedForRun();

class ScopedInhibitHook {
public:
    explicit ScopedInhibitHook(cprt_optimizationInhibitedFn hook) : previous_(cprt_isOptimizationInhibitedFP) {
        cprt_isOptimizationInhibitedFP = hook;
    }
    ~ScopedInhibitHook() { cprt_isOptimizationInhibitedFP = previous_; }
    ScopedInhibitHook(const ScopedInhibitHook &) = delete;
    ScopedInhibitHook &operator=(const ScopedInhibitHook &) = delete;

private:
    cprt_optimizationInhibitedFn previous_;
};

}  // namespace cblobtest

#endif
