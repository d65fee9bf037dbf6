#pragma once

#include <QString>

namespace pelbrisk {

// The box's placeholder: what typing in it does.
inline constexpr const char* kCommandBoxPlaceholder = "type to search, / searches deep, :help";

// What the empty folder tree says, before any music folder is known: how to add one, and where
// the settings are.
QString EmptyTreeText(const QString& settingsFile);

// The keys and commands, as ":help" shows them, and where the settings are.
QString HelpText(const QString& settingsFile);

} // namespace pelbrisk
