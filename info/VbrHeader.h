#pragma once

#include "info/FrameHeader.h"
#include "info/ReplayGain.h"
#include "stream/StreamReader.h"

#include <cstdint>
#include <string>

namespace pelbrisk {

// The song within the decoded samples (per channel, counted from the first audio frame), when a
// LAME tag tells the encoder's delay and padding: samples before Begin are not the song's, nor
// are those from End on within the Frames frames the header counts. Frames behind those belong
// to a stream that goes on past its header (files joined together) and play whole. All 0 when
// nothing is known.
struct TMP3Gapless {
    int64_t Begin = 0;
    int64_t End = 0;
    int32_t Frames = 0;
};

// The player's values of the open stream that the information-frame check reads and sets.
struct TMP3StreamValues {
    TMP3FrameHeader Header;    // the first frame's header
    int32_t FrameLength = 0;   // full length of the first frame, padding slot included
    int32_t BytesPerFrame = 0; // PCM bytes one frame decodes to
    int32_t Bitrate = 0;       // of the first frame in bit/s; 0 once an information frame is seen
    int64_t TotalBytes = 0;    // PCM bytes of the whole stream from the frame count; 0 unknown
    int32_t DataStart = 0;     // file offset of the audio data
    int32_t DataLength = INT32_MAX; // its length in bytes; INT32_MAX while unknown
    TMP3Gapless Gapless;
};

// "Info" is lame's name for the information frame of a constant-bit-rate stream; it is built
// exactly like "Xing".
enum class TMP3VbrHeaderKind { None, Xing, Info, Vbri };

// What the decoder's synthesis filter bank delays its output by, in samples per channel; the
// encoders' delay figures leave it out.
inline constexpr int32_t kDecoderDelaySamples = 529;

// What the check found, for those who show it; the counts are as the encoder wrote them
// (information frame included), 0 when absent.
struct TMP3VbrHeader {
    TMP3VbrHeaderKind Kind = TMP3VbrHeaderKind::None;
    int32_t Offset = 0; // of the header inside the first frame
    int32_t Frames = 0;
    int32_t Bytes = 0;
    // The LAME tag behind a Xing or Info header (lame's, or ffmpeg's "Lavc"/"Lavf"), taken only
    // when its CRC holds. Delay and padding are in samples per channel; -1 without a tag.
    std::string Encoder; // its version text, e.g. "LAME3.100"; empty without a tag
    int32_t EncoderDelay = -1;
    int32_t EncoderPadding = -1;
    // The tag's ReplayGain fields: radio as the track's gain, audiophile as the album's.
    TReplayGain Gain;
};

// Where a Xing header starts inside the first frame: behind the frame header and the Layer III
// side information, not counting a CRC (lame writes it there in CRC-protected frames as well).
int32_t VbrHeaderOffset(const TMP3FrameHeader& header);

// Looks for a Xing, Info or VBRI header in the first frame, which lies at the reader's head.
// When one is found, the stream is timed by its counts (Bitrate cleared, TotalBytes set from a
// frame count above 0) and the information frame is skipped, never decoded: DataStart moves
// behind it, DataLength loses its length and FrameLength becomes 0. The audio data ends where
// the header's byte count says, unless a frame follows there: a stream that goes on (files
// joined together, a header left from before an edit) plays to its real end and is timed in
// proportion. Of a stream whose length is unknown, every frame plays. A LAME tag with a
// frame count times the song alone: TotalBytes leaves out the delay and padding it names, and
// Gapless marks the song in the decoded samples. Raises EMP3Error
// ("unknown MPEG Audio format.") when the information frame cannot be skipped.
TMP3VbrHeader CheckVbrHeader(TMPStreamReader& reader, TMP3StreamValues& values);

// Samples [From, To) of decoded frame `index` (counted from the first audio frame) belong to
// `song`; all of the frame when it marks nothing.
struct TMP3SampleSpan {
    int32_t From = 0;
    int32_t To = 0;
};
TMP3SampleSpan SongPartOfFrame(int64_t index, int32_t samplesPerFrame, const TMP3Gapless& song);

// The stream's length in milliseconds: from TotalBytes when the frame count gave it, else from
// the first frame's bit rate and the audio byte count, else 0 (unknown). Output is 16-bit PCM.
int32_t StreamDuration(int32_t sampleRate, int32_t channels, int64_t totalBytes, int32_t bitrate,
                       int32_t dataLength);

// The output format a frame header stands for.
struct TMP3FrameFormat {
    int32_t MpegVersion = 0; // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5; 0 for an unusable header
    int32_t LayerNumber = 0; // 1, 2, 3
    int32_t SampleRate = 0;  // Hz
    int32_t Channels = 0;
    int32_t SamplesPerChannel = 0; // per frame
    int32_t BytesPerFrame = 0;     // 16-bit PCM of one frame, all channels
};
TMP3FrameFormat DescribeFrame(const TMP3FrameHeader& header);

} // namespace pelbrisk
