#include "platform/HotKeys.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

namespace pelbrisk {

namespace {

struct TKeyMapping {
    std::uint8_t virtualKey;
    unsigned long keysym;
};

constexpr TKeyMapping kNamedKeys[] = {
    {0x08, XK_BackSpace},
    {0x09, XK_Tab},
    {0x0C, XK_Clear},
    {0x0D, XK_Return},
    {0x13, XK_Pause},
    {0x14, XK_Caps_Lock},
    {0x1B, XK_Escape},
    {0x20, XK_space},
    {0x21, XK_Prior},
    {0x22, XK_Next},
    {0x23, XK_End},
    {0x24, XK_Home},
    {0x25, XK_Left},
    {0x26, XK_Up},
    {0x27, XK_Right},
    {0x28, XK_Down},
    {0x29, XK_Select},
    {0x2A, XK_Print},
    {0x2B, XK_Execute},
    {0x2C, XK_Print},
    {0x2D, XK_Insert},
    {0x2E, XK_Delete},
    {0x2F, XK_Help},
    {0x5D, XK_Menu},
    {0x6A, XK_KP_Multiply},
    {0x6B, XK_KP_Add},
    {0x6C, XK_KP_Separator},
    {0x6D, XK_KP_Subtract},
    {0x6E, XK_KP_Decimal},
    {0x6F, XK_KP_Divide},
    {0x90, XK_Num_Lock},
    {0x91, XK_Scroll_Lock},
    {0xAD, XF86XK_AudioMute},
    {0xAE, XF86XK_AudioLowerVolume},
    {0xAF, XF86XK_AudioRaiseVolume},
    {0xB0, XF86XK_AudioNext},
    {0xB1, XF86XK_AudioPrev},
    {0xB2, XF86XK_AudioStop},
    {0xB3, XF86XK_AudioPlay},
    {0xBA, XK_semicolon},
    {0xBB, XK_equal},
    {0xBC, XK_comma},
    {0xBD, XK_minus},
    {0xBE, XK_period},
    {0xBF, XK_slash},
    {0xC0, XK_grave},
    {0xDB, XK_bracketleft},
    {0xDC, XK_backslash},
    {0xDD, XK_bracketright},
    {0xDE, XK_apostrophe},
};

constexpr unsigned kModifierMask = ShiftMask | ControlMask | Mod1Mask;

// Xlib reports a refused grab (BadAccess: another client holds the key) through the
// process-wide error handler, after a round trip.
std::atomic<bool> grabRefused{false};

// Xlib's default answer to a broken connection is to end the process, before the per-connection
// exit handler is asked. Our connections are let off; every other one keeps the handler it had.
std::mutex ownConnectionsLock;
std::set<Display*> ownConnections;
XIOErrorHandler previousIOErrorHandler = nullptr;

int SpareOwnConnections(Display* display) {
    {
        std::lock_guard lock(ownConnectionsLock);
        if (ownConnections.count(display) != 0) return 0;
    }
    return previousIOErrorHandler != nullptr ? previousIOErrorHandler(display) : 0;
}

void SpareOnBrokenConnection(Display* display) {
    static std::once_flag installed;
    std::call_once(installed,
                   [] { previousIOErrorHandler = XSetIOErrorHandler(SpareOwnConnections); });
    std::lock_guard lock(ownConnectionsLock);
    ownConnections.insert(display);
}

void ForgetConnection(Display* display) {
    std::lock_guard lock(ownConnectionsLock);
    ownConnections.erase(display);
}

int NoteGrabError(Display*, XErrorEvent*) {
    grabRefused = true;
    return 0;
}

unsigned ModifiersOf(std::uint16_t shortCut) {
    unsigned modifiers = 0;
    if (shortCut & kShortCutShift) modifiers |= ShiftMask;
    if (shortCut & kShortCutCtrl) modifiers |= ControlMask;
    if (shortCut & kShortCutAlt) modifiers |= Mod1Mask;
    return modifiers;
}

unsigned FindNumLockMask(Display* display) {
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) return 0;
    unsigned mask = 0;
    for (int modifier = 0; modifier < 8 && numLock != 0; ++modifier) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            if (map->modifiermap[modifier * map->max_keypermod + k] == numLock)
                mask = 1u << modifier;
        }
    }
    XFreeModifiermap(map);
    return mask;
}

} // namespace

unsigned long VirtualKeyToKeysym(std::uint8_t virtualKey) {
    if (virtualKey >= '0' && virtualKey <= '9') return XK_0 + (virtualKey - '0');
    if (virtualKey >= 'A' && virtualKey <= 'Z') return XK_a + (virtualKey - 'A');
    if (virtualKey >= 0x60 && virtualKey <= 0x69) return XK_KP_0 + (virtualKey - 0x60);
    if (virtualKey >= 0x70 && virtualKey <= 0x87) return XK_F1 + (virtualKey - 0x70);
    for (const TKeyMapping& mapping : kNamedKeys) {
        if (mapping.virtualKey == virtualKey) return mapping.keysym;
    }
    return NoSymbol;
}

