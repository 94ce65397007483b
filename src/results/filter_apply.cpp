// Filters of a result set's view: adding filters and narrowing the view by
// them, and reading the stored ones.
#include <cstdint>

#include "cblob/measure.h"
#include "core/frame.hpp"
#include "results/filter_sort_internal.hpp"
#include "results/measure_internal.hpp"
#include "results/result_set_internal.hpp"
#include "results/view_snapshot.hpp"

namespace cblob::results {

namespace {

bool keeps(const cblob_filter &filter, double v) {
    if (filter.excludeRange == 0) return filter.low <= v && v <= filter.high;
    return v < filter.low || v > filter.high;
}

// True when an earlier filter of the list has the same measure: filter i
// then belongs to that filter's group.
bool groupSeenBefore(const cblob_filter *filters, int32_t i) {
    for (int32_t j = 0; j < i; ++j) {
        if (filters[j].measure == filters[i].measure) return true;
    }
    return false;
}

// Takes a blob out of the current link set: its current siblings are
// joined, its parent's current first or last child moves past it and the
// parent's current child count drops; the head of the top-level chain moves
// on when it was the blob. The blob's own links stay as they were.
int32_t unlinkCurrent(cblob_resultSet *rs, cblob_blob *b) {
    cblob_blob *prev = b->curPrevSibling;
    cblob_blob *next = b->curNextSibling;
    if (prev) prev->curNextSibling = next;
    if (next) next->curPrevSibling = prev;
    if (cblob_blob *parent = b->parent) {
        if (parent->curFirstChild == b) parent->curFirstChild = next;
        if (parent->curLastChild == b) parent->curLastChild = prev;
        CBLOB_REQUIRE_ARG(parent->curNumChildren > 0);
        --parent->curNumChildren;
    } else if (rs->viewFirstTopLevelBlob == b) {
        rs->viewFirstTopLevelBlob = next;
    }
    return 0;
}

// Narrows the view to the blobs that at least one filter of the group
// [first .. count) with first's measure keeps; the view keeps its order.
int32_t applyGroup(cblob_resultSet *rs, const cblob_filter *filters, int32_t first, int32_t count) {
    Frame<0> f;
    const int32_t measure = filters[first].measure;
    int32_t kept = 0;
    for (int32_t i = 0; i < rs->numViewBlobs; ++i) {
        cblob_blob *b = rs->view[i];
        double v = 0.0;
        CBLOB_FRAME_TRY(f, viewKey(b, measure, &v));
        bool pass = false;
        for (int32_t j = first; j < count && !pass; ++j) pass = filters[j].measure == measure && keeps(filters[j], v);
        if (pass) {
            rs->view[kept++] = b;
        } else {
            CBLOB_FRAME_TRY(f, unlinkCurrent(rs, b));
        }
    }
    rs->numViewBlobs = kept;
    return f.exit();
}

}  // namespace

bool isValidFilter(const cblob_filter &filter) {
    return filter.measure >= 1 && filter.measure <= cblob_measurePrincipalBoxAspect && filter.low <= filter.high;
}

int32_t viewKey(cblob_blob *blob, int32_t measure, double *value) {
    const cblob_resultSetPostProcessing_ *pp = blob->owner->postProcessing;
    return dispatchMeasure(blob, measure, pp->excludeMode != 0 ? 1 : 0, nullptr, value);
}

int32_t applyFilters(cblob_resultSet *rs, const cblob_filter *filters, int32_t count) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, count >= 0 && (count == 0 || filters));
    if (count == 0) return f.exit();
    cstd_vector_cblob_filter *stored = &rs->postProcessing->filters;
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_filter_insert(stored, stored->untyped.size, filters, count));
    // Groups in the order of their measure's first appearance; the next view
    // of one group is the input of the next.
    for (int32_t i = 0; i < count; ++i) {
        if (!groupSeenBefore(filters, i)) CBLOB_FRAME_TRY(f, applyGroup(rs, filters, i, count));
    }
    return f.exit();
}

}  // namespace cblob::results

extern "C" {

int32_t cblob_resultSet_setAndApplyFilters(cblob_resultSet *rs, const cstd_vector_cblob_filter *filters) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, filters);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    const auto *list = static_cast<const cblob_filter *>(filters->untyped.begin);
    const int64_t count = filters->untyped.size;
    CBLOB_FRAME_CHECK(f, count <= INT32_MAX, csys_err_badSize);
    for (int64_t i = 0; i < count; ++i) CBLOB_FRAME_CHECK(f, cblob::results::isValidFilter(list[i]), cblob_err_badMeasure);
    if (count == 0) return f.exit();
    CBLOB_FRAME_TRY(f, cblob::results::withViewRollback(rs, [&](cblob_resultSet *r) {
        return cblob::results::applyFilters(r, list, static_cast<int32_t>(count));
    }));
    return f.exit();
}

int32_t cblob_resultSet_addAndApplyFilter(cblob_resultSet *rs, cblob_filter filter) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    CBLOB_FRAME_CHECK(f, cblob::results::isValidFilter(filter), cblob_err_badMeasure);
    CBLOB_FRAME_TRY(f, cblob::results::withViewRollback(
                           rs, [&](cblob_resultSet *r) { return cblob::results::applyFilters(r, &filter, 1); }));
    return f.exit();
}

int32_t cblob_resultSet_getNumFilters(const cblob_resultSet *rs, int32_t *count) {
    CBLOB_REQUIRE_ARG(rs && count && rs->postProcessing);
    *count = static_cast<int32_t>(rs->postProcessing->filters.untyped.size);
    return 0;
}

int32_t cblob_resultSet_getFilters(const cblob_resultSet *rs, const cblob_filter **filters) {
    CBLOB_REQUIRE_ARG(rs && filters && rs->postProcessing);
    *filters = static_cast<const cblob_filter *>(rs->postProcessing->filters.untyped.begin);
    return 0;
}

}  // extern "C"
