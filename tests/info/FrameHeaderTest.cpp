#include "info/FrameHeader.h"

#include "info/FrameTables.h"

#include <array>
#include <gtest/gtest.h>
#include <vector>

namespace pelbrisk {
namespace {

int32_t Decode(std::array<uint8_t, 4> bytes, TMP3FrameHeader& header, uint32_t available = 4) {
    return DecodeFrameHeader(bytes.data(), available, header);
}

int32_t Decode(std::array<uint8_t, 4> bytes) {
    TMP3FrameHeader header;
    return Decode(bytes, header);
}

TEST(FrameHeader, DecodesEveryFieldFromItsBits) {
    TMP3FrameHeader header;
    // 1111 1111 | 1111 1010 | 1001 0111 | 0110 1101
    EXPECT_EQ(Decode({0xFF, 0xFA, 0x97, 0x6D}, header), 384); // 128 kbit/s at 48 kHz
    EXPECT_EQ(header.SyncKind, 1);
    EXPECT_EQ(header.Id, 1);
    EXPECT_EQ(header.Layer, 1);
    EXPECT_EQ(header.ProtectionBit, 0);
    EXPECT_EQ(header.BitrateIndex, 9);
    EXPECT_EQ(header.SamplingIndex, 1);
    EXPECT_EQ(header.Padding, 1);
    EXPECT_EQ(header.PrivateBit, 1);
    EXPECT_EQ(header.Mode, 1);
    EXPECT_EQ(header.ModeExtension, 2);
    EXPECT_EQ(header.RightsFlag, 1);
    EXPECT_EQ(header.NotCopyFlag, 1);
    EXPECT_EQ(header.Emphasis, 1);
}

TEST(FrameHeader, LengthsFollowTheLayerFormulas) {
    // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz.
    TMP3FrameHeader header;
    int32_t bitrate = -1;
    const std::array<uint8_t, 4> common{0xFF, 0xFB, 0x90, 0x64};
    EXPECT_EQ(DecodeFrameHeaderBitrate(common.data(), 4, header, bitrate), 417);
    EXPECT_EQ(bitrate, 128000);
    const std::array<uint8_t, 4> padded{0xFF, 0xFB, 0x92, 0x64};
    EXPECT_EQ(DecodeFrameHeader(padded.data(), 4, header) + header.Padding, 418);

    // MPEG-1 Layer I, 448 kbit/s, 32 kHz: always a multiple of four.
    EXPECT_EQ(Decode({0xFF, 0xFF, 0xE8, 0x00}), 672);
    // MPEG-1 Layer I, 32 kbit/s, 44.1 kHz: 32*240/882 = 8 words.
    EXPECT_EQ(Decode({0xFF, 0xFF, 0x10, 0x00}), 32);
    // MPEG-2 Layer III, 8 kbit/s, 16 kHz and its MPEG-2.5 twin at 8 kHz.
    EXPECT_EQ(Decode({0xFF, 0xF3, 0x18, 0xC0}), 36);
    EXPECT_EQ(Decode({0xFF, 0xE3, 0x18, 0xC0}, header), 72);
    EXPECT_EQ(header.SyncKind, 2);
    EXPECT_EQ(header.Id, 0);
    // MPEG-1 Layer II, 384 kbit/s, 32 kHz.
    EXPECT_EQ(Decode({0xFF, 0xFD, 0xE8, 0x00}), 1728);
    // MPEG-1 Layer III, 320 kbit/s, 32 kHz, with padding.
    EXPECT_EQ(Decode({0xFF, 0xFB, 0xEA, 0x00}, header) + header.Padding, 1441);
    // MPEG-2 Layer II, 160 kbit/s, 24 kHz.
    EXPECT_EQ(Decode({0xFF, 0xF5, 0xE4, 0x00}), 160 * 2880 / 480);
    // MPEG-2 Layer I, 256 kbit/s, 22.05 kHz.
    EXPECT_EQ(Decode({0xFF, 0xF7, 0xE0, 0x00}), (256 * 240 / 441) * 4);
}

TEST(FrameHeader, ReservedVersionCodeUsesMpeg1Tables) {
    TMP3FrameHeader header;
    // 0xEB: 11-bit sync with the reserved version code, Layer III.
    EXPECT_EQ(Decode({0xFF, 0xEB, 0x90, 0x00}, header), 417);
    EXPECT_EQ(header.SyncKind, 2);
    EXPECT_EQ(header.Id, 1);
}

TEST(FrameHeader, UnusableHeadersGiveZeroOrLess) {
    TMP3FrameHeader header;
    header.Layer = 77;
    EXPECT_EQ(Decode({0xFF, 0xDB, 0x90, 0x64}, header), 0); // 10-bit sync
    EXPECT_EQ(header.SyncKind, 0);
    EXPECT_EQ(header.Layer, 77) << "fields after a failed sync must stay as they were";
    EXPECT_EQ(Decode({0xFE, 0xFB, 0x90, 0x64}, header), 0);
    EXPECT_EQ(Decode({0xFF, 0xF9, 0x90, 0x64}, header), 0); // reserved layer
    EXPECT_EQ(header.SyncKind, 1);
    EXPECT_EQ(Decode({0xFF, 0xFB, 0xF0, 0x64}), 0); // forbidden bit rate
    EXPECT_LT(Decode({0xFF, 0xFB, 0x9C, 0x64}), 0); // reserved sampling index
    EXPECT_LT(Decode({0xFF, 0xFF, 0x1C, 0x00}), 0); // Layer I too

    int32_t bitrate = 5;
    const std::array<uint8_t, 4> forbidden{0xFF, 0xFB, 0xF0, 0x64};
    EXPECT_EQ(DecodeFrameHeaderBitrate(forbidden.data(), 4, header, bitrate), 0);
    EXPECT_EQ(bitrate, 0);
    const std::array<uint8_t, 4> reserved{0xFF, 0xFB, 0x9C, 0x64};
    EXPECT_LT(DecodeFrameHeaderBitrate(reserved.data(), 4, header, bitrate), 0);
}

TEST(FrameHeader, BitRatesOfEveryTableRow) {
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    struct Case {
        std::array<uint8_t, 4> bytes;
        int32_t bitrate;
    };
    const Case cases[] = {
        {{0xFF, 0xFF, 0xE0, 0x00}, 448000}, // MPEG-1 Layer I index 14
        {{0xFF, 0xFD, 0x50, 0x00}, 80000},  // MPEG-1 Layer II index 5
        {{0xFF, 0xFB, 0x50, 0x00}, 64000},  // MPEG-1 Layer III index 5
        {{0xFF, 0xF7, 0x90, 0x00}, 144000}, // MPEG-2 Layer I index 9
        {{0xFF, 0xF5, 0x90, 0x00}, 80000},  // MPEG-2 Layer II index 9
        {{0xFF, 0xF3, 0xE0, 0x00}, 160000}, // MPEG-2 Layer III index 14
        {{0xFF, 0xE3, 0x10, 0x00}, 8000},   // MPEG-2.5 Layer III index 1
    };
    for (const Case& c : cases) {
        EXPECT_GT(DecodeFrameHeaderBitrate(c.bytes.data(), 4, header, bitrate), 0);
        EXPECT_EQ(bitrate, c.bitrate) << std::hex << int(c.bytes[1]) << " " << int(c.bytes[2]);
    }
}

// A run of free-format frames: each `length` + padding slot long, starting with `header`.
std::vector<uint8_t> FreeFormatRun(std::array<uint8_t, 4> header, int32_t length, int frames,
                                   size_t tail = 0) {
    const int32_t slot = PaddingSlotBytes((header[1] >> 1) & 3) * ((header[2] >> 1) & 1);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < frames; ++i) {
        bytes.insert(bytes.end(), header.begin(), header.end());
        bytes.resize(bytes.size() + length + slot - 4, 0x11);
    }
    bytes.resize(bytes.size() + tail, 0x11);
    return bytes;
}

TEST(FrameHeader, FreeFormatLengthIsFoundFromRepeatedHeaders) {
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    // MPEG-1 Layer III free format at 44.1 kHz, no padding.
    auto run = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 600, 5);
    EXPECT_EQ(DecodeFrameHeaderBitrate(run.data(), uint32_t(run.size()), header, bitrate), 600);
    EXPECT_EQ(bitrate, 600 * 882 * 1000 / 2880);
    EXPECT_EQ(FindFreeFormatLength(run.data(), uint32_t(run.size())), 600);

