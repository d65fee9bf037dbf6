// Songs that follow each other without a gap: a sweep cut into three lame files must come back as
// the sweep, from `decode A B C` and from real playback, with no sample missing or doubled.
#include "platform/AudioDevice.h"
#include "stream/Errors.h"
#include "tests/engine/PlayerSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"
#include "tests/support/Reference.h"
#include "tests/support/SoundServer.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace pelbrisk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kRate = 44100;
// Where the sweep is cut, in samples per channel: nowhere near a frame's edge.
constexpr size_t kCuts[] = {100001, 213334};

std::string Cli() {
    return (test::BinaryDir() / "cli" / "pelbrisk-cli").string();
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& pcm) {
    std::vector<int16_t> samples(pcm.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
    return samples;
}

// A stereo sweep of 8 s (the channels sweep apart), and the three lame files cut from it.
struct TSweepAlbum {
    std::vector<int16_t> Sweep;
    std::vector<std::string> Files;
};

TSweepAlbum MakeSweepAlbum(const test::TempDir& dir) {
    const fs::path sweep = dir / "sweep.wav";
    test::RunTool("sox -n -r 44100 -c 2 -b 16 '" + sweep.string() +
                  "' synth 8 sine 1000:5000 sine 5000:1500 gain -6");
    TSweepAlbum album{Samples(test::WavPcm(sweep)), {}};
    const std::string trims[] = {"trim 0 " + std::to_string(kCuts[0]) + "s",
                                 "trim " + std::to_string(kCuts[0]) + "s " +
                                     std::to_string(kCuts[1] - kCuts[0]) + "s",
                                 "trim " + std::to_string(kCuts[1]) + "s"};
    // Constant and variable bit rates: each LAME tag gives its own delay and padding.
    const std::string rates[] = {"-b 192", "-V 2", "-b 128"};
    for (size_t i = 0; i < 3; ++i) {
        const std::string part = (dir / ("part" + std::to_string(i))).string();
        test::RunTool("sox '" + sweep.string() + "' '" + part + ".wav' " + trims[i]);
        test::RunTool("lame --quiet " + rates[i] + " '" + part + ".wav' '" + part + ".mp3'");
        album.Files.push_back(part + ".mp3");
    }
    return album;
}

// How `heard` (interleaved stereo, the sweep's first sample at `start`) fits the sweep over 16384
// samples before and after a point, at any level (a sound server may scale what it plays): the
// shift, within ±kMaxShift samples, that fits each side best, and the signal-to-error ratio
// without a shift over both.
struct TJoinFit {
    int ShiftBefore = 0;
    int ShiftAfter = 0;
    double SnrDb = 0;
};
constexpr int kMaxShift = 64;

TJoinFit FitAt(const std::vector<int16_t>& heard, size_t start, const std::vector<int16_t>& sweep,
               size_t point) {
    constexpr size_t kSide = 16384;
    // The normalised correlation of the two over the samples [from, to) of the sweep.
    auto correlation = [&](size_t from, size_t to, int shift) {
        double both = 0, heardEnergy = 0, sweepEnergy = 0;
        for (size_t n = 2 * from; n < 2 * to; ++n) {
            const auto at = static_cast<std::ptrdiff_t>(2 * start + n) + 2 * shift;
            const double got =
                at >= 0 && static_cast<size_t>(at) < heard.size() ? heard[size_t(at)] : 0;
            both += got * sweep[n];
            heardEnergy += got * got;
            sweepEnergy += double(sweep[n]) * sweep[n];
        }
        return heardEnergy > 0 ? both / std::sqrt(heardEnergy * sweepEnergy) : 0;
    };
    auto bestShift = [&](size_t from) {
        int best = 0;
        double most = -2;
        for (int shift = -kMaxShift; shift <= kMaxShift; ++shift) {
            const double c = correlation(from, from + kSide, shift);
            if (c > most) {
                most = c;
                best = shift;
            }
        }
        return best;
    };
    const double c = std::min(correlation(point - kSide, point + kSide, 0), 1 - 1e-12);
    return {bestShift(point - kSide), bestShift(point), 10 * std::log10(c * c / (1 - c * c))};
}

// Every join, and a point inside each song for comparison, as the test's output shows them.
void ExpectJoinsFit(const std::vector<int16_t>& heard, size_t start,
                    const std::vector<int16_t>& sweep, double minimumSnrDb) {
    const size_t points[] = {50000, kCuts[0], 160000, kCuts[1], 300000};
    for (const size_t point : points) {
        const TJoinFit fit = FitAt(heard, start, sweep, point);
        std::printf("  at sample %zu: best shift %d before, %d after, %.1f dB without a shift\n",
                    point, fit.ShiftBefore, fit.ShiftAfter, fit.SnrDb);
        EXPECT_EQ(fit.ShiftBefore, 0) << "at sample " << point;
        EXPECT_EQ(fit.ShiftAfter, 0) << "at sample " << point;
        EXPECT_GE(fit.SnrDb, minimumSnrDb) << "at sample " << point;
    }
}

TEST(Gapless, DecodeOfThreeFilesCutFromOneSweepGivesTheSweepSampleExact) {
    test::TempDir dir;
    const TSweepAlbum album = MakeSweepAlbum(dir);
    const fs::path wav = dir / "album.wav";
    test::RunTool(Cli() + " decode '" + album.Files[0] + "' '" + album.Files[1] + "' '" +
                  album.Files[2] + "' -o '" + wav.string() + "'");
    const std::vector<int16_t> decoded = Samples(test::WavPcm(wav));
    ASSERT_EQ(decoded.size(), album.Sweep.size())
        << "samples per channel: decoded " << decoded.size() / 2 << ", the sweep "
        << album.Sweep.size() / 2;
    ExpectJoinsFit(decoded, 0, album.Sweep, 20.0);
    // What mpg123 gives a listener of the three, one after the other.
    std::vector<int16_t> listener;
    for (const std::string& file : album.Files) {
        const std::vector<int16_t> song = test::DecodeWithMpg123(file, true).Samples;
        listener.insert(listener.end(), song.begin(), song.end());
    }
    ASSERT_EQ(listener.size(), decoded.size());
    EXPECT_GE(test::Compare(decoded, listener).Psnr, 90.0);

    // A song that cannot follow in the same data leaves no WAV that would pass for the album.
    const fs::path errors = dir / "errors.txt";
    const int status =
        std::system((Cli() + " decode '" + album.Files[0] + "' '" + (dir / "missing.mp3").string() +
                     "' -o '" + wav.string() + "' 2>'" + errors.string() + "'")
                        .c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_FALSE(fs::exists(wav));
    const std::vector<uint8_t> said = test::ReadFileBytes(errors);
    EXPECT_NE(std::string(said.begin(), said.end()).find("missing.mp3 cannot follow"),
              std::string::npos);
}

// A next file that cannot follow (it cannot be read, or needs the output opened anew) leaves
// the song whole: it plays out and ends as it would without one, and the player says why.
TEST(Gapless, ANextFileThatCannotFollowLeavesTheSongWholeAndSaysWhy) {
    test::TempDir dir;
    const fs::path song = test::EncodeWithLame(test::MakeSignalWav(1.5, kRate, 2), "-b 128");
    const std::vector<uint8_t> alone = test::PlayToWav(song, dir / "alone.wav");
    test::WriteFileBytes(dir / "noise.mp3", std::vector<uint8_t>(5000, 0x55));
    const struct {
        std::string Next;
        std::string Refusal;
    } cases[] = {
        {(dir / "missing.mp3").string(), "No such file"},
        {(dir / "noise.mp3").string(), kUnknownFormatText},
        {test::EncodeWithLame(test::MakeSignalWav(1.5, 22050, 2), "-b 64").string(),
         "another sample rate or number of channels"},
        {test::EncodeWithLame(test::MakeSignalWav(1.5, kRate, 1), "-m m -b 64").string(),
         "another sample rate or number of channels"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Next);
        TMP3Player player;
        player.SetAutoPlay(false);
        test::PlayerLog log;
        log.Attach(player);
        int nextSongs = 0;
        player.OnNextSong = [&](void*) { ++nextSongs; };
        player.SetFileName(song.string());
        player.SetOutputFileName((dir / "out.wav").string());
        player.SetNextFileNames({c.Next});
        player.Play();
        ASSERT_TRUE(test::PumpUntil(player, [&] { return !log.EndReasons.empty(); }));
        EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merSuccessful});
        EXPECT_EQ(nextSongs, 0);
        EXPECT_NE(player.NextRefusal().find(c.Refusal), std::string::npos) << player.NextRefusal();
        EXPECT_TRUE(test::WavPcm(dir / "out.wav") == alone);
    }
}

