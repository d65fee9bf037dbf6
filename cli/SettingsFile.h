#pragma once

// What pelbrisk-cli takes from the window's settings file, so that both programs read a music
// library alike.
namespace pelbrisk::cli {

// Takes the tag_code_page line of the settings file the window reads (the last one counts, as in
// the window), found from this program's folder by the window's own rule. An unknown code page is
// named on standard error and ISO-8859-1 stays.
void ApplyTagCodePageSetting();

} // namespace pelbrisk::cli
