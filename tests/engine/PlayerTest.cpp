#include "decoder/CpuFeatures.h"
#include "decoder/Decoder.h"
#include "engine/MP3Player.h"
#include "stream/Errors.h"
#include "tests/engine/PlayerSupport.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace pelbrisk {
namespace {

using namespace std::chrono_literals;
using test::PlayerLog;
using test::PumpFor;
using test::PumpUntil;

std::filesystem::path StereoWav() {
    return test::MakeSignalWav(3.0, 44100, 2);
}
std::filesystem::path Lame128() {
    return test::EncodeWithLame(StereoWav(), "-b 128 -t");
}
std::filesystem::path LameVbr() {
    return test::EncodeWithLame(StereoWav(), "-V 2");
}
std::filesystem::path Twolame() {
    return test::EncodeWithTwolame(StereoWav(), "-b 192 -m j");
}
std::filesystem::path ShortTwolame() {
    return test::EncodeWithTwolame(test::MakeSignalWav(1.0, 44100, 2), "-b 192");
}
// Long enough to go on playing whatever a test does meanwhile.
std::filesystem::path LongLame() {
    return test::EncodeWithLame(test::MakeSignalWav(30.0, 44100, 2), "-b 192");
}

// However loaded the machine, the player's threads get this far within this time.
constexpr auto kGenerousDeadline = 20s;

// Polls a condition that another thread makes true.
bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerousDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Runs a player operation on a thread of its own. One that waited for the paused play-out would
// wait for a resume; on that failure the player is resumed, so that the test still ends.
bool FinishesWhilePaused(TMP3Player& player, const std::function<void()>& operation) {
    auto finished = std::async(std::launch::async, operation);
    const bool inTime = finished.wait_for(kGenerousDeadline) == std::future_status::ready;
    if (!inTime) player.Resume();
    finished.get();
    return inTime;
}

// A player on the null device that does not start by itself.
struct NullPlayer {
    NullPlayer() {
        player.SetAutoPlay(false);
        player.SetDeviceID(NullAudioDeviceId());
        log.Attach(player);
    }
    TMP3Player player;
    PlayerLog log;
};

TEST(Player, WavOutputHoldsExactlyThePcmOfAFrameByFrameDecode) {
    test::TempDir dir;
    for (const auto& mp3 : {Lame128(), LameVbr(), Twolame()}) {
        const auto pcm = test::PlayToWav(mp3, dir / "out.wav");
        const auto expected = test::DecodeSong(test::ReadFileBytes(mp3));
        ASSERT_GT(expected.size(), 100000u);
        EXPECT_EQ(pcm.size(), expected.size()) << mp3;
        EXPECT_TRUE(pcm == expected) << mp3;
    }
}

TEST(Player, OperationsOutsideCommandsDoNothingAndFireNothing) {
    NullPlayer p;
    EXPECT_EQ(p.player.Commands(), CommandBit(mpcOpen));
    p.player.Play();
    p.player.Pause();
    p.player.Stop();
    p.player.Close();
    p.player.SetFileName(Lame128().string());
    PumpFor(p.player, 50ms);
    const PlayerLog afterOpen = p.log;
    EXPECT_EQ(p.player.Commands(), CommandBit(mpcOpen) | CommandBit(mpcClose) |
                                       CommandBit(mpcPlay) | CommandBit(mpcStopped));
    p.player.Pause();
    p.player.Resume();
    p.player.Seek(1000);
    p.player.Stop();
    PumpFor(p.player, 50ms);
    EXPECT_EQ(p.log.Order, afterOpen.Order);
    EXPECT_EQ(p.player.Status(), mpsStopped);
    p.player.Play();
    p.player.Resume(); // playing: not accepted
    PumpFor(p.player, 50ms);
    EXPECT_EQ(p.player.Status(), mpsPlaying);
    EXPECT_EQ(p.player.Commands(), CommandBit(mpcOpen) | CommandBit(mpcClose) |
                                       CommandBit(mpcStop) | CommandBit(mpcPause) |
                                       CommandBit(mpcSeek));
}

TEST(Player, StopWhilePausedReportsStatusThenEndOnceAndASecondStopDoesNothing) {
    NullPlayer p;
    p.player.SetFileName(Lame128().string());
    p.player.Play();
    p.player.Pause();
    PumpFor(p.player, 100ms);
    p.log = PlayerLog();
    p.log.Attach(p.player);
    p.player.Stop();
    p.player.Stop();
    PumpFor(p.player, 100ms);
    EXPECT_EQ(p.log.Statuses, std::vector<TMP3PlayerStatus>{mpsStopped});
    EXPECT_EQ(p.log.EndReasons, std::vector<TMP3EndPlayReason>{merStoped});
    // A position notice of the paused output may come at any moment; it belongs to neither.
    std::string statusAndEnd;
    for (char event : p.log.Order)
        if (event != 'p') statusAndEnd += event;
    EXPECT_EQ(statusAndEnd, "se");
    EXPECT_EQ(p.player.EndReason(), merStoped);
    EXPECT_EQ(p.player.Position(), 0);
}

TEST(Player, PlayingToTheEndReportsSuccessOnceAndPlaysAgainFromTheStart) {
    test::TempDir dir;
    TMP3Player player;
    player.SetAutoPlay(false);
    PlayerLog log;
    log.Attach(player);
    player.SetFileName(Twolame().string());
    for (int run = 0; run < 2; ++run) {
        player.SetOutputFileName((dir / "out.wav").string());
        player.Play();
        ASSERT_TRUE(PumpUntil(player, [&] { return log.EndReasons.size() == size_t(run) + 1; }));
        PumpFor(player, 50ms);
        EXPECT_EQ(player.Status(), mpsStopped);
        EXPECT_EQ(player.ReaderPosition(), player.DataStart()) << "rewound";
        EXPECT_EQ(player.EndReason(), merStoped) << "the reason is reported once";
        EXPECT_FALSE(player.FileName().empty()) << "the file stays open";
        EXPECT_TRUE(player.OutputFileName().empty()) << "Stop clears the output file";
    }
    EXPECT_EQ(log.EndReasons, (std::vector<TMP3EndPlayReason>{merSuccessful, merSuccessful}));
}

TEST(Player, SettingTheFileNameOpensAndPlaysAndAnEmptyNameCloses) {
    TMP3Player player;
    player.SetDeviceID(NullAudioDeviceId());
    PlayerLog log;
    log.Attach(player);
    player.SetFileName(Lame128().string());
    EXPECT_EQ(player.Status(), mpsPlaying);
    EXPECT_EQ(player.LayerNumber(), 3);
    EXPECT_EQ(player.MpegVersion(), 1);
    EXPECT_EQ(player.SampleRate(), 44100);
    EXPECT_EQ(player.Channels(), 2);
    EXPECT_EQ(player.Bitrate(), 128000);
    EXPECT_EQ(player.BytesPerFrame(), 4608);
    player.SetFileName("");
    EXPECT_EQ(player.Commands(), CommandBit(mpcOpen));
    PumpFor(player, 50ms);
    EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merStoped});
    EXPECT_EQ(log.Statuses.back(), mpsStopped);
}

