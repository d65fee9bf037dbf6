#include "decoder/DecoderState.h"
#include "tests/decoder/Layer3TestStream.h"
#include "tests/support/Media.h"
#include "tests/support/Reference.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace pelbrisk::test {
namespace {

struct TLameCase {
    const char* Name;
    int SampleRate;
    int Channels;
    const char* LameArguments;
};

class Layer3Files : public testing::TestWithParam<TLameCase> {};

TEST_P(Layer3Files, FullBandMatchesLibmpg123AndPlayerBandIsReported) {
    if (!ToolAvailable("lame") || !ToolAvailable("sox")) GTEST_SKIP() << "lame or sox missing";
    const TLameCase& c = GetParam();
    const auto wav = MakeSignalWav(4.0, c.SampleRate, c.Channels);
    const auto mp3 = EncodeWithLame(wav, c.LameArguments);
    const std::vector<uint8_t> bytes = ReadFileBytes(mp3);
    const ReferenceDecode reference = DecodeWithMpg123(mp3);
    ASSERT_FALSE(reference.Samples.empty());

    auto fullBand = std::make_unique<TMP3Decoder>();
    fullBand->FullBand = true;
    const TLayer3Decoded decoded = DecodeLayer3Stream(*fullBand, bytes);
    ASSERT_TRUE(decoded.Opened);
    EXPECT_EQ(decoded.FailedFrames, 0);
    EXPECT_EQ(decoded.Format.SampleRate, reference.SampleRate);
    EXPECT_EQ(decoded.Format.Channels, reference.Channels);
    const Comparison full = Compare(decoded.Samples, reference.Samples);
    EXPECT_GE(full.Compared + 4608, reference.Samples.size());
    EXPECT_GE(full.Psnr, 90.0) << c.Name;

    auto playerBand = std::make_unique<TMP3Decoder>();
    const TLayer3Decoded limited = DecodeLayer3Stream(*playerBand, bytes);
    const Comparison player = Compare(limited.Samples, reference.Samples);
    std::printf("%s (%s): full band PSNR %.1f dB (max difference %d), player band PSNR %.1f dB\n",
                c.Name, c.LameArguments, full.Psnr, full.MaxDifference, player.Psnr);
}

INSTANTIATE_TEST_SUITE_P(
    Lame, Layer3Files,
    testing::Values(
        TLameCase{"cbr32", 44100, 2, "-b 32"}, TLameCase{"cbr64", 44100, 2, "-b 64"},
        TLameCase{"cbr128", 44100, 2, "-b 128"},
        TLameCase{"cbr192_stereo", 44100, 2, "-b 192 -m s"},
        TLameCase{"cbr256", 48000, 2, "-b 256"}, TLameCase{"cbr320", 44100, 2, "-b 320"},
        TLameCase{"cbr96_32k", 32000, 2, "-b 96"}, TLameCase{"vbr_v2", 44100, 2, "-V 2"},
        TLameCase{"vbr_v6", 44100, 2, "-V 6"}, TLameCase{"mono", 44100, 1, "-m m -b 96"},
        TLameCase{"joint_short_blocks", 44100, 2, "-m j -b 128 --short"},
        TLameCase{"forced_mid_side", 44100, 2, "-m f -b 160"},
        TLameCase{"mpeg2_16k", 16000, 2, "-b 48"}, TLameCase{"mpeg2_22k", 22050, 2, "-b 64"},
        TLameCase{"mpeg2_24k_mono", 24000, 1, "-m m -b 48"},
        TLameCase{"mpeg25_8k", 8000, 1, "-m m -b 16"}, TLameCase{"mpeg25_11k", 11025, 2, "-b 24"},
        TLameCase{"mpeg25_12k", 12000, 2, "-b 32"},
        TLameCase{"free_format", 44100, 2, "--freeformat -b 400"}),
    [](const testing::TestParamInfo<TLameCase>& info) { return std::string(info.param.Name); });

} // namespace
} // namespace pelbrisk::test
