#include "platform/AudioDevice.h"
#include "platform/AudioDeviceQueue.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pelbrisk {

namespace {

// Latency of the ALSA ring: short enough that pause, reset and volume act promptly.
constexpr unsigned kAlsaLatencyMicroseconds = 200000;
// How often the writer looks at the ring while ALSA has no room or still plays.
constexpr auto kWriterPollInterval = std::chrono::milliseconds(10);

// ALSA reports every failed lookup on stderr; the layer reports failures by result and says
// once itself when it plays on the null device for want of any sound.
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void QuietAlsa() {
    static std::once_flag quieted;
    std::call_once(quieted, [] { snd_lib_error_set_handler(IgnoreAlsaMessage); });
}

const std::vector<std::string>& PlaybackDeviceNames() {
    QuietAlsa();
    static const std::vector<std::string> names = [] {
        std::vector<std::string> found;
        void** hints = nullptr;
        if (snd_device_name_hint(-1, "pcm", &hints) < 0) return found;
        for (void** hint = hints; *hint != nullptr; ++hint) {
            char* name = snd_device_name_get_hint(*hint, "NAME");
            char* direction = snd_device_name_get_hint(*hint, "IOID");
            if (name != nullptr && (direction == nullptr || std::strcmp(direction, "Output") == 0))
                found.emplace_back(name);
            std::free(name);
            std::free(direction);
        }
        snd_device_name_free_hint(hints);
        return found;
    }();
    return names;
}

// All ALSA calls happen under mutex_, most of them on the writer thread, which feeds the PCM
// from the queued buffers (scaled by the volume word) and reports each buffer done once the
// PCM's delay shows that its last byte has been played.
class TAlsaAudioDevice final : public TQueuedAudioDevice {
public:
    TAlsaAudioDevice(snd_pcm_t* pcm, const TAudioFormat& format, TAudioDoneTarget done,
                     bool canPause, snd_pcm_uframes_t periodFrames)
        : TQueuedAudioDevice(std::move(done)), pcm_(pcm), format_(format),
          blockAlign_(static_cast<uint64_t>(format.BlockAlign())), canPause_(canPause),
          scratch_(static_cast<size_t>(periodFrames) * blockAlign_), periodFrames_(periodFrames) {
        writer_ = std::thread([this] { RunWriter(); });
    }

    ~TAlsaAudioDevice() override { Close(); }

    int32_t Pause() override {
        std::lock_guard lock(mutex_);
        if (failure_ != 0) return failure_;
        if (paused_) return kAudioNoError;
        (void)UpdatePlayed(); // the writer deals with an error the ring met
        int32_t result = 0;
        if (canPause_ && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) {
            result = snd_pcm_pause(pcm_, 1);
            hardwarePaused_ = result == 0;
        }
        if (!hardwarePaused_) {
            // Without a pausable PCM, drop what ALSA holds and feed it again on restart.
            result = snd_pcm_drop(pcm_);
            if (result == 0) result = snd_pcm_prepare(pcm_);
            written_ = played_;
        }
        paused_ = true;
        return result;
    }

    int32_t Restart() override {
        int32_t result = 0;
        {
            std::lock_guard lock(mutex_);
            if (failure_ != 0) return failure_;
            if (!paused_) return kAudioNoError;
            if (hardwarePaused_) result = snd_pcm_pause(pcm_, 0);
            hardwarePaused_ = false;
            paused_ = false;
        }
        changed_.notify_all();
        return result;
    }

    int32_t GetPositionBytes(uint64_t& bytes) override {
        std::lock_guard lock(mutex_);
        if (failure_ == 0) (void)UpdatePlayed();
        bytes = played_;
        return kAudioNoError;
    }

protected:
    int32_t Queue(TAudioBuffer& buffer) override {
        Enqueue(buffer);
        return kAudioNoError;
    }

    int32_t DropPlayback() override {
        int32_t result = snd_pcm_drop(pcm_);
        if (result == 0) result = snd_pcm_prepare(pcm_);
        hardwarePaused_ = false;
        written_ = 0;
        return result;
    }

