#pragma once

#include "info/FrameHeader.h"
#include "stream/StreamReader.h"

#include <cstdint>

namespace pelbrisk {

// How many bytes that are no frame the first-frame search looks past (counted from the end of
// the head tags), and how many in a row a frame walk skips before it takes the audio data to be
// over.
inline constexpr int32_t kFirstFrameSearchBytes = 4096;
inline constexpr int32_t kResyncLimit = 4096;

// Measures the frame at `bytes` against the first frame's four header bytes: the frame's full
// length (padding slot included), or 0 or less when it is no frame of the same stream. Version,
// layer and sampling frequency must match the reference; bit rate, padding and mode may change.
// A free-format header alone cannot tell its frame's length, so `freeFormatLength` carries the
// length (without the padding slot) that the search found at the first frame; 0 for streams
// whose bit rate is coded.
int32_t CheckFrame(const uint8_t* bytes, const uint8_t reference[4], TMP3FrameHeader& header,
                   int32_t freeFormatLength);

// The first frame of a stream and what the frames after it are measured against.
struct TFirstFrame {
    TMP3FrameHeader Header;
    uint8_t Reference[4] = {};
    int32_t Length = 0;           // full length, padding slot included
    int32_t Bitrate = 0;          // bit/s
    int32_t FreeFormatLength = 0; // frame length without padding of a free-format stream, else 0
};

// The one search for a stream's first frame, from the reader's head (behind the head tags) and
// at most kFirstFrameSearchBytes on. A header counts only where the frame behind it starts with
// a header of the same version, layer and sampling frequency, or where the audio data ends right
// behind it (a stream of one frame): bytes that merely look like a sync (0xFF runs, a cover
// picture's markers, a byte-order mark) are passed over. `dataEnd` is the file offset where the
// audio data ends, or INT32_MAX when the stream's end tells. On success the head is at the frame
// and the whole frame is contiguous there.
bool FindFirstFrame(TMPStreamReader& reader, int64_t dataEnd, TFirstFrame& first);

// The channels the stream's frames hold, 1 or 2, judged by the frames from the head on that the
// reader holds at once (of a seekable stream the first 64 KiB, of a pipe what has come): 2 when
// any of them has two, so that a stream whose first frames have one channel and whose later
// frames have two is played with both. The head stays on the first frame.
int32_t StreamChannels(TMPStreamReader& reader, const TFirstFrame& first);

// Steps through the frames of the stream whose first frame is `first`, as playing, seeking and
// counting do.
class TFrameWalk {
public:
    TFrameWalk() = default;
    explicit TFrameWalk(const TFirstFrame& first);

    // From the head: passes over bytes that are no frame of the stream, at most kResyncLimit in
    // a row, and ID3v2 tags whole, and returns the full length of the frame found there, with
    // its bytes contiguous at the head and its header in `header`. 0 when the audio data is
    // over: the head has reached `dataEnd`, the frame would run past the stream's end, or no
    // frame came within the limit.
    int32_t Next(TMPStreamReader& reader, int64_t dataEnd, TMP3FrameHeader& header) const;

private:
    uint8_t reference_[4] = {};
    int32_t freeFormatLength_ = 0;
};

// The bytes of the ID3v2 tag that starts at the head (Id3v2TagBytes), or 0; the head stays.
int32_t TagAtHead(TMPStreamReader& reader);

} // namespace pelbrisk
