#include "platform/AudioDevice.h"
#include "platform/AudioDeviceQueue.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

namespace pelbrisk {

namespace {

using Clock = std::chrono::steady_clock;

// Plays into nothing at the format's real rate: a clock thread moves the play position and
// reports each buffer done once the position has passed its end.
class TNullAudioDevice final : public TQueuedAudioDevice {
public:
    TNullAudioDevice(const TAudioFormat& format, TAudioDoneTarget done)
        : TQueuedAudioDevice(std::move(done)),
          bytesPerSecond_(static_cast<double>(format.SamplesPerSecond) * format.BlockAlign()) {
        clock_ = std::thread([this] { RunClock(); });
    }

    ~TNullAudioDevice() override { Close(); }

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

protected:
    int32_t Queue(TAudioBuffer& buffer) override {
        const Clock::time_point now = Clock::now();
        Advance(now);
        Enqueue(buffer);
        Advance(now);
        return kAudioNoError;
    }

    int32_t DropPlayback() override {
        clockRunning_ = false;
        return kAudioNoError;
    }

    int32_t Release() override {
        clock_.join();
        return kAudioNoError;
    }

private:
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
            if (ReportPlayed(lock)) continue;
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
    bool paused_ = false;
    bool clockRunning_ = false;
    Clock::time_point clockBase_;
    uint64_t playedAtBase_ = 0;
    std::thread clock_;
};

} // namespace

int32_t OpenNullAudioDevice(const TAudioFormat& format, TAudioDoneTarget done,
                            std::unique_ptr<TAudioDevice>& device) {
    device = std::make_unique<TNullAudioDevice>(format, std::move(done));
    return kAudioNoError;
}

} // namespace pelbrisk
