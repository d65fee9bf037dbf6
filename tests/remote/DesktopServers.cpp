#include "DesktopServers.h"

#include "tests/support/Media.h"

#include <QGuiApplication>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pelbrisk::test {

void EnsureQtApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "remote_tests";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

namespace {

void EndProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

} // namespace

TPrivateBus::TPrivateBus() {
    // The daemon forks away; its pid comes back on the second line.
    std::istringstream output(
        RunTool("dbus-daemon --session --fork --nosyslog --print-address=1 --print-pid=1"));
    std::string pid;
    std::getline(output, address_);
    std::getline(output, pid);
    if (address_.empty() || pid.empty()) throw std::runtime_error("dbus-daemon gave no address");
    pid_ = static_cast<pid_t>(std::stol(pid));
}

TPrivateBus::~TPrivateBus() {
    // Not our child (it forked away), so there is nothing to reap.
    if (pid_ > 0) kill(pid_, SIGTERM);
}

namespace {

// Starts Xvfb on that display; returns its pid once it accepts clients, 0 when it did not come up
// (for instance because the display is taken).
pid_t StartXvfb(int display) {
    int readyPipe[2];
    if (pipe(readyPipe) != 0) return 0;
    const std::string name = ":" + std::to_string(display);
    const std::string fd = std::to_string(readyPipe[1]);
    const char* argv[] = {"Xvfb", name.c_str(), "-displayfd", fd.c_str(),   "-nolisten",
                          "tcp",  "-screen",    "0",          "320x240x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, readyPipe[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned =
        posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(readyPipe[1]);
    if (spawned != 0) {
        close(readyPipe[0]);
        return 0;
    }
    // Xvfb writes the display number and a line end when it is ready, nothing when it gives up;
    // the whole line is read so that its writes never meet a closed pipe.
    pollfd ready{readyPipe[0], POLLIN, 0};
    std::string line;
    char c = 0;
    while (poll(&ready, 1, 10000) > 0 && read(readyPipe[0], &c, 1) == 1 && c != '\n')
        line += c;
    const bool up = c == '\n' && !line.empty();
    close(readyPipe[0]);
    if (up) return pid;
    EndProcess(pid);
    return 0;
}

} // namespace

TVirtualDisplay::TVirtualDisplay() {
    // Xvfb's own choice of a free display races with other servers starting at the same moment
    // (tests run in parallel), so each test process takes numbers of its own.
    const int first = 1000 + static_cast<int>(getpid() % 20000) * 3;
    for (int display = first; display < first + 3 && pid_ == 0; ++display) {
        pid_ = StartXvfb(display);
        if (pid_ != 0) displayName_ = ":" + std::to_string(display);
    }
}

void TVirtualDisplay::Stop() {
    EndProcess(pid_);
    pid_ = 0;
}

TVirtualDisplay::~TVirtualDisplay() {
    Stop();
}

} // namespace pelbrisk::test
