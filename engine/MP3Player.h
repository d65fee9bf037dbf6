#pragma once

#include "decoder/CpuFeatures.h"
#include "engine/LoopThread.h"
#include "engine/MessageQueue.h"
#include "engine/SoundOut.h"
#include "engine/Threads.h"
#include "info/FrameHeader.h"
#include "info/FrameSearch.h"
#include "info/MP3Info.h"
#include "info/VbrHeader.h"
#include "stream/AlignedBlock.h"
#include "stream/Stream.h"
#include "stream/StreamReader.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelbrisk {

enum TMP3PlayerStatus : int32_t { mpsStopped = 0, mpsPlaying = 1, mpsPaused = 2 };
enum TMP3EndPlayReason : int32_t { merSuccessful = 0, merStoped = 1, merFailure = 2 };
using TMP3EndPlayEvent = std::function<void(void* sender, TMP3EndPlayReason reason)>;

enum TMP3PlayerCommand : int32_t {
    mpcOpen,
    mpcClose,
    mpcPlay,
    mpcStop,
    mpcPause,
    mpcResume,
    mpcSeek,
    mpcStopped,
};
// Bit i stands for the i-th command.
using TMP3PlayerCommands = uint32_t;
constexpr TMP3PlayerCommands CommandBit(TMP3PlayerCommand command) {
    return 1u << command;
}

using TMP3StreamOptions = uint32_t;
inline constexpr TMP3StreamOptions msoSeekable = 1u << 0;
inline constexpr TMP3StreamOptions msoOwnsStream = 1u << 1;

enum TMP3EqualizerMode : int32_t { memSubBand = 0, memFreq = 1 };
enum TThreadPriority : int32_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical,
};

// The player's messages, posted to its queue and handled on the user-interface thread.
inline constexpr uint32_t MPM_CHANGEPOSITION = 0x40A;
inline constexpr uint32_t MPM_EXCEPTION = 0x40B;
inline constexpr uint32_t MPM_ENDOFSTREAM = 0x40C;
inline constexpr uint32_t MPM_CHANGESTATUS = 0x40E;
inline constexpr uint32_t MPM_ENDPLAY = 0x40F;
inline constexpr uint32_t MPM_EQUALIZER = 0x410;
inline constexpr uint32_t MPM_HANDOVER = 0x411;
inline constexpr uint32_t MPM_NEXTSONG = 0x412;

inline constexpr int32_t kEqualizerBands = 32;
inline constexpr int32_t kPCMBufferBytes = 5120;
inline constexpr int32_t kReaderCapacity = 65536;
inline constexpr int32_t kUnknownDataLength = INT32_MAX;

// Plays one MPEG audio stream: opens it, decodes it on a worker thread and plays it through the
// sound output. All public operations and all events belong to the user-interface thread; the
// host pumps Messages() there whenever its wake hook fires.
class TMP3Player : public TMPMessageHandler {
public:
    TMP3Player();
    virtual ~TMP3Player();
    TMP3Player(const TMP3Player&) = delete;
    TMP3Player& operator=(const TMP3Player&) = delete;

