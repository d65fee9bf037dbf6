#include "tests/engine/PlayerSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"
#include "tests/support/Reference.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utmp.h>

namespace pelbrisk {
namespace {

std::filesystem::path Cli() {
    return test::BinaryDir() / "cli" / "pelbrisk-cli";
}

#define REQUIRE_CLI()                                                                              \
    do {                                                                                           \
        if (!std::filesystem::exists(Cli()))                                                       \
            GTEST_SKIP() << "pelbrisk-cli not built at " << Cli();                                 \
    } while (0)

std::vector<uint8_t> DecodeWithCli(const std::filesystem::path& input,
                                   const std::filesystem::path& wav,
                                   const std::string& extra = "") {
    test::RunTool(Cli().string() + " decode '" + input.string() + "' -o '" + wav.string() + "' " +
                  extra);
    return test::WavPcm(wav);
}

TEST(CliDecode, ConformanceVectorsGiveTheFrameByFramePcm) {
    PELBRISK_REQUIRE_VECTORS();
    REQUIRE_CLI();
    test::TempDir dir;
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(test::VectorsDir())) {
        if (entry.path().extension() != ".bit") continue;
        const auto pcm = DecodeWithCli(entry.path(), dir / "out.wav");
        const auto expected = test::DecodeFrameByFrame(test::ReadFileBytes(entry.path()));
        EXPECT_FALSE(expected.empty()) << entry.path();
        EXPECT_EQ(pcm.size(), expected.size()) << entry.path();
        EXPECT_TRUE(pcm == expected) << entry.path();
        ++compared;
    }
    EXPECT_EQ(compared, 28) << "every vector, the free-format one included";
}

// By default what a listener gets from mpg123: the song alone, the encoder's delay and padding
// and the decoder's own delay trimmed, in constant and variable bit-rate files, MPEG-1, 2 and 2.5.
// Without gapless, every frame whole, as mpg123 --no-gapless gives them.
TEST(CliDecode, LameFilesGiveMpg123sSongOrEveryFrameWithoutGapless) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto stereo = test::MakeSignalWav(4.0, 44100, 2);
    const auto mono = test::MakeSignalWav(4.0, 22050, 1);
    for (const auto& mp3 :
         {test::EncodeWithLame(stereo, "-b 128"), test::EncodeWithLame(stereo, "-V 2"),
          test::EncodeWithLame(stereo, "-b 320 -m j"), test::EncodeWithLame(mono, "-b 32"),
          test::EncodeWithLame(mono, "-b 64"), test::EncodeWithLame(mono, "-V 4"),
          test::EncodeWithLame(mono, "-m m --resample 11.025 -b 16")}) {
        const auto frames = DecodeWithCli(mp3, dir / "frames.wav", "--no-gapless");
        const auto expected = test::DecodeFrameByFrame(test::ReadFileBytes(mp3));
        ASSERT_GT(expected.size(), 50000u) << mp3;
        EXPECT_TRUE(frames == expected)
            << mp3 << ": " << frames.size() << " vs " << expected.size();
        EXPECT_EQ(frames.size() / 2, test::DecodeWithMpg123(mp3).Samples.size()) << mp3;

        const auto song = DecodeWithCli(mp3, dir / "song.wav");
        const auto reference = test::DecodeWithMpg123(mp3, true);
        ASSERT_EQ(song.size() / 2, reference.Samples.size()) << mp3;
        const auto* samples = reinterpret_cast<const int16_t*>(song.data());
        EXPECT_GE(test::Compare(samples, song.size() / 2, reference.Samples.data(),
                                reference.Samples.size())
                      .Psnr,
                  90.0)
            << mp3;
    }
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& pcm) {
    std::vector<int16_t> samples(pcm.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
    return samples;
}

std::filesystem::path Joined(const std::filesystem::path& first,
                             const std::filesystem::path& second) {
    return test::MakeWithTool("cat {in} '" + second.string() + "' > {out}", first, ".mp3");
}

std::filesystem::path Ffmpeg(int rate, int channels, const std::string& bitrate) {
    return test::MakeWithTool("ffmpeg -loglevel error -y -i {in} -c:a libmp3lame -b:a " + bitrate +
                                  " {out}",
                              test::MakeSignalWav(1.5, rate, channels), ".mp3");
}

// Information frames of every kind, and streams that go on past theirs, give what mpg123 gives a
// listener: lame -p's CRC-protected frames, ffmpeg's LAME tag in its smaller layouts, a song of
// no samples at all, files joined together with or without a tag between them.
TEST(CliDecode, InformationFramesOfEveryKindGiveMpg123sSong) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto stereo = test::MakeSignalWav(1.5, 44100, 2);
    const auto other = test::MakeSignalWav(0.7, 44100, 2);
    const auto nothing = test::MakeWithTool("sox {in} {out} trim 0 0", stereo, ".wav");
    for (const auto& mp3 :
         {test::EncodeWithLame(stereo, "-b 128 -p"),
          test::EncodeWithLame(test::MakeSignalWav(1.5, 44100, 1), "-m m -p"),
          Ffmpeg(44100, 1, "64k"), Ffmpeg(22050, 2, "32k"), Ffmpeg(8000, 1, "16k"),
          test::EncodeWithLame(nothing, "-b 128"),
          Joined(test::EncodeWithLame(stereo, "-b 128"), test::EncodeWithLame(other, "-b 128")),
          Joined(test::EncodeWithLame(stereo, "-b 128"),
                 test::EncodeWithLame(other, "-b 128 --add-id3v2 --tt B"))}) {
        const auto song = Samples(DecodeWithCli(mp3, dir / "song.wav", "--full-band"));
        const auto reference = test::DecodeWithMpg123(mp3, true);
        ASSERT_EQ(song.size(), reference.Samples.size()) << mp3;
        if (!song.empty()) {
            EXPECT_GE(test::Compare(song, reference.Samples).Psnr, 90.0) << mp3;
        }
        const std::string info = test::RunTool(Cli().string() + " info '" + mp3.string() + "'");
        const int channels = reference.Channels;
        const int64_t milliseconds = int64_t(song.size()) * 1000 / channels / reference.SampleRate;
        const size_t at = info.find("duration:");
        ASSERT_NE(at, std::string::npos);
        EXPECT_NEAR(std::stol(info.substr(at + 9)), milliseconds, milliseconds / 50 + 1) << info;
    }
}

