#include "info/VbrHeader.h"

#include "info/ByteOrder.h"
#include "info/FrameTables.h"
#include "stream/Errors.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk {

namespace {

constexpr int32_t kXingFrameCountFlag = 1;
constexpr int32_t kXingByteCountFlag = 2;
constexpr int32_t kXingTableFlag = 4;
constexpr int32_t kXingQualityFlag = 8;
constexpr int32_t kXingTableBytes = 100;
constexpr int32_t kLameTagBytes = 36;
constexpr int32_t kLameVersionBytes = 9;
constexpr int32_t kLameDelayAt = 21;
constexpr int32_t kLameCrcAt = 34;
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
    const uint8_t* At(int32_t at) const { return frame_ + at; }
    int32_t Number(int32_t at) const {
        if (!Holds(at, 4)) return 0;
        return static_cast<int32_t>(BigEndian32(frame_ + at));
    }

private:
    const uint8_t* frame_;
    int32_t length_;
};

// CRC-16 with the polynomial 0x8005 taken bit-reversed and a start of 0, as lame writes it.
uint16_t LameCrc(const uint8_t* bytes, int32_t count) {
    uint32_t crc = 0;
    for (int32_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<uint16_t>(crc);
}

// The LAME tag at `at`, behind the Xing fields: lame's, or ffmpeg's with its own version text.
// Its CRC covers the frame from its first byte to the CRC; a tag that fails it is not trusted.
void ReadLameTag(const TFrameBytes& frame, int32_t at, TMP3VbrHeader& found) {
    if (!frame.Holds(at, kLameTagBytes)) return;
    const uint8_t* tag = frame.At(at);
    const bool known = std::memcmp(tag, "LAME", 4) == 0 || std::memcmp(tag, "Lavc", 4) == 0 ||
                       std::memcmp(tag, "Lavf", 4) == 0;
    if (!known) return;
    const uint16_t stored = static_cast<uint16_t>((tag[kLameCrcAt] << 8) | tag[kLameCrcAt + 1]);
    if (LameCrc(frame.At(0), at + kLameCrcAt) != stored) return;
    size_t length = kLameVersionBytes;
    while (length > 0 && static_cast<uint8_t>(tag[length - 1]) <= 32)
        --length;
    found.Encoder.assign(reinterpret_cast<const char*>(tag), length);
    const uint8_t* gap = tag + kLameDelayAt;
    found.EncoderDelay = (gap[0] << 4) | (gap[1] >> 4);
    found.EncoderPadding = ((gap[1] & 0x0F) << 8) | gap[2];
}

void TakeCounts(TMP3StreamValues& values, const TMP3VbrHeader& found) {
    if (found.Bytes > 0) values.DataLength = found.Bytes;
    if (found.Frames <= 0) return;
    const int32_t samplesPerFrame = DescribeFrame(values.Header).SamplesPerChannel;
    const int64_t decoded = int64_t(found.Frames) * samplesPerFrame;
    if (found.EncoderDelay >= 0 && samplesPerFrame > 0 &&
        found.EncoderDelay + found.EncoderPadding < decoded) {
        // The encoders that write a LAME tag count the audio frames alone.
        const int64_t song = decoded - found.EncoderDelay - found.EncoderPadding;
        values.TotalBytes = song * (values.BytesPerFrame / samplesPerFrame);
        values.GaplessBegin = found.EncoderDelay + kDecoderDelaySamples;
        values.GaplessEnd = decoded - found.EncoderPadding + kDecoderDelaySamples;
    } else {
        values.TotalBytes = int64_t(found.Frames - 1) * values.BytesPerFrame;
    }
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

    const bool xing = frame.Matches(offset, "Xing");
    if (xing || frame.Matches(offset, "Info")) {
        found.Kind = xing ? TMP3VbrHeaderKind::Xing : TMP3VbrHeaderKind::Info;
        const int32_t flags = frame.Number(offset + 4);
        int32_t at = offset + 8;
        if ((flags & kXingFrameCountFlag) != 0) {
            found.Frames = frame.Number(at);
            at += 4;
        }
        if ((flags & kXingByteCountFlag) != 0) {
            found.Bytes = frame.Number(at);
            at += 4;
        }
        if ((flags & kXingTableFlag) != 0) at += kXingTableBytes;
        if ((flags & kXingQualityFlag) != 0) at += 4;
        ReadLameTag(frame, at, found);
    } else if (frame.Matches(offset, "VBRI")) {
        found.Kind = TMP3VbrHeaderKind::Vbri;
        found.Bytes = frame.Number(offset + kVbriByteCountAt);
        found.Frames = frame.Number(offset + kVbriFrameCountAt);
    } else {
        return found;
    }
    found.Offset = offset;
    values.Bitrate = 0;
    TakeCounts(values, found);
    SkipInformationFrame(reader, values);
    return found;
}

TMP3SampleSpan SongPartOfFrame(int64_t index, int32_t samplesPerFrame, int64_t begin, int64_t end) {
    TMP3SampleSpan span{0, samplesPerFrame};
    if (end <= 0) return span;
    const int64_t first = index * samplesPerFrame;
    span.From = static_cast<int32_t>(std::clamp<int64_t>(begin - first, 0, samplesPerFrame));
    span.To = static_cast<int32_t>(std::clamp<int64_t>(end - first, span.From, samplesPerFrame));
    return span;
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
