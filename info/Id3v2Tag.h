#pragma once

#include "info/ReplayGain.h"
#include "info/TagPicture.h"
#include "stream/StreamReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelbrisk {

// The frames of an ID3v2 tag of version 2.2, 2.3 or 2.4, read through the stream reader from the
// head to the tag's end: each readable frame gives one "ID=value" line, its text as UTF-8.
// Versions 2.2 and 2.4 join several values with " / "; version 2.3 keeps its own rules. A
// user-defined text frame gives "TXXX:description=value". The
// three-letter IDs of version 2.2 become the four-letter names of the later versions, in any
// version's tag; a frame of size 0 is passed over.
// Unsynchronisation is undone, of the whole tag (2.2, 2.3) or of each frame (2.4). Frames larger
// than the reader holds are passed over unread; nothing is read beyond the tag's end.
class TId3v2Frames {
public:
    TId3v2Frames(TMPStreamReader& reader, int64_t tagEnd, uint8_t version, bool unsynchronised);

    // Adds the lines of the frames from the head on; true when the frames and their padding end
    // exactly at the tag's end.
    bool Read(std::vector<std::string>& lines);
    // The gain of the first RVA2 frame of each kind read.
    const TReplayGain& Rva2() const { return rva2_; }
    // With `want`, APIC (PIC) frames up to kLargestPicture are read whatever the reader holds,
    // and the front cover, else the first picture, is kept.
    void WantPicture(bool want) { wantPicture_ = want; }
    TTagPicture& Picture() { return picture_; }

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
    TReplayGain rva2_;
    bool wantPicture_ = false;
    TTagPicture picture_;
};

// The bytes of the ID3v2 tag whose 10-byte header is at `header` (its footer included), or 0 when
// the bytes are no sound tag header of version 2.2 to 2.4: how a tag met inside the audio data
// (files joined together) is passed over whole.
int32_t Id3v2TagBytes(const uint8_t* header);

// A 28-bit number written 7 bits to a byte, as version 2.4 writes its sizes.
uint32_t Id3v2SyncSafe(const uint8_t* bytes);

// Undoes unsynchronisation in place: every zero byte that follows a 0xFF byte goes.
void Resynchronise(std::vector<uint8_t>& bytes);

} // namespace pelbrisk
