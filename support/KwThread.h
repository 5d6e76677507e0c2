// KwThread: a worker thread with a stop request, stop-and-wait, a timed wait
// that a stop request ends early, and priorities.
//
// A subclass must call Stop() in its own destructor: by the time ~KwThread runs,
// the subclass part (and so Run()) is already gone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

enum class KwThreadPriority { Lowest, BelowNormal, Normal, AboveNormal, Highest, TimeCritical };

class KwThread {
public:
    KwThread();
    virtual ~KwThread();  // stops and waits
    KwThread(const KwThread&) = delete;
    KwThread& operator=(const KwThread&) = delete;

    // Starts Run() on a new thread; false when already running or on failure.
    // A thread whose Run() has returned may be started again.
    bool Start(KwThreadPriority priority = KwThreadPriority::Normal);
    // Asks Run() to finish (StopRequested() turns true, Sleep() returns early).
    void RequestStop();
    // Ends the current Sleep() early, or the next one when none is under way,
    // without a stop request: there is work to look at.
    void Wake();
    // RequestStop() and wait until Run() has returned. Called from Run() itself
    // it only requests the stop.
    void Stop();
    // True from Start() until Run() has returned.
    bool IsRunning() const;
    bool StopRequested() const { return stop_.load(std::memory_order_acquire); }
    // Stores the priority and applies it to the running thread (best effort:
    // the operating system may refuse, which is ignored).
    void SetPriority(KwThreadPriority priority);
    KwThreadPriority GetPriority() const { return priority_.load(std::memory_order_acquire); }

    // Priority of the calling thread (what a worker should follow). Threads
    // that KwThread did not start report the operating system's value on
    // Windows and Normal elsewhere.
    static KwThreadPriority CurrentThreadPriority();

protected:
    virtual void Run() = 0;
    // Waits up to `milliseconds`; returns false when a stop request ended the
    // wait (or was pending when it began).
    bool Sleep(uint32_t milliseconds);

private:
    struct Impl;
    static void ThreadMain(KwThread* self);
    void Join();

    std::unique_ptr<Impl> impl_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    bool wakePending_ = false;  // under mutex_
    std::atomic<KwThreadPriority> priority_{KwThreadPriority::Normal};
    mutable std::mutex mutex_;
    std::condition_variable wake_;
};
