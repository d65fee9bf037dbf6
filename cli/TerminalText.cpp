#include "cli/TerminalText.h"

#include <cstdio>

namespace pelbrisk::cli {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

} // namespace

size_t Utf8SequenceLength(std::string_view text, size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) return 1;
    const size_t length = byte >= 0xF0 && byte <= 0xF4   ? 4
                          : byte >= 0xE0 && byte <= 0xEF ? 3
                          : byte >= 0xC2 && byte <= 0xDF ? 2
                                                         : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
    return length;
}

std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const size_t length = Utf8SequenceLength(text, at);
        // U+0080..U+009F are C2 80..C2 9F in UTF-8; a lone byte 0x80..0x9F is an 8-bit C1.
        const bool control =
            byte < 0x20 || byte == 0x7F ||
            (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) ||
            (length == 0 && byte < 0xA0);
        const size_t taken = length == 0 ? 1 : length;
        if (control)
            out += kReplacement;
        else
            out.append(text, at, taken);
        at += taken;
    }
    return out;
}

void PrintError(std::string_view message, const char* lead) {
    std::fprintf(stderr, "%spelbrisk-cli: %s\n", lead, TerminalText(message).c_str());
}

} // namespace pelbrisk::cli