// While a song plays out behind the one handed over to, stop, seek and pause act on it as they
// would without the hand-over, and close ends both; the second song then follows again.
TEST(Gapless, StopSeekPauseAndCloseDuringTheHandOver) {
    const fs::path first = test::EncodeWithLame(test::MakeSignalWav(2.5, kRate, 2), "-b 128");
    const fs::path second = test::EncodeWithLame(test::MakeSignalWav(3.0, kRate, 2), "-b 160");
    enum TAction { Stop, Seek, Pause, Close };
    const struct {
        TAction Action;
        TMP3PlayerStatus Status; // just after the action
        std::string FileName;    // just after the action
        bool PlaysOn;            // to the end of the second song, which follows without a gap
    } cases[] = {
        {Stop, mpsStopped, first.string(), false},
        {Seek, mpsPlaying, first.string(), true},
        {Pause, mpsPaused, second.string(), true},
        {Close, mpsStopped, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Action);
        TMP3Player player;
        player.SetAutoPlay(false);
        player.SetDeviceID(NullAudioDeviceId());
        test::PlayerLog log;
        log.Attach(player);
        int nextSongs = 0;
        player.OnNextSong = [&](void*) { ++nextSongs; };
        player.SetFileName(first.string());
        player.SetNextFileNames({second.string()});
        player.Play();
        // The second file is open while the first one's last two seconds still play.
        ASSERT_TRUE(test::PumpUntil(player, [&] { return player.FileName() == second.string(); }));
        switch (c.Action) {
        case Stop:
            player.Stop();
            break;
        case Seek:
            player.Seek(1000);
            break;
        case Pause:
            player.Pause();
            break;
        case Close:
            player.Close();
            break;
        }
        EXPECT_EQ(player.Status(), c.Status);
        EXPECT_EQ(player.FileName(), c.FileName);
        test::PumpFor(player, 300ms);
        EXPECT_EQ(nextSongs, 0);
        if (c.Action == Seek) {
            EXPECT_LT(player.Duration(), 2600) << "the first song's";
            EXPECT_GE(player.Position(), 1000);
        }
        if (!c.PlaysOn) continue;
        if (c.Action == Pause) player.Resume();
        ASSERT_TRUE(test::PumpUntil(player, [&] { return !log.EndReasons.empty(); }));
        EXPECT_EQ(nextSongs, 1);
        EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merSuccessful});
    }
}

