// Adding a job whose parameter block is a copy of a plain struct: the band
// jobs of segmentation and labelling hand each job its own copy, owned by the
// job's parameters from then on.
#ifndef CBLOB_HOST_JOB_COPY_PARAMS_HPP
#define CBLOB_HOST_JOB_COPY_PARAMS_HPP

#include <type_traits>

#include "cblob/job.h"
#include "cblob/sys.h"
#include "core/frame.hpp"

namespace cblob {

template <class Params>
int32_t addJobWithCopy(csys_jobRequestSet *requests, csys_jobFunction function, const Params &params) {
    static_assert(std::is_trivially_copyable<Params>::value, "the copy is made bytewise");
    Frame<2> f;
    csys_jobParams jobParams;
    CBLOB_FRAME_TRY(f, csys_jobParams_construct(&jobParams));
    f.addObject<&csys_jobParams_destruct>(&jobParams, csys_cleanup_tempObject);
    Params *block = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(Params)), &block));
    const int32_t blockId = f.addMemory(&block, csys_cleanup_tempMemory);
    *block = params;
    CBLOB_FRAME_TRY(f, csys_jobParams_takeData(&jobParams, reinterpret_cast<void **>(&block), &csys_memory_free_internal));
    f.handOver(blockId);  // the job's parameters own it now
    CBLOB_FRAME_TRY(f, csys_jobRequestSet_addFuncAndParams(requests, function, &jobParams));
    return f.exit();
}

}  // namespace cblob

#endif
