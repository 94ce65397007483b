// Runs an optimised routine with the portable one as its fallback. An
// optimised routine asks the host's inhibit hook first and declines with
// cprt_err_optimizationInhibited (or another code of its range) when it may
// not or cannot run; the caller then runs the portable routine, so that
// status never reaches a caller of the library.
#ifndef CBLOB_CORE_OPTIMIZED_HPP
#define CBLOB_CORE_OPTIMIZED_HPP

#include <cstdint>

#include "cblob/sys.h"

namespace cblob {
// The host's optimisation-inhibit hook as it stands now. The host may change
// the variable while a run is going on (from another thread), so it is read
// with an atomic load; a run takes one copy on its calling thread and hands
// that to its band jobs, so all bands of a run ask the same hook.
inline cprt_optimizationInhibitedFn currentInhibitHook() {
    return __atomic_load_n(&cprt_isOptimizationInhibitedFP, __ATOMIC_ACQUIRE);
}
// Whether `hook` (a copy of the host's hook, or null) inhibits the routine `name`.
inline bool inhibitedBy(cprt_optimizationInhibitedFn hook, const char *name) {
    return hook != nullptr && hook(name) != 0;
}
}  // namespace cblob

// Runs an optimised routine and falls back to the portable one when the
// optimised one declines (0x0600..0x061F in the low 16 bits, whatever bit 31
// says). Every other status of the optimised routine is final.
namespace cblob {
inline bool optimizedDeclined(int32_t status) {
    return ((static_cast<uint32_t>(status) & 0xFFFFu) >> 5) == 0x30u;
}
}  // namespace cblob

#define CBLOB_RUN_OPTIMIZED(result, optimizedCall, portableCall)     \
    do {                                                             \
        (result) = (optimizedCall);                                  \
        if (::cblob::optimizedDeclined(result)) (result) = (portableCall); \
    } while (0)

#endif
