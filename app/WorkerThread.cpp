#include "app/WorkerThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace pelbrisk {

struct TWorkerThread::TQueue {
    std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<std::function<void()>> Work;
    bool Ending = false;
};

TWorkerThread::TWorkerThread()
    : queue_(std::make_shared<TQueue>()), thread_([queue = queue_] { Run(queue); }) {}

TWorkerThread::~TWorkerThread() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard lock(queue_->Mutex);
        queue_->Ending = true;
    }
    queue_->Wake.notify_one();
    thread_.join();
}

void TWorkerThread::Post(std::function<void()> work) {
    {
        const std::lock_guard lock(queue_->Mutex);
        queue_->Work.push_back(std::move(work));
    }
    queue_->Wake.notify_one();
}

void TWorkerThread::Abandon() {
    if (!thread_.joinable()) return;
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard lock(queue_->Mutex);
        dropped.swap(queue_->Work);
        queue_->Ending = true;
    }
    queue_->Wake.notify_one();
    thread_.detach();
    // `dropped` goes here, on the caller's thread, with whatever its work held.
}

void TWorkerThread::Run(const std::shared_ptr<TQueue>& queue) {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(queue->Mutex);
            queue->Wake.wait(lock, [&] { return queue->Ending || !queue->Work.empty(); });
            if (queue->Work.empty()) return;
            work = std::move(queue->Work.front());
            queue->Work.pop_front();
        }
        work();
    }
}

} // namespace pelbrisk
