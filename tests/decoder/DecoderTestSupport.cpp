#include "tests/decoder/DecoderTestSupport.h"

#include "decoder/CpuFeatures.h"
#include "decoder/Layer3Routines.h"
#include "decoder/Routines.h"
#include "decoder/Synthesis.h"
#include "info/FrameHeader.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace pelbrisk::test {

namespace {

// Layer I frames pad with a 4-byte slot, Layers II and III with one byte.
int32_t PaddingSlot(const TMP3FrameHeader& header) {
    return header.Layer == 3 ? 4 : 1;
}

} // namespace

void TBitWriter::Put(uint32_t value, int bits) {
    for (int b = bits - 1; b >= 0; --b) {
        if (count_ % 8 == 0) bytes_.push_back(0);
        if ((value >> b) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (count_ % 8));
        ++count_;
    }
}

bool IsInformationFrame(const uint8_t* frame, int32_t length) {
    const int32_t searched = std::min(length, 64);
    for (int32_t at = 4; at + 4 <= searched; ++at) {
        if (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0 ||
            std::memcmp(frame + at, "VBRI", 4) == 0)
            return true;
    }
    return false;
}

TDecodedStream DecodeWholeStream(TMP3Decoder& decoder, const std::vector<uint8_t>& bytes,
                                 int32_t options, int32_t bandwidth) {
    TDecodedStream result;
    const auto size = static_cast<int32_t>(bytes.size());
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = 0;
    const int32_t firstLength = FindFrameSync(bytes.data(), size, header, bitrate, offset);
    if (firstLength <= 0) return result;
    result.Opened = decoder.Open(header, firstLength, 0, 0, options, bandwidth) == 1;
    if (!result.Opened) return result;
    decoder.GetFormat(result.Format);
    // Room for the largest frame of any layer.
    std::vector<int16_t> pcm(4608);
    bool first = true;
    while (offset + 4 <= size) {
        TMP3FrameHeader frame;
        const int32_t length =
            DecodeFrameHeader(bytes.data() + offset, static_cast<uint32_t>(size - offset), frame);
        if (length <= 0) break;
        const int32_t frameLength = length + frame.Padding * PaddingSlot(frame);
        const bool information = first && IsInformationFrame(bytes.data() + offset, frameLength);
        first = false;
        if (!information) {
            const TDecodeResult decoded = decoder.Decode(bytes.data() + offset, size - offset,
                                                         reinterpret_cast<uint8_t*>(pcm.data()));
            if (decoded.Consumed < 1) {
                ++result.FailedFrames;
            } else {
                ++result.Frames;
                result.Samples.insert(result.Samples.end(), pcm.begin(),
                                      pcm.begin() + decoded.OutputBytes / 2);
            }
        }
        offset += frameLength;
    }
    return result;
}

void ExpectFormat(const TMP3Decoder& decoder, const TMP3DecoderFormat& expected) {
    TMP3DecoderFormat format;
    decoder.GetFormat(format);
    EXPECT_EQ(format.Channels, expected.Channels);
    EXPECT_EQ(format.SamplesPerFrame, expected.SamplesPerFrame);
    EXPECT_EQ(format.SampleRate, expected.SampleRate);
    EXPECT_EQ(format.BitsPerSample, expected.BitsPerSample);
    EXPECT_EQ(format.FrameLength, expected.FrameLength);
    EXPECT_EQ(format.Reserved, expected.Reserved);
}

void ExpectConformance(const std::string& name, size_t skippedSamples, double minimumPsnr) {
    const std::filesystem::path bitstream = VectorsDir() / (name + ".bit");
    const std::filesystem::path pcm = VectorsDir() / (name + ".pcm");
    if (!std::filesystem::exists(bitstream) || !std::filesystem::exists(pcm))
        GTEST_SKIP() << name << " is not among the vectors";
    const std::vector<uint8_t> bytes = ReadFileBytes(bitstream);
    const std::vector<int16_t> reference = ReadPcm16(pcm);
    const auto afterSkipped = [skippedSamples](const TDecodedStream& decoded) {
        const size_t skipped = std::min(skippedSamples, decoded.Samples.size());
        return std::vector<int16_t>(decoded.Samples.begin() + static_cast<ptrdiff_t>(skipped),
                                    decoded.Samples.end());
    };

    const TRoutineSlots portable = {WindowMonoFpu, WindowInterleavedFpu, AntialiasFpu,
                                    ImdctFpu,      ImdctLongCoreFpu,     ImdctShortCoreFpu};
    SelectRoutines(FeaturesWithCapabilities(DetectProcessorFeatures(), kAllCpuCapabilities));
    const TRoutineSlots selected = Routines;
    Comparison full;
    for (const TRoutineSlots& slots : {portable, selected}) {
        Routines = slots;
        auto fullBand = std::make_unique<TMP3Decoder>();
        fullBand->FullBand = true;
        const TDecodedStream decoded = DecodeWholeStream(*fullBand, bytes);
        ASSERT_TRUE(decoded.Opened) << name;
        EXPECT_EQ(decoded.FailedFrames, 0) << name;
        ASSERT_GT(decoded.Samples.size(), skippedSamples) << name;
        full = Compare(afterSkipped(decoded), reference);
        ASSERT_GT(full.Compared, reference.size() / 2) << name;
        EXPECT_GE(full.Psnr, minimumPsnr) << name;
        EXPECT_LE(full.MaxDifference, 1) << name;
    }

    auto playerBand = std::make_unique<TMP3Decoder>();
    const Comparison player =
        Compare(afterSkipped(DecodeWholeStream(*playerBand, bytes)), reference);
    std::printf("%s: full band PSNR %.1f dB (max difference %d, %zu of %zu samples), "
                "player band PSNR %.1f dB\n",
                name.c_str(), full.Psnr, full.MaxDifference, full.Compared, reference.size(),
                player.Psnr);
}

TBesideReference DecodeBesideMpg123(TMP3Decoder& decoder, const std::filesystem::path& file) {
    TBesideReference run;
    run.Decoded = DecodeWholeStream(decoder, ReadFileBytes(file));
    run.Reference = DecodeWithMpg123(file);
    run.Match = Compare(run.Decoded.Samples, run.Reference.Samples);
    return run;
}

void ExpectLikeMpg123(const TBesideReference& run, double minimumPsnr) {
    ASSERT_TRUE(run.Decoded.Opened);
    ASSERT_FALSE(run.Reference.Samples.empty());
    EXPECT_EQ(run.Decoded.FailedFrames, 0);
    EXPECT_EQ(run.Decoded.Format.SampleRate, run.Reference.SampleRate);
    EXPECT_EQ(run.Decoded.Format.Channels, run.Reference.Channels);
    EXPECT_GE(run.Match.Psnr, minimumPsnr);
}

} // namespace pelbrisk::test
