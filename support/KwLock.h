// Locks: a critical section and a scoped guard.
#pragma once

#include <cstddef>

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
    // The platform's lock object lives inline (no allocation), so that locks in
    // static storage cost nothing to make and leave nothing behind.
    alignas(16) unsigned char storage_[64];
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
