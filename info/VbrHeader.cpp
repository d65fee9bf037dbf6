#include "info/VbrHeader.h"

#include "info/ByteOrder.h"
#include "info/FrameSearch.h"
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
constexpr int32_t kLamePeakAt = 11;
constexpr int32_t kLameRadioGainAt = 15;
constexpr int32_t kLameAudiophileGainAt = 17;
constexpr int32_t kLameDelayAt = 21;
constexpr int32_t kLameCrcAt = 34;
// ffmpeg's LAME tag CRC covers this many bytes of the frame, wherever its tag lies.
constexpr int32_t kFfmpegCrcBytes = 190;
// Fraunhofer's encoder writes its header 32 bytes behind the frame header in every mode.
constexpr int32_t kVbriOffset = 4 + 32;
constexpr int32_t kVbriByteCountAt = 10;
constexpr int32_t kVbriFrameCountAt = 14;
constexpr int32_t kCrcBytes = 2;

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
    int32_t Length() const { return length_; }
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

// The CRC as ffmpeg computes it: over the frame's first 190 bytes, its own CRC field (which
// lies among them in the smaller frames' layouts) still 0, and zeros behind a shorter frame, as
// ffmpeg's buffer holds them.
uint16_t FfmpegCrc(const TFrameBytes& frame, int32_t crcAt) {
    uint8_t bytes[kFfmpegCrcBytes] = {};
    std::memcpy(bytes, frame.At(0), static_cast<size_t>(std::min(frame.Length(), kFfmpegCrcBytes)));
    for (int32_t at = crcAt; at < crcAt + kCrcBytes && at < kFfmpegCrcBytes; ++at)
        bytes[at] = 0;
    return LameCrc(bytes, kFfmpegCrcBytes);
}

// The LAME tag at `at`, behind the Xing fields: lame's, or ffmpeg's with its own version text.
// lame's CRC covers the frame from its first byte to the CRC, ffmpeg's its first 190 bytes (the
// same bytes only in MPEG-1 two-channel frames); a tag that fails both is not trusted.
void ReadLameTag(const TFrameBytes& frame, int32_t at, TMP3VbrHeader& found) {
    if (!frame.Holds(at, kLameTagBytes)) return;
    const uint8_t* tag = frame.At(at);
    const bool known = std::memcmp(tag, "LAME", 4) == 0 || std::memcmp(tag, "Lavc", 4) == 0 ||
                       std::memcmp(tag, "Lavf", 4) == 0;
    if (!known) return;
    const uint16_t stored = static_cast<uint16_t>((tag[kLameCrcAt] << 8) | tag[kLameCrcAt + 1]);
    if (LameCrc(frame.At(0), at + kLameCrcAt) != stored &&
        FfmpegCrc(frame, at + kLameCrcAt) != stored)
        return;
    size_t length = kLameVersionBytes;
    while (length > 0 && static_cast<uint8_t>(tag[length - 1]) <= 32)
        --length;
    found.Encoder.assign(reinterpret_cast<const char*>(tag), length);
    const uint8_t* gap = tag + kLameDelayAt;
    found.EncoderDelay = (gap[0] << 4) | (gap[1] >> 4);
    found.EncoderPadding = ((gap[1] & 0x0F) << 8) | gap[2];
    found.Gain =
        LameTagGain(tag + kLamePeakAt, tag + kLameRadioGainAt, tag + kLameAudiophileGainAt);
}

void TakeCounts(TMP3StreamValues& values, const TMP3VbrHeader& found) {
    if (found.Frames <= 0) return;
    const int32_t samplesPerFrame = DescribeFrame(values.Header).SamplesPerChannel;
    if (found.EncoderDelay < 0 || samplesPerFrame <= 0) {
        values.TotalBytes = int64_t(found.Frames - 1) * values.BytesPerFrame;
        return;
    }
    // The encoders that write a LAME tag count the audio frames alone. Delay and padding that
    // fill the whole stream leave a song of no samples: it lasts 0 ms and plays nothing.
    const int64_t decoded = int64_t(found.Frames) * samplesPerFrame;
    const int64_t song = std::max<int64_t>(decoded - found.EncoderDelay - found.EncoderPadding, 0);
    values.TotalBytes = song * (values.BytesPerFrame / samplesPerFrame);
    values.Gapless.Begin = found.EncoderDelay + kDecoderDelaySamples;
    values.Gapless.End = values.Gapless.Begin + song;
    values.Gapless.Frames = found.Frames;
}

