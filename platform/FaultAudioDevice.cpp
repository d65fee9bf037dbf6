#include "platform/AudioDevice.h"
#include "platform/AudioDeviceQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

namespace pelbrisk {

namespace {

std::mutex planMutex;
std::optional<TAudioFaultPlan> currentPlan;
std::atomic<int32_t> faultsMet{0};

// The sound of one look at the ring.
constexpr double kPeriodSeconds = 0.01;

// Plays like the null device, on a player thread that moves through the queued sound one period
// at a time, and meets the planned fault at the planned call.
class TFaultAudioDevice final : public TQueuedAudioDevice {
public:
    TFaultAudioDevice(const TAudioFaultPlan& plan, const TAudioFormat& format,
                      TAudioDoneTarget done)
        : TQueuedAudioDevice(std::move(done)), plan_(plan),
          periodBytes_(
              std::max<uint64_t>(static_cast<uint64_t>(format.SamplesPerSecond * kPeriodSeconds) *
                                     static_cast<uint64_t>(format.BlockAlign()),
                                 1)),
          tick_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
              std::chrono::duration<double>(kPeriodSeconds / std::max(plan.Speed, 0.01)))),
          wakeAt_(std::chrono::steady_clock::now() + std::chrono::milliseconds(plan.WakeUpMs)) {
        player_ = std::thread([this] { RunPlayer(); });
    }

    ~TFaultAudioDevice() override { Close(); }

    double Speed() const override { return plan_.Speed; }

    int32_t Pause() override {
        std::lock_guard lock(mutex_);
        if (failure_ != 0) return failure_;
        paused_ = true;
        return kAudioNoError;
    }

    int32_t Restart() override {
        {
            std::lock_guard lock(mutex_);
            if (failure_ != 0) return failure_;
            paused_ = false;
        }
        changed_.notify_all();
        return kAudioNoError;
    }

    int32_t GetPositionBytes(uint64_t& bytes) override {
        std::lock_guard lock(mutex_);
        bytes = played_;
        return kAudioNoError;
    }

protected:
    int32_t Queue(TAudioBuffer& buffer) override {
        if (Meets(TAudioFaultPoint::Write)) {
            if (!plan_.Stall) return plan_.Error;
            stalled_ = true;
        }
        Enqueue(buffer);
        return kAudioNoError;
    }

    int32_t DropPlayback() override {
        started_ = false;
        return kAudioNoError;
    }

    int32_t Release() override {
        player_.join();
        std::lock_guard lock(mutex_);
        return Meets(TAudioFaultPoint::Close) ? plan_.Error : kAudioNoError;
    }

private:
    // Counts a call of this kind; true when it is the one the plan fails.
    bool Meets(TAudioFaultPoint point) {
        if (point != plan_.Point || ++calls_ != plan_.Nth) return false;
        ++faultsMet;
        return true;
    }

    // A fault met on the player thread: recovered from, or the end of this device. True when the
    // device is no longer playing.
    bool Stopped(std::unique_lock<std::mutex>& lock, TAudioFaultPoint point) {
        if (!Meets(point)) return false;
        if (plan_.Stall) {
            stalled_ = true;
            return true;
        }
        if (RecoverableAudioError(plan_.Error)) {
            // As after an underrun: the ring starts again from empty.
            started_ = false;
            return false;
        }
        Fail(lock, plan_.Error);
        return true;
    }

    void RunPlayer() {
        std::unique_lock lock(mutex_);
        while (!closed_) {
            if (paused_ || stalled_ || failure_ != 0 || played_ >= queuedEnd_) {
                changed_.wait(lock);
                continue;
            }
            if (!started_) {
                if (std::chrono::steady_clock::now() < wakeAt_) {
                    changed_.wait_until(lock, wakeAt_);
                    continue;
                }
                if (Stopped(lock, TAudioFaultPoint::Start)) continue;
                started_ = true;
            }
            if (Stopped(lock, TAudioFaultPoint::Avail)) continue;
            played_ = std::min(played_ + periodBytes_, queuedEnd_);
            if (played_ >= queuedEnd_) started_ = false; // ran dry
            ReportPlayed(lock);
            changed_.wait_for(lock, tick_);
        }
    }

    const TAudioFaultPlan plan_;
    const uint64_t periodBytes_;
    const std::chrono::steady_clock::duration tick_;
    const std::chrono::steady_clock::time_point wakeAt_;
    int32_t calls_ = 0;
    bool paused_ = false;
    bool stalled_ = false;
    bool started_ = false;
    std::thread player_;
};

} // namespace

void SetAudioFaultPlan(std::optional<TAudioFaultPlan> plan) {
    std::lock_guard lock(planMutex);
    currentPlan = plan;
    faultsMet = 0;
}

std::optional<TAudioFaultPlan> CurrentAudioFaultPlan() {
    std::lock_guard lock(planMutex);
    return currentPlan;
}

int32_t AudioFaultsMet() {
    return faultsMet.load();
}

int32_t OpenFaultAudioDevice(const TAudioFaultPlan& plan, const TAudioFormat& format,
                             TAudioDoneTarget done, std::unique_ptr<TAudioDevice>& device) {
    if (plan.Point == TAudioFaultPoint::Open) {
        ++faultsMet;
        return plan.Error;
    }
    device = std::make_unique<TFaultAudioDevice>(plan, format, std::move(done));
    return kAudioNoError;
}

} // namespace pelbrisk
