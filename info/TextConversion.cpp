#include "info/TextConversion.h"

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

std::string Utf16ToUtf8(const uint8_t* bytes, size_t units) {
    bool bigEndian = false;
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
            bigEndian = true;
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

} // namespace pelbrisk
