// Memory service: malloc underneath, with a live-block count and an
// injectable failure so that tests can prove every path releases what it
// allocated.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "cblob/sys.h"
#include "core/require.hpp"

namespace {

std::atomic<int64_t> g_liveBlocks{0};
std::atomic<int64_t> g_countdown{0};   // > 0: the allocation that brings it to 0 fails
std::atomic<int32_t> g_persistent{0};  // the armed failure keeps failing once reached
std::atomic<int32_t> g_failingAll{0};  // a persistent failure has been reached
std::atomic<int64_t> g_injected{0};

bool injectFailure() {
    if (g_failingAll.load(std::memory_order_relaxed)) {
        g_injected.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    if (g_countdown.load(std::memory_order_relaxed) <= 0) return false;
    if (g_countdown.fetch_sub(1, std::memory_order_acq_rel) != 1) return false;
    if (g_persistent.load(std::memory_order_relaxed)) g_failingAll.store(1, std::memory_order_relaxed);
    g_injected.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// malloc(0) may return null; every block here is a real, unique block.
size_t bytesFor(int64_t size) { return size > 0 ? static_cast<size_t>(size) : 1u; }

bool sizeFits(int64_t size) {
    return size >= 0 && static_cast<uint64_t>(size) <= static_cast<uint64_t>(PTRDIFF_MAX);
}

int32_t allocate(int64_t size, void **ptr, bool clear) {
    CBLOB_REQUIRE_ARG(ptr);
    if (!sizeFits(size)) return csys_err_badSize;
    if (injectFailure()) return csys_err_outOfMemory;
    void *block = clear ? std::calloc(1, bytesFor(size)) : std::malloc(bytesFor(size));
    if (!block) return csys_err_outOfMemory;
    g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
    *ptr = block;
    return 0;
}

}  // namespace

extern "C" {

int32_t csys_memory_alloc_internal(int64_t size, void **ptr) { return allocate(size, ptr, false); }

int32_t csys_memory_allocClear_internal(int64_t size, void **ptr) { return allocate(size, ptr, true); }

int32_t csys_memory_realloc_internal(int64_t size, void **ptr) {
    CBLOB_REQUIRE_ARG(ptr);
    if (!*ptr) return allocate(size, ptr, false);
    if (!sizeFits(size)) return csys_err_badSize;
    if (injectFailure()) return csys_err_outOfMemory;
    void *block = std::realloc(*ptr, bytesFor(size));
    if (!block) return csys_err_outOfMemory;
    *ptr = block;
    return 0;
}

int32_t csys_memory_free_internal(void **ptr) {
    if (ptr && *ptr) {
        std::free(*ptr);
        *ptr = nullptr;
        g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    }
    return 0;
}

int32_t csys_memory_copy(int64_t size, const void *src, void *dst) {
    if (size > 0) std::memmove(dst, src, static_cast<size_t>(size));
    return 0;
}

int32_t csys_memory_fill(int32_t value, int64_t size, void *dst) {
    if (size > 0) std::memset(dst, value, static_cast<size_t>(size));
    return 0;
}

void csys_memory_failAfter(int64_t n, int32_t persistent) {
    g_failingAll.store(0, std::memory_order_relaxed);
    g_persistent.store(persistent ? 1 : 0, std::memory_order_relaxed);
    g_injected.store(0, std::memory_order_relaxed);
    g_countdown.store(n > 0 ? n : 0, std::memory_order_release);
}

int64_t csys_memory_getInjectedFailureCount(void) { return g_injected.load(std::memory_order_relaxed); }

int64_t csys_memory_getLiveBlockCount(void) { return g_liveBlocks.load(std::memory_order_relaxed); }

}  // extern "C"
