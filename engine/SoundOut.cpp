#include "engine/SoundOut.h"

#include "stream/Errors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <utility>

namespace pelbrisk {

std::atomic<int32_t> PitchPercent{100};

bool IsAudioDeviceError(const std::exception_ptr& error) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const EAudioDeviceError&) {
        return true;
    } catch (...) {
        return false;
    }
}

namespace {

// A device that has not returned a buffer for a buffer's length and this much more has stopped.
// A sound server that stalls for seconds is waited for; sound that starts after silence gets
// more, since sinks that wake from idle (Bluetooth, HDMI) take 2 to 3 s before they play.
constexpr int64_t kRideOutMs = 10000;
constexpr int64_t kWakeUpMs = 3000;
// How often the output thread looks at the device while sound is queued: with the position
// notices, or this often without them, and at least once a second.
constexpr int32_t kWatchIntervalMs = 250;
constexpr int32_t kMaxWatchIntervalMs = 1000;
// How long Close lets queued sound play out beyond its length before dropping it.
constexpr int64_t kPlayOutGraceMs = 2000;

// What people read about a failing device: what happened and what to do.
std::string DeviceFailureText(int32_t code, bool opening) {
    switch (code) {
    case kAudioServerUnreachable:
        return "cannot reach the sound server: start it (PipeWire or PulseAudio), or choose "
               "another sound device";
    case kAudioServerLost:
        return "lost the sound server while playing: start it again, then play again";
    case kAudioDeviceLost:
        return "the sound device keeps failing: check it, then play again";
    case kAudioStalled:
        return "the sound device stopped playing: check the sound server or the device, then "
               "play again";
    case -ENODEV:
        return "the sound device was disconnected: connect it again or choose another, then "
               "play again";
    case -EBUSY:
        return "the sound device is busy: close the program that uses it, or choose another "
               "sound device";
    default: {
        std::string text = AudioErrorText(code);
        if (text.empty()) text = kUnknownWaveOutErrorText;
        return opening ? "the sound device cannot be opened (" + text +
                             "): check the sound setup, or choose another sound device"
                       : "the sound device failed (" + text +
                             "): play again, or choose another sound device";
    }
    }
}

// A device result other than success becomes "<what happened: what to do> (<context>)"; the
// context says where, for those who look into it.
void CheckAudioResult(int32_t result, const char* context) {
    if (result == kAudioNoError) return;
    throw EAudioDeviceError(DeviceFailureText(result, false) + " (" + context + ")");
}

// A device that is not there is named, with the choices there are.
std::string OpenFailureText(int32_t code, int32_t deviceId) {
    const bool missing = code == kAudioBadDeviceId || code == -ENOENT;
    if (!missing) return DeviceFailureText(code, true);
    const std::string choices = "choose null, default or a number from 0 to " +
                                std::to_string(NullAudioDeviceId()) + " with PELBRISK_AUDIO";
    if (deviceId < 0) return "there is no default sound device: " + choices;
    const std::string name = AudioDeviceName(deviceId);
    return "sound device " + std::to_string(deviceId) + (name.empty() ? "" : " (" + name + ")") +
           " was not found: " + choices;
}

void PutLittleEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Names the file first, as every tool on the system does; call it right after the failure.
std::string FileErrorText(const std::string& fileName) {
    return fileName + ": " + std::strerror(errno);
}

[[noreturn]] void RaiseFileError(const std::string& fileName) {
    throw EMP3Error(FileErrorText(fileName));
}

// Estimates of a stream's length may be off (a VBR file without an information frame is timed
// by its first frame): a file expected to hold more than this gets room for RF64.
constexpr int64_t kRf64RoomAbove = int64_t{1} << 31;

} // namespace

