// The per-blob image layer of the pipeline: decides whether the run must
// build one run-length image per blob, runs the core (which then labels
// wide runs and keeps the labelled image, the run labels and the run table
// in the result set), and builds those images afterwards in a new blob
// database.
#include <cstdint>

#include "cblob/blob.h"
#include "core/frame.hpp"
#include "run/run_pipeline.hpp"

namespace cblob::run {

namespace {

// The attention check is polled once per this many blob images.
constexpr int32_t kPollBlobs = 256;

// A new, empty blob database, held by the result set's handle.
int32_t newDatabase(cblob_resultSet *rs) {
    Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, !rs->blobDb);
    cblob_blobRleDb_ *db = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cblob_blobRleDb_)), &db));
    f.addMemory(&db, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_blobRleDb__construct(db));
    f.addObject<&cblob_blobRleDb__destruct>(db, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob_blobRleDb_Ptrh_attach(&rs->blobDbHandle, db));
    rs->blobDb = db;
    return f.exit();
}

// One image per blob, entry label - 1 of the database's image vector: the
// blob's rows (extracted now), its box, and the inverse of the client
// transform; its run total is the sum of its rows' run counts.
int32_t buildBlobImages(cblob_resultSet *rs) {
    Frame<1> f;
    CBLOB_FRAME_TRY(f, newDatabase(rs));
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_imageRle_resize(&rs->blobDb->images, rs->numBlobs));
    cmath_xformPtrhConst imageFromClient;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&imageFromClient));
    f.addObject<&cmath_xformPtrhConst_destruct>(&imageFromClient, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getInverseConst(&rs->clientFromImage, &imageFromClient));
    auto *images = static_cast<cblob_imageRle *>(rs->blobDb->images.untyped.begin);
    for (int32_t i = 0; i < rs->numBlobs; ++i) {
        if (i % kPollBlobs == kPollBlobs - 1) CBLOB_FRAME_TRY(f, csys_attention_check());
        cblob_blob *blob = rs->allBlobs[i];
        cblob_rleRow *rows = nullptr;
        CBLOB_FRAME_TRY(f, cblob_blob_getRleRows(blob, &rows));
        cblob_imageRle *img = &images[blob->label - 1];
        CBLOB_FRAME_TRY(f, cblob_imageRle_initFromBlob(img, blob, &imageFromClient));
        int64_t runs = 0;
        for (int32_t y = 0; y < blob->boxHeight; ++y) runs += rows[y].numRuns;
        img->numRuns = runs > INT32_MAX ? INT32_MAX : static_cast<int32_t>(runs);
    }
    return f.exit();
}

}  // namespace

int32_t runPipelineWithBlobImages(const cimg_windowConst *window8, const cimg_windowConst *window16,
                                  const cblob_imageRlePtrh *rleInput, const cmath_xformPtrhConst *clientFromImage,
                                  const cimg_windowConst *maskWindow, const cblob_imageRlePtrh *rleMask,
                                  const uint8_t *const *torvMask, cblob_runParams *params, cblob_resultSet *rs,
                                  RunSpares *spares) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, params);
    CBLOB_FRAME_REQUIRE(f, rs);
    const bool anyMask = maskWindow || rleMask || torvMask;
    const bool wanted = params->keepBlobImages != 0 || (params->keepMaskImage != 0 && anyMask);
    const bool fromBlobs = wanted;
    CBLOB_FRAME_TRY(f, runPipeline(window8, window16, rleInput, clientFromImage, maskWindow, rleMask, torvMask,
                                   wanted ? 1 : 0, fromBlobs ? 1 : 0, params, rs, spares));
    if (fromBlobs) CBLOB_FRAME_TRY(f, buildBlobImages(rs));
    return f.exit();
}

}  // namespace cblob::run