TEST(Player, FilesThatCannotBeOpenedOrAreNotMpegAudioRaise) {
    test::TempDir dir;
    TMP3Player player;
    player.SetAutoPlay(false);
    player.SetFileName(Lame128().string());
    const std::string missing = (dir / "missing.mp3").string();
    EXPECT_THROW(player.SetFileName(missing), EMP3Error);
    EXPECT_EQ(player.FileName(), missing);
    EXPECT_NE(player.Commands(), CommandBit(mpcOpen)) << "the open file stays open";

    std::vector<uint8_t> noise(20000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 37 % 251 & 0x7F);
    test::WriteFileBytes(dir / "noise.mp3", noise);
    try {
        player.SetFileName((dir / "noise.mp3").string());
        FAIL() << "not MPEG audio";
    } catch (const EMP3Error& error) {
        EXPECT_STREQ(error.what(), "unknown MPEG Audio format.");
    }
    EXPECT_EQ(player.Commands(), CommandBit(mpcOpen));
    EXPECT_TRUE(player.FileName().empty());
}

TEST(Player, ID3v2TagAndJunkBeforeTheFirstFrameAreNotAudioData) {
    test::TempDir dir;
    const auto mp3 = test::ReadFileBytes(Lame128());
    std::vector<uint8_t> file = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    file.resize(30, 0);
    for (int i = 0; i < 300; ++i)
        file.push_back(static_cast<uint8_t>(0x11 * (i % 7)));
    file.insert(file.end(), mp3.begin(), mp3.end());
    test::WriteFileBytes(dir / "tagged.mp3", file);
    TMP3Player player;
    player.SetAutoPlay(false);
    player.SetFileName((dir / "tagged.mp3").string());
    EXPECT_EQ(player.DataStart(), 330);
    EXPECT_EQ(player.DataLength(), static_cast<int32_t>(mp3.size()));
    EXPECT_EQ(player.ReaderPosition(), 330);
}