THotKeys::THotKeys(TActivation onActivate, const char* displayName)
    : onActivate_(std::move(onActivate)) {
    display_ = XOpenDisplay(displayName);
    if (display_ == nullptr) return;
    // Losing the hot keys is all that should happen when the X server (e.g. an on-demand
    // Xwayland) goes away; Xlib would end the process.
    SpareOnBrokenConnection(display_);
    XSetIOErrorExitHandler(display_, NoteConnectionLost, this);
    rootWindow_ = DefaultRootWindow(display_);
    numLockMask_ = FindNumLockMask(display_);
    if (QCoreApplication::instance() != nullptr) {
        notifier_ =
            std::make_unique<QSocketNotifier>(ConnectionNumber(display_), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                         [this] { DispatchPendingEvents(); });
    }
}

THotKeys::~THotKeys() {
    notifier_.reset();
    if (display_ == nullptr) return;
    if (!connectionLost_) {
        for (const TGrab& grab : grabs_)
            Ungrab(grab);
    }
    XCloseDisplay(display_);
    ForgetConnection(display_);
}

void THotKeys::NoteConnectionLost(_XDisplay*, void* self) {
    auto* hotKeys = static_cast<THotKeys*>(self);
    hotKeys->connectionLost_ = true;
    // The socket stays readable forever once the peer is gone.
    if (hotKeys->notifier_) hotKeys->notifier_->setEnabled(false);
}

std::vector<unsigned> THotKeys::LockVariants() const {
    // A grab matches the modifier state exactly, so Caps Lock or Num Lock being on would
    // otherwise hide the hot key.
    std::vector<unsigned> variants{0, LockMask};
    if (numLockMask_ != 0) {
        variants.push_back(numLockMask_);
        variants.push_back(numLockMask_ | LockMask);
    }
    return variants;
}

bool THotKeys::Grab(unsigned keyCode, unsigned modifiers) {
    XSync(display_, False);
    grabRefused = false;
    XErrorHandler previous = XSetErrorHandler(NoteGrabError);
    for (unsigned variant : LockVariants())
        XGrabKey(display_, static_cast<int>(keyCode), modifiers | variant, rootWindow_, False,
                 GrabModeAsync, GrabModeAsync);
    XSync(display_, False);
    XSetErrorHandler(previous);
    if (connectionLost_) return false;
    if (!grabRefused) return true;
    // Some variants may have been granted before the refusal; give them back.
    for (unsigned variant : LockVariants())
        XUngrabKey(display_, static_cast<int>(keyCode), modifiers | variant, rootWindow_);
    XSync(display_, False);
    return false;
}

void THotKeys::Ungrab(const TGrab& grab) {
    for (unsigned variant : LockVariants())
        XUngrabKey(display_, static_cast<int>(grab.keyCode), grab.modifiers | variant, rootWindow_);
    // A round trip, so that the key is free for others (or a new grab) once this returns.
    XSync(display_, False);
}

bool THotKeys::Register(int id, std::uint16_t shortCut) {
    if (shortCut == 0) return false;
    Unregister(id);
    if (!Available()) return false;
    const unsigned long keysym = VirtualKeyToKeysym(static_cast<std::uint8_t>(shortCut & 0xFF));
    if (keysym == NoSymbol) return false;
    const KeyCode keyCode = XKeysymToKeycode(display_, keysym);
    if (keyCode == 0) return false;
    const unsigned modifiers = ModifiersOf(shortCut);
    // Two ids on one key would both claim every press; the later registration loses, as it
    // would against another program.
    const bool taken = std::any_of(grabs_.begin(), grabs_.end(), [&](const TGrab& grab) {
        return grab.keyCode == keyCode && grab.modifiers == modifiers;
    });
    if (taken || !Grab(keyCode, modifiers)) return false;
    grabs_.push_back({id, shortCut, keyCode, modifiers});
    return true;
}

void THotKeys::Unregister(int id) {
    const auto found = std::find_if(grabs_.begin(), grabs_.end(),
                                    [id](const TGrab& grab) { return grab.id == id; });
    if (found == grabs_.end()) return;
    if (!connectionLost_) Ungrab(*found);
    grabs_.erase(found);
}

void THotKeys::GrabAgain() {
    // Given back under the old layout first: Num Lock may sit on another modifier now.
    for (const TGrab& grab : grabs_)
        Ungrab(grab);
    numLockMask_ = FindNumLockMask(display_);
    std::vector<TGrab> grabs;
    grabs.swap(grabs_);
    for (const TGrab& grab : grabs)
        Register(grab.id, grab.shortCut);
}

void THotKeys::DispatchPendingEvents() {
    while (Available() && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            if (event.xmapping.request != MappingPointer) GrabAgain();
            continue;
        }
        if (event.type != KeyPress) continue;
        const unsigned modifiers = event.xkey.state & kModifierMask;
        const auto grab = std::find_if(grabs_.begin(), grabs_.end(), [&](const TGrab& candidate) {
            return candidate.keyCode == event.xkey.keycode && candidate.modifiers == modifiers;
        });
        // The handler may re-register hot keys, so nothing of grabs_ is held across the call.
        if (grab != grabs_.end()) onActivate_(grab->id);
    }
}

} // namespace pelbrisk
