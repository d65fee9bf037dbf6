#include "platform/AudioDevice.h"

#include "platform/AudioDeviceQueue.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace pelbrisk {

int32_t TAudioDevice::Prepare(TAudioBuffer& buffer) {
    buffer.Prepared = true;
    return kAudioNoError;
}

int32_t TAudioDevice::Unprepare(TAudioBuffer& buffer) {
    if (IsQueued(buffer)) return kAudioStillPlaying;
    buffer.Prepared = false;
    return kAudioNoError;
}

TQueuedAudioDevice::TQueuedAudioDevice(TAudioDoneTarget done) : done_(std::move(done)) {}

int32_t TQueuedAudioDevice::Write(TAudioBuffer& buffer) {
    if (!buffer.Prepared) return kAudioUnprepared;
    int32_t result;
    {
        std::lock_guard lock(mutex_);
        result = failure_ != 0 ? failure_ : Queue(buffer);
    }
    changed_.notify_all();
    return result;
}

void TQueuedAudioDevice::Enqueue(TAudioBuffer& buffer) {
    buffer.Queued = true;
    queue_.push_back(TQueuedBuffer{&buffer, queuedEnd_, queuedEnd_ + buffer.Length});
    queuedEnd_ += buffer.Length;
}

int32_t TQueuedAudioDevice::Reset() {
    std::vector<uint32_t> dropped;
    int32_t result;
    {
        std::lock_guard lock(mutex_);
        // A device that has failed has nothing left to stop; its failure was reported already.
        result = failure_ != 0 ? kAudioNoError : DropPlayback();
        for (TQueuedBuffer& queued : queue_) {
            queued.Buffer->Queued = false;
            dropped.push_back(queued.Buffer->Index);
        }
        queue_.clear();
        queuedEnd_ = played_ = 0;
    }
    changed_.notify_all();
    for (uint32_t index : dropped)
        done_(index, kAudioNoError);
    return result;
}

bool TQueuedAudioDevice::ReportPlayed(std::unique_lock<std::mutex>& lock) {
    bool reported = false;
    while (!queue_.empty() && queue_.front().End <= played_) {
        const uint32_t index = queue_.front().Buffer->Index;
        queue_.front().Buffer->Queued = false;
        queue_.pop_front();
        ++reporting_;
        lock.unlock();
        done_(index, kAudioNoError);
        lock.lock();
        if (--reporting_ == 0) changed_.notify_all();
        reported = true;
    }
    return reported;
}

void TQueuedAudioDevice::Fail(std::unique_lock<std::mutex>& lock, int32_t code) {
    failure_ = code;
    std::vector<uint32_t> dropped;
    for (TQueuedBuffer& queued : queue_) {
        queued.Buffer->Queued = false;
        dropped.push_back(queued.Buffer->Index);
    }
    queue_.clear();
    ++reporting_;
    lock.unlock();
    changed_.notify_all();
    for (uint32_t index : dropped)
        done_(index, code);
    lock.lock();
    if (--reporting_ == 0) changed_.notify_all();
}

int32_t TQueuedAudioDevice::Close() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return kAudioNoError;
        closed_ = true;
        for (TQueuedBuffer& queued : queue_)
            queued.Buffer->Queued = false;
        queue_.clear();
    }
    changed_.notify_all();
    return Release();
}

bool TQueuedAudioDevice::IsQueued(const TAudioBuffer& buffer) {
    std::lock_guard lock(mutex_);
    return buffer.Queued;
}

int32_t TQueuedAudioDevice::SetVolume(uint32_t volumeWord) {
    volume_.store(volumeWord);
    return kAudioNoError;
}

int32_t TQueuedAudioDevice::GetVolume(uint32_t& volumeWord) {
    volumeWord = volume_.load();
    return kAudioNoError;
}

int32_t AudioDeviceCount() {
    return AlsaDeviceCount() + 1;
}

int32_t NullAudioDeviceId() {
    return AlsaDeviceCount();
}

std::string AudioDeviceName(int32_t deviceId) {
    if (deviceId == NullAudioDeviceId()) return "null";
    if (deviceId < -1 || deviceId > NullAudioDeviceId()) return {};
    return AlsaDeviceName(deviceId);
}

namespace {

std::mutex noticeMutex;
std::function<void(const std::string&)> noticeDisplay;

void ShowAudioNotice(const std::string& text) {
    std::function<void(const std::string&)> display;
    {
        std::lock_guard lock(noticeMutex);
        display = noticeDisplay;
    }
    if (display)
        display(text);
    else
        std::fprintf(stderr, "pelbrisk: %s\n", text.c_str());
}

} // namespace

