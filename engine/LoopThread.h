#pragma once

#include "engine/Events.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <thread>

namespace pelbrisk {

// One message of a loop thread or of the player's message queue; Result starts at 0.
struct TMPMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
    intptr_t Result = 0;
};

inline constexpr uint32_t MPM_QUIT = 0x41E;
inline constexpr uint32_t MPM_WATCHEVENT = 0x41F;
inline constexpr uint32_t MPM_SYNC = 0x420;
inline constexpr uint32_t MPM_TIMEOUT = 0x421;

// Receives what a loop thread dispatches; numbers without a handler are simply ignored.
class TMPMessageHandler {
public:
    virtual void Dispatch(TMPMessage& message) = 0;

protected:
    ~TMPMessageHandler() = default;
};

// (sender, exception, handled): set handled to keep the standard display from showing it.
using TMPThreadExceptionEvent =
    std::function<void(void* sender, const std::exception_ptr& error, bool& handled)>;

// The application's standard exception display. Hosts install theirs (a message box, a line
// on stderr); without one the text goes to standard error.
void SetApplicationExceptionDisplay(std::function<void(const std::exception_ptr&)> display);
void ShowApplicationException(const std::exception_ptr& error);
std::string ExceptionText(const std::exception_ptr& error);

// Thread priorities as the player hands them over (idle .. time-critical).
inline constexpr int32_t kPriorityIdle = -15;
inline constexpr int32_t kPriorityLowest = -2;
inline constexpr int32_t kPriorityLower = -1;
inline constexpr int32_t kPriorityNormal = 0;
inline constexpr int32_t kPriorityHigher = 1;
inline constexpr int32_t kPriorityHighest = 2;
inline constexpr int32_t kPriorityTimeCritical = 15;
// The niceness a priority becomes on Linux.
int NicenessOfPriority(int32_t priority);

// A thread that sleeps until its event is set, a message arrives or its timeout runs out, and
// hands each of these to its owner's message dispatch.
class TMPLoopThread {
public:
    // Created suspended: messages may be posted at once, they are handled after Resume.
    explicit TMPLoopThread(TMPMessageHandler* owner);
    ~TMPLoopThread();
    TMPLoopThread(const TMPLoopThread&) = delete;
    TMPLoopThread& operator=(const TMPLoopThread&) = delete;

    void Resume();
    // Applies the niceness of the priority; failures (e.g. no right to raise it) are ignored.
    void SetPriority(int32_t priority);
    void PostMessage(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
    void Terminate() { PostMessage(MPM_QUIT); }
    // Returns once every message posted before the call has been handled (or the thread ended).
    void WaitForIdle();
    // Terminates the loop and waits for the thread to end.
    void Stop();

    TMPSimpleEvent& Event() { return event_; }
    // Set for good once the thread has ended.
    TMPSimpleEvent& Ended() { return ended_; }
    int32_t Timeout() const { return timeout_.load(std::memory_order_relaxed); }
    void SetTimeout(int32_t milliseconds) {
        timeout_.store(milliseconds, std::memory_order_relaxed);
    }
    // The kernel's id of the running thread; 0 before it runs.
    int SystemThreadId() const { return threadId_.load(); }

    TMPThreadExceptionEvent OnException;

private:
    void Execute();
    bool RunPass(); // true when MPM_QUIT was taken
    void HandleException(const std::exception_ptr& error);

    TMPMessageHandler* owner_;
    TMPSimpleEvent event_;
    TMPSimpleEvent ended_;
    std::atomic<int32_t> timeout_{kInfinite};
    std::atomic<int32_t> priority_{kPriorityNormal};
    std::atomic<bool> priorityGiven_{false};
    std::atomic<int> threadId_{0};
    TMPWakeSignal signal_; // guards queue_
    std::deque<TMPMessage> queue_;
    std::thread thread_;
};

} // namespace pelbrisk
