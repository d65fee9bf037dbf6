#include "platform/AudioDevice.h"
#include "platform/AudioDeviceQueue.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pelbrisk {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Latency of the ALSA ring: short enough that pause, reset and volume act promptly.
constexpr unsigned kAlsaLatencyMicroseconds = 200000;
// Recoveries in a row after which the stream broke again before it ran are spaced out, the
// pause doubling from the first to the longest, and given up after the limit: such a stream
// (its sound server is gone) has failed. A stream that ran in between had an underrun, however
// long its server hung before it, and is recovered from at once.
constexpr auto kFirstRecoveryPause = 10ms;
constexpr auto kLongestRecoveryPause = 250ms;
constexpr auto kRecoveryLimit = 1s;
// How long an open may take: a server that does not answer by then is reported unreachable.
constexpr auto kOpenLimit = 2s;
// How long Close waits for the writer to let go of ALSA. A sound server that hangs can hold a
// drop or a close for half a minute; the writer then finishes on its own.
constexpr auto kCloseLimit = 1500ms;

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

// Silence given to ALSA after `At` bytes of the queued sound.
struct TPad {
    uint64_t At;
    uint64_t Bytes;
};

struct TRingLook {
    snd_pcm_state_t State = SND_PCM_STATE_OPEN;
    snd_pcm_sframes_t Room = 0;
};

// Only the writer thread calls ALSA once the PCM is open, and never while it holds mutex_: a
// sound server that hangs may hold a call for seconds, and every other thread (the player's
// writes, the window's position reads, Stop) only ever waits for mutex_. Pause, restart and
// reset are asked for under mutex_ and carried out by the writer. The writer feeds the PCM from
// the queued buffers (scaled by the volume word) and reports each buffer done once the PCM's
// delay shows that its last byte has been played, or the ring has run empty.
class TAlsaAudioDevice final : public TQueuedAudioDevice,
                               public std::enable_shared_from_this<TAlsaAudioDevice> {
public:
    TAlsaAudioDevice(snd_pcm_t* pcm, const TAudioFormat& format, TAudioDoneTarget done,
                     bool canPause, snd_pcm_uframes_t bufferFrames, snd_pcm_uframes_t periodFrames)
        : TQueuedAudioDevice(std::move(done)), pcm_(pcm), format_(format),
          blockAlign_(static_cast<uint64_t>(format.BlockAlign())), canPause_(canPause),
          serverStream_(snd_pcm_type(pcm) == SND_PCM_TYPE_IOPLUG), periodFrames_(periodFrames),
          bufferFrames_(bufferFrames),
          feedFrames_(std::max<uint64_t>(bufferFrames / 2, periodFrames)),
          scratch_(static_cast<size_t>(feedFrames_) * blockAlign_),
          // A full ring is topped up once half of it has played: the other half covers a late
          // wake-up, and the processor is left alone in between.
          lookInterval_(std::chrono::microseconds(
              feedFrames_ * 1000000 / static_cast<uint64_t>(format.SamplesPerSecond))) {}

    ~TAlsaAudioDevice() override { Close(); }

    void Start() {
        writer_ = std::thread([self = shared_from_this()] { self->RunWriter(); });
    }

    int32_t Pause() override { return AskPause(true); }
    int32_t Restart() override { return AskPause(false); }

    int32_t GetPositionBytes(uint64_t& bytes) override {
        std::lock_guard lock(mutex_);
        bytes = played_;
        return kAudioNoError;
    }

    bool Holds(const TAudioBuffer& buffer) { return IsQueued(buffer); }

protected:
    int32_t Queue(TAudioBuffer& buffer) override {
        Enqueue(buffer);
        return kAudioNoError;
    }

    int32_t DropPlayback() override {
        dropAsked_ = true;
        ++generation_;
        written_ = 0;
        pads_.clear();
        return kAudioNoError;
    }

    int32_t Release() override {
        bool finished;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return reporting_ == 0; });
            finished = changed_.wait_for(lock, kCloseLimit, [this] { return writerFinished_; });
        }
        if (finished)
            writer_.join();
        else
            writer_.detach(); // it holds this device until it is done with the PCM
        return kAudioNoError;
    }

