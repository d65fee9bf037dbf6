#include "decoder/DecoderState.h"
#include "tests/decoder/Layer12StreamDecode.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"
#include "tests/support/Reference.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace pelbrisk::test {
namespace {

namespace fs = std::filesystem;

class Layer12Conformance : public testing::TestWithParam<std::string> {};

TEST_P(Layer12Conformance, FullBandMeetsTheConformanceBarAndPlayerBandIsReported) {
    PELBRISK_REQUIRE_VECTORS();
    const fs::path bitstream = VectorsDir() / (GetParam() + ".bit");
    const fs::path pcm = VectorsDir() / (GetParam() + ".pcm");
    if (!fs::exists(bitstream) || !fs::exists(pcm))
        GTEST_SKIP() << GetParam() << " is not among the vectors";
    const std::vector<uint8_t> bytes = ReadFileBytes(bitstream);
    const std::vector<int16_t> reference = ReadPcm16(pcm);

    auto fullBand = std::make_unique<TMP3Decoder>();
    fullBand->FullBand = true;
    const Layer12Decoded decoded = DecodeStream(*fullBand, bytes);
    ASSERT_TRUE(decoded.Opened);
    EXPECT_EQ(decoded.FailedFrames, 0);
    const Comparison full = Compare(decoded.Samples, reference);
    ASSERT_GT(full.Compared, reference.size() / 2);
    EXPECT_GE(full.Psnr, 96.0) << GetParam();
    EXPECT_LE(full.MaxDifference, 1) << GetParam();

    auto playerBand = std::make_unique<TMP3Decoder>();
    const Layer12Decoded limited = DecodeStream(*playerBand, bytes);
    const Comparison player = Compare(limited.Samples, reference);
    std::printf("%s: full band PSNR %.1f dB (max difference %d), player band PSNR %.1f dB\n",
                GetParam().c_str(), full.Psnr, full.MaxDifference, player.Psnr);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Layer12Conformance,
                         testing::Values("l1-fl1", "l1-fl2", "l1-fl3", "l1-fl4", "l1-fl5", "l1-fl6",
                                         "l1-fl7", "l1-fl8", "l2-fl10", "l2-fl11", "l2-fl12",
                                         "l2-fl13", "l2-fl14", "l2-fl15", "l2-fl16"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

} // namespace
} // namespace pelbrisk::test
