#include "engine/MP3Player.h"
#include "stream/Errors.h"
#include "tests/engine/PlayerSupport.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelbrisk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sets a fault plan for one test and takes it away again, whatever happens.
class FaultPlan {
public:
    explicit FaultPlan(const TAudioFaultPlan& plan) { SetAudioFaultPlan(plan); }
    ~FaultPlan() { SetAudioFaultPlan(std::nullopt); }
    FaultPlan(const FaultPlan&) = delete;
    FaultPlan& operator=(const FaultPlan&) = delete;
};

std::filesystem::path TwoSeconds() {
    return test::EncodeWithLame(test::MakeSignalWav(2.0, 44100, 2), "-b 128");
}

std::string Text(int32_t code, const char* context) {
    return AudioErrorText(code) + "(" + context + ")";
}

struct FaultCase {
    const char* Name;
    TAudioFaultPlan Plan;
    // The error shown, or empty when the device recovers and the song plays to its end.
    std::string Shown;
};

// Every fault ends the play at once with the device's error and merFailure, or is recovered
// from; either way the player answers every operation at once afterwards.
TEST(DeviceFault, EachFaultEndsInTheErrorOrARecoveryAndNothingWaitsAfterwards) {
    constexpr double kFast = 8.0;
    const FaultCase cases[] = {
        {"write",
         {TAudioFaultPoint::Write, 3, -EIO, false, kFast},
         Text(-EIO, "TSoundOut.WaveWrite")},
        {"avail EIO",
         {TAudioFaultPoint::Avail, 30, -EIO, false, kFast},
         Text(-EIO, "TSoundOut.WaveWrite")},
        {"unplugged",
         {TAudioFaultPoint::Avail, 30, -ENODEV, false, kFast},
         Text(-ENODEV, "TSoundOut.WaveWrite")},
        {"bad state",
         {TAudioFaultPoint::Avail, 5, -EBADFD, false, kFast},
         Text(-EBADFD, "TSoundOut.WaveWrite")},
        {"start",
         {TAudioFaultPoint::Start, 1, -EIO, false, kFast},
         Text(-EIO, "TSoundOut.WaveWrite")},
        {"stall",
         {TAudioFaultPoint::Write, 2, -EIO, true, kFast},
         Text(kAudioStalled, "TSoundOut.WaveWrite")},
        {"underrun", {TAudioFaultPoint::Avail, 30, -EPIPE, false, kFast}, ""},
        {"suspend", {TAudioFaultPoint::Avail, 30, -ESTRPIPE, false, kFast}, ""},
        {"interrupted start", {TAudioFaultPoint::Start, 1, -EINTR, false, kFast}, ""},
        {"close", {TAudioFaultPoint::Close, 1, -EIO, false, kFast}, ""},
    };
    const auto mp3 = TwoSeconds();
    for (const FaultCase& fault : cases) {
        SCOPED_TRACE(fault.Name);
        FaultPlan plan(fault.Plan);
        test::ShownErrors shown;
        auto player = std::make_unique<TMP3Player>();
        player->SetAutoPlay(false);
        test::PlayerLog log;
        log.Attach(*player);
        player->SetFileName(mp3.string());
        player->Play();
        ASSERT_TRUE(test::PumpUntil(
            *player, [&] { return !log.EndReasons.empty(); }, 8s));
        test::PumpFor(*player, 20ms);
        EXPECT_EQ(AudioFaultsMet(), 1);
        if (fault.Shown.empty()) {
            EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merSuccessful});
            EXPECT_TRUE(shown.Texts().empty()) << shown.Texts()[0];
        } else {
            EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merFailure});
            EXPECT_EQ(shown.Texts(), std::vector<std::string>{fault.Shown});
        }
        EXPECT_EQ(player->Status(), mpsStopped);
        // A device of the same plan again: every operation returns while it fails or stalls.
        const auto start = Clock::now();
        player->Play();
        test::PumpFor(*player, 50ms);
        player->Pause();
        player->Resume();
        player->Seek(1000);
        player->Stop();
        player->Play();
        player->Close();
        player->SetFileName(mp3.string());
        player->Play();
        player.reset();
        EXPECT_LT(Clock::now() - start, 2s);
    }
}

