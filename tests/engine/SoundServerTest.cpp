// pelbrisk-cli on a real sound server: the test's own PipeWire, reached through PipeWire's ALSA
// plugin and through PulseAudio's, as desktops route ALSA's default device.
#include "tests/support/SoundServer.h"

#include "engine/MP3Player.h"
#include "tests/engine/PlayerSupport.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace pelbrisk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::TSoundRoute;

constexpr TSoundRoute kRoutes[] = {TSoundRoute::PipeWire, TSoundRoute::Pulse};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const char* RouteName(TSoundRoute route) {
    return route == TSoundRoute::PipeWire ? "PipeWire's plugin" : "PulseAudio's plugin";
}

std::string Cli() {
    return (test::BinaryDir() / "cli" / "pelbrisk-cli").string();
}

fs::path Song(double seconds, const std::string& lameArguments = "-b 128") {
    return test::EncodeWithLame(test::MakeSignalWav(seconds, 44100, 2), lameArguments);
}

// pelbrisk-cli or mpg123 started in the background with ALSA routed by `alsaConfig` (and
// PELBRISK_AUDIO set when `audio` is not empty), its standard error kept.
class TRun {
public:
    TRun(const std::vector<std::string>& command, const fs::path& alsaConfig,
         const std::string& audio = "")
        : start_(Clock::now()),
          process_(command, {"ALSA_CONFIG_PATH=", "PELBRISK_AUDIO="},
                   audio.empty()
                       ? std::vector<std::string>{"ALSA_CONFIG_PATH=" + alsaConfig.string()}
                       : std::vector<std::string>{"ALSA_CONFIG_PATH=" + alsaConfig.string(),
                                                  "PELBRISK_AUDIO=" + audio},
                   dir_ / "errors.txt") {}

