// Out-of-memory testing: run an operation with its N-th allocation failing,
// for N = 1, 2, 3, ..., once and then persistently, until the operation no
// longer reaches the failure. Each time the operation must return the memory
// status and leave the live-block count where it was.
#ifndef CBLOB_TESTS_FAULT_INJECTION_HPP
#define CBLOB_TESTS_FAULT_INJECTION_HPP

#include <cstdint>
#include <functional>

namespace cblobtest {

struct FaultInjectionReport {
    int64_t allocationsSeen = 0;  // allocations the operation made when nothing failed
    int64_t failuresInjected = 0; // runs in which an injected failure was reached
};

// `operation` builds what it needs, makes the call under test, releases what
// it built, and returns the call's status (or the first failing status).
// Reports every mismatch through GoogleTest assertions.
FaultInjectionReport expectCleanUnderAllocationFailures(const std::function<int32_t()> &operation);

// Arms the attention check to fail with csys_err_stopRequested at its n-th
// poll from now (n <= 0: never) and counts the polls.
class AttentionStopper {
public:
    explicit AttentionStopper(int64_t failAtPoll);
    ~AttentionStopper();
    AttentionStopper(const AttentionStopper &) = delete;
    AttentionStopper &operator=(const AttentionStopper &) = delete;
    int64_t polls() const;
    bool fired() const;
    struct State;

private:
    State *state_;
};

// Runs `operation` with the attention check failing at its 1st, 2nd, ...
// poll until the operation completes without reaching the failing poll.
// Each stopped run must return csys_err_stopRequested and leak nothing.
// Returns the number of polls of the uninterrupted run.
int64_t expectCleanUnderCancellation(const std::function<int32_t()> &operation);

// Counts cstd_assert_ reports instead of aborting, for as long as it lives.
class AssertCatcher {
public:
    AssertCatcher();
    ~AssertCatcher();
    AssertCatcher(const AssertCatcher &) = delete;
    AssertCatcher &operator=(const AssertCatcher &) = delete;
    int count() const { return count_; }
    int32_t lastLine() const { return lastLine_; }

private:
    static void onAssert(int32_t line, void *self);
    int count_ = 0;
    int32_t lastLine_ = 0;
};

}  // namespace cblobtest

#endif
