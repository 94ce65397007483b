// Attention check: long loops poll it (every few dozen rows) so that the host
// can stop an operation. Polls come from worker threads too; the callback and
// its data are read together under a lock, which costs little at that rate.

#include "cblob/sys.h"
#include "host/scoped_lock.hpp"

namespace {
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
csys_attentionCallback g_callback = nullptr;
void *g_userData = nullptr;
}  // namespace

extern "C" {

int32_t csys_attention_check(void) {
    csys_attentionCallback callback;
    void *userData;
    {
        cblob::host::ScopedLock hold(&g_lock);
        callback = g_callback;
        userData = g_userData;
    }
    return callback ? callback(userData) : 0;
}

void csys_attention_setCallback(csys_attentionCallback callback, void *userData) {
    cblob::host::ScopedLock hold(&g_lock);
    g_callback = callback;
    g_userData = callback ? userData : nullptr;
}

}  // extern "C"