    // With the padding bit set the slot is part of the distance but not of the length.
    run = FreeFormatRun({0xFF, 0xFB, 0x02, 0x00}, 600, 5);
    EXPECT_EQ(DecodeFrameHeader(run.data(), uint32_t(run.size()), header), 600);
    // Layer I: the padding slot is four bytes.
    run = FreeFormatRun({0xFF, 0xFF, 0x02, 0x00}, 400, 5);
    EXPECT_EQ(DecodeFrameHeaderBitrate(run.data(), uint32_t(run.size()), header, bitrate), 400);
    EXPECT_EQ(bitrate, 400 * 882 * 1000 / 960);
    // MPEG-2 and MPEG-2.5 Layer III bit rates.
    run = FreeFormatRun({0xFF, 0xF3, 0x00, 0x00}, 300, 5);
    EXPECT_EQ(DecodeFrameHeaderBitrate(run.data(), uint32_t(run.size()), header, bitrate), 300);
    EXPECT_EQ(bitrate, 300 * 441 * 8 * 125 / 1440);
    run = FreeFormatRun({0xFF, 0xE3, 0x00, 0x00}, 300, 5);
    EXPECT_EQ(DecodeFrameHeaderBitrate(run.data(), uint32_t(run.size()), header, bitrate), 300);
    EXPECT_EQ(bitrate, 300 * 441 * 4 * 125 / 1440);
    // A long MPEG-1 frame at 48 kHz: the rate's product does not fit 32 bits.
    run = FreeFormatRun({0xFF, 0xFD, 0x04, 0x00}, 4000, 2);
    EXPECT_EQ(DecodeFrameHeaderBitrate(run.data(), uint32_t(run.size()), header, bitrate), 4000);
    EXPECT_EQ(bitrate, 4000 * 960 * 1000LL / 2880);
}

