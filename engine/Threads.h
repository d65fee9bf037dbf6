#pragma once

#include <mutex>

namespace pelbrisk {

// The engine's lock interface; every lock of the player and the sound output is one of these.
class TMPAbstractMutex {
public:
    TMPAbstractMutex() = default;
    TMPAbstractMutex(const TMPAbstractMutex&) = delete;
    TMPAbstractMutex& operator=(const TMPAbstractMutex&) = delete;
    virtual ~TMPAbstractMutex() = default;

    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

// Re-entrant: the holder may lock again and must then unlock as often, because the sound
// output's buffer hand-over runs inside a write that already holds the buffer lock.
class TMPSimpleMutex final : public TMPAbstractMutex {
public:
    void Lock() override { mutex_.lock(); }
    void Unlock() override { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

// Holds a lock for one scope, so that every exit path (exceptions included) releases it.
class TMPLockGuard {
public:
    explicit TMPLockGuard(TMPAbstractMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~TMPLockGuard() { mutex_.Unlock(); }
    TMPLockGuard(const TMPLockGuard&) = delete;
    TMPLockGuard& operator=(const TMPLockGuard&) = delete;

private:
    TMPAbstractMutex& mutex_;
};

} // namespace pelbrisk
