// Kept apart from the tests themselves: Xlib's macros (None, Status, KeyPress) clash with Qt's.
#include "tests/app/X11Window.h"

#include <X11/Xlib.h>

namespace pelbrisk::test {

namespace {

bool grabRefused = false;

int NoteRefusal(Display*, XErrorEvent* error) {
    if (error->error_code == BadAccess) grabRefused = true;
    return 0;
}

} // namespace

bool KeyGrabbedElsewhere(const std::string& display, const std::string& keysymName,
                         unsigned modifiers) {
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection) return false;
    const KeyCode key = XKeysymToKeycode(connection, XStringToKeysym(keysymName.c_str()));
    const Window root = DefaultRootWindow(connection);
    XSync(connection, False);
    grabRefused = false;
    const XErrorHandler previous = XSetErrorHandler(NoteRefusal);
    XGrabKey(connection, key, modifiers, root, False, GrabModeAsync, GrabModeAsync);
    XSync(connection, False);
    if (!grabRefused) XUngrabKey(connection, key, modifiers, root);
    XSync(connection, False);
    XSetErrorHandler(previous);
    XCloseDisplay(connection);
    return key != 0 && grabRefused;
}

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
