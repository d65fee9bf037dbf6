#pragma once

#include "engine/LoopThread.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace pelbrisk {

// The player's "hidden window": any thread posts, the host's user-interface thread pumps.
// The host learns of a post through the wake hook (a queued call in Qt, a condition variable
// in the command line tool and the tests) and then calls Pump on its own thread.
class TMPMessageQueue {
public:
    explicit TMPMessageQueue(TMPMessageHandler* receiver) : receiver_(receiver) {}
    TMPMessageQueue(const TMPMessageQueue&) = delete;
    TMPMessageQueue& operator=(const TMPMessageQueue&) = delete;

    // Called on the posting thread after each post; it must not pump by itself.
    void SetWakeHook(std::function<void()> hook);

    void Post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
    // Posts only when no message with this number is waiting, so bursts stay one message.
    void PostOnce(uint32_t message);
    // Drops every waiting message with this number (a handler collapsing its duplicates).
    void RemovePending(uint32_t message);
    bool HasPending(uint32_t message);
    // Takes every waiting message with this number out of the queue, for its owner to dispose.
    std::vector<TMPMessage> TakePending(uint32_t message);
    size_t PendingCount();

    // Hands every waiting message, in posting order, to the receiver; returns how many.
    size_t Pump();
    // Sleeps until a message is waiting or the time runs out; true when one is waiting.
    bool WaitForMessage(int32_t milliseconds);

private:
    TMPMessageHandler* receiver_;
    TMPPlainMutex mutex_;
    std::condition_variable posted_;
    std::deque<TMPMessage> queue_;
    std::function<void()> wakeHook_;
};

} // namespace pelbrisk