// Frames of a Layer II file with a gap of zeros spliced in after frame 20.
std::vector<uint8_t> WithGap(size_t zeros, size_t* framesBefore, size_t* framesTotal) {
    const auto mp2 = test::ReadFileBytes(Twolame());
    const auto offsets = test::FrameOffsets(mp2);
    *framesBefore = 20;
    *framesTotal = offsets.size();
    std::vector<uint8_t> file(mp2.begin(), mp2.begin() + static_cast<long>(offsets[20]));
    file.insert(file.end(), zeros, 0);
    file.insert(file.end(), mp2.begin() + static_cast<long>(offsets[20]), mp2.end());
    return file;
}

TEST(Player, GapsUpTo4096BytesAreSkippedAndLongerOnesEndPlaying) {
    test::TempDir dir;
    size_t before = 0, total = 0;
    test::WriteFileBytes(dir / "gap4000.mp2", WithGap(4000, &before, &total));
    test::WriteFileBytes(dir / "gap5000.mp2", WithGap(5000, &before, &total));
    const auto skipped = test::PlayToWav(dir / "gap4000.mp2", dir / "a.wav");
    EXPECT_EQ(skipped.size(), total * 4608);
    const auto ended = test::PlayToWav(dir / "gap5000.mp2", dir / "b.wav");
    EXPECT_EQ(ended.size(), before * 4608);
    EXPECT_TRUE(std::equal(ended.begin(), ended.end(), skipped.begin()));
}

TEST(Player, ATruncatedLastFrameEndsPlayingSuccessfullyAfterTheCompleteOnes) {
    test::TempDir dir;
    const auto mp2 = test::ReadFileBytes(Twolame());
    const auto offsets = test::FrameOffsets(mp2);
    ASSERT_GT(offsets.size(), 30u);
    std::vector<uint8_t> file(mp2.begin(), mp2.begin() + static_cast<long>(offsets[30]) + 100);
    test::WriteFileBytes(dir / "cut.mp2", file);
    const auto pcm = test::PlayToWav(dir / "cut.mp2", dir / "cut.wav");
    EXPECT_EQ(pcm.size(), 30u * 4608);
}

TEST(Player, DurationComesFromTheBitRateOrFromTheVbrFrameCount) {
    test::TempDir dir;
    auto mp3 =
        test::ReadFileBytes(test::EncodeWithLame(test::MakeSignalWav(70.0, 44100, 2), "-b 128 -t"));
    ASSERT_GT(mp3.size(), 1000000u);
    mp3.resize(1000000);
    test::WriteFileBytes(dir / "cbr.mp3", mp3);
    TMP3Player player;
    player.SetAutoPlay(false);
    player.SetFileName((dir / "cbr.mp3").string());
    EXPECT_EQ(player.DataLength(), 1000000);
    EXPECT_EQ(player.Duration(), 62500);

    const auto vbr = test::ReadFileBytes(LameVbr());
    ASSERT_EQ(std::memcmp(vbr.data() + 36, "Xing", 4), 0) << "MPEG-1 stereo: at offset 36";
    const int64_t frames = int64_t(vbr[44]) << 24 | vbr[45] << 16 | vbr[46] << 8 | vbr[47];
    // lame's LAME tag, behind the Xing fields and the table, holds its delay and padding.
    const uint8_t* gap = vbr.data() + 36 + 120 + 21;
    const int64_t delay = gap[0] << 4 | gap[1] >> 4;
    const int64_t padding = (gap[1] & 0x0F) << 8 | gap[2];
    player.SetFileName(LameVbr().string());
    EXPECT_EQ(player.Bitrate(), 0) << "an information frame was found";
    EXPECT_EQ(player.TotalBytes(), (frames * 1152 - delay - padding) * 4);
    EXPECT_EQ(player.Duration(), static_cast<int32_t>(player.TotalBytes() * 1000 / 176400));
    EXPECT_EQ(player.DataStart(), static_cast<int32_t>(test::FrameOffsets(vbr)[1]))
        << "the information frame is not audio";
}

TEST(Player, SeekArithmeticAndTheFrameTable) {
    NullPlayer p;
    p.player.SetFileName(Lame128().string());
    const auto offsets = test::FrameOffsets(test::ReadFileBytes(Lame128()));
    p.player.Play();
    p.player.Pause();
    p.player.Seek(1000);
    EXPECT_EQ(p.player.PlayedBytes(), 39 * 4608);
    EXPECT_EQ(p.player.Position(), 1018);
    EXPECT_EQ(p.player.Status(), mpsPaused) << "a paused player stays paused";
    ASSERT_EQ(p.player.SeekTableCount(), 40u);
    for (size_t k = 0; k < 40; ++k)
        EXPECT_EQ(p.player.SeekTableEntry(k), int32_t(offsets[k]));

    p.player.Seek(3600000); // far beyond the end: lands on the last frame
    const size_t frames = p.player.SeekTableCount();
    EXPECT_EQ(frames, offsets.size());
    EXPECT_EQ(p.player.SeekTableEntry(frames - 1), static_cast<int32_t>(offsets.back()));
    EXPECT_EQ(p.player.PlayedBytes(), static_cast<int64_t>(frames - 1) * 4608);

    p.player.Seek(500); // known ground: no scanning
    EXPECT_EQ(p.player.SeekTableCount(), frames);
    EXPECT_EQ(p.player.PlayedBytes(), 20 * 4608);
    p.player.Stop();
    p.player.Play();
    p.player.Pause();
    p.player.Seek(0);
    EXPECT_EQ(p.player.SeekTableEntry(0), p.player.DataStart());
    EXPECT_EQ(p.player.PlayedBytes(), 0);
    EXPECT_EQ(p.player.Position(), 0);
    p.player.Seek(-1);
    EXPECT_EQ(p.player.SeekTableCount(), frames) << "negative times are ignored";
}

