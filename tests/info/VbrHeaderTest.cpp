#include "info/VbrHeader.h"

#include "info/FrameHeader.h"
#include "info/StreamProbe.h"
#include "stream/Errors.h"
#include "stream/Stream.h"
#include "tests/info/TagBytes.h"
#include "tests/support/Media.h"

#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

using test::Append;
using test::Bytes;

TMP3FrameHeader HeaderOf(std::array<uint8_t, 4> bytes) {
    TMP3FrameHeader header;
    DecodeFrameHeader(bytes.data(), 4, header);
    return header;
}

TEST(VbrHeaderOffset, BehindHeaderAndSideInformation) {
    EXPECT_EQ(VbrHeaderOffset(HeaderOf({0xFF, 0xFB, 0x90, 0x44})), 36); // MPEG-1 joint stereo
    EXPECT_EQ(VbrHeaderOffset(HeaderOf({0xFF, 0xFB, 0x90, 0xC4})), 21); // MPEG-1 mono
    EXPECT_EQ(VbrHeaderOffset(HeaderOf({0xFF, 0xF3, 0x90, 0x04})), 21); // MPEG-2 stereo
    EXPECT_EQ(VbrHeaderOffset(HeaderOf({0xFF, 0xF3, 0x90, 0xC4})), 13); // MPEG-2 mono
}

// A stream that starts with a first frame of `frameHeader` carrying `payload` at `offset`,
// followed by ordinary frames; the check runs with the reader's head on the first frame.
struct FirstFrame {
    FirstFrame(std::array<uint8_t, 4> frameHeader, int32_t offset, const Bytes& payload,
               int followingFrames = 3)
        : reader(65536) {
        Bytes bytes(frameHeader.begin(), frameHeader.end());
        TMP3FrameHeader header;
        const int32_t length = DecodeFrameHeader(bytes.data(), 4, header);
        const int32_t full = length + header.Padding;
        bytes.resize(size_t(offset), 0);
        Append(bytes, payload);
        bytes.resize(size_t(full), 0);
        Append(bytes, test::Mpeg1Frames(followingFrames));
        stream = std::make_unique<TMPMemoryStream>(bytes);
        reader.Attach(stream.get(), true);
        values.Header = header;
        values.FrameLength = full;
        values.BytesPerFrame = 4608;
        values.Bitrate = 128000;
        values.DataStart = 0;
        values.DataLength = int32_t(bytes.size());
        reader.Require(full);
    }
    std::unique_ptr<TMPMemoryStream> stream;
    TMPStreamReader reader;
    TMP3StreamValues values;
};

Bytes Xing(uint32_t flags, uint32_t frames, uint32_t bytes) {
    Bytes header;
    Append(header, std::string("Xing"));
    test::AppendBigEndian(header, flags);
    if (flags & 1) test::AppendBigEndian(header, frames);
    if (flags & 2) test::AppendBigEndian(header, bytes);
    return header;
}

TEST(CheckVbrHeader, XingCountsTimeTheStreamAndTheFrameIsSkipped) {
    FirstFrame first({0xFF, 0xFB, 0x90, 0x44}, 36, Xing(3, 1000, 4000000));
    const TMP3VbrHeader found = CheckVbrHeader(first.reader, first.values);
    EXPECT_EQ(found.Kind, TMP3VbrHeaderKind::Xing);
    EXPECT_EQ(found.Frames, 1000);
    EXPECT_EQ(found.Bytes, 4000000);
    EXPECT_EQ(first.values.Bitrate, 0);
    EXPECT_EQ(first.values.TotalBytes, 4603392);
    // A byte count beyond the stream's end leaves the audio data as long as it really is.
    EXPECT_EQ(first.values.DataLength, first.stream->Size() - 417);
    EXPECT_EQ(first.values.DataStart, 417);
    EXPECT_EQ(first.values.FrameLength, 0);
    EXPECT_EQ(first.reader.Position(), 417);
    EXPECT_EQ(StreamDuration(44100, 2, first.values.TotalBytes, first.values.Bitrate,
                             first.values.DataLength),
              26096);
}

