#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// The code page of tag text that declares none: ID3v1, Lyrics3, RIFF INFO and ID3v2's encoding
// 0. The formats say ISO-8859-1, but legacy collections hold them in a local code page
// (Shift_JIS, GBK, windows-1251). One setting for the process, as the user's is: ISO-8859-1
// until set. Any name the system's iconv knows is taken; false, leaving the setting as it was,
// for a name it does not know. An empty name sets ISO-8859-1 again.
bool SetTagCodePage(std::string_view name);
// The name set; empty while it is ISO-8859-1 by default.
std::string TagCodePage();

// Tag text in the tag code page as UTF-8. Bytes that already form valid UTF-8 stay as they are
// (taggers write it where the format does not allow it); a byte the code page cannot read
// becomes U+FFFD.
std::string TagTextToUtf8(std::string_view bytes);
// The fixed-field text of `count` bytes of tag text, as UTF-8.
std::string TagFieldText(const uint8_t* bytes, size_t count);

// The text of an ID3v2 frame in `encoding` (0 ISO-8859-1, 1 UTF-16 with a byte-order mark,
// 2 UTF-16BE, 3 UTF-8; an unknown code is read as 0) as UTF-8. Its values, each ended by a zero
// character, are joined with " / ", empty ones left out, trailing blanks trimmed.
std::string Id3v2Text(uint8_t encoding, const uint8_t* bytes, size_t count);
// Where the text behind the first zero character of `encoding` starts; `count` when none.
size_t Id3v2TextAfterTerminator(uint8_t encoding, const uint8_t* bytes, size_t count);

} // namespace pelbrisk
