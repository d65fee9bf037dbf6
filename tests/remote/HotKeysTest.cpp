#include "platform/HotKeys.h"

#include "tests/remote/DesktopServers.h"
#include "tests/support/Media.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

// Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace pelbrisk {
namespace {

constexpr std::uint16_t kCtrlShiftK = kShortCutCtrl | kShortCutShift | 'K';
constexpr std::uint16_t kAltF5 = kShortCutAlt | 0x74;

// Another program on the same display, trying to take keys for itself.
class TOtherClient {
public:
    explicit TOtherClient(const std::string& displayName)
        : display_(XOpenDisplay(displayName.c_str())) {}
    ~TOtherClient() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool Connected() const { return display_ != nullptr; }

    // Whether the server lets this client grab the key with exactly these modifiers.
    bool CanGrab(unsigned long keysym, unsigned modifiers) {
        return CanGrabCode(XKeysymToKeycode(display_, keysym), modifiers);
    }
    bool CanGrabCode(int keyCode, unsigned modifiers) {
        XSync(display_, False);
        refused = false;
        XErrorHandler previous = XSetErrorHandler(NoteError);
        XGrabKey(display_, keyCode, modifiers, DefaultRootWindow(display_), False, GrabModeAsync,
                 GrabModeAsync);
        XSync(display_, False);
        XSetErrorHandler(previous);
        if (refused) return false;
        XUngrabKey(display_, keyCode, modifiers, DefaultRootWindow(display_));
        XSync(display_, False);
        return true;
    }

    int CodeOf(unsigned long keysym) { return XKeysymToKeycode(display_, keysym); }

    // Swaps the keys that give `a` and `b`, as a change of keyboard layout moves keys.
    void SwapKeys(unsigned long a, unsigned long b) {
        const int codes[2] = {CodeOf(a), CodeOf(b)};
        std::vector<KeySym> rows[2];
        int perCode = 0;
        for (int i = 0; i < 2; ++i) {
            KeySym* row =
                XGetKeyboardMapping(display_, static_cast<KeyCode>(codes[i]), 1, &perCode);
            rows[i].assign(row, row + perCode);
            XFree(row);
        }
        XChangeKeyboardMapping(display_, codes[0], perCode, rows[1].data(), 1);
        XChangeKeyboardMapping(display_, codes[1], perCode, rows[0].data(), 1);
        XSync(display_, False);
    }

    unsigned NumLockMask() {
        const KeyCode numLock = XKeysymToKeycode(display_, XK_Num_Lock);
        XModifierKeymap* map = XGetModifierMapping(display_);
        unsigned mask = 0;
        for (int i = 0; i < 8 * map->max_keypermod; ++i)
            if (numLock != 0 && map->modifiermap[i] == numLock)
                mask = 1u << (i / map->max_keypermod);
        XFreeModifiermap(map);
        return mask;
    }

private:
    static inline bool refused = false;
    static int NoteError(Display*, XErrorEvent* error) {
        refused = error->error_code == BadAccess;
        return 0;
    }
    Display* display_;
};

class HotKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::ToolAvailable("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
        server = std::make_unique<test::TVirtualDisplay>();
        ASSERT_FALSE(server->DisplayName().empty()) << "Xvfb did not start";
        other = std::make_unique<TOtherClient>(server->DisplayName());
        ASSERT_TRUE(other->Connected()) << server->DisplayName();
    }

