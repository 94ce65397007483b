// The per-call cleanup list: what a call has built, released newest first at
// its single exit.
#include <atomic>

#include "cblob/sys.h"

namespace {
std::atomic<int32_t> g_nextTag{1};

bool releasedAtExit(int32_t kind, bool failed) {
    return kind == csys_cleanup_tempMemory || kind == csys_cleanup_tempObject || failed;
}
}  // namespace

extern "C" {

int32_t csys_cleanup_getNextTag(void) {
    // Tags only need to differ between calls that are active together; wrap
    // around well before overflow.
    return g_nextTag.fetch_add(1, std::memory_order_relaxed) & 0x3FFFFFFF;
}

void csys_cleanupExecute_(csys_cleanupEntry *list, int32_t *count, int32_t *status, int32_t tag) {
    (void)tag;
    if (!count || !status || *count < 0 || (*count > 0 && !list)) {
        cstd_assert_(__LINE__);
        return;
    }
    const bool failed = CBLOB_FAILED(*status);
    for (int32_t i = *count - 1; i >= 0; --i) {
        const csys_cleanupEntry &entry = list[i];
        if (!releasedAtExit(entry.kind, failed)) continue;
        int32_t released = entry.release(entry.address);
        if (!failed && CBLOB_FAILED(released) && !CBLOB_FAILED(*status)) *status = released;
    }
    *count = 0;
}

void csys_cleanup_doId_(csys_cleanupEntry *list, int32_t *count, int32_t *status, int32_t id, int32_t keep) {
    if (!list || !count || !status || *count <= 0 || list[*count - 1].id != id) {
        cstd_assert_(__LINE__);
        return;
    }
    const csys_cleanupEntry &entry = list[*count - 1];
    if (!keep) {
        int32_t released = entry.release(entry.address);
        if (CBLOB_FAILED(released) && !CBLOB_FAILED(*status)) *status = released;
    }
    --*count;
}

}  // extern "C"
