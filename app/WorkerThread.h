#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace pelbrisk {

// One thread that runs posted work in the order it was posted, so that waits on the disk or on
// D-Bus happen away from the window's thread. Work hands its result back with a queued call.
class TWorkerThread {
public:
    TWorkerThread();
    // Runs what was posted already, then ends the thread.
    ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    void Post(std::function<void()> work);
    // Lets the thread go without waiting for it: work not begun is dropped here, and the work
    // under way ends the thread when it returns, which on a hung mount may be never. Nothing can
    // be posted afterwards.
    void Abandon();

private:
    struct TQueue;
    static void Run(const std::shared_ptr<TQueue>& queue);

    // Shared with the thread, which outlives this object once abandoned.
    std::shared_ptr<TQueue> queue_;
    std::thread thread_;
};

} // namespace pelbrisk
