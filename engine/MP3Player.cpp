#include "engine/MP3Player.h"

#include "decoder/Decoder.h"
#include "info/FrameTables.h"
#include "info/StreamProbe.h"
#include "stream/Errors.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

namespace pelbrisk {

namespace {

int32_t PriorityOf(TThreadPriority priority) {
    switch (priority) {
    case tpIdle:
        return kPriorityIdle;
    case tpLowest:
        return kPriorityLowest;
    case tpLower:
        return kPriorityLower;
    case tpHigher:
        return kPriorityHigher;
    case tpHighest:
        return kPriorityHighest;
    case tpTimeCritical:
        return kPriorityTimeCritical;
    default:
        return kPriorityNormal;
    }
}

// Rounds to the nearest integer, halves to even.
int32_t RoundHalfEven(double value) {
    return static_cast<int32_t>(std::nearbyint(value));
}

int32_t SubbandCentre(int32_t sampleRate, int32_t subband) {
    MP3Assert(sampleRate > 0 && subband >= 0 && subband < 32);
    return RoundHalfEven(sampleRate / 64.0 * (subband + 0.5));
}

int32_t LineCentre(int32_t sampleRate, int32_t line) {
    MP3Assert(sampleRate > 0 && line >= 0 && line < 576);
    return RoundHalfEven(sampleRate / 1152.0 * (line + 0.5));
}

[[noreturn]] void RaiseUnknownFormat() {
    throw EMP3Error(kUnknownFormatText);
}

// Finds the audio of the stream `reader` reads and sets the shared decoder up for its first frame:
// the output channels chosen for the whole stream and the PCM format it decodes to. Raises
// EMP3Error when it is no MPEG audio the player can play.
void LocateStream(TMPStreamReader& reader, TMP3Info& info, TFirstFrame& first,
                  int32_t& decoderOptions, TMP3DecoderFormat& format) {
    info.AttachReader(&reader);
    if (!info.LocateAudio(first)) RaiseUnknownFormat();
    decoderOptions = StreamChannels(reader, first) == 2 ? kTwoChannelOutput : kMixToOneChannel;
    if (OpenDecoder(first.Header, first.Length - PaddingSlotOf(first.Header), 0, 0, decoderOptions,
                    24000) == 0)
        RaiseUnknownFormat();
    GetDecoderFormat(format);
    // A frame must fit the PCM buffer; a decoder format that says otherwise is unusable.
    const int32_t bytesPerFrame = format.SamplesPerFrame * format.BitsPerSample / 8;
    if (bytesPerFrame <= 0 || bytesPerFrame > kPCMBufferBytes) RaiseUnknownFormat();
}

} // namespace

TMP3Player::TMP3Player() {
    soundOut_.SetNotifyInterval(changePosStep_);
    // The device's errors belong to the run that opened it, the worker's to the run of its step.
    soundOut_.OnException = [this](void*, const std::exception_ptr& error, bool& handled) {
        ForwardException(error, handled, playRun_.load());
    };
    worker_.OnException = [this](void*, const std::exception_ptr& error, bool& handled) {
        ForwardException(error, handled, stepRun_.load());
    };
    worker_.Resume();
}

TMP3Player::~TMP3Player() {
    destroying_ = true;
    // A thread still waiting for its error to be shown must not keep the worker from ending.
    shuttingDown_.SetEvent();
    // Nothing may escape a destructor; each step runs whatever the one before raised.
    try {
        Stop();
    } catch (...) {
    }
    try {
        Close();
    } catch (...) {
    }
    worker_.Stop();
    soundOut_.Thread().Stop();
    for (const TMPMessage& unshown : messages_.TakePending(MPM_EXCEPTION))
        delete reinterpret_cast<ExceptionNoticeRef*>(unshown.LParam);
}

// ---- Properties -------------------------------------------------------------------------

void TMP3Player::SetAutoOpen(bool value) {
    autoOpen_ = value;
    if (value && !loading_) Open();
}

void TMP3Player::SetAutoPlay(bool value) {
    autoPlay_ = value;
    // Starting again on a set is what the desktop expects of the switch; setting it off must
    // not start anything.
    if (value && stream_ != nullptr && status_ == mpsStopped) Play();
}

void TMP3Player::SetChangePosStep(int32_t value) {
    if (value < 100) return;
    changePosStep_ = value;
    UiLock output(*this, outputLock_);
    soundOut_.SetNotifyInterval(value);
}

void TMP3Player::SetDecodePriority(TThreadPriority value) {
    decodePriority_ = value;
    worker_.SetPriority(PriorityOf(value));
}

void TMP3Player::SetEqualizerEnabled(bool value) {
    if (value == equalizerEnabled_) return;
    equalizerEnabled_ = value;
    messages_.PostOnce(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerCount(int32_t value) {
    if (value <= 0 || value == equalizerCount_) return;
    equalizerCount_ = value;
    messages_.PostOnce(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerMode(TMP3EqualizerMode value) {
    if (value == equalizerMode_) return;
    equalizerMode_ = value;
    messages_.PostOnce(MPM_EQUALIZER);
}

int32_t TMP3Player::EqualizerValue(int32_t band) const {
    return band >= 0 && band < kEqualizerBands ? equalizerValue_[static_cast<size_t>(band)] : 0;
}

void TMP3Player::SetEqualizerValue(int32_t band, int32_t value) {
    if (band < 0 || band >= kEqualizerBands) return;
    equalizerValue_[static_cast<size_t>(band)] = value;
    messages_.PostOnce(MPM_EQUALIZER);
}

int32_t TMP3Player::EqualizerFrequency(int32_t band) const {
    return band >= 0 && band < kEqualizerBands ? equalizerFrequency_[static_cast<size_t>(band)] : 0;
}

void TMP3Player::SetFileName(const std::string& value) {
    fileName_ = value;
    if (autoOpen_ && !loading_) Open();
}

bool TMP3Player::InvertPolarity() {
    UiLock decoder(*this, decoderLock_);
    return GetPolarity();
}

void TMP3Player::SetInvertPolarity(bool value) {
    UiLock decoder(*this, decoderLock_);
    SetPolarity(value);
}

void TMP3Player::SetUsingCpuCapabilities(TMP3CpuCapabilities value) {
    usingCpuCapabilities_ = value & CapabilitiesOfFeatures(DetectProcessorFeatures());
}

void TMP3Player::SetVolBalance(int32_t value) {
    if (value < -100 || value > 100) return;
    volBalance_ = value;
    UiLock output(*this, outputLock_);
    soundOut_.SetBalance(value);
}

void TMP3Player::SetVolume(int32_t value) {
    if (value < 0 || value > 100) return;
    if (value == 0 && loading_) {
        volume_ = soundOut_.Volume();
        return;
    }
    volume_ = value;
    UiLock output(*this, outputLock_);
    soundOut_.SetVolume(value);
}

void TMP3Player::Loaded() {
    loading_ = false;
    if (equalizerMode_ == memFreq) SetBandRange(60, 16000);
    if (autoOpen_ && !fileName_.empty()) Open();
}

void TMP3Player::SetReplayGain(const TReplayGainSettings& value) {
    replayGain_ = value;
    soundOut_.SetGain(static_cast<float>(ReplayGainFactor(streamGain_, replayGain_)));
}

// ---- Opening and closing ----------------------------------------------------------------

void TMP3Player::Open() {
    if (fileName_.empty()) {
        Close();
        return;
    }
    const std::string name = fileName_;
    auto stream = std::make_unique<TMPFileStream>(name); // a missing file changes nothing
    OpenStreamWithoutPlaying(stream.release(), msoSeekable | msoOwnsStream);
    fileName_ = name;
    if (autoPlay_) Play();
}

void TMP3Player::OpenStream(TMPStream* stream, TMP3StreamOptions options) {
    OpenStreamWithoutPlaying(stream, options);
    if (autoPlay_) Play();
}

void TMP3Player::OpenStreamWithoutPlaying(TMPStream* stream, TMP3StreamOptions options) {
    try {
        Close();
    } catch (...) {
        if (options & msoOwnsStream) delete stream;
        throw;
    }
    stream_ = stream;
    streamOptions_ = options;
    if (stream == nullptr) return;
    playedBytes_ = 0;
    positionMs_ = 0;
    try {
        ReadStreamLayout();
    } catch (...) {
        Close();
        throw;
    }
    messages_.PostOnce(MPM_EQUALIZER);
    AssignStatus(mpsStopped);
}

void TMP3Player::ReadStreamLayout() {
    UiLock decoder(*this, decoderLock_);
    {
        std::lock_guard table(seekTableMutex_);
        seekTable_.clear();
    }
    const bool seekable = (streamOptions_ & msoSeekable) != 0;
    reader_.Attach(stream_, seekable);
    pcmBuffer_.Allocate(kPCMBufferBytes);
    pendingBytes_ = 0;

    TFirstFrame first;
    TMP3DecoderFormat format;
    // The channels are chosen once for the stream, so that every later set-up gives the same
    // PCM format.
    LocateStream(reader_, info_, first, decoderOptions_, format);
    needsDecoderSetup_ = false;
    TMP3StreamValues values = FirstFrameValues(info_, first);
    header_ = first.Header;
    walk_ = TFrameWalk(first);
    layerNumber_ = LayerNumberOf(header_.Layer);
    mpegVersion_ = MpegVersionOf(header_);

    soundOut_.SetSampleRate(format.SampleRate);
    soundOut_.SetBitsPerSample(format.BitsPerSample);
    soundOut_.SetChannels(format.Channels);
    sampleRate_ = format.SampleRate;
    channels_ = format.Channels;
    bytesPerFrame_ = format.SamplesPerFrame * format.BitsPerSample / 8;

    values.BytesPerFrame = bytesPerFrame_;
    const TMP3VbrHeader vbrHeader = CheckVbrHeader(reader_, values);
    streamGain_ = FirstKnownGain({info_.ReplayGain(), vbrHeader.Gain});
    soundOut_.SetGain(static_cast<float>(ReplayGainFactor(streamGain_, replayGain_)));
    frameLength_ = values.FrameLength;
    bitrate_ = values.Bitrate;
    totalBytes_ = values.TotalBytes;
    dataStart_ = values.DataStart;
    dataLength_ = values.DataLength;
    song_ = values.Gapless;
    frameIndex_ = 0;

    std::lock_guard table(seekTableMutex_);
    seekTable_.push_back(reader_.Position());
}

void TMP3Player::Close() {
    if (stream_ == nullptr) return;
    // A stop that fails (a WAV file that cannot be finished) has stopped all the same; the
    // stream, the reader and the file are released before its error goes on.
    std::exception_ptr stopError;
    // The song still playing out behind the open one goes with it: the stop does not open it
    // again, and it is not heard next.
    joins_.clear();
    messages_.RemovePending(MPM_NEXTSONG);
    if (status_ != mpsStopped) {
        try {
            Stop();
        } catch (...) {
            stopError = std::current_exception();
        }
    }
    SetNextFileNames({});
    if (stream_ != nullptr) {
        ReleaseStream();
        UiLock decoder(*this, decoderLock_);
        pcmBuffer_.Free();
        fileName_.clear();
        header_ = TMP3FrameHeader{};
        walk_ = TFrameWalk();
        bitrate_ = 0;
        channels_ = 0;
        layerNumber_ = 0;
        mpegVersion_ = 0;
        sampleRate_ = 0;
        playedBytes_ = 0;
        positionMs_ = 0;
        bytesPerFrame_ = 0;
        totalBytes_ = 0;
        song_ = TMP3Gapless{};
        streamGain_ = TReplayGain{};
    }
    AssignStatus(mpsStopped);
    if (stopError) std::rethrow_exception(stopError);
}

void TMP3Player::ReleaseStream() {
    UiLock decoder(*this, decoderLock_);
    reader_.Detach();
    TMPStream* stream = std::exchange(stream_, nullptr);
    if (streamOptions_ & msoOwnsStream) delete stream;
    info_.Clear();
}

void TMP3Player::ReadFileInfo(const std::string& fileName, TMP3Info& info) {
    info.LoadFromFile(fileName);
}

// ---- Playing ----------------------------------------------------------------------------

TMP3PlayerCommands TMP3Player::Commands() const {
    if (stream_ == nullptr) return CommandBit(mpcOpen);
    TMP3PlayerCommands commands = CommandBit(mpcOpen) | CommandBit(mpcClose);
    const bool toDevice = outputFileName_.empty();
    if (status_ == mpsStopped) commands |= CommandBit(mpcPlay) | CommandBit(mpcStopped);
    if (status_ == mpsPlaying || status_ == mpsPaused) {
        commands |= CommandBit(mpcStop);
        if (reader_.Seekable() && toDevice) commands |= CommandBit(mpcSeek);
    }
    if (status_ == mpsPlaying && toDevice) commands |= CommandBit(mpcPause);
    if (status_ == mpsPaused && toDevice) commands |= CommandBit(mpcResume);
    return commands;
}

void TMP3Player::AssignStatus(TMP3PlayerStatus status) {
    const bool ending = stream_ != nullptr && (status_ == mpsPlaying || status_ == mpsPaused) &&
                        status == mpsStopped;
    status_ = status;
    messages_.PostOnce(MPM_CHANGESTATUS);
    if (ending) messages_.PostOnce(MPM_ENDPLAY);
}

void TMP3Player::AttachPositionNotifier() {
    soundOut_.SetOnPosition([this](void*) { messages_.Post(MPM_CHANGEPOSITION); });
}

void TMP3Player::Play() {
    if (!(Commands() & CommandBit(mpcPlay))) return;
    try {
        SelectRoutines(FeaturesWithCapabilities(DetectProcessorFeatures(), usingCpuCapabilities_));
        // Counted before the output opens: an error of the new device is this run's.
        ++playRun_;
        handOver_ = kHandOverFree;
        joins_.clear();
        {
            UiLock output(*this, outputLock_);
            AttachPositionNotifier();
            soundOut_.SetOutputFileName(outputFileName_);
            soundOut_.SetExpectedFileBytes(ExpectedPcmBytes());
            soundOut_.SetDeviceID(deviceId_);
            soundOut_.Open();
        }
        worker_.Event().SetEvent();
    } catch (...) {
        Stop();
        throw;
    }
    AssignStatus(mpsPlaying);
    endReason_ = merStoped;
    messages_.PostOnce(MPM_CHANGEPOSITION);
}

void TMP3Player::Pause() {
    if (!(Commands() & CommandBit(mpcPause))) return;
    {
        UiLock output(*this, outputLock_);
        soundOut_.Pause();
    }
    AssignStatus(mpsPaused);
}

void TMP3Player::Resume() {
    if (!(Commands() & CommandBit(mpcResume))) return;
    {
        UiLock output(*this, outputLock_);
        soundOut_.Unpause();
    }
    AssignStatus(mpsPlaying);
}

void TMP3Player::Stop() {
    if (stream_ == nullptr || status_ == mpsStopped) return;
    outputFileName_.clear();
    // A failing output (a WAV file that cannot be finished) still leaves the player stopped;
    // its error is raised once the stop is complete.
    std::exception_ptr outputError;
    {
        UiLock decoder(*this, decoderLock_);
        {
            UiLock output(*this, outputLock_);
            soundOut_.SetOnPosition(nullptr);
            try {
                soundOut_.Reset();
                soundOut_.Close();
            } catch (...) {
                outputError = std::current_exception();
            }
            // Last: the buffers that Reset returned may have set it again as "room to write".
            worker_.Event().ResetEvent();
            handOver_ = kHandOverFree;
        }
        if (reader_.Seekable()) reader_.Seek(dataStart_, msoFromBeginning);
        pendingBytes_ = 0;
        frameLength_ = 0;
        frameIndex_ = 0;
        playedBytes_ = 0;
        writtenBytes_ = 0;
        positionMs_ = 0;
        needsDecoderSetup_ = true;
    }
    // A stop while a song plays out stops that song, not the one already handed over to.
    ReturnToHeardSong();
    AssignStatus(mpsStopped);
    messages_.PostOnce(MPM_CHANGEPOSITION);
    if (!reader_.Seekable()) Close();
    if (outputError) std::rethrow_exception(outputError);
}

// ---- The play loop ----------------------------------------------------------------------

int64_t TMP3Player::DataEnd() const {
    return DataEndOf(dataStart_, dataLength_);
}

bool TMP3Player::AtEndOfData() const {
    return static_cast<int64_t>(reader_.Position()) - dataStart_ >= dataLength_;
}

void TMP3Player::MarkEndOfData() {
    dataLength_ = reader_.Position() - dataStart_;
}

void TMP3Player::CheckReaderAttached() const {
    if (!reader_.Active()) throw EMP3Error("TMP3Player.MPMWatchEvent");
}

void TMP3Player::MPMWatchEvent() {
    TMPSimpleEvent& run = worker_.Event();
    int32_t freePercent = 0;
    {
        TMPLockGuard decoder(decoderLock_);
        if (!run.IsSet()) return; // a Stop has switched the loop off
        // Play counts the run before it sets the event, and Stop resets the event under this
        // lock: while it is held, the run is the one this step belongs to.
        stepRun_ = playRun_.load();
        if (pendingBytes_ == 0) {
            if (AtEndOfData()) {
                if (!AskForNext()) PlayOutAndEnd();
                return;
            }
            if (frameLength_ <= 0) {
                frameLength_ = walk_.Next(reader_, DataEnd(), frameHeader_);
                if (frameLength_ <= 0) {
                    MarkEndOfData();
                    return;
                }
                if (needsDecoderSetup_) {
                    if (OpenDecoder(frameHeader_, frameLength_ - PaddingSlotOf(frameHeader_), 0, 0,
                                    decoderOptions_, 24000) == 0) {
                        reader_.Skip(1); // no frame to start from: on to the next
                        frameLength_ = 0;
                        return;
                    }
                    needsDecoderSetup_ = false;
                }
            }
            if (!reader_.Require(frameLength_)) {
                MarkEndOfData();
                return;
            }
            uint8_t* pcm = pcmBuffer_.Data();
            const TDecodeResult decoded = DecodeFrame(reader_.Data(), frameLength_, pcm);
            reader_.Skip(frameLength_);
            frameLength_ = 0;
            // An undecodable frame plays as one frame of silence, keeping the time line.
            if (decoded.Consumed <= 0) std::memset(pcm, 0, static_cast<size_t>(bytesPerFrame_));
            KeepSongPart(pcm);
            if (pendingBytes_ == 0) return; // all delay or padding: on to the next frame
        }
        MP3Assert(pendingBytes_ >= 1);
        {
            TMPLockGuard output(outputLock_);
            if (soundOut_.CanWrite()) {
                uint8_t* pcm = pcmBuffer_.Data();
                const int32_t taken = soundOut_.Write(pcm, pendingBytes_);
                pendingBytes_ -= taken;
                writtenBytes_ += taken;
                if (pendingBytes_ > 0)
                    std::memmove(pcm, pcm + taken, static_cast<size_t>(pendingBytes_));
            } else {
                run.ResetEvent();
                soundOut_.SetFreeEvent(&run);
            }
            freePercent = soundOut_.FreePercent();
        }
        CheckReaderAttached();
    }
    // While the sound output is full, use the time to read the file ahead.
    while (freePercent == 0) {
        {
            TMPLockGuard decoder(decoderLock_);
            if (!run.IsSet()) break;
            CheckReaderAttached();
            if (!reader_.ReadAhead()) break;
        }
        TMPLockGuard output(outputLock_);
        freePercent = soundOut_.FreePercent();
    }
    if (freePercent <= 25) std::this_thread::yield();
}

// Leaves the part of the frame just decoded into `pcm` that belongs to the song at its start and
// makes it the pending output.
void TMP3Player::KeepSongPart(uint8_t* pcm) {
    const int32_t sampleBytes = channels_ * 2;
    const int32_t samplesPerFrame = bytesPerFrame_ / sampleBytes;
    const TMP3SampleSpan song =
        SongPartOfFrame(frameIndex_++, samplesPerFrame, gapless_ ? song_ : TMP3Gapless{});
    if (song.From > 0)
        std::memmove(pcm, pcm + song.From * sampleBytes,
                     static_cast<size_t>((song.To - song.From) * sampleBytes));
    pendingBytes_ = (song.To - song.From) * sampleBytes;
}

// Called with the decoder lock held at the end of the data: with a next file queued, asks the
// user-interface thread once to hand over to it and idles until the answer. False when the song
// is to play out.
bool TMP3Player::AskForNext() {
    if (handOver_.load() == kHandOverFree && nextQueued_.load()) {
        handOver_ = kHandOverAsked;
        messages_.Post(MPM_HANDOVER, 0, static_cast<intptr_t>(playRun_.load()));
    }
    if (handOver_.load() != kHandOverAsked) return false;
    // The answer sets the event again under this lock, so it cannot come between these.
    worker_.Event().ResetEvent();
    return true;
}

// Called with the decoder lock held, which it gives up while the sound plays out: a player
// paused now would otherwise keep Stop, Seek and Close waiting until it is resumed.
void TMP3Player::PlayOutAndEnd() {
    TMPSimpleEvent& run = worker_.Event();
    {
        TMPLockGuard output(outputLock_);
        soundOut_.SetFreeEvent(nullptr);
        soundOut_.Flush();
    }
    const uint32_t thisRun = playRun_.load();
    decoderLock_.Unlock();
    soundOut_.WaitDone(); // Stop and Seek reset the output, which ends this wait at once
    decoderLock_.Lock();
    // Stopped meanwhile, or sought back into the data: nothing ends here. A device that failed
    // returned its buffers unplayed: its error, on its way to the host, ends this play.
    if (soundOut_.Faulted()) {
        run.ResetEvent();
        return;
    }
    if (!run.IsSet() || !AtEndOfData()) return;
    run.ResetEvent();
    messages_.Post(MPM_ENDOFSTREAM, 0, static_cast<intptr_t>(thisRun));
}

// ---- Position and seeking ---------------------------------------------------------------

int32_t TMP3Player::Position() {
    UiLock output(*this, outputLock_);
    if (soundOut_.Active()) {
        playedBytes_ += soundOut_.GetDoneBytes();
        while (!joins_.empty() && playedBytes_ >= joins_.front().At) {
            playedBytes_ -= joins_.front().At;
            joins_.pop_front();
            messages_.Post(MPM_NEXTSONG);
        }
        const int64_t bytesPerSecondTimesEight = static_cast<int64_t>(soundOut_.SampleRate()) *
                                                 soundOut_.Channels() * soundOut_.BitsPerSample();
        if (bytesPerSecondTimesEight > 0)
            positionMs_ = static_cast<int32_t>(playedBytes_ * 1000 * 8 / bytesPerSecondTimesEight);
    }
    return positionMs_;
}

int32_t TMP3Player::Duration() const {
    return joins_.empty() ? SongDuration() : joins_.front().DurationMs;
}

int32_t TMP3Player::SongDuration() const {
    // Without gapless every frame plays whole, the encoder's delay and padding too.
    int64_t played = totalBytes_;
    if (!gapless_ && song_.End > 0)
        played +=
            int64_t(song_.Frames) * bytesPerFrame_ - (song_.End - song_.Begin) * channels_ * 2;
    return StreamDuration(sampleRate_, channels_, played, bitrate_, dataLength_);
}

int64_t TMP3Player::ExpectedPcmBytes() const {
    const int32_t duration = Duration();
    // Songs that follow in the same output make it longer than this one, by as much as they hold.
    if (duration <= 0 || !nextFileNames_.empty()) return -1;
    return static_cast<int64_t>(duration) * sampleRate_ * channels_ * 2 / 1000;
}

int32_t TMP3Player::ReaderPosition() {
    UiLock decoder(*this, decoderLock_);
    return reader_.Position();
}

size_t TMP3Player::SeekTableCount() {
    std::lock_guard table(seekTableMutex_);
    return seekTable_.size();
}

int32_t TMP3Player::SeekTableEntry(size_t index) {
    std::lock_guard table(seekTableMutex_);
    return index < seekTable_.size() ? seekTable_[index] : -1;
}

bool TMP3Player::ScanFrame() {
    TMP3FrameHeader header;
    const int32_t length = walk_.Next(reader_, DataEnd(), header);
    // The table holds frames that lie whole in the audio data.
    if (length <= 0 || int64_t(reader_.Position()) + length > DataEnd()) return false;
    return reader_.Skip(length);
}

void TMP3Player::Seek(int32_t milliseconds) {
    MP3Assert(reader_.Seekable());
    if (milliseconds < 0 || !(Commands() & CommandBit(mpcSeek))) return;
    // A seek while a song plays out seeks in that song.
    ReturnToHeardSong();
    {
        UiLock decoder(*this, decoderLock_);
        // In song time: the song starts inside the first frame when its delay is trimmed, so
        // the frames after it begin that delay earlier than their place in the stream.
        const int64_t delayBytes = gapless_ ? song_.Begin * channels_ * 2 : 0;
        const int64_t target =
            static_cast<int64_t>(milliseconds) * sampleRate_ * channels_ * 2 / 1000;
        int64_t frame =
            target == 0 ? 0 : (target + delayBytes + bytesPerFrame_ - 1) / bytesPerFrame_;
        frame = std::min<int64_t>(frame, INT32_MAX);
        // The frame is found before anything changes: a read error on the way leaves the
        // player playing, or paused, where it was.
        int32_t offset;
        {
            std::lock_guard table(seekTableMutex_);
            const int32_t before = reader_.Position();
            try {
                frame = ReachFrame(frame);
            } catch (...) {
                reader_.Seek(before, msoFromBeginning);
                throw;
            }
            offset = seekTable_[static_cast<size_t>(frame)];
        }
        UiLock output(*this, outputLock_);
        soundOut_.SetOnPosition(nullptr);
        soundOut_.Reset();
        soundOut_.WaitDone();
        reader_.Seek(offset, msoFromBeginning);
        pendingBytes_ = 0;
        frameLength_ = 0;
        positionMs_ = 0;
        if (!noisySeek_) needsDecoderSetup_ = true;
        frameIndex_ = frame;
        playedBytes_ = std::max<int64_t>(frame * bytesPerFrame_ - delayBytes, 0);
        writtenBytes_ = playedBytes_;
        AttachPositionNotifier();
        if (status_ == mpsPaused) soundOut_.Pause();
        // Back in the data: the end, and what follows it, are met anew.
        if (handOver_.exchange(kHandOverFree) != kHandOverFree) worker_.Event().SetEvent();
    }
    messages_.PostOnce(MPM_CHANGEPOSITION);
}

// Called with the seek table locked. Walks the frames past the table's end until it holds
// `frame`; returns the frame reached, the last one found when the stream ends first.
int64_t TMP3Player::ReachFrame(int64_t frame) {
    const auto count = static_cast<int64_t>(seekTable_.size());
    if (frame < count) return frame;
    reader_.Seek(seekTable_.back(), msoFromBeginning);
    if (!ScanFrame()) return count - 1;
    while (static_cast<int64_t>(seekTable_.size()) <= frame) {
        const int32_t position = reader_.Position();
        if (!ScanFrame()) return static_cast<int64_t>(seekTable_.size()) - 1;
        seekTable_.push_back(position);
    }
    return frame;
}

// ---- Equaliser --------------------------------------------------------------------------

void TMP3Player::SetBandRange(int32_t low, int32_t high) {
    if (equalizerMode_ != memFreq || low < 1 || high < low || high > 24000) return;
    // The tables hold 32 bands; a larger count spreads over those 32.
    const int32_t bands = std::min(equalizerCount_, kEqualizerBands);
    equalizerFrequency_[0] = low;
    for (int32_t i = 1; i <= bands - 2; ++i) {
        const double previous = equalizerFrequency_[static_cast<size_t>(i - 1)];
        const int32_t next = RoundHalfEven(previous * std::pow(high / previous, 1.0 / (bands - i)));
        MP3Assert(next >= equalizerFrequency_[static_cast<size_t>(i - 1)]);
        equalizerFrequency_[static_cast<size_t>(i)] = next;
    }
    equalizerFrequency_[static_cast<size_t>(bands - 1)] = high;
    messages_.PostOnce(MPM_EQUALIZER);
}

void TMP3Player::UpdateEqualizerGains() {
    // The gains are read by the decoding thread; writing them under the decoder lock keeps
    // that exchange well defined.
    UiLock decoder(*this, decoderLock_);
    auto gainOf = [this](size_t band) {
        return static_cast<float>(std::pow(10.0, equalizerValue_[band] / 100.0));
    };
    if (equalizerMode_ == memSubBand) {
        *SubbandEqualizerOn() = equalizerEnabled_ ? 1 : 0;
        *LineEqualizerOn() = 0;
        for (int32_t i = 0; i < 32; ++i) {
            *SubbandGain(i) = gainOf(static_cast<size_t>(i));
            if (sampleRate_ > 0)
                equalizerFrequency_[static_cast<size_t>(i)] = SubbandCentre(sampleRate_, i);
        }
        return;
    }
    const bool lines = layerNumber_ == 3;
    *SubbandEqualizerOn() = !lines && equalizerEnabled_ ? 1 : 0;
    *LineEqualizerOn() = lines && equalizerEnabled_ ? 1 : 0;
    if (!equalizerEnabled_) return;
    const int32_t bands = std::min(equalizerCount_, kEqualizerBands);
    const int32_t count = lines ? 576 : 32;
    for (int32_t d = 0; d < count; ++d) {
        const int32_t centre = lines ? LineCentre(sampleRate_, d) : SubbandCentre(sampleRate_, d);
        float best = 2147483648.0f;
        size_t nearest = 0;
        for (int32_t b = 0; b < bands; ++b) {
            const float m =
                static_cast<float>(std::max(equalizerFrequency_[static_cast<size_t>(b)], 1));
            float distance = m / static_cast<float>(centre);
            if (distance < 1.0f) distance = 1.0f / distance;
            if (distance < best) {
                best = distance;
                nearest = static_cast<size_t>(b);
            }
        }
        *(lines ? LineGain(d) : SubbandGain(d)) = gainOf(nearest);
    }
}

// ---- Songs without a gap -----------------------------------------------------------------

void TMP3Player::SetNextFileNames(const std::vector<std::string>& names) {
    nextFileNames_.assign(names.begin(), names.end());
    std::erase(nextFileNames_, std::string());
    nextQueued_ = !nextFileNames_.empty();
}

// Whether the songs before have been heard to their end; the host learns it even when it does
// not ask for the position.
void TMP3Player::SettleJoin() {
    if (!joins_.empty()) Position();
}

// The songs handed over from will not be heard to their end: the host learns that the open one
// is current now.
void TMP3Player::PassJoins() {
    for (; !joins_.empty(); joins_.pop_front())
        messages_.Post(MPM_NEXTSONG);
}

// While a song plays out behind the ones handed over to, a stop or a seek acts on it: its file is
// opened again in their place, with the output kept (what it holds is dropped), and they become
// the next files once more. A song that cannot be opened again (a stream that is no file) leaves
// the open one current.
void TMP3Player::ReturnToHeardSong() {
    if (joins_.empty()) return;
    const std::string heard = joins_.front().FileName;
    std::unique_ptr<TMPStream> stream;
    try {
        if (!heard.empty()) stream = std::make_unique<TMPFileStream>(heard);
    } catch (const std::exception&) {
    }
    if (!stream) {
        PassJoins();
        return;
    }
    std::vector<std::string> following;
    for (size_t i = 1; i < joins_.size(); ++i)
        following.push_back(joins_[i].FileName);
    following.push_back(fileName_);
    following.insert(following.end(), nextFileNames_.begin(), nextFileNames_.end());
    joins_.clear();
    // Held throughout, so that the worker never steps between the two streams.
    UiLock decoder(*this, decoderLock_);
    {
        UiLock output(*this, outputLock_);
        soundOut_.Reset();
    }
    SwitchStream(std::move(stream), heard);
    SetNextFileNames(following);
}

// Puts the file `name`, open as `stream`, in place of the open stream, the output left as it is.
// A file that fails between its two reads ends the play with its error, as any failing file's
// does: the stream before is gone.
void TMP3Player::SwitchStream(std::unique_ptr<TMPStream> stream, const std::string& name) {
    ReleaseStream();
    stream_ = stream.release();
    streamOptions_ = msoSeekable | msoOwnsStream;
    try {
        ReadStreamLayout();
    } catch (...) {
        endReason_ = merFailure;
        soundOut_.AbandonFile();
        Close();
        throw;
    }
    fileName_ = name;
    messages_.PostOnce(MPM_EQUALIZER);
}

void TMP3Player::HandleHandOver(const TMPMessage& message) {
    // Stopped, or stopped and started again, since the worker asked: nobody waits for this.
    if (static_cast<uint32_t>(message.LParam) != playRun_.load() || status_ == mpsStopped ||
        handOver_.load() != kHandOverAsked)
        return;
    nextRefusal_ = HandOver();
    UiLock decoder(*this, decoderLock_);
    if (!nextRefusal_.empty()) {
        // The refused file may have set the shared decoder up for itself.
        needsDecoderSetup_ = true;
        handOver_ = kHandOverDeclined;
    } else {
        handOver_ = kHandOverFree;
    }
    worker_.Event().SetEvent();
}

// Replaces the open stream by the next file, leaving the output open with the song's last
// buffers queued; returns why it did not, leaving the song as it was.
std::string TMP3Player::HandOver() {
    if (nextFileNames_.empty()) return "no next file";
    const std::string name = nextFileNames_.front();
    nextFileNames_.pop_front();
    nextQueued_ = !nextFileNames_.empty();
    std::unique_ptr<TMPStream> next;
    TMP3DecoderFormat format;
    try {
        next = std::make_unique<TMPFileStream>(name);
        UiLock decoder(*this, decoderLock_);
        TMPStreamReader reader(kReaderCapacity);
        reader.Attach(next.get(), true);
        TMP3Info info;
        TFirstFrame first;
        int32_t options = 0;
        LocateStream(reader, info, first, options, format);
        reader.Detach();
        // The look ahead read past the tags; the song is read again from its first byte, so
        // that its tags (its ReplayGain among them) are not skipped.
        next->Seek(0, msoFromBeginning);
    } catch (const std::exception& error) {
        return error.what();
    }
    TAudioFormat pcm;
    pcm.Channels = format.Channels;
    pcm.SamplesPerSecond = format.SampleRate;
    pcm.BitsPerSample = format.BitsPerSample;
    {
        UiLock output(*this, outputLock_);
        if (!soundOut_.Continues(pcm)) return "another sample rate or number of channels";
    }
    int64_t songEnd;
    {
        UiLock decoder(*this, decoderLock_);
        songEnd = writtenBytes_;
        writtenBytes_ = 0;
    }
    joins_.push_back({songEnd, SongDuration(), fileName_});
    SwitchStream(std::move(next), name);
    return {};
}

// ---- Messages ---------------------------------------------------------------------------

void TMP3Player::ForwardException(const std::exception_ptr& error, bool& handled, uint32_t run) {
    auto notice = std::make_shared<ExceptionNotice>();
    notice->Error = error;
    notice->Run = run;
    messages_.Post(MPM_EXCEPTION, 0, reinterpret_cast<intptr_t>(new ExceptionNoticeRef(notice)));
    WaitForAnyEvent({&notice->Handled, &shuttingDown_, &uiWaiting_}, kInfinite);
    handled = true;
}

void TMP3Player::HandleException(const TMPMessage& message) {
    const std::unique_ptr<ExceptionNoticeRef> owned(
        reinterpret_cast<ExceptionNoticeRef*>(message.LParam));
    const ExceptionNoticeRef& notice = *owned;
    // The error of a run that has ended (stopped, or already failed: a worker that goes on
    // may meet the same fault again) ends nothing, least of all the run started since.
    const bool current = notice->Run == playRun_.load() && status_ != mpsStopped;
    try {
        if (current) ShowApplicationException(notice->Error);
    } catch (...) {
        // The waiting thread goes on whether or not the display worked.
    }
    notice->Handled.SetEvent();
    if (!current) return;
    endReason_ = merFailure;
    // A WAV file that the failure cut short is not the song.
    soundOut_.AbandonFile();
    Stop();
}

void TMP3Player::HandleEndOfStream(const TMPMessage& message) {
    // The notice of a run that has since been stopped and started again is stale.
    if (static_cast<uint32_t>(message.LParam) != playRun_.load()) return;
    endReason_ = merSuccessful;
    // Everything has played, whatever the device's position says.
    PassJoins();
    // Finishing a WAV file may fail (a full disk): the play then ends with that error.
    try {
        if (reader_.Seekable())
            Stop();
        else
            Close();
    } catch (...) {
        endReason_ = merFailure;
        throw;
    }
}

void TMP3Player::Dispatch(TMPMessage& message) {
    // The worker's step: what it raises goes to the worker's loop, which forwards it.
    if (message.Msg == MPM_WATCHEVENT) {
        MPMWatchEvent();
        return;
    }
    // Nothing raised by a handler, or by the host's events inside one, may leave the host's
    // message loop: it is shown as any error of the player is.
    try {
        DispatchMessage(message);
    } catch (...) {
        try {
            ShowApplicationException(std::current_exception());
        } catch (...) {
        }
    }
}

void TMP3Player::DispatchMessage(TMPMessage& message) {
    switch (message.Msg) {
    case MPM_CHANGEPOSITION:
        if (processMessages_) processMessages_();
        messages_.RemovePending(MPM_CHANGEPOSITION);
        SettleJoin();
        DoChangePosition();
        break;
    case MPM_HANDOVER:
        HandleHandOver(message);
        break;
    case MPM_NEXTSONG:
        DoNextSong();
        break;
    case MPM_EXCEPTION:
        HandleException(message);
        break;
    case MPM_ENDOFSTREAM:
        HandleEndOfStream(message);
        break;
    case MPM_CHANGESTATUS:
        messages_.RemovePending(MPM_CHANGESTATUS);
        DoChangeStatus();
        break;
    case MPM_ENDPLAY:
        messages_.RemovePending(MPM_ENDPLAY);
        DoEndPlay();
        break;
    case MPM_EQUALIZER:
        messages_.RemovePending(MPM_EQUALIZER);
        if (stream_ != nullptr) UpdateEqualizerGains();
        break;
    default:
        break;
    }
}

void TMP3Player::DoChangeStatus() {
    if (!destroying_ && OnChangeStatus) OnChangeStatus(this);
}

void TMP3Player::DoChangePosition() {
    if (!destroying_ && OnChangePosition) OnChangePosition(this);
}

void TMP3Player::DoNextSong() {
    if (!destroying_ && OnNextSong) OnNextSong(this);
}

void TMP3Player::DoEndPlay() {
    if (OnEndPlay) OnEndPlay(this, endReason_);
    endReason_ = merStoped;
}

} // namespace pelbrisk
