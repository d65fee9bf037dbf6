#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
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

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
    bool ending_ = false;
    std::thread thread_;
};

} // namespace pelbrisk
