// A scoped hold on a pthread mutex, for the host services' process-wide
// settings. std::mutex would report a failed lock by throwing, which a
// library built without exceptions cannot do; a default pthread mutex cannot
// fail to lock or unlock in a correct program, so the results are ignored.
#ifndef CBLOB_HOST_SCOPED_LOCK_HPP
#define CBLOB_HOST_SCOPED_LOCK_HPP

#include <pthread.h>

namespace cblob::host {

class ScopedLock {
public:
    explicit ScopedLock(pthread_mutex_t *mutex) : mutex_(mutex) { (void)pthread_mutex_lock(mutex_); }
    ~ScopedLock() { (void)pthread_mutex_unlock(mutex_); }
    ScopedLock(const ScopedLock &) = delete;
    ScopedLock &operator=(const ScopedLock &) = delete;

private:
    pthread_mutex_t *mutex_;
};

}  // namespace cblob::host

#endif
