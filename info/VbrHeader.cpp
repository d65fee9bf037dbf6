#include "info/VbrHeader.h"

#include "stream/Errors.h"
#include "info/FrameTables.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk {

namespace {

constexpr int32_t kXingFrameCountFlag = 1;
constexpr int32_t kXingByteCountFlag = 2;
constexpr int32_t kVbriByteCountAt = 10;
constexpr int32_t kVbriFrameCountAt = 14;

// Reads the big-endian fields of the header, but only those lying inside the first frame: a
// damaged or tiny frame must not make the check read what is not there.
class TFrameBytes {
public:
    TFrameBytes(const uint8_t* frame, int32_t length) : frame_(frame), length_(length) {}
    bool Holds(int32_t at, int32_t count) const { return at >= 0 && at + count <= length_; }
    bool Matches(int32_t at, const char* magic) const {
        return Holds(at, 4) && std::memcmp(frame_ + at, magic, 4) == 0;
    }
    int32_t Number(int32_t at) const {
        if (!Holds(at, 4)) return 0;
        const uint8_t* bytes = frame_ + at;
        return static_cast<int32_t>((uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) |
                                    (uint32_t(bytes[2]) << 8) | bytes[3]);
    }

private:
    const uint8_t* frame_;
    int32_t length_;
};

void TakeCounts(TMP3StreamValues& values, int32_t frames, int32_t bytes) {
    if (frames > 0) values.TotalBytes = int64_t(frames - 1) * values.BytesPerFrame;
    if (bytes > 0) values.DataLength = bytes;
}

void SkipInformationFrame(TMPStreamReader& reader, TMP3StreamValues& values) {
    if (!reader.Skip(values.FrameLength)) throw EMP3Error(kUnknownFormatText);
    values.DataStart += values.FrameLength;
    if (values.DataLength != INT32_MAX) values.DataLength -= values.FrameLength;
    values.FrameLength = 0;
}

} // namespace

int32_t VbrHeaderOffset(const TMP3FrameHeader& header) {
    const bool singleChannel = header.Mode == 3;
    int32_t offset;
    if (header.Id == 1)
        offset = singleChannel ? 21 : 36;
    else
        offset = singleChannel ? 13 : 21;
    return header.ProtectionBit == 0 ? offset + 2 : offset;
}

TMP3VbrHeader CheckVbrHeader(TMPStreamReader& reader, TMP3StreamValues& values) {
    TMP3VbrHeader found;
    if (values.FrameLength <= 0) return found;
    // The open has made the whole frame contiguous; a stream that ends inside it still shows
    // the bytes it has, and the skip below then fails.
    const int32_t wanted = std::min(values.FrameLength, reader.Capacity());
    const int32_t held = reader.Require(wanted) ? wanted : std::min(wanted, reader.Contiguous());
    const TFrameBytes frame(reader.Data(), held);
    const int32_t offset = VbrHeaderOffset(values.Header);

    if (frame.Matches(offset, "Xing")) {
        found.Kind = TMP3VbrHeaderKind::Xing;
        const int32_t flags = frame.Number(offset + 4);
        int32_t at = offset + 8;
        if ((flags & kXingFrameCountFlag) != 0) {
            found.Frames = frame.Number(at);
            at += 4;
        }
        if ((flags & kXingByteCountFlag) != 0) found.Bytes = frame.Number(at);
    } else if (frame.Matches(offset, "VBRI")) {
        found.Kind = TMP3VbrHeaderKind::Vbri;
        found.Bytes = frame.Number(offset + kVbriByteCountAt);
        found.Frames = frame.Number(offset + kVbriFrameCountAt);
    } else {
        return found;
    }
    found.Offset = offset;
    values.Bitrate = 0;
    TakeCounts(values, found.Frames, found.Bytes);
    SkipInformationFrame(reader, values);
    return found;
}

int32_t StreamDuration(int32_t sampleRate, int32_t channels, int64_t totalBytes, int32_t bitrate,
                       int32_t dataLength) {
    int64_t milliseconds = 0;
    if (sampleRate > 0 && totalBytes > 0 && channels > 0)
        milliseconds = totalBytes * 1000 / (int64_t(sampleRate) * channels * 2);
    else if (bitrate > 0 && dataLength != INT32_MAX)
        milliseconds = int64_t(dataLength) * 8 * 1000 / bitrate;
    return static_cast<int32_t>(std::clamp<int64_t>(milliseconds, INT32_MIN, INT32_MAX));
}

TMP3FrameFormat DescribeFrame(const TMP3FrameHeader& header) {
    TMP3FrameFormat format;
    if (header.SyncKind == 0 || header.Layer == 0 || header.SamplingIndex == 3) return format;
    format.MpegVersion = header.Id == 1 ? 1 : (header.SyncKind == 1 ? 2 : 3);
    format.LayerNumber = LayerNumberOf(header.Layer);
    format.SampleRate = kSamplingTable[header.Id][header.SamplingIndex] * 50;
    if (format.MpegVersion == 3) format.SampleRate /= 2;
    format.Channels = header.Mode == 3 ? 1 : 2;
    if (format.LayerNumber == 1)
        format.SamplesPerChannel = 384;
    else if (format.LayerNumber == 3 && format.MpegVersion != 1)
        format.SamplesPerChannel = 576;
    else
        format.SamplesPerChannel = 1152;
    format.BytesPerFrame = format.SamplesPerChannel * format.Channels * 2;
    return format;
}

} // namespace pelbrisk
