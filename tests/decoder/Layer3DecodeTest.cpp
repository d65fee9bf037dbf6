#include "decoder/DecoderState.h"
#include "decoder/Layer3State.h"
#include "info/FrameHeader.h"
#include "tests/decoder/DecoderTestSupport.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"
#include "tests/support/Reference.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace pelbrisk {
namespace {

using test::TBitWriter;

// One MPEG-1 Layer III single-channel frame at 44.1 kHz whose granules carry no bits: header,
// side information with `mainDataBegin`, then zeros up to `frameBytes`.
std::vector<uint8_t> SilentMonoFrame(int bitrateIndex, int mainDataBegin, int frameBytes) {
    TBitWriter w;
    w.Put(0xFFF, 12);
    w.Put(1, 1); // MPEG-1
    w.Put(1, 2); // Layer III
    w.Put(1, 1); // no CRC
    w.Put(bitrateIndex, 4);
    w.Put(0, 2); // 44.1 kHz
    w.Put(0, 2); // no padding, private bit
    w.Put(3, 2); // single channel
    w.Put(0, 6);
    w.Put(mainDataBegin, 9);
    w.Put(0, 5 + 4);
    for (int granule = 0; granule < 2; ++granule) {
        w.Put(0, 12 + 9); // no bits, no big values
        w.Put(150, 8);
        w.Put(0, 4 + 1 + 15 + 4 + 3 + 3);
    }
    std::vector<uint8_t> frame = w.Bytes();
    frame.resize(static_cast<size_t>(frameBytes), 0);
    return frame;
}

TMP3FrameHeader HeaderOf(const std::vector<uint8_t>& frame) {
    TMP3FrameHeader header;
    DecodeFrameHeader(frame.data(), static_cast<uint32_t>(frame.size()), header);
    return header;
}

TDecodeResult Decode(TMP3Decoder& decoder, const std::vector<uint8_t>& frame,
                     std::vector<int16_t>& pcm) {
    return decoder.Decode(frame.data(), static_cast<int32_t>(frame.size()),
                          reinterpret_cast<uint8_t*>(pcm.data()));
}

TEST(Layer3Decode, SetUpDescribesTheOutputAndRefusesWhatItCannotProduce) {
    auto decoder = std::make_unique<TMP3Decoder>();
    TMP3FrameHeader header = HeaderOf(SilentMonoFrame(9, 0, 417));
    header.Mode = 1;
    ASSERT_EQ(decoder->Open(header, 417, 0, 0, 0, 24000), 1);
    test::ExpectFormat(*decoder, {.Channels = 2,
                                  .SamplesPerFrame = 2304,
                                  .SampleRate = 44100,
                                  .BitsPerSample = 16,
                                  .FrameLength = 417,
                                  .Reserved = 0});

    // Mixed to one channel, and an MPEG-2.5 single-channel stream at 8 kHz.
    ASSERT_EQ(decoder->Open(header, 417, 0, 0, 1, 24000), 1);
    test::ExpectFormat(*decoder, {.Channels = 1,
                                  .SamplesPerFrame = 1152,
                                  .SampleRate = 44100,
                                  .BitsPerSample = 16,
                                  .FrameLength = 417,
                                  .Reserved = 0});
    TMP3FrameHeader low = header;
    low.SyncKind = 2;
    low.Id = 0;
    low.SamplingIndex = 2;
    low.Mode = 3;
    ASSERT_EQ(decoder->Open(low, 100, 0, 0, 0, 24000), 1);
    test::ExpectFormat(*decoder, {.Channels = 1,
                                  .SamplesPerFrame = 576,
                                  .SampleRate = 8000,
                                  .BitsPerSample = 16,
                                  .FrameLength = 100,
                                  .Reserved = 0});

    TMP3FrameHeader reserved = header;
    reserved.SamplingIndex = 3;
    EXPECT_EQ(decoder->Open(reserved, 417, 0, 0, 0, 24000), 0);
    EXPECT_EQ(decoder->Open(header, 417, 0, 0, 8, 24000), 0) << "8-bit output";
    EXPECT_EQ(decoder->Open(header, 417, 1, 0, 0, 24000), 0) << "half rate";
}

TEST(Layer3Decode, FramesWithoutEnoughReservoirAreSilentButConsumed) {
    auto decoder = std::make_unique<TMP3Decoder>();
    const std::vector<uint8_t> starved = SilentMonoFrame(9, 300, 417);
    ASSERT_EQ(decoder->Open(HeaderOf(starved), 417, 0, 0, 0, 24000), 1);
    std::vector<int16_t> pcm(2304, 0x5555);
    const TDecodeResult result = Decode(*decoder, starved, pcm);
    EXPECT_EQ(result.Consumed, 417);
    EXPECT_EQ(result.OutputBytes, 2304);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + 1152, [](int16_t s) { return s == 0; }));

    // Once enough main data is held, the same kind of frame decodes.
    std::fill(pcm.begin(), pcm.end(), 0x5555);
    const TDecodeResult next = Decode(*decoder, SilentMonoFrame(9, 200, 417), pcm);
    EXPECT_EQ(next.Consumed, 417);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + 1152, [](int16_t s) { return s == 0; }));
}

