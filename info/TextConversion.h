#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelbrisk {

// Turns `units` 16-bit code units at `bytes` (little-endian unless a byte-order mark says
// otherwise) into UTF-8, our system code page. A leading byte-order mark chooses the byte order
// and is dropped; an unpaired surrogate becomes U+FFFD; a zero unit ends the text.
std::string Utf16ToUtf8(const uint8_t* bytes, size_t units);

} // namespace pelbrisk
