// The table of measure codes: class, group and record field of each, and
// the initial measure table of a result set's post-processing record drawn
// from it.
#include "results/measure_table.hpp"

#include <cstdint>

#include "core/require.hpp"

namespace cblob::results {
namespace {

using G = MeasureGroup;
constexpr int32_t F = kMeasureFromRecord;
constexpr int32_t C = kMeasureCachedNoSlot;
constexpr int32_t D = kMeasureDerived;

// A record measure: the field expression of blob b.
#define CBLOB_FIELD(expr) [](const cblob_blob &b) -> double { return static_cast<double>(expr); }

constexpr MeasureEntry kEntries[CBLOB_MEASURE_TABLE_SIZE] = {
    {0, kMeasureNone, G::none, nullptr, false},
    {1, F, G::none, CBLOB_FIELD(b.colour), false},
    {2, F, G::none, CBLOB_FIELD(b.area), false},
    {3, C, G::boundary, nullptr, false},
    {4, C, G::boundary, nullptr, false},
    {5, F, G::none, CBLOB_FIELD(b.numChildren), false},
    {6, F, G::none, CBLOB_FIELD(b.centerOfMassX), true},
    {7, F, G::none, CBLOB_FIELD(b.centerOfMassY), true},
    {8, F, G::none, CBLOB_FIELD(b.inertiaX), true},
    {9, F, G::none, CBLOB_FIELD(b.inertiaY), true},
    {10, F, G::none, CBLOB_FIELD(b.inertiaMin), true},
    {11, F, G::none, CBLOB_FIELD(b.inertiaMax), true},
    {12, F, G::none, CBLOB_FIELD(b.elongation), true},
    {13, F, G::none, CBLOB_FIELD(b.angle), true},
    {14, D, G::none, nullptr, false},
    {15, C, G::boundary, nullptr, false},
    {16, C, G::interior, nullptr, false},
    {17, F, G::none, CBLOB_FIELD(b.boxCenterX), false},
    {18, F, G::none, CBLOB_FIELD(b.boxCenterY), false},
    {19, F, G::none, CBLOB_FIELD(b.boxLeft), false},
    {20, F, G::none, CBLOB_FIELD(int64_t{b.boxLeft} + b.boxWidth), false},
    {21, F, G::none, CBLOB_FIELD(b.boxTop), false},
    {22, F, G::none, CBLOB_FIELD(int64_t{b.boxTop} + b.boxHeight), false},
    {23, F, G::none, CBLOB_FIELD(b.boxWidth), false},
    {24, F, G::none, CBLOB_FIELD(b.boxHeight), false},
    {25, F, G::none, CBLOB_FIELD(b.boxAspect), false},
    {26, C, G::angle, nullptr, false},
    {27, C, G::angle, nullptr, false},
    {28, D, G::none, nullptr, false},
    {29, D, G::none, nullptr, false},
    {30, C, G::angle, nullptr, false},
    {31, D, G::none, nullptr, false},
    {32, C, G::angle, nullptr, false},
    {33, D, G::none, nullptr, false},
    {34, C, G::angle, nullptr, false},
    {35, C, G::angle, nullptr, false},
    {36, D, G::none, nullptr, false},
    {37, C, G::principal, nullptr, false},
    {38, C, G::principal, nullptr, false},
    {39, D, G::none, nullptr, false},
    {40, D, G::none, nullptr, false},
    {41, C, G::principal, nullptr, false},
    {42, D, G::none, nullptr, false},
    {43, C, G::principal, nullptr, false},
    {44, D, G::none, nullptr, false},
    {45, C, G::principal, nullptr, false},
    {46, C, G::principal, nullptr, false},
    {47, D, G::none, nullptr, false},
    {48, C, G::angle, nullptr, false},
    {49, C, G::angle, nullptr, false},
    {50, C, G::principal, nullptr, false},
};

#undef CBLOB_FIELD

constexpr bool entriesInCodeOrder() {
    for (int32_t code = 0; code < CBLOB_MEASURE_TABLE_SIZE; ++code) {
        if (kEntries[code].code != code) return false;
    }
    return true;
}
static_assert(entriesInCodeOrder(), "the measure entries must be indexed by their code");

}  // namespace

const MeasureEntry *measureEntry(int32_t code) {
    return code >= 1 && code < CBLOB_MEASURE_TABLE_SIZE ? &kEntries[code] : nullptr;
}

int32_t initMeasureTable(int32_t table[CBLOB_MEASURE_TABLE_SIZE]) {
    CBLOB_REQUIRE_ARG(table);
    for (int32_t code = 0; code < CBLOB_MEASURE_TABLE_SIZE; ++code) table[code] = kEntries[code].mark;
    return 0;
}

}  // namespace cblob::results