// A stream whose channel count changes keeps both channels when the open sees the second one
// come, feeding a single-channel frame to both; frames with two channels that come later than
// that are mixed into the one, never cut to the left.
TEST(CliDecode, ChannelChangesKeepEveryChannel) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto mono = test::MakeSignalWav(1.0, 44100, 1);
    const auto longMono = test::MakeSignalWav(6.0, 44100, 1);
    const auto stereo = test::MakeSignalWav(1.0, 44100, 2);
    struct Case {
        std::filesystem::path First;
        std::filesystem::path Second;
        int Channels;
    };
    const Case cases[] = {
        {test::EncodeWithLame(mono, "-t -m m -b 128"),
         test::EncodeWithLame(stereo, "-t -m s -b 128"), 2},
        {test::EncodeWithLame(stereo, "-t -m s -b 128"),
         test::EncodeWithLame(mono, "-t -m m -b 128"), 2},
        {test::EncodeWithTwolame(mono, "-m m -b 128"),
         test::EncodeWithTwolame(stereo, "-m s -b 128"), 2},
        {test::EncodeWithLame(longMono, "-t -m m -b 128"),
         test::EncodeWithLame(stereo, "-t -m s -b 128"), 1},
        {test::EncodeWithTwolame(longMono, "-m m -b 128"),
         test::EncodeWithTwolame(stereo, "-m s -b 128"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.First.string() + " + " + c.Second.string());
        const auto both =
            Samples(DecodeWithCli(Joined(c.First, c.Second), dir / "both.wav", "--full-band"));
        const auto first = test::DecodeWithMpg123(c.First);
        const auto second = test::DecodeWithMpg123(c.Second);
        ASSERT_EQ(both.size() / c.Channels,
                  first.Samples.size() / first.Channels + second.Samples.size() / second.Channels);
        // Each part as decoded alone, brought to the output's channels; the frame at the joint
        // carries the overlap of the part before it.
        std::vector<int16_t> expected;
        for (const auto* part : {&first, &second}) {
            for (size_t i = 0; i < part->Samples.size(); i += size_t(part->Channels)) {
                const int16_t* sample = &part->Samples[i];
                if (c.Channels == part->Channels) {
                    expected.insert(expected.end(), sample, sample + c.Channels);
                } else if (c.Channels == 2) {
                    expected.insert(expected.end(), {sample[0], sample[0]});
                } else {
                    expected.push_back(int16_t((sample[0] + sample[1]) / 2));
                }
            }
        }
        const size_t joint = first.Samples.size() / first.Channels * c.Channels;
        const size_t settled = joint + 2 * 1152 * size_t(c.Channels);
        EXPECT_GE(test::Compare(both.data(), joint, expected.data(), joint).Psnr, 90.0);
        EXPECT_GE(test::Compare(both.data() + settled, both.size() - settled,
                                expected.data() + settled, expected.size() - settled)
                      .Psnr,
                  90.0);
    }
}

