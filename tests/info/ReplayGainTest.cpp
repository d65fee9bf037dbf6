#include "info/ReplayGain.h"

#include "info/MP3Info.h"
#include "info/StreamProbe.h"
#include "stream/Stream.h"
#include "tests/support/Media.h"

#include <cmath>
#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

TEST(ReplayGain, GainAndPeakTexts) {
    struct Case {
        const char* text;
        bool gain; // read as a gain
        double value;
    };
    const Case gains[] = {
        {"-6.50 dB", true, -6.5}, {"+2.1 dB", true, 2.1},  {" -1.5dB ", true, -1.5},
        {"3", true, 3},           {"-6,5 dB", false, 0},   {"dB", false, 0},
        {"", false, 0},           {"99 dB", false, 0},     {"nan", false, 0},
        {"1e3", false, 0},        {"-6.5 dB x", false, 0},
    };
    for (const Case& c : gains) {
        double value = 0;
        EXPECT_EQ(ParseGainText(c.text, value), c.gain) << c.text;
        EXPECT_DOUBLE_EQ(value, c.value) << c.text; // a refused text leaves the value
    }
    double peak = 0;
    EXPECT_TRUE(ParsePeakText("0.988", peak));
    EXPECT_DOUBLE_EQ(peak, 0.988);
    EXPECT_FALSE(ParsePeakText("-0.5", peak));
    EXPECT_FALSE(ParsePeakText("1000", peak));
}

TEST(ReplayGain, LameTagFields) {
    struct Case {
        uint8_t radio[2];
        uint8_t audiophile[2];
        bool track, album;
        double trackGain, albumGain;
    };
    // Name code, originator, sign, tenths of a dB: 001 011 1 001001101 is the radio gain -7.7.
    const Case cases[] = {
        {{0x2E, 0x4D}, {0x00, 0x00}, true, false, -7.7, 0},
        {{0x2C, 0x14}, {0x48, 0x14}, true, true, 2.0, 2.0},
        {{0x20, 0x4D}, {0x48, 0x00}, false, true, 0, 0},  // no originator: not set
        {{0x6E, 0x4D}, {0x00, 0x00}, false, false, 0, 0}, // an unknown name code
    };
    const uint8_t peak[4] = {0x00, 0x40, 0x00, 0x00}; // 0.5
    for (const Case& c : cases) {
        const TReplayGain gain = LameTagGain(peak, c.radio, c.audiophile);
        EXPECT_EQ(gain.Track.Known, c.track);
        EXPECT_EQ(gain.Album.Known, c.album);
        EXPECT_NEAR(gain.Track.Gain, c.trackGain, 1e-9);
        EXPECT_NEAR(gain.Album.Gain, c.albumGain, 1e-9);
        EXPECT_DOUBLE_EQ(gain.Track.Peak, c.track ? 0.5 : 0);
    }
}