// The device fails while the host is stopping the play and starting the next one: that error
// belongs to the run it came from and never ends the next.
TEST(DeviceFault, AnErrorOfOneRunNeverEndsTheNext) {
    TMP3Player player;
    player.SetAutoPlay(false);
    player.SetDeviceID(NullAudioDeviceId());
    test::PlayerLog log;
    log.Attach(player);
    player.SetFileName(TwoSeconds().string());
    {
        FaultPlan plan({TAudioFaultPoint::Write, 3, -EIO, false, 8.0});
        player.Play();
        // The worker's write has failed; its error waits for the host, which has not looked.
        const auto deadline = Clock::now() + 10s;
        while (!player.Messages().HasPending(MPM_EXCEPTION) && Clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_TRUE(player.Messages().HasPending(MPM_EXCEPTION));
        player.Stop();
    }
    player.Play();
    test::PumpFor(player, 300ms);
    EXPECT_EQ(player.Status(), mpsPlaying);
    EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merStoped});
}

TEST(DeviceFault, ADeviceThatCannotBeOpenedFailsPlayAndLeavesTheFileOpen) {
    FaultPlan plan({TAudioFaultPoint::Open, 1, -EBUSY, false, 1.0});
    TMP3Player player;
    player.SetAutoPlay(false);
    player.SetFileName(TwoSeconds().string());
    try {
        player.Play();
        FAIL() << "the device is busy";
    } catch (const EMP3Error& error) {
        EXPECT_EQ(error.what(), Text(-EBUSY, "TSoundOut.Open:WaveOutOpen"));
    }
    EXPECT_EQ(player.Status(), mpsStopped);
    EXPECT_TRUE(player.Commands() & CommandBit(mpcPlay));
}

// The sound output on its own: a write refused by the device raises on the writing thread; a
// failure on the device's thread reaches OnException; Close of a device that holds sound it
// never plays returns all the same.
TEST(DeviceFault, TheSoundOutputRaisesEachFaultOnceAndClosesPromptly) {
    std::vector<uint8_t> pcm(16000 * 4);
    auto open = [](TSoundOut& out) {
        out.SetSampleRate(8000);
        out.SetDeviceID(-1);
        out.Open();
    };
    {
        FaultPlan plan({TAudioFaultPoint::Write, 2, -EIO, false, 4.0});
        TSoundOut out;
        open(out);
        try {
            out.Write(pcm.data(), static_cast<int32_t>(pcm.size()));
            FAIL() << "the second buffer is refused";
        } catch (const EMP3Error& error) {
            EXPECT_EQ(error.what(), Text(-EIO, "TSoundOut.WaveWrite"));
        }
        EXPECT_TRUE(out.Faulted());
        EXPECT_FALSE(out.CanWrite());
        EXPECT_EQ(out.Write(pcm.data(), 100), 0) << "nothing more is taken, and nothing raised";
        out.WaitDone();
        out.Close();
    }
    for (const bool stall : {false, true}) {
        FaultPlan plan({TAudioFaultPoint::Avail, 3, -ENODEV, stall, 4.0});
        TSoundOut out;
        std::mutex mutex;
        std::vector<std::string> raised;
        out.OnException = [&](void*, const std::exception_ptr& error, bool& handled) {
            std::lock_guard lock(mutex);
            raised.push_back(ExceptionText(error));
            handled = true;
        };
        open(out);
        // The fault may come before the last buffer is handed over: then that write raises it.
        try {
            out.Write(pcm.data(), static_cast<int32_t>(pcm.size()));
        } catch (const EMP3Error& error) {
            std::lock_guard lock(mutex);
            raised.push_back(error.what());
        }
        out.WaitDone();
        out.Thread().WaitForIdle();
        const std::string expected = Text(stall ? kAudioStalled : -ENODEV, "TSoundOut.WaveWrite");
        EXPECT_EQ(raised, std::vector<std::string>{expected});
        const auto start = Clock::now();
        out.Close();
        EXPECT_LT(Clock::now() - start, 1s);
    }
    {
        FaultPlan plan({TAudioFaultPoint::Write, 1, -EIO, true, 1.0});
        TSoundOut out;
        out.SetNotifyInterval(kInfinite);
        open(out);
        out.Pause(); // paused: the stall is not noticed, and Close must not wait for ever
        out.Write(pcm.data(), 16000);
        out.Flush();
        const auto start = Clock::now();
        out.Close();
        EXPECT_LT(Clock::now() - start, 5s);
    }
}