// Whether a frame of the stream starts at file offset `at` (behind ID3v2 tags there) inside the
// audio data: then the stream goes on past what its header counted, as files joined together
// and headers left from before an edit do. The head comes back to where it was.
bool FrameStartsAt(TMPStreamReader& reader, const TMP3StreamValues& values, int64_t at) {
    const int64_t dataEnd = int64_t(values.DataStart) + values.DataLength;
    if (!reader.Seekable() || values.DataLength == INT32_MAX) return false;
    uint8_t reference[4];
    std::memcpy(reference, reader.Data(), sizeof reference);
    const int32_t back = reader.Position();
    bool found = false;
    while (at + 4 <= dataEnd) {
        reader.Seek(static_cast<int32_t>(at), msoFromBeginning);
        if (!reader.Require(4)) break;
        TMP3FrameHeader header;
        found = CheckFrame(reader.Data(), reference, header, 0) > 0;
        const int32_t tag = found ? 0 : TagAtHead(reader);
        if (tag == 0) break;
        at += tag;
    }
    reader.Seek(back, msoFromBeginning);
    return found;
}

// The header times the part of the stream it counted; the rest is timed in proportion.
void GoOnPastTheHeader(TMP3StreamValues& values, const TMP3VbrHeader& found) {
    const double share = double(values.DataLength) / found.Bytes;
    values.TotalBytes = static_cast<int64_t>(double(values.TotalBytes) * share);
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
    if (header.Id == 1) return singleChannel ? 21 : 36;
    return singleChannel ? 13 : 21;
}

TMP3VbrHeader CheckVbrHeader(TMPStreamReader& reader, TMP3StreamValues& values) {
    TMP3VbrHeader found;
    if (values.FrameLength <= 0) return found;
    // The open has made the whole frame contiguous; a stream that ends inside it still shows
    // the bytes it has, and the skip below then fails.
    const int32_t wanted = std::min(values.FrameLength, reader.Capacity());
    const int32_t held = reader.Require(wanted) ? wanted : std::min(wanted, reader.Contiguous());
    const TFrameBytes frame(reader.Data(), held);
    // Where lame puts it, and where the CRC would push it.
    int32_t offset = VbrHeaderOffset(values.Header);
    const bool crc = values.Header.ProtectionBit == 0;
    if (crc && !frame.Matches(offset, "Xing") && !frame.Matches(offset, "Info"))
        offset += kCrcBytes;

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
    } else if (frame.Matches(kVbriOffset, "VBRI")) {
        offset = kVbriOffset;
        found.Kind = TMP3VbrHeaderKind::Vbri;
        found.Bytes = frame.Number(offset + kVbriByteCountAt);
        found.Frames = frame.Number(offset + kVbriFrameCountAt);
    } else {
        return found;
    }
    found.Offset = offset;
    values.Bitrate = 0;
    TakeCounts(values, found);
    const bool goesOn = found.Kind != TMP3VbrHeaderKind::Vbri &&
                        found.Bytes >= values.FrameLength &&
                        FrameStartsAt(reader, values, int64_t(values.DataStart) + found.Bytes);
    if (goesOn)
        GoOnPastTheHeader(values, found);
    else if (found.Bytes > 0 && values.DataLength != INT32_MAX)
        values.DataLength = std::min(values.DataLength, found.Bytes);
    SkipInformationFrame(reader, values);
    return found;
}

TMP3SampleSpan SongPartOfFrame(int64_t index, int32_t samplesPerFrame, const TMP3Gapless& song) {
    TMP3SampleSpan span{0, samplesPerFrame};
    const int64_t first = index * samplesPerFrame;
    span.From = static_cast<int32_t>(std::clamp<int64_t>(song.Begin - first, 0, samplesPerFrame));
    if (song.End > 0 && index < song.Frames)
        span.To =
            static_cast<int32_t>(std::clamp<int64_t>(song.End - first, span.From, samplesPerFrame));
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
    if (MpegVersionOf(header) == 0 || header.Layer == 0 || header.SamplingIndex == 3) return format;
    format.MpegVersion = MpegVersionOf(header);
    format.LayerNumber = LayerNumberOf(header.Layer);
    format.SampleRate = SamplingFrequencyOf(header);
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