void SetAudioNoticeDisplay(std::function<void(const std::string&)> display) {
    std::lock_guard lock(noticeMutex);
    noticeDisplay = std::move(display);
}

std::optional<int32_t> AudioDeviceChoice(const std::string& text) {
    if (text == "null") return NullAudioDeviceId();
    if (text == "default") return -1;
    int32_t number = -1;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, number);
    if (text.empty() || error != std::errc() || at != end || number < 0) return std::nullopt;
    return number;
}

std::optional<int32_t> AudioDeviceFromEnvironment() {
    const char* value = std::getenv("PELBRISK_AUDIO");
    if (value == nullptr || *value == '\0') return -1;
    return AudioDeviceChoice(value);
}

int32_t OpenAudioDevice(int32_t deviceId, const TAudioFormat& format, TAudioDoneTarget done,
                        std::unique_ptr<TAudioDevice>& device) {
    device.reset();
    if (format.Channels < 1 || format.SamplesPerSecond < 1 ||
        (format.BitsPerSample != 8 && format.BitsPerSample != 16))
        return kAudioNotSupported;
    const int32_t alsaDevices = AlsaDeviceCount();
    if (deviceId < -1 || deviceId > alsaDevices) return kAudioBadDeviceId;
    if (std::optional<TAudioFaultPlan> plan = CurrentAudioFaultPlan())
        return OpenFaultAudioDevice(*plan, format, std::move(done), device);
    if (deviceId == -1) {
        const int32_t opened = OpenAlsaAudioDevice(-1, format, done, device);
        // Only where there is no sound to be had at all does the default play into nothing; a
        // device that exists but fails to open (busy, its server gone) is an error to show.
        if (opened != -ENOENT || !NoSoundCard()) return opened;
        static std::once_flag noticeGiven;
        std::call_once(noticeGiven, [] {
            ShowAudioNotice("no sound card and no default sound device: playing silently on "
                            "the null device");
        });
        return OpenNullAudioDevice(format, std::move(done), device);
    }
    if (deviceId < alsaDevices)
        return OpenAlsaAudioDevice(deviceId, format, std::move(done), device);
    return OpenNullAudioDevice(format, std::move(done), device);
}

bool RecoverableAudioError(int32_t code) {
    return code == -EPIPE || code == -ESTRPIPE || code == -EINTR;
}

std::string AudioErrorText(int32_t code) {
    if (code < 0) return snd_strerror(code);
    switch (code) {
    case kAudioBadDeviceId:
        return "bad device ID";
    case kAudioNotSupported:
        return "function not supported";
    case kAudioStillPlaying:
        return "still something playing";
    case kAudioUnprepared:
        return "header not prepared";
    case kAudioStalled:
        return "the sound device stopped playing";
    case kAudioServerUnreachable:
        return "cannot reach the sound server";
    case kAudioServerLost:
        return "lost the sound server";
    case kAudioDeviceLost:
        return "the sound device keeps failing";
    default:
        return {};
    }
}

void ScaleSamples(uint8_t* data, uint32_t bytes, const TAudioFormat& format, uint32_t volumeWord,
                  float gain) {
    if (volumeWord == 0xFFFFFFFFu && gain == 1.0f) return;
    // Far beyond any sound gain; it keeps the products within 64 bits.
    static constexpr double kLargestFactor = 65535.0 * 1000;
    const auto factor = [gain](uint32_t volume) {
        return static_cast<int64_t>(std::lround(std::min(volume * double(gain), kLargestFactor)));
    };
    const int64_t left = factor(volumeWord & 0xFFFF);
    const int64_t right = factor(volumeWord >> 16);
    const int32_t channels = format.Channels;
    if (format.BitsPerSample == 16) {
        const uint32_t count = bytes / 2;
        for (uint32_t i = 0; i < count; ++i) {
            const int64_t factor = (channels == 2 && (i & 1)) ? right : left;
            const int64_t sample = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
            const auto scaled =
                static_cast<int32_t>(std::clamp<int64_t>(sample * factor / 65535, -32768, 32767));
            data[2 * i] = static_cast<uint8_t>(scaled & 0xFF);
            data[2 * i + 1] = static_cast<uint8_t>((scaled >> 8) & 0xFF);
        }
    } else {
        for (uint32_t i = 0; i < bytes; ++i) {
            const int64_t factor = (channels == 2 && (i & 1)) ? right : left;
            const int64_t sample = static_cast<int32_t>(data[i]) - 128;
            data[i] =
                static_cast<uint8_t>(std::clamp<int64_t>(sample * factor / 65535, -128, 127) + 128);
        }
    }
}

} // namespace pelbrisk