TEST(Layer3Decode, RefusesFramesItCannotReadAndSurvivesTruncation) {
    auto decoder = std::make_unique<TMP3Decoder>();
    const std::vector<uint8_t> frame = SilentMonoFrame(9, 0, 417);
    ASSERT_EQ(decoder->Open(HeaderOf(frame), 417, 0, 0, 0, 24000), 1);
    std::vector<int16_t> pcm(2304);
    std::vector<uint8_t> broken = frame;
    broken[1] = 0xE3; // MPEG-2.5 sync in an MPEG-1 stream
    EXPECT_EQ(Decode(*decoder, broken, pcm).Consumed, 0);
    broken = frame;
    broken[2] |= 0xF0; // bit-rate index 15
    EXPECT_EQ(Decode(*decoder, broken, pcm).Consumed, 0);
    EXPECT_EQ(Decode(*decoder, std::vector<uint8_t>(417, 0), pcm).Consumed, 0);
    // Fewer bytes held than the frame needs: the missing ones read as zeros.
    for (int held : {0, 3, 10, 21, 200}) {
        const std::vector<uint8_t> part(frame.begin(), frame.begin() + held);
        const TDecodeResult result = Decode(*decoder, part, pcm);
        EXPECT_TRUE(result.Consumed == 0 || result.Consumed == 417) << held;
    }
}

TEST(Layer3Decode, FreeFormatFramesUseTheSetUpSizeAndOversizedMainDataIsRefused) {
    auto decoder = std::make_unique<TMP3Decoder>();
    // Bit-rate index 0: the frame is as long as the set-up said.
    const int size = 8000;
    ASSERT_EQ(decoder->Open(HeaderOf(SilentMonoFrame(0, 0, size)), size, 0, 0, 0, 24000), 1);
    std::vector<int16_t> pcm(2304);
    EXPECT_EQ(Decode(*decoder, SilentMonoFrame(0, 0, size), pcm).Consumed, size);
    // The reservoir now holds more than its compaction threshold; keeping 400 of those bytes
    // and appending another 7979 would run past its 8192 bytes: refused.
    EXPECT_EQ(Decode(*decoder, SilentMonoFrame(0, 400, size), pcm).Consumed, 0);
    EXPECT_EQ(Decode(*decoder, SilentMonoFrame(0, 0, size), pcm).Consumed, size);

    // Large frames that each reach back into the reservoir keep decoding: the bytes held are
    // compacted before they would overflow.
    const int large = 3000;
    ASSERT_EQ(decoder->Open(HeaderOf(SilentMonoFrame(0, 0, large)), large, 0, 0, 0, 24000), 1);
    EXPECT_EQ(Decode(*decoder, SilentMonoFrame(0, 0, large), pcm).Consumed, large);
    for (int frame = 0; frame < 12; ++frame) {
        std::fill(pcm.begin(), pcm.end(), 0x5555);
        EXPECT_EQ(Decode(*decoder, SilentMonoFrame(0, 511, large), pcm).Consumed, large) << frame;
        EXPECT_EQ(pcm[0], 0) << "decoded, not left untouched";
    }
}

