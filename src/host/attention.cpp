// Attention check: long loops poll it (every few dozen rows) so that the host
// can stop an operation. Polls come from worker threads too; the callback and
// its data are read together under a lock, which costs little at that rate,
// and called outside it, so a callback may install another one. The host may
// change the callback while a run polls it: a poll sees the old pair or the
// new one, never a mix. The lock is held across fork() (pthread_atfork), so a
// forked child never inherits it locked by a thread it does not have.
#include <pthread.h>


#include "cblob/sys.h"
#include "host/scoped_lock.hpp"

namespace {
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
csys_attentionCallback g_callback = nullptr;
void *g_userData = nullptr;

void lockForFork() { (void)pthread_mutex_lock(&g_lock); }
void unlockAfterFork() { (void)pthread_mutex_unlock(&g_lock); }
pthread_once_t g_forkHandlersOnce = PTHREAD_ONCE_INIT;
void installForkHandlers() { (void)pthread_atfork(&lockForFork, &unlockAfterFork, &unlockAfterFork); }
}  // namespace

extern "C" {

int32_t csys_attention_check(void) {
    csys_attentionCallback callback;
    void *userData;
    (void)pthread_once(&g_forkHandlersOnce, &installForkHandlers);
    {
        cblob::host::ScopedLock hold(&g_lock);
        callback = g_callback;
        userData = g_userData;
    }
    return callback ? callback(userData) : 0;
}

void csys_attention_setCallback(csys_attentionCallback callback, void *userData) {
    (void)pthread_once(&g_forkHandlersOnce, &installForkHandlers);
    cblob::host::ScopedLock hold(&g_lock);
    g_callback = callback;
    g_userData = callback ? userData : nullptr;
}

}  // extern "C"
