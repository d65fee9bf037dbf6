#include "platform/AudioDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace pelbrisk {

namespace {

using Clock = std::chrono::steady_clock;

// Plays into nothing at the format's real rate: a clock thread moves the play position and
// reports each buffer done once the position has passed its end.
class TNullAudioDevice final : public TAudioDevice {
public:
    TNullAudioDevice(const TAudioFormat& format, TAudioDoneTarget done)
        : bytesPerSecond_(static_cast<double>(format.SamplesPerSecond) * format.BlockAlign()),
          done_(std::move(done)) {
        clock_ = std::thread([this] { RunClock(); });
    }

    ~TNullAudioDevice() override { Close(); }

    int32_t Write(TAudioBuffer& buffer) override {
        if (!buffer.Prepared) return kAudioUnprepared;
        {
            std::lock_guard lock(mutex_);
            const Clock::time_point now = Clock::now();
            Advance(now);
            buffer.Queued = true;
            queue_.push_back(Entry{&buffer, queuedEnd_ + buffer.Length});
            queuedEnd_ += buffer.Length;
            Advance(now);
        }
        changed_.notify_all();
        return kAudioNoError;
    }

    int32_t Reset() override {
        std::vector<uint32_t> dropped;
        {
            std::lock_guard lock(mutex_);
            for (Entry& entry : queue_) {
                entry.Buffer->Queued = false;
                dropped.push_back(entry.Buffer->Index);
            }
            queue_.clear();
            played_ = 0;
            queuedEnd_ = 0;
            clockRunning_ = false;
        }
        changed_.notify_all();
        for (uint32_t index : dropped)
            done_(index);
        return kAudioNoError;
    }

    int32_t Pause() override {
        std::lock_guard lock(mutex_);
        Advance(Clock::now());
        paused_ = true;
        clockRunning_ = false;
        return kAudioNoError;
    }

    int32_t Restart() override {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
            Advance(Clock::now());
        }
        changed_.notify_all();
        return kAudioNoError;
    }

    int32_t GetPositionBytes(uint64_t& bytes) override {
        std::lock_guard lock(mutex_);
        Advance(Clock::now());
        bytes = played_;
        return kAudioNoError;
    }

    int32_t SetVolume(uint32_t volumeWord) override {
        volume_ = volumeWord;
        return kAudioNoError;
    }

    int32_t GetVolume(uint32_t& volumeWord) override {
        volumeWord = volume_;
        return kAudioNoError;
    }

    int32_t Close() override {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return kAudioNoError;
            closed_ = true;
            for (Entry& entry : queue_)
                entry.Buffer->Queued = false;
            queue_.clear();
        }
        changed_.notify_all();
        clock_.join();
        return kAudioNoError;
    }

protected:
    bool IsQueued(const TAudioBuffer& buffer) override {
        std::lock_guard lock(mutex_);
        return buffer.Queued;
    }

private:
    struct Entry {
        TAudioBuffer* Buffer;
        uint64_t End; // play position at which this buffer has been played
    };

    // Moves the play position to `now`; the clock runs only while unpaused data is queued.
    // Called with mutex_ held, also right after a write or a restart: the sound starts then, not
    // whenever the clock thread next gets the processor.
    void Advance(Clock::time_point now) {
        const bool shouldRun = !paused_ && played_ < queuedEnd_;
        if (shouldRun && !clockRunning_) {
            clockBase_ = now;
            playedAtBase_ = played_;
            clockRunning_ = true;
        }
        if (!clockRunning_) return;
        const double seconds = std::chrono::duration<double>(now - clockBase_).count();
        const auto advanced = playedAtBase_ + static_cast<uint64_t>(seconds * bytesPerSecond_);
        played_ = std::min(advanced, queuedEnd_);
        if (played_ >= queuedEnd_) clockRunning_ = false;
    }

    void RunClock() {
        std::unique_lock lock(mutex_);
        while (!closed_) {
            Advance(Clock::now());
            std::vector<uint32_t> finished;
            while (!queue_.empty() && queue_.front().End <= played_) {
                queue_.front().Buffer->Queued = false;
                finished.push_back(queue_.front().Buffer->Index);
                queue_.pop_front();
            }
            if (!finished.empty()) {
                lock.unlock();
                for (uint32_t index : finished)
                    done_(index);
                lock.lock();
                continue;
            }
            if (clockRunning_ && !queue_.empty()) {
                const double remaining =
                    static_cast<double>(queue_.front().End - playedAtBase_) / bytesPerSecond_;
                const auto due = clockBase_ + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(remaining));
                changed_.wait_until(lock, due);
            } else {
                changed_.wait(lock);
            }
        }
    }

    const double bytesPerSecond_;
    TAudioDoneTarget done_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Entry> queue_;
    uint64_t played_ = 0;
    uint64_t queuedEnd_ = 0;
    bool paused_ = false;
    bool closed_ = false;
    bool clockRunning_ = false;
    Clock::time_point clockBase_;
    uint64_t playedAtBase_ = 0;
    std::atomic<uint32_t> volume_{0xFFFFFFFFu};
    std::thread clock_;
};

} // namespace

int32_t OpenNullAudioDevice(const TAudioFormat& format, TAudioDoneTarget done,
                            std::unique_ptr<TAudioDevice>& device) {
    device = std::make_unique<TNullAudioDevice>(format, std::move(done));
    return kAudioNoError;
}

} // namespace pelbrisk