TEST(Layer3Decode, DamagedHuffmanDataIsDecodedWithinTheReservoir) {
    // Random main data behind valid side information: every length field points anywhere.
    auto decoder = std::make_unique<TMP3Decoder>();
    const std::vector<uint8_t> model = SilentMonoFrame(14, 0, 1044);
    ASSERT_EQ(decoder->Open(HeaderOf(model), 1044, 0, 0, 0, 24000), 1);
    std::vector<int16_t> pcm(2304);
    uint32_t seed = 7;
    for (int frame = 0; frame < 50; ++frame) {
        std::vector<uint8_t> bytes = model;
        for (size_t i = 4; i < bytes.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            bytes[i] = static_cast<uint8_t>(seed >> 16);
        }
        bytes[3] = static_cast<uint8_t>(0xC0 | (seed & 0x3F)); // single channel
        const TDecodeResult result = Decode(*decoder, bytes, pcm);
        EXPECT_TRUE(result.Consumed == 0 || result.Consumed == 1044);
    }
}

TEST(Layer3Decode, Count1StopsWhenItsBitsRunOut) {
    // Table B: each quadruple is 4 inverted bits, then a sign bit per non-zero value.
    const uint8_t bits[8] = {0x0F, 0x0F, 0xFF, 0xFF, 0, 0, 0, 0};
    int32_t out[16] = {};
    TLayer3BitReader reader;
    reader.Reset(bits, bits + sizeof(bits));
    // Quadruple 0: 0000 -> all four values 1, signs 1111 -> all -1. Quadruple 1 likewise.
    EXPECT_EQ(DecodeCount1(reader, out, 16, 16, 1), 8);
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(out[7], -1);
    // With too few bits the last quadruple read is dropped.
    std::fill(out, out + 16, 0);
    reader.Reset(bits, bits + sizeof(bits));
    EXPECT_EQ(DecodeCount1(reader, out, 16, 12, 1), 4);
    EXPECT_EQ(out[3], -1);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(out[7], 0);
    // A quadruple with only v or w non-zero ends the count in its middle.
    const uint8_t vOnly[2] = {0x70, 0x00}; // 0111 -> v = 1, sign 0
    reader.Reset(vOnly, vOnly + sizeof(vOnly));
    std::fill(out, out + 16, 0);
    EXPECT_EQ(DecodeCount1(reader, out, 4, 5, 1), 2);
    EXPECT_EQ(out[0], 1);
}

std::vector<uint8_t> LameFile(int rate, int channels, const std::string& arguments) {
    return test::ReadFileBytes(
        test::EncodeWithLame(test::MakeSignalWav(3.0, rate, channels), arguments));
}

TEST(Layer3Decode, ChannelSelectionsFollowTheStereoDecode) {
    PELBRISK_REQUIRE_LAME();
    const std::vector<uint8_t> bytes = LameFile(44100, 2, "-m j -b 128 --short");
    auto decoder = std::make_unique<TMP3Decoder>();
    const test::TDecodedStream stereo = test::DecodeWholeStream(*decoder, bytes, 0);
    const test::TDecodedStream mixed = test::DecodeWholeStream(*decoder, bytes, 1);
    const test::TDecodedStream left = test::DecodeWholeStream(*decoder, bytes, 2);
    const test::TDecodedStream right = test::DecodeWholeStream(*decoder, bytes, 3);
    ASSERT_EQ(stereo.Samples.size(), 2 * left.Samples.size());
    ASSERT_EQ(mixed.Samples.size(), left.Samples.size());
    std::vector<int16_t> leftOfStereo, rightOfStereo, halfSum;
    for (size_t i = 0; i + 1 < stereo.Samples.size(); i += 2) {
        leftOfStereo.push_back(stereo.Samples[i]);
        rightOfStereo.push_back(stereo.Samples[i + 1]);
        halfSum.push_back(static_cast<int16_t>((stereo.Samples[i] + stereo.Samples[i + 1]) / 2));
    }
    EXPECT_EQ(left.Samples, leftOfStereo);
    EXPECT_EQ(right.Samples, rightOfStereo);
    // Mixing works on the spectra, across unlike block types too: within rounding of the
    // separately rounded channels.
    const test::Comparison mix = test::Compare(mixed.Samples, halfSum);
    EXPECT_GE(mix.Psnr, 90.0);
    EXPECT_LE(mix.MaxDifference, 2);
}