private:
    int32_t AskPause(bool pause) {
        {
            std::lock_guard lock(mutex_);
            if (failure_ != 0) return failure_;
            paused_ = pause;
        }
        changed_.notify_all();
        return kAudioNoError;
    }

    // Runs an ALSA call with mutex_ let go. False when a reset or a close came in meanwhile, so
    // that what the call saw no longer counts.
    template <typename Call>
    bool Unlocked(std::unique_lock<std::mutex>& lock, Call&& call) {
        const uint64_t generation = generation_;
        lock.unlock();
        call();
        lock.lock();
        return generation == generation_ && !closed_;
    }

    int32_t LostCode() const { return serverStream_ ? kAudioServerLost : kAudioDeviceLost; }

    // Underruns, suspends and interrupted calls are recovered from; what the ring held is gone
    // then, so it counts as played. Any other error, and a recovery that fails or keeps bringing
    // no sound forward, fails the device for good: true then.
    bool FailedOn(std::unique_lock<std::mutex>& lock, int error) {
        if (error >= 0) return false;
        if (!RecoverableAudioError(error)) {
            Fail(lock, error);
            return true;
        }
        const Clock::time_point now = Clock::now();
        if (ranSinceRecovery_) fruitlessRecoveries_ = 0;
        if (fruitlessRecoveries_ == 0) {
            recoveriesSince_ = now;
        } else {
            if (now - recoveriesSince_ >= kRecoveryLimit) {
                Fail(lock, LostCode());
                return true;
            }
            const auto pause = std::min<Clock::duration>(
                kFirstRecoveryPause * (1 << std::min(fruitlessRecoveries_ - 1, 8)),
                kLongestRecoveryPause);
            if (changed_.wait_for(lock, pause, [this] { return closed_ || dropAsked_; }))
                return false;
        }
        ++fruitlessRecoveries_;
        ranSinceRecovery_ = false;
        int recovered = 0;
        if (!Unlocked(lock, [&] { recovered = snd_pcm_recover(pcm_, error, 1); })) return false;
        if (recovered < 0) {
            Fail(lock, LostCode());
            return true;
        }
        played_ = written_;
        pads_.clear();
        return false;
    }

    // Looks at the ring and follows its delay; false when there is nothing to go on with (an
    // error, recovered from or not, or a reset meanwhile).
    bool Look(std::unique_lock<std::mutex>& lock, TRingLook& look) {
        int error = 0;
        snd_pcm_sframes_t delay = 0;
        const bool current = Unlocked(lock, [&] {
            look.State = snd_pcm_state(pcm_);
            if (look.State == SND_PCM_STATE_DISCONNECTED) error = -ENODEV;
            if (look.State == SND_PCM_STATE_SUSPENDED) error = -ESTRPIPE;
            if (look.State == SND_PCM_STATE_XRUN) error = -EPIPE;
            // With hardware synchronisation: PipeWire's plugin reports a drained ring only here.
            if (error == 0) look.Room = snd_pcm_avail(pcm_);
            if (error == 0 && look.Room < 0) error = static_cast<int>(look.Room);
            if (error == 0 && Playing(look.State)) error = snd_pcm_delay(pcm_, &delay);
        });
        if (!current) return false;
        if (error < 0) {
            FailedOn(lock, error);
            return false;
        }
        if (!Playing(look.State)) return true;
        ranSinceRecovery_ = true;
        // A sound server keeps its stream running with a delay that wanders above zero once the
        // ring has drained; a ring with all its room free has played everything.
        const uint64_t pending =
            look.Room >= static_cast<snd_pcm_sframes_t>(bufferFrames_)
                ? 0
                : SoundPending(static_cast<uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0)) *
                               blockAlign_);
        played_ = std::max(played_, written_ - pending);
        return true;
    }

    // Of the last `bytes` given to ALSA, how many are queued sound rather than padding; padding
    // that has been played is forgotten.
    uint64_t SoundPending(uint64_t bytes) {
        uint64_t sound = 0;
        uint64_t end = written_;
        auto pad = pads_.rbegin();
        for (; pad != pads_.rend() && bytes > 0; ++pad) {
            const uint64_t after = std::min(bytes, end - pad->At);
            sound += after;
            bytes -= after;
            bytes -= std::min(bytes, pad->Bytes);
            end = pad->At;
        }
        pads_.erase(pads_.begin(), pad.base());
        return std::min(sound + std::min(bytes, end), written_);
    }

    // With everything queued handed over, silence keeps the ring going until the sound before
    // it has played: a PulseAudio server holds back the last few milliseconds of a stream that
    // is not drained, and the position ALSA reports stays meaningful. A close drops it.
    void Pad(std::unique_lock<std::mutex>& lock, snd_pcm_sframes_t room) {
        const auto frames = static_cast<snd_pcm_uframes_t>(
            std::min<uint64_t>(static_cast<uint64_t>(room), periodFrames_));
        snd_pcm_sframes_t taken = 0;
        if (!Unlocked(lock, [&] {
                std::memset(scratch_.data(), format_.BitsPerSample == 8 ? 0x80 : 0,
                            frames * blockAlign_);
                taken = snd_pcm_writei(pcm_, scratch_.data(), frames);
            }))
            return;
        if (taken == -EAGAIN) return;
        if (taken < 0) {
            FailedOn(lock, static_cast<int>(taken));
            return;
        }
        const uint64_t bytes = static_cast<uint64_t>(taken) * blockAlign_;
        if (!pads_.empty() && pads_.back().At == written_)
            pads_.back().Bytes += bytes;
        else
            pads_.push_back(TPad{written_, bytes});
    }

    // Once everything queued is in the ring, the next look comes when the rest should have
    // played, so that the end is told without waiting out a whole period.
    std::chrono::microseconds NextLook() const {
        if (written_ < queuedEnd_) return lookInterval_;
        const uint64_t bytesPerSecond =
            static_cast<uint64_t>(format_.SamplesPerSecond) * blockAlign_;
        return std::min(lookInterval_, std::chrono::microseconds(
                                           (written_ - played_) * 1000000 / bytesPerSecond + 1000));
    }

    static bool Playing(snd_pcm_state_t state) {
        return state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_DRAINING;
    }

    // Hands ALSA as much of the queued data as it has room for; false when it had none or the
    // device failed.
    bool Feed(std::unique_lock<std::mutex>& lock, snd_pcm_sframes_t room) {
        const TQueuedBuffer* entry = nullptr;
        for (const TQueuedBuffer& candidate : queue_)
            if (candidate.Start <= written_ && written_ < candidate.End) entry = &candidate;
        if (entry == nullptr) return false;
        const uint64_t remaining = entry->End - written_;
        if (remaining < blockAlign_) { // a torn sample frame cannot be played
            written_ += remaining;
            return true;
        }
        if (room <= 0) return false;
        const auto frames = static_cast<snd_pcm_uframes_t>(std::min<uint64_t>(
            {static_cast<uint64_t>(room), feedFrames_, remaining / blockAlign_}));
        const size_t bytes = frames * blockAlign_;
        // Copied under the lock: a reset may hand the buffer back for refilling at any moment.
        std::memcpy(scratch_.data(), entry->Buffer->Data + (written_ - entry->Start), bytes);
        const float gain = entry->Buffer->Gain;
        snd_pcm_sframes_t taken = 0;
        if (!Unlocked(lock, [&] {
                ScaleSamples(scratch_.data(), static_cast<uint32_t>(bytes), format_, volume_.load(),
                             gain);
                taken = snd_pcm_writei(pcm_, scratch_.data(), frames);
            }))
            return true;
        if (taken == -EAGAIN) return false;
        if (taken < 0) return !FailedOn(lock, static_cast<int>(taken));
        written_ += static_cast<uint64_t>(taken) * blockAlign_;
        return true;
    }

    // ALSA waits for a full ring before it starts; the end of the data may never fill it.
    void StartIfWaiting(std::unique_lock<std::mutex>& lock) {
        int started = 0;
        if (Unlocked(lock, [&] {
                if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) started = snd_pcm_start(pcm_);
            }))
            FailedOn(lock, started);
    }

    // A reset drops what ALSA holds before anything new is fed.
    void DropRing(std::unique_lock<std::mutex>& lock) {
        dropAsked_ = false;
        int result = 0;
        if (!Unlocked(lock, [&] {
                result = snd_pcm_drop(pcm_);
                if (result == 0) result = snd_pcm_prepare(pcm_);
            }))
            return;
        // An empty prepared ring plays nothing: a pause asked for meanwhile holds already.
        hardwarePaused_ = false;
        pauseHeld_ = paused_;
        FailedOn(lock, result);
    }

    // Without a pausable PCM, a pause drops what ALSA holds, and a restart feeds it again.
    void FollowPause(std::unique_lock<std::mutex>& lock) {
        const bool pause = paused_;
        const bool wasHardwarePaused = hardwarePaused_;
        bool hardware = false;
        bool dropped = false;
        int result = 0;
        if (!Unlocked(lock, [&] {
                if (!pause) {
                    if (wasHardwarePaused) result = snd_pcm_pause(pcm_, 0);
                    return;
                }
                if (canPause_ && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) {
                    result = snd_pcm_pause(pcm_, 1);
                    hardware = result == 0;
                }
                if (!hardware) {
                    result = snd_pcm_drop(pcm_);
                    if (result == 0) result = snd_pcm_prepare(pcm_);
                    dropped = true;
                }
            }))
            return;
        pauseHeld_ = pause;
        hardwarePaused_ = hardware;
        if (dropped) {
            written_ = played_;
            pads_.clear();
        }
        FailedOn(lock, result);
    }

    void RunWriter() {
        std::unique_lock lock(mutex_);
        while (!closed_) {
            // A failed device feeds nothing more; Close ends this thread.
            if (failure_ != 0) {
                changed_.wait(lock);
            } else if (dropAsked_) {
                DropRing(lock);
            } else if (paused_ != pauseHeld_) {
                FollowPause(lock);
            } else if (paused_ || (played_ >= written_ && written_ >= queuedEnd_)) {
                changed_.wait(lock);
            } else {
                TRingLook look;
                const bool looked = Look(lock, look);
                // Also after a recovery, which counts what the ring held as played.
                ReportPlayed(lock);
                if (!looked || closed_ || paused_ || dropAsked_ || failure_ != 0) continue;
                if (written_ < queuedEnd_ && Feed(lock, look.Room)) continue;
                if (failure_ != 0 || dropAsked_ || closed_) continue;
                if (played_ < written_ && look.State == SND_PCM_STATE_PREPARED)
                    StartIfWaiting(lock);
                else if (played_ < written_ && written_ >= queuedEnd_ && Playing(look.State) &&
                         look.Room + 2 * static_cast<snd_pcm_sframes_t>(periodFrames_) >
                             static_cast<snd_pcm_sframes_t>(bufferFrames_))
                    Pad(lock, look.Room);
                changed_.wait_for(lock, NextLook());
            }
        }
        lock.unlock();
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
        lock.lock();
        writerFinished_ = true;
        changed_.notify_all();
    }

    snd_pcm_t* pcm_;
    const TAudioFormat format_;
    const uint64_t blockAlign_;
    const bool canPause_;
    const bool serverStream_;
    const uint64_t periodFrames_;
    const uint64_t bufferFrames_;
    const uint64_t feedFrames_; // at most in one write
    std::vector<uint8_t> scratch_;
    const std::chrono::microseconds lookInterval_;
    uint64_t written_ = 0;    // of the stream of queued bytes, how much ALSA has been given
    std::deque<TPad> pads_;   // in the ring, or perhaps still
    uint64_t generation_ = 0; // counts resets
    bool dropAsked_ = false;
    bool paused_ = false;    // as asked
    bool pauseHeld_ = false; // as carried out
    bool hardwarePaused_ = false;
    int32_t fruitlessRecoveries_ = 0;
    Clock::time_point recoveriesSince_;
    bool ranSinceRecovery_ = false;
    bool writerFinished_ = false;
    std::thread writer_;
};

