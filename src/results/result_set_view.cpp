// The view of a result set and the current link set of its blobs: restoring
// the unfiltered view, and the edits filters and the sort make.
#include <cstdint>
#include <cstring>

#include "results/result_set_internal.hpp"
#include "core/frame.hpp"

namespace cblob::results {

int32_t restoreUnfilteredView(cblob_resultSet *rs) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, rs->numBlobs >= 0 && (rs->numBlobs == 0 || rs->allBlobs));
    if (rs->numBlobs > 0) {
        CBLOB_FRAME_TRY(f, reallocate(static_cast<int64_t>(rs->numBlobs) * sizeof(cblob_blob *), &rs->view));
        for (int32_t i = 0; i < rs->numBlobs; ++i) {
            cblob_blob *b = rs->allBlobs[i];
            rs->view[i] = b;
            b->curNumChildren = b->numChildren;
            b->curFirstChild = b->firstChild;
            b->curLastChild = b->lastChild;
            b->curNextSibling = b->nextSibling;
            b->curPrevSibling = b->prevSibling;
        }
    }
    rs->numViewBlobs = rs->numBlobs;
    rs->viewFirstTopLevelBlob = rs->firstTopLevelBlob;
    return f.exit();
}

int32_t setUnfilteredViewOfFreshBlobs(cblob_resultSet *rs) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, rs->numBlobs >= 0 && (rs->numBlobs == 0 || rs->allBlobs));
    if (rs->numBlobs > 0) {
        const int64_t bytes = static_cast<int64_t>(rs->numBlobs) * static_cast<int64_t>(sizeof(cblob_blob *));
        CBLOB_FRAME_TRY(f, reallocate(bytes, &rs->view));
        std::memcpy(rs->view, rs->allBlobs, static_cast<size_t>(bytes));
    }
    rs->numViewBlobs = rs->numBlobs;
    rs->viewFirstTopLevelBlob = rs->firstTopLevelBlob;
    return f.exit();
}

int32_t setView(cblob_resultSet *rs, cblob_blob *const *blobs, int32_t count) {
    CBLOB_REQUIRE_ARG(rs);
    CBLOB_REQUIRE_ARG(count >= 0 && count <= rs->numBlobs);
    CBLOB_REQUIRE_ARG(count == 0 || (blobs && rs->view));
    if (count > 0) std::memmove(rs->view, blobs, static_cast<size_t>(count) * sizeof(cblob_blob *));
    rs->numViewBlobs = count;
    return 0;
}

int32_t relinkCurrentSiblings(cblob_blob *const *nodes, int32_t count) {
    CBLOB_REQUIRE_ARG(count >= 0);
    CBLOB_REQUIRE_ARG(count == 0 || nodes);
    for (int32_t i = 0; i < count; ++i) {
        nodes[i]->curPrevSibling = i > 0 ? nodes[i - 1] : nullptr;
        nodes[i]->curNextSibling = i + 1 < count ? nodes[i + 1] : nullptr;
    }
    return 0;
}

int32_t setCurrentChildren(cblob_blob *parent, cblob_blob *const *children, int32_t count) {
    CBLOB_REQUIRE_ARG(parent);
    const int32_t status = relinkCurrentSiblings(children, count);
    if (CBLOB_FAILED(status)) return status;
    parent->curNumChildren = count;
    parent->curFirstChild = count > 0 ? children[0] : nullptr;
    parent->curLastChild = count > 0 ? children[count - 1] : nullptr;
    return 0;
}

}  // namespace cblob::results