    // Properties.
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value);
    bool AutoPlay() const { return autoPlay_; }
    void SetAutoPlay(bool value);
    int32_t ChangePosStep() const { return changePosStep_; }
    void SetChangePosStep(int32_t value);
    TThreadPriority DecodePriority() const { return decodePriority_; }
    void SetDecodePriority(TThreadPriority value);
    bool EqualizerEnabled() const { return equalizerEnabled_; }
    void SetEqualizerEnabled(bool value);
    int32_t EqualizerCount() const { return equalizerCount_; }
    void SetEqualizerCount(int32_t value);
    TMP3EqualizerMode EqualizerMode() const { return equalizerMode_; }
    void SetEqualizerMode(TMP3EqualizerMode value);
    int32_t EqualizerValue(int32_t band) const;
    void SetEqualizerValue(int32_t band, int32_t value);
    int32_t EqualizerFrequency(int32_t band) const;
    const std::string& FileName() const { return fileName_; }
    // The file whose samples are heard now: while a song plays out behind the one handed over to,
    // that song's; else FileName.
    const std::string& HeardFileName() const {
        return joins_.empty() ? fileName_ : joins_.front().FileName;
    }
    void SetFileName(const std::string& value);
    TMP3InfoType NeedInfoType() const { return info_.NeedInfoType(); }
    void SetNeedInfoType(TMP3InfoType value) { info_.SetNeedInfoType(value); }
    bool NoisySeek() const { return noisySeek_; }
    void SetNoisySeek(bool value) { noisySeek_ = value; }
    bool InvertPolarity();
    void SetInvertPolarity(bool value);
    TMP3CpuCapabilities UsingCpuCapabilities() const { return usingCpuCapabilities_; }
    void SetUsingCpuCapabilities(TMP3CpuCapabilities value);
    int32_t VolBalance() const { return volBalance_; }
    void SetVolBalance(int32_t value);
    int32_t Volume() const { return volume_; }
    void SetVolume(int32_t value);
    const std::string& OutputFileName() const { return outputFileName_; }
    void SetOutputFileName(const std::string& value) { outputFileName_ = value; }
    int32_t DeviceID() const { return deviceId_; }
    void SetDeviceID(int32_t value) { deviceId_ = value; }
    // Gapless playback: when the stream's LAME tag names the encoder's delay and padding, only
    // the song is played, timed and sought in, as other players do. On by default; off plays
    // every frame whole.
    bool Gapless() const { return gapless_; }
    void SetGapless(bool value) { gapless_ = value; }
    // How the open stream's ReplayGain is played; a change takes effect at the next buffer.
    const TReplayGainSettings& ReplayGain() const { return replayGain_; }
    void SetReplayGain(const TReplayGainSettings& value);
    // The gains the open stream's tags give (tags first, then its LAME tag).
    const TReplayGain& StreamGain() const { return streamGain_; }

    // The files that follow the open one without a gap, in order: when a song's data ends, the
    // first is opened and decoded while the last buffers play, and its first sample follows the
    // last one on the same output, provided it has the same sample rate and channels. Otherwise,
    // or when it cannot be read, the song plays out and ends as it would without them. Each is
    // taken off the list when handed over; Close forgets them.
    const std::deque<std::string>& NextFileNames() const { return nextFileNames_; }
    void SetNextFileNames(const std::vector<std::string>& names);
    // Why the last next file did not follow without a gap; empty when it did.
    const std::string& NextRefusal() const { return nextRefusal_; }

    TNotifyEvent OnChangePosition;
    TNotifyEvent OnChangeStatus;
    TMP3EndPlayEvent OnEndPlay;
    // A next file's first sample is being heard (once per file handed over, in order). Position
    // and Duration stay those of the song that plays out until then; FileName and Info are those
    // of the file opened last, which is handed over while the song before still plays.
    TNotifyEvent OnNextSong;

    // Operations.
    void Open();
    void OpenStream(TMPStream* stream, TMP3StreamOptions options);
    void Close();
    void Play();
    void Pause();
    void Resume();
    void Stop();
    void Seek(int32_t milliseconds);
    void SetBandRange(int32_t low, int32_t high);
    int32_t Position();
    int32_t Duration() const;
    TMP3PlayerStatus Status() const { return status_; }
    TMP3PlayerCommands Commands() const;
    TMP3Info& Info() { return info_; }
    static void ReadFileInfo(const std::string& fileName, TMP3Info& info);

    // Property loading from settings: between these, AutoOpen and FileName do not open, and a
    // Volume of 0 takes the sound output's volume. Loaded then opens when it should.
    void BeginLoading() { loading_ = true; }
    void Loaded();

    // The player's message queue, which the host pumps on its user-interface thread.
    TMPMessageQueue& Messages() { return messages_; }
    // "Let the application process all pending messages", run before a position notice.
    void SetProcessMessagesHook(std::function<void()> hook) { processMessages_ = std::move(hook); }

    // What the open stream is known to be (for displays and checks).
    int32_t DataStart() const { return dataStart_; }
    int32_t DataLength() const { return dataLength_; }
    int32_t Bitrate() const { return bitrate_; }
    int64_t TotalBytes() const { return totalBytes_; }
    int32_t BytesPerFrame() const { return bytesPerFrame_; }
    int32_t SampleRate() const { return sampleRate_; }
    int32_t Channels() const { return channels_; }
    int32_t LayerNumber() const { return layerNumber_; }
    int32_t MpegVersion() const { return mpegVersion_; }
    // The song within the decoded samples, as the LAME tag gives it; both 0 without one.
    int64_t GaplessBegin() const { return song_.Begin; }
    int64_t GaplessEnd() const { return song_.End; }
    // Where the decoding stands in the file (taken under the decoder lock).
    int32_t ReaderPosition();
    TMP3EndPlayReason EndReason() const { return endReason_; }
    int64_t PlayedBytes() const { return playedBytes_; }
    size_t SeekTableCount();
    // File offset of frame `index` as the table holds it; -1 beyond the table.
    int32_t SeekTableEntry(size_t index);

    void Dispatch(TMPMessage& message) override;