std::vector<uint8_t> WaveFileHeader(const TAudioFormat& format, uint64_t dataBytes, bool rf64Room) {
    std::vector<uint8_t> header(kWavHeaderBytes + (rf64Room ? kDs64ChunkBytes : 0));
    const auto blockAlign = static_cast<uint32_t>(format.BlockAlign());
    const uint64_t riffBytes = header.size() - 8 + dataBytes;
    const bool rf64 = rf64Room && riffBytes > UINT32_MAX;
    auto size32 = [](uint64_t bytes) {
        return static_cast<uint32_t>(std::min<uint64_t>(bytes, kStreamedWavSize));
    };
    uint8_t* at = header.data();
    std::memcpy(at, rf64 ? "RF64" : "RIFF", 4);
    PutLittleEndian(at + 4, rf64 ? kStreamedWavSize : size32(riffBytes), 4);
    std::memcpy(at + 8, "WAVE", 4);
    at += 12;
    if (rf64Room) {
        std::memcpy(at, rf64 ? "ds64" : "JUNK", 4);
        PutLittleEndian(at + 4, kDs64ChunkBytes - 8, 4);
        if (rf64) {
            const uint64_t sizes[] = {riffBytes, dataBytes, dataBytes / blockAlign};
            for (size_t i = 0; i < 3; ++i) {
                PutLittleEndian(at + 8 + 8 * i, static_cast<uint32_t>(sizes[i]), 4);
                PutLittleEndian(at + 12 + 8 * i, static_cast<uint32_t>(sizes[i] >> 32), 4);
            }
        }
        at += kDs64ChunkBytes;
    }
    std::memcpy(at, "fmt ", 4);
    PutLittleEndian(at + 4, 16, 4);
    PutLittleEndian(at + 8, 1, 2);
    PutLittleEndian(at + 10, static_cast<uint32_t>(format.Channels), 2);
    PutLittleEndian(at + 12, static_cast<uint32_t>(format.SamplesPerSecond), 4);
    PutLittleEndian(at + 16, static_cast<uint32_t>(format.SamplesPerSecond) * blockAlign, 4);
    PutLittleEndian(at + 20, blockAlign, 2);
    PutLittleEndian(at + 22, static_cast<uint32_t>(format.BitsPerSample), 2);
    std::memcpy(at + 24, "data", 4);
    PutLittleEndian(at + 28, rf64 ? kStreamedWavSize : size32(dataBytes), 4);
    return header;
}

TSoundOut::TSoundOut() : thread_(this) {
    thread_.OnException = [this](void*, const std::exception_ptr& error, bool& handled) {
        if (OnException) OnException(this, error, handled);
    };
    thread_.Resume();
}

TSoundOut::~TSoundOut() {
    try {
        Close();
    } catch (...) {
        // A failing device must not take the process down while it is being torn down.
    }
    thread_.Stop();
}

void TSoundOut::SetSampleRate(int32_t value) {
    if (value > 0) sampleRate_ = value;
}

void TSoundOut::SetChannels(int32_t value) {
    if (value == 1 || value == 2) channels_ = value;
}

void TSoundOut::SetBitsPerSample(int32_t value) {
    if (value == 8 || value == 16) bitsPerSample_ = value;
}

void TSoundOut::SetVolume(int32_t value) {
    if (static_cast<uint32_t>(value) > 100) return;
    volume_ = value;
    if (Active() && device_) SetVolumeToWaveDevice();
}

void TSoundOut::SetBalance(int32_t value) {
    if (value < -100 || value > 100) return;
    balance_ = value;
    if (Active() && device_) SetVolumeToWaveDevice();
}

void TSoundOut::SetGain(float value) {
    if (value >= 0 && std::isfinite(value)) gain_ = value;
}

void TSoundOut::SetOutputFileName(const std::string& value) {
    if (!Active()) outputFileName_ = value;
}

void TSoundOut::SetOnPosition(TNotifyEvent callback) {
    std::lock_guard lock(positionMutex_);
    onPosition_ = std::move(callback);
}

uint32_t TSoundOut::VolumeWord(int32_t volume, int32_t balance) {
    const int64_t v = (static_cast<int64_t>(volume) * 65535 + 50) / 100;
    int64_t left = v;
    int64_t right = v;
    if (balance < 0) right = (v * (balance + 100) + 50) / 100;
    if (balance > 0) left = (v * (100 - balance) + 50) / 100;
    return static_cast<uint32_t>(left & 0xFFFF) | (static_cast<uint32_t>(right & 0xFFFF) << 16);
}

