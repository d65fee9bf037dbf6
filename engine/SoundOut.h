#pragma once

#include "engine/Events.h"
#include "engine/LoopThread.h"
#include "engine/Threads.h"
#include "platform/AudioDevice.h"
#include "stream/Errors.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelbrisk {

// Playback pitch in percent for the whole process: the device is opened at the sample rate
// scaled by it. The user interface keeps it within 20..200; it takes effect at the next open.
extern std::atomic<int32_t> PitchPercent;

// The device's "buffer done" message and the sound output's own file-writing message.
inline constexpr uint32_t MM_WOM_DONE = 0x3BD;
inline constexpr uint32_t MPM_WRITEFILE = 0x414;
// Wakes the output thread so that its next wait has the new timeout; no handler.
inline constexpr uint32_t MPM_WATCHDEVICE = 0x415;

inline constexpr int32_t kSoundBufferCount = 4;
inline constexpr int32_t kWavHeaderBytes = 44;
// The 36-byte chunk that an RF64 file holds behind "WAVE": JUNK until the data needs it.
inline constexpr int32_t kDs64ChunkBytes = 36;
// A WAV size field that says "up to the end of the file", as a pipe's header must.
inline constexpr uint32_t kStreamedWavSize = 0xFFFFFFFFu;

// The header of a WAV file holding `dataBytes` of PCM in `format`. With `rf64Room` it carries a
// ds64-sized chunk behind "WAVE": a JUNK chunk, which becomes the ds64 chunk of an RF64 file
// once the sizes pass what 32 bits hold. Without that room such a size reads kStreamedWavSize,
// as it does for a pipe (dataBytes kStreamedWavSize); no size ever wraps.
std::vector<uint8_t> WaveFileHeader(const TAudioFormat& format, uint64_t dataBytes, bool rf64Room);

using TNotifyEvent = std::function<void(void* sender)>;

// A failure of the sound device rather than of the music: hosts show it without a file's name.
class EAudioDeviceError : public EMP3Error {
public:
    using EMP3Error::EMP3Error;
};
bool IsAudioDeviceError(const std::exception_ptr& error);

// Plays PCM through a ring of four half-second buffers on an audio device, or writes it to a
// WAV file. Its own loop thread receives the device's done notices, paces the position
// notices and writes the WAV file.
class TSoundOut final : public TMPMessageHandler {
public:
    TSoundOut();
    ~TSoundOut();
    TSoundOut(const TSoundOut&) = delete;
    TSoundOut& operator=(const TSoundOut&) = delete;

    // The format setters act at the next Open; invalid values are ignored.
    int32_t SampleRate() const { return sampleRate_; }
    void SetSampleRate(int32_t value);
    int32_t Channels() const { return channels_; }
    void SetChannels(int32_t value);
    int32_t BitsPerSample() const { return bitsPerSample_; }
    void SetBitsPerSample(int32_t value);

    bool Active() const { return active_.load(); }
    int32_t Volume() const { return volume_; }
    void SetVolume(int32_t value);
    int32_t Balance() const { return balance_; }
    void SetBalance(int32_t value);
    // The amplitude factor of the song's ReplayGain, applied where the volume is (the device) or
    // to the WAV file; it takes effect from the next sample written.
    float Gain() const { return gain_.load(); }
    void SetGain(float value);
    int32_t DeviceID() const { return deviceId_; }
    void SetDeviceID(int32_t value) { deviceId_ = value; }
    int32_t NotifyInterval() const { return notifyInterval_.load(); }
    void SetNotifyInterval(int32_t value) { notifyInterval_.store(value); }
    const std::string& OutputFileName() const { return outputFileName_; }
    void SetOutputFileName(const std::string& value);
    int32_t BufferSize() const { return bufferSize_; }
    // PCM bytes the next WAV file is expected to hold, -1 when unknown: one that may pass 4 GiB
    // gets room for an RF64 header from the start.
    void SetExpectedFileBytes(int64_t value) { expectedFileBytes_ = value; }
    // The WAV file being written will not hold the whole stream (the play failed): Close
    // removes it instead of finishing it, as it does a file whose writing failed.
    void AbandonFile() { fileAbandoned_ = true; }
    int32_t Queued() const { return queued_.load(); }
    // The format the device was last opened at (the pitch scales its rate).
    const TAudioFormat& DeviceFormat() const { return deviceFormat_; }
    // Since the last Open, the device or the WAV file has failed (its error is raised once, on
    // the thread that met it first) and takes nothing more; its queued buffers come back done.
    bool Faulted() const { return fault_.load() != 0; }

