#include "engine/Events.h"

#include <algorithm>
#include <chrono>
#include <unordered_set>

namespace pelbrisk {

namespace {

struct LiveEvents {
    std::mutex Mutex;
    std::unordered_set<uintptr_t> Words;
};

LiveEvents& Registry() {
    static LiveEvents registry;
    return registry;
}

} // namespace

TMPEvent::TMPEvent(bool initialState) : signalled_(initialState) {
    LiveEvents& registry = Registry();
    std::lock_guard lock(registry.Mutex);
    registry.Words.insert(Word());
}

TMPEvent::~TMPEvent() {
    { std::lock_guard settling(waitersMutex_); }
    LiveEvents& registry = Registry();
    std::lock_guard lock(registry.Mutex);
    registry.Words.erase(Word());
}

TMPEvent* TMPEvent::FromWord(uintptr_t word) {
    LiveEvents& registry = Registry();
    std::lock_guard lock(registry.Mutex);
    return registry.Words.contains(word) ? reinterpret_cast<TMPEvent*>(word) : nullptr;
}

bool TMPEvent::SetEvent() {
    // The flag is stored under the lock that the destructor takes, so a waiter that sees it
    // and frees the event at once cannot pull the event away while this call still runs.
    std::lock_guard lock(waitersMutex_);
    signalled_.store(true, std::memory_order_release);
    for (TMPWakeSignal* waiter : waiters_)
        waiter->Notify();
    return true;
}

bool TMPEvent::ResetEvent() {
    signalled_.store(false, std::memory_order_release);
    return true;
}

uint32_t TMPEvent::WaitFor(int32_t milliseconds) {
    return WaitForAnyEvent({this}, milliseconds);
}

void TMPEvent::AddWaiter(TMPWakeSignal* waiter) {
    std::lock_guard lock(waitersMutex_);
    waiters_.push_back(waiter);
}

void TMPEvent::RemoveWaiter(TMPWakeSignal* waiter) {
    std::lock_guard lock(waitersMutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

uint32_t WaitForAnyEvent(std::initializer_list<TMPEvent*> events, int32_t milliseconds) {
    auto firstSet = [&]() -> uint32_t {
        uint32_t index = 0;
        for (TMPEvent* event : events) {
            if (event->IsSet()) return index;
            ++index;
        }
        return kWaitTimeout;
    };
    uint32_t result = firstSet();
    if (result != kWaitTimeout || milliseconds == 0) return result;

    TMPWakeSignal signal;
    for (TMPEvent* event : events)
        event->AddWaiter(&signal);
    {
        // The flag is set before the waiters are poked, and poking takes this mutex, so a set
        // that lands between the check and the sleep still wakes us.
        std::unique_lock<std::mutex> lock(signal.Mutex);
        auto ready = [&] { return (result = firstSet()) != kWaitTimeout; };
        if (milliseconds < 0)
            signal.Changed.wait(lock, ready);
        else
            signal.Changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
    }
    for (TMPEvent* event : events)
        event->RemoveWaiter(&signal);
    return result;
}

} // namespace pelbrisk
