#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelbrisk::cli {

// Bytes of the well-formed UTF-8 sequence that starts at `at`; 0 when none starts there.
size_t Utf8SequenceLength(std::string_view text, size_t at);

// Text from a file (a tag, a file name) as it may go to a terminal: every control character
// (C0, DEL and C1, as UTF-8 or as a lone byte) becomes U+FFFD, so that no tag can move the
// cursor, clear the screen or retitle the window. Other bytes stay as they are.
std::string TerminalText(std::string_view text);

// "pelbrisk-cli: `message`" as one line on standard error, after `lead` (which may end a status
// line). The message goes through TerminalText: it quotes file names and the engine's texts,
// which may hold any byte.
void PrintError(std::string_view message, const char* lead = "");

} // namespace pelbrisk::cli
