// Locks: a critical section and a scoped guard.
#pragma once

#include <memory>

class KwCriticalSection {
public:
    KwCriticalSection();
    ~KwCriticalSection();
    KwCriticalSection(const KwCriticalSection&) = delete;
    KwCriticalSection& operator=(const KwCriticalSection&) = delete;

    void Enter();
    void Leave();
    bool TryEnter();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class KwLockGuard {
public:
    explicit KwLockGuard(KwCriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~KwLockGuard() { cs_.Leave(); }
    KwLockGuard(const KwLockGuard&) = delete;
    KwLockGuard& operator=(const KwLockGuard&) = delete;

private:
    KwCriticalSection& cs_;
};
