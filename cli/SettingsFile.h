#pragma once

#include <string>

// What pelbrisk-cli takes from the window's settings file, so that both programs read a music
// library alike.
namespace pelbrisk::cli {

// The window's settings file as the window finds it, looked for from this program's folder: a
// "pelbrisk.ini" beside it when that folder may be written (an install into one folder), else
// $XDG_CONFIG_HOME/pelbrisk/pelbrisk.ini.
std::string SettingsFilePath();

// Takes the file's tag_code_page line (the last one counts, as in the window). An unknown code
// page is named on standard error and ISO-8859-1 stays.
void ApplyTagCodePageSetting();

} // namespace pelbrisk::cli
