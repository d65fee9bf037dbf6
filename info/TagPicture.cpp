#include "info/TagPicture.h"

#include "info/TextConversion.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk {

namespace {

constexpr uint8_t kJpegStart[] = {0xFF, 0xD8, 0xFF};
constexpr uint8_t kPngStart[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

} // namespace

std::string PictureMimeType(const uint8_t* data, size_t size) {
    if (size >= sizeof kJpegStart && std::memcmp(data, kJpegStart, sizeof kJpegStart) == 0)
        return "image/jpeg";
    if (size >= sizeof kPngStart && std::memcmp(data, kPngStart, sizeof kPngStart) == 0)
        return "image/png";
    return {};
}

bool ReadPictureFrame(const uint8_t* body, size_t size, bool threeLetterFormat,
                      TTagPicture& picture) {
    if (size < 2) return false;
    const uint8_t encoding = body[0];
    // The MIME type is ISO-8859-1 whatever the encoding; version 2.2 names a format instead.
    size_t at = threeLetterFormat ? 4 : 1 + Id3v2TextAfterTerminator(0, body + 1, size - 1);
    if (at >= size) return false;
    const int32_t type = body[at++];
    at += Id3v2TextAfterTerminator(encoding, body + at, size - at);
    if (at >= size) return false;
    const std::string mimeType = PictureMimeType(body + at, size - at);
    if (mimeType.empty()) return false;
    picture.MimeType = mimeType;
    picture.Type = type;
    picture.Data.assign(body + at, body + size);
    return true;
}

void KeepBetterPicture(TTagPicture& kept, TTagPicture&& found) {
    if (found.Empty()) return;
    if (kept.Empty() || (found.Type == kFrontCover && kept.Type != kFrontCover))
        kept = std::move(found);
}

bool ReadStreamBytes(TMPStreamReader& reader, int64_t count, std::vector<uint8_t>& out) {
    while (count > 0) {
        const auto piece = static_cast<int32_t>(std::min<int64_t>(count, reader.Capacity()));
        if (!reader.Require(piece)) return false;
        out.insert(out.end(), reader.Data(), reader.Data() + piece);
        if (!reader.Skip(piece)) return false;
        count -= piece;
    }
    return true;
}

} // namespace pelbrisk