TEST(Layer3Decode, LineEqualizerScalesTheSpectrum) {
    PELBRISK_REQUIRE_LAME();
    const std::vector<uint8_t> bytes = LameFile(44100, 2, "-b 128");
    auto decoder = std::make_unique<TMP3Decoder>();
    const test::TDecodedStream plain = test::DecodeWholeStream(*decoder, bytes);
    std::fill(std::begin(decoder->LineGain), std::end(decoder->LineGain), 1.0f);
    decoder->LineEqualizerOn = 1;
    EXPECT_EQ(test::DecodeWholeStream(*decoder, bytes).Samples, plain.Samples);
    std::fill(std::begin(decoder->LineGain), std::end(decoder->LineGain), 0.0f);
    const test::TDecodedStream silenced = test::DecodeWholeStream(*decoder, bytes);
    EXPECT_TRUE(std::all_of(silenced.Samples.begin(), silenced.Samples.end(),
                            [](int16_t s) { return s == 0; }));
    decoder->LineEqualizerOn = 0;
    EXPECT_EQ(test::DecodeWholeStream(*decoder, bytes).Samples, plain.Samples);
}

// Frames of `bytes` from its first audio frame on (no information frame).
std::vector<std::vector<uint8_t>> AudioFrames(const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> frames;
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = 0;
    if (FindFrameSync(bytes.data(), static_cast<int32_t>(bytes.size()), header, bitrate, offset) <=
        0)
        return frames;
    while (offset + 4 <= static_cast<int32_t>(bytes.size())) {
        const int32_t length = DecodeFrameHeader(
            bytes.data() + offset, static_cast<uint32_t>(bytes.size() - offset), header);
        if (length <= 0) break;
        const int32_t end =
            std::min<int32_t>(offset + length + header.Padding, static_cast<int32_t>(bytes.size()));
        if (!test::IsInformationFrame(bytes.data() + offset, end - offset))
            frames.emplace_back(bytes.begin() + offset, bytes.begin() + end);
        offset = end;
    }
    return frames;
}

TEST(Layer3Decode, ChannelCountChangesKeepTheSetUpOutput) {
    PELBRISK_REQUIRE_LAME();
    const auto stereo = AudioFrames(LameFile(44100, 2, "-m s -b 128"));
    const auto mono = AudioFrames(LameFile(44100, 1, "-m m -b 128"));
    ASSERT_GT(stereo.size(), 20u);
    ASSERT_GT(mono.size(), 20u);
    std::vector<int16_t> pcm(2304);

    // Set up for two channels; single-channel frames are heard on both.
    auto decoder = std::make_unique<TMP3Decoder>();
    ASSERT_EQ(
        decoder->Open(HeaderOf(stereo[0]), static_cast<int32_t>(stereo[0].size()), 0, 0, 0, 24000),
        1);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Decode(*decoder, stereo[i], pcm).OutputBytes, 4608);
    for (int i = 0; i < 10; ++i) {
        const TDecodeResult result = Decode(*decoder, mono[i], pcm);
        EXPECT_EQ(result.OutputBytes, 4608);
        if (i < 2) continue; // the right channel's filter memory still holds stereo
        for (size_t s = 0; s < 2304; s += 2)
            ASSERT_EQ(pcm[s], pcm[s + 1]) << "frame " << i << " sample " << s;
    }
    for (int i = 10; i < 20; ++i)
        EXPECT_EQ(Decode(*decoder, stereo[i], pcm).OutputBytes, 4608);

    // One channel taken from a two-channel stream: left only and right only both play the
    // single-channel frames, and agree once the frames before them have left the filters.
    std::vector<int16_t> taken[2];
    for (int side = 0; side < 2; ++side) {
        ASSERT_EQ(decoder->Open(HeaderOf(stereo[0]), static_cast<int32_t>(stereo[0].size()), 0, 0,
                                2 + side, 24000),
                  1);
        for (int i = 0; i < 30; ++i) {
            const auto& frame = i < 10 || i >= 20 ? stereo[i] : mono[i];
            const TDecodeResult result = Decode(*decoder, frame, pcm);
            EXPECT_EQ(result.OutputBytes, 2304);
            if (i >= 12 && i < 20)
                taken[side].insert(taken[side].end(), pcm.begin(), pcm.begin() + 1152);
        }
    }
    EXPECT_EQ(taken[0], taken[1]);

    // Set up for one channel; two-channel frames keep the single-channel output.
    ASSERT_EQ(
        decoder->Open(HeaderOf(mono[0]), static_cast<int32_t>(mono[0].size()), 0, 0, 0, 24000), 1);
    for (int i = 0; i < 20; ++i) {
        const auto& frame = (i / 5) % 2 == 0 ? mono[i] : stereo[i];
        const TDecodeResult result = Decode(*decoder, frame, pcm);
        EXPECT_EQ(result.OutputBytes, 2304);
        EXPECT_EQ(result.Consumed, static_cast<int32_t>(frame.size()));
    }
}

