#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace pelbrisk {

// Results of a wait, with the values the engine's callers compare against.
inline constexpr uint32_t kWaitSignalled = 0;
inline constexpr uint32_t kWaitTimeout = 0x102;
inline constexpr int32_t kInfinite = -1;

// std::mutex that also releases its system object when it goes. The standard one never does,
// so a new lock that lands where an old one lived (on a stack, say) would look like the old
// one to a thread checker and tie unrelated lock orders together.
class TMPPlainMutex : public std::mutex {
public:
    TMPPlainMutex() = default;
    ~TMPPlainMutex() { pthread_mutex_destroy(native_handle()); }
};

// What a sleeping thread waits on. Events poke every signal registered with them, so one
// thread can sleep until "any of these events, or my own queue" without polling.
class TMPWakeSignal {
public:
    void Notify() {
        { std::lock_guard lock(Mutex); }
        Changed.notify_all();
    }

    TMPPlainMutex Mutex;
    std::condition_variable Changed;
};

// A manual-reset event: once set it stays set, waking every waiter, until it is reset.
class TMPEvent {
public:
    explicit TMPEvent(bool initialState = false);
    TMPEvent(const TMPEvent&) = delete;
    TMPEvent& operator=(const TMPEvent&) = delete;
    virtual ~TMPEvent();

    // Messages carry events as plain words; this finds the live event behind such a word, or
    // nullptr when the word names none (a stale or foreign value is ignored, never used).
    static TMPEvent* FromWord(uintptr_t word);
    uintptr_t Word() const { return reinterpret_cast<uintptr_t>(this); }

    bool SetEvent();
    bool ResetEvent();
    // kWaitSignalled when set within `milliseconds` (kInfinite: no limit), else kWaitTimeout.
    uint32_t WaitFor(int32_t milliseconds);
    bool IsSet() const { return signalled_.load(std::memory_order_acquire); }

    void AddWaiter(TMPWakeSignal* waiter);
    void RemoveWaiter(TMPWakeSignal* waiter);

private:
    std::atomic<bool> signalled_;
    TMPPlainMutex waitersMutex_;
    std::vector<TMPWakeSignal*> waiters_;
};

// Every event of the engine is one of these: manual reset, initially not signalled.
class TMPSimpleEvent final : public TMPEvent {
public:
    TMPSimpleEvent() : TMPEvent(false) {}
};

// Index of the first event found set within `milliseconds`, or kWaitTimeout.
uint32_t WaitForAnyEvent(std::initializer_list<TMPEvent*> events, int32_t milliseconds);

} // namespace pelbrisk