TEST(ReplayGain, FactorFollowsModePreampsAndPeak) {
    const TReplayGain both{{true, -6, 0.5}, {true, -12, 0.9}};
    const TReplayGain trackOnly{{true, 6, 0.9}, {}};
    struct Case {
        const char* name;
        TReplayGain gain;
        TReplayGainSettings settings;
        double db; // the factor in dB
    };
    using enum TReplayGainMode;
    const Case cases[] = {
        {"off", both, {Off, 5, 5, true}, 0},
        {"track", both, {Track, 0, 0, true}, -6},
        {"album", both, {Album, 0, 0, true}, -12},
        {"pre-amp", both, {Track, 3, -9, true}, -3},
        {"album mode, track gain only", trackOnly, {Album, 0, 0, false}, 6},
        {"peak caps the gain", trackOnly, {Album, 0, 0, true}, 20 * std::log10(1 / 0.9)},
        {"untagged pre-amp", TReplayGain{}, {Track, 3, -4, true}, -4},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(20 * std::log10(ReplayGainFactor(c.gain, c.settings)), c.db, 1e-9) << c.name;
}

TEST(ReplayGain, DamagedRva2FramesAreIgnored) {
    TReplayGain gain;
    // "track", master volume -2 dB (0xFC00 / 512), 16 peak bits 0x8000 = 1.0.
    const uint8_t sound[] = {'t', 'r', 'a', 'c', 'k', 0, 1, 0xFC, 0x00, 16, 0x80, 0x00};
    ASSERT_TRUE(ReadRva2(sound, sizeof sound, gain));
    EXPECT_DOUBLE_EQ(gain.Track.Gain, -2);
    EXPECT_DOUBLE_EQ(gain.Track.Peak, 1);
    TReplayGain none;
    EXPECT_FALSE(ReadRva2(sound, sizeof sound - 1, none)) << "a peak cut short";
    EXPECT_FALSE(ReadRva2(sound, 5, none)) << "no end of the identification";
    const uint8_t hugePeak[] = {'a', 0, 1, 0x00, 0x00, 255, 0x80};
    EXPECT_FALSE(ReadRva2(hugePeak, sizeof hugePeak, none)) << "255 peak bits need 32 bytes";
    EXPECT_FALSE(none.Known());
}

// The gains of files that today's taggers wrote, as a player that reads them finds them.
TEST(ReplayGain, TaggersFilesAndTheirOrder) {
    if (!test::ToolAvailable("mid3v2") || !test::ToolAvailable("eyeD3"))
        GTEST_SKIP() << "mid3v2 and eyeD3 write the tags";
    struct Case {
        const char* name;
        std::string command;
        TGainValue track, album;
    };
    const std::string python = "cp {in} {out} && /usr/bin/python3 -c \"import sys; ";
    const std::string mid3v2TrackGain =
        "cp {in} {out} && mid3v2 --TXXX 'REPLAYGAIN_TRACK_GAIN:-6.50 dB' "
        "--TXXX 'REPLAYGAIN_TRACK_PEAK:0.988' --TXXX 'REPLAYGAIN_ALBUM_GAIN:-7.25 dB' {out}";
    const Case cases[] = {
        {"mid3v2 TXXX (ID3v2.4)", mid3v2TrackGain, {true, -6.5, 0.988}, {true, -7.25, 0}},
        {"eyeD3 TXXX (ID3v2.3, UTF-16)",
         "cp {in} {out} && eyeD3 -Q --to-v2.3 --encoding utf16 "
         "--user-text-frame 'replaygain_album_gain:+2.10 dB' "
         "--user-text-frame 'replaygain_album_peak:0.5' {out} >/dev/null",
         {},
         {true, 2.1, 0.5}},
        {"mutagen APEv2",
         python + "from mutagen.apev2 import APEv2; t = APEv2(); "
                  "t['REPLAYGAIN_TRACK_GAIN'] = '-3.00 dB'; t['REPLAYGAIN_TRACK_PEAK'] = '1.2'; "
                  "t.save(sys.argv[1])\" {out}",
         {true, -3, 1.2},
         {}},
        {"mutagen RVA2",
         python + "from mutagen.id3 import ID3, RVA2; t = ID3(); "
                  "t.add(RVA2(desc='track', channel=1, gain=-4.5, peak=0.75)); "
                  "t.add(RVA2(desc='album', channel=1, gain=-5, peak=0.25)); "
                  "t.save(sys.argv[1])\" {out}",
         {true, -4.5, 0.75},
         {true, -5, 0.25}},
        {"TXXX before APE",
         mid3v2TrackGain + " && /usr/bin/python3 -c \"import sys; "
                           "from mutagen.apev2 import APEv2; t = APEv2(); "
                           "t['REPLAYGAIN_TRACK_GAIN'] = '-1 dB'; "
                           "t['REPLAYGAIN_ALBUM_GAIN'] = '-2 dB'; "
                           "t.save(sys.argv[1])\" {out}",
         {true, -6.5, 0.988},
         {true, -7.25, 0}},
        {"a gain that is no number",
         "cp {in} {out} && mid3v2 --TXXX 'REPLAYGAIN_TRACK_GAIN:loud' {out}",
         {},
         {}},
    };
    const auto plain = test::EncodeWithLame(test::MakeSignalWav(0.5, 44100, 2), "-b 128 -t");
    for (const Case& c : cases) {
        const auto file = test::MakeWithTool(c.command, plain, ".mp3");
        TMP3Info info;
        info.LoadFromFile(file.string());
        const TReplayGain gain = info.ReplayGain();
        for (const auto& [read, expected] :
             {std::pair{gain.Track, c.track}, std::pair{gain.Album, c.album}}) {
            EXPECT_EQ(read.Known, expected.Known) << c.name;
            EXPECT_NEAR(read.Gain, expected.Gain, 0.002) << c.name;
            EXPECT_NEAR(read.Peak, expected.Peak, 0.0001) << c.name;
        }
    }
}

// lame measures the song as it encodes it and writes the radio gain into its tag; ffmpeg reads it
// back as the track gain.
TEST(ReplayGain, LameTagAgreesWithFfprobe) {
    if (!test::ToolAvailable("ffprobe")) GTEST_SKIP() << "ffprobe reads the LAME tag";
    const auto mp3 =
        test::EncodeWithLame(test::MakeSignalWav(2, 44100, 2), "-b 128 --replaygain-accurate");
    const std::string shown =
        test::RunTool("ffprobe -hide_banner " + mp3.string() + " 2>&1 | grep 'track gain'");
    const size_t at = shown.find("track gain - ");
    ASSERT_NE(at, std::string::npos) << shown;
    const double expected = std::stod(shown.substr(at + 13));
    TMPFileStream stream(mp3.string());
    TMPStreamReader reader(TMP3Info::kFileReaderCapacity);
    reader.Attach(&stream, true);
    TMP3Info info;
    TMP3StreamProbe probe;
    ASSERT_TRUE(ProbeStream(reader, info, probe, false));
    EXPECT_TRUE(probe.VbrHeader.Gain.Track.Known);
    EXPECT_NEAR(probe.VbrHeader.Gain.Track.Gain, expected, 1e-6);
    EXPECT_GT(probe.VbrHeader.Gain.Track.Peak, 0.1);
    EXPECT_LT(probe.VbrHeader.Gain.Track.Peak, 1.01);
}

} // namespace
} // namespace pelbrisk
