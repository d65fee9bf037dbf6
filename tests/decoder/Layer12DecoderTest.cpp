#include "decoder/DecoderState.h"
#include "decoder/Layer12BitReader.h"
#include "decoder/Layer12Tables.h"
#include "info/FrameHeader.h"
#include "tests/decoder/DecoderTestSupport.h"
#include "tests/support/Media.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

namespace pelbrisk::test {
namespace {

constexpr int32_t kPlayerBandwidth = 24000;

struct Frame {
    TMP3FrameHeader Header;
    int32_t Length = 0;
};

Frame ParseHeader(std::array<uint8_t, 4> bytes) {
    Frame frame;
    frame.Length = DecodeFrameHeader(bytes.data(), 0, frame.Header);
    return frame;
}

// MPEG-1, no CRC: byte 1 0xFF Layer I, 0xFD Layer II; byte 2 bit rate, sampling, padding;
// byte 3 mode and mode extension.
std::array<uint8_t, 4> Layer2Header(int bitrateIndex, int samplingIndex, int mode) {
    return {0xFF, 0xFD, static_cast<uint8_t>(bitrateIndex << 4 | samplingIndex << 2),
            static_cast<uint8_t>(mode << 6)};
}

int32_t OpenWith(TMP3Decoder& decoder, std::array<uint8_t, 4> bytes, int32_t shift = 0,
                 int32_t options = 0) {
    const Frame frame = ParseHeader(bytes);
    return decoder.Open(frame.Header, frame.Length, shift, 0, options, kPlayerBandwidth);
}

std::vector<int16_t> Pcm(size_t samples) {
    return std::vector<int16_t>(samples, 0x5555);
}

uint8_t* Bytes(std::vector<int16_t>& pcm) {
    return reinterpret_cast<uint8_t*>(pcm.data());
}

// Bit `position` of `bytes`, most significant first, 0 past the end.
uint32_t BitAt(const std::vector<uint8_t>& bytes, int64_t position) {
    const auto index = static_cast<size_t>(position / 8);
    if (index >= bytes.size()) return 0;
    return (bytes[index] >> (7 - position % 8)) & 1u;
}

TEST(Layer12BitReader, ReadsAndSkipsLikeABitByBitReaderAndZerosPastTheEnd) {
    std::mt19937 random(5);
    for (int size = 0; size < 40; ++size) {
        std::vector<uint8_t> bytes(size);
        for (auto& byte : bytes)
            byte = static_cast<uint8_t>(random());
        // Garbage right behind the held bytes must never show up.
        std::vector<uint8_t> held(bytes);
        held.resize(size + 16, 0xFF);
        TLayer12BitReader reader(held.data(), size);
        int64_t position = 0;
        for (int step = 0; step < 60; ++step) {
            const bool skip = random() % 4 == 0;
            const int n =
                skip ? static_cast<int>(random() % 70) : 1 + static_cast<int>(random() % 32);
            if (skip) {
                reader.SkipBits(n);
            } else {
                uint32_t expected = 0;
                for (int i = 0; i < n; ++i)
                    expected = (expected << 1) | BitAt(bytes, position + i);
                ASSERT_EQ(reader.GetBits(n), expected)
                    << "size " << size << " step " << step << " at bit " << position;
            }
            position += n;
        }
    }
}

TEST(Layer12Setup, RefusesWhatItCannotDecodeAndThenDecodesNothing) {
    auto decoder = std::make_unique<TMP3Decoder>();
    const auto good = Layer2Header(10, 0, 0); // 192 kbit/s stereo, 44.1 kHz
    const Frame goodFrame = ParseHeader(good);
    EXPECT_EQ(OpenWith(*decoder, good, 0, 0x08), 0) << "8-bit output";
    EXPECT_EQ(OpenWith(*decoder, good, 1), 0) << "half rate";
    EXPECT_EQ(OpenWith(*decoder, good, 2), 0) << "quarter rate";
    EXPECT_EQ(OpenWith(*decoder, Layer2Header(1, 1, 0)), 0) << "32 kbit/s stereo";
    EXPECT_EQ(OpenWith(*decoder, Layer2Header(5, 1, 1)), 0) << "80 kbit/s joint stereo";
    EXPECT_EQ(OpenWith(*decoder, Layer2Header(11, 0, 3)), 0) << "224 kbit/s single channel";
    EXPECT_EQ(OpenWith(*decoder, Layer2Header(15, 0, 0)), 0) << "bit-rate index 15";
    EXPECT_EQ(OpenWith(*decoder, Layer2Header(10, 3, 0)), 0) << "reserved sampling index";
    EXPECT_EQ(OpenWith(*decoder, {0xFF, 0xFF, 0xAC, 0x00}), 0) << "Layer I, reserved sampling";
    EXPECT_EQ(OpenWith(*decoder, {0xFF, 0xF9, 0xA0, 0x00}), 0) << "reserved layer";
    EXPECT_EQ(OpenWith(*decoder, {0xFF, 0xE5, 0xA0, 0x00}), 0) << "MPEG-2.5 Layer II";
    EXPECT_EQ(OpenWith(*decoder, {0xFF, 0xE7, 0xA0, 0x00}), 0) << "MPEG-2.5 Layer I";

    // After a refusal even a well-formed frame is not decoded.
    std::vector<uint8_t> frame(goodFrame.Length, 0);
    std::copy(good.begin(), good.end(), frame.begin());
    auto pcm = Pcm(2304);
    const TDecodeResult refused =
        decoder->Decode(frame.data(), static_cast<int32_t>(frame.size()), Bytes(pcm));
    EXPECT_EQ(refused.Consumed, 0);
    EXPECT_EQ(refused.OutputBytes, 0);

    EXPECT_EQ(OpenWith(*decoder, good, -1), 1) << "a negative shift means full rate";
    EXPECT_EQ(
        decoder->Decode(frame.data(), static_cast<int32_t>(frame.size()), Bytes(pcm)).Consumed,
        goodFrame.Length);
}

TEST(Layer12Setup, ChoosesTheAllocationTableOfTheStandard) {
    // (Id, mode, sampling index, bit-rate index) -> table
    EXPECT_EQ(ChooseLayer2Table(1, 0, 1, 7), l2tB2a);   // 112 kbit/s stereo at 48 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 0, 1, 1), l2tNone);  // 32 kbit/s stereo
    EXPECT_EQ(ChooseLayer2Table(1, 0, 0, 0), l2tB2b);   // free format at 44.1 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 3, 1, 0), l2tB2a);   // free format at 48 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 3, 2, 1), l2tB2d);   // 32 kbit/s mono at 32 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 3, 0, 2), l2tB2c);   // 48 kbit/s mono at 44.1 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 3, 2, 3), l2tB2a);   // 56 kbit/s mono
    EXPECT_EQ(ChooseLayer2Table(1, 1, 2, 4), l2tB2d);   // 64 kbit/s joint stereo at 32 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 2, 1, 6), l2tB2c);   // 96 kbit/s dual channel at 48 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 3, 2, 6), l2tB2b);   // 96 kbit/s mono at 32 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 3, 0, 10), l2tB2b);  // 192 kbit/s mono at 44.1 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 0, 1, 14), l2tB2a);  // 384 kbit/s stereo at 48 kHz
    EXPECT_EQ(ChooseLayer2Table(1, 3, 1, 12), l2tNone); // 256 kbit/s mono
    EXPECT_EQ(ChooseLayer2Table(0, 0, 0, 8), l2tLowSamplingFrequency);
}

TEST(Layer12Setup, FillsTheFormatRecord) {
    auto decoder = std::make_unique<TMP3Decoder>();
    // Layer I, 384 kbit/s, 44.1 kHz, joint stereo.
    ASSERT_EQ(OpenWith(*decoder, {0xFF, 0xFF, 0xC0, 0x40}), 1);
    ExpectFormat(*decoder, {.Channels = 2,
                            .SamplesPerFrame = 768,
                            .SampleRate = 44100,
                            .BitsPerSample = 16,
                            .FrameLength = 416,
                            .Reserved = 0});

    // MPEG-2 Layer II, 64 kbit/s, 24 kHz, stereo, mixed to one channel.
    ASSERT_EQ(OpenWith(*decoder, {0xFF, 0xF5, 0x84, 0x00}, 0, 1), 1);
    ExpectFormat(*decoder, {.Channels = 1,
                            .SamplesPerFrame = 1152,
                            .SampleRate = 24000,
                            .BitsPerSample = 16,
                            .FrameLength = 384,
                            .Reserved = 0});
}

TEST(Layer12Frames, PaddingSyncAndTheForbiddenAllocationCode) {
    auto decoder = std::make_unique<TMP3Decoder>();
    // Layer I, 32 kbit/s, 44.1 kHz, single channel: 32 bytes, 36 with the padding slot.
    const std::array<uint8_t, 4> plain = {0xFF, 0xFF, 0x10, 0xC0};
    ASSERT_EQ(OpenWith(*decoder, plain), 1);
    std::vector<uint8_t> frame(36, 0);
    std::copy(plain.begin(), plain.end(), frame.begin());
    auto pcm = Pcm(384);
    TDecodeResult result = decoder->Decode(frame.data(), 36, Bytes(pcm));
    EXPECT_EQ(result.Consumed, 32);
    EXPECT_EQ(result.OutputBytes, 768);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [](int16_t s) { return s == 0; }));

