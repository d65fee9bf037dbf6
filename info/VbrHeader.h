#pragma once

#include "stream/StreamReader.h"
#include "info/FrameHeader.h"

#include <cstdint>

namespace pelbrisk {

// The player's values of the open stream that the information-frame check reads and sets.
struct TMP3StreamValues {
    TMP3FrameHeader Header;    // the first frame's header
    int32_t FrameLength = 0;   // full length of the first frame, padding slot included
    int32_t BytesPerFrame = 0; // PCM bytes one frame decodes to
    int32_t Bitrate = 0;       // of the first frame in bit/s; 0 once an information frame is seen
    int64_t TotalBytes = 0;    // PCM bytes of the whole stream from the frame count; 0 unknown
    int32_t DataStart = 0;     // file offset of the audio data
    int32_t DataLength = INT32_MAX; // its length in bytes; INT32_MAX while unknown
};

enum class TMP3VbrHeaderKind { None, Xing, Vbri };

// What the check found, for those who show it; the counts are as the encoder wrote them
// (information frame included), 0 when absent.
struct TMP3VbrHeader {
    TMP3VbrHeaderKind Kind = TMP3VbrHeaderKind::None;
    int32_t Offset = 0; // of the header inside the first frame
    int32_t Frames = 0;
    int32_t Bytes = 0;
};

// Where a Xing or VBRI header starts inside the first frame: behind the frame header, the CRC
// and the Layer III side information.
int32_t VbrHeaderOffset(const TMP3FrameHeader& header);

// Looks for a Xing or VBRI header in the first frame, which lies at the reader's head. When one
// is found, the stream is timed by its counts (Bitrate cleared, TotalBytes and DataLength set
// from counts above 0) and the information frame is skipped, never decoded: DataStart moves
// behind it, DataLength loses its length and FrameLength becomes 0. Raises EMP3Error
// ("unknown MPEG Audio format.") when the information frame cannot be skipped.
TMP3VbrHeader CheckVbrHeader(TMPStreamReader& reader, TMP3StreamValues& values);

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