protected:
    virtual void DoChangeStatus();
    virtual void DoChangePosition();
    virtual void DoEndPlay();
    virtual void DoNextSong();

private:
    // Shared by the failing thread and the message, so that either may be gone first.
    struct ExceptionNotice {
        TMPSimpleEvent Handled;
        std::exception_ptr Error;
        uint32_t Run = 0; // the play run that failed
    };
    using ExceptionNoticeRef = std::shared_ptr<ExceptionNotice>;
    // While the user-interface thread waits for one of the locks, or for the worker or the
    // sound output, a thread that failed must not wait for it to show the error: the failed
    // thread may be what holds the lock, or hold it up, and both would wait for ever. Scopes
    // nest; the flag stays set until the outermost one ends.
    class UiWaitingScope {
    public:
        explicit UiWaitingScope(TMP3Player& player) : player_(player) {
            if (player_.uiWaitDepth_++ == 0) player_.uiWaiting_.SetEvent();
        }
        ~UiWaitingScope() {
            if (--player_.uiWaitDepth_ == 0) player_.uiWaiting_.ResetEvent();
        }
        UiWaitingScope(const UiWaitingScope&) = delete;
        UiWaitingScope& operator=(const UiWaitingScope&) = delete;

    private:
        TMP3Player& player_;
    };
    // The decoder or the output lock, taken on the user-interface thread.
    class UiLock {
    public:
        UiLock(TMP3Player& player, TMPAbstractMutex& mutex) : waiting_(player), guard_(mutex) {}

    private:
        UiWaitingScope waiting_;
        TMPLockGuard guard_;
    };

    void OpenStreamWithoutPlaying(TMPStream* stream, TMP3StreamOptions options);
    void ReadStreamLayout();
    void AssignStatus(TMP3PlayerStatus status);
    void ForwardException(const std::exception_ptr& error, bool& handled, uint32_t run);
    void AttachPositionNotifier();
    void MPMWatchEvent();
    int64_t DataEnd() const;
    bool AtEndOfData() const;
    void MarkEndOfData();
    void CheckReaderAttached() const;
    void PlayOutAndEnd();
    bool ScanFrame();
    int64_t ReachFrame(int64_t frame);
    // PCM bytes the output should take; -1 when its length is unknown.
    int64_t ExpectedPcmBytes() const;
    void UpdateEqualizerGains();
    void HandleException(const TMPMessage& message);
    void HandleEndOfStream(const TMPMessage& message);
    void DispatchMessage(TMPMessage& message);
    void KeepSongPart(uint8_t* pcm);
    bool AskForNext();
    void HandleHandOver(const TMPMessage& message);
    std::string HandOver();
    void ReleaseStream();
    void SettleJoin();
    void PassJoins();
    void ReturnToHeardSong();
    void SwitchStream(std::unique_ptr<TMPStream> stream, const std::string& name);
    int32_t SongDuration() const;

    // Properties.
    bool autoOpen_ = true;
    bool autoPlay_ = true;
    int32_t changePosStep_ = 400;
    TThreadPriority decodePriority_ = tpNormal;
    bool equalizerEnabled_ = false;
    int32_t equalizerCount_ = 6;
    TMP3EqualizerMode equalizerMode_ = memSubBand;
    std::array<int32_t, kEqualizerBands> equalizerValue_{};
    std::array<int32_t, kEqualizerBands> equalizerFrequency_{};
    std::string fileName_;
    bool noisySeek_ = true;
    TMP3CpuCapabilities usingCpuCapabilities_ = kAllCpuCapabilities;
    int32_t volBalance_ = 0;
    int32_t volume_ = 100;
    std::string outputFileName_;
    int32_t deviceId_ = -1;
    bool loading_ = false;
    std::atomic<bool> gapless_{true};
    TReplayGainSettings replayGain_;
    TReplayGain streamGain_;
    bool destroying_ = false;

    // The open stream.
    TMPStream* stream_ = nullptr;
    TMP3StreamOptions streamOptions_ = 0;
    TMPStreamReader reader_{kReaderCapacity};
    TMP3FrameHeader header_;      // the first frame's
    TMP3FrameHeader frameHeader_; // of the frame at the read head, while playing
    TFrameWalk walk_;             // the frames of the stream, measured against the first
    int32_t frameLength_ = 0;
    int32_t decoderOptions_ = 0; // the output channels chosen at open, for every set-up
    int32_t dataStart_ = 0;
    // Becomes known on the worker at the end of a stream that cannot seek while the host may be
    // asking for the duration.
    std::atomic<int32_t> dataLength_{kUnknownDataLength};
    int32_t layerNumber_ = 0;
    int32_t mpegVersion_ = 0;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    int32_t bitrate_ = 0;
    int32_t bytesPerFrame_ = 0;
    int64_t totalBytes_ = 0;
    TMP3Gapless song_;
    int64_t frameIndex_ = 0; // of the next frame to decode, counted from the first audio frame
    TMPPlainMutex seekTableMutex_;
    std::vector<int32_t> seekTable_;
    TMPAlignedBlock pcmBuffer_;
    int32_t pendingBytes_ = 0;
    int64_t playedBytes_ = 0;
    // Bytes given to the output, on the same time line as playedBytes_ (decoder lock).
    int64_t writtenBytes_ = 0;
    int32_t positionMs_ = 0;
    // The next file, and the hand-over's state at the end of the data: the worker asks once and
    // waits for the answer, which is "handed over" (free again) or "declined" (play out).
    std::deque<std::string> nextFileNames_;
    std::string nextRefusal_;
    std::atomic<bool> nextQueued_{false};
    enum : int32_t { kHandOverFree, kHandOverAsked, kHandOverDeclined };
    std::atomic<int32_t> handOver_{kHandOverFree};
    // Each song handed over from and not yet heard to its end: where it ends on playedBytes_'s
    // time line (the first's; each later one's on the time line of the song before), its
    // duration and its file (empty for a stream that is none).
    struct TJoin {
        int64_t At = 0;
        int32_t DurationMs = 0;
        std::string FileName;
    };
    std::deque<TJoin> joins_;
    bool needsDecoderSetup_ = false;
    TMP3PlayerStatus status_ = mpsStopped;
    TMP3EndPlayReason endReason_ = merSuccessful;
    // Counts the starts of playing, so that an end-of-data or error notice of an earlier run is
    // ignored.
    std::atomic<uint32_t> playRun_{0};
    // The run of the worker's current step, for the errors it raises.
    std::atomic<uint32_t> stepRun_{0};

    TMP3Info info_;
    TMPMessageQueue messages_{this};
    std::function<void()> processMessages_;
    TMPSimpleEvent shuttingDown_;
    TMPSimpleEvent uiWaiting_;
    int32_t uiWaitDepth_ = 0; // touched by the user-interface thread only
    TSoundOut soundOut_;
    TMPSimpleMutex outputLock_;
    TMPSimpleMutex decoderLock_;
    TMPLoopThread worker_{this};
};

} // namespace pelbrisk
