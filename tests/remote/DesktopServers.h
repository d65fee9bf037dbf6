#pragma once

#include <string>
#include <sys/types.h>

namespace pelbrisk::test {

// The Qt application object the desktop tests share (offscreen unless QT_QPA_PLATFORM says
// otherwise); created on first use.
void EnsureQtApplication();

// A private D-Bus session bus, ended with the object.
class TPrivateBus {
public:
    TPrivateBus();
    ~TPrivateBus();
    TPrivateBus(const TPrivateBus&) = delete;
    TPrivateBus& operator=(const TPrivateBus&) = delete;
    const std::string& Address() const { return address_; }

private:
    std::string address_;
    pid_t pid_ = 0;
};

// A virtual X server, ended with the object; DisplayName() is empty when Xvfb failed to start.
class TVirtualDisplay {
public:
    TVirtualDisplay();
    ~TVirtualDisplay();
    TVirtualDisplay(const TVirtualDisplay&) = delete;
    TVirtualDisplay& operator=(const TVirtualDisplay&) = delete;
    const std::string& DisplayName() const { return displayName_; }
    // Ends the server now, as a crash or a log-out would.
    void Stop();

private:
    std::string displayName_;
    pid_t pid_ = 0;
};

} // namespace pelbrisk::test
