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

TVirtualDisplay::TVirtualDisplay() {
    int displayPipe[2];
    if (pipe(displayPipe) != 0) return;
    const std::string fd = std::to_string(displayPipe[1]);
    const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(),   "-nolisten", "tcp",
                          "-screen", "0",          "320x240x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, displayPipe[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned =
        posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(displayPipe[1]);
    if (spawned != 0) {
        pid_ = 0;
        close(displayPipe[0]);
        return;
    }
    std::string number;
    pollfd ready{displayPipe[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 10000) > 0 && read(displayPipe[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(displayPipe[0]);
    if (number.empty()) {
        EndProcess(pid_);
        pid_ = 0;
        return;
    }
    displayName_ = ":" + number;
}

TVirtualDisplay::~TVirtualDisplay() {
    EndProcess(pid_);
}

} // namespace pelbrisk::test
