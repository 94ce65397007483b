// The blob record copy of result-set assignment, and a blob's rows.
#include <cstdint>

#include "connect/blob_record.hpp"
#include "core/require.hpp"

namespace cblob::connect {

int32_t copyBlobRecord(cblob_blob *dst, const cblob_blob *src, cblob_resultSet *owner) {
    CBLOB_REQUIRE_ARG(dst);
    CBLOB_REQUIRE_ARG(src);
    CBLOB_REQUIRE_ARG(owner);
    dst->nodeKind = &cblob_blob_external_vtable_;
    dst->owner = owner;
    dst->adjacencyHolder = nullptr;
    dst->clientFromImage = nullptr;
    dst->cachedRuns = nullptr;
    dst->label = src->label;
    dst->colour = src->colour;
    dst->boxLeft = src->boxLeft;
    dst->boxTop = src->boxTop;
    dst->boxWidth = src->boxWidth;
    dst->boxHeight = src->boxHeight;
    dst->boxCenterX = src->boxCenterX;
    dst->boxCenterY = src->boxCenterY;
    dst->boxAspect = src->boxAspect;
    dst->isGrey = src->isGrey;
    dst->area = src->area;
    dst->centerOfMassX = src->centerOfMassX;
    dst->centerOfMassY = src->centerOfMassY;
    dst->momentsValid = src->momentsValid;
    dst->inertiaX = src->inertiaX;
    dst->inertiaY = src->inertiaY;
    dst->inertiaMin = src->inertiaMin;
    dst->inertiaMax = src->inertiaMax;
    dst->elongation = src->elongation;
    dst->angle = src->angle;
    dst->parent = nullptr;
    dst->numChildren = src->numChildren;
    dst->firstChild = nullptr;
    dst->lastChild = nullptr;
    dst->nextSibling = nullptr;
    dst->prevSibling = nullptr;
    dst->curNumChildren = src->curNumChildren;
    dst->curFirstChild = nullptr;
    dst->curLastChild = nullptr;
    dst->curNextSibling = nullptr;
    dst->curPrevSibling = nullptr;
    return 0;
}

int32_t blobRleRows(const cblob_blob *blob, cblob_rleRow **rows) {
    CBLOB_REQUIRE_ARG(blob);
    CBLOB_REQUIRE_ARG(rows);
    if (!blob->cachedRuns) return cblob_err_rleImageEmpty;
    *rows = blob->cachedRuns;
    return 0;
}

}  // namespace cblob::connect
