#pragma once

#include <csignal>
#include <initializer_list>
#include <optional>
#include <thread>
#include <vector>

namespace pelbrisk::cli {

// `handler` for each of `signals` while it lives; the handlers before come back after.
class TSignalHandlers {
public:
    TSignalHandlers(std::initializer_list<int> signals, void (*handler)(int), int flags = 0);
    ~TSignalHandlers();
    TSignalHandlers(const TSignalHandlers&) = delete;
    TSignalHandlers& operator=(const TSignalHandlers&) = delete;

private:
    std::vector<int> signals_;
    std::vector<struct sigaction> saved_;
};

// While one lives, Ctrl+C, SIGTERM and SIGHUP ask the command to stop instead of ending the
// process: its loop looks at StopSignal() often enough to stop within a tenth of a second and
// leaves its output and the terminal in order. A second one ends the process at once.
// These signals, and a suspend or a continue, are taken by a thread that does nothing but wait for
// them (every thread started later leaves them to it): the command's own thread may be waiting for
// a lock that the reader holds while it waits for input, and under a thread checker a signal that
// lands on a thread in such a wait is held back until the wait ends.
class TStopSignals {
public:
    TStopSignals();
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    std::optional<TSignalHandlers> handlers_;
    sigset_t callerMask_;
    int quit_[2] = {-1, -1};
    std::thread catcher_;
};

// Stops the process as a Ctrl+Z does, until it is continued; an orphaned process group, which
// nobody could continue, does not stop at all.
void SuspendHere();

// The stop signal that came; 0 while none has.
int StopSignal();
// Turns readable once a stop signal came, so that a wait for input can take it in too; -1
// while no TStopSignals lives.
int StopWakeDescriptor();

} // namespace pelbrisk::cli
