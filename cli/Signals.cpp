#include "cli/Signals.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pelbrisk::cli {

namespace {

// Set in a handler that may run on any of the player's threads.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets it");
int wakePipe[2] = {-1, -1};

void NoteStopSignal(int signal) {
    const int savedErrno = errno;
    stopSignal = signal;
    // One byte is enough: nobody drains the pipe, so it stays readable.
    [[maybe_unused]] const ssize_t written = write(wakePipe[1], "", 1);
    errno = savedErrno;
}

} // namespace

TSignalHandlers::TSignalHandlers(std::initializer_list<int> signals, void (*handler)(int),
                                 int flags)
    : signals_(signals), saved_(signals.size()) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < signals_.size(); ++i)
        sigaction(signals_[i], &action, &saved_[i]);
}

TSignalHandlers::~TSignalHandlers() {
    for (size_t i = 0; i < signals_.size(); ++i)
        sigaction(signals_[i], &saved_[i], nullptr);
}

TStopSignals::TStopSignals() {
    stopSignal = 0;
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe[0] = wakePipe[1] = -1;
    handlers_.emplace(std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP}, NoteStopSignal,
                      SA_RESETHAND);
}

TStopSignals::~TStopSignals() {
    handlers_.reset();
    for (int& end : wakePipe) {
        if (end >= 0) close(end);
        end = -1;
    }
}

int StopSignal() {
    return stopSignal;
}

int StopWakeDescriptor() {
    return wakePipe[0];
}

} // namespace pelbrisk::cli