// What the sound output holds: the device itself is shared with its writer thread, which may
// outlive a Close that a hung sound server would otherwise hold up.
class TAlsaDeviceHandle final : public TAudioDevice {
public:
    explicit TAlsaDeviceHandle(std::shared_ptr<TAlsaAudioDevice> device)
        : device_(std::move(device)) {}
    ~TAlsaDeviceHandle() override { device_->Close(); }

    int32_t Write(TAudioBuffer& buffer) override { return device_->Write(buffer); }
    int32_t Reset() override { return device_->Reset(); }
    int32_t Pause() override { return device_->Pause(); }
    int32_t Restart() override { return device_->Restart(); }
    int32_t GetPositionBytes(uint64_t& bytes) override { return device_->GetPositionBytes(bytes); }
    int32_t SetVolume(uint32_t volumeWord) override { return device_->SetVolume(volumeWord); }
    int32_t GetVolume(uint32_t& volumeWord) override { return device_->GetVolume(volumeWord); }
    int32_t Close() override { return device_->Close(); }

protected:
    bool IsQueued(const TAudioBuffer& buffer) override { return device_->Holds(buffer); }

private:
    std::shared_ptr<TAlsaAudioDevice> device_;
};

struct TOpened {
    snd_pcm_t* Pcm = nullptr;
    int Error = 0;
    snd_pcm_uframes_t BufferFrames = 0;
    snd_pcm_uframes_t PeriodFrames = 0;
    bool CanPause = false;
};

