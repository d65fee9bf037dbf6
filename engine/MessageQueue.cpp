#include "engine/MessageQueue.h"

#include <algorithm>
#include <chrono>

namespace pelbrisk {

void TMPMessageQueue::SetWakeHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    wakeHook_ = std::move(hook);
}

void TMPMessageQueue::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(TMPMessage{message, wParam, lParam, 0});
        hook = wakeHook_;
    }
    posted_.notify_all();
    if (hook) hook();
}

void TMPMessageQueue::PostOnce(uint32_t message) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        for (const TMPMessage& waiting : queue_)
            if (waiting.Msg == message) return;
        queue_.push_back(TMPMessage{message, 0, 0, 0});
        hook = wakeHook_;
    }
    posted_.notify_all();
    if (hook) hook();
}

void TMPMessageQueue::RemovePending(uint32_t message) {
    std::lock_guard lock(mutex_);
    std::erase_if(queue_, [message](const TMPMessage& m) { return m.Msg == message; });
}

bool TMPMessageQueue::HasPending(uint32_t message) {
    std::lock_guard lock(mutex_);
    return std::any_of(queue_.begin(), queue_.end(),
                       [message](const TMPMessage& m) { return m.Msg == message; });
}

std::vector<TMPMessage> TMPMessageQueue::TakePending(uint32_t message) {
    std::lock_guard lock(mutex_);
    std::vector<TMPMessage> taken;
    for (const TMPMessage& waiting : queue_)
        if (waiting.Msg == message) taken.push_back(waiting);
    std::erase_if(queue_, [message](const TMPMessage& m) { return m.Msg == message; });
    return taken;
}

size_t TMPMessageQueue::PendingCount() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

size_t TMPMessageQueue::Pump() {
    size_t handled = 0;
    for (;;) {
        TMPMessage message;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return handled;
            message = queue_.front();
            queue_.pop_front();
        }
        receiver_->Dispatch(message);
        ++handled;
    }
}

bool TMPMessageQueue::WaitForMessage(int32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto waiting = [this] { return !queue_.empty(); };
    if (milliseconds < 0) {
        posted_.wait(lock, waiting);
        return true;
    }
    return posted_.wait_for(lock, std::chrono::milliseconds(milliseconds), waiting);
}

} // namespace pelbrisk
