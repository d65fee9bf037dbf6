#include "info/FrameHeader.h"

#include "info/FrameTables.h"

#include <algorithm>

namespace pelbrisk {

namespace {

constexpr int32_t kFirstFreeFormatCandidate = 24;
constexpr int32_t kFreeFormatCandidateLimit = 2000;

int32_t SyncKindOf(const uint8_t* bytes) {
    if (bytes[0] != 0xFF) return 0;
    switch (bytes[1] & 0xF0) {
    case 0xF0:
        return 1;
    case 0xE0:
        return 2;
    default:
        return 0;
    }
}

int32_t PaddingBitOf(const uint8_t* header) {
    return (header[2] >> 1) & 1;
}

bool RepeatsFirstTwoBytes(const uint8_t* bytes, int32_t at) {
    return bytes[at] == bytes[0] && bytes[at + 1] == bytes[1];
}

// Every predicted frame start up to `limit` must repeat the first two header bytes, and at
// least one must lie inside the buffer, before a candidate free-format length is believed.
bool ChainConfirms(const uint8_t* bytes, int32_t limit, int32_t length, int32_t slot) {
    int32_t position = 0;
    int32_t confirmed = 0;
    for (;;) {
        position += length + slot * PaddingBitOf(bytes + position);
        if (position > limit) return confirmed >= 1;
        if (!RepeatsFirstTwoBytes(bytes, position)) return false;
        ++confirmed;
    }
}

} // namespace

int32_t FindFreeFormatLength(const uint8_t* bytes, uint32_t available) {
    available = std::min(available, uint32_t(kLargestFreeFormatScan));
    const int32_t slot = PaddingSlotBytes((bytes[1] >> 1) & 3);
    const int32_t pad = PaddingBitOf(bytes);
    const int32_t limit = static_cast<int32_t>(available) - 3;
    int32_t start = kFirstFreeFormatCandidate;
    while (start < kFreeFormatCandidateLimit) {
        int32_t next = start;
        while (next < limit && !RepeatsFirstTwoBytes(bytes, next))
            ++next;
        if (next >= limit) return 0;
        start = next + 1;
        const int32_t length = next - slot * pad;
        if (length <= 0) return 0;
        if (ChainConfirms(bytes, limit, length, slot)) return length;
    }
    return 0;
}

int32_t DecodeFrameHeader(const uint8_t* bytes, uint32_t available, TMP3FrameHeader& header) {
    available = std::min(available, uint32_t(kLargestFreeFormatScan));
    header.SyncKind = SyncKindOf(bytes);
    if (header.SyncKind == 0) return 0;

    header.Id = (bytes[1] >> 3) & 1;
    header.Layer = (bytes[1] >> 1) & 3;
    header.ProtectionBit = bytes[1] & 1;
    header.BitrateIndex = bytes[2] >> 4;
    header.SamplingIndex = (bytes[2] >> 2) & 3;
    header.Padding = (bytes[2] >> 1) & 1;
    header.PrivateBit = bytes[2] & 1;
    header.Mode = bytes[3] >> 6;
    header.ModeExtension = (bytes[3] >> 4) & 3;
    header.RightsFlag = (bytes[3] >> 3) & 1;
    header.NotCopyFlag = (bytes[3] >> 2) & 1;
    header.Emphasis = bytes[3] & 3;

    if (header.Layer == 0) return 0;
    if (header.BitrateIndex == 0) return FindFreeFormatLength(bytes, available);

    const int32_t rate = kBitrateTable[header.Id][header.Layer][header.BitrateIndex];
    const int32_t frequency = kSamplingTable[header.Id][header.SamplingIndex];
    switch (header.Layer) {
    case 3:
        return ((rate * 240) / frequency) * 4;
    case 2:
        return (rate * 2880) / frequency;
    default:
        // MPEG-2 alone halves the Layer III frame: MPEG-2.5's table rates are twice its own.
        if (header.Id == 0 && header.SyncKind == 1) return (rate * 1440) / frequency;
        return (rate * 2880) / frequency;
    }
}

int32_t DecodeFrameHeaderBitrate(const uint8_t* bytes, uint32_t available, TMP3FrameHeader& header,
                                 int32_t& bitrate) {
    bitrate = 0;
    const int32_t length = DecodeFrameHeader(bytes, available, header);
    if (length == 0) return 0;

    if (header.BitrateIndex != 0) {
        bitrate = kBitrateTable[header.Id][header.Layer][header.BitrateIndex] * 1000;
        return length;
    }
    // Free format: the rate follows from the confirmed length. The products exceed 32 bits for
    // long frames, so they are formed in 64 bits.
    const int64_t lengthTimesFrequency =
        static_cast<int64_t>(length) * kSamplingTable[header.Id][header.SamplingIndex];
    int64_t freeRate;
    if (header.Layer == 3)
        freeRate = lengthTimesFrequency * 1000 / 960;
    else if (header.Layer == 2 || header.Id == 1)
        freeRate = lengthTimesFrequency * 1000 / 2880;
    else if (header.SyncKind == 1)
        freeRate = lengthTimesFrequency * 8 * 125 / 1440;
    else
        freeRate = lengthTimesFrequency * 4 * 125 / 1440;
    bitrate = static_cast<int32_t>(freeRate);
    return length;
}

int32_t FindFrameSync(const uint8_t* buffer, int32_t count, TMP3FrameHeader& header,
                      int32_t& bitrate, int32_t& offset) {
    // A sync whose four header bytes do not all lie in the buffer cannot be decoded; taking it
    // would read past the caller's bytes.
    for (int32_t position = 0; position + 4 <= count; ++position) {
        if (SyncKindOf(buffer + position) == 0) continue;
        offset = position;
        return DecodeFrameHeaderBitrate(buffer + position, static_cast<uint32_t>(count - position),
                                        header, bitrate);
    }
    return 0;
}

} // namespace pelbrisk