    frame[2] |= 0x02;
    EXPECT_EQ(decoder->Decode(frame.data(), 36, Bytes(pcm)).Consumed, 36);

    // Subband 0 with the forbidden allocation code 15 carries nothing.
    frame[4] = 0xF0;
    pcm = Pcm(384);
    result = decoder->Decode(frame.data(), 36, Bytes(pcm));
    EXPECT_EQ(result.Consumed, 36);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [](int16_t s) { return s == 0; }));

    frame[1] = 0xEF; // the 12th sync bit cleared
    result = decoder->Decode(frame.data(), 36, Bytes(pcm));
    EXPECT_EQ(result.Consumed, 0);
    EXPECT_EQ(result.OutputBytes, 0);
}

const std::vector<uint8_t>& JointStereoLayer2() {
    static const std::vector<uint8_t> bytes =
        ReadFileBytes(EncodeWithTwolame(MakeSignalWav(0.5, 48000, 2), "-b 128 -m j"));
    return bytes;
}

// The whole-frame length of the first frame of `bytes`, which starts with a header.
int32_t FirstFrameLength(const std::vector<uint8_t>& bytes) {
    TMP3FrameHeader header;
    const int32_t length = DecodeFrameHeader(bytes.data(), 0, header);
    return length + header.Padding;
}

