#pragma once

#include <QString>

namespace pelbrisk {

// The box's placeholder: what typing in it does.
inline constexpr const char* kCommandBoxPlaceholder = "type to search, / searches deep, :help";
// What the empty folder tree says, before any music folder is known.
inline constexpr const char* kEmptyTreeText =
    "No music yet.\n\nDrop a music folder here,\nor add a line\n  root = /path/to/music\n"
    "to pelbrisk.ini.";

// The keys and commands, as ":help" shows them.
QString HelpText();

} // namespace pelbrisk
