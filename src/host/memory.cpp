// Memory service: malloc underneath, with a live-block count and an
// injectable failure so that tests can prove every path releases what it
// allocated.
//
// Freed large blocks are kept for reuse, up to a limit the host sets. A run
// into a new result set allocates hundreds of megabytes of blob records on
// noisy images; malloc hands blocks that large back to the system when they
// are freed, and every page of the next run's blocks then costs a page
// fault when first written (about three times the run's own work). Kept
// blocks come back already mapped. A kept block is no longer counted as
// live: to the library it is freed.
#include <malloc.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "cblob/sys.h"
#include "core/require.hpp"
#include "host/scoped_lock.hpp"

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

// ------------------------------------------------------------- kept blocks

// Blocks from this size on are kept when freed.
constexpr size_t kLargeBlock = size_t{64} << 10;
constexpr int64_t kDefaultKeepLimit = int64_t{512} << 20;
// Size classes by the binary logarithm of a block's usable size.
constexpr int kClasses = 64;

// A kept block holds its own list link and usable size.
struct KeptBlock {
    KeptBlock *next;
    size_t size;
};

pthread_mutex_t g_keptLock = PTHREAD_MUTEX_INITIALIZER;
KeptBlock *g_kept[kClasses] = {};
int64_t g_keptBytes = 0;                          // under g_keptLock
std::atomic<int64_t> g_keepLimit{kDefaultKeepLimit};

int sizeClass(size_t size) { return 63 - __builtin_clzll(static_cast<unsigned long long>(size)); }

// A kept block of at least `size` usable bytes and at most a quarter more,
// taken out of the list; null when there is none.
void *takeKept(size_t size) {
    if (size < kLargeBlock) return nullptr;
    const size_t most = size + size / 4;
    cblob::host::ScopedLock lock(&g_keptLock);
    if (g_keptBytes == 0) return nullptr;
    for (int c = sizeClass(size); c <= sizeClass(most) && c < kClasses; ++c) {
        for (KeptBlock **link = &g_kept[c]; *link; link = &(*link)->next) {
            KeptBlock *block = *link;
            if (block->size < size || block->size > most) continue;
            *link = block->next;
            g_keptBytes -= static_cast<int64_t>(block->size);
            return block;
        }
    }
    return nullptr;
}

// Keeps a freed block when it is large and the limit allows; false when the
// caller is to free it.
bool keep(void *ptr) {
    const size_t size = malloc_usable_size(ptr);
    if (size < kLargeBlock) return false;
    cblob::host::ScopedLock lock(&g_keptLock);
    if (g_keptBytes + static_cast<int64_t>(size) > g_keepLimit.load(std::memory_order_relaxed)) return false;
    auto *block = static_cast<KeptBlock *>(ptr);
    const int c = sizeClass(size);
    block->next = g_kept[c];
    block->size = size;
    g_kept[c] = block;
    g_keptBytes += static_cast<int64_t>(size);
    return true;
}

// Frees kept blocks, largest classes first, until at most `limit` bytes are
// kept.
void trimKept(int64_t limit) {
    cblob::host::ScopedLock lock(&g_keptLock);
    for (int c = kClasses - 1; c >= 0 && g_keptBytes > limit; --c) {
        while (g_kept[c] && g_keptBytes > limit) {
            KeptBlock *block = g_kept[c];
            g_kept[c] = block->next;
            g_keptBytes -= static_cast<int64_t>(block->size);
            std::free(block);
        }
    }
}

int32_t allocate(int64_t size, void **ptr, bool clear) {
    CBLOB_REQUIRE_ARG(ptr);
    if (!sizeFits(size)) return csys_err_badSize;
    if (injectFailure()) return csys_err_outOfMemory;
    void *block = takeKept(bytesFor(size));
    if (block) {
        if (clear) std::memset(block, 0, bytesFor(size));
    } else {
        block = clear ? std::calloc(1, bytesFor(size)) : std::malloc(bytesFor(size));
    }
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
        if (!keep(*ptr)) std::free(*ptr);
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

int32_t csys_memory_setKeepLimit(int64_t bytes) {
    if (bytes < 0) return csys_err_badSize;
    g_keepLimit.store(bytes, std::memory_order_relaxed);
    trimKept(bytes);
    return 0;
}

int64_t csys_memory_getKeepLimit(void) { return g_keepLimit.load(std::memory_order_relaxed); }

int64_t csys_memory_getKeptBytes(void) {
    cblob::host::ScopedLock lock(&g_keptLock);
    return g_keptBytes;
}

}  // extern "C"
