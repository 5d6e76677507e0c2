#include "KwThread.h"

#include <chrono>

#if defined(_WIN32)
#include <windows.h>
#include <process.h>
#else
#include <pthread.h>
#include <thread>
#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif
#endif

namespace {

// Priority of the KwThread running on this thread (null on other threads).
thread_local const std::atomic<KwThreadPriority>* tCurrentPriority = nullptr;

#if defined(_WIN32)
int ToWindowsPriority(KwThreadPriority priority) {
    switch (priority) {
    case KwThreadPriority::Lowest: return THREAD_PRIORITY_LOWEST;
    case KwThreadPriority::BelowNormal: return THREAD_PRIORITY_BELOW_NORMAL;
    case KwThreadPriority::Normal: return THREAD_PRIORITY_NORMAL;
    case KwThreadPriority::AboveNormal: return THREAD_PRIORITY_ABOVE_NORMAL;
    case KwThreadPriority::Highest: return THREAD_PRIORITY_HIGHEST;
    case KwThreadPriority::TimeCritical: return THREAD_PRIORITY_TIME_CRITICAL;
    }
    return THREAD_PRIORITY_NORMAL;
}

KwThreadPriority FromWindowsPriority(int value) {
    if (value == THREAD_PRIORITY_ERROR_RETURN) return KwThreadPriority::Normal;
    if (value >= THREAD_PRIORITY_TIME_CRITICAL) return KwThreadPriority::TimeCritical;
    if (value >= THREAD_PRIORITY_HIGHEST) return KwThreadPriority::Highest;
    if (value >= THREAD_PRIORITY_ABOVE_NORMAL) return KwThreadPriority::AboveNormal;
    if (value >= THREAD_PRIORITY_NORMAL) return KwThreadPriority::Normal;
    if (value >= THREAD_PRIORITY_BELOW_NORMAL) return KwThreadPriority::BelowNormal;
    return KwThreadPriority::Lowest;
}
#elif defined(__linux__)
// Linux schedules normal threads by their nice value, which it keeps per thread.
int ToNice(KwThreadPriority priority) {
    switch (priority) {
    case KwThreadPriority::Lowest: return 10;
    case KwThreadPriority::BelowNormal: return 5;
    case KwThreadPriority::Normal: return 0;
    case KwThreadPriority::AboveNormal: return -5;
    case KwThreadPriority::Highest: return -10;
    case KwThreadPriority::TimeCritical: return -15;
    }
    return 0;
}
#endif

}  // namespace

struct KwThread::Impl {
#if defined(_WIN32)
    HANDLE handle = nullptr;
    DWORD id = 0;
#else
    std::thread thread;
    std::atomic<long> systemId{0};  // kernel thread id once the thread runs (Linux)
    std::mutex applyMutex;          // orders the worker's and SetPriority's updates

    void Apply(KwThreadPriority priority) {
#if defined(__linux__)
        std::lock_guard<std::mutex> lock(applyMutex);
        const long id = systemId.load(std::memory_order_acquire);
        if (id == 0) return;
        // Refusals (raising the priority without the right to) are ignored.
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(id), ToNice(priority));
#else
        (void)priority;
#endif
    }
#endif
};

KwThread::KwThread() : impl_(std::make_unique<Impl>()) {}

KwThread::~KwThread() { Stop(); }

void KwThread::ThreadMain(KwThread* self) {
    tCurrentPriority = &self->priority_;
#if !defined(_WIN32) && defined(__linux__)
    self->impl_->systemId.store(static_cast<long>(syscall(SYS_gettid)), std::memory_order_release);
    self->impl_->Apply(self->priority_.load(std::memory_order_acquire));
#endif
    try {
        self->Run();
    } catch (...) {
        // A worker's failure must not take the host process down with it.
    }
    tCurrentPriority = nullptr;
    self->running_.store(false, std::memory_order_release);
}

bool KwThread::Start(KwThreadPriority priority) {
    if (running_.load(std::memory_order_acquire)) return false;
    Join();  // a finished earlier run
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(false, std::memory_order_release);
    }
    priority_.store(priority, std::memory_order_release);
    running_.store(true, std::memory_order_release);
#if defined(_WIN32)
    // 64-bit Windows has one calling convention, so a plain function will do.
    unsigned (*entry)(void*) = [](void* argument) -> unsigned {
        KwThread::ThreadMain(static_cast<KwThread*>(argument));
        return 0;
    };
    unsigned id = 0;
    const uintptr_t handle = _beginthreadex(nullptr, 0, entry, this, CREATE_SUSPENDED, &id);
    if (handle == 0) {
        running_.store(false, std::memory_order_release);
        return false;
    }
    impl_->handle = reinterpret_cast<HANDLE>(handle);
    impl_->id = id;
    SetThreadPriority(impl_->handle, ToWindowsPriority(priority));
    ResumeThread(impl_->handle);
#else
    try {
        impl_->systemId.store(0, std::memory_order_release);
        impl_->thread = std::thread(&KwThread::ThreadMain, this);
    } catch (...) {
        running_.store(false, std::memory_order_release);
        return false;
    }
#endif
    return true;
}

void KwThread::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
}

void KwThread::Stop() {
    RequestStop();
    Join();
}

void KwThread::Join() {
#if defined(_WIN32)
    if (!impl_->handle) return;
    if (impl_->id == GetCurrentThreadId()) return;  // Run() stopping itself
    WaitForSingleObject(impl_->handle, INFINITE);
    CloseHandle(impl_->handle);
    impl_->handle = nullptr;
    impl_->id = 0;
#else
    if (!impl_->thread.joinable()) return;
    if (impl_->thread.get_id() == std::this_thread::get_id()) return;  // Run() stopping itself
    impl_->thread.join();
    impl_->systemId.store(0, std::memory_order_release);
#endif
}

bool KwThread::IsRunning() const { return running_.load(std::memory_order_acquire); }

void KwThread::SetPriority(KwThreadPriority priority) {
    priority_.store(priority, std::memory_order_release);
#if defined(_WIN32)
    if (impl_->handle) SetThreadPriority(impl_->handle, ToWindowsPriority(priority));
#else
    impl_->Apply(priority);
#endif
}

KwThreadPriority KwThread::CurrentThreadPriority() {
    if (tCurrentPriority) return tCurrentPriority->load(std::memory_order_acquire);
#if defined(_WIN32)
    return FromWindowsPriority(GetThreadPriority(GetCurrentThread()));
#else
    return KwThreadPriority::Normal;
#endif
}

bool KwThread::Sleep(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                   [this] { return wakePending_ || stop_.load(std::memory_order_acquire); });
    wakePending_ = false;
    return !stop_.load(std::memory_order_acquire);
}

void KwThread::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wakePending_ = true;
    }
    wake_.notify_all();
}
