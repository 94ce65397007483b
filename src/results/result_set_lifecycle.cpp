// The result set's lifecycle: construct, constructCopy, clear and destruct.
#include <array>
#include <cstdint>

#include "cblob/result_set.h"
#include "core/frame.hpp"

namespace {

// Counts, pointers, heads, timings and the shared linear transform 0, the
// run window null. Handles and the post-processing record are not touched.
void zeroFields(cblob_resultSet *rs) {
    rs->numBlobs = 0;
    rs->numViewBlobs = 0;
    rs->allBlobs = nullptr;
    rs->view = nullptr;
    rs->firstTopLevelBlob = nullptr;
    rs->viewFirstTopLevelBlob = nullptr;
    cstd_rect32_initNull(&rs->runWindow);
    rs->thresholdedRows = nullptr;
    rs->maskedRows = nullptr;
    rs->morphedRows = nullptr;
    for (double &t : rs->runTimings) t = 0.0;
    rs->blobBlocks = nullptr;
    rs->xformBlocks = nullptr;
    rs->runWorkBlocks = nullptr;
    rs->runLabels = nullptr;
    rs->runLabelLists = nullptr;
    rs->runTable = nullptr;
    rs->tableShift = 0;
    rs->tableMask = 0;
    rs->blobDb = nullptr;
    rs->sharedLinearXform = cmath_xformLinear{{0.0, 0.0, 0.0, 0.0}, 0.0, 0.0};
}

// The five image handles of a result set.
std::array<cblob_imageRlePtrh *, 5> imageHandles(cblob_resultSet *rs) {
    return {&rs->sourceImage, &rs->maskImage, &rs->thresholdedImage, &rs->maskedAndThresholdedImage,
            &rs->morphedThresholdedImage};
}

// Frees every block of the run's work storage, then the vector.
int32_t freeRunWorkBlocks(cstd_vector_cblob_rleData_Ptr **blocks) {
    auto *pointers = static_cast<cblob_rleData_Ptr *>((*blocks)->untyped.begin);
    int32_t status = 0;
    for (int64_t i = 0; i < (*blocks)->untyped.size && !CBLOB_FAILED(status); ++i) {
        status = cblob::release(&pointers[i]);
    }
    return CBLOB_FAILED(status) ? status : cstd_vector_cblob_rleData_Ptr_delete(blocks);
}

}  // namespace

extern "C" {

int32_t cblob_resultSet_construct(cblob_resultSet *rs) {
    cblob::Frame<7> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    zeroFields(rs);
    for (cblob_imageRlePtrh *h : imageHandles(rs)) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(h));
        f.addObject<&cblob_imageRlePtrh_destruct>(h, csys_cleanup_resultObject);
    }
    CBLOB_FRAME_TRY(f, cblob_blobRleDb_Ptrh_construct(&rs->blobDbHandle));
    f.addObject<&cblob_blobRleDb_Ptrh_destruct>(&rs->blobDbHandle, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&rs->clientFromImage));
    f.addObject<&cmath_xformPtrhConst_destruct>(&rs->clientFromImage, csys_cleanup_resultObject);
    rs->postProcessing = nullptr;
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__new(&rs->postProcessing));
    return f.exit();
}

int32_t cblob_resultSet_constructCopy(cblob_resultSet *rs, const cblob_resultSet *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, rs != src);
    CBLOB_FRAME_TRY(f, cblob_resultSet_construct(rs));
    f.addObject<&cblob_resultSet_destruct>(rs, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob_resultSet_assign(rs, src));
    return f.exit();
}

// Each step's failure ends the clear at once, as documented; the steps done
// so far stay done.
int32_t cblob_resultSet_clear(cblob_resultSet *rs) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    if (rs->blobBlocks) {
        CBLOB_FRAME_TRY(f, _cleanupFuncBlobPtrVect(rs->blobBlocks));
        CBLOB_FRAME_TRY(f, cstd_vector_cblock_of_cblob_blob_ptr_delete(&rs->blobBlocks));
    }
    if (rs->xformBlocks) {
        CBLOB_FRAME_TRY(f, _cleanupFuncBlobXformPtrVect(rs->xformBlocks));
        CBLOB_FRAME_TRY(f, cstd_vector_cblock_of_cblob_xformLinear_ptr_delete(&rs->xformBlocks));
    }
    if (rs->runWorkBlocks) CBLOB_FRAME_TRY(f, freeRunWorkBlocks(&rs->runWorkBlocks));
    CBLOB_FRAME_TRY(f, cstd_vector32s_delete(&rs->runLabels));
    CBLOB_FRAME_TRY(f, cstd_vector_vector32s_delete(&rs->runLabelLists));
    CBLOB_FRAME_TRY(f, cblob::release(&rs->runTable));
    if (rs->blobDb) {
        rs->blobDb = nullptr;
        CBLOB_FRAME_TRY(f, cblob_blobRleDb_Ptrh_detach(&rs->blobDbHandle));
    }
    for (cblob_imageRlePtrh *h : imageHandles(rs)) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assignNull(h));
    }
    CBLOB_FRAME_TRY(f, cblob::release(&rs->allBlobs));
    CBLOB_FRAME_TRY(f, cblob::release(&rs->view));
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assignNull(&rs->clientFromImage));
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__clear(rs->postProcessing));
    zeroFields(rs);
    return f.exit();
}

int32_t cblob_resultSet_destruct(cblob_resultSet *rs) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_TRY(f, cblob_resultSet_clear(rs));
    for (cblob_imageRlePtrh *h : imageHandles(rs)) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_destruct(h));
    }
    CBLOB_FRAME_TRY(f, cblob_blobRleDb_Ptrh_destruct(&rs->blobDbHandle));
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_destruct(&rs->clientFromImage));
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__delete(&rs->postProcessing));
    return f.exit();
}

}  // extern "C"