    void Open();
    void Close();
    // Whether PCM in `format` (at its nominal rate) can follow what is open, on the same device
    // or in the same file, without closing it: the same format, the device at the same pitch,
    // and nothing failed.
    bool Continues(const TAudioFormat& format) const;
    int32_t Write(const uint8_t* data, int32_t count);
    bool CanWrite();
    int32_t FreePercent();
    void Flush();
    void Reset();
    void Pause();
    void Unpause();
    void WaitDone();
    void SetFreeEvent(TMPEvent* event);
    int32_t GetDoneBytes();

    // Replaces the position callback; it runs on the output thread, so it is swapped under a
    // lock the notifier also takes.
    void SetOnPosition(TNotifyEvent callback);
    TMPThreadExceptionEvent OnException;

    // The device volume word for a volume 0..100 and a balance -100..100: left in the low
    // 16 bits, right in the high 16 bits.
    static uint32_t VolumeWord(int32_t volume, int32_t balance);
    // Bytes of one of the four buffers: half a second of the nominal format, a multiple of 4.
    static int32_t BufferSizeFor(int32_t channels, int32_t bitsPerSample, int32_t sampleRate);

    TMPLoopThread& Thread() { return thread_; }
    void Dispatch(TMPMessage& message) override;

private:
    void OpenDevice();
    void OpenWaveFile();
    void AllocateBuffers();
    void WaveWrite();
    void BufferDone();
    void NotifyFreeRoom();
    void NotifyPosition();
    void SetVolumeToWaveDevice();
    void WriteFileBuffer(int32_t index);
    // Marks the device failed and raises its error, unless another thread raised it already.
    void RaiseDeviceFault(int32_t code);
    void MarkFault(int32_t code);
    void WatchDevice();
    int32_t WatchTimeout() const;
    // Milliseconds one buffer takes to play on the open device.
    int64_t BufferMilliseconds() const;
    void FinishWaveFile();
    // The format a WAV file records: the nominal rate, whatever the pitch.
    TAudioFormat FileFormat() const;
    bool WritingFile() const { return writingFile_.load(); }
    static uint32_t TickCount();

    std::atomic<int32_t> sampleRate_{44100};
    std::atomic<int32_t> channels_{2};
    std::atomic<int32_t> bitsPerSample_{16};
    std::atomic<bool> active_{false};
    // A device of this layer opens at full volume: mixing is done per open device, so the
    // "current device volume" to start from is always 100.
    int32_t volume_ = 100;
    int32_t balance_ = 0;
    std::atomic<float> gain_{1.0f};
    // The gain the samples in the buffer being filled were written at (under bufferLock_).
    float fillingGain_ = 1.0f;
    int32_t deviceId_ = -1;
    std::atomic<int32_t> notifyInterval_{kInfinite};
    std::atomic<uint32_t> lastNotify_{0};
    std::atomic<int32_t> fault_{0};
    std::atomic<bool> faultRaised_{false};
    std::atomic<bool> paused_{false};
    // Tick count of the device's last sign of playing: a buffer done, a start, an unpause.
    std::atomic<uint32_t> lastProgress_{0};
    // Sound is starting after silence, which a device may take a while to wake up for.
    std::atomic<bool> wakingUp_{false};
    std::atomic<double> deviceSpeed_{1.0};
    TAudioFormat deviceFormat_;
    std::unique_ptr<TAudioDevice> device_;
    std::array<TAudioBuffer, kSoundBufferCount> headers_{};
    std::array<std::vector<uint8_t>, kSoundBufferCount> buffers_;
    std::FILE* waveFile_ = nullptr;
    std::atomic<bool> writingFile_{false};
    bool streamedFile_ = false;
    bool rf64Room_ = false;
    int64_t expectedFileBytes_ = 0;
    std::atomic<bool> fileAbandoned_{false};
    std::atomic<uint64_t> fileDataBytes_{0};
    int32_t current_ = 0;
    int32_t filled_ = 0;
    std::atomic<int32_t> queued_{0};
    std::atomic<int32_t> bufferSize_{0};
    TMPSimpleMutex notifyLock_;
    TMPEvent* freeEvent_ = nullptr;
    TMPSimpleEvent allDone_;
    // Set with fault_: a device that stopped playing may never return what it holds.
    TMPSimpleEvent failed_;
    std::string outputFileName_;
    uint32_t lastDoneBytes_ = 0;
    TMPSimpleMutex bufferLock_;
    TMPPlainMutex positionMutex_;
    TNotifyEvent onPosition_;
    TMPLoopThread thread_;
};

} // namespace pelbrisk
