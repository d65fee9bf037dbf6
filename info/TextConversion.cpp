#include "info/TextConversion.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <mutex>

namespace pelbrisk {

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& text, uint32_t codePoint) {
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        text += static_cast<char>(0xC0 | (codePoint >> 6));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += static_cast<char>(0xE0 | (codePoint >> 12));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (codePoint >> 18));
        text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

} // namespace

std::string Utf16ToUtf8(const uint8_t* bytes, size_t units, bool bigEndian) {
    size_t index = 0;
    auto unitAt = [&](size_t at) -> uint32_t {
        const uint8_t* unit = bytes + 2 * at;
        return bigEndian ? (uint32_t(unit[0]) << 8) | unit[1] : (uint32_t(unit[1]) << 8) | unit[0];
    };
    if (units > 0) {
        const uint32_t first = unitAt(0);
        if (first == 0xFEFF) {
            index = 1;
        } else if (first == 0xFFFE) {
            bigEndian = !bigEndian;
            index = 1;
        }
    }
    std::string text;
    text.reserve(units);
    for (; index < units; ++index) {
        const uint32_t unit = unitAt(index);
        if (unit == 0) break;
        if (IsHighSurrogate(unit) && index + 1 < units && IsLowSurrogate(unitAt(index + 1))) {
            const uint32_t low = unitAt(++index);
            AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(text, kReplacementCharacter);
        } else {
            AppendUtf8(text, unit);
        }
    }
    return text;
}

std::string FixedFieldText(const uint8_t* bytes, size_t count) {
    const auto* end = static_cast<const uint8_t*>(std::memchr(bytes, 0, count));
    size_t length = end == nullptr ? count : static_cast<size_t>(end - bytes);
    while (length > 0 && bytes[length - 1] <= 32)
        --length;
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::string Latin1ToUtf8(const uint8_t* bytes, size_t count) {
    std::string text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i)
        AppendUtf8(text, bytes[i]);
    return text;
}

namespace {

std::mutex codePageMutex;
std::string codePage; // empty: ISO-8859-1

// One iconv conversion to UTF-8, closed with its scope.
class TToUtf8 {
public:
    explicit TToUtf8(const std::string& from) : handle_(iconv_open("UTF-8", from.c_str())) {}
    ~TToUtf8() {
        if (Valid()) iconv_close(handle_);
    }
    TToUtf8(const TToUtf8&) = delete;
    TToUtf8& operator=(const TToUtf8&) = delete;
    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // What the code page cannot read, a byte at a time, becomes U+FFFD.
    std::string Convert(std::string_view bytes) {
        std::string text;
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        char piece[256];
        while (inLeft > 0) {
            char* out = piece;
            size_t outLeft = sizeof piece;
            const size_t result = iconv(handle_, &in, &inLeft, &out, &outLeft);
            text.append(piece, static_cast<size_t>(out - piece));
            if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
            AppendUtf8(text, kReplacementCharacter);
            ++in;
            --inLeft;
            iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        }
        return text;
    }

private:
    iconv_t handle_;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<uint8_t>(text[at]);
        size_t length;
        uint32_t low = 0x80;
        uint32_t high = 0xBF;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (at + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(text[at + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
        }
        at += length;
    }
    return true;
}

} // namespace

bool SetTagCodePage(std::string_view name) {
    const std::string wanted(name);
    if (!wanted.empty() && !TToUtf8(wanted).Valid()) return false;
    const std::lock_guard lock(codePageMutex);
    codePage = wanted;
    return true;
}

std::string TagCodePage() {
    const std::lock_guard lock(codePageMutex);
    return codePage;
}

std::string TagTextToUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    const std::string from = TagCodePage();
    if (from.empty())
        return Latin1ToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    TToUtf8 converter(from);
    return converter.Convert(bytes);
}

std::string TagFieldText(const uint8_t* bytes, size_t count) {
    return TagTextToUtf8(FixedFieldText(bytes, count));
}

namespace {

bool IsWide(uint8_t encoding) {
    return encoding == 1 || encoding == 2;
}

// The end of the value starting at `from`: its zero character, or `count`.
size_t ValueEnd(uint8_t encoding, const uint8_t* bytes, size_t from, size_t count) {
    if (!IsWide(encoding)) {
        const void* zero = std::memchr(bytes + from, 0, count - from);
        return zero == nullptr ? count
                               : static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes);
    }
    size_t at = from;
    while (at + 1 < count && (bytes[at] != 0 || bytes[at + 1] != 0))
        at += 2;
    return at + 1 < count ? at : count;
}

std::string ValueText(uint8_t encoding, const uint8_t* bytes, size_t count) {
    switch (encoding) {
    case 1:
    case 2:
        return Utf16ToUtf8(bytes, count / 2, encoding == 2);
    case 3:
        return std::string(reinterpret_cast<const char*>(bytes), count);
    default:
        return TagTextToUtf8(std::string_view(reinterpret_cast<const char*>(bytes), count));
    }
}

} // namespace

size_t Id3v2TextAfterTerminator(uint8_t encoding, const uint8_t* bytes, size_t count) {
    const size_t end = ValueEnd(encoding, bytes, 0, count);
    return std::min(count, end + (IsWide(encoding) ? 2 : 1));
}

std::string Id3v2Text(uint8_t encoding, const uint8_t* bytes, size_t count) {
    std::string joined;
    size_t from = 0;
    while (from < count) {
        const size_t end = ValueEnd(encoding, bytes, from, count);
        std::string value = ValueText(encoding, bytes + from, end - from);
        while (!value.empty() && static_cast<uint8_t>(value.back()) <= 32)
            value.pop_back();
        if (!value.empty()) {
            if (!joined.empty()) joined += " / ";
            joined += value;
        }
        from = end + (IsWide(encoding) ? 2 : 1);
    }
    return joined;
}

} // namespace pelbrisk