int32_t TSoundOut::BufferSizeFor(int32_t channels, int32_t bitsPerSample, int32_t sampleRate) {
    const int64_t raw = static_cast<int64_t>(channels) * (bitsPerSample / 8) * sampleRate * 2000 /
                        1000 / kSoundBufferCount;
    return static_cast<int32_t>((raw + 3) / 4 * 4);
}

uint32_t TSoundOut::TickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TSoundOut::Open() {
    if (Active()) return;
    active_ = true;
    try {
        // Counted empty before anything can fail, so that the Close below never waits.
        current_ = 0;
        filled_ = 0;
        queued_ = 0;
        fault_ = 0;
        failed_.ResetEvent();
        faultRaised_ = false;
        paused_ = false;
        fileAbandoned_ = false;
        allDone_.SetEvent();
        if (outputFileName_.empty())
            OpenDevice();
        else
            OpenWaveFile();
        lastNotify_ = TickCount();
    } catch (...) {
        Close();
        throw;
    }
}

bool TSoundOut::Continues(const TAudioFormat& format) const {
    if (!Active() || Faulted() || format.Channels != channels_ ||
        format.BitsPerSample != bitsPerSample_ || format.SamplesPerSecond != sampleRate_)
        return false;
    return WritingFile() ||
           deviceFormat_.SamplesPerSecond == format.SamplesPerSecond * PitchPercent.load() / 100;
}

void TSoundOut::OpenDevice() {
    lastDoneBytes_ = 0;
    TAudioFormat format;
    format.Channels = channels_;
    format.SamplesPerSecond = sampleRate_ * PitchPercent.load() / 100;
    format.BitsPerSample = bitsPerSample_;
    deviceFormat_ = format;
    const int32_t opened = OpenAudioDevice(
        deviceId_, format,
        [this](uint32_t index, int32_t result) {
            thread_.PostMessage(MM_WOM_DONE, static_cast<uintptr_t>(static_cast<intptr_t>(result)),
                                static_cast<intptr_t>(index));
        },
        device_);
    if (opened != kAudioNoError)
        throw EAudioDeviceError(OpenFailureText(opened, deviceId_) +
                                " (TSoundOut.Open:WaveOutOpen)");
    deviceSpeed_ = device_->Speed();
    wakingUp_ = true;
    SetVolumeToWaveDevice();
    AllocateBuffers();
    for (TAudioBuffer& header : headers_)
        CheckAudioResult(device_->Prepare(header), "TSoundOut.Open:WaveOutPreperHeader");
    thread_.SetTimeout(WatchTimeout());
}

void TSoundOut::OpenWaveFile() {
    lastDoneBytes_ = 0;
    fileDataBytes_ = 0;
    waveFile_ = std::fopen(outputFileName_.c_str(), "wb");
    if (waveFile_ == nullptr) RaiseFileError(outputFileName_);
    writingFile_ = true;
    // Only a plain file can have its sizes patched at the end; a pipe or a device is told
    // "unknown" at once.
    struct stat status {};
    streamedFile_ = fstat(fileno(waveFile_), &status) != 0 || !S_ISREG(status.st_mode);
    rf64Room_ = !streamedFile_ && (expectedFileBytes_ < 0 || expectedFileBytes_ > kRf64RoomAbove);
    const std::vector<uint8_t> header =
        WaveFileHeader(FileFormat(), streamedFile_ ? kStreamedWavSize : 0, rf64Room_);
    if (std::fwrite(header.data(), 1, header.size(), waveFile_) != header.size())
        RaiseFileError(outputFileName_);
    AllocateBuffers();
}

TAudioFormat TSoundOut::FileFormat() const {
    TAudioFormat format;
    format.Channels = channels_;
    format.SamplesPerSecond = sampleRate_; // not scaled by the pitch
    format.BitsPerSample = bitsPerSample_;
    return format;
}

void TSoundOut::AllocateBuffers() {
    bufferSize_ = BufferSizeFor(channels_, bitsPerSample_, sampleRate_);
    for (int32_t i = 0; i < kSoundBufferCount; ++i) {
        buffers_[i].assign(static_cast<size_t>(bufferSize_.load()), 0);
        headers_[i] = TAudioBuffer{};
        headers_[i].Data = buffers_[i].data();
        headers_[i].Length = static_cast<uint32_t>(bufferSize_.load());
        headers_[i].Index = static_cast<uint32_t>(i);
    }
}