// The default plays into nothing only where there is no sound at all, and says so once; a
// default that exists but fails is an error.
TEST(DeviceFault, TheDefaultFallsBackToSilenceOnlyWithoutAnySound) {
    test::TempDir dir;
    std::vector<std::string> notices;
    SetAudioNoticeDisplay([&](const std::string& text) { notices.push_back(text); });
    auto openDefault = [&](const char* name, const char* config) {
        std::ofstream(dir / name) << config;
        setenv("ALSA_CONFIG_PATH", (dir / name).c_str(), 1);
        TSoundOut out;
        try {
            out.Open();
        } catch (...) {
            unsetenv("ALSA_CONFIG_PATH");
            throw;
        }
        unsetenv("ALSA_CONFIG_PATH");
        out.Close();
    };
    try {
        openDefault("asym.conf", "pcm.!default { type asym }\n");
        ADD_FAILURE() << "a broken default must not play silently";
    } catch (const EMP3Error& error) {
        EXPECT_EQ(error.what(), Text(-EINVAL, "TSoundOut.Open:WaveOutOpen"));
    }
    EXPECT_TRUE(notices.empty());
    if (NoSoundCard()) {
        openDefault("card.conf", "pcm.!default { type hw card 7 }\n");
        openDefault("card2.conf", "pcm.!default { type hw card 8 }\n");
        ASSERT_EQ(notices.size(), 1u) << "told once";
        EXPECT_NE(notices[0].find("null device"), std::string::npos) << notices[0];
    }
    SetAudioNoticeDisplay(nullptr);
}

// When the stop inside Close raises (a WAV file on a full disk cannot be finished), Close
// still lets go of the stream, the reader and the file; so does the destructor. The song's PCM
// is smaller than the C library's file buffer, so every write succeeds and only the finishing
// flush meets the full disk, in the stop, whenever it comes.
TEST(DeviceFault, ClosingAfterAFailedStopReleasesEveryDescriptor) {
    auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(0.05, 8000, 1), "-b 8 -t");
    ASSERT_LT(test::DecodeFrameByFrame(test::ReadFileBytes(mp3)).size(), 4096u);
    test::ShownErrors shown;
    {
        // Made once before counting: the media cache and the first open may keep descriptors.
        TMP3Player warm;
        warm.SetAutoPlay(false);
        warm.SetFileName(mp3.string());
    }
    const auto before = openDescriptors();
    for (int round = 0; round < 4; ++round) {
        auto player = std::make_unique<TMP3Player>();
        player->SetAutoPlay(false);
        player->SetFileName(mp3.string());
        player->SetOutputFileName("/dev/full");
        player->Play();
        if (round % 2 == 0) {
            EXPECT_THROW(player->Close(), EMP3Error) << "the file cannot be finished";
            EXPECT_EQ(player->Commands(), CommandBit(mpcOpen)) << "closed all the same";
        }
        player.reset();
    }
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
} // namespace pelbrisk
