// Internals of the measure dispatcher shared by its files: the cache slots
// and valid bits, the exclusion amount, the group computations and the
// interior test.
#ifndef CBLOB_RESULTS_MEASURE_INTERNAL_HPP
#define CBLOB_RESULTS_MEASURE_INTERNAL_HPP

#include <cstdint>

#include "cblob/result_set.h"
#include "results/measure_table.hpp"

namespace cblob::results {

// The cached codes of a group, in the order a computation stores them (the
// keys first), and their number.
const int32_t *groupCodes(MeasureGroup group, int32_t *count);

// The angle in use for a read: *angle when given, else the default angle.
double angleInUse(const cblob_resultSetPostProcessing_ *pp, const double *angle);

// ---------------------------------------------------------------- cache

// Gives every code of the group that has no slot yet a new slot: one array
// of numBlobs float64 each, appended to the measure data (room for all of
// them reserved first). A failure leaves the slots made so far, valid bits
// untouched.
int32_t ensureGroupSlots(cblob_resultSet *rs, MeasureGroup group);

// True when `code` has a slot and the blob's valid bit of it is set;
// *value then holds the cached value.
bool cachedValue(const cblob_resultSet *rs, const cblob_blob *blob, int32_t code, double *value);

// Writes value into the code's slot for the blob and sets its valid bit.
// The slot must exist (ensureGroupSlots; else assert).
int32_t storeValue(cblob_resultSet *rs, const cblob_blob *blob, int32_t code, double value);

// True when the blob's cached keys of the group (angle and amount for the
// angle group, amount for the principal group) equal the given ones
// exactly; true for groups without keys.
bool keysApply(const cblob_resultSet *rs, const cblob_blob *blob, MeasureGroup group, double angle, double amount);

// True when every code of the group is cached for the blob and the keys
// apply.
bool groupCached(const cblob_resultSet *rs, const cblob_blob *blob, MeasureGroup group, double angle,
                 double amount);

// ------------------------------------------------------------ exclusion

// *amount = the exclusion amount for the blob (0 when useExclusion is 0),
// in the units of its run weights.
int32_t exclusionAmount(const cblob_blob *blob, int32_t useExclusion, double *amount);

// ---------------------------------------------------------- computations

// Computes the blob's group (the angle group at `angle`) and stores every
// value of it with its keys. Nothing is stored when the computation fails.
int32_t computeGroup(cblob_blob *blob, MeasureGroup group, double angle, int32_t useExclusion);

// *isInterior = 1 when the blob touches neither the run window's edge nor
// the edge of the run's mask, else 0.
int32_t interiorTest(cblob_blob *blob, int32_t *isInterior);

// A derived measure (class D) of code 14, 28, 29, 31, 33, 36, 39, 40, 42,
// 44 or 47 (else assert), from the other measures at the same angle.
int32_t derivedMeasure(cblob_blob *blob, int32_t code, int32_t useExclusion, const double *angle, double *value);

// The dispatcher itself: code 1 .. 50 at the angle in use.
int32_t dispatchMeasure(cblob_blob *blob, int32_t code, int32_t useExclusion, const double *angle, double *value);

}  // namespace cblob::results

#endif
