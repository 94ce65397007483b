// The allocation-failure sweep over every public function (rows in
// tests/sweep/), and the check that the rows cover the public headers.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "support/api_sweep.hpp"

namespace {

using cblobtest::sweep::Group;

class ApiSweep : public ::testing::TestWithParam<Group> {};

TEST_P(ApiSweep, EveryCallSurvivesEveryFailingAllocation) {
    for (const auto &row : GetParam().rows()) {
        cblobtest::sweep::sweepRow(row);
        if (HasFailure()) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Groups, ApiSweep, ::testing::ValuesIn(cblobtest::sweep::groups()),
                         [](const ::testing::TestParamInfo<Group> &p) { return p.param.name; });

// A function added to a header without a row, a row for a function that no
// longer exists, or a function covered twice fails here.
TEST(ApiSweepRows, CoverEveryPublicFunctionOnce) {
    std::ifstream in(CBLOB_PUBLIC_API_LIST);
    ASSERT_TRUE(in) << "missing " << CBLOB_PUBLIC_API_LIST;
    std::stringstream text;
    text << in.rdbuf();
    const auto declared = cblobtest::sweep::declaredFunctions(text.str());
    ASSERT_GT(declared.size(), 1000u);
    const std::set<std::string> declaredSet(declared.begin(), declared.end());
    std::map<std::string, int> covered;
    for (const auto &group : cblobtest::sweep::groups())
        for (const auto &row : group.rows())
            for (const auto &f : row.functions) {
                ++covered[f];
                EXPECT_TRUE(declaredSet.count(f)) << group.name << " has a row for " << f << ", which no header declares";
            }
    for (const auto &f : declaredSet) {
        EXPECT_TRUE(covered.count(f)) << f << " has no sweep row";
        EXPECT_LE(covered[f], 1) << f << " is covered by more than one row";
    }
}

}  // namespace
