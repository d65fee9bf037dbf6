#include "decoder/DecoderState.h"
#include "tests/decoder/DecoderTestSupport.h"
#include "tests/support/Media.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace pelbrisk::test {
namespace {

// Options byte: bits 1..0 choose the channels of a two-channel stream.
constexpr int32_t kBothChannels = 0;
constexpr int32_t kMixedToMono = 1;
constexpr int32_t kLeftOnly = 2;
constexpr int32_t kRightOnly = 3;

const std::vector<uint8_t>& StereoLayer2() {
    static const std::vector<uint8_t> bytes =
        ReadFileBytes(EncodeWithTwolame(MakeSignalWav(1.0, 44100, 2), "-b 192 -m s"));
    return bytes;
}

const std::vector<uint8_t>& LoudMonoLayer2() {
    // Gained up far enough that many samples clip.
    const auto loud = MakeWithTool("sox {in} {out} gain 12", MakeSignalWav(1.0, 48000, 1), ".wav");
    static const std::vector<uint8_t> bytes = ReadFileBytes(EncodeWithTwolame(loud, "-b 192 -m m"));
    return bytes;
}

TDecodedStream Decode(const std::vector<uint8_t>& bytes, int32_t options,
                      void (*prepare)(TMP3Decoder&) = nullptr) {
    auto decoder = std::make_unique<TMP3Decoder>();
    if (prepare != nullptr) prepare(*decoder);
    return DecodeWholeStream(*decoder, bytes, options);
}

TEST(Equalizer, UnitGainsAreBitIdenticalToTheEqualizerOff) {
    const TDecodedStream off = Decode(StereoLayer2(), kBothChannels);
    const TDecodedStream unit = Decode(StereoLayer2(), kBothChannels, [](TMP3Decoder& d) {
        std::fill(std::begin(d.SubbandGain), std::end(d.SubbandGain), 1.0f);
        d.SubbandEqualizerOn = 1;
    });
    ASSERT_FALSE(off.Samples.empty());
    EXPECT_EQ(off.Samples, unit.Samples);
}

TEST(Equalizer, GainsShapeTheOutputOnlyWhileSwitchedOn) {
    const TDecodedStream off = Decode(StereoLayer2(), kBothChannels);
    const TDecodedStream mutedOff = Decode(StereoLayer2(), kBothChannels, [](TMP3Decoder& d) {
        std::fill(std::begin(d.SubbandGain), std::end(d.SubbandGain), 0.0f);
    });
    EXPECT_EQ(off.Samples, mutedOff.Samples);
    const TDecodedStream muted = Decode(StereoLayer2(), kBothChannels, [](TMP3Decoder& d) {
        std::fill(std::begin(d.SubbandGain), std::end(d.SubbandGain), 0.0f);
        d.SubbandEqualizerOn = 1;
    });
    ASSERT_EQ(muted.Samples.size(), off.Samples.size());
    EXPECT_TRUE(
        std::all_of(muted.Samples.begin(), muted.Samples.end(), [](int16_t s) { return s == 0; }));
}

TEST(OutputSelectors, OneChannelOutputsAreWhatTheySay) {
    const TDecodedStream both = Decode(StereoLayer2(), kBothChannels);
    const TDecodedStream left = Decode(StereoLayer2(), kLeftOnly);
    const TDecodedStream right = Decode(StereoLayer2(), kRightOnly);
    const TDecodedStream mixed = Decode(StereoLayer2(), kMixedToMono);
    EXPECT_EQ(both.Format.Channels, 2);
    EXPECT_EQ(both.Format.SamplesPerFrame, 2304);
    for (const TDecodedStream* one : {&left, &right, &mixed}) {
        EXPECT_EQ(one->Format.Channels, 1);
        EXPECT_EQ(one->Format.SamplesPerFrame, 1152);
        ASSERT_EQ(one->Samples.size() * 2, both.Samples.size());
    }
    int leftDiffers = 0;
    for (size_t i = 0; i < left.Samples.size(); ++i) {
        const int l = both.Samples[2 * i];
        const int r = both.Samples[2 * i + 1];
        ASSERT_EQ(left.Samples[i], l) << i;
        ASSERT_EQ(right.Samples[i], r) << i;
        // The synthesis is linear: the mix of the subbands is the mix of the outputs, up to
        // the rounding of each.
        ASSERT_LE(std::abs(2 * mixed.Samples[i] - (l + r)), 3) << i;
        leftDiffers += l != r;
    }
    EXPECT_GT(leftDiffers, static_cast<int>(left.Samples.size()) / 2);
}

TEST(OutputSelectors, MixedToMonoIgnoresTheSubbandEqualizer) {
    const TDecodedStream plain = Decode(StereoLayer2(), kMixedToMono);
    const TDecodedStream muted = Decode(StereoLayer2(), kMixedToMono, [](TMP3Decoder& d) {
        std::fill(std::begin(d.SubbandGain), std::end(d.SubbandGain), 0.0f);
        d.SubbandEqualizerOn = 1;
    });
    EXPECT_EQ(plain.Samples, muted.Samples);
    const TDecodedStream leftMuted = Decode(StereoLayer2(), kLeftOnly, [](TMP3Decoder& d) {
        std::fill(std::begin(d.SubbandGain), std::end(d.SubbandGain), 0.0f);
        d.SubbandEqualizerOn = 1;
    });
    EXPECT_TRUE(std::all_of(leftMuted.Samples.begin(), leftMuted.Samples.end(),
                            [](int16_t s) { return s == 0; }));
}

TEST(Polarity, InvertedIsTheExactNegationOfEveryUnclippedSample) {
    const TDecodedStream normal = Decode(LoudMonoLayer2(), kBothChannels);
    const TDecodedStream inverted =
        Decode(LoudMonoLayer2(), kBothChannels, [](TMP3Decoder& d) { d.SetPolarity(true); });
    ASSERT_EQ(normal.Samples.size(), inverted.Samples.size());
    int clippedHigh = 0;
    int clippedLow = 0;
    for (size_t i = 0; i < normal.Samples.size(); ++i) {
        const int a = normal.Samples[i];
        const int b = inverted.Samples[i];
        if (a == 32767) {
            ++clippedHigh;
            EXPECT_LE(b, -32767) << i;
        } else if (a == -32768) {
            ++clippedLow;
            EXPECT_EQ(b, 32767) << i;
        } else {
            ASSERT_EQ(b, -a) << i;
        }
    }
    // Clipping saturates at both ends rather than wrapping.
    EXPECT_GT(clippedHigh, 0);
    EXPECT_GT(clippedLow, 0);
}

TEST(Polarity, SettingItsCurrentValueChangesNothingAndTwoFlipsRestoreTheWindow) {
    auto decoder = std::make_unique<TMP3Decoder>();
    std::vector<float> original(std::begin(decoder->WindowTable), std::end(decoder->WindowTable));
    decoder->SetPolarity(false);
    EXPECT_FALSE(decoder->GetPolarity());
    EXPECT_TRUE(std::equal(original.begin(), original.end(), decoder->WindowTable));
    decoder->SetPolarity(true);
    EXPECT_TRUE(decoder->GetPolarity());
    EXPECT_EQ(decoder->WindowTable[0], -original[0]);
    EXPECT_EQ(decoder->WindowTable[100], -original[100]);
    decoder->SetPolarity(true);
    EXPECT_EQ(decoder->WindowTable[100], -original[100]);
    decoder->SetPolarity(false);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), decoder->WindowTable));
}

TEST(ProcessDecoder, AccessorsReachTheProcessWideInstance) {
    TMP3Decoder& shared = ProcessDecoder();
    *SubbandGain(5) = 0.25f;
    EXPECT_EQ(shared.SubbandGain[5], 0.25f);
    *LineGain(575) = 2.0f;
    EXPECT_EQ(shared.LineGain[575], 2.0f);
    *SubbandEqualizerOn() = 1;
    *LineEqualizerOn() = 1;
    EXPECT_EQ(shared.SubbandEqualizerOn, 1);
    EXPECT_EQ(shared.LineEqualizerOn, 1);
    SetPolarity(true);
    EXPECT_TRUE(GetPolarity());
    EXPECT_TRUE(shared.GetPolarity());
    SetPolarity(false);
    *SubbandEqualizerOn() = 0;
    *LineEqualizerOn() = 0;
    *SubbandGain(5) = 0.0f;
    *LineGain(575) = 0.0f;
}

} // namespace
} // namespace pelbrisk::test
