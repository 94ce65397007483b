// Memory a run takes over from the result set it is about to clear and
// reuses for its own blobs: the blob blocks (connect::SpareBlobBlocks) and
// the all-blobs and view arrays. A caller that runs image after image
// through one result set thus writes every run's results into the same
// memory instead of freeing megabytes and allocating them again, which
// lets the allocator hand the memory back to the system in between and
// costs the next run a page fault per page it writes. Whatever the run does
// not use is freed when it ends.
#ifndef CBLOB_RUN_RUN_SPARES_HPP
#define CBLOB_RUN_RUN_SPARES_HPP

#include <cstdint>

#include "cblob/result_set.h"
#include "connect/blob_record.hpp"

namespace cblob::run {

struct RunSpares {
    connect::SpareBlobBlocks blocks;
    cblob_blob **allBlobs = nullptr;  // room for at least `arrayLength` pointers
    cblob_blob **view = nullptr;      // likewise
    int32_t arrayLength = 0;
};

// Clears the result set at the start of a run, after moving its blob blocks
// and arrays into *spares, which must be empty and registered by the caller
// for release (releaseRunSpares) when the run ends. Statuses: the clear's.
int32_t clearForRun(cblob_resultSet *rs, RunSpares *spares);

// Frees whatever is left in *spares.
int32_t releaseRunSpares(RunSpares *spares);

// *array = a spare array of at least `length` pointers (taken out of
// *spares; freed by its new owner), or null when there is none or it is too
// short. `spares` may be null.
void takeSpareArray(RunSpares *spares, cblob_blob **RunSpares::*which, int32_t length, cblob_blob ***array);

}  // namespace cblob::run

#endif
