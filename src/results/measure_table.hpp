// The measure table of a result set: for each measure code 0 .. 50 either a
// cache slot (0 and up) or a negative mark of how the value is obtained; and
// the one table of codes that says, for every code, its class, the group a
// cached code belongs to and how a record measure is read.
#ifndef CBLOB_RESULTS_MEASURE_TABLE_HPP
#define CBLOB_RESULTS_MEASURE_TABLE_HPP

#include <cstdint>

#include "cblob/blob.h"

namespace cblob::results {

constexpr int32_t kMeasureCachedNoSlot = -1;  // computed and cached; no slot given yet
constexpr int32_t kMeasureDerived = -2;       // derived from other measures each time
constexpr int32_t kMeasureFromRecord = -3;    // read from the blob record each time
constexpr int32_t kMeasureNone = 0;           // code 0: no measure (its table entry is unused)

// The internal cache keys: the angle of the cached angle-box group, and the
// exclusion amounts of the angle and principal groups.
constexpr int32_t kMeasureAngleKey = 48;
constexpr int32_t kMeasureAngleExclusionKey = 49;
constexpr int32_t kMeasurePrincipalExclusionKey = 50;

// The cached group a measure code belongs to.
enum class MeasureGroup : int32_t { none, boundary, angle, principal, interior };

// One code of the table.
struct MeasureEntry {
    int32_t code;
    int32_t mark;                        // initial table value: one of the three marks above
    MeasureGroup group;                  // cached codes: their group; else none
    double (*read)(const cblob_blob &);  // record measures: the field; else null
    bool needsMoments;                   // record measures that exist only with second moments
};

// The entry of a code 1 .. 50, or null for any other code.
const MeasureEntry *measureEntry(int32_t code);

// Fills the table with its initial marks: record measures 1, 2, 5-13,
// 17-25; derived 14, 28, 29, 31, 33, 36, 39, 40, 42, 44, 47; every other
// code from 3 to 50 cached without a slot; code 0 unused (0).
int32_t initMeasureTable(int32_t table[CBLOB_MEASURE_TABLE_SIZE]);

}  // namespace cblob::results

#endif
