#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "support/KwThread.h"

namespace {

// Sleeps (practically) forever unless a stop request ends the wait, or stops
// itself and throws.
class Worker : public KwThread {
public:
    enum Kind { kSleep, kStopSelfAndThrow };
    explicit Worker(Kind kind = kSleep) : kind_(kind) {}
    ~Worker() override { Stop(); }
    std::atomic<int> sleepResult{-1};
    std::atomic<int> runs{0};
    std::atomic<bool> entered{false};
    std::atomic<KwThreadPriority> seenPriority{KwThreadPriority::Normal};

protected:
    void Run() override {
        seenPriority = CurrentThreadPriority();
        entered = true;
        ++runs;
        if (kind_ == kStopSelfAndThrow) {
            Stop();  // must not wait for itself
            if (!StopRequested()) throw std::logic_error("stop not requested");
            throw std::runtime_error("a failing worker must not end the process");
        }
        sleepResult = Sleep(3600u * 1000u) ? 1 : 0;
    }

private:
    const Kind kind_;
};

}  // namespace

// Each Stop would hang for an hour if the wait did not end early, whether the
// request comes before or during the wait; a finished thread starts again.
TEST(KwThread, StopEndsALongSleepEarlyAndTheThreadRestarts) {
    Worker worker;
    worker.RequestStop();  // cleared again by Start
    ASSERT_TRUE(worker.Start(KwThreadPriority::BelowNormal));
    EXPECT_FALSE(worker.StopRequested());
    EXPECT_FALSE(worker.Start());  // already running
    while (!worker.entered.load()) {
    }
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.sleepResult.load(), 0);
    EXPECT_EQ(worker.seenPriority.load(), KwThreadPriority::BelowNormal);
    for (int i = 2; i <= 4; ++i) {
        ASSERT_TRUE(worker.Start());
        worker.Stop();
        EXPECT_EQ(worker.runs.load(), i);
    }
}

TEST(KwThread, WorkerMayStopItselfAndFailAndARunningWorkerMayBeDestroyed) {
    Worker failing(Worker::kStopSelfAndThrow);
    ASSERT_TRUE(failing.Start());
    failing.Stop();
    EXPECT_FALSE(failing.IsRunning());
    auto worker = std::make_unique<Worker>();
    ASSERT_TRUE(worker->Start());
    while (!worker->entered.load()) {
    }
    worker.reset();
}
