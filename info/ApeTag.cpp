#include "info/ApeTag.h"

#include "info/ByteOrder.h"
#include "info/TextConversion.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk {

namespace {

constexpr int32_t kApeFooterBytes = 32; // and of the header
constexpr uint32_t kHasHeaderFlag = 1u << 31;
constexpr int32_t kItemHeaderBytes = 8;
constexpr int32_t kLongestKey = 255;
constexpr uint32_t kBinaryItem = 1;

bool IsApePreamble(const uint8_t* bytes) {
    return std::memcmp(bytes, "APETAGEX", 8) == 0;
}

bool IsFrontCoverKey(const std::string& key) {
    static constexpr char kFrontCover[] = "cover art (front)";
    return key.size() == sizeof kFrontCover - 1 &&
           std::equal(key.begin(), key.end(), kFrontCover, [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
           });
}

// A binary cover item's value: the file name it came from, a zero, then the picture.
void ReadCoverItem(TMPStreamReader& reader, int64_t valueStart, int64_t valueBytes,
                   TTagPicture& picture) {
    reader.Seek(static_cast<int32_t>(valueStart), msoFromBeginning);
    std::vector<uint8_t> value;
    if (!ReadStreamBytes(reader, valueBytes, value)) return;
    const auto zero = std::find(value.begin(), value.end(), uint8_t{0});
    if (zero == value.end()) return;
    TTagPicture found;
    found.MimeType = PictureMimeType(&*zero + 1, static_cast<size_t>(value.end() - zero - 1));
    if (found.MimeType.empty()) return;
    found.Type = kFrontCover;
    found.Data.assign(zero + 1, value.end());
    KeepBetterPicture(picture, std::move(found));
}

// Reads the items in [start, itemsEnd) as far as they are sound.
void ReadItems(TMPStreamReader& reader, int64_t start, int64_t itemsEnd, uint32_t count,
               std::vector<std::string>& lines, TTagPicture* picture) {
    int64_t at = start;
    for (uint32_t item = 0; item < count && itemsEnd - at > kItemHeaderBytes; ++item) {
        reader.Seek(static_cast<int32_t>(at), msoFromBeginning);
        const auto headerAndKey = static_cast<int32_t>(
            std::min<int64_t>(itemsEnd - at, kItemHeaderBytes + kLongestKey + 1));
        if (!reader.Require(headerAndKey)) return;
        const uint8_t* bytes = reader.Data();
        const int64_t valueBytes = LittleEndian32(bytes);
        const uint32_t flags = LittleEndian32(bytes + 4);
        const auto* key = bytes + kItemHeaderBytes;
        const auto* zero = static_cast<const uint8_t*>(
            std::memchr(key, 0, static_cast<size_t>(headerAndKey - kItemHeaderBytes)));
        if (zero == nullptr || zero == key) return;
        const std::string name(reinterpret_cast<const char*>(key), static_cast<size_t>(zero - key));
        const int64_t valueStart = at + kItemHeaderBytes + (zero - key) + 1;
        if (valueBytes > itemsEnd - valueStart) return;
        const bool binary = ((flags >> 1) & 3) == kBinaryItem;
        if (binary && picture != nullptr && valueBytes <= kLargestPicture && IsFrontCoverKey(name))
            ReadCoverItem(reader, valueStart, valueBytes, *picture);
        if (!binary && valueBytes <= reader.Capacity()) {
            reader.Seek(static_cast<int32_t>(valueStart), msoFromBeginning);
            const auto length = static_cast<int32_t>(valueBytes);
            if (!reader.Require(length)) return;
            lines.push_back(name + "=" + Id3v2Text(3, reader.Data(), static_cast<size_t>(length)));
        }
        at = valueStart + valueBytes;
    }
}

} // namespace

int64_t ReadApeTag(TMPStreamReader& reader, int64_t end, std::vector<std::string>& lines,
                   TTagPicture* picture) {
    const int64_t footerStart = end - kApeFooterBytes;
    if (footerStart < 0 || end > reader.Size()) return -1;
    reader.Seek(static_cast<int32_t>(footerStart), msoFromBeginning);
    if (!reader.Require(kApeFooterBytes) || !IsApePreamble(reader.Data())) return -1;
    const uint8_t* footer = reader.Data();
    const int64_t size = LittleEndian32(footer + 12); // items and footer
    const uint32_t count = LittleEndian32(footer + 16);
    const uint32_t flags = LittleEndian32(footer + 20);
    const int64_t itemsStart = end - size;
    if (size < kApeFooterBytes || itemsStart < 0) return -1;
    int64_t tagStart = itemsStart;
    if ((flags & kHasHeaderFlag) != 0) {
        tagStart -= kApeFooterBytes;
        if (tagStart < 0) return -1;
        reader.Seek(static_cast<int32_t>(tagStart), msoFromBeginning);
        if (!reader.Require(kApeFooterBytes) || !IsApePreamble(reader.Data())) return -1;
    }
    ReadItems(reader, itemsStart, footerStart, count, lines, picture);
    return tagStart;
}

} // namespace pelbrisk
