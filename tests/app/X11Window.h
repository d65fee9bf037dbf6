#pragma once

#include <string>

namespace pelbrisk::test {

// Asks a top-level window to close as a window manager's close box does (WM_DELETE_WINDOW), on
// the X display named `display`. False when the display cannot be opened.
bool CloseX11Window(const std::string& display, unsigned long window);

// Whether another client already holds a passive grab of the key `keysymName` ("K", "Down")
// with exactly these X modifier bits (ShiftMask 1, ControlMask 4, Mod1Mask 8) on the root
// window: a grab of our own is then refused. False when the display cannot be opened.
bool KeyGrabbedElsewhere(const std::string& display, const std::string& keysymName,
                         unsigned modifiers);

} // namespace pelbrisk::test
