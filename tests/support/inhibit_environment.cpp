// With CBLOB_TEST_INHIBIT_OPTIMIZATIONS set (to anything but "" or "0"), the
// test program installs an optimisation-inhibit hook that declines every
// optimised routine before any test runs, so the whole suite exercises the
// portable paths end to end (scripts/test.sh runs it so in the Release
// build). Tests that install a hook of their own put back the one they found
// (support/inhibit_environment.hpp).
#include "support/inhibit_environment.hpp"

#include <cstdlib>
#include <cstring>

namespace cblobtest {

namespace {
int32_t inhibitEverything(const char *) { return 1; }

bool requested() {
    const char *value = std::getenv("CBLOB_TEST_INHIBIT_OPTIMIZATIONS");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

// Installed during static initialisation, before main and every test.
const bool g_installed = [] {
    if (requested()) cprt_isOptimizationInhibitedFP = &inhibitEverything;
    return requested();
}();
}  // namespace

bool optimizationsInhibitedForRun() { return g_installed; }

}  // namespace cblobtest