TEST(CheckVbrHeader, AbsentOrZeroCountsLeaveTheirValues) {
    // Flags 0: only the bit rate goes, and the duration becomes unknown.
    FirstFrame none({0xFF, 0xFB, 0x90, 0x44}, 36, Xing(0, 0, 0));
    const int32_t length = none.values.DataLength;
    CheckVbrHeader(none.reader, none.values);
    EXPECT_EQ(none.values.Bitrate, 0);
    EXPECT_EQ(none.values.TotalBytes, 0);
    EXPECT_EQ(none.values.DataLength, length - 417);
    EXPECT_EQ(StreamDuration(44100, 2, none.values.TotalBytes, none.values.Bitrate,
                             none.values.DataLength),
              0);

    // A frame count of 1 is the information frame alone.
    FirstFrame one({0xFF, 0xFB, 0x90, 0x44}, 36, Xing(1, 1, 0));
    CheckVbrHeader(one.reader, one.values);
    EXPECT_EQ(one.values.TotalBytes, 0);

    // Only the byte count, read where the frame count would otherwise be.
    FirstFrame bytesOnly({0xFF, 0xFB, 0x90, 0x44}, 36, Xing(2, 0, 1000));
    CheckVbrHeader(bytesOnly.reader, bytesOnly.values);
    EXPECT_EQ(bytesOnly.values.DataLength, 1000 - 417);
    EXPECT_EQ(bytesOnly.values.TotalBytes, 0);

    // Counts with the top bit set read as negative and are ignored.
    FirstFrame negative({0xFF, 0xFB, 0x90, 0x44}, 36, Xing(3, 0x80000000u, 0xFFFFFFFFu));
    CheckVbrHeader(negative.reader, negative.values);
    EXPECT_EQ(negative.values.TotalBytes, 0);
    EXPECT_EQ(negative.values.DataLength, negative.stream->Size() - 417);
}

// Fraunhofer's encoder writes VBRI 32 bytes behind the frame header in every channel mode.
TEST(CheckVbrHeader, VbriIs32BytesBehindTheFrameHeaderInEveryMode) {
    Bytes vbri;
    Append(vbri, std::string("VBRI"));
    vbri.resize(10, 0);
    test::AppendBigEndian(vbri, 1000); // bytes
    test::AppendBigEndian(vbri, 200);  // frames
    FirstFrame mono({0xFF, 0xFB, 0x90, 0xC4}, 36, vbri);
    const TMP3VbrHeader found = CheckVbrHeader(mono.reader, mono.values);
    EXPECT_EQ(found.Kind, TMP3VbrHeaderKind::Vbri);
    EXPECT_EQ(found.Offset, 36);
    EXPECT_EQ(mono.values.TotalBytes, 199 * 4608);
    EXPECT_EQ(mono.values.DataLength, 1000 - 417);

    // Where the side information of a mono frame would put a Xing header it is not seen.
    FirstFrame misplaced({0xFF, 0xFB, 0x90, 0xC4}, 21, vbri);
    EXPECT_EQ(CheckVbrHeader(misplaced.reader, misplaced.values).Kind, TMP3VbrHeaderKind::None);
}

// lame writes its header at the offset of an unprotected frame in CRC-protected frames too.
TEST(CheckVbrHeader, CrcProtectedFramesHoldTheHeaderWithOrWithoutTheCrcsBytes) {
    for (const int32_t offset : {36, 38}) {
        FirstFrame crc({0xFF, 0xFA, 0x90, 0x44}, offset, Xing(1, 5, 0));
        const TMP3VbrHeader found = CheckVbrHeader(crc.reader, crc.values);
        EXPECT_EQ(found.Kind, TMP3VbrHeaderKind::Xing) << offset;
        EXPECT_EQ(found.Offset, offset);
        EXPECT_EQ(crc.values.DataStart, 417);
    }
}

TEST(CheckVbrHeader, AnOrdinaryFirstFrameStaysToBePlayed) {
    FirstFrame audio({0xFF, 0xFB, 0x90, 0x44}, 36, Bytes{'X', 'i', 'n', 'x'});
    const TMP3StreamValues before = audio.values;
    EXPECT_EQ(CheckVbrHeader(audio.reader, audio.values).Kind, TMP3VbrHeaderKind::None);
    EXPECT_EQ(audio.values.Bitrate, before.Bitrate);
    EXPECT_EQ(audio.values.DataStart, before.DataStart);
    EXPECT_EQ(audio.values.DataLength, before.DataLength);
    EXPECT_EQ(audio.values.FrameLength, before.FrameLength);
    EXPECT_EQ(audio.reader.Position(), 0);
}

