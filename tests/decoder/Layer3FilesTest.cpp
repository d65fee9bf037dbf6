#include "decoder/DecoderState.h"
#include "tests/decoder/DecoderTestSupport.h"
#include "tests/support/Media.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace pelbrisk::test {
namespace {

class Layer3Files : public testing::TestWithParam<TEncodedCase> {};

TEST_P(Layer3Files, FullBandMatchesLibmpg123AndPlayerBandIsReported) {
    PELBRISK_REQUIRE_LAME();
    const TEncodedCase& c = GetParam();
    const auto mp3 = EncodeWithLame(MakeSignalWav(4.0, c.SampleRate, c.Channels), c.Arguments);

    auto fullBand = std::make_unique<TMP3Decoder>();
    fullBand->FullBand = true;
    const TBesideReference full = DecodeBesideMpg123(*fullBand, mp3);
    ASSERT_NO_FATAL_FAILURE(ExpectLikeMpg123(full, 90.0)) << c.Name;
    EXPECT_GE(full.Match.Compared + 4608, full.Reference.Samples.size());

    auto playerBand = std::make_unique<TMP3Decoder>();
    const Comparison player =
        Compare(DecodeWholeStream(*playerBand, ReadFileBytes(mp3)).Samples, full.Reference.Samples);
    std::printf("%s (%s): full band PSNR %.1f dB (max difference %d), player band PSNR %.1f dB\n",
                c.Name, c.Arguments, full.Match.Psnr, full.Match.MaxDifference, player.Psnr);
}

INSTANTIATE_TEST_SUITE_P(
    Lame, Layer3Files,
    testing::Values(
        TEncodedCase{"cbr32", 44100, 2, "-b 32"}, TEncodedCase{"cbr64", 44100, 2, "-b 64"},
        TEncodedCase{"cbr128", 44100, 2, "-b 128"},
        TEncodedCase{"cbr192_stereo", 44100, 2, "-b 192 -m s"},
        TEncodedCase{"cbr256", 48000, 2, "-b 256"}, TEncodedCase{"cbr320", 44100, 2, "-b 320"},
        TEncodedCase{"cbr96_32k", 32000, 2, "-b 96"}, TEncodedCase{"vbr_v2", 44100, 2, "-V 2"},
        TEncodedCase{"vbr_v6", 44100, 2, "-V 6"}, TEncodedCase{"mono", 44100, 1, "-m m -b 96"},
        TEncodedCase{"joint_short_blocks", 44100, 2, "-m j -b 128 --short"},
        TEncodedCase{"forced_mid_side", 44100, 2, "-m f -b 160"},
        TEncodedCase{"mpeg2_16k", 16000, 2, "-b 48"}, TEncodedCase{"mpeg2_22k", 22050, 2, "-b 64"},
        TEncodedCase{"mpeg2_24k_mono", 24000, 1, "-m m -b 48"},
        TEncodedCase{"mpeg25_8k", 8000, 1, "-m m -b 16"},
        TEncodedCase{"mpeg25_11k", 11025, 2, "-b 24"},
        TEncodedCase{"mpeg25_12k", 12000, 2, "-b 32"},
        TEncodedCase{"free_format", 44100, 2, "--freeformat -b 400"}),
    [](const testing::TestParamInfo<TEncodedCase>& info) { return std::string(info.param.Name); });

} // namespace
} // namespace pelbrisk::test