// With the encoder's delay trimmed, the song begins inside the first frame: a seek lands on a
// frame boundary of the stream, at most a frame after the time asked for in the song, and 0 is
// the song's first sample, as at the start of play.
TEST(Player, SeekingStaysInSongTimeWhenTheDelayIsTrimmed) {
    NullPlayer p;
    p.player.SetFileName(LameVbr().string());
    const int64_t delayBytes = p.player.GaplessBegin() * 4;
    ASSERT_GT(delayBytes, 0) << "lame's tag names a delay";
    p.player.Play();
    p.player.Pause();
    for (int32_t milliseconds : {1000, 1500, 2222}) {
        p.player.Seek(milliseconds);
        EXPECT_EQ((p.player.PlayedBytes() + delayBytes) % 4608, 0) << milliseconds;
        EXPECT_GE(p.player.Position(), milliseconds);
        EXPECT_LE(p.player.Position(), milliseconds + 27) << "within a frame";
    }
    p.player.Seek(0);
    EXPECT_EQ(p.player.PlayedBytes(), 0);
    EXPECT_EQ(p.player.SeekTableEntry(0), p.player.DataStart());
    p.player.SetGapless(false);
    p.player.Seek(1000);
    EXPECT_EQ(p.player.PlayedBytes(), 39 * 4608) << "frame for frame again";
}

// A file whose reads fail from an offset on, once armed: as a disk that fails at one place.
class FailingStream : public TMPStream {
public:
    explicit FailingStream(std::vector<uint8_t> bytes) : memory_(std::move(bytes)) {}
    int32_t Read(void* destination, int32_t count) override {
        if (memory_.Seek(0, msoFromCurrent) + int64_t{count} > FailFrom)
            throw EMP3Error("Input/output error");
        return memory_.Read(destination, count);
    }
    int32_t Seek(int32_t offset, int32_t origin) override { return memory_.Seek(offset, origin); }
    int32_t Size() override { return memory_.Size(); }

    std::atomic<int64_t> FailFrom{INT64_MAX};

private:
    TMPMemoryStream memory_;
};

// A seek far into the file meets the read error, which is raised; the player goes on as it was,
// paused where it stood, and its position notices go on once it is resumed.
TEST(Player, AReadErrorInSeekLeavesThePlayerAsItWas) {
    NullPlayer p;
    p.player.SetChangePosStep(100);
    auto* stream = new FailingStream(test::ReadFileBytes(LongLame()));
    p.player.OpenStream(stream, msoSeekable | msoOwnsStream);
    p.player.Play();
    PumpFor(p.player, 300ms);
    p.player.Pause();
    stream->FailFrom = stream->Size() * 2 / 3;
    const int32_t paused = p.player.Position();
    EXPECT_THROW(p.player.Seek(28000), EMP3Error);
    PumpFor(p.player, 300ms);
    EXPECT_EQ(p.player.Status(), mpsPaused);
    EXPECT_EQ(p.player.Position(), paused);
    const int notices = p.log.Positions;
    p.player.Resume();
    PumpFor(p.player, 500ms);
    EXPECT_GT(p.log.Positions, notices);
    EXPECT_GT(p.player.Position(), paused);
    EXPECT_TRUE(p.log.EndReasons.empty());
}

// A read error that ends the play cuts a WAV file short: it is removed, not left to pass for
// the song.
TEST(Player, AWavCutShortByAReadErrorIsRemoved) {
    test::TempDir dir;
    test::ShownErrors shown;
    TMP3Player player;
    player.SetAutoPlay(false);
    PlayerLog log;
    log.Attach(player);
    auto* stream = new FailingStream(test::ReadFileBytes(LongLame()));
    player.OpenStream(stream, msoSeekable | msoOwnsStream);
    stream->FailFrom = stream->Size() / 2;
    player.SetOutputFileName((dir / "cut.wav").string());
    player.Play();
    EXPECT_TRUE(PumpUntil(player, [&] { return !log.EndReasons.empty(); }));
    EXPECT_EQ(shown.Texts(), std::vector<std::string>{"Input/output error"});
    EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merFailure});
    EXPECT_FALSE(std::filesystem::exists(dir / "cut.wav"));
}

