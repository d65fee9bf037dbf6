#include "decoder/CpuFeatures.h"
#include "decoder/DecoderState.h"
#include "decoder/Layer3Routines.h"
#include "decoder/Routines.h"
#include "decoder/Synthesis.h"
#include "tests/decoder/Layer12StreamDecode.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"
#include "tests/support/Reference.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace pelbrisk::test {
namespace {

namespace fs = std::filesystem;

// The reference of this vector leaves out the first two frames of its stereo output.
size_t SkippedSamples(const std::string& name) {
    return name == "l3-sin1k0db" ? 2 * 1152 * 2 : 0;
}

class Layer3Conformance : public testing::TestWithParam<std::string> {};

TEST_P(Layer3Conformance, FullBandMeetsTheConformanceBarAndPlayerBandIsReported) {
    PELBRISK_REQUIRE_VECTORS();
    const fs::path bitstream = VectorsDir() / (GetParam() + ".bit");
    const fs::path pcm = VectorsDir() / (GetParam() + ".pcm");
    if (!fs::exists(bitstream) || !fs::exists(pcm))
        GTEST_SKIP() << GetParam() << " is not among the vectors";
    const std::vector<uint8_t> bytes = ReadFileBytes(bitstream);
    const std::vector<int16_t> reference = ReadPcm16(pcm);
    const size_t skipped = SkippedSamples(GetParam());

    // Both the portable routines and the ones this processor gets must meet the bar.
    const TRoutineSlots portable = {WindowMonoFpu, WindowInterleavedFpu, AntialiasFpu,
                                    ImdctFpu,      ImdctLongCoreFpu,     ImdctShortCoreFpu};
    SelectRoutines(FeaturesWithCapabilities(DetectProcessorFeatures(), kAllCpuCapabilities));
    const TRoutineSlots selected = Routines;
    Comparison full;
    for (const TRoutineSlots& slots : {portable, selected}) {
        Routines = slots;
        auto fullBand = std::make_unique<TMP3Decoder>();
        fullBand->FullBand = true;
        const Layer12Decoded decoded = DecodeStream(*fullBand, bytes);
        ASSERT_TRUE(decoded.Opened);
        EXPECT_EQ(decoded.FailedFrames, 0);
        ASSERT_GT(decoded.Samples.size(), skipped);
        full = Compare(decoded.Samples.data() + skipped, decoded.Samples.size() - skipped,
                       reference.data(), reference.size());
        ASSERT_GT(full.Compared, reference.size() / 2);
        EXPECT_GE(full.Psnr, 96.0) << GetParam();
        if (decoded.Samples.size() - skipped == reference.size()) {
            EXPECT_LE(full.MaxDifference, 1) << GetParam();
        }
    }

    auto playerBand = std::make_unique<TMP3Decoder>();
    const Layer12Decoded limited = DecodeStream(*playerBand, bytes);
    const Comparison player =
        Compare(limited.Samples.data() + std::min(skipped, limited.Samples.size()),
                limited.Samples.size() - std::min(skipped, limited.Samples.size()),
                reference.data(), reference.size());
    std::printf("%s: full band PSNR %.1f dB (max difference %d, %zu of %zu samples), "
                "player band PSNR %.1f dB\n",
                GetParam().c_str(), full.Psnr, full.MaxDifference, full.Compared, reference.size(),
                player.Psnr);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Layer3Conformance,
                         testing::Values("l3-compl", "l3-he_32khz", "l3-he_44khz", "l3-he_48khz",
                                         "l3-he_free", "l3-hecommon", "l3-si", "l3-si_block",
                                         "l3-si_huff", "l3-sin1k0db", "M2L3_bitrate_22_all",
                                         "M2L3_compl24"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

} // namespace
} // namespace pelbrisk::test
