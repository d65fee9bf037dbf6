#include "info/StreamProbe.h"

#include "info/ByteOrder.h"
#include "info/FrameTables.h"
#include "stream/Errors.h"

#include <cstring>

namespace pelbrisk {

namespace {

constexpr int32_t kFirstFrameSearchBytes = 4096;
// Enough for the largest frame behind a sync found late in the search.
constexpr int32_t kLargestFirstFrame = 1441;
constexpr int32_t kResyncLimit = 4096;
// The whole first byte, the second without its protection bit, the sampling-frequency bits.
constexpr uint32_t kSameStreamMask = 0x000CFEFF;

bool FindFirstFrame(TMPStreamReader& reader, TMP3StreamProbe& probe, uint8_t reference[4]) {
    TMP3StreamValues& values = probe.Values;
    reader.Require(kFirstFrameSearchBytes);
    int32_t offset = 0;
    const int32_t syncLength =
        FindFrameSync(reader.Data(), reader.Contiguous(), values.Header, values.Bitrate, offset);
    if (syncLength <= 0) return false;
    probe.FreeFormatLength = values.Header.BitrateIndex == 0 ? syncLength : 0;
    if (offset > 0) {
        values.DataStart += offset;
        if (values.DataLength != INT32_MAX) values.DataLength -= offset;
        if (!reader.Skip(offset)) return false;
        reader.Require(kLargestFirstFrame);
        if (reader.Contiguous() < 4) return false;
    }
    std::memcpy(reference, reader.Data(), 4);
    TMP3FrameHeader header;
    values.FrameLength = CheckFrame(reader.Data(), reference, header, probe.FreeFormatLength);
    if (values.FrameLength <= 0) return false;
    if (values.FrameLength > reader.Capacity() || !reader.Require(values.FrameLength)) return false;
    probe.FirstFrameOffset = reader.Position();
    return true;
}

int32_t WalkFrames(TMPStreamReader& reader, const TMP3StreamValues& values,
                   const uint8_t reference[4], int32_t freeFormatLength) {
    const int64_t dataEnd = values.DataLength == INT32_MAX
                                ? int64_t(INT32_MAX)
                                : int64_t(values.DataStart) + values.DataLength;
    int32_t frames = 0;
    int32_t resync = 0;
    while (reader.Position() < dataEnd && reader.Require(4)) {
        TMP3FrameHeader header;
        const int32_t length = CheckFrame(reader.Data(), reference, header, freeFormatLength);
        if (length <= 0 || length > reader.Capacity()) {
            if (resync++ >= kResyncLimit) break;
            reader.Skip(1);
            continue;
        }
        if (!reader.Require(length)) break; // a truncated last frame is no frame
        reader.Skip(length);
        resync = 0;
        ++frames;
    }
    return frames;
}

} // namespace

int32_t CheckFrame(const uint8_t* bytes, const uint8_t reference[4], TMP3FrameHeader& header,
                   int32_t freeFormatLength) {
    int32_t length = DecodeFrameHeader(bytes, 0, header);
    if (length == 0 && header.SyncKind != 0 && header.BitrateIndex == 0) length = freeFormatLength;
    if (length <= 0) return length;
    if (header.Layer < 1 || header.Layer > 3) return 0;
    if (((LittleEndian32(bytes) ^ LittleEndian32(reference)) & kSameStreamMask) != 0) return 0;
    return length + header.Padding * PaddingSlotBytes(header.Layer);
}

bool ProbeStream(TMPStreamReader& reader, TMP3Info& info, TMP3StreamProbe& probe, bool walkFrames) {
    probe = TMP3StreamProbe();
    info.AttachReader(&reader);
    if (reader.Seekable()) {
        info.ReadHeadTags();
        info.ReadTailTags();
        reader.Seek(info.AudioStart(), msoFromBeginning);
    } else {
        info.ReadHeadTags();
    }
    TMP3StreamValues& values = probe.Values;
    values.DataStart = info.AudioStart();
    values.DataLength = info.AudioLength();

    uint8_t reference[4];
    if (!FindFirstFrame(reader, probe, reference)) return false;
    probe.Format = DescribeFrame(values.Header);
    values.BytesPerFrame = probe.Format.BytesPerFrame;
    probe.FirstFrameLength = values.FrameLength;
    probe.FirstFrameBitrate = values.Bitrate;
    try {
        probe.VbrHeader = CheckVbrHeader(reader, values);
    } catch (const EMP3Error&) {
        return false;
    }
    probe.Duration = StreamDuration(probe.Format.SampleRate, probe.Format.Channels,
                                    values.TotalBytes, values.Bitrate, values.DataLength);
    if (walkFrames)
        probe.WalkedFrames = WalkFrames(reader, values, reference, probe.FreeFormatLength);
    return true;
}

} // namespace pelbrisk