// What the files from real libraries give, as the README beside them says a sound reader does.
TEST(CliWild, EveryFileGivesWhatItsReadmeSays) {
    PELBRISK_REQUIRE_WILD();
    REQUIRE_CLI();
    test::TempDir dir;
    const auto wild = test::WildDir();
    struct Case {
        const char* File;
        const char* InfoLine; // a line `info` prints
        long Samples;         // what `decode` gives; -1: as mpg123 gives
    };
    const Case cases[] = {
        {"ffjunk.mp3",
         "  first frame:   MPEG-1 Layer III, 44100 Hz, joint stereo, 128 kbit/s, "
         "417 bytes at 4",
         2435 * 2},
        {"two-id3v2.mp3", "  tags:          ID3v2.3", -1},
        {"two-id3v2.mp3",
         "  first frame:   MPEG-1 Layer III, 44100 Hz, joint stereo, 128 kbit/s, "
         "417 bytes at 76",
         -1},
        {"lame-crc.mp3", "  info frame:    Info, 40 frames, 17135 bytes", 44100 * 2},
        {"latin1-v23.mp3", "  title:         Bj\xC3\xB6rk Caf\xC3\xA9", -1},
        {"latin1-v1.mp3", "  title:         Bj\xC3\xB6rk", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File);
        const auto file = wild / c.File;
        const std::string info = test::RunTool(Cli().string() + " info '" + file.string() + "'");
        EXPECT_NE(info.find(std::string(c.InfoLine) + "\n"), std::string::npos) << info;
        const auto song = DecodeWithCli(file, dir / "song.wav");
        const long expected =
            c.Samples >= 0 ? c.Samples : long(test::DecodeWithMpg123(file, true).Samples.size());
        EXPECT_EQ(long(song.size() / 2), expected);
    }

    // Intensity and middle/side stereo in the same MPEG-2 frames: libmad (sox's MP3 reader), which
    // keeps 13818-3's illegal intensity position as we do, is the reference here.
    const auto mixed = wild / "mpeg2-intensity-ms.mp3";
    const auto ours = Samples(DecodeWithCli(mixed, dir / "mixed.wav", "--no-gapless --full-band"));
    test::RunTool("sox -D '" + mixed.string() + "' -b 16 -e signed -t raw '" +
                  (dir / "mad.raw").string() + "'");
    const auto mad = Samples(test::ReadFileBytes(dir / "mad.raw"));
    ASSERT_EQ(ours.size(), mad.size());
    EXPECT_GE(test::Compare(ours, mad).Psnr, 110.0);
}

TEST(CliDecode, FullBandDecodesTheTopSubbandToo) {
    PELBRISK_REQUIRE_VECTORS();
    REQUIRE_CLI();
    test::TempDir dir;
    const auto vector = test::VectorsDir() / "l1-fl6.bit";
    const auto file = test::ReadFileBytes(vector);
    const auto full = DecodeWithCli(vector, dir / "full.wav", "--full-band");
    EXPECT_TRUE(full == test::DecodeFrameByFrame(file, true));
    EXPECT_FALSE(full == test::DecodeFrameByFrame(file, false)) << "the top subband carries sound";
}

TEST(CliDecode, StandardInputAndErrors) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(2.0, 44100, 2), "-b 128");
    test::RunTool("cat '" + mp3.string() + "' | " + Cli().string() + " decode - -o '" +
                  (dir / "pipe.wav").string() + "'");
    EXPECT_TRUE(test::WavPcm(dir / "pipe.wav") == test::DecodeSong(test::ReadFileBytes(mp3)));

    const std::string missing = Cli().string() + " decode '" + (dir / "none.mp3").string() +
                                "' -o '" + (dir / "x.wav").string() + "'";
    EXPECT_THROW(test::RunTool(missing), std::runtime_error);
    test::WriteFileBytes(dir / "text.mp3", std::vector<uint8_t>(3000, 'a'));
    try {
        test::RunTool(Cli().string() + " decode '" + (dir / "text.mp3").string() + "' -o '" +
                      (dir / "x.wav").string() + "'");
        FAIL() << "not MPEG audio must fail";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("unknown MPEG Audio format."), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(test::RunTool(Cli().string() + " decode"), std::runtime_error);
}

