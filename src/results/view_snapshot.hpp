// A copy of everything filters and the sort change in a result set: the
// view, its first top-level blob, every blob's current links, the stored
// filters and the sort key. A filter or sort call takes one first and puts
// it back when a later step fails, so that a failing call leaves the result
// set as it found it.
#ifndef CBLOB_RESULTS_VIEW_SNAPSHOT_HPP
#define CBLOB_RESULTS_VIEW_SNAPSHOT_HPP

#include <cstdint>

#include "cblob/result_set.h"

namespace cblob::results {

struct CurrentLinks {
    int32_t numChildren;
    cblob_blob *firstChild, *lastChild, *nextSibling, *prevSibling;
};

struct ViewSnapshot {
    CurrentLinks *links;  // one per blob of the all-blobs array; owned
    cblob_blob **view;    // numBlobs entries (room for any view), the first numView used; owned
    int32_t numView;
    cblob_blob *viewFirstTopLevelBlob;
    cstd_vector_cblob_filter filters;
    int32_t sortMeasure, sortDirection;
};

// Constructs *s as a copy of rs's view state. On failure (memory) nothing is
// constructed.
int32_t takeViewSnapshot(const cblob_resultSet *rs, ViewSnapshot *s);

// Puts the copied state back into rs (the view array is exchanged with the
// snapshot's, which then holds rs's last one). Never allocates, never fails.
int32_t restoreViewSnapshot(cblob_resultSet *rs, ViewSnapshot *s);

// Frees what the snapshot holds.
int32_t releaseViewSnapshot(ViewSnapshot *s);

// Runs step(rs) between a snapshot and, when the step fails, its
// restoration; returns the step's status (or the snapshot's memory failure,
// before anything changed).
template <class Step>
int32_t withViewRollback(cblob_resultSet *rs, Step step) {
    ViewSnapshot s;
    int32_t status = takeViewSnapshot(rs, &s);
    if (CBLOB_FAILED(status)) return status;
    status = step(rs);
    if (CBLOB_FAILED(status)) restoreViewSnapshot(rs, &s);
    const int32_t released = releaseViewSnapshot(&s);
    return CBLOB_FAILED(status) ? status : released;
}

}  // namespace cblob::results

#endif
