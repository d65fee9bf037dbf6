#pragma once

#include "info/FrameSearch.h"
#include "info/MP3Info.h"
#include "info/VbrHeader.h"
#include "stream/StreamReader.h"

#include <cstdint>

namespace pelbrisk {

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

// The values of a stream whose audio `info` has located (TMP3Info::LocateAudio) at `first`, before
// the information-frame check: the audio data from the first frame on, and that frame.
TMP3StreamValues FirstFrameValues(const TMP3Info& info, const TFirstFrame& first);

// The file offset where audio data of `dataLength` bytes from `dataStart` ends; INT32_MAX while
// its length is unknown.
int64_t DataEndOf(int32_t dataStart, int32_t dataLength);

// Reads the tags through `info` (which it attaches to `reader`) and finds the first frame as the
// player does, checks for an information frame and, when `walkFrames`, counts the audio frames
// by walking them to the end of the audio data. False when the stream is not MPEG audio; the
// tags that were read stay in `info` all the same. `reader` must be attached to a fresh stream.
bool ProbeStream(TMPStreamReader& reader, TMP3Info& info, TMP3StreamProbe& probe, bool walkFrames);

} // namespace pelbrisk
