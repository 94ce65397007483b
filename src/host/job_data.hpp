// The block slot that job parameters and job results share: an owned heap
// block and the function that frees it. Both csys_jobParams and
// csys_jobResult have `data` and `release` members, so one template serves.
#ifndef CBLOB_HOST_JOB_DATA_HPP
#define CBLOB_HOST_JOB_DATA_HPP

#include "cblob/job.h"
#include "core/require.hpp"

namespace cblob {
namespace jobdata {

// Frees the block a slot holds, if any, and empties the slot. Returns the
// release function's status.
template <class Slot>
int32_t drop(Slot *slot) {
    int32_t status = 0;
    if (slot->data && slot->release) status = slot->release(&slot->data);
    slot->data = nullptr;
    slot->release = nullptr;
    return status;
}

// Moves the block in *data into the slot; a block held before is freed. The
// new block is taken even when freeing the old one fails; that failure is
// returned.
template <class Slot>
int32_t take(Slot *slot, void **data, csys_jobDataRelease release) {
    CBLOB_REQUIRE_ARG(slot);
    CBLOB_REQUIRE_ARG(data);
    CBLOB_REQUIRE_ARG(release);
    if (!*data) return csys_err_noJobData;
    const int32_t status = drop(slot);
    slot->data = *data;
    slot->release = release;
    *data = nullptr;
    return CBLOB_FAILED(status) ? status : 0;
}

template <class Slot>
int32_t getConst(const Slot *slot, const void **data) {
    CBLOB_REQUIRE_ARG(slot);
    CBLOB_REQUIRE_ARG(data);
    if (!slot->data) return csys_err_noJobData;
    *data = slot->data;
    return 0;
}

}  // namespace jobdata
}  // namespace cblob

#endif
