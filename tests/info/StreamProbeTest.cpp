#include "info/StreamProbe.h"

#include "stream/Stream.h"
#include "tests/info/TagBytes.h"

#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

using test::Append;
using test::Bytes;

TEST(CheckFrame, SameVersionLayerAndRateOnlyWithTheirPaddingSlot) {
    const uint8_t reference[4] = {0xFF, 0xFB, 0x90, 0x64};
    TMP3FrameHeader header;
    struct Case {
        std::array<uint8_t, 4> bytes;
        int32_t length;
    };
    for (const Case& c : {
             Case{{0xFF, 0xFB, 0x90, 0x64}, 417},
             Case{{0xFF, 0xFB, 0x92, 0x64}, 418}, // padding slot added
             Case{{0xFF, 0xFA, 0xA1, 0xC4}, 522}, // CRC, 160 kbit/s, private bit, mono: all free
             Case{{0xFF, 0xFB, 0x94, 0x64}, 0},   // 48 kHz
             Case{{0xFF, 0xFD, 0x90, 0x64}, 0},   // Layer II
             Case{{0xFF, 0xF3, 0x90, 0x64}, 0},   // MPEG-2
             Case{{0xFF, 0xFB, 0xF0, 0x64}, 0},   // forbidden bit rate
             Case{{0xFF, 0xF9, 0x90, 0x64}, 0},   // reserved layer
         }) {
        EXPECT_EQ(CheckFrame(c.bytes.data(), reference, header, 0), c.length)
            << std::hex << int(c.bytes[1]) << " " << int(c.bytes[2]) << " " << int(c.bytes[3]);
    }
    // Layer I pads with four bytes.
    const uint8_t layerOne[4] = {0xFF, 0xFF, 0x92, 0x00};
    EXPECT_EQ(CheckFrame(layerOne, layerOne, header, 0), (288 * 240 / 882) * 4 + 4);
}

TEST(CheckFrame, FreeFormatFramesTakeTheLengthFoundAtTheFirstFrame) {
    const uint8_t freeFormat[4] = {0xFF, 0xFB, 0x00, 0x64};
    const uint8_t padded[4] = {0xFF, 0xFB, 0x02, 0x64};
    TMP3FrameHeader header;
    EXPECT_EQ(CheckFrame(freeFormat, freeFormat, header, 0), 0) << "no length known: no frame";
    EXPECT_EQ(CheckFrame(freeFormat, freeFormat, header, 1000), 1000);
    EXPECT_EQ(CheckFrame(padded, freeFormat, header, 1000), 1001);
    // A coded bit rate is measured from the header, whatever the stream's free-format length.
    const uint8_t coded[4] = {0xFF, 0xFB, 0x90, 0x64};
    EXPECT_EQ(CheckFrame(coded, freeFormat, header, 1000), 417);
}

struct Probed {
    explicit Probed(Bytes bytes, bool seekable = true, bool walk = true)
        : stream(std::move(bytes)), reader(65536) {
        reader.Attach(&stream, seekable);
        valid = ProbeStream(reader, info, probe, walk);
    }
    TMPMemoryStream stream;
    TMPStreamReader reader;
    TMP3Info info;
    TMP3StreamProbe probe;
    bool valid = false;
};

TEST(ProbeStream, JunkBeforeTheFirstFrameMovesTheAudioStart) {
    Bytes file = test::Id3v2Tag(test::Latin1TextFrame("TIT2", "T"));
    const int32_t tagBytes = int32_t(file.size());
    file.resize(file.size() + 300, 0x00);
    Append(file, test::Mpeg1Frames(5));
    Append(file, test::Id3v1Tag("V1", "", "", 0));
    Probed probed(file);
    ASSERT_TRUE(probed.valid);
    EXPECT_EQ(probed.probe.FirstFrameOffset, tagBytes + 300);
    EXPECT_EQ(probed.probe.Values.DataStart, tagBytes + 300);
    EXPECT_EQ(probed.probe.Values.DataLength, 5 * 417 + 128);
    EXPECT_EQ(probed.probe.FirstFrameLength, 417);
    EXPECT_EQ(probed.probe.FirstFrameBitrate, 128000);
    EXPECT_EQ(probed.probe.WalkedFrames, 5);
    EXPECT_EQ(probed.probe.Duration, (5 * 417 + 128) * 8 / 128);
    EXPECT_EQ(probed.probe.Format.BytesPerFrame, 4608);
}

TEST(ProbeStream, InformationFrameIsTakenOutOfTheAudio) {
    Bytes file{0xFF, 0xFB, 0x90, 0x64};
    file.resize(36, 0);
    Append(file, std::string("Xing"));
    test::AppendBigEndian(file, 1);
    test::AppendBigEndian(file, 9);
    file.resize(417, 0);
    Append(file, test::Mpeg1Frames(8));
    Probed probed(file);
    ASSERT_TRUE(probed.valid);
    EXPECT_EQ(probed.probe.VbrHeader.Kind, TMP3VbrHeaderKind::Xing);
    EXPECT_EQ(probed.probe.FirstFrameOffset, 0);
    EXPECT_EQ(probed.probe.Values.DataStart, 417);
    EXPECT_EQ(probed.probe.Values.Bitrate, 0);
    EXPECT_EQ(probed.probe.FirstFrameBitrate, 128000);
    EXPECT_EQ(probed.probe.WalkedFrames, 8);
    EXPECT_EQ(probed.probe.Duration, 8 * 1152 * 1000 / 44100);
}

TEST(ProbeStream, WalkingStopsAtAFrameOfAnotherStreamAfterResyncing) {
    Bytes file = test::Mpeg1Frames(3);
    file.resize(file.size() + 50, 0x00); // damage the walk resyncs over
    Append(file, test::Mpeg1Frames(2));
    Append(file, Bytes{0xFF, 0xFB, 0x94, 0x64}); // 48 kHz: never accepted
    file.resize(file.size() + 400, 0x00);
    Probed probed(file);
    ASSERT_TRUE(probed.valid);
    EXPECT_EQ(probed.probe.WalkedFrames, 5);

    // A truncated last frame does not count.
    Bytes cut = test::Mpeg1Frames(4);
    cut.resize(cut.size() - 10);
    EXPECT_EQ(Probed(cut).probe.WalkedFrames, 3);
}

TEST(ProbeStream, StreamsThatCannotSeekHaveNoLength) {
    Bytes file = test::Mpeg1Frames(4);
    Append(file, test::Id3v1Tag("Tail", "", "", 0));
    Probed probed(file, false);
    ASSERT_TRUE(probed.valid);
    EXPECT_EQ(probed.info.FoundTypes(), 0);
    EXPECT_EQ(probed.probe.Values.DataLength, INT32_MAX);
    EXPECT_EQ(probed.probe.Duration, 0);
    EXPECT_EQ(probed.probe.WalkedFrames, 4);
}

TEST(ProbeStream, NotMpegAudio) {
    EXPECT_FALSE(Probed(Bytes(5000, 0)).valid);
    EXPECT_FALSE(Probed(Bytes()).valid);
    // The search looks 4096 bytes past the head tags, whatever their size.
    Bytes late = test::Id3v2Tag(Bytes(9000, 0));
    late.resize(late.size() + 4000, 0);
    Append(late, test::Mpeg1Frames(3));
    EXPECT_TRUE(Probed(late).valid);
    Bytes tooLate(5000, 0);
    Append(tooLate, test::Mpeg1Frames(3));
    EXPECT_FALSE(Probed(tooLate).valid);
}

} // namespace
} // namespace pelbrisk
