#include "support/fault_injection.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "cblob/sys.h"

namespace cblobtest {

namespace {
// A generous bound: no single operation under test allocates this often.
constexpr int64_t kMaxAllocations = 200000;
}  // namespace

FaultInjectionReport expectCleanUnderAllocationFailures(const std::function<int32_t()> &operation) {
    FaultInjectionReport report;
    const int64_t before = csys_memory_getLiveBlockCount();
    {
        // The unhindered run: it must succeed and leak nothing.
        csys_memory_failAfter(kMaxAllocations + 1, 0);
        const int32_t status = operation();
        EXPECT_EQ(status, 0) << "operation fails without injected failures: " << cblob_statusName(status);
        csys_memory_failAfter(0, 0);
        EXPECT_EQ(csys_memory_getLiveBlockCount(), before) << "leak in the unhindered run";
    }
    for (int persistent = 0; persistent <= 1; ++persistent) {
        for (int64_t n = 1; n <= kMaxAllocations; ++n) {
            csys_memory_failAfter(n, persistent);
            const int32_t status = operation();
            const int64_t injected = csys_memory_getInjectedFailureCount();
            csys_memory_failAfter(0, 0);
            const int64_t live = csys_memory_getLiveBlockCount();
            if (injected == 0) {
                EXPECT_EQ(status, 0) << "allocation " << n << " was never reached, yet the call failed";
                if (!persistent) report.allocationsSeen = n - 1;
                break;
            }
            ++report.failuresInjected;
            EXPECT_EQ(status, csys_err_outOfMemory)
                << "allocation " << n << (persistent ? " (persistent)" : " (once)") << " failed; call returned "
                << cblob_statusName(status);
            EXPECT_EQ(live, before) << "leak after failing allocation " << n
                                    << (persistent ? " (persistent)" : " (once)");
            if (::testing::Test::HasFailure()) return report;
        }
    }
    return report;
}

struct AttentionStopper::State {
    int64_t failAt;
    std::atomic<int64_t> polls{0};
    std::atomic<bool> fired{false};
};

namespace {
int32_t stopperCallback(void *data) {
    auto *state = static_cast<AttentionStopper::State *>(data);
    const int64_t poll = state->polls.fetch_add(1) + 1;
    if (state->failAt > 0 && poll >= state->failAt) {
        state->fired = true;
        return csys_err_stopRequested;
    }
    return 0;
}
}  // namespace

AttentionStopper::AttentionStopper(int64_t failAtPoll) : state_(new State) {
    state_->failAt = failAtPoll;
    csys_attention_setCallback(&stopperCallback, state_);
}

AttentionStopper::~AttentionStopper() {
    csys_attention_setCallback(nullptr, nullptr);
    delete state_;
}

int64_t AttentionStopper::polls() const { return state_->polls.load(); }
bool AttentionStopper::fired() const { return state_->fired.load(); }

int64_t expectCleanUnderCancellation(const std::function<int32_t()> &operation) {
    const int64_t before = csys_memory_getLiveBlockCount();
    int64_t total = 0;
    {
        AttentionStopper counting(0);
        EXPECT_EQ(operation(), 0);
        total = counting.polls();
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
    for (int64_t n = 1; n <= total; ++n) {
        AttentionStopper stopper(n);
        const int32_t status = operation();
        EXPECT_TRUE(stopper.fired()) << "poll " << n << " was not reached";
        EXPECT_EQ(status, csys_err_stopRequested) << "stopped at poll " << n << ": " << cblob_statusName(status);
        EXPECT_EQ(csys_memory_getLiveBlockCount(), before) << "leak after stopping at poll " << n;
        if (::testing::Test::HasFailure()) break;
    }
    return total;
}

AssertCatcher::AssertCatcher() { csys_assert_setHandler(&AssertCatcher::onAssert, this); }
AssertCatcher::~AssertCatcher() { csys_assert_setHandler(nullptr, nullptr); }
void AssertCatcher::onAssert(int32_t line, void *self) {
    auto *catcher = static_cast<AssertCatcher *>(self);
    ++catcher->count_;
    catcher->lastLine_ = line;
}

}  // namespace cblobtest
