#include "platform/AudioDevice.h"

#include "platform/AudioDeviceQueue.h"

#include <alsa/asoundlib.h>
#include <cstdio>
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
        result = Queue(buffer);
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
        result = DropPlayback();
        for (TQueuedBuffer& queued : queue_) {
            queued.Buffer->Queued = false;
            dropped.push_back(queued.Buffer->Index);
        }
        queue_.clear();
        queuedEnd_ = played_ = 0;
    }
    changed_.notify_all();
    for (uint32_t index : dropped)
        done_(index);
    return result;
}

bool TQueuedAudioDevice::ReportPlayed(std::unique_lock<std::mutex>& lock) {
    bool reported = false;
    while (!queue_.empty() && queue_.front().End <= played_) {
        const uint32_t index = queue_.front().Buffer->Index;
        queue_.front().Buffer->Queued = false;
        queue_.pop_front();
        lock.unlock();
        done_(index);
        lock.lock();
        reported = true;
    }
    return reported;
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

int32_t OpenAudioDevice(int32_t deviceId, const TAudioFormat& format, TAudioDoneTarget done,
                        std::unique_ptr<TAudioDevice>& device) {
    device.reset();
    if (format.Channels < 1 || format.SamplesPerSecond < 1 ||
        (format.BitsPerSample != 8 && format.BitsPerSample != 16))
        return kAudioNotSupported;
    const int32_t alsaDevices = AlsaDeviceCount();
    if (deviceId == -1) {
        if (OpenAlsaAudioDevice(-1, format, done, device) == kAudioNoError) return kAudioNoError;
        // A machine without sound still plays (silently) rather than refusing; say so once.
        static std::once_flag noticeGiven;
        std::call_once(noticeGiven, [] {
            std::fprintf(stderr, "pelbrisk: no ALSA output device could be opened; "
                                 "playing on the null device\n");
        });
        return OpenNullAudioDevice(format, std::move(done), device);
    }
    if (deviceId >= 0 && deviceId < alsaDevices)
        return OpenAlsaAudioDevice(deviceId, format, std::move(done), device);
    if (deviceId == alsaDevices) return OpenNullAudioDevice(format, std::move(done), device);
    return kAudioBadDeviceId;
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
    default:
        return {};
    }
}

void ScaleSamples(uint8_t* data, uint32_t bytes, const TAudioFormat& format, uint32_t volumeWord) {
    if (volumeWord == 0xFFFFFFFFu) return;
    const int32_t left = static_cast<int32_t>(volumeWord & 0xFFFF);
    const int32_t right = static_cast<int32_t>(volumeWord >> 16);
    const int32_t channels = format.Channels;
    if (format.BitsPerSample == 16) {
        const uint32_t count = bytes / 2;
        for (uint32_t i = 0; i < count; ++i) {
            const int32_t gain = (channels == 2 && (i & 1)) ? right : left;
            const int32_t sample = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
            const int32_t scaled = sample * gain / 65535;
            data[2 * i] = static_cast<uint8_t>(scaled & 0xFF);
            data[2 * i + 1] = static_cast<uint8_t>((scaled >> 8) & 0xFF);
        }
    } else {
        for (uint32_t i = 0; i < bytes; ++i) {
            const int32_t gain = (channels == 2 && (i & 1)) ? right : left;
            const int32_t sample = static_cast<int32_t>(data[i]) - 128;
            data[i] = static_cast<uint8_t>(sample * gain / 65535 + 128);
        }
    }
}

} // namespace pelbrisk