TEST(Layer12Frames, BytesPastTheGivenEndReadAsZeros) {
    const std::vector<uint8_t>& stream = JointStereoLayer2();
    const int32_t length = FirstFrameLength(stream);
    for (const int32_t held : {length / 2, 40, 4, 1}) {
        // What lies past `held` is garbage the decoder must not see...
        std::vector<uint8_t> garbageTail(stream.begin(), stream.begin() + length);
        std::fill(garbageTail.begin() + held, garbageTail.end(), 0xA5);
        // ... so it decodes as if zeros followed.
        std::vector<uint8_t> zeroTail = garbageTail;
        std::fill(zeroTail.begin() + held, zeroTail.end(), 0);

        auto cut = std::make_unique<TMP3Decoder>();
        auto zeroed = std::make_unique<TMP3Decoder>();
        const Frame first = ParseHeader({stream[0], stream[1], stream[2], stream[3]});
        ASSERT_EQ(cut->Open(first.Header, first.Length, 0, 0, 0, kPlayerBandwidth), 1);
        ASSERT_EQ(zeroed->Open(first.Header, first.Length, 0, 0, 0, kPlayerBandwidth), 1);
        auto cutPcm = Pcm(2304);
        auto zeroPcm = Pcm(2304);
        const TDecodeResult cutResult = cut->Decode(garbageTail.data(), held, Bytes(cutPcm));
        zeroed->Decode(zeroTail.data(), length, Bytes(zeroPcm));
        if (held < 2) {
            EXPECT_EQ(cutResult.Consumed, 0) << "no sync in " << held << " byte";
            continue;
        }
        EXPECT_EQ(cutResult.Consumed, length);
        EXPECT_EQ(cutPcm, zeroPcm) << held << " bytes held";
    }
}

