// The sort of a result set's view by a measure: the view, the current child
// list of every blob in it and the chain of top-level blobs; removing the
// sort; and removing filters, after which the view is sorted again.
#include <cstdint>
#include <cstring>

#include "cblob/measure.h"
#include "core/frame.hpp"
#include "results/filter_sort_internal.hpp"
#include "results/heapsort.hpp"
#include "results/result_set_internal.hpp"
#include "results/view_snapshot.hpp"

namespace cblob::results {

namespace {

// Scratch of one sort: keys[1..n] and blobs[1..n] for up to the view's
// number of blobs (every list sorted holds view blobs only).
struct SortScratch {
    double *keys;
    cblob_blob **blobs;
    int32_t capacity;
};

// Reads the keys of blobs[1..n] and sorts both arrays.
int32_t sortList(SortScratch &s, int32_t n, int32_t measure, bool ascending) {
    Frame<0> f;
    for (int32_t i = 1; i <= n; ++i) CBLOB_FRAME_TRY(f, viewKey(s.blobs[i], measure, &s.keys[i]));
    heapsortBlobs(s.keys, s.blobs, n, ascending);
    return f.exit();
}

// blobs[1..n] = the current chain that starts at `first`.
int32_t collectChain(SortScratch &s, cblob_blob *first, int32_t *n) {
    int32_t count = 0;
    for (cblob_blob *b = first; b; b = b->curNextSibling) {
        CBLOB_REQUIRE_ARG(count < s.capacity);  // a chain holds view blobs, each once
        s.blobs[++count] = b;
    }
    *n = count;
    return 0;
}

int32_t sortView(cblob_resultSet *rs, SortScratch &s, int32_t measure, bool ascending) {
    Frame<0> f;
    const int32_t n = rs->numViewBlobs;
    std::memcpy(s.blobs + 1, rs->view, static_cast<size_t>(n) * sizeof(cblob_blob *));
    CBLOB_FRAME_TRY(f, sortList(s, n, measure, ascending));
    std::memcpy(rs->view, s.blobs + 1, static_cast<size_t>(n) * sizeof(cblob_blob *));
    return f.exit();
}

// The current children of every view blob with more than one labelled child.
int32_t sortChildLists(cblob_resultSet *rs, SortScratch &s, int32_t measure, bool ascending) {
    Frame<0> f;
    for (int32_t i = 0; i < rs->numViewBlobs; ++i) {
        cblob_blob *parent = rs->view[i];
        if (parent->numChildren <= 1) continue;
        int32_t n = 0;
        CBLOB_FRAME_TRY(f, collectChain(s, parent->curFirstChild, &n));
        if (n < 2) continue;
        CBLOB_FRAME_TRY(f, sortList(s, n, measure, ascending));
        CBLOB_FRAME_TRY(f, setCurrentChildren(parent, s.blobs + 1, n));
    }
    return f.exit();
}

int32_t sortTopLevelChain(cblob_resultSet *rs, SortScratch &s, int32_t measure, bool ascending) {
    Frame<0> f;
    int32_t n = 0;
    CBLOB_FRAME_TRY(f, collectChain(s, rs->viewFirstTopLevelBlob, &n));
    if (n >= 2) {
        CBLOB_FRAME_TRY(f, sortList(s, n, measure, ascending));
        CBLOB_FRAME_TRY(f, relinkCurrentSiblings(s.blobs + 1, n));
        rs->viewFirstTopLevelBlob = s.blobs[1];
    }
    return f.exit();
}

int32_t sortByMeasure(cblob_resultSet *rs, int32_t measure, bool ascending) {
    Frame<2> f;
    const int64_t entries = static_cast<int64_t>(rs->numViewBlobs) + 1;
    SortScratch s{nullptr, nullptr, rs->numViewBlobs};
    CBLOB_FRAME_TRY(f, allocate(entries * static_cast<int64_t>(sizeof(double)), &s.keys));
    f.addMemory(&s.keys, csys_cleanup_tempMemory);
    CBLOB_FRAME_TRY(f, allocate(entries * static_cast<int64_t>(sizeof(cblob_blob *)), &s.blobs));
    f.addMemory(&s.blobs, csys_cleanup_tempMemory);
    CBLOB_FRAME_TRY(f, sortView(rs, s, measure, ascending));
    CBLOB_FRAME_TRY(f, sortChildLists(rs, s, measure, ascending));
    CBLOB_FRAME_TRY(f, sortTopLevelChain(rs, s, measure, ascending));
    return f.exit();
}

// Empties the stored filters and applies `kept` (a copy of some of them)
// again to the unfiltered view.
int32_t reapplyFilters(cblob_resultSet *rs, const cstd_vector_cblob_filter *kept) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_filter_clear(&rs->postProcessing->filters));
    CBLOB_FRAME_TRY(f, applyFilters(rs, static_cast<const cblob_filter *>(kept->untyped.begin),
                                    static_cast<int32_t>(kept->untyped.size)));
    return f.exit();
}

}  // namespace

