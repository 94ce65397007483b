// The hard-threshold row kernel variants as test parameters: a readable
// test-name suffix for each, and forcing one for a test, with the reason a
// machine cannot run it so that the test reports itself skipped instead of
// passing without having run.
#ifndef CBLOB_TESTS_ROW_VARIANTS_HPP
#define CBLOB_TESTS_ROW_VARIANTS_HPP

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cblob/status.h"
#include "segment/row_kernels.hpp"

namespace varianttest {

namespace row = cblob::row;

constexpr row::HardRowVariant kOptimisedVariants[] = {row::HardRowVariant::sse2, row::HardRowVariant::avx2,
                                                      row::HardRowVariant::avx512};

inline std::string variantName(row::HardRowVariant variant) {
    const char *name = "?";
    row::getHardRowVariantName(variant, &name);
    return name;
}

// For INSTANTIATE_TEST_SUITE_P over variants.
inline std::string paramName(const ::testing::TestParamInfo<row::HardRowVariant> &param) {
    return variantName(param.param);
}

// What this machine lacks to run `variant`.
inline std::string lackingFor(row::HardRowVariant variant) {
    if (!CBLOB_ROW_KERNELS_X86) return "this build has no x86-64 kernels";
    switch (variant) {
        case row::HardRowVariant::avx2:
            return "CPU lacks AVX2 (with BMI1 and POPCNT)";
        case row::HardRowVariant::avx512:
            return "CPU lacks AVX-512 BW (with BMI1 and POPCNT)";
        default:
            return "CPU lacks " + variantName(variant);
    }
}

// Makes `variant` the active one and returns "", or returns why this build or
// CPU cannot run it (the caller then skips with that reason). A variant that
// is reported missing must also refuse to be forced, and the portable and
// automatic selections, and SSE2 in an x86-64 build, must never be missing.
inline std::string forceOrWhyNot(row::HardRowVariant variant) {
    int32_t available = 0;
    EXPECT_EQ(row::getHardRowVariantAvailable(variant, &available), 0);
    if (!available) {
        EXPECT_EQ(row::forceHardRowVariant(variant), cprt_err_optimizationInhibited);
        const bool alwaysThere = variant == row::HardRowVariant::automatic ||
                                 variant == row::HardRowVariant::portable ||
                                 (CBLOB_ROW_KERNELS_X86 && variant == row::HardRowVariant::sse2);
        EXPECT_FALSE(alwaysThere) << variantName(variant) << " is reported missing";
        return lackingFor(variant);
    }
    EXPECT_EQ(row::forceHardRowVariant(variant), 0);
    row::HardRowVariant active{};
    EXPECT_EQ(row::getHardRowVariant(&active), 0);
    if (variant != row::HardRowVariant::automatic) {
        EXPECT_EQ(active, variant);
    }
    return "";
}

// Restores automatic selection when a test leaves.
struct VariantGuard {
    VariantGuard() = default;
    ~VariantGuard() { row::forceHardRowVariant(row::HardRowVariant::automatic); }
    VariantGuard(const VariantGuard &) = delete;
    VariantGuard &operator=(const VariantGuard &) = delete;
};

}  // namespace varianttest

#endif
