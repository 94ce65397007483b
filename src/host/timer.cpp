// Stopwatch on the monotonic clock.
#include <ctime>

#include "cblob/sys.h"
#include "core/require.hpp"

namespace {
int64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
}  // namespace

extern "C" {

int32_t csys_timer_init(csys_timer *t, int32_t flags) {
    CBLOB_REQUIRE_ARG(t);
    (void)flags;
    t->startNs = 0;
    t->elapsedNs = 0;
    t->running = 0;
    return 0;
}

int32_t csys_timer_reset(csys_timer *t) { return csys_timer_init(t, 0); }

int32_t csys_timer_start(csys_timer *t) {
    CBLOB_REQUIRE_ARG(t);
    t->startNs = nowNs();
    t->running = 1;
    return 0;
}

int32_t csys_timer_stop(csys_timer *t) {
    CBLOB_REQUIRE_ARG(t);
    if (!t->running) return csys_err_timerNotRunning;
    t->elapsedNs += nowNs() - t->startNs;
    t->running = 0;
    return 0;
}

int32_t csys_timer_getMillisecondsDouble(const csys_timer *t, double *ms) {
    CBLOB_REQUIRE_ARG(t);
    CBLOB_REQUIRE_ARG(ms);
    int64_t ns = t->elapsedNs + (t->running ? nowNs() - t->startNs : 0);
    *ms = static_cast<double>(ns) / 1e6;
    return 0;
}

}  // extern "C"