TEST(FrameHeader, FreeFormatNeedsAConfirmedChain) {
    TMP3FrameHeader header;
    auto run = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 600, 5);
    EXPECT_EQ(DecodeFrameHeader(run.data(), 0, header), 0);
    // One frame and no second header: nothing to confirm.
    auto single = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 600, 1);
    EXPECT_EQ(DecodeFrameHeader(single.data(), uint32_t(single.size()), header), 0);

    // A recurrence closer than 24 bytes is ignored; the true distance still wins.
    auto early = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 600, 5);
    early[10] = 0xFF;
    early[11] = 0xFB;
    EXPECT_EQ(DecodeFrameHeader(early.data(), uint32_t(early.size()), header), 600);

    // A false candidate at 100 whose chain breaks is passed over for the real one.
    auto decoy = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 600, 5);
    decoy[100] = 0xFF;
    decoy[101] = 0xFB;
    EXPECT_EQ(DecodeFrameHeader(decoy.data(), uint32_t(decoy.size()), header), 600);

    // The protection bit is compared too.
    auto protectedRun = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 600, 5);
    for (size_t at = 600; at < protectedRun.size(); at += 600)
        protectedRun[at + 1] = 0xFA;
    EXPECT_EQ(DecodeFrameHeader(protectedRun.data(), uint32_t(protectedRun.size()), header), 0);

    // A broken third frame start rejects 600; the search goes on to the next recurrence, 1800,
    // whose chain (1800, then beyond the buffer) holds.
    auto broken = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 600, 5);
    broken[1200] = 0x00;
    EXPECT_EQ(DecodeFrameHeader(broken.data(), uint32_t(broken.size()), header), 1800);
    broken[1800] = 0x00;
    broken[2400] = 0x00;
    EXPECT_EQ(DecodeFrameHeader(broken.data(), uint32_t(broken.size()), header), 0);
}