// The default device is ALSA's, here routed by the test's own configuration into a raw file
// through the file plugin, so the bytes that reached ALSA can be compared.
TEST(CliPlay, PlaysEachFileThroughTheDefaultDeviceAndReportsBadOnes) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto raw = dir / "played.raw";
    {
        std::ofstream config(dir / "asound.conf");
        config << "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \""
               << raw.string() << "\"\n  format \"raw\"\n}\n";
    }
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(1.5, 44100, 2), "-b 128");
    const std::string run = "ALSA_CONFIG_PATH='" + (dir / "asound.conf").string() + "' " +
                            Cli().string() + " play '" + mp3.string() + "' </dev/null";
    const std::string output = test::RunTool(run);
    EXPECT_NE(output.find("0:01"), std::string::npos) << output;
    EXPECT_EQ(output.find("null device"), std::string::npos) << "ALSA's default was used";
    const auto played = test::ReadFileBytes(raw);
    const auto expected = test::DecodeSong(test::ReadFileBytes(mp3));
    EXPECT_EQ(played.size(), expected.size());
    EXPECT_TRUE(played == expected) << "full volume leaves the samples as they are";

    try {
        test::RunTool(run + " '" + (dir / "missing.mp3").string() + "'");
        FAIL() << "a missing file makes the exit status non-zero";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("missing.mp3"), std::string::npos);
    }
}

// Keys come from the terminal, so the player runs under script(1), which gives it one. It plays
// on the null device, in real time.
TEST(CliPlay, TheNextKeyEndsOnlyTheCurrentFile) {
    REQUIRE_CLI();
    if (!test::ToolAvailable("script")) GTEST_SKIP() << "script (util-linux) gives the terminal";
    test::TempDir dir;
    std::ofstream(dir / "none.conf").close();
    const auto first = test::EncodeWithLame(test::MakeSignalWav(30.0, 44100, 2), "-b 192");
    const auto second = test::EncodeWithLame(test::MakeSignalWav(1.5, 44100, 2), "-b 128");
    // However late the key arrives, it comes long before the first file's end.
    const std::string output = test::RunTool(
        "(sleep 0.5; printf n) | ALSA_CONFIG_PATH='" + (dir / "none.conf").string() +
        "' script -qfec \"'" + Cli().string() + "' play --device null '" + first.string() + "' '" +
        second.string() + "'\" /dev/null"); // fails unless every file ends well
    EXPECT_NE(output.find(second.filename().string()), std::string::npos) << output;
}

// What a command line printed on each stream, and its exit status; `timeout` turns a hang into
// status 124.
struct CliRun {
    std::string Out;
    std::string Err;
    int Status = -1;
};

CliRun RunCli(const std::string& commandLine, const test::TempDir& dir) {
    const std::string out =
        test::RunTool("timeout 20 sh -c \"" + commandLine + "\" >'" + (dir / "out").string() +
                      "' 2>'" + (dir / "err").string() + "'; echo $?");
    CliRun run;
    run.Status = std::stoi(out);
    const auto bytes = test::ReadFileBytes(dir / "out");
    const auto err = test::ReadFileBytes(dir / "err");
    run.Out.assign(bytes.begin(), bytes.end());
    run.Err.assign(err.begin(), err.end());
    return run;
}

TEST(CliDecode, StandardOutputGetsAPipedWavAndOutputErrorsNameTheOutputOnce) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(1.0, 44100, 2), "-b 128");
    const std::string decode = "'" + Cli().string() + "' decode '" + mp3.string() + "' -o ";
    const CliRun piped = RunCli(decode + "- | cat", dir);
    ASSERT_EQ(piped.Status, 0) << piped.Err;
    EXPECT_FALSE(std::filesystem::exists("-"));
    const std::vector<uint8_t> wav(piped.Out.begin(), piped.Out.end());
    ASSERT_GT(wav.size(), 44u);
    for (size_t field : {4, 40})
        EXPECT_EQ(std::vector<uint8_t>(wav.begin() + field, wav.begin() + field + 4),
                  std::vector<uint8_t>(4, 0xFF))
            << "a piped WAV's sizes are unknown";
    EXPECT_TRUE(std::vector<uint8_t>(wav.begin() + 44, wav.end()) ==
                test::DecodeSong(test::ReadFileBytes(mp3)));

    const std::pair<std::string, std::string> failures[] = {
        {"/nonexistent/dir/x.wav", "No such file or directory"},
        {"/dev/full", "No space left on device"}};
    for (const auto& [output, reason] : failures) {
        const CliRun run = RunCli(decode + "'" + output + "'", dir);
        EXPECT_EQ(run.Status, 1) << output;
        EXPECT_EQ(run.Err, "pelbrisk-cli: " + output + ": " + reason + "\n");
    }
}

// ALSA's file plugin onto a full disk: every write of the default device fails with EIO.
TEST(CliPlay, ADeviceWhoseWritesFailEndsPlayAtOnceWithItsError) {
    REQUIRE_CLI();
    test::TempDir dir;
    std::ofstream(dir / "full.conf") << "pcm.!default {\n  type file\n  slave.pcm { type null }\n"
                                        "  file \"/dev/full\"\n  format \"raw\"\n}\n";
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(6.0, 44100, 2), "-b 128");
    const CliRun run = RunCli("ALSA_CONFIG_PATH='" + (dir / "full.conf").string() + "' '" +
                                  Cli().string() + "' play '" + mp3.string() + "' </dev/null",
                              dir);
    EXPECT_EQ(run.Status, 1) << "not 0, and not 124 from a hang";
    EXPECT_NE(run.Err.find("pelbrisk-cli: the sound device failed (Input/output error): play "
                           "again, or choose another sound device (TSoundOut.WaveWrite)\n"),
              std::string::npos)
        << run.Err;
}