    int32_t Release() override {
        writer_.join();
        snd_pcm_drop(pcm_);
        return snd_pcm_close(pcm_);
    }

private:
    // Follows the ring's delay; a negative result is an error the ring met.
    int UpdatePlayed() {
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_DISCONNECTED) return -ENODEV;
        if (state == SND_PCM_STATE_SUSPENDED) return -ESTRPIPE;
        if (state == SND_PCM_STATE_XRUN) return -EPIPE;
        if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_DRAINING) return 0;
        snd_pcm_sframes_t delay = 0;
        if (const int result = snd_pcm_delay(pcm_, &delay); result < 0) return result;
        const uint64_t pending = std::min<uint64_t>(
            static_cast<uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0)) * blockAlign_, written_);
        played_ = std::max(played_, written_ - pending);
        return 0;
    }

    // Underruns, suspends and interrupted calls are recovered from; what the ring held is gone
    // then, so it counts as played. Any other error fails the device for good: true then.
    bool FailedOn(std::unique_lock<std::mutex>& lock, int error) {
        if (error >= 0) return false;
        if (RecoverableAudioError(error) && snd_pcm_recover(pcm_, error, 1) == 0) {
            played_ = written_;
            return false;
        }
        Fail(lock, error);
        return true;
    }

    // Hands ALSA as much of the queued data as it has room for; false when it had none or the
    // device failed.
    bool Feed(std::unique_lock<std::mutex>& lock) {
        const TQueuedBuffer* entry = nullptr;
        for (const TQueuedBuffer& candidate : queue_)
            if (candidate.Start <= written_ && written_ < candidate.End) entry = &candidate;
        if (entry == nullptr) return false;
        const uint64_t remaining = entry->End - written_;
        if (remaining < blockAlign_) { // a torn sample frame cannot be played
            written_ += remaining;
            return true;
        }
        const snd_pcm_sframes_t room = snd_pcm_avail_update(pcm_);
        if (room < 0) return !FailedOn(lock, static_cast<int>(room));
        if (room == 0) return false;
        const auto frames = static_cast<snd_pcm_uframes_t>(std::min<uint64_t>(
            {static_cast<uint64_t>(room), periodFrames_, remaining / blockAlign_}));
        const size_t bytes = frames * blockAlign_;
        std::memcpy(scratch_.data(), entry->Buffer->Data + (written_ - entry->Start), bytes);
        ScaleSamples(scratch_.data(), static_cast<uint32_t>(bytes), format_, volume_.load());
        const snd_pcm_sframes_t taken = snd_pcm_writei(pcm_, scratch_.data(), frames);
        if (taken == -EAGAIN) return false;
        if (taken < 0) return !FailedOn(lock, static_cast<int>(taken));
        written_ += static_cast<uint64_t>(taken) * blockAlign_;
        return true;
    }

    void RunWriter() {
        std::unique_lock lock(mutex_);
        while (!closed_) {
            // A failed device feeds nothing more; Close ends this thread.
            if (paused_ || failure_ != 0) {
                changed_.wait(lock);
                continue;
            }
            if (FailedOn(lock, UpdatePlayed())) continue;
            ReportPlayed(lock);
            if (closed_ || paused_) continue;
            if (written_ < queuedEnd_ && Feed(lock)) continue;
            if (failure_ != 0) continue;
            if (played_ < written_) {
                // ALSA waits for a full ring before it starts; the end of the data may never fill
                // it.
                if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED &&
                    FailedOn(lock, snd_pcm_start(pcm_)))
                    continue;
                changed_.wait_for(lock, kWriterPollInterval);
            } else if (written_ < queuedEnd_) {
                changed_.wait_for(lock, kWriterPollInterval);
            } else {
                changed_.wait(lock);
            }
        }
    }

    snd_pcm_t* pcm_;
    const TAudioFormat format_;
    const uint64_t blockAlign_;
    const bool canPause_;
    std::vector<uint8_t> scratch_;
    const uint64_t periodFrames_;
    uint64_t written_ = 0; // of the stream of queued bytes, how much ALSA has been given
    bool paused_ = false;
    bool hardwarePaused_ = false;
    std::thread writer_;
};

} // namespace

bool NoSoundCard() {
    int card = -1;
    return snd_card_next(&card) < 0 || card < 0;
}

int32_t AlsaDeviceCount() {
    return static_cast<int32_t>(PlaybackDeviceNames().size());
}

int32_t OpenAlsaAudioDevice(int32_t alsaIndex, const TAudioFormat& format, TAudioDoneTarget done,
                            std::unique_ptr<TAudioDevice>& device) {
    std::string name = "default";
    if (alsaIndex >= 0) {
        const auto& names = PlaybackDeviceNames();
        if (alsaIndex >= static_cast<int32_t>(names.size())) return kAudioBadDeviceId;
        name = names[static_cast<size_t>(alsaIndex)];
    }
    QuietAlsa();
    snd_pcm_t* pcm = nullptr;
    int result = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (result < 0) return result;
    const snd_pcm_format_t sampleFormat =
        format.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    result = snd_pcm_set_params(
        pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(format.Channels),
        static_cast<unsigned>(format.SamplesPerSecond), 1, kAlsaLatencyMicroseconds);
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    if (result == 0) result = snd_pcm_get_params(pcm, &bufferFrames, &periodFrames);
    bool canPause = false;
    if (result == 0) {
        snd_pcm_hw_params_t* hardware = nullptr;
        snd_pcm_hw_params_alloca(&hardware);
        if (snd_pcm_hw_params_current(pcm, hardware) == 0)
            canPause = snd_pcm_hw_params_can_pause(hardware) != 0;
    }
    if (result < 0) {
        snd_pcm_close(pcm);
        return result;
    }
    device = std::make_unique<TAlsaAudioDevice>(pcm, format, std::move(done), canPause,
                                                std::max<snd_pcm_uframes_t>(periodFrames, 64));
    return kAudioNoError;
}

} // namespace pelbrisk
