// The memory a run reuses from the result set it clears.
#include "run/run_spares.hpp"

#include <cstdint>

#include "core/require.hpp"
#include "core/frame.hpp"

namespace cblob::run {

int32_t clearForRun(cblob_resultSet *rs, RunSpares *spares) {
    CBLOB_REQUIRE_ARG(rs);
    CBLOB_REQUIRE_ARG(spares && !spares->allBlobs && !spares->view);
    const int32_t status = connect::takeSpareBlobBlocks(rs, &spares->blocks);
    if (CBLOB_FAILED(status)) return status;
    // Both arrays hold numBlobs pointers.
    spares->allBlobs = rs->allBlobs;
    spares->view = rs->view;
    spares->arrayLength = rs->numBlobs;
    rs->allBlobs = nullptr;
    rs->view = nullptr;
    return cblob_resultSet_clear(rs);
}

int32_t releaseRunSpares(RunSpares *spares) {
    CBLOB_REQUIRE_ARG(spares);
    int32_t status = release(&spares->allBlobs);
    const int32_t view = release(&spares->view);
    if (!CBLOB_FAILED(status)) status = view;
    const int32_t blocks = connect::releaseSpareBlobBlocks(&spares->blocks);
    return CBLOB_FAILED(status) ? status : blocks;
}

void takeSpareArray(RunSpares *spares, cblob_blob **RunSpares::*which, int32_t length, cblob_blob ***array) {
    *array = nullptr;
    if (!spares || !(spares->*which) || spares->arrayLength < length) return;
    *array = spares->*which;
    spares->*which = nullptr;
}

}  // namespace cblob::run