TEST(CliPlay, DeviceChoiceStatusLinesAndTheNotice) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(1.0, 44100, 2), "-b 128");
    const std::string play = "'" + Cli().string() + "' play ";
    const std::string twice = "'" + mp3.string() + "' '" + mp3.string() + "' </dev/null";
    // --device wins over PELBRISK_AUDIO, even over a value that names nothing.
    const CliRun onNull = RunCli("PELBRISK_AUDIO=speakers " + play + "--device null " + twice, dir);
    EXPECT_EQ(onNull.Status, 0) << onNull.Err;
    EXPECT_EQ(onNull.Err.find('\r'), std::string::npos) << "no redrawn line into a file";
    EXPECT_EQ(std::count(onNull.Err.begin(), onNull.Err.end(), '\n'), 2) << onNull.Err;
    // Songs shorter than what the output holds: each line names its own song.
    const auto shortWav = test::MakeSignalWav(0.15, 44100, 2);
    std::string shorts;
    for (const std::string title : {"One", "Two", "Three"})
        shorts += " '" + test::EncodeWithLame(shortWav, "-b 128 --tt " + title).string() + "'";
    const CliRun titled = RunCli(play + "--device null" + shorts + " </dev/null", dir);
    EXPECT_EQ(titled.Err, "One  0:00 / 0:00\nTwo  0:00 / 0:00\nThree  0:00 / 0:00\n");

    for (const std::string& wrong : {std::string("PELBRISK_AUDIO=speakers ") + play + twice,
                                     play + "--device speakers " + twice}) {
        const CliRun run = RunCli(wrong, dir);
        EXPECT_EQ(run.Status, 2) << wrong;
        EXPECT_EQ(run.Err.rfind("pelbrisk-cli: ", 0), 0u) << run.Err;
    }
    // An ALSA configuration without a default, on a machine without a sound card: there is no
    // sound at all, so the default plays into nothing and says so once, under its own name.
    if (NoSoundCard()) {
        std::ofstream(dir / "none.conf").close();
        const CliRun run =
            RunCli("ALSA_CONFIG_PATH='" + (dir / "none.conf").string() + "' " + play + twice, dir);
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Err.rfind("pelbrisk-cli: no sound card", 0), 0u) << run.Err;
        EXPECT_EQ(run.Err.find("no sound card", 15), std::string::npos) << "once";
    }
}

// Three presses of Right that arrive together seek 15 seconds on.
TEST(CliPlay, EveryArrowPressCounts) {
    REQUIRE_CLI();
    if (!test::ToolAvailable("script")) GTEST_SKIP() << "script (util-linux) gives the terminal";
    test::TempDir dir;
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(30.0, 44100, 2), "-b 128");
    const std::string output = test::RunTool(
        "(sleep 0.5; printf '\\033[C\\033[C\\033[C'; sleep 0.8; printf q) | script -qfec \"'" +
        Cli().string() + "' play --device null '" + mp3.string() + "'\" /dev/null");
    EXPECT_NE(output.find("0:15 / 0:30"), std::string::npos) << output;
    EXPECT_EQ(output.find("0:05 / 0:30"), std::string::npos) << output;
}

