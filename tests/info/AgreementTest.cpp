#include "info/StreamProbe.h"
#include "stream/Stream.h"
#include "tests/support/Media.h"
#include "tests/support/Reference.h"

#include <cmath>
#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

struct Probed {
    TMP3Info info;
    TMP3StreamProbe probe;
    bool valid = false;
};

Probed ProbeFile(const std::filesystem::path& path) {
    Probed result;
    TMPFileStream stream(path.string());
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    result.valid = ProbeStream(reader, result.info, result.probe, true);
    return result;
}

struct Encoding {
    const char* name;
    int sampleRate;
    int channels;
    const char* lameArguments;
    bool informationFrame;
    int version;
};

class AgreesWithMpg123 : public testing::TestWithParam<Encoding> {};

// Frames walked from the first audio frame equal what mpg123 decodes, and the duration is that of
// mpg123's samples: to the millisecond of its gapless song when a LAME tag times the stream,
// within 0.5% when the first frame's bit rate does.
TEST_P(AgreesWithMpg123, FrameCountAndDuration) {
    const Encoding& encoding = GetParam();
    const auto wav = test::MakeSignalWav(4.3, encoding.sampleRate, encoding.channels);
    const auto mp3 = test::EncodeWithLame(wav, encoding.lameArguments);
    const auto reference = test::DecodeWithMpg123(mp3);
    const Probed probed = ProbeFile(mp3);
    ASSERT_TRUE(probed.valid);
    const TMP3StreamProbe& probe = probed.probe;
    EXPECT_EQ(probe.Format.MpegVersion, encoding.version);
    EXPECT_EQ(probe.Format.SampleRate, reference.SampleRate);
    EXPECT_EQ(probe.Format.Channels, reference.Channels);
    EXPECT_EQ(probe.WalkedFrames, reference.Frames);
    EXPECT_EQ(probe.VbrHeader.Kind != TMP3VbrHeaderKind::None, encoding.informationFrame);

    const auto song = encoding.informationFrame ? test::DecodeWithMpg123(mp3, true) : reference;
    const double referenceMs =
        1000.0 * double(song.Samples.size()) / song.Channels / song.SampleRate;
    if (encoding.informationFrame)
        EXPECT_LE(std::abs(probe.Duration - referenceMs), 1.0);
    else
        EXPECT_LE(std::abs(probe.Duration - referenceMs), referenceMs * 0.005);
}

INSTANTIATE_TEST_SUITE_P(
    LameFiles, AgreesWithMpg123,
    testing::Values(Encoding{"Cbr", 44100, 2, "-b 128 -t", false, 1},
                    Encoding{"CbrInfo", 44100, 2, "-b 128", true, 1},
                    Encoding{"Vbr", 44100, 2, "-V 2", true, 1},
                    Encoding{"Mono", 44100, 1, "-m m -b 64 -t", false, 1},
                    Encoding{"FreeFormat", 44100, 2, "--freeformat -b 400 -t", false, 1},
                    Encoding{"Mpeg2", 22050, 1, "-m m -b 32 -t", false, 2},
                    Encoding{"Mpeg2Vbr", 22050, 2, "-V 5", true, 2},
                    Encoding{"Mpeg25", 11025, 1, "-m m -b 16 -t", false, 3},
                    Encoding{"Mpeg25Vbr", 8000, 2, "-V 6", true, 3}),
    [](const testing::TestParamInfo<Encoding>& info) { return std::string(info.param.name); });

// An exact signal length comes back whole: lame's and ffmpeg's LAME tags name the delay and
// padding they added, in constant and variable bit-rate files alike.
TEST(AgreesWithMpg123, LameTagGivesTheSignalsOwnLength) {
    const auto wav = test::MakeSignalWav(8.0, 44100, 2);
    for (const auto& mp3 :
         {test::EncodeWithLame(wav, "-b 128"), test::EncodeWithLame(wav, "-V 2"),
          test::MakeWithTool("ffmpeg -y -loglevel error -i {in} -c:a libmp3lame -b:a 96k {out}",
                             wav, ".mp3")}) {
        const Probed probed = ProbeFile(mp3);
        ASSERT_TRUE(probed.valid);
        EXPECT_NEAR(probed.probe.Duration, 8000, 2) << mp3;
        EXPECT_EQ(probed.probe.VbrHeader.EncoderDelay, 576) << mp3;
        EXPECT_GT(probed.probe.VbrHeader.EncoderPadding, 0) << mp3;
    }
}

TEST(AgreesWithMpg123, TwolameLayerTwo) {
    const auto mp2 = test::EncodeWithTwolame(test::MakeSignalWav(3, 48000, 2), "-b 192 -m j");
    const auto reference = test::DecodeWithMpg123(mp2);
    const Probed probed = ProbeFile(mp2);
    ASSERT_TRUE(probed.valid);
    EXPECT_EQ(probed.probe.Format.LayerNumber, 2);
    EXPECT_EQ(probed.probe.WalkedFrames, reference.Frames);
    const double referenceMs = 1000.0 * double(reference.Samples.size()) / 2 / 48000;
    EXPECT_LE(std::abs(probed.probe.Duration - referenceMs), referenceMs * 0.005);
}

} // namespace
} // namespace pelbrisk
