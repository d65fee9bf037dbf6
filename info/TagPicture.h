#pragma once

#include "stream/StreamReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelbrisk {

// A picture a tag carries: its bytes and what the tag says of it. Only JPEG and PNG pictures are
// taken, by what their bytes begin with; the tag's MIME type is not trusted.
struct TTagPicture {
    std::string MimeType; // "image/jpeg" or "image/png"
    int32_t Type = -1;    // ID3v2's picture type: 3 is the front cover; -1 unknown
    std::vector<uint8_t> Data;
    bool Empty() const { return Data.empty(); }
};

inline constexpr int32_t kFrontCover = 3;
// Pictures beyond this are passed over: no cover needs more, and a damaged size may say anything.
inline constexpr int64_t kLargestPicture = 16 << 20;

// "image/jpeg" or "image/png" by the picture's first bytes; empty for anything else.
std::string PictureMimeType(const uint8_t* data, size_t size);

// The body of an ID3v2 APIC frame, or of version 2.2's PIC frame (`threeLetterFormat`): its
// encoding, MIME type (or image format), picture type, description and picture. False for a
// body that holds no JPEG or PNG picture.
bool ReadPictureFrame(const uint8_t* body, size_t size, bool threeLetterFormat,
                      TTagPicture& picture);

// The front cover wins over other pictures, and the first over later ones of its kind.
void KeepBetterPicture(TTagPicture& kept, TTagPicture&& found);

// Appends `count` bytes from the reader's head, in pieces the reader holds; false when the
// stream ends first.
bool ReadStreamBytes(TMPStreamReader& reader, int64_t count, std::vector<uint8_t>& out);

} // namespace pelbrisk
