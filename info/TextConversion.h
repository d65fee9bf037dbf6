#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelbrisk {

// Turns `units` 16-bit code units at `bytes` (little-endian unless a byte-order mark says
// otherwise) into UTF-8, our system code page. A leading byte-order mark chooses the byte order
// and is dropped; an unpaired surrogate becomes U+FFFD; a zero unit ends the text.
std::string Utf16ToUtf8(const uint8_t* bytes, size_t units);

// Appends the UTF-8 form of one code point (at most U+10FFFF).
void AppendUtf8(std::string& text, uint32_t codePoint);

} // namespace pelbrisk
