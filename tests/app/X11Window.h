#pragma once

#include <string>

namespace pelbrisk::test {

// Asks a top-level window to close as a window manager's close box does (WM_DELETE_WINDOW), on
// the X display named `display`. False when the display cannot be opened.
bool CloseX11Window(const std::string& display, unsigned long window);

} // namespace pelbrisk::test
