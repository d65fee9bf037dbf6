#include "info/Id3v2Tag.h"

#include "info/ByteOrder.h"
#include "info/TextConversion.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

namespace pelbrisk {

namespace {

constexpr uint8_t kGroupedFlag = 0x40;
constexpr uint8_t kCompressedFlag = 0x08;
constexpr uint8_t kEncryptedFlag = 0x04;
constexpr uint8_t kUnsynchronisedFlag = 0x02;
constexpr uint8_t kDataLengthFlag = 0x01;
constexpr size_t kDataLengthBytes = 4;
constexpr size_t kLanguageBytes = 3;

// Version 2.2's frame IDs under the names that version 2.3 gave them.
constexpr std::pair<std::string_view, std::string_view> kId3v22Names[] = {
    {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"},
    {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"LNK", "LINK"}, {"MCI", "MCDI"}, {"MLL", "MLLT"},
    {"PIC", "APIC"}, {"POP", "POPM"}, {"REV", "RVRB"}, {"RVA", "RVAD"}, {"SLT", "SYLT"},
    {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"}, {"TCM", "TCOM"}, {"TCO", "TCON"},
    {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"}, {"TEN", "TENC"}, {"TFT", "TFLT"},
    {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"}, {"TMT", "TMED"},
    {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"},
    {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"},
    {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRD", "TRDA"}, {"TRK", "TRCK"}, {"TSI", "TSIZ"},
    {"TSS", "TSSE"}, {"TT1", "TIT1"}, {"TT2", "TIT2"}, {"TT3", "TIT3"}, {"TXT", "TEXT"},
    {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"}, {"ULT", "USLT"}, {"WAF", "WOAF"},
    {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"}, {"WPB", "WPUB"},
    {"WXX", "WXXX"}};

std::string FourLetterName(std::string id) {
    if (id.size() != 3) return id;
    for (const auto& [old, name] : kId3v22Names)
        if (id == old) return std::string(name);
    return id;
}

// The fixed-field text behind the last zero that lies before the field's final byte.
std::string TextAfterLastZero(const uint8_t* bytes, size_t count) {
    size_t start = 0;
    for (size_t at = 0; at + 1 < count; ++at)
        if (bytes[at] == 0) start = at + 1;
    return FixedFieldText(bytes + start, count - start);
}

// A UTF-16 comment: a language code, a description ended by a zero unit, then the text. Its
// units hold zero bytes of their own, so the last zero byte cannot find the text here.
std::string Utf16CommentText(const uint8_t* bytes, size_t count) {
    size_t at = kLanguageBytes;
    while (at + 1 < count && (bytes[at] != 0 || bytes[at + 1] != 0))
        at += 2;
    at += 2;
    if (at >= count) return {};
    return Utf16ToUtf8(bytes + at, (count - at) / 2);
}

// A user-defined text frame as "description=value", so that each reads by its description.
std::string UserTextValue(uint8_t encoding, const uint8_t* text, size_t textBytes) {
    const size_t skip = Id3v2TextAfterTerminator(encoding, text, textBytes);
    return Id3v2Text(encoding, text, skip) + "=" +
           Id3v2Text(encoding, text + skip, textBytes - skip);
}

// Version 2.3's rules: the value starts behind the encoding byte.
std::string Id3v23Value(const std::string& id, const std::vector<uint8_t>& body) {
    const uint8_t encoding = body[0];
    const uint8_t* text = body.data() + 1;
    const size_t textBytes = body.size() - 1;
    if (id == "TXXX") return UserTextValue(encoding, text, textBytes);
    if (!id.empty() && id[0] == 'T' && encoding == 1) return Utf16ToUtf8(text, textBytes / 2);
    if (id == "COMM" && encoding == 1) return Utf16CommentText(text, textBytes);
    if (id == "COMM" || id == "WXXX") return TagTextToUtf8(TextAfterLastZero(text, textBytes));
    return TagFieldText(text, textBytes);
}

// Versions 2.2 and 2.4: text in its encoding, comments and lyrics behind their description,
// links in ISO-8859-1 with no encoding byte.
std::string DecodedValue(const std::string& id, const std::vector<uint8_t>& body) {
    const uint8_t encoding = body[0];
    const uint8_t* text = body.data() + 1;
    const size_t textBytes = body.size() - 1;
    if (id == "TXXX") return UserTextValue(encoding, text, textBytes);
    if (id[0] == 'T') return Id3v2Text(encoding, text, textBytes);
    if (id == "COMM" || id == "USLT") {
        if (textBytes < kLanguageBytes) return {};
        const uint8_t* described = text + kLanguageBytes;
        const size_t describedBytes = textBytes - kLanguageBytes;
        const size_t skip = Id3v2TextAfterTerminator(encoding, described, describedBytes);
        return Id3v2Text(encoding, described + skip, describedBytes - skip);
    }
    if (id == "WXXX") {
        const size_t skip = Id3v2TextAfterTerminator(encoding, text, textBytes);
        return Id3v2Text(0, text + skip, textBytes - skip);
    }
    if (id[0] == 'W') return Id3v2Text(0, body.data(), body.size());
    return FixedFieldText(text, textBytes);
}

} // namespace

int32_t Id3v2TagBytes(const uint8_t* header) {
    if (header[0] != 'I' || header[1] != 'D' || header[2] != '3') return 0;
    if (header[3] < 2 || header[3] > 4 || header[4] == 0xFF) return 0;
    if ((header[6] | header[7] | header[8] | header[9]) >= 0x80) return 0;
    const bool footer = header[3] == 4 && (header[5] & 0x10) != 0;
    return static_cast<int32_t>(10 + Id3v2SyncSafe(header + 6) + (footer ? 10 : 0));
}

uint32_t Id3v2SyncSafe(const uint8_t* bytes) {
    return (uint32_t(bytes[0] & 0x7F) << 21) | (uint32_t(bytes[1] & 0x7F) << 14) |
           (uint32_t(bytes[2] & 0x7F) << 7) | (bytes[3] & 0x7F);
}

void Resynchronise(std::vector<uint8_t>& bytes) {
    size_t kept = 0;
    uint8_t previous = 0;
    for (const uint8_t byte : bytes) {
        if (previous != 0xFF || byte != 0) bytes[kept++] = byte;
        previous = byte;
    }
    bytes.resize(kept);
}

TId3v2Frames::TId3v2Frames(TMPStreamReader& reader, int64_t tagEnd, uint8_t version,
                           bool unsynchronised)
    : reader_(reader), tagEnd_(tagEnd), version_(version), unsynchronised_(unsynchronised) {}

bool TId3v2Frames::ReadBody(int64_t count, std::vector<uint8_t>& out) {
    // Version 2.4 unsynchronises each frame's data, not the frame headers.
    if (!unsynchronised_ || version_ == 4) {
        if (count > Left()) return false;
        return ReadStreamBytes(reader_, count, out);
    }
    while (static_cast<int64_t>(out.size()) < count) {
        if (Left() <= 0 || !reader_.Require(1)) return false;
        const uint8_t byte = *reader_.Data();
        reader_.Skip(1);
        if (!afterFF_ || byte != 0) out.push_back(byte);
        afterFF_ = byte == 0xFF;
    }
    return true;
}

bool TId3v2Frames::SkipBody(int64_t count) {
    if (!unsynchronised_ || version_ == 4) {
        if (count > Left()) return false;
        return reader_.Skip(static_cast<int32_t>(count));
    }
    for (int64_t skipped = 0; skipped < count;) {
        if (Left() <= 0 || !reader_.Require(1)) return false;
        const uint8_t byte = *reader_.Data();
        reader_.Skip(1);
        if (!afterFF_ || byte != 0) ++skipped;
        afterFF_ = byte == 0xFF;
    }
    return true;
}

std::string TId3v2Frames::FrameValue(const std::string& id, uint8_t formatFlags,
                                     std::vector<uint8_t>& body) {
    if (version_ == 3) return Id3v23Value(id, body);
    if (version_ == 4) {
        if (unsynchronised_ || (formatFlags & kUnsynchronisedFlag) != 0) Resynchronise(body);
        size_t prefix = (formatFlags & kGroupedFlag) != 0 ? 1 : 0;
        if ((formatFlags & kEncryptedFlag) != 0) ++prefix;
        if ((formatFlags & kDataLengthFlag) != 0) prefix += kDataLengthBytes;
        body.erase(body.begin(),
                   body.begin() + static_cast<std::ptrdiff_t>(std::min(prefix, body.size())));
    }
    if (body.empty() || id.empty()) return {};
    return DecodedValue(id, body);
}

bool TId3v2Frames::Read(std::vector<std::string>& lines) {
    const int64_t headerBytes = version_ == 2 ? 6 : 10;
    const size_t idBytes = version_ == 2 ? 3 : 4;
    std::vector<uint8_t> header;
    std::vector<uint8_t> body;
    while (Left() >= headerBytes) {
        header.clear();
        if (!ReadBody(headerBytes, header)) return false;
        if (header[0] == 0) {
            // Padding runs to the tag's end.
            if (!reader_.Skip(static_cast<int32_t>(std::min<int64_t>(Left(), INT32_MAX))))
                return false;
            break;
        }
        // iTunes writes version 2.2's three-letter names into version 2.3 tags.
        std::string id = FourLetterName(FixedFieldText(header.data(), idBytes));
        int64_t size;
        if (version_ == 2)
            size = BigEndian(header.data() + 3, 3);
        else if (version_ == 4)
            size = Id3v2SyncSafe(header.data() + 4);
        else
            size = static_cast<int32_t>(BigEndian(header.data() + 4, 4));
        if (size < 0) return false;
        if (size == 0) continue; // an empty frame says nothing, and the next follows it
        const uint8_t formatFlags = version_ == 4 ? header[9] : 0;
        const bool unreadable = (formatFlags & (kCompressedFlag | kEncryptedFlag)) != 0;
        const bool picture = wantPicture_ && id == "APIC" && size <= kLargestPicture;
        if ((reader_.Capacity() >= size + headerBytes || picture) && !unreadable) {
            body.clear();
            if (!ReadBody(size, body)) return false;
            const std::string value = FrameValue(id, formatFlags, body);
            // A user-defined text is named by its description: "TXXX:description=value".
            const bool described = id == "TXXX" && value.find('=') != std::string::npos;
            lines.push_back(id + (described ? ":" : "=") + value);
            if (id == "RVA2") ReadRva2(body.data(), body.size(), rva2_);
            TTagPicture found;
            if (picture && ReadPictureFrame(body.data(), body.size(), version_ == 2, found))
                KeepBetterPicture(picture_, std::move(found));
        } else if (!SkipBody(size)) {
            return false;
        }
    }
    return Left() == 0;
}

} // namespace pelbrisk