    pid_t Pid() const { return process_.Pid(); }
    bool Running() { return process_.Running(); }
    int Wait(std::chrono::milliseconds limit) {
        const int status = process_.Wait(limit);
        end_ = Clock::now();
        return status;
    }
    double Seconds() const { return std::chrono::duration<double>(end_ - start_).count(); }
    // Until the status line says the song plays: then the device is open.
    bool WaitUntilPlaying() {
        const auto until = Clock::now() + 20s;
        while (Running() && Clock::now() < until) {
            if (Errors().find(" / 0:") != std::string::npos) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::string Errors() const {
        if (!fs::exists(dir_ / "errors.txt")) return {};
        const auto bytes = test::ReadFileBytes(dir_ / "errors.txt");
        return {bytes.begin(), bytes.end()};
    }
    // The lines the program said as itself, errors and notices.
    std::vector<std::string> Messages() const {
        std::vector<std::string> found;
        const std::string text = Errors();
        for (size_t at = text.find("pelbrisk-cli: "); at != std::string::npos;
             at = text.find("pelbrisk-cli: ", at + 1))
            found.push_back(text.substr(at, text.find('\n', at) - at));
        return found;
    }

private:
    test::TempDir dir_;
    Clock::time_point start_;
    Clock::time_point end_;
    test::TChildProcess process_;
};

// Each song used to end with "the sound device stopped playing" on a sound server: its stream
// stays running with a wandering delay once the ring has drained (PipeWire), or holds back the
// last milliseconds of a stream that is not drained (PulseAudio).
TEST(SoundServer, AnAlbumPlaysThroughWholeWithoutAnErrorAndAsFastAsMpg123) {
    test::TSoundServer server;
    PELBRISK_REQUIRE_SOUND_SERVER(server);
    const std::vector<std::string> album = {Song(5.0).string(), Song(5.0, "-b 192").string(),
                                            Song(5.0, "-V 4").string()};
    for (const TSoundRoute route : kRoutes) {
        SCOPED_TRACE(RouteName(route));
        test::TempDir dir;
        std::vector<std::string> ours = {Cli(), "play"};
        ours.insert(ours.end(), album.begin(), album.end());
        std::vector<std::string> theirs = {"mpg123", "-q"};
        theirs.insert(theirs.end(), album.begin(), album.end());

        test::TSoundServer::TRecording recording(server, dir / "heard.wav");
        TRun pelbrisk(ours, server.AlsaConfig(route));
        EXPECT_EQ(pelbrisk.Wait(60s), 0) << pelbrisk.Errors();
        recording.Stop();
        EXPECT_EQ(pelbrisk.Messages(), std::vector<std::string>{});
        // Every song is heard to its end.
        EXPECT_NEAR(test::LoudSeconds(dir / "heard.wav"), 15.0, 0.15);

        if (kSanitized) continue; // a sanitizer slows pelbrisk-cli down, not mpg123
        TRun mpg123(theirs, server.AlsaConfig(route));
        ASSERT_EQ(mpg123.Wait(60s), 0) << mpg123.Errors();
        EXPECT_LE(pelbrisk.Seconds(), mpg123.Seconds() + 0.5);
    }
}

// A server that dies used to leave the program recovering its stream 28,000 times a second,
// growing without end, and never exiting.
TEST(SoundServer, AKilledServerEndsPlayWithinTwoSecondsAndPlayWorksOnceItIsBack) {
    test::TSoundServer server;
    PELBRISK_REQUIRE_SOUND_SERVER(server);
    const std::string song = Song(20.0).string();
    const std::string shortSong = Song(1.0).string();
    for (const TSoundRoute route : kRoutes) {
        SCOPED_TRACE(RouteName(route));
        TRun playing({Cli(), "play", song}, server.AlsaConfig(route));
        ASSERT_TRUE(playing.WaitUntilPlaying()) << playing.Errors();
        std::this_thread::sleep_for(1s);
        const long before = test::ResidentKilobytes(playing.Pid());
        server.Kill();
        const auto killed = Clock::now();
        long most = before;
        while (playing.Running() && Clock::now() - killed < 5s) {
            most = std::max(most, test::ResidentKilobytes(playing.Pid()));
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_LT(Clock::now() - killed, 2s);
        EXPECT_EQ(playing.Wait(0ms), 1);
        EXPECT_LT(most - before, 8192) << "kilobytes grown";
        const std::vector<std::string> said = playing.Messages();
        ASSERT_EQ(said.size(), 1u) << playing.Errors();
        EXPECT_EQ(said[0].rfind("pelbrisk-cli: lost the sound server while playing: start it "
                                "again, then play again",
                                0),
                  0u)
            << said[0];

        ASSERT_TRUE(server.Start()) << server.Problem();
        TRun again({Cli(), "play", shortSong}, server.AlsaConfig(route));
        EXPECT_EQ(again.Wait(30s), 0) << again.Errors();
    }
}

// A stall of a few seconds used to lose the song after 2 s. Meanwhile an open answers within
// about 2 s: PulseAudio's plugin would wait half a minute for the hung server.
TEST(SoundServer, AServerThatHangsForFiveSecondsIsWaitedFor) {
    test::TSoundServer server;
    PELBRISK_REQUIRE_SOUND_SERVER(server);
    const std::string song = Song(3.0).string();
    for (const TSoundRoute route : kRoutes) {
        SCOPED_TRACE(RouteName(route));
        TRun playing({Cli(), "play", song}, server.AlsaConfig(route));
        ASSERT_TRUE(playing.WaitUntilPlaying()) << playing.Errors();
        std::this_thread::sleep_for(500ms);
        server.Freeze();
        const auto frozen = Clock::now();
        if (route == TSoundRoute::Pulse) {
            TRun opening({Cli(), "play", song}, server.AlsaConfig(route));
            EXPECT_EQ(opening.Wait(4s), 1);
            EXPECT_LT(opening.Seconds(), 3.5);
            EXPECT_EQ(opening.Messages().size(), 1u) << opening.Errors();
            EXPECT_NE(opening.Errors().find("cannot reach the sound server"), std::string::npos);
        }
        std::this_thread::sleep_until(frozen + 5s);
        server.Thaw();
        EXPECT_EQ(playing.Wait(30s), 0) << playing.Errors();
        EXPECT_EQ(playing.Messages(), std::vector<std::string>{});
        EXPECT_GE(playing.Seconds(), 7.5) << "the song went on after the stall";
    }
}

// Stopping used to wait as long as the server hung: PulseAudio's plugin holds a drop for 30 s.
TEST(SoundServer, StopReturnsWithinTwoSecondsWhileTheServerHangs) {
    test::TSoundServer server;
    PELBRISK_REQUIRE_SOUND_SERVER(server);
    const std::string song = Song(20.0).string();
    for (const TSoundRoute route : kRoutes) {
        SCOPED_TRACE(RouteName(route));
        setenv("ALSA_CONFIG_PATH", server.AlsaConfig(route).c_str(), 1);
        TMP3Player player;
        player.SetFileName(song);
        ASSERT_TRUE(test::PumpUntil(player, [&] { return player.Position() > 500; }));
        server.Freeze();
        const auto start = Clock::now();
        player.Stop();
        player.Close();
        EXPECT_LT(Clock::now() - start, 2s);
        server.Thaw();
        unsetenv("ALSA_CONFIG_PATH");
    }
}

// An open that fails says what failed, once, without blaming the file: no server to reach, or no
// such device (one ALSA knows of whose card is missing, or a number beyond the last device).
TEST(SoundServer, AnOpenFailureNamesTheDeviceOnce) {
    PELBRISK_SKIP_UNDER_THREAD_SANITIZER();
    test::TSoundServer server; // only its configurations: no server need run
    test::TempDir dir;
    std::ofstream(dir / "ghost.conf")
        << "pcm.ghost {\n  type hw\n  card 9\n  hint { show on description \"gone\" }\n}\n";
    struct TCase {
        fs::path AlsaConfig;
        const char* Audio;
        const char* Said;
    };
    const TCase cases[] = {
        {server.UnreachableAlsaConfig(TSoundRoute::PipeWire), "",
         "cannot reach the sound server: start it (PipeWire or PulseAudio), or choose another "
         "sound device (TSoundOut.Open:WaveOutOpen)"},
        {server.UnreachableAlsaConfig(TSoundRoute::Pulse), "default",
         "cannot reach the sound server: start it (PipeWire or PulseAudio), or choose another "
         "sound device (TSoundOut.Open:WaveOutOpen)"},
        {dir / "ghost.conf", "0",
         "sound device 0 (ghost) was not found: choose null, default or a number from 0 to 1 "
         "with PELBRISK_AUDIO (TSoundOut.Open:WaveOutOpen)"},
        {dir / "ghost.conf", "3",
         "sound device 3 was not found: choose null, default or a number from 0 to 1 with "
         "PELBRISK_AUDIO (TSoundOut.Open:WaveOutOpen)"},
    };
    const std::string song = Song(1.0).string();
    for (const TCase& failure : cases) {
        SCOPED_TRACE(failure.AlsaConfig.filename().string() + " " + failure.Audio);
        TRun run({Cli(), "play", song, song}, failure.AlsaConfig, failure.Audio);
        EXPECT_EQ(run.Wait(20s), 1);
        EXPECT_EQ(run.Errors(), std::string("pelbrisk-cli: ") + failure.Said + "\n");
    }
}

} // namespace
} // namespace pelbrisk