// Entries past the band limit are read past in one move per granule: what lies below the
// limit comes out exactly as with every subband decoded.
TEST(Layer12Frames, BandLimitSkipsTheUpperSubbandsInStep) {
    const std::vector<uint8_t>& stream = JointStereoLayer2();
    const Frame first = ParseHeader({stream[0], stream[1], stream[2], stream[3]});
    auto limited = std::make_unique<TMP3Decoder>();
    auto full = std::make_unique<TMP3Decoder>();
    full->FullBand = true;
    ASSERT_EQ(limited->Open(first.Header, first.Length, 0, 0, 0, 1000), 1);
    ASSERT_EQ(full->Open(first.Header, first.Length, 0, 0, 0, kPlayerBandwidth), 1);
    EXPECT_EQ(limited->Layer12.DecodeLimit, 2); // one subband of each channel at 48 kHz
    EXPECT_EQ(full->Layer12.DecodeLimit, 2 * 27);

    auto pcm = Pcm(2304);
    int32_t offset = 0;
    int nonZero = 0;
    for (int frame = 0; frame < 8; ++frame) {
        const int32_t length = FirstFrameLength(
            std::vector<uint8_t>(stream.begin() + offset, stream.begin() + offset + 4));
        const auto* bytes = stream.data() + offset;
        const auto held = static_cast<int32_t>(stream.size()) - offset;
        ASSERT_EQ(limited->Decode(bytes, held, Bytes(pcm)).Consumed, length);
        ASSERT_EQ(full->Decode(bytes, held, Bytes(pcm)).Consumed, length);
        for (int row = 0; row < 36; ++row) {
            for (int entry = 0; entry < 64; ++entry) {
                const float got = limited->Layer12.Samples[row][entry];
                if (entry < 2) {
                    ASSERT_EQ(got, full->Layer12.Samples[row][entry]) << frame << "/" << row;
                    nonZero += got != 0.0f;
                } else {
                    ASSERT_EQ(got, 0.0f) << frame << "/" << row << "/" << entry;
                }
            }
        }
        offset += length;
    }
    EXPECT_GT(nonZero, 100);
}

// A frame of two channels in a single-channel stream is laid out for two channels: its twin
// entries pair up whole, and nothing past its own entries keeps what an earlier stream left
// behind.
TEST(Layer12Frames, AFrameOfTwoChannelsInASingleChannelStreamIsLaidOutAnew) {
    auto decoder = std::make_unique<TMP3Decoder>();
    decoder->FullBand = true;
    ASSERT_GT(DecodeWholeStream(*decoder, JointStereoLayer2()).Frames, 5);

    // 128 kbit/s at 48 kHz, single channel: table B.2a, 27 subbands.
    const std::array<uint8_t, 4> mono = {0xFF, 0xFD, 0x84, 0xC0};
    ASSERT_EQ(OpenWith(*decoder, mono), 1);
    const int32_t coded = decoder->Layer12.EntryCount;
    ASSERT_EQ(coded, 27);
    const Frame frame = ParseHeader(mono);
    std::vector<uint8_t> bytes(frame.Length, 0xFF);
    std::copy(mono.begin(), mono.end(), bytes.begin());
    for (const uint8_t modeBits : {uint8_t{0x40}, uint8_t{0x50}, uint8_t{0x60}, uint8_t{0x70}}) {
        bytes[3] = modeBits;
        auto pcm = Pcm(1152);
        EXPECT_EQ(decoder->Decode(bytes.data(), frame.Length, Bytes(pcm)).Consumed, frame.Length);
        const int32_t entries = decoder->Layer12.EntryCount;
        EXPECT_EQ(entries % 2, 0);
        EXPECT_GT(entries, coded);
        for (const auto& row : decoder->Layer12.Samples)
            ASSERT_TRUE(std::all_of(row + entries, row + 64, [](float v) { return v == 0.0f; }))
                << "mode bits " << int{modeBits};
    }
}

TEST(Layer12Frames, SingleChannelStreamsLeaveTheSecondHalfOfEachRowEmpty) {
    const auto bytes =
        ReadFileBytes(EncodeWithTwolame(MakeSignalWav(0.3, 32000, 1), "-b 192 -m m"));
    auto decoder = std::make_unique<TMP3Decoder>();
    decoder->FullBand = true;
    const TDecodedStream decoded = DecodeWholeStream(*decoder, bytes);
    ASSERT_GT(decoded.Frames, 5);
    for (const auto& row : decoder->Layer12.Samples)
        EXPECT_TRUE(std::all_of(row + 32, row + 64, [](float s) { return s == 0.0f; }));
}

} // namespace
} // namespace pelbrisk::test
