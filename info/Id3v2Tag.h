#pragma once

#include "stream/StreamReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelbrisk {

// The frames of an ID3v2 tag of version 2.2, 2.3 or 2.4, read through the stream reader from the
// head to the tag's end: each readable frame gives one "ID=value" line. Versions 2.2 and 2.4
// decode their text to UTF-8 (several values joined with " / "), and 2.2's three-letter IDs
// become the four-letter names of the later versions; version 2.3 keeps its own rules.
// Unsynchronisation is undone, of the whole tag (2.2, 2.3) or of each frame (2.4). Frames larger
// than the reader holds are passed over unread; nothing is read beyond the tag's end.
class TId3v2Frames {
public:
    TId3v2Frames(TMPStreamReader& reader, int64_t tagEnd, uint8_t version, bool unsynchronised);

    // Adds the lines of the frames from the head on; true when the frames and their padding end
    // exactly at the tag's end.
    bool Read(std::vector<std::string>& lines);

private:
    int64_t Left() const { return tagEnd_ - reader_.Position(); }
    bool ReadBody(int64_t count, std::vector<uint8_t>& out);
    bool SkipBody(int64_t count);
    std::string FrameValue(const std::string& id, uint8_t formatFlags, std::vector<uint8_t>& body);

    TMPStreamReader& reader_;
    int64_t tagEnd_;
    uint8_t version_;
    bool unsynchronised_;
    bool afterFF_ = false; // the last byte read of an unsynchronised tag was 0xFF
};

// A 28-bit number written 7 bits to a byte, as version 2.4 writes its sizes.
uint32_t Id3v2SyncSafe(const uint8_t* bytes);

// Undoes unsynchronisation in place: every zero byte that follows a 0xFF byte goes.
void Resynchronise(std::vector<uint8_t>& bytes);

} // namespace pelbrisk