// The output is created afresh: an output that is the input, by whatever name, is refused before
// anything is written.
// decode --replay-gain scales the WAV by the chosen gain, the other one standing in for a missing
// one, held down where the peak would clip; info shows the gains.
TEST(CliDecode, ReplayGainScalesTheWavAndInfoShowsTheGains) {
    REQUIRE_CLI();
    if (!test::ToolAvailable("mid3v2")) GTEST_SKIP() << "mid3v2 writes the gains";
    const auto plain = test::EncodeWithLame(test::MakeSignalWav(1, 44100, 2), "-b 128 -t");
    const auto tagged = test::MakeWithTool(
        "cp {in} {out} && mid3v2 --TXXX 'REPLAYGAIN_TRACK_GAIN:-6.0206 dB' "
        "--TXXX 'REPLAYGAIN_ALBUM_GAIN:+6.0206 dB' --TXXX 'REPLAYGAIN_ALBUM_PEAK:0.8' {out}",
        plain, ".mp3");
    const auto trackOnly = test::MakeWithTool(
        "cp {in} {out} && mid3v2 --TXXX 'REPLAYGAIN_TRACK_GAIN:-12.0412 dB' {out}", plain, ".mp3");
    test::TempDir dir;
    const auto reference = Samples(DecodeWithCli(plain, dir / "plain.wav"));
    struct Case {
        std::filesystem::path file;
        const char* mode;
        double factor;
    };
    const Case cases[] = {
        {tagged, "track", 0.5},
        {tagged, "album", 1 / 0.8}, // +6 dB held to what the peak 0.8 allows
        {trackOnly, "album", 0.25},
    };
    for (const Case& c : cases) {
        const auto samples = Samples(
            DecodeWithCli(c.file, dir / "gain.wav", "--replay-gain " + std::string(c.mode)));
        ASSERT_EQ(samples.size(), reference.size()) << c.mode;
        int64_t worst = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            const double wanted = std::clamp(reference[i] * c.factor, -32768.0, 32767.0);
            worst = std::max<int64_t>(worst, std::llabs(int64_t(samples[i] - std::trunc(wanted))));
        }
        EXPECT_LE(worst, 1) << c.file << " " << c.mode;
    }
    // Joined without a gap, each song has its own gain to its last sample.
    const auto joined = DecodeWithCli(tagged, dir / "joined.wav",
                                      "'" + trackOnly.string() + "' --replay-gain track");
    auto apart = DecodeWithCli(tagged, dir / "first.wav", "--replay-gain track");
    const auto second = DecodeWithCli(trackOnly, dir / "second.wav", "--replay-gain track");
    apart.insert(apart.end(), second.begin(), second.end());
    ASSERT_EQ(joined.size(), apart.size());
    EXPECT_TRUE(joined == apart)
        << "first difference at byte "
        << std::mismatch(joined.begin(), joined.end(), apart.begin()).first - joined.begin();
    const CliRun bad = RunCli(Cli().string() + " decode " + tagged.string() + " -o " +
                                  (dir / "x.wav").string() + " --replay-gain loud",
                              dir);
    EXPECT_EQ(bad.Status, 2);
    const CliRun info = RunCli(Cli().string() + " info " + tagged.string(), dir);
    EXPECT_NE(info.Out.find("track gain:    -6.02 dB\n"), std::string::npos) << info.Out;
    EXPECT_NE(info.Out.find("album gain:    +6.02 dB, peak 0.800000\n"), std::string::npos)
        << info.Out;
    const CliRun json = RunCli(Cli().string() + " info --json " + tagged.string(), dir);
    EXPECT_NE(json.Out.find("\"replayGain\":{\"track\":{\"gain\":-6.020600,\"peak\":null},"
                            "\"album\":{\"gain\":6.020600,\"peak\":0.800000}}"),
              std::string::npos)
        << json.Out;
}

TEST(CliDecode, RefusesAnOutputThatIsItsInputByAnyName) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto song = dir / "song.mp3";
    std::filesystem::copy_file(test::EncodeWithLame(test::MakeSignalWav(1.0, 44100, 2), "-b 128"),
                               song);
    const auto bytes = test::ReadFileBytes(song);
    std::filesystem::create_symlink(song, dir / "link.wav");
    std::filesystem::create_hard_link(song, dir / "hard.wav");
    const std::string decode = "'" + Cli().string() + "' decode ";
    const std::string in = "'" + song.string() + "'";
    for (const std::string& arguments :
         {in + " -o " + in, in + " -o '" + (dir / "." / "song.mp3").string() + "'",
          in + " -o '" + (dir / "link.wav").string() + "'",
          in + " -o '" + (dir / "hard.wav").string() + "'", "- -o " + in + " <" + in}) {
        const CliRun run = RunCli(decode + arguments, dir);
        EXPECT_EQ(run.Status, 1) << arguments;
        EXPECT_NE(run.Err.find("are the same file"), std::string::npos) << run.Err;
        EXPECT_TRUE(test::ReadFileBytes(song) == bytes) << arguments;
    }
}

// A file-size limit (ulimit -f) met by the data, or by the last bytes that only finishing the
// file writes out: the error is said once, the status is 1, and no shorter WAV is left behind to
// pass for the song.
TEST(CliDecode, AWavThatCannotBeWrittenWholeIsRemoved) {
    REQUIRE_CLI();
    if (!test::ToolAvailable("prlimit")) GTEST_SKIP() << "prlimit (util-linux) sets the limit";
    test::TempDir dir;
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(3.0, 44100, 2), "-b 128");
    const std::string out = (dir / "out.wav").string();
    const std::string decode =
        "'" + Cli().string() + "' decode '" + mp3.string() + "' -o '" + out + "'";
    ASSERT_EQ(RunCli(decode, dir).Status, 0);
    const auto whole = std::filesystem::file_size(out);
    for (const auto limit : {whole / 2, whole - 1}) {
        const CliRun run = RunCli("prlimit --fsize=" + std::to_string(limit) + " " + decode, dir);
        EXPECT_EQ(run.Status, 1) << limit;
        EXPECT_EQ(run.Err, "pelbrisk-cli: " + out +
                               ": File too large\npelbrisk-cli: removed the "
                               "unfinished " +
                               out + "\n")
            << limit;
        EXPECT_FALSE(std::filesystem::exists(out)) << limit;
    }
}