TOpened OpenPcm(const std::string& name, const TAudioFormat& format) {
    TOpened opened;
    opened.Error =
        snd_pcm_open(&opened.Pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (opened.Error < 0) {
        opened.Pcm = nullptr;
        return opened;
    }
    const snd_pcm_format_t sampleFormat =
        format.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    opened.Error = snd_pcm_set_params(opened.Pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED,
                                      static_cast<unsigned>(format.Channels),
                                      static_cast<unsigned>(format.SamplesPerSecond), 1,
                                      kAlsaLatencyMicroseconds);
    if (opened.Error == 0)
        opened.Error = snd_pcm_get_params(opened.Pcm, &opened.BufferFrames, &opened.PeriodFrames);
    if (opened.Error == 0) {
        snd_pcm_hw_params_t* hardware = nullptr;
        snd_pcm_hw_params_alloca(&hardware);
        if (snd_pcm_hw_params_current(opened.Pcm, hardware) == 0)
            opened.CanPause = snd_pcm_hw_params_can_pause(hardware) != 0;
    }
    if (opened.Error < 0) {
        snd_pcm_close(opened.Pcm);
        opened.Pcm = nullptr;
    }
    return opened;
}

// An open handed over to a thread of its own: PulseAudio's plugin waits half a minute for a
// server that hangs. The caller waits at most kOpenLimit and then abandons it.
struct TOpening {
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
    bool Abandoned = false;
    TOpened Result;
};

// PipeWire's plugin says "host is down" and PulseAudio's "connection refused" when their server
// does not answer.
int32_t OpenFailure(int error) {
    return error == -EHOSTDOWN || error == -ECONNREFUSED ? kAudioServerUnreachable : error;
}

} // namespace