    // Presses keys on the virtual display as a user would, then lets the activations arrive.
    void Press(const std::string& keys, THotKeys& hotKeys, std::size_t expectedCount) {
        test::RunTool("DISPLAY=" + server->DisplayName() + " xdotool key " + keys);
        QElapsedTimer waited;
        waited.start();
        while (activations.size() < expectedCount && waited.elapsed() < 5000) {
            hotKeys.DispatchPendingEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // Anything unexpected would have arrived by now.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        hotKeys.DispatchPendingEvents();
    }

    std::unique_ptr<test::TVirtualDisplay> server;
    std::unique_ptr<TOtherClient> other;
    std::vector<int> activations;
};

TEST(VirtualKeys, MapToTheKeysOfAnXKeyboard) {
    EXPECT_EQ(VirtualKeyToKeysym('A'), XK_a);
    EXPECT_EQ(VirtualKeyToKeysym('K'), XK_k);
    EXPECT_EQ(VirtualKeyToKeysym('Z'), XK_z);
    EXPECT_EQ(VirtualKeyToKeysym('0'), XK_0);
    EXPECT_EQ(VirtualKeyToKeysym('9'), XK_9);
    EXPECT_EQ(VirtualKeyToKeysym(0x70), XK_F1);
    EXPECT_EQ(VirtualKeyToKeysym(0x7B), XK_F12);
    EXPECT_EQ(VirtualKeyToKeysym(0x60), XK_KP_0);
    EXPECT_EQ(VirtualKeyToKeysym(0x26), XK_Up);
    EXPECT_EQ(VirtualKeyToKeysym(0x21), XK_Prior);
    EXPECT_EQ(VirtualKeyToKeysym(0x20), XK_space);
    EXPECT_EQ(VirtualKeyToKeysym(0xBB), XK_equal);
    EXPECT_EQ(VirtualKeyToKeysym(0xBD), XK_minus);
    EXPECT_EQ(VirtualKeyToKeysym(0x00), static_cast<unsigned long>(NoSymbol));
    EXPECT_EQ(VirtualKeyToKeysym(0x07), static_cast<unsigned long>(NoSymbol));
    EXPECT_EQ(VirtualKeyToKeysym(0xFF), static_cast<unsigned long>(NoSymbol));
}

TEST_F(HotKeysTest, RegisteredKeyIsGrabbedOnTheServerWithTheLockVariants) {
    THotKeys hotKeys([&](int id) { activations.push_back(id); }, server->DisplayName().c_str());
    ASSERT_TRUE(hotKeys.Available());
    const unsigned mods = ControlMask | ShiftMask;
    EXPECT_TRUE(other->CanGrab(XK_k, mods));
    ASSERT_TRUE(hotKeys.Register(kCtrlShiftK, kCtrlShiftK));

    EXPECT_FALSE(other->CanGrab(XK_k, mods));
    EXPECT_FALSE(other->CanGrab(XK_k, mods | LockMask));
    const unsigned numLock = other->NumLockMask();
    if (numLock != 0) {
        EXPECT_FALSE(other->CanGrab(XK_k, mods | numLock));
        EXPECT_FALSE(other->CanGrab(XK_k, mods | numLock | LockMask));
    }
    // Only that combination is taken.
    EXPECT_TRUE(other->CanGrab(XK_k, ControlMask));
    EXPECT_TRUE(other->CanGrab(XK_j, mods));

    hotKeys.Unregister(kCtrlShiftK);
    EXPECT_TRUE(other->CanGrab(XK_k, mods));
    EXPECT_TRUE(other->CanGrab(XK_k, mods | LockMask));
}

TEST_F(HotKeysTest, KeyPressActivatesItsIdOnly) {
    THotKeys hotKeys([&](int id) { activations.push_back(id); }, server->DisplayName().c_str());
    ASSERT_TRUE(hotKeys.Register(kCtrlShiftK, kCtrlShiftK));
    ASSERT_TRUE(hotKeys.Register(kAltF5, kAltF5));

    Press("ctrl+shift+k", hotKeys, 1);
    EXPECT_EQ(activations, std::vector<int>{kCtrlShiftK});
    Press("alt+F5", hotKeys, 2);
    EXPECT_EQ(activations, (std::vector<int>{kCtrlShiftK, kAltF5}));
    // Without Shift it is another key, which pelbrisk does not hold.
    Press("ctrl+k", hotKeys, 2);
    EXPECT_EQ(activations.size(), 2u);
}

TEST_F(HotKeysTest, ActivationsArriveThroughTheQtEventLoop) {
    test::EnsureQtApplication();
    THotKeys hotKeys([&](int id) { activations.push_back(id); }, server->DisplayName().c_str());
    ASSERT_TRUE(hotKeys.Register(kAltF5, kAltF5));
    test::RunTool("DISPLAY=" + server->DisplayName() + " xdotool key alt+F5");
    QElapsedTimer waited;
    waited.start();
    while (activations.empty() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(activations, std::vector<int>{kAltF5});
}

TEST_F(HotKeysTest, RegisteringAnIdAgainMovesItToTheNewKey) {
    THotKeys hotKeys([&](int id) { activations.push_back(id); }, server->DisplayName().c_str());
    ASSERT_TRUE(hotKeys.Register(1, kCtrlShiftK));
    ASSERT_TRUE(hotKeys.Register(1, kAltF5));
    EXPECT_TRUE(other->CanGrab(XK_k, ControlMask | ShiftMask));
    EXPECT_FALSE(other->CanGrab(XK_F5, Mod1Mask));
    // A zero short-cut registers nothing and leaves the id as it was.
    EXPECT_FALSE(hotKeys.Register(1, 0));
    EXPECT_FALSE(other->CanGrab(XK_F5, Mod1Mask));
    // A second id on a key already held loses, as against another program.
    EXPECT_FALSE(hotKeys.Register(2, kAltF5));
    Press("alt+F5", hotKeys, 1);
    EXPECT_EQ(activations, std::vector<int>{1});
}

TEST_F(HotKeysTest, AfterALayoutChangeTheHotKeyIsWhereverItsKeyMoved) {
    THotKeys hotKeys([&](int id) { activations.push_back(id); }, server->DisplayName().c_str());
    ASSERT_TRUE(hotKeys.Register(kCtrlShiftK, kCtrlShiftK));
    const int oldCode = other->CodeOf(XK_k);
    const int newCode = other->CodeOf(XK_j);
    other->SwapKeys(XK_k, XK_j);
    const unsigned mods = ControlMask | ShiftMask;
    // Every client hears of the new layout through its events.
    QElapsedTimer waited;
    waited.start();
    while (other->CanGrabCode(newCode, mods) && waited.elapsed() < 5000) {
        hotKeys.DispatchPendingEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(other->CanGrabCode(newCode, mods)) << "K's new place is held";
    EXPECT_TRUE(other->CanGrabCode(oldCode, mods)) << "its old place, J now, is free";
    Press("ctrl+shift+k", hotKeys, 1);
    EXPECT_EQ(activations, std::vector<int>{kCtrlShiftK});
}

TEST_F(HotKeysTest, KeyHeldByAnotherProgramFailsSilently) {
    Display* holder = XOpenDisplay(server->DisplayName().c_str());
    ASSERT_NE(holder, nullptr);
    XGrabKey(holder, XKeysymToKeycode(holder, XK_F5), Mod1Mask, DefaultRootWindow(holder), False,
             GrabModeAsync, GrabModeAsync);
    XSync(holder, False);

    THotKeys hotKeys([&](int id) { activations.push_back(id); }, server->DisplayName().c_str());
    EXPECT_FALSE(hotKeys.Register(kAltF5, kAltF5));
    // Nothing half-taken stays behind: the Caps Lock variant is free again.
    EXPECT_TRUE(other->CanGrab(XK_F5, Mod1Mask | LockMask));
    // The connection is still usable for other keys.
    EXPECT_TRUE(hotKeys.Register(kCtrlShiftK, kCtrlShiftK));
    XCloseDisplay(holder);
    EXPECT_TRUE(hotKeys.Register(kAltF5, kAltF5));
}

TEST_F(HotKeysTest, LosingTheServerLosesTheHotKeysButNotTheProgram) {
    test::EnsureQtApplication();
    auto hotKeys = std::make_unique<THotKeys>([&](int id) { activations.push_back(id); },
                                              server->DisplayName().c_str());
    ASSERT_TRUE(hotKeys->Register(kAltF5, kAltF5));
    other.reset();
    server->Stop();
    // Xlib would end the process here; the event loop notices the broken connection instead.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    hotKeys->DispatchPendingEvents();
    EXPECT_FALSE(hotKeys->Available());
    EXPECT_FALSE(hotKeys->Register(kCtrlShiftK, kCtrlShiftK));
    hotKeys->Unregister(kAltF5);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    hotKeys.reset();
    EXPECT_TRUE(activations.empty());
}

TEST(HotKeysWithoutDisplay, RegistrationFailsSilently) {
    std::vector<int> activations;
    // No X server answers on this display number.
    THotKeys hotKeys([&](int id) { activations.push_back(id); }, ":4093");
    EXPECT_FALSE(hotKeys.Available());
    EXPECT_FALSE(hotKeys.Register(kCtrlShiftK, kCtrlShiftK));
    hotKeys.Unregister(kCtrlShiftK);
    hotKeys.DispatchPendingEvents();
    EXPECT_TRUE(activations.empty());
}

} // namespace
} // namespace pelbrisk
