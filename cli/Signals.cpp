#include "cli/Signals.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
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

sigset_t StopSignalSet() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT})
        sigaddset(&signals, signal);
    return signals;
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
    const sigset_t signals = StopSignalSet();
    if (pipe2(quit_, O_CLOEXEC) != 0) return;
    try {
        catcher_ = std::thread([this, signals] {
            sigset_t all;
            sigfillset(&all);
            pthread_sigmask(SIG_BLOCK, &all, nullptr);
            pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
            pollfd quit{quit_[0], POLLIN, 0};
            while (poll(&quit, 1, -1) < 0 && errno == EINTR) {
            }
        });
    } catch (const std::system_error&) {
        // Without the thread the signals stay with whichever thread the system picks.
        return;
    }
    // Threads started from here on inherit the mask, so the catcher is the one left to take them.
    pthread_sigmask(SIG_BLOCK, &signals, &callerMask_);
}

TStopSignals::~TStopSignals() {
    if (catcher_.joinable()) {
        [[maybe_unused]] const ssize_t written = write(quit_[1], "", 1);
        catcher_.join();
        pthread_sigmask(SIG_SETMASK, &callerMask_, nullptr);
    }
    handlers_.reset();
    for (int* ends : {wakePipe, quit_})
        for (int i = 0; i < 2; ++i) {
            if (ends[i] >= 0) close(ends[i]);
            ends[i] = -1;
        }
}

void SuspendHere() {
    const TSignalHandlers stopping({SIGTSTP}, SIG_DFL);
    // Taken on this thread, so that the process stops before this returns.
    sigset_t suspend;
    sigemptyset(&suspend);
    sigaddset(&suspend, SIGTSTP);
    sigset_t before;
    pthread_sigmask(SIG_UNBLOCK, &suspend, &before);
    raise(SIGTSTP);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

int StopSignal() {
    return stopSignal;
}

int StopWakeDescriptor() {
    return wakePipe[0];
}

} // namespace pelbrisk::cli