// Without gapless every frame plays whole, delay and padding too: the duration says so, and the
// position never ends past it.
TEST(Player, DurationIsWhatPlaysWithAndWithoutGapless) {
    test::TempDir dir;
    for (const auto& mp3 : {LameVbr(), test::EncodeWithLame(StereoWav(), "-b 128")}) {
        for (const bool gapless : {true, false}) {
            TMP3Player player;
            player.SetAutoPlay(false);
            player.SetGapless(gapless);
            PlayerLog log;
            log.Attach(player);
            player.SetFileName(mp3.string());
            player.SetOutputFileName((dir / "out.wav").string());
            const int32_t duration = player.Duration();
            player.Play();
            ASSERT_TRUE(PumpUntil(player, [&] { return !log.EndReasons.empty(); }));
            const auto pcm = test::WavPcm(dir / "out.wav");
            EXPECT_EQ(duration, static_cast<int32_t>(pcm.size() * 1000 / 176400))
                << mp3 << (gapless ? " gapless" : " every frame");
        }
    }
}

TEST(Player, SeekOnAStreamThatCannotSeekIsAnAssertionFailure) {
    TMP3Player player;
    EXPECT_THROW(player.Seek(0), EMP3AssertionFailure) << "never had a seekable stream";
}

TEST(Player, PropertySettersIgnoreValuesOutOfRange) {
    TMP3Player player;
    player.SetVolume(101);
    player.SetVolume(-1);
    player.SetVolBalance(101);
    player.SetChangePosStep(99);
    EXPECT_EQ(player.Volume(), 100);
    EXPECT_EQ(player.VolBalance(), 0);
    EXPECT_EQ(player.ChangePosStep(), 400);
    player.SetVolume(0);
    player.SetVolBalance(-100);
    player.SetChangePosStep(100);
    EXPECT_EQ(player.Volume(), 0);
    EXPECT_EQ(player.VolBalance(), -100);
    EXPECT_EQ(player.ChangePosStep(), 100);
    TMP3Player loaded;
    loaded.BeginLoading();
    loaded.SetVolume(0);
    loaded.Loaded();
    EXPECT_EQ(loaded.Volume(), 100) << "0 while loading takes the sound output's volume";
}

TEST(Player, EqualizerPropertiesPostOneRebuildAndOnlyOnChange) {
    TMP3Player player;
    player.Messages().Pump();
    player.SetEqualizerCount(6);
    player.SetEqualizerEnabled(false);
    player.SetEqualizerMode(memSubBand);
    EXPECT_FALSE(player.Messages().HasPending(MPM_EQUALIZER));
    player.SetEqualizerCount(10);
    player.SetEqualizerEnabled(true);
    EXPECT_EQ(player.Messages().PendingCount(), 1u);
}

TEST(Player, BandRangeSpreadsGeometricallyRoundingEachStep) {
    TMP3Player player;
    player.SetBandRange(60, 16000);
    EXPECT_EQ(player.EqualizerFrequency(0), 0) << "only in frequency mode";
    player.SetEqualizerMode(memFreq);
    player.SetBandRange(60, 16000);
    std::vector<int32_t> six;
    for (int i = 0; i < 6; ++i)
        six.push_back(player.EqualizerFrequency(i));
    EXPECT_EQ(six, (std::vector<int32_t>{60, 183, 560, 1712, 5234, 16000}));
    player.SetEqualizerCount(10);
    player.SetBandRange(60, 16000);
    std::vector<int32_t> ten;
    for (int i = 0; i < 10; ++i)
        ten.push_back(player.EqualizerFrequency(i));
    EXPECT_EQ(ten, (std::vector<int32_t>{60, 112, 208, 387, 720, 1339, 2490, 4629, 8606, 16000}));
    player.SetBandRange(0, 100);
    player.SetBandRange(200, 100);
    player.SetBandRange(100, 24001);
    EXPECT_EQ(player.EqualizerFrequency(0), 60);
    player.SetEqualizerCount(1);
    player.SetBandRange(50, 900);
    EXPECT_EQ(player.EqualizerFrequency(0), 900);
    player.SetEqualizerCount(40); // more bands than the tables hold stays inside them
    player.SetBandRange(60, 16000);
    EXPECT_EQ(player.EqualizerFrequency(31), 16000);
}

