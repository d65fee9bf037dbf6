#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pelbrisk {

// PCM as the device is opened for it: interleaved, 8-bit unsigned or 16-bit signed.
struct TAudioFormat {
    int32_t Channels = 2;
    int32_t SamplesPerSecond = 44100;
    int32_t BitsPerSample = 16;
    int32_t BlockAlign() const { return Channels * BitsPerSample / 8; }
};

// One buffer handed to a device. The device reads Data[0, Length) until it reports the
// buffer done; the owner keeps the memory alive and untouched until then.
struct TAudioBuffer {
    uint8_t* Data = nullptr;
    uint32_t Length = 0;
    uint32_t Index = 0; // reported back with the done notice
    // The song's ReplayGain, applied with the volume as the buffer plays: set by the owner
    // before the write, so that a change of song changes it at the buffer where it happens.
    float Gain = 1.0f;
    bool Prepared = false;
    bool Queued = false; // between Write and its done notice; guarded by the device
};

// Told once per written buffer, on a device thread, when that buffer has been played (or
// dropped by Reset), with kAudioNoError; or with the device's error when the device failed for
// good and dropped it. It must only post onward, never call back into the device.
using TAudioDoneTarget = std::function<void(uint32_t bufferIndex, int32_t result)>;

// Result codes: 0 success, negative values are ALSA error numbers, positive ones are these.
inline constexpr int32_t kAudioNoError = 0;
inline constexpr int32_t kAudioBadDeviceId = 2;
inline constexpr int32_t kAudioNotSupported = 8;
inline constexpr int32_t kAudioUnprepared = 34;
inline constexpr int32_t kAudioStillPlaying = 33;
// Raised by the sound output when a device takes buffers and never reports them played.
inline constexpr int32_t kAudioStalled = 35;
// The sound server behind the device cannot be reached (not running, or not answering).
inline constexpr int32_t kAudioServerUnreachable = 36;
// The device's stream broke and would not start again: a sound server that went away, or a
// device that fails each time it is restarted.
inline constexpr int32_t kAudioServerLost = 37;
inline constexpr int32_t kAudioDeviceLost = 38;

// An open output device with the waveform-audio operations the sound output needs. Volume
// and balance scale the samples inside the device, as a hardware mixer would.
class TAudioDevice {
public:
    virtual ~TAudioDevice() = default;

    int32_t Prepare(TAudioBuffer& buffer);
    // kAudioStillPlaying while the buffer is queued.
    int32_t Unprepare(TAudioBuffer& buffer);
    // Queues a prepared buffer behind the ones already written.
    virtual int32_t Write(TAudioBuffer& buffer) = 0;
    // Drops everything queued (each such buffer is reported done at once) and starts the
    // position count again from 0.
    virtual int32_t Reset() = 0;
    virtual int32_t Pause() = 0;
    virtual int32_t Restart() = 0;
    // Bytes played since open or the last Reset.
    virtual int32_t GetPositionBytes(uint64_t& bytes) = 0;
    // Left volume in the low 16 bits, right in the high 16 bits; 0xFFFF is full.
    virtual int32_t SetVolume(uint32_t volumeWord) = 0;
    virtual int32_t GetVolume(uint32_t& volumeWord) = 0;
    // Closing drops whatever is still queued without further notices. It returns within about
    // 1.5 s even when the device hangs; such a device is let go of in the background.
    virtual int32_t Close() = 0;
    // How many times faster than real time the device plays: 1 except for test devices.
    virtual double Speed() const { return 1.0; }

protected:
    virtual bool IsQueued(const TAudioBuffer& buffer) = 0;
};

// Device ids: -1 the default device, 0 .. n-1 the ALSA playback devices, n the null device.
// The default is ALSA's; only on a machine with no sound card and no default PCM at all does
// it play on the null device, and then the notice display is told once. A sound server that
// cannot be reached fails the open with kAudioServerUnreachable.
int32_t AudioDeviceCount(); // n + 1
int32_t NullAudioDeviceId();
// "default", "null", the ALSA name of a device, or empty for an id that names none.
std::string AudioDeviceName(int32_t deviceId);
// "null", "default" or a device number, as PELBRISK_AUDIO and the command line give it;
// nothing when the text names none of these.
std::optional<int32_t> AudioDeviceChoice(const std::string& text);
// The device PELBRISK_AUDIO asks for: the default when it is unset or empty, nothing when it
// names no device.
std::optional<int32_t> AudioDeviceFromEnvironment();
// Where the one notice about playing on the null device goes; without one, standard error.
void SetAudioNoticeDisplay(std::function<void(const std::string&)> display);
// On success `device` is open and `done` will be told of every buffer written to it.
int32_t OpenAudioDevice(int32_t deviceId, const TAudioFormat& format, TAudioDoneTarget done,
                        std::unique_ptr<TAudioDevice>& device);
// The system's description of a result code; empty when there is none.
std::string AudioErrorText(int32_t code);

// Scales interleaved samples in place by the volume word, left (low half) for even channels,
// right (high half) for odd ones, times `gain`; 0xFFFF at a gain of 1 leaves them as they are.
// A gain above 1 may push samples past full scale: they are held at its ends.
void ScaleSamples(uint8_t* data, uint32_t bytes, const TAudioFormat& format, uint32_t volumeWord,
                  float gain = 1.0f);

// Backend entry points used by OpenAudioDevice.
int32_t OpenNullAudioDevice(const TAudioFormat& format, TAudioDoneTarget done,
                            std::unique_ptr<TAudioDevice>& device);
int32_t AlsaDeviceCount();
std::string AlsaDeviceName(int32_t alsaIndex); // -1: "default"
int32_t OpenAlsaAudioDevice(int32_t alsaIndex, const TAudioFormat& format, TAudioDoneTarget done,
                            std::unique_ptr<TAudioDevice>& device); // alsaIndex -1: "default"
// True when the system has no sound card at all.
bool NoSoundCard();
// Whether a device error is one that ALSA recovers from (underrun, suspend, interrupted call).
bool RecoverableAudioError(int32_t code);

// Faults for tests. While a plan is set, every device opened, whatever its id, is a fault
// device: it plays like the null device, `Speed` times faster than real time, and fails as
// planned. Open returns `Error` for every open. Otherwise the `Nth` call of the chosen kind
// (counted per device) meets the fault: Write returns `Error`;
// Avail (the player thread's look at the ring, once per 10 ms of sound) and Start (whenever
// sound starts after the ring ran dry) meet `Error` on the device's own thread, where a
// recoverable error is recovered from and any other fails the device for good; Close returns
// `Error` after closing. With `Stall` the device instead stops playing from that call on and
// reports nothing more until it is reset or closed. An `Nth` of 0 plans no fault. `WakeUpMs`
// holds back the first sound of each device for that long in real time, as a sink waking from
// idle does.
enum class TAudioFaultPoint { Open, Write, Avail, Start, Close };
struct TAudioFaultPlan {
    TAudioFaultPoint Point = TAudioFaultPoint::Write;
    int32_t Nth = 1;
    int32_t Error = -5; // -EIO
    bool Stall = false;
    double Speed = 1.0;
    int32_t WakeUpMs = 0;
};
void SetAudioFaultPlan(std::optional<TAudioFaultPlan> plan);
std::optional<TAudioFaultPlan> CurrentAudioFaultPlan();
// How many planned faults devices have met since the plan was set.
int32_t AudioFaultsMet();
int32_t OpenFaultAudioDevice(const TAudioFaultPlan& plan, const TAudioFormat& format,
                             TAudioDoneTarget done, std::unique_ptr<TAudioDevice>& device);

} // namespace pelbrisk
