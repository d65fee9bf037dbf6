#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelbrisk {

// Turns `units` 16-bit code units at `bytes` (little-endian, or big-endian when `bigEndian`,
// unless a byte-order mark says otherwise) into UTF-8, our system code page. A leading
// byte-order mark chooses the byte order and is dropped; an unpaired surrogate becomes U+FFFD; a
// zero unit ends the text.
std::string Utf16ToUtf8(const uint8_t* bytes, size_t units, bool bigEndian = false);

// At most `count` bytes up to the first zero, without trailing characters of code 32 or less.
std::string FixedFieldText(const uint8_t* bytes, size_t count);

// ISO-8859-1 bytes as UTF-8.
std::string Latin1ToUtf8(const uint8_t* bytes, size_t count);

// The text of an ID3v2 frame in `encoding` (0 ISO-8859-1, 1 UTF-16 with a byte-order mark,
// 2 UTF-16BE, 3 UTF-8; an unknown code is read as 0) as UTF-8. Its values, each ended by a zero
// character, are joined with " / ", empty ones left out, trailing blanks trimmed.
std::string Id3v2Text(uint8_t encoding, const uint8_t* bytes, size_t count);
// Where the text behind the first zero character of `encoding` starts; `count` when none.
size_t Id3v2TextAfterTerminator(uint8_t encoding, const uint8_t* bytes, size_t count);

} // namespace pelbrisk