TEST(Player, EqualizerRebuildWritesTheDecoderGains) {
    TMP3Player player;
    player.SetAutoPlay(false);
    player.SetFileName(Twolame().string()); // Layer II at 44.1 kHz
    player.SetEqualizerValue(0, 100);
    player.SetEqualizerValue(5, -100);
    player.SetEqualizerEnabled(true);
    player.Messages().Pump();
    EXPECT_EQ(*SubbandEqualizerOn(), 1);
    EXPECT_EQ(*LineEqualizerOn(), 0);
    EXPECT_FLOAT_EQ(*SubbandGain(0), 10.0f);
    EXPECT_FLOAT_EQ(*SubbandGain(5), 0.1f);
    EXPECT_FLOAT_EQ(*SubbandGain(6), 1.0f);
    EXPECT_EQ(player.EqualizerFrequency(0), 345); // 44100 / 64 / 2 rounded
    EXPECT_EQ(player.EqualizerFrequency(31), 21705);

    // Bands at 60, 183, 560, 1712, 5234 and 16000 Hz; subband 0 (345 Hz) lies nearest by
    // ratio to 560 Hz, subband 5 (3790 Hz) to 5234 Hz.
    player.SetEqualizerMode(memFreq);
    player.SetBandRange(60, 16000);
    for (int band = 0; band < 6; ++band)
        player.SetEqualizerValue(band, 0);
    player.SetEqualizerValue(2, 100);
    player.SetEqualizerValue(4, -100);
    player.Messages().Pump();
    EXPECT_EQ(*SubbandEqualizerOn(), 1);
    EXPECT_FLOAT_EQ(*SubbandGain(0), 10.0f);
    EXPECT_FLOAT_EQ(*SubbandGain(1), 1.0f); // 1034 Hz: 1712 / 1034 < 1034 / 560, band 3
    EXPECT_FLOAT_EQ(*SubbandGain(5), 0.1f);
    EXPECT_FLOAT_EQ(*SubbandGain(31), 1.0f);
    player.SetEqualizerEnabled(false);
    player.Messages().Pump();
    EXPECT_EQ(*SubbandEqualizerOn(), 0);
    EXPECT_EQ(*LineEqualizerOn(), 0);
    player.Close();
    *SubbandEqualizerOn() = 0;
}

// The sound output's thread fails on every write while the end of the data arrives: the stop
// that follows waits for that thread, which must not in turn wait for the error to be shown, nor
// may it while the user-interface thread waits for a lock (here for the equaliser's rebuild). A
// file short enough to fit the output whole reaches the play-out first: the worker then waits for
// buffers that the failed output never returns, and must still let the player go.
TEST(Player, AWorkerErrorIsShownEndsPlayingAsFailureAndLeavesTheFileOpen) {
    for (int round = 0; round < 6; ++round) {
        const auto file = round % 2 == 0 ? Twolame() : ShortTwolame();
        std::vector<std::string> shown;
        SetApplicationExceptionDisplay(
            [&](const std::exception_ptr& error) { shown.push_back(ExceptionText(error)); });
        TMP3Player player;
        player.SetAutoPlay(false);
        PlayerLog log;
        log.Attach(player);
        player.SetFileName(file.string());
        player.SetOutputFileName("/dev/full"); // every write of the WAV data fails
        player.Play();
        EXPECT_TRUE(PumpUntil(player, [&] { return !log.EndReasons.empty(); }));
        PumpFor(player, 20ms);
        SetApplicationExceptionDisplay(nullptr);
        ASSERT_FALSE(shown.empty()) << file;
        EXPECT_NE(shown[0].find("No space left on device"), std::string::npos) << shown[0];
        EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merFailure});
        EXPECT_EQ(player.Status(), mpsStopped);
        EXPECT_NE(player.Commands(), CommandBit(mpcOpen));
    }
}

TEST(Player, PositionNoticesArriveWhilePlayingFollowTheClockAndCollapse) {
    NullPlayer p;
    p.player.SetChangePosStep(100);
    p.player.SetFileName(LongLame().string());
    p.player.Play();
    ASSERT_TRUE(PumpUntil(p.player, [&] { return p.log.Positions >= 4; }))
        << "the start's notice and at least three from the output";

    // The position is the device's clock: between two readings it moves by the time between.
    using Milliseconds = std::chrono::duration<double, std::milli>;
    const auto before = std::chrono::steady_clock::now();
    const int32_t first = p.player.Position();
    const auto between = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(300ms);
    const auto resumed = std::chrono::steady_clock::now();
    const int32_t second = p.player.Position();
    const auto after = std::chrono::steady_clock::now();
    EXPECT_GE(second - first, Milliseconds(resumed - between).count() - 3);
    EXPECT_LE(second - first, Milliseconds(after - before).count() + 3);

    // Unpumped, the notices pile up; once the stop has ended their source, one pump handles
    // the whole burst with a single position event.
    const size_t waiting = p.player.Messages().PendingCount();
    ASSERT_TRUE(WaitUntil([&] { return p.player.Messages().PendingCount() >= waiting + 3; }));
    p.player.Stop();
    const int positions = p.log.Positions;
    p.player.Messages().Pump();
    EXPECT_EQ(p.log.Positions, positions + 1) << "one notice for the whole burst";
}