TEST(Layer3Decode, RefusedLowSamplingFrequencyFramesDoNotMoveTheGranuleSlot) {
    PELBRISK_REQUIRE_LAME();
    const auto frames = AudioFrames(LameFile(22050, 2, "-b 64"));
    ASSERT_GT(frames.size(), 10u);
    std::vector<int16_t> pcm(2304);
    auto decoder = std::make_unique<TMP3Decoder>();
    const auto open = [&] {
        ASSERT_EQ(decoder->Open(HeaderOf(frames[0]), static_cast<int32_t>(frames[0].size()), 0, 0,
                                0, 24000),
                  1);
    };
    open();
    std::vector<int16_t> plain;
    for (const auto& frame : frames) {
        ASSERT_EQ(Decode(*decoder, frame, pcm).OutputBytes, 1152 * 2);
        plain.insert(plain.end(), pcm.begin(), pcm.begin() + 1152);
    }
    open();
    std::vector<int16_t> interrupted;
    const std::vector<uint8_t> garbage(200, 0x11);
    for (const auto& frame : frames) {
        EXPECT_EQ(Decode(*decoder, garbage, pcm).Consumed, 0);
        ASSERT_EQ(Decode(*decoder, frame, pcm).OutputBytes, 1152 * 2);
        interrupted.insert(interrupted.end(), pcm.begin(), pcm.begin() + 1152);
    }
    EXPECT_EQ(interrupted, plain);
}

TEST(Layer3Decode, PlayerBandLeavesTheLastLowSamplingFrequencyBandOut) {
    PELBRISK_REQUIRE_VECTORS();
    const auto frames =
        AudioFrames(test::ReadFileBytes(test::VectorsDir() / "M2L3_bitrate_22_all.bit"));
    ASSERT_FALSE(frames.empty());
    std::vector<int16_t> pcm(2304);
    bool topBandSeen = false;
    for (bool fullBand : {false, true}) {
        auto decoder = std::make_unique<TMP3Decoder>();
        decoder->FullBand = fullBand;
        ASSERT_EQ(decoder->Open(HeaderOf(frames[0]), static_cast<int32_t>(frames[0].size()), 0, 0,
                                0, 24000),
                  1);
        for (const auto& frame : frames) {
            Decode(*decoder, frame, pcm);
            for (int c = 0; c < 2; ++c) {
                const int32_t* lines = decoder->Layer3->Quantized[c];
                const bool top = std::any_of(lines + 522, lines + 576, [](int32_t v) { return v; });
                if (!fullBand) {
                    ASSERT_FALSE(top) << "lines 522 and up are never decoded";
                }
                topBandSeen |= top;
            }
        }
    }
    EXPECT_TRUE(topBandSeen) << "the vector has content in its last band";
}

} // namespace
} // namespace pelbrisk