// Each command tells its own usage; an unknown option is named, never opened as a file.
TEST(Cli, EachCommandHasItsHelpAndNamesAnUnknownOption) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(1.0, 44100, 2), "-b 128");
    for (const std::string command : {"info", "decode", "play"}) {
        const std::string run = "'" + Cli().string() + "' " + command;
        const CliRun help = RunCli(run + " --help", dir);
        EXPECT_EQ(help.Status, 0) << command;
        EXPECT_EQ(help.Out.rfind("usage: pelbrisk-cli " + command + " ", 0), 0u) << help.Out;
        const CliRun wrong =
            RunCli(run + " --bogus '" + mp3.string() + "' -o x.wav </dev/null", dir);
        EXPECT_EQ(wrong.Status, 2) << command;
        EXPECT_EQ(wrong.Err.rfind("pelbrisk-cli " + command + ": unknown option --bogus\n", 0), 0u)
            << wrong.Err;
    }
}

// The state letter /proc gives a process: 'T' while it is stopped.
char ProcessState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t nameEnd = line.rfind(") ");
    return nameEnd == std::string::npos ? '?' : line[nameEnd + 2];
}

// Ctrl+C, SIGTERM and SIGHUP on a terminal: play stops, gives the terminal back its mode and
// exits with the shell's status for the signal. Ctrl+Z gives the mode back too while the process
// is stopped; continued, it takes the terminal again and plays on. The terminal is a
// pseudo-terminal whose other end the test holds; play runs as a shell runs a job, in a process
// group of its own in the terminal's foreground, with a parent in the session to continue it.
TEST(CliPlay, ASignalRestoresTheTerminalAndExitsWithItsStatus) {
    REQUIRE_CLI();
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(30.0, 44100, 2), "-b 128");
    const std::string cli = Cli().string();
    struct Stop {
        const char* Name;
        int Signal;
        bool FromKeyboard;
        bool SuspendFirst;
    };
    for (const Stop stop :
         {Stop{"Ctrl+C", SIGINT, true, false}, Stop{"SIGTERM", SIGTERM, false, false},
          Stop{"SIGHUP", SIGHUP, false, false},
          Stop{"Ctrl+Z, SIGCONT, Ctrl+C", SIGINT, true, true}}) {
        SCOPED_TRACE(stop.Name);
        int master = -1;
        int terminal = -1;
        ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
        const pid_t child = fork();
        if (child == 0) {
            login_tty(terminal);
            const pid_t job = fork();
            if (job == 0) {
                setpgid(0, 0);
                signal(SIGTTOU, SIG_IGN);
                tcsetpgrp(STDIN_FILENO, getpid());
                signal(SIGTTOU, SIG_DFL);
                execl(cli.c_str(), cli.c_str(), "play", "--device", "null", mp3.c_str(), nullptr);
                _exit(127);
            }
            int status = 0;
            waitpid(job, &status, 0);
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 255);
        }
        termios mode{};
        std::string shown;
        // Reads what the player draws, so that it never blocks on a full terminal.
        auto readFor = [&](std::chrono::milliseconds limit, const std::function<bool()>& done) {
            const auto deadline = std::chrono::steady_clock::now() + limit;
            bool reached = false;
            while (!(reached = done()) && std::chrono::steady_clock::now() < deadline) {
                pollfd ready{master, POLLIN, 0};
                char bytes[512];
                if (poll(&ready, 1, 20) > 0) {
                    const ssize_t got = read(master, bytes, sizeof bytes);
                    if (got > 0) shown.append(bytes, static_cast<size_t>(got));
                }
            }
            return reached;
        };
        EXPECT_TRUE(readFor(std::chrono::seconds(20), [&] {
            return shown.find(" / 0:30") != std::string::npos;
        })) << shown;
        tcgetattr(terminal, &mode);
        EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), 0u) << "raw while playing";
        const pid_t player = tcgetpgrp(master);
        if (stop.SuspendFirst) {
            EXPECT_EQ(write(master, "\x1a", 1), 1);
            EXPECT_TRUE(
                readFor(std::chrono::seconds(5), [&] { return ProcessState(player) == 'T'; }));
            tcgetattr(terminal, &mode);
            EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO))
                << "the terminal's own mode while stopped";
            kill(player, SIGCONT);
            EXPECT_TRUE(readFor(std::chrono::seconds(5), [&] {
                tcgetattr(terminal, &mode);
                return (mode.c_lflag & (ICANON | ECHO)) == 0;
            })) << "raw again";
            const size_t continued = shown.size();
            EXPECT_TRUE(readFor(std::chrono::seconds(5), [&] {
                return shown.find(" / 0:30", continued) != std::string::npos;
            })) << shown;
            EXPECT_EQ(shown.find("[paused]"), std::string::npos) << "plays on";
        }
        if (stop.FromKeyboard)
            EXPECT_EQ(write(master, "\x03", 1), 1);
        else
            kill(player, stop.Signal);
        int status = 0;
        EXPECT_TRUE(readFor(std::chrono::seconds(5), [&] {
            return waitpid(child, &status, WNOHANG) == child;
        })) << "it ends at once";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + stop.Signal)
            << std::hex << status;
        tcgetattr(terminal, &mode);
        EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
        if (waitpid(child, &status, WNOHANG) == 0) {
            kill(player, SIGKILL);
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        close(master);
        close(terminal);
    }
}