// The play-out at the end waits for the device; a pause then must not hold up the others.
TEST(Player, StopSeekAndCloseActAtOnceWhenPausedDuringThePlayOut) {
    NullPlayer p;
    const auto shortFile = ShortTwolame(); // fits the output whole
    for (int operation = 0; operation < 3; ++operation) {
        p.player.SetFileName(shortFile.string());
        const int64_t dataEnd = int64_t(p.player.DataStart()) + p.player.DataLength();
        p.player.Play();
        ASSERT_TRUE(WaitUntil([&] { return p.player.ReaderPosition() >= dataEnd; }));
        p.player.Pause();
        // Long enough for the worker to reach the play-out wait as a rule; the outcome does not
        // depend on it, only how much the round proves.
        std::this_thread::sleep_for(50ms);
        if (operation == 0) {
            EXPECT_TRUE(FinishesWhilePaused(p.player, [&] { p.player.Stop(); }));
            EXPECT_EQ(p.player.Status(), mpsStopped);
        } else if (operation == 1) {
            EXPECT_TRUE(FinishesWhilePaused(p.player, [&] { p.player.Seek(200); }));
            EXPECT_EQ(p.player.Status(), mpsPaused);
            EXPECT_EQ(p.player.PlayedBytes(), 8 * 4608);
            p.player.Resume();
            EXPECT_TRUE(PumpUntil(p.player, [&] { return p.player.Status() == mpsStopped; }))
                << "plays on from the new place to the end";
        } else {
            EXPECT_TRUE(FinishesWhilePaused(p.player, [&] { p.player.Close(); }));
            EXPECT_EQ(p.player.Commands(), CommandBit(mpcOpen));
        }
    }
}

// Paused, nothing drains the output, so the worker surely ends up waiting for room; playing,
// the stop may as well find it decoding. Neither may decode a frame after the stop.
TEST(Player, NoFrameIsDecodedAfterAStopThatCameWhileTheOutputWasFull) {
    NullPlayer p;
    const auto mp3 = LongLame();
    const auto offsets = test::FrameOffsets(test::ReadFileBytes(mp3));
    for (bool paused : {true, false}) {
        p.player.SetFileName(mp3.string());
        const auto first = std::find(offsets.begin(), offsets.end(), p.player.DataStart());
        ASSERT_NE(first, offsets.end());
        // Four buffers of 88,200 bytes are full within the 77th frame of 4,608 bytes.
        const auto full = static_cast<int32_t>(*(first + 77));
        p.player.Play();
        if (paused) p.player.Pause();
        ASSERT_TRUE(WaitUntil([&] { return p.player.ReaderPosition() >= full; }));
        p.player.Stop();
        const int32_t position = p.player.ReaderPosition();
        EXPECT_EQ(position, p.player.DataStart());
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(p.player.ReaderPosition(), position) << (paused ? "paused" : "playing");
    }
}

TEST(Player, AStreamThatCannotSeekIsClosedAtItsEndAndRefusesSeeking) {
    test::TempDir dir;
    TMP3Player player;
    player.SetAutoPlay(false);
    PlayerLog log;
    log.Attach(player);
    player.OpenStream(new TMPMemoryStream(test::ReadFileBytes(Twolame())), msoOwnsStream);
    EXPECT_EQ(player.Duration(), 0) << "no size, no length";
    player.SetOutputFileName((dir / "pipe.wav").string());
    player.Play();
    EXPECT_EQ(player.Commands() & CommandBit(mpcSeek), 0u);
    EXPECT_THROW(player.Seek(0), EMP3AssertionFailure);
    ASSERT_TRUE(PumpUntil(player, [&] { return !log.EndReasons.empty(); }));
    EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merSuccessful});
    EXPECT_EQ(player.Commands(), CommandBit(mpcOpen)) << "closed at the end";
    EXPECT_TRUE(test::WavPcm(dir / "pipe.wav") ==
                test::DecodeFrameByFrame(test::ReadFileBytes(Twolame())));

    player.OpenStream(new TMPMemoryStream(test::ReadFileBytes(Twolame())), msoOwnsStream);
    player.SetDeviceID(NullAudioDeviceId());
    player.Play();
    player.Stop();
    EXPECT_EQ(player.Commands(), CommandBit(mpcOpen)) << "a stop closes such a stream";
}