TEST(FrameHeader, FreeFormatScanStopsAtTenThousandBytes) {
    TMP3FrameHeader header;
    // Frames of 6000 bytes: the second start lies inside 10000, the third beyond it.
    auto run = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 6000, 3);
    const uint32_t huge = uint32_t(run.size()) + 1000000;
    // Only the first 10000 bytes may be looked at, even when the caller claims more: breaking
    // the third frame (beyond the cap) must not matter.
    run[12000] = 0;
    EXPECT_EQ(DecodeFrameHeader(run.data(), huge, header), 6000);
    EXPECT_EQ(FindFreeFormatLength(run.data(), huge), 6000);
    // Candidates must start below 2000: with frames of 2500 and a decoy chain nowhere, the scan
    // begun at 24 runs on to 2500 and accepts it.
    auto longer = FreeFormatRun({0xFF, 0xFB, 0x00, 0x00}, 2500, 3);
    EXPECT_EQ(DecodeFrameHeader(longer.data(), uint32_t(longer.size()), header), 2500);
    // A rejected candidate at 2100 moves the next start past 2000: the search gives up.
    longer[2100] = 0xFF;
    longer[2101] = 0xFB;
    EXPECT_EQ(DecodeFrameHeader(longer.data(), uint32_t(longer.size()), header), 0);
}

TEST(FrameSync, FindsTheFirstSyncWithoutConfirmation) {
    std::vector<uint8_t> buffer(64, 0);
    buffer[5] = 0xFF; // followed by 0x00: no sync
    buffer[10] = 0xFF;
    buffer[11] = 0xFB;
    buffer[12] = 0x90;
    buffer[13] = 0x64;
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = -1;
    EXPECT_EQ(FindFrameSync(buffer.data(), int32_t(buffer.size()), header, bitrate, offset), 417);
    EXPECT_EQ(offset, 10);
    EXPECT_EQ(bitrate, 128000);

    // An invalid header at the first sync is returned as it is; a later good one is not sought.
    buffer[2] = 0xFF;
    buffer[3] = 0xF9; // reserved layer
    EXPECT_EQ(FindFrameSync(buffer.data(), int32_t(buffer.size()), header, bitrate, offset), 0);
    EXPECT_EQ(offset, 2);
    // The MPEG-2.5 sync counts.
    buffer[3] = 0xE3;
    buffer[4] = 0x18;
    EXPECT_EQ(FindFrameSync(buffer.data(), int32_t(buffer.size()), header, bitrate, offset), 72);
    EXPECT_EQ(offset, 2);
}

TEST(FrameSync, NoSyncLeavesOutputsUntouched) {
    std::vector<uint8_t> buffer(100, 0x12);
    buffer.back() = 0xFF;
    TMP3FrameHeader header;
    header.Layer = 9;
    int32_t bitrate = 7;
    int32_t offset = 7;
    EXPECT_EQ(FindFrameSync(buffer.data(), int32_t(buffer.size()), header, bitrate, offset), 0);
    EXPECT_EQ(header.Layer, 9);
    EXPECT_EQ(bitrate, 7);
    EXPECT_EQ(offset, 7);
    EXPECT_EQ(FindFrameSync(buffer.data(), 0, header, bitrate, offset), 0);
    EXPECT_EQ(FindFrameSync(buffer.data(), -5, header, bitrate, offset), 0);
}

TEST(FrameSync, HeaderCutByTheBufferEndIsNotDecoded) {
    // The sync lies in the last three bytes: decoding it would read past the buffer.
    std::vector<uint8_t> buffer{0x00, 0x00, 0xFF, 0xFB, 0x90};
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = -1;
    EXPECT_EQ(FindFrameSync(buffer.data(), int32_t(buffer.size()), header, bitrate, offset), 0);
    EXPECT_EQ(header.SyncKind, 0);
    buffer.push_back(0x64);
    EXPECT_EQ(FindFrameSync(buffer.data(), int32_t(buffer.size()), header, bitrate, offset), 417);
    EXPECT_EQ(offset, 2);
}

} // namespace
} // namespace pelbrisk