void TSoundOut::Close() {
    if (!Active()) return;
    {
        TMPLockGuard lock(notifyLock_);
        freeEvent_ = nullptr;
    }
    struct Release {
        TSoundOut& out;
        ~Release() {
            if (out.device_) out.device_->Close();
            out.device_.reset();
            if (out.waveFile_ != nullptr) std::fclose(out.waveFile_);
            out.waveFile_ = nullptr;
            out.writingFile_ = false;
            for (auto& buffer : out.buffers_)
                std::vector<uint8_t>().swap(buffer);
            out.headers_.fill(TAudioBuffer{});
            out.bufferSize_ = 0;
            // Nothing is queued any more: whoever waits for the play-out (the worker at the end
            // of the data) must not wait for buffers that a failed write will never return.
            out.queued_ = 0;
            out.allDone_.SetEvent();
            out.active_ = false;
        }
    } release{*this};
    if (WritingFile()) {
        // Buffers already handed to the writer, and the one being filled, belong in the file:
        // write them all before the sizes are patched.
        Flush();
        thread_.WaitForIdle();
        FinishWaveFile();
    } else if (device_) {
        thread_.SetTimeout(kInfinite);
        Flush();
        // What a failed device still holds it will never play.
        if (Faulted()) device_->Reset();
        const int64_t limit = queued_.load() * BufferMilliseconds() + kPlayOutGraceMs;
        if (WaitForAnyEvent({&allDone_, &thread_.Ended()}, static_cast<int32_t>(limit)) ==
            kWaitTimeout) {
            // A device that stopped playing, or was left paused, would hold this close for ever:
            // what it still holds is dropped, and comes back as done at once.
            device_->Reset();
            WaitForAnyEvent({&allDone_, &thread_.Ended()}, kInfinite);
        }
        for (TAudioBuffer& header : headers_) {
            if (header.Data == nullptr || !header.Prepared) continue;
            while (device_->Unprepare(header) == kAudioStillPlaying)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

void TSoundOut::FinishWaveFile() {
    std::FILE* file = std::exchange(waveFile_, nullptr);
    // A file that does not hold the whole stream is not left to pass for it. Its error, if it
    // failed, has been raised once already.
    if (Faulted() || fileAbandoned_) {
        std::fclose(file);
        if (!streamedFile_) std::remove(outputFileName_.c_str());
        return;
    }
    std::string error;
    if (!streamedFile_) {
        const std::vector<uint8_t> header =
            WaveFileHeader(FileFormat(), fileDataBytes_.load(), rf64Room_);
        if (std::fseek(file, 0, SEEK_SET) != 0 ||
            std::fwrite(header.data(), 1, header.size(), file) != header.size())
            error = FileErrorText(outputFileName_);
    }
    // Closing writes what the stream still buffers, and may fail as well.
    if (std::fclose(file) != 0 && error.empty()) error = FileErrorText(outputFileName_);
    if (error.empty()) return;
    if (!streamedFile_) std::remove(outputFileName_.c_str());
    throw EMP3Error(error);
}

bool TSoundOut::CanWrite() {
    TMPLockGuard lock(bufferLock_);
    return Active() && !Faulted() && queued_ < kSoundBufferCount && filled_ < bufferSize_;
}

int32_t TSoundOut::FreePercent() {
    if (!Active()) return 0;
    TMPLockGuard lock(bufferLock_);
    const int64_t size = bufferSize_;
    if (size <= 0) return 0;
    return static_cast<int32_t>((size * (kSoundBufferCount - queued_) - filled_) * 100 /
                                (size * kSoundBufferCount));
}

int32_t TSoundOut::Write(const uint8_t* data, int32_t count) {
    {
        TMPLockGuard lock(bufferLock_);
        // Where one song follows another without a gap, the buffer holding the end of the one
        // goes out at that song's gain, and the next begins at its own.
        if (fillingGain_ != gain_.load() && CanWrite()) {
            if (filled_ > 0) WaveWrite();
            fillingGain_ = gain_.load();
        }
    }
    int32_t taken = 0;
    while (count > 0 && CanWrite()) {
        TMPLockGuard lock(bufferLock_);
        const int32_t n = std::min(bufferSize_ - filled_, count);
        std::memcpy(buffers_[current_].data() + filled_, data + taken, static_cast<size_t>(n));
        filled_ += n;
        if (filled_ == bufferSize_) WaveWrite();
        taken += n;
        count -= n;
    }
    return taken;
}

void TSoundOut::WaveWrite() {
    TMPLockGuard lock(bufferLock_);
    const int32_t queued = ++queued_;
    allDone_.ResetEvent();
    MP3Assert(queued <= kSoundBufferCount);
    const int32_t index = current_;
    headers_[index].Length = static_cast<uint32_t>(filled_);
    headers_[index].Gain = fillingGain_;
    filled_ = 0;
    current_ = (current_ + 1) % kSoundBufferCount;
    if (WritingFile()) {
        thread_.PostMessage(MPM_WRITEFILE, 0, index);
    } else {
        MP3Assert(device_ != nullptr);
        if (queued == 1) {
            wakingUp_ = true;
            lastProgress_ = TickCount();
            thread_.SetTimeout(WatchTimeout());
            thread_.PostMessage(MPM_WATCHDEVICE);
        }
        if (const int32_t result = device_->Write(headers_[index]); result != kAudioNoError) {
            // The buffer never reached the device, so it is not queued.
            if (--queued_ == 0) allDone_.SetEvent();
            RaiseDeviceFault(result);
        }
    }
}

void TSoundOut::Flush() {
    if (!Active()) return;
    {
        TMPLockGuard lock(bufferLock_);
        if (filled_ <= 0) return;
        WaveWrite();
    }
    thread_.WaitForIdle();
}

void TSoundOut::Reset() {
    if (!Active() || !device_) return;
    TMPLockGuard lock(bufferLock_);
    filled_ = 0;
    device_->Reset();
    lastDoneBytes_ = 0;
    lastProgress_ = TickCount();
}

// After a fault the device's error is on its way already; a second one would only repeat it.
void TSoundOut::Pause() {
    if (!Active() || !device_ || Faulted()) return;
    CheckAudioResult(device_->Pause(), "TSoundOut.Pause");
    paused_ = true;
}

void TSoundOut::Unpause() {
    if (!Active() || !device_ || Faulted()) return;
    CheckAudioResult(device_->Restart(), "TSoundOut.Unpause");
    paused_ = false;
    wakingUp_ = true;
    lastProgress_ = TickCount();
}

void TSoundOut::MarkFault(int32_t code) {
    int32_t none = 0;
    fault_.compare_exchange_strong(none, code);
    failed_.SetEvent();
}

void TSoundOut::RaiseDeviceFault(int32_t code) {
    MarkFault(code);
    if (!faultRaised_.exchange(true)) CheckAudioResult(code, "TSoundOut.WaveWrite");
}

int64_t TSoundOut::BufferMilliseconds() const {
    const int64_t bytesPerSecond =
        static_cast<int64_t>(deviceFormat_.SamplesPerSecond) * deviceFormat_.BlockAlign();
    return bytesPerSecond > 0 ? bufferSize_.load() * int64_t{1000} / bytesPerSecond : 0;
}

int32_t TSoundOut::WatchTimeout() const {
    const int32_t interval = notifyInterval_;
    return interval == kInfinite ? kWatchIntervalMs : std::min(interval, kMaxWatchIntervalMs);
}

// A device may go quiet without an error (a sound server that hangs): sound that should have
// played long ago ends the play with an error instead of a wait without end.
void TSoundOut::WatchDevice() {
    if (!Active() || WritingFile() || paused_ || Faulted() || queued_.load() <= 0) return;
    const int64_t allowance = BufferMilliseconds() + kRideOutMs + (wakingUp_ ? kWakeUpMs : 0);
    if (TickCount() - lastProgress_.load() <= static_cast<uint32_t>(allowance / deviceSpeed_))
        return;
    RaiseDeviceFault(kAudioStalled);
}

void TSoundOut::WaitDone() {
    WaitForAnyEvent({&allDone_, &thread_.Ended(), &failed_}, kInfinite);
}

void TSoundOut::SetFreeEvent(TMPEvent* event) {
    {
        TMPLockGuard lock(notifyLock_);
        freeEvent_ = event;
    }
    NotifyFreeRoom();
}

int32_t TSoundOut::GetDoneBytes() {
    if (!Active()) return 0;
    uint32_t done;
    if (WritingFile()) {
        done = static_cast<uint32_t>(fileDataBytes_.load()); // the difference below wraps well
    } else {
        uint64_t position = 0;
        CheckAudioResult(device_->GetPositionBytes(position), "TSoundOut.GetDoneBytes");
        done = static_cast<uint32_t>(position);
    }
    const uint32_t since = done - lastDoneBytes_;
    lastDoneBytes_ = done;
    return static_cast<int32_t>(since);
}

void TSoundOut::SetVolumeToWaveDevice() {
    const int32_t result = device_->SetVolume(VolumeWord(volume_, balance_));
    if (result != kAudioNotSupported) CheckAudioResult(result, "TSoundOut.SetVolumeToWaveDevice");
}

void TSoundOut::Dispatch(TMPMessage& message) {
    switch (message.Msg) {
    case MM_WOM_DONE: {
        const auto result = static_cast<int32_t>(static_cast<intptr_t>(message.WParam));
        // Marked before the count goes down: whoever waits for the play-out must see why.
        if (result != kAudioNoError) MarkFault(result);
        BufferDone();
        if (!WritingFile()) NotifyPosition();
        if (result != kAudioNoError) RaiseDeviceFault(result);
        break;
    }
    case MPM_WRITEFILE:
        WriteFileBuffer(static_cast<int32_t>(message.LParam));
        break;
    case MPM_TIMEOUT:
        if (!WritingFile()) NotifyPosition();
        WatchDevice();
        break;
    default:
        break;
    }
}

void TSoundOut::WriteFileBuffer(int32_t index) {
    MP3Assert(WritingFile());
    MP3Assert(index >= 0 && index < kSoundBufferCount);
    const TAudioBuffer& header = headers_[static_cast<size_t>(index)];
    // After a failed write the file takes nothing more; its error is raised once.
    if (Faulted()) {
        BufferDone();
        return;
    }
    // The file gets the song's gain, as the device would play it, but not the volume.
    ScaleSamples(header.Data, header.Length, FileFormat(), 0xFFFFFFFFu, header.Gain);
    if (std::fwrite(header.Data, 1, header.Length, waveFile_) != header.Length) {
        const int error = errno != 0 ? errno : EIO;
        const std::string text = FileErrorText(outputFileName_);
        MarkFault(-error);
        BufferDone();
        if (!faultRaised_.exchange(true)) throw EMP3Error(text);
        return;
    }
    fileDataBytes_ += header.Length;
    NotifyPosition();
    BufferDone();
}

void TSoundOut::BufferDone() {
    {
        // Counted down and signalled under the buffer lock: a hand-over racing with the last
        // completion must not find "all done" set while its own buffer is queued.
        TMPLockGuard lock(bufferLock_);
        const int32_t queued = --queued_;
        MP3Assert(queued >= 0);
        lastProgress_ = TickCount();
        wakingUp_ = false;
        if (queued > 0) {
            thread_.SetTimeout(WritingFile() ? notifyInterval_.load() : WatchTimeout());
        } else {
            allDone_.SetEvent();
            thread_.SetTimeout(kInfinite);
        }
    }
    NotifyFreeRoom();
}

void TSoundOut::NotifyFreeRoom() {
    TMPLockGuard lock(notifyLock_);
    if (freeEvent_ != nullptr && CanWrite()) {
        freeEvent_->SetEvent();
        freeEvent_ = nullptr;
    }
}

void TSoundOut::NotifyPosition() {
    const int32_t interval = notifyInterval_;
    if (interval == kInfinite) return;
    const uint32_t now = TickCount();
    if (now - lastNotify_.load() <= static_cast<uint32_t>(interval)) return;
    std::lock_guard lock(positionMutex_);
    if (!onPosition_) return;
    onPosition_(this);
    lastNotify_ = now;
}

} // namespace pelbrisk
