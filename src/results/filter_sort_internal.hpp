// The steps of the filters and the sort, shared by their files. Each step
// may leave the view half changed when it fails; the public functions run
// them under a view snapshot (view_snapshot.hpp), which puts everything
// back.
#ifndef CBLOB_RESULTS_FILTER_SORT_INTERNAL_HPP
#define CBLOB_RESULTS_FILTER_SORT_INTERNAL_HPP

#include <cstdint>

#include "cblob/result_set.h"

namespace cblob::results {

// True for a filter the result set accepts: a public measure code 1 .. 47
// and low <= high (neither of them NaN).
bool isValidFilter(const cblob_filter &filter);

// The value of `measure` for a blob as filters and the sort read it: with
// extrema exclusion when the stored exclusion mode is non-zero, at the
// default angle.
int32_t viewKey(cblob_blob *blob, int32_t measure, double *value);

// Appends the `count` filters (already checked) to the stored list and
// narrows the view by them: OR among the filters of one measure, AND across
// measures. Blobs that drop out leave the current link set.
int32_t applyFilters(cblob_resultSet *rs, const cblob_filter *filters, int32_t count);

// The sort: checks direction and measure, orders the view, the current
// child lists of its blobs and the top-level chain by the measure, and
// stores measure and direction. Measure 0 disables the sort.
int32_t sortSteps(cblob_resultSet *rs, int32_t measure, int32_t direction);

// Removes the sort: the view goes back to run order with the stored filters
// applied again. Nothing happens without a sort.
int32_t disableSortSteps(cblob_resultSet *rs);

// Rebuilds the view with the stored filters whose measure is not `measure`
// (0: keeps none) and sorts it again by the stored sort.
int32_t refilterSteps(cblob_resultSet *rs, int32_t dropMeasure, bool dropAll);

}  // namespace cblob::results

#endif