// Whether pelbrisk-cli runs as `pid` (the shell that starts it has exec'd) and has a handler for
// `signal`: until then the signal would end it at once.
bool CliCatches(pid_t pid, int signal) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::string name;
    std::getline(std::ifstream(proc + "/comm"), name);
    std::ifstream status(proc + "/status");
    for (std::string line; name == "pelbrisk-cli" && std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// A stop signal while a command waits for a pipe that stalled, before the first frame or after a
// part of the song: the command ends at once with the shell's status for the signal. decode
// leaves a WAV of what it decoded, whose header gives that length, and says how long it is.
TEST(Cli, AStopSignalEndsTheWaitForAStalledPipe) {
    REQUIRE_CLI();
    if (!test::ToolAvailable("soxi")) GTEST_SKIP() << "soxi (sox) reads the WAV's header";
    test::TempDir dir;
    const auto song =
        test::ReadFileBytes(test::EncodeWithLame(test::MakeSignalWav(8.0, 44100, 2), "-b 128"));
    const auto fifo = dir / "in";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto wav = dir / "out.wav";
    struct Case {
        const char* Command;
        int Signal;
        bool Half; // else nothing at all
    };
    for (const Case stall :
         {Case{"decode", SIGINT, true}, Case{"decode", SIGTERM, true}, Case{"decode", SIGHUP, true},
          Case{"play", SIGINT, false}, Case{"play", SIGINT, true}}) {
        const bool decode = std::string(stall.Command) == "decode";
        SCOPED_TRACE(std::string(stall.Command) + " " + strsignal(stall.Signal) +
                     (stall.Half ? " after half" : " before anything"));
        std::filesystem::remove(wav);
        const auto log = dir / "log";
        std::filesystem::remove(log);
        // Without a terminal of its own, play reads no keys.
        test::TChildProcess command({"setsid", "sh", "-c",
                                     "exec '" + Cli().string() + "' " + stall.Command + " - " +
                                         (decode ? "-o '" + wav.string() + "'" : "--device null") +
                                         " <'" + fifo.string() + "'"},
                                    {}, {}, log);
        const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(writer, 0);
        if (stall.Half) {
            EXPECT_EQ(write(writer, song.data(), song.size() / 2),
                      static_cast<ssize_t>(song.size() / 2));
        }
        auto until = [](const std::function<bool()>& done) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!done() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        };
        auto logged = [&] {
            const auto bytes = test::ReadFileBytes(log);
            return std::string(bytes.begin(), bytes.end());
        };
        // Under way: decode has written PCM, play has shown the song's line.
        until([&] {
            return CliCatches(command.Pid(), stall.Signal) &&
                   (!stall.Half ||
                    (decode ? std::filesystem::exists(wav) && std::filesystem::file_size(wav) > 44
                            : logged().find("0:0") != std::string::npos));
        });
        command.Signal(stall.Signal);
        EXPECT_EQ(command.Wait(std::chrono::seconds(5)), 128 + stall.Signal) << logged();
        close(writer);
        if (!decode) continue;
        const auto dataBytes = std::filesystem::file_size(wav) - 44;
        EXPECT_GT(dataBytes, 0u);
        EXPECT_EQ(test::RunTool("soxi -s '" + wav.string() + "'"),
                  std::to_string(dataBytes / 4) + "\n");
        EXPECT_EQ(logged(), "pelbrisk-cli: interrupted: " + wav.string() + " holds the first 0:0" +
                                std::to_string(dataBytes / 4 / 44100) + "\n");
    }
}

} // namespace
} // namespace pelbrisk
