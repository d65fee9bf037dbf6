#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pelbrisk::test {

// A program started for the test, its output in `output`; killed if it is still running when the
// test ends. `environment` comes before the test's own.
class TChild {
public:
    TChild(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
           const std::filesystem::path& output);
    ~TChild();
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    bool Started() const { return pid_ > 0; }
    // True when the program ended within the time; its exit status is then in `status`.
    bool WaitForExit(std::chrono::milliseconds limit, int& status);
    void Signal(int signal) const;

private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

// An X server of its own, on the display number it chooses; its log goes to `log`.
class TVirtualDisplay {
public:
    explicit TVirtualDisplay(const std::filesystem::path& log);
    // ":N", or empty when the server did not start.
    const std::string& Name() const { return name_; }

private:
    std::unique_ptr<TChild> server_;
    std::string name_;
};

// Asks a top-level window to close as a window manager's close box does (WM_DELETE_WINDOW), on
// the X display named `display`. False when the display cannot be opened.
bool CloseX11Window(const std::string& display, unsigned long window);

// Whether another client already holds a passive grab of the key `keysymName` ("K", "Down")
// with exactly these X modifier bits (ShiftMask 1, ControlMask 4, Mod1Mask 8) on the root
// window: a grab of our own is then refused. False when the display cannot be opened.
bool KeyGrabbedElsewhere(const std::string& display, const std::string& keysymName,
                         unsigned modifiers);

} // namespace pelbrisk::test
