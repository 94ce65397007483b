// Intrusive shared reference counts and the counted handles that hold them.
#include "cblob/sys.h"
#include "core/require.hpp"

namespace {

int64_t increment(cstd_shared *shared) {
    return shared->descriptor->increment ? shared->descriptor->increment(shared)
                                         : cstd_shared_increment_default(shared);
}

// Drops one reference; destroys the owner when it was the last.
int32_t release(cstd_shared *shared) {
    if (!shared) return 0;
    int64_t left = shared->descriptor->decrement ? shared->descriptor->decrement(shared)
                                                 : cstd_shared_decrement_default(shared);
    if (left > 0) return 0;
    return shared->descriptor->destroy ? shared->descriptor->destroy(shared->owner) : 0;
}

}  // namespace

extern "C" {

int32_t cstd_shared_initCustom(cstd_shared *shared, void *owner, const cstd_sharedDescriptor *descriptor) {
    CBLOB_REQUIRE_ARG(shared);
    CBLOB_REQUIRE_ARG(descriptor);
    __atomic_store_n(&shared->count, 0, __ATOMIC_RELAXED);
    shared->owner = owner;
    shared->descriptor = descriptor;
    return 0;
}

int64_t cstd_shared_increment_default(cstd_shared *shared) {
    return __atomic_add_fetch(&shared->count, 1, __ATOMIC_RELAXED);
}

int64_t cstd_shared_decrement_default(cstd_shared *shared) {
    // Acquire-release: this thread's writes to the owner happen before its
    // destruction, and the last holder sees every other holder's writes.
    return __atomic_sub_fetch(&shared->count, 1, __ATOMIC_ACQ_REL);
}

int32_t cstd_ptrh_construct(cstd_ptrh *h) {
    CBLOB_REQUIRE_ARG(h);
    h->shared = nullptr;
    return 0;
}

int32_t cstd_ptrh_constructCopy(cstd_ptrh *h, const cstd_ptrh *src) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(src);
    h->shared = src->shared;
    if (h->shared) increment(h->shared);
    return 0;
}

int32_t cstd_ptrh_assignShared(cstd_ptrh *h, cstd_shared *shared) {
    CBLOB_REQUIRE_ARG(h);
    // Take the new reference before dropping the old: assigning an object to
    // the handle that holds its last reference must not destroy it.
    if (shared) increment(shared);
    cstd_shared *old = h->shared;
    h->shared = shared;
    return release(old);
}

int32_t cstd_ptrh_assign(cstd_ptrh *h, const cstd_ptrh *src) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(src);
    return cstd_ptrh_assignShared(h, src->shared);
}

int32_t cstd_ptrh_detach(cstd_ptrh *h) {
    CBLOB_REQUIRE_ARG(h);
    cstd_shared *old = h->shared;
    h->shared = nullptr;
    return release(old);
}

int32_t cstd_ptrh_destruct(cstd_ptrh *h) { return cstd_ptrh_detach(h); }

int32_t cstd_ptrh_getIsNull(const cstd_ptrh *h, int32_t *isNull) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(isNull);
    *isNull = h->shared ? 0 : 1;
    return 0;
}

int32_t cstd_ptrh_getRefCount(const cstd_ptrh *h, int64_t *count) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(count);
    *count = h->shared ? __atomic_load_n(&h->shared->count, __ATOMIC_RELAXED) : 0;
    return 0;
}

int32_t cstd_ptrh_getWholeShared(const cstd_ptrh *h, cstd_shared **shared) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(shared);
    *shared = h->shared;
    return 0;
}

}  // extern "C"
