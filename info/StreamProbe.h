#pragma once

#include "info/MP3Info.h"
#include "info/VbrHeader.h"
#include "stream/StreamReader.h"

#include <cstdint>

namespace pelbrisk {

// Measures the frame at `bytes` against the first frame's four header bytes: the frame's full
// length (padding slot included), or 0 or less when it is no frame of the same stream. Version,
// layer and sampling frequency must match the reference; bit rate, padding and mode may change.
// A free-format header alone cannot tell its frame's length, so `freeFormatLength` carries the
// length (without the padding slot) that the search found at the first frame; 0 for streams
// whose bit rate is coded.
int32_t CheckFrame(const uint8_t* bytes, const uint8_t reference[4], TMP3FrameHeader& header,
                   int32_t freeFormatLength);

// Everything known about a stream before decoding it, found the way the player opens one.
struct TMP3StreamProbe {
    TMP3StreamValues Values;       // after the information-frame check
    TMP3FrameFormat Format;        // of the first frame
    TMP3VbrHeader VbrHeader;       // the information frame, if any
    int32_t FirstFrameOffset = 0;  // file offset of the first frame (the information frame's)
    int32_t FirstFrameLength = 0;  // its full length, padding slot included
    int32_t FirstFrameBitrate = 0; // its bit rate in bit/s, before an information frame clears it
    int32_t FreeFormatLength = 0;  // frame length without padding of a free-format stream, else 0
    int32_t Duration = 0;          // milliseconds, 0 when unknown
    int32_t WalkedFrames = -1;     // audio frames found by walking headers; -1 when not walked
};

// Reads the tags through `info` (which it attaches to `reader`), finds the first frame within
// 4096 bytes of the audio data, checks for an information frame and, when `walkFrames`, counts
// the audio frames by walking their headers to the end of the audio data. False when the stream
// is not MPEG audio. `reader` must be attached to a fresh stream.
bool ProbeStream(TMPStreamReader& reader, TMP3Info& info, TMP3StreamProbe& probe, bool walkFrames);

} // namespace pelbrisk
