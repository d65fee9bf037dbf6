#include "app/WorkerThread.h"

#include <utility>

namespace pelbrisk {

TWorkerThread::TWorkerThread() : thread_([this] { Run(); }) {}

TWorkerThread::~TWorkerThread() {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void TWorkerThread::Post(std::function<void()> work) {
    {
        const std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void TWorkerThread::Run() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return ending_ || !work_.empty(); });
            if (work_.empty()) return;
            work = std::move(work_.front());
            work_.pop_front();
        }
        work();
    }
}

} // namespace pelbrisk
