#pragma once

#include <csignal>
#include <initializer_list>
#include <optional>
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
class TStopSignals {
public:
    TStopSignals();
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    std::optional<TSignalHandlers> handlers_;
};

// The stop signal that came; 0 while none has.
int StopSignal();
// Turns readable once a stop signal came, so that a wait for input can take it in too; -1
// while no TStopSignals lives.
int StopWakeDescriptor();

} // namespace pelbrisk::cli
