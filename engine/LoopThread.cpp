#include "engine/LoopThread.h"

#include <cstdio>
#include <mutex>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace pelbrisk {

namespace {

std::mutex displayMutex;
std::function<void(const std::exception_ptr&)> applicationDisplay;

} // namespace

void SetApplicationExceptionDisplay(std::function<void(const std::exception_ptr&)> display) {
    std::lock_guard lock(displayMutex);
    applicationDisplay = std::move(display);
}

void ShowApplicationException(const std::exception_ptr& error) {
    std::function<void(const std::exception_ptr&)> display;
    {
        std::lock_guard lock(displayMutex);
        display = applicationDisplay;
    }
    if (display)
        display(error);
    else
        std::fprintf(stderr, "pelbrisk: %s\n", ExceptionText(error).c_str());
}

std::string ExceptionText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

int NicenessOfPriority(int32_t priority) {
    switch (priority) {
    case kPriorityIdle:
        return 19;
    case kPriorityLowest:
        return 10;
    case kPriorityLower:
        return 5;
    case kPriorityHigher:
        return -5;
    case kPriorityHighest:
        return -10;
    case kPriorityTimeCritical:
        return -20;
    default:
        return 0;
    }
}

TMPLoopThread::TMPLoopThread(TMPMessageHandler* owner) : owner_(owner) {}

TMPLoopThread::~TMPLoopThread() {
    Stop();
}

void TMPLoopThread::Resume() {
    if (thread_.joinable() || ended_.IsSet()) return;
    try {
        thread_ = std::thread([this] { Execute(); });
    } catch (const std::system_error&) {
        // No thread: posts go nowhere, and whoever waits for it learns that it has ended.
        ended_.SetEvent();
    }
}

void TMPLoopThread::SetPriority(int32_t priority) {
    priority_.store(priority);
    priorityGiven_.store(true);
    if (int id = threadId_.load(); id != 0)
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(id), NicenessOfPriority(priority));
}

void TMPLoopThread::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    {
        std::lock_guard lock(signal_.Mutex);
        queue_.push_back(TMPMessage{message, wParam, lParam, 0});
    }
    signal_.Changed.notify_all();
}

void TMPLoopThread::WaitForIdle() {
    if (!thread_.joinable() || ended_.IsSet()) return;
    TMPSimpleEvent synced;
    PostMessage(MPM_SYNC, synced.Word());
    WaitForAnyEvent({&synced, &ended_}, kInfinite);
}

void TMPLoopThread::Stop() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) return; // a thread cannot join itself
    Terminate();
    thread_.join();
}

void TMPLoopThread::Execute() {
    threadId_.store(static_cast<int>(gettid()));
    if (priorityGiven_.load())
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(threadId_.load()),
                          NicenessOfPriority(priority_.load()));
    event_.AddWaiter(&signal_);
    for (;;) {
        try {
            if (RunPass()) break;
        } catch (...) {
            HandleException(std::current_exception());
        }
    }
    event_.RemoveWaiter(&signal_);
    ended_.SetEvent();
}

bool TMPLoopThread::RunPass() {
    enum class Wake { Event, Input, TimedOut } wake;
    {
        std::unique_lock<std::mutex> lock(signal_.Mutex);
        auto ready = [this] { return event_.IsSet() || !queue_.empty(); };
        const int32_t timeout = timeout_.load(std::memory_order_relaxed);
        if (timeout < 0)
            signal_.Changed.wait(lock, ready);
        else
            signal_.Changed.wait_for(lock, std::chrono::milliseconds(timeout), ready);
        wake = event_.IsSet() ? Wake::Event : !queue_.empty() ? Wake::Input : Wake::TimedOut;
    }
    if (wake == Wake::Event) {
        TMPMessage message{MPM_WATCHEVENT, 0, 0, 0};
        owner_->Dispatch(message);
    } else if (wake == Wake::TimedOut) {
        TMPMessage message{MPM_TIMEOUT, 0, 0, 0};
        owner_->Dispatch(message);
    }
    for (;;) {
        TMPMessage message;
        {
            std::lock_guard lock(signal_.Mutex);
            if (queue_.empty()) return false;
            message = queue_.front();
            queue_.pop_front();
        }
        if (message.Msg == MPM_QUIT) return true;
        if (message.Msg == MPM_SYNC) {
            if (TMPEvent* synced = TMPEvent::FromWord(message.WParam)) synced->SetEvent();
            continue;
        }
        owner_->Dispatch(message);
    }
}

void TMPLoopThread::HandleException(const std::exception_ptr& error) {
    bool handled = false;
    if (OnException) OnException(this, error, handled);
    if (!handled) ShowApplicationException(error);
}

} // namespace pelbrisk
