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

// Reads the items in [start, itemsEnd) as far as they are sound.
void ReadItems(TMPStreamReader& reader, int64_t start, int64_t itemsEnd, uint32_t count,
               std::vector<std::string>& lines) {
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
        if (((flags >> 1) & 3) != kBinaryItem && valueBytes <= reader.Capacity()) {
            reader.Seek(static_cast<int32_t>(valueStart), msoFromBeginning);
            const auto length = static_cast<int32_t>(valueBytes);
            if (!reader.Require(length)) return;
            lines.push_back(name + "=" + Id3v2Text(3, reader.Data(), static_cast<size_t>(length)));
        }
        at = valueStart + valueBytes;
    }
}

} // namespace

int64_t ReadApeTag(TMPStreamReader& reader, int64_t end, std::vector<std::string>& lines) {
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
    ReadItems(reader, itemsStart, footerStart, count, lines);
    return tagStart;
}

} // namespace pelbrisk
