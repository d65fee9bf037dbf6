#include "platform/AudioDevice.h"

#include <alsa/asoundlib.h>
#include <cstdio>
#include <mutex>

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
