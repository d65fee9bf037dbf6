#pragma once

#include <string>

// Where pelbrisk and pelbrisk-cli find the settings file: both call this, so that they read the
// same file.
namespace pelbrisk {

// The folder that holds the running program's file, its links resolved; empty when the system does
// not say.
std::string ProgramFolder();

// "pelbrisk.ini" in `programFolder` when one is there already, as a portable install keeps it;
// otherwise $XDG_CONFIG_HOME/pelbrisk/pelbrisk.ini, with ~/.config where that variable is unset or
// not an absolute path.
std::string SettingsFilePath(const std::string& programFolder);

} // namespace pelbrisk