bool NoSoundCard() {
    int card = -1;
    return snd_card_next(&card) < 0 || card < 0;
}

int32_t AlsaDeviceCount() {
    return static_cast<int32_t>(PlaybackDeviceNames().size());
}

std::string AlsaDeviceName(int32_t alsaIndex) {
    if (alsaIndex < 0) return "default";
    const auto& names = PlaybackDeviceNames();
    if (alsaIndex >= static_cast<int32_t>(names.size())) return {};
    return names[static_cast<size_t>(alsaIndex)];
}

int32_t OpenAlsaAudioDevice(int32_t alsaIndex, const TAudioFormat& format, TAudioDoneTarget done,
                            std::unique_ptr<TAudioDevice>& device) {
    const std::string name = AlsaDeviceName(alsaIndex);
    if (name.empty()) return kAudioBadDeviceId;
    QuietAlsa();
    // The opening thread and this one share it; whichever lets go last frees it.
    auto opening = std::make_shared<TOpening>();
    std::thread([opening, name, format] {
        TOpened opened = OpenPcm(name, format);
        std::lock_guard lock(opening->Mutex);
        if (opening->Abandoned && opened.Pcm != nullptr) snd_pcm_close(opened.Pcm);
        opening->Result = opened;
        opening->Finished = true;
        opening->Done.notify_all();
    }).detach();
    TOpened opened;
    {
        std::unique_lock lock(opening->Mutex);
        if (!opening->Done.wait_for(lock, kOpenLimit, [&] { return opening->Finished; })) {
            opening->Abandoned = true;
            return kAudioServerUnreachable;
        }
        opened = opening->Result;
    }
    if (opened.Error < 0) return OpenFailure(opened.Error);
    auto playing = std::make_shared<TAlsaAudioDevice>(
        opened.Pcm, format, std::move(done), opened.CanPause, opened.BufferFrames,
        std::max<snd_pcm_uframes_t>(opened.PeriodFrames, 64));
    playing->Start();
    device = std::make_unique<TAlsaDeviceHandle>(std::move(playing));
    return kAudioNoError;
}

} // namespace pelbrisk
