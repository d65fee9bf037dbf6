#include "decoder/DecoderState.h"
#include "info/FrameHeader.h"
#include "tests/decoder/DecoderTestSupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace pelbrisk {
namespace {

// One channel of a hand-built granule: `quads` count1 quadruples of 1 (table B) from line
// `firstLine` on, behind zero big values, preceded by `scaleFactors` scale factors of
// `scaleFactorBits` bits each holding `position`, which `compress` must make the decoder read.
struct TChannelCode {
    int FirstLine = 0;
    int Quads = 0;
    int BlockType = 0;
    bool Mixed = false;
    int Compress = 0;
    int ScaleFactors = 0;
    int ScaleFactorBits = 0;
    int Position = 0;
};

// A joint-stereo frame: MPEG-1 at 44.1 kHz (two granules) or MPEG-2 at 22.05 kHz (one).
std::vector<uint8_t> JointStereoFrame(bool lsf, int modeExtension, const TChannelCode& left,
                                      const TChannelCode& right) {
    const int frameBytes = lsf ? 208 : 417;
    const int granules = lsf ? 1 : 2;
    test::TBitWriter w;
    w.Put(0xFFF, 12);
    w.Put(lsf ? 0 : 1, 1);
    w.Put(1, 2);           // Layer III
    w.Put(1, 1);           // no CRC
    w.Put(lsf ? 8 : 9, 4); // 64 or 128 kbit/s
    w.Put(0, 2);           // 22.05 or 44.1 kHz
    w.Put(0, 2);           // no padding, private bit
    w.Put(1, 2);           // joint stereo
    w.Put(static_cast<uint32_t>(modeExtension), 2);
    w.Put(0, 4);
    w.Put(0, lsf ? 8 : 9);     // main_data_begin
    w.Put(0, lsf ? 2 : 3 + 8); // private bits (and scfsi)
    for (int g = 0; g < granules; ++g) {
        for (const TChannelCode* c : {&left, &right}) {
            w.Put(static_cast<uint32_t>(c->ScaleFactors * c->ScaleFactorBits + 8 * c->Quads), 12);
            w.Put(static_cast<uint32_t>(c->FirstLine / 2), 9);
            w.Put(190, 8);
            w.Put(static_cast<uint32_t>(c->Compress), lsf ? 9 : 4);
            if (c->BlockType != 0) {
                w.Put(1, 1); // window switching
                w.Put(static_cast<uint32_t>(c->BlockType), 2);
                w.Put(c->Mixed ? 1 : 0, 1);
                w.Put(0, 10 + 9); // tables 0, no subblock gain
            } else {
                w.Put(0, 1);     // no window switching
                w.Put(0, 15);    // table 0 everywhere
                w.Put(0, 4 + 3); // region counts
            }
            if (!lsf) w.Put(0, 1); // preflag
            w.Put(0, 1);           // scalefac_scale
            w.Put(1, 1);           // count1 table B
        }
    }
    for (int g = 0; g < granules; ++g) {
        for (const TChannelCode* c : {&left, &right}) {
            for (int band = 0; band < c->ScaleFactors; ++band)
                w.Put(static_cast<uint32_t>(c->Position), c->ScaleFactorBits);
            for (int q = 0; q < c->Quads; ++q)
                w.Put(0x00, 8); // code 0000: v w x y all 1, four positive signs
        }
    }
    std::vector<uint8_t> frame = w.Bytes();
    frame.resize(static_cast<size_t>(frameBytes), 0);
    return frame;
}

// A joint-stereo frame whose left channel holds sixteen values of 1 from a line clear of band 0
// on and whose right channel holds only scale factors: `rightScaleFactorBits` bits of value
// `position` for each of `rightBands` bands, with `rightCompress` as its scalefac_compress.
std::vector<uint8_t> IntensityFrame(bool lsf, int modeExtension, int rightCompress, int rightBands,
                                    int rightScaleFactorBits, int position,
                                    bool shortBlocks = false) {
    // Short blocks start the values in short band 1 in every window.
    const int firstLine = shortBlocks ? 12 : lsf ? 6 : 4;
    const int blockType = shortBlocks ? 2 : 0;
    return JointStereoFrame(lsf, modeExtension,
                            {.FirstLine = firstLine, .Quads = 4, .BlockType = blockType},
                            {.BlockType = blockType,
                             .Compress = rightCompress,
                             .ScaleFactors = rightBands,
                             .ScaleFactorBits = rightScaleFactorBits,
                             .Position = position});
}

struct TStereo {
    std::vector<double> Left;
    std::vector<double> Right;
};

TStereo DecodeFrames(const std::vector<uint8_t>& frame) {
    auto decoder = std::make_unique<TMP3Decoder>();
    TMP3FrameHeader header;
    DecodeFrameHeader(frame.data(), static_cast<uint32_t>(frame.size()), header);
    EXPECT_EQ(decoder->Open(header, static_cast<int32_t>(frame.size()), 0, 0, 0, 24000), 1);
    TStereo result;
    std::vector<int16_t> pcm(2304);
    for (int i = 0; i < 4; ++i) {
        const TDecodeResult decoded =
            decoder->Decode(frame.data(), static_cast<int32_t>(frame.size()),
                            reinterpret_cast<uint8_t*>(pcm.data()));
        EXPECT_EQ(decoded.Consumed, static_cast<int32_t>(frame.size()));
        for (int s = 0; s + 1 < decoded.OutputBytes / 2; s += 2) {
            result.Left.push_back(pcm[s]);
            result.Right.push_back(pcm[s + 1]);
        }
    }
    return result;
}

// Every sample of `actual` is `factor` times `reference` within the rounding of both.
void ExpectScaled(const std::vector<double>& actual, const std::vector<double>& reference,
                  double factor, const char* what) {
    ASSERT_EQ(actual.size(), reference.size());
    for (size_t i = 0; i < actual.size(); ++i)
        ASSERT_NEAR(actual[i], factor * reference[i], 1.0 + factor) << what << " sample " << i;
}

double Energy(const std::vector<double>& samples) {
    double energy = 0;
    for (double s : samples)
        energy += s * s;
    return energy;
}

TEST(Layer3Intensity, Mpeg1PositionsSplitTheLeftSignalBetweenTheChannels) {
    // scalefac_compress 4: three bits for each of bands 0..10.
    const TStereo plain = DecodeFrames(IntensityFrame(false, 0, 4, 11, 3, 0));
    ASSERT_GT(Energy(plain.Left), 1e6) << "the left signal is audible";
    EXPECT_EQ(Energy(plain.Right), 0.0);

    // tan(p pi / 12): position 0 puts everything right, 6 everything left, 3 halves.
    const TStereo right = DecodeFrames(IntensityFrame(false, 1, 4, 11, 3, 0));
    ExpectScaled(right.Left, plain.Left, 0.0, "left at position 0");
    ExpectScaled(right.Right, plain.Left, 1.0, "right at position 0");
    const TStereo left = DecodeFrames(IntensityFrame(false, 1, 4, 11, 3, 6));
    ExpectScaled(left.Left, plain.Left, 1.0, "left at position 6");
    ExpectScaled(left.Right, plain.Left, 0.0, "right at position 6");
    const TStereo middle = DecodeFrames(IntensityFrame(false, 1, 4, 11, 3, 3));
    ExpectScaled(middle.Left, plain.Left, 0.5, "left at position 3");
    ExpectScaled(middle.Right, plain.Left, 0.5, "right at position 3");
    const double tan2 = std::tan(2 * std::acos(-1.0) / 12);
    const TStereo two = DecodeFrames(IntensityFrame(false, 1, 4, 11, 3, 2));
    ExpectScaled(two.Left, plain.Left, tan2 / (1 + tan2), "left at position 2");
    ExpectScaled(two.Right, plain.Left, 1 / (1 + tan2), "right at position 2");

    // The illegal position 7 leaves the channels as coded: the right one silent, or with M/S
    // on, equal to the left one (which M/S scaled by 1/sqrt 2).
    const TStereo illegal = DecodeFrames(IntensityFrame(false, 1, 4, 11, 3, 7));
    ExpectScaled(illegal.Left, plain.Left, 1.0, "left at position 7");
    ExpectScaled(illegal.Right, plain.Left, 0.0, "right at position 7");
    const TStereo midSide = DecodeFrames(IntensityFrame(false, 3, 4, 11, 3, 7));
    ExpectScaled(midSide.Left, plain.Left, std::sqrt(0.5), "left with M/S at position 7");
    ExpectScaled(midSide.Right, plain.Left, std::sqrt(0.5), "right with M/S at position 7");
}

TEST(Layer3Intensity, ShortBlocksTakeEachWindowsPosition) {
    // MPEG-1: scalefac_compress 4, three bits for the three windows of short bands 0..5.
    const TStereo plain = DecodeFrames(IntensityFrame(false, 0, 4, 18, 3, 0, true));
    ASSERT_GT(Energy(plain.Left), 1e6) << "the left signal is audible";
    const TStereo right = DecodeFrames(IntensityFrame(false, 1, 4, 18, 3, 0, true));
    ExpectScaled(right.Left, plain.Left, 0.0, "left at position 0");
    ExpectScaled(right.Right, plain.Left, 1.0, "right at position 0");
    const TStereo middle = DecodeFrames(IntensityFrame(false, 1, 4, 18, 3, 3, true));
    ExpectScaled(middle.Left, plain.Left, 0.5, "left at position 3");
    ExpectScaled(middle.Right, plain.Left, 0.5, "right at position 3");

    // Low sampling frequency: intensity row 3 short, slen 2 for short bands 0..3.
    const TStereo lsfPlain = DecodeFrames(IntensityFrame(true, 0, 144, 12, 2, 0, true));
    ASSERT_GT(Energy(lsfPlain.Left), 1e6) << "the left signal is audible";
    const double io = std::pow(2.0, -0.25);
    const TStereo odd = DecodeFrames(IntensityFrame(true, 1, 144, 12, 2, 1, true));
    ExpectScaled(odd.Left, lsfPlain.Left, io, "left at position 1");
    ExpectScaled(odd.Right, lsfPlain.Left, 1.0, "right at position 1");
    const TStereo illegal = DecodeFrames(IntensityFrame(true, 1, 144, 12, 2, 3, true));
    ExpectScaled(illegal.Left, lsfPlain.Left, 1.0, "left at position 3");
    ExpectScaled(illegal.Right, lsfPlain.Left, 0.0, "right at position 3");
}

TEST(Layer3Intensity, LowSamplingFrequencyPositionsUseTheIntensityScale) {
    // scalefac_compress 144: intensity row 3 with slen (2, 0, 0), the first partition being
    // bands 0..6; intensity scale 0, so io = 2^-1/4. Compress 145 has scale 1: io = 2^-1/2.
    const TStereo plain = DecodeFrames(IntensityFrame(true, 0, 144, 7, 2, 0));
    ASSERT_GT(Energy(plain.Left), 1e6) << "the left signal is audible";
    EXPECT_EQ(Energy(plain.Right), 0.0);
    const double io = std::pow(2.0, -0.25);
    const TStereo zero = DecodeFrames(IntensityFrame(true, 1, 144, 7, 2, 0));
    ExpectScaled(zero.Left, plain.Left, 1.0, "left at position 0");
    ExpectScaled(zero.Right, plain.Left, 1.0, "right at position 0");
    const TStereo odd = DecodeFrames(IntensityFrame(true, 1, 144, 7, 2, 1));
    ExpectScaled(odd.Left, plain.Left, io, "left at position 1");
    ExpectScaled(odd.Right, plain.Left, 1.0, "right at position 1");
    const TStereo even = DecodeFrames(IntensityFrame(true, 1, 144, 7, 2, 2));
    ExpectScaled(even.Left, plain.Left, 1.0, "left at position 2");
    ExpectScaled(even.Right, plain.Left, io, "right at position 2");
    const TStereo illegal = DecodeFrames(IntensityFrame(true, 1, 144, 7, 2, 3));
    ExpectScaled(illegal.Left, plain.Left, 1.0, "left at position 3");
    ExpectScaled(illegal.Right, plain.Left, 0.0, "right at position 3");
    const TStereo scaleOne = DecodeFrames(IntensityFrame(true, 1, 145, 7, 2, 2));
    ExpectScaled(scaleOne.Right, plain.Left, std::sqrt(0.5), "right at position 2, scale 1");
}

// Intensity and middle/side stereo together in MPEG-2 frames (13818-3): a position gives the
// left signal to both channels by its ratio, unscaled by M/S; the largest value a band's bits can
// hold is no position, and the band is decoded as M/S, with its side silent. mpg123 and ffmpeg
// take that value as a position; libmad, like the conformance stream l3-test45 without M/S,
// does not.
TEST(Layer3Intensity, LowSamplingFrequencyWithMidSideKeepsTheIllegalPosition) {
    const TStereo plain = DecodeFrames(IntensityFrame(true, 0, 144, 7, 2, 0));
    ASSERT_GT(Energy(plain.Left), 1e6) << "the left signal is audible";
    const double io = std::pow(2.0, -0.25);
    struct Case {
        int Position;
        double Left;
        double Right;
    };
    for (const Case& c : {Case{0, 1.0, 1.0}, Case{1, io, 1.0}, Case{2, 1.0, io},
                          Case{3, std::sqrt(0.5), std::sqrt(0.5)}}) {
        SCOPED_TRACE(c.Position);
        const TStereo joint = DecodeFrames(IntensityFrame(true, 3, 144, 7, 2, c.Position));
        ExpectScaled(joint.Left, plain.Left, c.Left, "left");
        ExpectScaled(joint.Right, plain.Left, c.Right, "right");
    }
}

// An output channel as a sum of the plain frame's (mode extension 0) two channels.
struct TMix {
    double FromLeft;
    double FromRight;
};

struct TRegionCase {
    const char* Name;
    int ModeExtension;
    TChannelCode Left;
    TChannelCode Right;
    TMix LeftOut;
    TMix RightOut;
};

// MPEG-1 scalefac_compress 4 reads three bits for long bands 0..10, short bands 0..5 and, in a
// mixed block, long bands 0..7 and short bands 3..5; 13 reads three bits for every band.
const TChannelCode EmptyRight{.Compress = 4, .ScaleFactors = 11, .ScaleFactorBits = 3};
const TChannelCode HalvingRight{
    .Compress = 13, .ScaleFactors = 21, .ScaleFactorBits = 3, .Position = 3};
// Mixed blocks: the left values in short bands 3 and 4, the right one in long band 6.
const TChannelCode MixedLeft{.FirstLine = 36, .Quads = 4, .BlockType = 2, .Mixed = true};
const TChannelCode MixedRight{.FirstLine = 24,
                              .Quads = 1,
                              .BlockType = 2,
                              .Mixed = true,
                              .Compress = 4,
                              .ScaleFactors = 17,
                              .ScaleFactorBits = 3};
const double Half = std::sqrt(0.5);

// Position 0 puts everything right, 3 halves.
const TRegionCase RegionCases[] = {
    // An empty right channel puts every band, band 0 included, in the intensity region.
    {"empty right channel", 1, {.FirstLine = 0, .Quads = 4}, EmptyRight, {0, 0}, {1, 0}},
    // Band 21 carries no position: it takes band 20's.
    {"top long band", 1, {.FirstLine = 420, .Quads = 4}, HalvingRight, {0.5, 0}, {0.5, 0}},
    // A mixed block whose right values end in its long part: the region starts at short band 3
    // and M/S covers the long part only.
    {"mixed block, short part unreached", 1, MixedLeft, MixedRight, {0, 0}, {1, 1}},
    {"mixed block, short part unreached, M/S", 3, MixedLeft, MixedRight, {0, Half}, {1, -Half}},
};

TEST(Layer3Intensity, RegionStartsPastTheRightChannelsValuesAndReachesTheTopBand) {
    for (const TRegionCase& c : RegionCases) {
        SCOPED_TRACE(c.Name);
        const TStereo plain = DecodeFrames(JointStereoFrame(false, 0, c.Left, c.Right));
        ASSERT_GT(Energy(plain.Left), 1e6) << "the left signal is audible";
        const TStereo joint =
            DecodeFrames(JointStereoFrame(false, c.ModeExtension, c.Left, c.Right));
        ASSERT_EQ(joint.Left.size(), plain.Left.size());
        double leftError = 0;
        double rightError = 0;
        for (size_t i = 0; i < plain.Left.size(); ++i) {
            const double left =
                c.LeftOut.FromLeft * plain.Left[i] + c.LeftOut.FromRight * plain.Right[i];
            const double right =
                c.RightOut.FromLeft * plain.Left[i] + c.RightOut.FromRight * plain.Right[i];
            leftError = std::max(leftError, std::fabs(joint.Left[i] - left));
            rightError = std::max(rightError, std::fabs(joint.Right[i] - right));
        }
        EXPECT_LE(leftError, 2.0);
        EXPECT_LE(rightError, 2.0);
    }
}

struct TMixedFlagCase {
    int BlockType;
    int FirstLine;
    bool Changes;
};

// The mixed flag gives subbands 0 and 1 the normal window whatever the block type; only a block
// of type 2 has short subbands above them, so a mixed start or stop block is alias-reduced at
// every boundary like any long block. Values in subbands 3 and 4 show the alias reduction, values
// in subband 0 the window.
const TMixedFlagCase MixedFlagCases[] = {
    {1, 60, false}, {3, 60, false}, {1, 4, true}, {3, 4, true}};

TEST(Layer3MixedBlock, FlagOnLongBlockTypesChangesOnlyTheLowestSubbandsWindow) {
    for (const TMixedFlagCase& c : MixedFlagCases) {
        SCOPED_TRACE(testing::Message() << "type " << c.BlockType << ", line " << c.FirstLine);
        TChannelCode left{.FirstLine = c.FirstLine, .Quads = 4, .BlockType = c.BlockType};
        const TStereo plain = DecodeFrames(JointStereoFrame(false, 0, left, {}));
        ASSERT_GT(Energy(plain.Left), 1e6) << "the left signal is audible";
        left.Mixed = true;
        const TStereo mixed = DecodeFrames(JointStereoFrame(false, 0, left, {}));
        EXPECT_EQ(mixed.Left != plain.Left, c.Changes);
    }
}

} // namespace
} // namespace pelbrisk
