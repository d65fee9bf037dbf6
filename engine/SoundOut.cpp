#include "engine/SoundOut.h"

#include "stream/Errors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace pelbrisk {

std::atomic<int32_t> PitchPercent{100};

namespace {

// A device result other than success becomes "<system text>(<context>)".
void CheckAudioResult(int32_t result, const char* context) {
    if (result == kAudioNoError) return;
    std::string text = AudioErrorText(result);
    if (text.empty()) text = kUnknownWaveOutErrorText;
    throw EMP3Error(text + "(" + context + ")");
}

void PutLittleEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

[[noreturn]] void RaiseFileError(const std::string& fileName) {
    throw EMP3Error(std::string(std::strerror(errno)) + " (" + fileName + ")");
}

} // namespace

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

void TSoundOut::OpenDevice() {
    lastDoneBytes_ = 0;
    TAudioFormat format;
    format.Channels = channels_;
    format.SamplesPerSecond = sampleRate_ * PitchPercent.load() / 100;
    format.BitsPerSample = bitsPerSample_;
    deviceFormat_ = format;
    CheckAudioResult(OpenAudioDevice(
                         deviceId_, format,
                         [this](uint32_t index) {
                             thread_.PostMessage(MM_WOM_DONE, 0, static_cast<intptr_t>(index));
                         },
                         device_),
                     "TSoundOut.Open:WaveOutOpen");
    SetVolumeToWaveDevice();
    AllocateBuffers();
    for (TAudioBuffer& header : headers_)
        CheckAudioResult(device_->Prepare(header), "TSoundOut.Open:WaveOutPreperHeader");
    thread_.SetTimeout(notifyInterval_);
}

void TSoundOut::OpenWaveFile() {
    lastDoneBytes_ = 0;
    fileDataBytes_ = 0;
    waveFile_ = std::fopen(outputFileName_.c_str(), "wb");
    if (waveFile_ == nullptr) RaiseFileError(outputFileName_);
    writingFile_ = true;
    uint8_t header[kWavHeaderBytes] = {};
    const uint32_t blockAlign = static_cast<uint32_t>(channels_ * bitsPerSample_ / 8);
    std::memcpy(header, "RIFF", 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLittleEndian(header + 16, 16, 4);
    PutLittleEndian(header + 20, 1, 2);
    PutLittleEndian(header + 22, static_cast<uint32_t>(channels_.load()), 2);
    PutLittleEndian(header + 24, static_cast<uint32_t>(sampleRate_.load()), 4);
    PutLittleEndian(header + 28, static_cast<uint32_t>(sampleRate_.load()) * blockAlign, 4);
    PutLittleEndian(header + 32, blockAlign, 2);
    PutLittleEndian(header + 34, static_cast<uint32_t>(bitsPerSample_.load()), 2);
    std::memcpy(header + 36, "data", 4);
    if (std::fwrite(header, 1, sizeof header, waveFile_) != sizeof header)
        RaiseFileError(outputFileName_);
    AllocateBuffers();
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
        WaitDone();
        for (TAudioBuffer& header : headers_) {
            if (header.Data == nullptr || !header.Prepared) continue;
            while (device_->Unprepare(header) == kAudioStillPlaying)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

void TSoundOut::FinishWaveFile() {
    const long size = std::ftell(waveFile_);
    if (size < kWavHeaderBytes) RaiseFileError(outputFileName_);
    uint8_t field[4];
    PutLittleEndian(field, static_cast<uint32_t>(size - 8), 4);
    if (std::fseek(waveFile_, 4, SEEK_SET) != 0 || std::fwrite(field, 1, 4, waveFile_) != 4)
        RaiseFileError(outputFileName_);
    PutLittleEndian(field, static_cast<uint32_t>(size - kWavHeaderBytes), 4);
    if (std::fseek(waveFile_, 40, SEEK_SET) != 0 || std::fwrite(field, 1, 4, waveFile_) != 4)
        RaiseFileError(outputFileName_);
    std::FILE* file = std::exchange(waveFile_, nullptr);
    if (std::fclose(file) != 0) RaiseFileError(outputFileName_);
}

bool TSoundOut::CanWrite() {
    TMPLockGuard lock(bufferLock_);
    return Active() && queued_ < kSoundBufferCount && filled_ < bufferSize_;
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
    filled_ = 0;
    current_ = (current_ + 1) % kSoundBufferCount;
    if (WritingFile()) {
        thread_.PostMessage(MPM_WRITEFILE, 0, index);
    } else {
        MP3Assert(device_ != nullptr);
        CheckAudioResult(device_->Write(headers_[index]), "TSoundOut.WaveWrite");
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
}

void TSoundOut::Pause() {
    if (Active() && device_) CheckAudioResult(device_->Pause(), "TSoundOut.Pause");
}

void TSoundOut::Unpause() {
    if (Active() && device_) CheckAudioResult(device_->Restart(), "TSoundOut.Unpause");
}

void TSoundOut::WaitDone() {
    WaitForAnyEvent({&allDone_, &thread_.Ended()}, kInfinite);
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
        done = fileDataBytes_.load();
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
    case MM_WOM_DONE:
        BufferDone();
        if (!WritingFile()) NotifyPosition();
        break;
    case MPM_WRITEFILE:
        WriteFileBuffer(static_cast<int32_t>(message.LParam));
        break;
    case MPM_TIMEOUT:
        if (!WritingFile()) NotifyPosition();
        break;
    default:
        break;
    }
}

void TSoundOut::WriteFileBuffer(int32_t index) {
    MP3Assert(WritingFile());
    MP3Assert(index >= 0 && index < kSoundBufferCount);
    const TAudioBuffer& header = headers_[static_cast<size_t>(index)];
    if (std::fwrite(header.Data, 1, header.Length, waveFile_) != header.Length)
        RaiseFileError(outputFileName_);
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
        if (queued > 0) {
            thread_.SetTimeout(notifyInterval_);
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
