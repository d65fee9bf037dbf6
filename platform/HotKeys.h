#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
struct _XDisplay;

namespace pelbrisk {

// The modifier bits of a short-cut value; its low byte is the virtual-key code.
inline constexpr std::uint16_t kShortCutShift = 0x2000;
inline constexpr std::uint16_t kShortCutCtrl = 0x4000;
inline constexpr std::uint16_t kShortCutAlt = 0x8000;

// The X keysym of a virtual-key code, 0 (NoSymbol) for codes that have no key on this desktop.
unsigned long VirtualKeyToKeysym(std::uint8_t virtualKey);

// System-wide hot keys, taken as passive key grabs on the X server's root window through a
// connection of their own (the window toolkit may not talk X at all, e.g. on Wayland). Without
// an X display every registration fails silently and nothing is ever activated.
class THotKeys {
public:
    using TActivation = std::function<void(int id)>;

    // displayName nullptr means $DISPLAY. When a Qt event loop runs in this thread, activations
    // arrive through it; otherwise the owner calls DispatchPendingEvents.
    explicit THotKeys(TActivation onActivate, const char* displayName = nullptr);
    ~THotKeys();
    THotKeys(const THotKeys&) = delete;
    THotKeys& operator=(const THotKeys&) = delete;

    // False without an X display, and from the moment the X server went away.
    bool Available() const { return display_ != nullptr && !connectionLost_; }

    // Replaces any hot key with this id. False when the short-cut is 0, has no key here, there
    // is no X display, or another client holds the key already.
    bool Register(int id, std::uint16_t shortCut);
    void Unregister(int id);

    // Delivers the key presses the server has sent so far, one activation each.
    void DispatchPendingEvents();

private:
    struct TGrab {
        int id;
        std::uint16_t shortCut;
        unsigned keyCode;
        unsigned modifiers;
    };

    static void NoteConnectionLost(_XDisplay* display, void* self);

    std::vector<unsigned> LockVariants() const;
    bool Grab(unsigned keyCode, unsigned modifiers);
    void Ungrab(const TGrab& grab);
    // The keyboard's layout changed: each short-cut's key may sit on another key code now.
    void GrabAgain();

    TActivation onActivate_;
    _XDisplay* display_ = nullptr;
    unsigned long rootWindow_ = 0;
    unsigned numLockMask_ = 0;
    bool connectionLost_ = false;
    std::vector<TGrab> grabs_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace pelbrisk
