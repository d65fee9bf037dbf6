#include "info/FrameSearch.h"

#include "info/ByteOrder.h"
#include "info/FrameTables.h"
#include "info/Id3v2Tag.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk {

namespace {

// The whole first byte, the second without its protection bit, the sampling-frequency bits.
constexpr uint32_t kSameStreamMask = 0x000CFEFF;
constexpr int32_t kId3v2HeaderBytes = 10;

// True when the stream holds exactly `count` more bytes from the head.
bool EndsAfter(TMPStreamReader& reader, int32_t count) {
    return !reader.Fill(count + 1) && reader.Available() == count;
}

// The frame header at the head, when the frame behind it confirms it; see FindFirstFrame.
bool ConfirmedFrameAtHead(TMPStreamReader& reader, int64_t dataEnd, TFirstFrame& first) {
    if (reader.Data()[0] != 0xFF) return false;
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t length = DecodeFrameHeaderBitrate(reader.Data(), 0, header, bitrate);
    if (MpegVersionOf(header) == 0 || header.Layer == 0) return false;
    if (length == 0 && header.BitrateIndex == 0) {
        // A free-format length shows only in the frames that follow.
        if (!reader.Require(std::min(kLargestFreeFormatScan, reader.Capacity())))
            reader.Require(reader.Available());
        length = DecodeFrameHeaderBitrate(reader.Data(), static_cast<uint32_t>(reader.Contiguous()),
                                          header, bitrate);
    }
    if (length <= 0) return false;
    const int32_t full = length + PaddingSlotOf(header);
    if (full + 4 > reader.Capacity()) return false;
    const int32_t freeFormatLength = header.BitrateIndex == 0 ? length : 0;
    const int64_t frameEnd = int64_t(reader.Position()) + full;
    bool confirmed = frameEnd == dataEnd || EndsAfter(reader, full);
    if (!confirmed && frameEnd + 4 <= dataEnd && reader.Require(full + 4)) {
        TMP3FrameHeader next;
        confirmed = CheckFrame(reader.Data() + full, reader.Data(), next, freeFormatLength) > 0;
    }
    if (!confirmed || !reader.Require(full)) return false;
    first.Header = header;
    std::memcpy(first.Reference, reader.Data(), 4);
    first.Length = full;
    first.Bitrate = bitrate;
    first.FreeFormatLength = freeFormatLength;
    return true;
}

} // namespace

int32_t CheckFrame(const uint8_t* bytes, const uint8_t reference[4], TMP3FrameHeader& header,
                   int32_t freeFormatLength) {
    int32_t length = DecodeFrameHeader(bytes, 0, header);
    if (length == 0 && header.SyncKind != 0 && header.BitrateIndex == 0) length = freeFormatLength;
    if (length <= 0) return length;
    if (header.Layer < 1 || header.Layer > 3) return 0;
    if (((LittleEndian32(bytes) ^ LittleEndian32(reference)) & kSameStreamMask) != 0) return 0;
    return length + PaddingSlotOf(header);
}

bool FindFirstFrame(TMPStreamReader& reader, int64_t dataEnd, TFirstFrame& first) {
    for (int32_t skipped = 0; skipped < kFirstFrameSearchBytes; ++skipped) {
        if (skipped > 0 && !reader.Skip(1)) return false;
        if (int64_t(reader.Position()) >= dataEnd || !reader.Require(4)) return false;
        if (ConfirmedFrameAtHead(reader, dataEnd, first)) return true;
    }
    return false;
}

int32_t StreamChannels(TMPStreamReader& reader, const TFirstFrame& first) {
    if (first.Header.Mode != 3) return 2;
    if (!reader.Seekable() || !reader.Require(reader.Capacity()))
        reader.Require(reader.Available());
    const uint8_t* bytes = reader.Data();
    const int32_t held = reader.Contiguous();
    TMP3FrameHeader header;
    for (int32_t at = 0; at + 4 <= held;) {
        const int32_t length =
            CheckFrame(bytes + at, first.Reference, header, first.FreeFormatLength);
        if (length <= 0) break;
        if (header.Mode != 3) return 2;
        at += length;
    }
    return 1;
}

TFrameWalk::TFrameWalk(const TFirstFrame& first) : freeFormatLength_(first.FreeFormatLength) {
    std::memcpy(reference_, first.Reference, 4);
}

int32_t TFrameWalk::Next(TMPStreamReader& reader, int64_t dataEnd, TMP3FrameHeader& header) const {
    int32_t skipped = 0;
    while (int64_t(reader.Position()) < dataEnd) {
        if (!reader.Require(4)) return 0;
        const int32_t length = CheckFrame(reader.Data(), reference_, header, freeFormatLength_);
        if (length > 0 && length <= reader.Capacity()) return reader.Require(length) ? length : 0;
        const int32_t tag = TagAtHead(reader);
        if (tag > 0) {
            if (!reader.Skip(tag)) return 0;
            continue;
        }
        if (skipped++ == kResyncLimit) return 0;
        reader.Skip(1);
    }
    return 0;
}

int32_t TagAtHead(TMPStreamReader& reader) {
    // Most bytes that are no frame are not an "I" either: look no further at those.
    if (reader.Data()[0] != 'I' || !reader.Require(kId3v2HeaderBytes)) return 0;
    return Id3v2TagBytes(reader.Data());
}

} // namespace pelbrisk