int32_t sortSteps(cblob_resultSet *rs, int32_t measure, int32_t direction) {
    Frame<0> f;
    cblob_resultSetPostProcessing_ *pp = rs->postProcessing;
    CBLOB_FRAME_CHECK(f, direction == 0 || direction == 1, cblob_err_badSortOrder);
    CBLOB_FRAME_CHECK(f, measure >= 0 && measure <= cblob_measurePrincipalBoxAspect, cblob_err_badMeasure);
    if (rs->numViewBlobs < 2) {
        pp->sortMeasure = measure;
        pp->sortDirection = direction;
        return f.exit();
    }
    if (measure == pp->sortMeasure && direction == pp->sortDirection) return f.exit();
    if (measure == 0) {
        CBLOB_FRAME_TRY(f, disableSortSteps(rs));
        return f.exit();
    }
    CBLOB_FRAME_TRY(f, sortByMeasure(rs, measure, direction == 1));
    pp->sortMeasure = measure;
    pp->sortDirection = direction;
    return f.exit();
}

int32_t disableSortSteps(cblob_resultSet *rs) {
    Frame<1> f;
    cblob_resultSetPostProcessing_ *pp = rs->postProcessing;
    if (pp->sortMeasure == 0) return f.exit();
    CBLOB_FRAME_TRY(f, restoreUnfilteredView(rs));
    pp->sortMeasure = 0;
    cstd_vector_cblob_filter kept;  // outlives the block: the frame releases it
    if (pp->filters.untyped.size > 0) {
        CBLOB_FRAME_TRY(f, cstd_vector_cblob_filter_constructCopy(&kept, &pp->filters));
        f.addObject<&cstd_vector_cblob_filter_destruct>(&kept, csys_cleanup_tempObject);
        CBLOB_FRAME_TRY(f, reapplyFilters(rs, &kept));
    }
    return f.exit();
}

int32_t refilterSteps(cblob_resultSet *rs, int32_t dropMeasure, bool dropAll) {
    Frame<1> f;
    cblob_resultSetPostProcessing_ *pp = rs->postProcessing;
    cstd_vector_cblob_filter kept;
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_filter_constructEmpty(&kept));
    f.addObject<&cstd_vector_cblob_filter_destruct>(&kept, csys_cleanup_tempObject);
    if (!dropAll) {
        const auto *stored = static_cast<const cblob_filter *>(pp->filters.untyped.begin);
        for (int64_t i = 0; i < pp->filters.untyped.size; ++i) {
            if (stored[i].measure != dropMeasure) CBLOB_FRAME_TRY(f, cstd_vector_cblob_filter_pushBack(&kept, &stored[i]));
        }
    }
    CBLOB_FRAME_TRY(f, restoreUnfilteredView(rs));
    CBLOB_FRAME_TRY(f, reapplyFilters(rs, &kept));
    const int32_t measure = pp->sortMeasure;
    const int32_t direction = pp->sortDirection;
    pp->sortMeasure = 0;
    CBLOB_FRAME_TRY(f, sortSteps(rs, measure, direction));
    return f.exit();
}

}  // namespace cblob::results

extern "C" {

int32_t cblob_resultSet_sort(cblob_resultSet *rs, cblob_measure measure, int32_t direction) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    CBLOB_FRAME_CHECK(f, direction == 0 || direction == 1, cblob_err_badSortOrder);
    CBLOB_FRAME_CHECK(f, measure >= 0 && measure <= cblob_measurePrincipalBoxAspect, cblob_err_badMeasure);
    CBLOB_FRAME_TRY(f, cblob::results::withViewRollback(
                           rs, [&](cblob_resultSet *r) { return cblob::results::sortSteps(r, measure, direction); }));
    return f.exit();
}

int32_t cblob_resultSet_getSort(const cblob_resultSet *rs, cblob_measure *measure, int32_t *direction) {
    CBLOB_REQUIRE_ARG(rs && measure && direction && rs->postProcessing);
    *measure = rs->postProcessing->sortMeasure;
    *direction = rs->postProcessing->sortDirection;
    return 0;
}

int32_t cblob_resultSet_disableSort(cblob_resultSet *rs) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    if (rs->postProcessing->sortMeasure == 0) return f.exit();
    CBLOB_FRAME_TRY(f, cblob::results::withViewRollback(rs, cblob::results::disableSortSteps));
    return f.exit();
}

int32_t cblob_resultSet_unsetFilter(cblob_resultSet *rs, cblob_measure measure) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    CBLOB_FRAME_CHECK(f, measure >= 0 && measure <= cblob_measurePrincipalBoxAspect, cblob_err_badMeasure);
    if (measure == 0 || rs->postProcessing->filters.untyped.size == 0) return f.exit();
    CBLOB_FRAME_TRY(f, cblob::results::withViewRollback(rs, [&](cblob_resultSet *r) {
        return cblob::results::refilterSteps(r, measure, false);
    }));
    return f.exit();
}

int32_t cblob_resultSet_clearFilters(cblob_resultSet *rs) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    CBLOB_FRAME_TRY(f, cblob::results::withViewRollback(
                           rs, [](cblob_resultSet *r) { return cblob::results::refilterSteps(r, 0, true); }));
    return f.exit();
}

}  // extern "C"
