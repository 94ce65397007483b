// A blob's runs: extracted from the run's labelled run image on first use.
#include <cstdint>

#include "cblob/blob.h"
#include "cblob/result_set.h"
#include "core/frame.hpp"

extern "C" {

int32_t cblob_blob_getRleRows(cblob_blob *blob, cblob_rleRow **rows) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, rows);
    CBLOB_FRAME_REQUIRE(f, blob->owner);
    if (blob->cachedRuns) {
        *rows = blob->cachedRuns;
        return f.exit();
    }
    // No run keeps its labelled run image yet, so there is nothing to
    // extract the rows from.
    CBLOB_FRAME_CHECK(f, false, cblob_err_rleImageEmpty);
    return f.exit();
}

}  // extern "C"
