// Snapshots of a result set's view state, taken before a filter or sort
// call changes it and put back when the call fails.
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/frame.hpp"
#include "results/view_snapshot.hpp"

namespace cblob::results {

int32_t takeViewSnapshot(const cblob_resultSet *rs, ViewSnapshot *s) {
    Frame<3> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, s);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    CBLOB_FRAME_REQUIRE(f, rs->numBlobs >= 0 && rs->numViewBlobs >= 0 && rs->numViewBlobs <= rs->numBlobs);
    s->links = nullptr;
    s->view = nullptr;
    if (rs->numBlobs > 0) {
        CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(rs->numBlobs) * sizeof(CurrentLinks), &s->links));
        f.addMemory(&s->links, csys_cleanup_resultMemory);
        CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(rs->numBlobs) * sizeof(cblob_blob *), &s->view));
        f.addMemory(&s->view, csys_cleanup_resultMemory);
        for (int32_t i = 0; i < rs->numBlobs; ++i) {
            const cblob_blob *b = rs->allBlobs[i];
            s->links[i] = {b->curNumChildren, b->curFirstChild, b->curLastChild, b->curNextSibling,
                           b->curPrevSibling};
        }
        if (rs->numViewBlobs > 0) {
            std::memcpy(s->view, rs->view, static_cast<size_t>(rs->numViewBlobs) * sizeof(cblob_blob *));
        }
    }
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_filter_constructCopy(&s->filters, &rs->postProcessing->filters));
    s->numView = rs->numViewBlobs;
    s->viewFirstTopLevelBlob = rs->viewFirstTopLevelBlob;
    s->sortMeasure = rs->postProcessing->sortMeasure;
    s->sortDirection = rs->postProcessing->sortDirection;
    return f.exit();
}

int32_t restoreViewSnapshot(cblob_resultSet *rs, ViewSnapshot *s) {
    CBLOB_REQUIRE_ARG(rs && s);
    for (int32_t i = 0; i < rs->numBlobs; ++i) {
        cblob_blob *b = rs->allBlobs[i];
        const CurrentLinks &l = s->links[i];
        b->curNumChildren = l.numChildren;
        b->curFirstChild = l.firstChild;
        b->curLastChild = l.lastChild;
        b->curNextSibling = l.nextSibling;
        b->curPrevSibling = l.prevSibling;
    }
    std::swap(rs->view, s->view);
    rs->numViewBlobs = s->numView;
    rs->viewFirstTopLevelBlob = s->viewFirstTopLevelBlob;
    cblob_resultSetPostProcessing_ *pp = rs->postProcessing;
    std::swap(pp->filters, s->filters);
    pp->sortMeasure = s->sortMeasure;
    pp->sortDirection = s->sortDirection;
    return 0;
}

int32_t releaseViewSnapshot(ViewSnapshot *s) {
    CBLOB_REQUIRE_ARG(s);
    release(&s->links);
    release(&s->view);
    return cstd_vector_cblob_filter_destruct(&s->filters);
}

}  // namespace cblob::results