// The sample of `heard` where the sweep begins: the shift that fits 0.1 s of it half a second in
// best (a sound server may fade a stream in), searched around the first loud sample.
size_t SweepStart(const std::vector<int16_t>& heard, const std::vector<int16_t>& sweep) {
    constexpr size_t kFrom = kRate / 2;
    constexpr size_t kLength = kRate / 10;
    constexpr size_t kAround = 4000;
    size_t loud = 0;
    while (loud < heard.size() && std::abs(heard[loud]) < 1000)
        ++loud;
    const size_t first = loud / 2 > kAround ? loud / 2 - kAround : 0;
    size_t best = first;
    double bestError = -1;
    for (size_t start = first;
         start < first + 2 * kAround && 2 * (start + kFrom + kLength) <= heard.size(); ++start) {
        double error = 0;
        for (size_t n = 2 * kFrom; n < 2 * (kFrom + kLength); ++n) {
            const double difference = double(heard[2 * start + n]) - sweep[n];
            error += difference * difference;
        }
        if (bestError < 0 || error < bestError) {
            bestError = error;
            best = start;
        }
    }
    return best;
}

// What the sound server's sink heard of `play A B C`: the sweep, the joins at their samples.
// The same files through the drain and reopen between songs that they replace leave a gap,
// which no shift of a few samples fits.
TEST(Gapless, PlayOfThreeFilesCutFromOneSweepSoundsAsTheSweep) {
    test::TSoundServer server;
    PELBRISK_REQUIRE_SOUND_SERVER(server);
    test::TempDir dir;
    const TSweepAlbum album = MakeSweepAlbum(dir);
    for (const test::TSoundRoute route : {test::TSoundRoute::PipeWire, test::TSoundRoute::Pulse}) {
        SCOPED_TRACE(route == test::TSoundRoute::PipeWire ? "PipeWire's plugin"
                                                          : "PulseAudio's plugin");
        const fs::path heard = dir / "heard.wav";
        {
            test::TSoundServer::TRecording recording(server, heard);
            std::vector<std::string> command = {Cli(), "play"};
            command.insert(command.end(), album.Files.begin(), album.Files.end());
            test::TChildProcess play(command, {"ALSA_CONFIG_PATH=", "PELBRISK_AUDIO="},
                                     {"ALSA_CONFIG_PATH=" + server.AlsaConfig(route).string()},
                                     dir / "play.log");
            EXPECT_EQ(play.Wait(60s), 0);
            // The server's own latency: the last buffers reach the sink after the play ends.
            std::this_thread::sleep_for(500ms);
            recording.Stop();
        }
        const std::vector<int16_t> samples = Samples(test::WavPcm(heard));
        ASSERT_GT(samples.size(), album.Sweep.size());
        const size_t start = SweepStart(samples, album.Sweep);
        std::printf("the sweep starts at sample %zu of the recording\n", start);
        ExpectJoinsFit(samples, start, album.Sweep, 10.0);
    }
}

} // namespace
} // namespace pelbrisk
