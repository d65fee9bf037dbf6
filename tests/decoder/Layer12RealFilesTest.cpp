#include "decoder/DecoderState.h"
#include "tests/decoder/Layer12StreamDecode.h"
#include "tests/support/Media.h"
#include "tests/support/Reference.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace pelbrisk::test {
namespace {

struct TwolameCase {
    const char* Name;
    int SampleRate;
    int Channels;
    const char* Arguments;
};

class Layer2AgainstMpg123 : public testing::TestWithParam<TwolameCase> {};

// Decoded as the player does (band limit on), every frame, next to what libmpg123 makes of the
// same file.
TEST_P(Layer2AgainstMpg123, DecodesLikeTheReferenceDecoder) {
    const TwolameCase& c = GetParam();
    const auto wav = MakeSignalWav(2.0, c.SampleRate, c.Channels);
    const auto mp2 = EncodeWithTwolame(wav, c.Arguments);
    const ReferenceDecode reference = DecodeWithMpg123(mp2);

    auto decoder = std::make_unique<TMP3Decoder>();
    const Layer12Decoded decoded = DecodeStream(*decoder, ReadFileBytes(mp2));
    ASSERT_TRUE(decoded.Opened) << c.Arguments;
    EXPECT_EQ(decoded.FailedFrames, 0);
    EXPECT_EQ(decoded.Format.SampleRate, reference.SampleRate);
    EXPECT_EQ(decoded.Format.Channels, reference.Channels);
    EXPECT_EQ(decoded.Format.SamplesPerFrame, 1152 * reference.Channels);
    EXPECT_EQ(decoded.Samples.size(), reference.Samples.size());
    const Comparison comparison = Compare(decoded.Samples, reference.Samples);
    EXPECT_GE(comparison.Psnr, 90.0) << c.Arguments;
    std::printf("%s (%s): PSNR %.1f dB, max difference %d\n", c.Name, c.Arguments, comparison.Psnr,
                comparison.MaxDifference);
}

INSTANTIATE_TEST_SUITE_P(
    Twolame, Layer2AgainstMpg123,
    testing::Values(TwolameCase{"Stereo32k", 32000, 2, "-b 192 -m s"},
                    TwolameCase{"StereoLowRate32k", 32000, 2, "-b 96 -m s"},
                    TwolameCase{"JointStereo44k", 44100, 2, "-b 128 -m j"},
                    TwolameCase{"Stereo44kHighRate", 44100, 2, "-b 384 -m s"},
                    TwolameCase{"JointStereoLowRate48k", 48000, 2, "-b 64 -m j"},
                    TwolameCase{"DualChannel48k", 48000, 2, "-b 256 -m d"},
                    TwolameCase{"JointStereoWithCrc48k", 48000, 2, "-b 160 -m j --protect"},
                    TwolameCase{"Mono32k", 32000, 1, "-b 32 -m m"},
                    TwolameCase{"Mono44k", 44100, 1, "-b 64 -m m"},
                    TwolameCase{"Mono48k", 48000, 1, "-b 48 -m m"},
                    TwolameCase{"Mono48kHighRate", 48000, 1, "-b 192 -m m"},
                    TwolameCase{"Mpeg2Mono16k", 16000, 1, "-b 32 -m m"},
                    TwolameCase{"Mpeg2JointStereo22k", 22050, 2, "-b 64 -m j"},
                    TwolameCase{"Mpeg2Stereo24k", 24000, 2, "-b 96 -m s"}),
    [](const testing::TestParamInfo<TwolameCase>& info) { return info.param.Name; });

} // namespace
} // namespace pelbrisk::test
