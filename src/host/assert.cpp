// Assert service: precondition failures are reported with the source line.
#include <cstdio>
#include <cstdlib>

#include "cblob/sys.h"
#include "host/scoped_lock.hpp"

namespace {
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
csys_assertHandler g_handler = nullptr;
void *g_userData = nullptr;

// The lock is held across fork(), so a forked child never inherits it locked
// by a thread it does not have.
void lockForFork() { (void)pthread_mutex_lock(&g_lock); }
void unlockAfterFork() { (void)pthread_mutex_unlock(&g_lock); }
pthread_once_t g_forkHandlersOnce = PTHREAD_ONCE_INIT;
void installForkHandlers() { (void)pthread_atfork(&lockForFork, &unlockAfterFork, &unlockAfterFork); }
}  // namespace

extern "C" {

void cstd_assert_(int32_t line) {
    csys_assertHandler handler;
    void *userData;
    (void)pthread_once(&g_forkHandlersOnce, &installForkHandlers);
    {
        cblob::host::ScopedLock hold(&g_lock);
        handler = g_handler;
        userData = g_userData;
    }
    if (handler) {
        handler(line, userData);
        return;
    }
    std::fprintf(stderr, "cblob: precondition failed at line %d\n", static_cast<int>(line));
    std::abort();
}

csys_assertHandler csys_assert_setHandler(csys_assertHandler handler, void *userData) {
    (void)pthread_once(&g_forkHandlersOnce, &installForkHandlers);
    cblob::host::ScopedLock hold(&g_lock);
    csys_assertHandler previous = g_handler;
    g_handler = handler;
    g_userData = handler ? userData : nullptr;
    return previous;
}

}  // extern "C"