TEST(CheckVbrHeader, AnInformationFrameCutByTheStreamsEndFailsTheOpen) {
    Bytes bytes{0xFF, 0xFB, 0x90, 0x44};
    bytes.resize(36, 0);
    Append(bytes, Xing(1, 10, 0));
    TMPMemoryStream stream(bytes);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    TMP3StreamValues values;
    values.Header = HeaderOf({0xFF, 0xFB, 0x90, 0x44});
    values.FrameLength = 417;
    values.BytesPerFrame = 4608;
    try {
        CheckVbrHeader(reader, values);
        FAIL() << "no error raised";
    } catch (const EMP3Error& error) {
        EXPECT_STREQ(error.what(), "unknown MPEG Audio format.");
    }
}

TEST(CheckVbrHeader, FieldsBeyondATinyFrameAreNotRead) {
    // MPEG-2 Layer III at 8 kbit/s and 24 kHz: 24 bytes, shorter than a header at offset 21.
    Bytes bytes{0xFF, 0xF3, 0x14, 0x04};
    bytes.resize(21, 0);
    Append(bytes, Xing(3, 50, 9000));
    TMPMemoryStream stream(bytes);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    TMP3StreamValues values;
    values.Header = HeaderOf({0xFF, 0xF3, 0x14, 0x04});
    values.FrameLength = DecodeFrameHeader(bytes.data(), 4, values.Header);
    ASSERT_EQ(values.FrameLength, 24);
    EXPECT_EQ(CheckVbrHeader(reader, values).Kind, TMP3VbrHeaderKind::None);
    EXPECT_EQ(reader.Position(), 0);
}

TEST(StreamDuration, FrameCountFirstThenBitRateThenUnknown) {
    EXPECT_EQ(StreamDuration(44100, 2, 0, 128000, 1000000), 62500);
    EXPECT_EQ(StreamDuration(0, 2, 4603392, 128000, 1000000), 62500);
    EXPECT_EQ(StreamDuration(44100, 2, 0, 128000, INT32_MAX), 0);
    EXPECT_EQ(StreamDuration(44100, 2, 0, 0, 1000000), 0);
    EXPECT_EQ(StreamDuration(22050, 1, 22050 * 2 * 10, 0, INT32_MAX), 10000);
    // Long streams: 64-bit products, and a result beyond 32 bits is held at the largest.
    EXPECT_EQ(StreamDuration(8000, 1, int64_t(1) << 40, 0, 0), INT32_MAX);
    EXPECT_EQ(StreamDuration(44100, 2, 0, 8000, 2000000000), 2000000000);
}

TEST(DescribeFrame, VersionLayerRateChannelsAndPcmBytes) {
    struct Case {
        std::array<uint8_t, 4> bytes;
        int32_t version, layer, rate, channels, bytesPerFrame;
    };
    for (const Case& c : {Case{{0xFF, 0xFB, 0x90, 0x44}, 1, 3, 44100, 2, 4608},
                          Case{{0xFF, 0xFD, 0x94, 0xC0}, 1, 2, 48000, 1, 2304},
                          Case{{0xFF, 0xFF, 0x98, 0x00}, 1, 1, 32000, 2, 1536},
                          Case{{0xFF, 0xF3, 0x90, 0xC4}, 2, 3, 22050, 1, 1152},
                          Case{{0xFF, 0xE3, 0x98, 0x04}, 3, 3, 8000, 2, 2304}}) {
        const TMP3FrameFormat format = DescribeFrame(HeaderOf(c.bytes));
        EXPECT_EQ(format.MpegVersion, c.version);
        EXPECT_EQ(format.LayerNumber, c.layer);
        EXPECT_EQ(format.SampleRate, c.rate);
        EXPECT_EQ(format.Channels, c.channels);
        EXPECT_EQ(format.BytesPerFrame, c.bytesPerFrame);
    }
}

} // namespace
} // namespace pelbrisk
