#include "decoder/DecoderState.h"
#include "tests/decoder/DecoderTestSupport.h"
#include "tests/support/Media.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

namespace pelbrisk::test {
namespace {

class Layer2AgainstMpg123 : public testing::TestWithParam<TEncodedCase> {};

// Decoded as the player does (band limit on), every frame, next to what libmpg123 makes of the
// same file.
TEST_P(Layer2AgainstMpg123, DecodesLikeTheReferenceDecoder) {
    const TEncodedCase& c = GetParam();
    const auto mp2 = EncodeWithTwolame(MakeSignalWav(2.0, c.SampleRate, c.Channels), c.Arguments);
    auto decoder = std::make_unique<TMP3Decoder>();
    const TBesideReference run = DecodeBesideMpg123(*decoder, mp2);
    ASSERT_NO_FATAL_FAILURE(ExpectLikeMpg123(run, 90.0)) << c.Arguments;
    EXPECT_EQ(run.Decoded.Format.SamplesPerFrame, 1152 * run.Reference.Channels);
    EXPECT_EQ(run.Decoded.Samples.size(), run.Reference.Samples.size());
    std::printf("%s (%s): PSNR %.1f dB, max difference %d\n", c.Name, c.Arguments, run.Match.Psnr,
                run.Match.MaxDifference);
}

INSTANTIATE_TEST_SUITE_P(
    Twolame, Layer2AgainstMpg123,
    testing::Values(TEncodedCase{"Stereo32k", 32000, 2, "-b 192 -m s"},
                    TEncodedCase{"StereoLowRate32k", 32000, 2, "-b 96 -m s"},
                    TEncodedCase{"JointStereo44k", 44100, 2, "-b 128 -m j"},
                    TEncodedCase{"Stereo44kHighRate", 44100, 2, "-b 384 -m s"},
                    TEncodedCase{"JointStereoLowRate48k", 48000, 2, "-b 64 -m j"},
                    TEncodedCase{"DualChannel48k", 48000, 2, "-b 256 -m d"},
                    TEncodedCase{"JointStereoWithCrc48k", 48000, 2, "-b 160 -m j --protect"},
                    TEncodedCase{"Mono32k", 32000, 1, "-b 32 -m m"},
                    TEncodedCase{"Mono44k", 44100, 1, "-b 64 -m m"},
                    TEncodedCase{"Mono48k", 48000, 1, "-b 48 -m m"},
                    TEncodedCase{"Mono48kHighRate", 48000, 1, "-b 192 -m m"},
                    TEncodedCase{"Mpeg2Mono16k", 16000, 1, "-b 32 -m m"},
                    TEncodedCase{"Mpeg2JointStereo22k", 22050, 2, "-b 64 -m j"},
                    TEncodedCase{"Mpeg2Stereo24k", 24000, 2, "-b 96 -m s"}),
    [](const testing::TestParamInfo<TEncodedCase>& info) { return info.param.Name; });

} // namespace
} // namespace pelbrisk::test
