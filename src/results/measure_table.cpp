// The initial measure table of a result set's post-processing record.
#include "results/measure_table.hpp"

#include <cstdint>

#include "core/require.hpp"

namespace cblob::results {
namespace {

constexpr int32_t kRecordCodes[] = {1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 17, 18, 19, 20, 21, 22, 23, 24, 25};
constexpr int32_t kDerivedCodes[] = {14, 28, 29, 31, 33, 36, 39, 40, 42, 44, 47};

}  // namespace

int32_t initMeasureTable(int32_t table[CBLOB_MEASURE_TABLE_SIZE]) {
    CBLOB_REQUIRE_ARG(table);
    table[0] = kMeasureNone;
    for (int32_t code = 1; code < CBLOB_MEASURE_TABLE_SIZE; ++code) table[code] = kMeasureCachedNoSlot;
    for (int32_t code : kRecordCodes) table[code] = kMeasureFromRecord;
    for (int32_t code : kDerivedCodes) table[code] = kMeasureDerived;
    return 0;
}

}  // namespace cblob::results
