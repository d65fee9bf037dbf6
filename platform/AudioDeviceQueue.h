#pragma once

#include "platform/AudioDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace pelbrisk {

// What every backend keeps of the buffers written to it: the ones not yet reported done, in
// writing order, each with the bytes it covers in the stream of everything written since open
// or the last reset, under one lock that the backend's own thread sleeps on. The backend plays
// that stream and moves `played_` along it; a buffer is done once `played_` has passed its end.
class TQueuedAudioDevice : public TAudioDevice {
public:
    int32_t Write(TAudioBuffer& buffer) final;
    int32_t Reset() final;
    int32_t Close() final;
    int32_t SetVolume(uint32_t volumeWord) final;
    int32_t GetVolume(uint32_t& volumeWord) final;

protected:
    struct TQueuedBuffer {
        TAudioBuffer* Buffer;
        uint64_t Start;
        uint64_t End;
    };

    explicit TQueuedAudioDevice(TAudioDoneTarget done);

    // Under mutex_: appends the buffer by Enqueue, or refuses it with an error code.
    virtual int32_t Queue(TAudioBuffer& buffer) = 0;
    // Under mutex_, before a reset drops the queue: stops whatever the backend is playing.
    virtual int32_t DropPlayback() = 0;
    // After Close has emptied the queue and woken the backend's thread: ends that thread and
    // lets the device go.
    virtual int32_t Release() = 0;

    void Enqueue(TAudioBuffer& buffer);
    // The device has failed for good: every queued buffer is reported done with `code`, and
    // every later write is refused with it. The lock is let go around the reports.
    void Fail(std::unique_lock<std::mutex>& lock, int32_t code);
    // Reports every buffer at the head of the queue that has been played to its end. The lock
    // is let go around each report, since the target may post to a thread that calls back in.
    // True when it reported any.
    bool ReportPlayed(std::unique_lock<std::mutex>& lock);
    bool IsQueued(const TAudioBuffer& buffer) final;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Done notices being told with the lock let go; Close waits for them before it returns,
    // since the target may be gone afterwards.
    int32_t reporting_ = 0;
    std::deque<TQueuedBuffer> queue_;
    uint64_t queuedEnd_ = 0;
    uint64_t played_ = 0;
    bool closed_ = false;
    int32_t failure_ = 0;
    std::atomic<uint32_t> volume_{0xFFFFFFFFu};

private:
    const TAudioDoneTarget done_;
};

} // namespace pelbrisk
