// Kept apart from the tests themselves: Xlib's macros (None, Status, KeyPress) clash with Qt's.
#include "tests/app/X11Window.h"

#include <X11/Xlib.h>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace pelbrisk::test {

TChild::TChild(const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, const std::filesystem::path& output) {
    std::vector<std::string> variables = environment;
    for (char** variable = environ; *variable; ++variable)
        variables.emplace_back(*variable); // earlier entries win for getenv
    std::vector<char*> argv, envp;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    for (const auto& variable : variables)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

TChild::~TChild() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool TChild::WaitForExit(std::chrono::milliseconds limit, int& status) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) return exited_ = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void TChild::Signal(int signal) const {
    if (pid_ > 0 && !exited_) ::kill(pid_, signal);
}

TVirtualDisplay::TVirtualDisplay(const std::filesystem::path& log) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    server_ = std::make_unique<TChild>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 "800x600x24", "-nolisten", "tcp"},
        std::vector<std::string>{}, log); // the pipe's write end is inherited as it is
    ::close(fds[1]);
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c;
    while (::poll(&ready, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
}

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