TEST(Player, PolarityAndProcessorCapabilitiesReachTheDecoder) {
    TMP3Player player;
    player.SetInvertPolarity(true);
    EXPECT_TRUE(player.InvertPolarity());
    EXPECT_TRUE(GetPolarity());
    player.SetInvertPolarity(false);
    EXPECT_FALSE(GetPolarity());
    EXPECT_TRUE(player.UsingCpuCapabilities() == kAllCpuCapabilities) << "all six from the start";
    player.SetUsingCpuCapabilities(kAllCpuCapabilities);
    EXPECT_TRUE(player.UsingCpuCapabilities() == CapabilitiesOfFeatures(DetectProcessorFeatures()))
        << "only what the processor has";
    player.SetUsingCpuCapabilities(TMP3CpuCapabilities{});
    EXPECT_TRUE(player.UsingCpuCapabilities().Empty());
}

TEST(Player, DecodePriorityBecomesTheWorkersNiceness) {
    TMP3Player player;
    EXPECT_EQ(player.DecodePriority(), tpNormal);
    player.SetDecodePriority(tpIdle);
    EXPECT_EQ(player.DecodePriority(), tpIdle);
    player.SetDecodePriority(tpTimeCritical); // refused by the system: quietly kept as it was
    EXPECT_EQ(player.DecodePriority(), tpTimeCritical);
}

TEST(Player, StoppingAWavOutputEarlyLeavesAValidFileWithAPrefixOfThePcm) {
    test::TempDir dir;
    const auto mp3 = LongLame();
    const auto full = test::DecodeSong(test::ReadFileBytes(mp3));
    // Returns how much of the PCM the file holds.
    auto stopAfter = [&](std::chrono::milliseconds delay) {
        TMP3Player player;
        player.SetAutoPlay(false);
        player.SetFileName(mp3.string());
        player.SetOutputFileName((dir / "early.wav").string());
        player.Play();
        std::this_thread::sleep_for(delay);
        player.Stop();
        const auto pcm = test::WavPcm(dir / "early.wav"); // checks both size fields
        EXPECT_LE(pcm.size(), full.size());
        EXPECT_EQ(pcm.size() % 4, 0u);
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), full.begin())) << delay.count() << " ms";
        return pcm.size();
    };
    for (int delayMs : {5, 20, 60})
        stopAfter(std::chrono::milliseconds(delayMs));
    // A stop at once comes before the end, unless the machine held this thread back for the
    // whole decode: a few tries tell the two apart.
    bool early = false;
    for (int attempt = 0; attempt < 20 && !early; ++attempt)
        early = stopAfter(0ms) < full.size();
    EXPECT_TRUE(early) << "stopped before the end";
}

TEST(Player, DamagedStreamsPlayToAnEndWithoutFault) {
    test::TempDir dir;
    for (const auto& source : {Lame128(), Twolame(), LameVbr()}) {
        auto bytes = test::ReadFileBytes(source);
        uint32_t seed = 12345;
        for (size_t i = 600; i < bytes.size(); i += 97) {
            seed = seed * 1103515245u + 12345u;
            bytes[i] = static_cast<uint8_t>(seed >> 16);
        }
        test::WriteFileBytes(dir / "damaged.mp3", bytes);
        const auto pcm = test::PlayToWav(dir / "damaged.mp3", dir / "damaged.wav");
        EXPECT_TRUE(pcm == test::DecodeSong(bytes)) << source;
    }
}

TEST(Player, ReadFileInfoFillsTheCallersObjectOnly) {
    TMP3Player player;
    TMP3Info info;
    TMP3Player::ReadFileInfo(Lame128().string(), info);
    EXPECT_EQ(info.AudioStart(), 0);
    EXPECT_EQ(player.Commands(), CommandBit(mpcOpen));
}

TEST(Player, StressPlayPauseSeekStopCloseWhileTheWorkerDecodes) {
    NullPlayer p;
    const std::string file = Lame128().string();
    for (int round = 0; round < 1000; ++round) {
        if (p.player.Commands() == CommandBit(mpcOpen)) p.player.SetFileName(file);
        p.player.Play();
        switch (round % 5) {
        case 0:
            p.player.Pause();
            p.player.Seek(round % 2900);
            p.player.Resume();
            break;
        case 1:
            p.player.Seek((round * 7) % 3000);
            break;
        case 2:
            p.player.Stop();
            break;
        case 3:
            p.player.Pause();
            p.player.Close();
            break;
        default:
            p.player.Position();
            break;
        }
        p.player.Messages().Pump();
    }
    p.player.Close();
    PumpFor(p.player, 20ms);
    EXPECT_EQ(p.player.Status(), mpsStopped);
    EXPECT_GE(p.log.EndReasons.size(), 400u);
}

} // namespace
} // namespace pelbrisk
