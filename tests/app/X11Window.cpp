// Kept apart from the tests themselves: Xlib's macros (None, Status, KeyPress) clash with Qt's.
#include "tests/app/X11Window.h"

#include <X11/Xlib.h>

namespace pelbrisk::test {

bool CloseX11Window(const std::string& display, unsigned long window) {
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, window, False, NoEventMask, &event);
    XFlush(connection);
    XCloseDisplay(connection);
    return true;
}

} // namespace pelbrisk::test
