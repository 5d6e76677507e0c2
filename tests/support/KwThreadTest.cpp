#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "support/KwThread.h"

namespace {

// A worker that waits (practically) forever unless a stop request ends the wait.
class SleepyWorker : public KwThread {
public:
    ~SleepyWorker() override { Stop(); }
    std::atomic<int> sleepResult{-1};
    std::atomic<bool> entered{false};
    std::atomic<KwThreadPriority> seenPriority{KwThreadPriority::Normal};

protected:
    void Run() override {
        seenPriority = CurrentThreadPriority();
        entered = true;
        sleepResult = Sleep(3600u * 1000u) ? 1 : 0;
    }
};

// Counts its runs and returns at once.
class CountingWorker : public KwThread {
public:
    ~CountingWorker() override { Stop(); }
    std::atomic<int> runs{0};
    std::atomic<int> shortSleep{-1};

protected:
    void Run() override {
        shortSleep = Sleep(1) ? 1 : 0;
        ++runs;
    }
};

// Waits until the owner changes its priority, then reports what it sees.
class PriorityWatcher : public KwThread {
public:
    ~PriorityWatcher() override { Stop(); }
    std::atomic<KwThreadPriority> seen{KwThreadPriority::Normal};

protected:
    void Run() override {
        while (!StopRequested() && CurrentThreadPriority() != KwThreadPriority::Lowest) Sleep(1);
        seen = CurrentThreadPriority();
    }
};

class SelfStopping : public KwThread {
public:
    ~SelfStopping() override { Stop(); }

protected:
    void Run() override {
        Stop();  // must not wait for itself
        if (!StopRequested()) throw std::logic_error("stop not requested");
        throw std::runtime_error("a failing worker must not end the process");
    }
};

void WaitUntil(const std::atomic<bool>& flag) {
    while (!flag.load()) {
    }
}

}  // namespace

TEST(KwThread, StopEndsALongSleepEarly) {
    SleepyWorker worker;
    EXPECT_FALSE(worker.IsRunning());
    ASSERT_TRUE(worker.Start(KwThreadPriority::BelowNormal));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_FALSE(worker.Start());  // already running
    WaitUntil(worker.entered);
    worker.Stop();  // would hang for an hour if the wait did not end early
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(worker.StopRequested());
    EXPECT_EQ(worker.sleepResult.load(), 0);
    EXPECT_EQ(worker.seenPriority.load(), KwThreadPriority::BelowNormal);
    EXPECT_EQ(worker.GetPriority(), KwThreadPriority::BelowNormal);
}

TEST(KwThread, StopBeforeTheWorkerSleepsStillEndsIt) {
    SleepyWorker worker;
    worker.RequestStop();  // cleared again by Start
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.StopRequested());
    worker.Stop();  // the request may come before or during the wait
    EXPECT_EQ(worker.sleepResult.load(), 0);
}

TEST(KwThread, FinishedThreadCanBeStartedAgain) {
    CountingWorker worker;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(worker.Start());
        worker.Stop();
        EXPECT_EQ(worker.runs.load(), i);
    }
    // Without a stop request a short sleep runs to its end.
    ASSERT_TRUE(worker.Start());
    while (worker.IsRunning()) {
    }
    EXPECT_EQ(worker.shortSleep.load(), 1);
    EXPECT_FALSE(worker.StopRequested());
    ASSERT_TRUE(worker.Start());  // joins the finished run first
    worker.Stop();
    EXPECT_EQ(worker.runs.load(), 5);
}

TEST(KwThread, PriorityChangesReachTheRunningThread) {
    PriorityWatcher watcher;
    ASSERT_TRUE(watcher.Start(KwThreadPriority::AboveNormal));
    watcher.SetPriority(KwThreadPriority::Lowest);
    while (watcher.IsRunning()) {
    }
    watcher.Stop();
    EXPECT_EQ(watcher.seen.load(), KwThreadPriority::Lowest);
    EXPECT_EQ(watcher.GetPriority(), KwThreadPriority::Lowest);
    // Setting a priority while nothing runs only stores it.
    watcher.SetPriority(KwThreadPriority::TimeCritical);
    EXPECT_EQ(watcher.GetPriority(), KwThreadPriority::TimeCritical);
}

TEST(KwThread, WorkerMayStopItselfAndFail) {
    SelfStopping worker;
    ASSERT_TRUE(worker.Start());
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
}

TEST(KwThread, DestroyingARunningWorkerStopsIt) {
    auto worker = std::make_unique<SleepyWorker>();
    ASSERT_TRUE(worker->Start());
    WaitUntil(worker->entered);
    worker.reset();
    SUCCEED();
}

TEST(KwThread, ThreadsNotStartedHereReportNormal) {
#if !defined(_WIN32)
    EXPECT_EQ(KwThread::CurrentThreadPriority(), KwThreadPriority::Normal);
#endif
}
