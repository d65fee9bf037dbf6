// The real pelbrisk program on a virtual X server: it starts from its settings file on the demo
// library, scans the tree, opens a folder and plays its songs (the window caption shows the
// playing entry's caption), closes from the window's close request and writes its settings back;
// and it is driven from the keyboard alone: the command box, the menu short-cuts, the system-wide
// hot keys and a typed command to quit.
#include "tests/app/FormTestSupport.h"
#include "tests/app/X11Window.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <QColor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QImage>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pelbrisk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Polls `probe` until it gives `expected`, or gives up after `limit`; returns the last answer.
template <typename Probe>
std::string WaitFor(Probe&& probe, const std::function<bool(const std::string&)>& done,
                    std::chrono::milliseconds limit = 15s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string answer = probe();
    while (!done(answer) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(100ms);
        answer = probe();
    }
    return answer;
}

// The rows of the tree's area where the selection colour shows: a strongly coloured band among
// the white background, black text and grey lines.
struct TBand {
    int Top = -1;
    int Bottom = -1;
    bool Found() const { return Top >= 0; }
};
TBand SelectionBand(const QImage& shot, const QRect& area) {
    TBand band;
    for (int y = area.top(); y <= area.bottom() && y < shot.height(); ++y) {
        int coloured = 0;
        for (int x = area.left(); x <= area.right() && x < shot.width(); ++x) {
            const QColor pixel = shot.pixelColor(x, y);
            const int spread = std::max({pixel.red(), pixel.green(), pixel.blue()}) -
                               std::min({pixel.red(), pixel.green(), pixel.blue()});
            coloured += spread > 60;
        }
        if (coloured > area.width() / 2) {
            if (!band.Found()) band.Top = y;
            band.Bottom = y;
        }
    }
    return band;
}

// pelbrisk installed portably in a folder of its own, with `settings` and the demo library as
// its one root beside it, running on a virtual display of its own until the object goes; with
// `windowManager`, openbox manages the display as a desktop's window manager would, and with
// `notificationArea` also trayer's panel is there before the program starts.
class TPortableProgram {
public:
    testing::AssertionResult Start(const std::string& settings, bool windowManager = false,
                                   bool notificationArea = false) {
        const fs::path program = BinaryDir() / "app" / "pelbrisk";
        const fs::path demo = SourceDir() / "demo";
        if (!fs::exists(program)) return testing::AssertionFailure() << program << " not built";
        if (!fs::is_directory(demo)) return testing::AssertionFailure() << "no " << demo;
        fs::copy_file(program, install / "pelbrisk");
        std::ofstream(install / "pelbrisk.ini") << settings << "root = " << demo.string() << "\t\n";
        display = std::make_unique<TVirtualDisplay>(install / "xvfb.log");
        if (display->Name().empty()) return testing::AssertionFailure() << "Xvfb did not start";
        if (windowManager) {
            manager = std::make_unique<TChild>(
                std::vector<std::string>{"openbox", "--sm-disable"},
                std::vector<std::string>{"DISPLAY=" + display->Name()}, install / "openbox.log");
            const std::string check = WaitFor(
                [&] { return X("xprop -root _NET_SUPPORTING_WM_CHECK"); },
                [](const std::string& answer) { return answer.find("window id") != answer.npos; });
            if (check.find("window id") == check.npos)
                return testing::AssertionFailure() << "openbox did not start";
        }
        if (notificationArea) {
            tray = std::make_unique<TChild>(
                std::vector<std::string>{"trayer", "--edge", "top", "--align", "right",
                                         "--widthtype", "request", "--height", "24",
                                         "--SetDockType", "true"},
                std::vector<std::string>{"DISPLAY=" + display->Name()}, install / "trayer.log");
            if (X("timeout 10 xdotool search --sync --name '^panel$' | head -n 1").empty())
                return testing::AssertionFailure() << "the tray host did not start";
        }
        std::vector<std::string> variables = environment;
        variables.insert(variables.end(), {"DISPLAY=" + display->Name(), "QT_QPA_PLATFORM=xcb",
                                           "PELBRISK_AUDIO=null"});
        player = std::make_unique<TChild>(std::vector<std::string>{(install / "pelbrisk").string()},
                                          variables, install / "pelbrisk.log");
        if (!player->Started()) return testing::AssertionFailure() << "pelbrisk did not start";
        window = X("timeout 20 xdotool search --sync --name '^pelbrisk - ver.050228$' | head -n 1");
        if (window.empty()) return testing::AssertionFailure() << "no window appeared";
        return testing::AssertionSuccess();
    }

    // Runs an X client command on the program's display; its trimmed output.
    std::string X(const std::string& command) const {
        return Trimmed(RunTool("DISPLAY=" + display->Name() + " " + command + " 2>/dev/null"));
    }

    TempDir install;
    // Given to the program before the display's.
    std::vector<std::string> environment;
    std::unique_ptr<TVirtualDisplay> display;
    std::unique_ptr<TChild> manager;
    std::unique_ptr<TChild> tray;
    std::unique_ptr<TChild> player;
    std::string window;
};

TEST(EndToEnd, OpensAFolderOfTheDemoLibraryPlaysItAndSavesItsSettings) {
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!ToolAvailable(tool)) GTEST_SKIP() << tool << " is not installed";
    const fs::path demo = SourceDir() / "demo";
    TPortableProgram program;
    ASSERT_TRUE(program.Start("window_left = 0\nwindow_top = 0\n"
                              "window_width = 480\nwindow_height = 320\n"));
    const TempDir& install = program.install;
    const TVirtualDisplay& display = *program.display;
    TChild& player = *program.player;
    const std::string& window = program.window;
    const auto x = [&](const std::string& command) { return program.X(command); };

    // The tree is scanned once the window is on screen; with one root its first folder is
    // selected, which shows as the selection band.
    const fs::path shot = install / "shot.png";
    const QRect treeArea(2, 22, 300, 260);
    TBand band;
    WaitFor(
        [&] {
            x("import -window " + window + " " + shot.string());
            band = SelectionBand(QImage(QString::fromStdString(shot.string())), treeArea);
            return std::string(band.Found() ? "scanned" : "");
        },
        [](const std::string& answer) { return !answer.empty(); });
    ASSERT_TRUE(band.Found()) << "the folder tree was not scanned";

    // Ctrl+double-click opens the selected artist's folder with its album inside, and the first
    // song plays: the caption becomes "Title – Artist". Which artist the scan selected
    // depends on the file system's order; the caption tells, and so where the others stand.
    const int rowHeight = band.Bottom - band.Top + 1;
    const auto openRecursively = [&](int rowCentre) {
        x("xdotool mousemove --window " + window + " 60 " + std::to_string(rowCentre));
        x("xdotool keydown ctrl click --repeat 2 --delay 60 1 keyup ctrl");
    };
    const auto caption = [&] { return x("xdotool getwindowname " + window); };
    openRecursively((band.Top + band.Bottom) / 2);
    const std::map<std::string, int> artistRow{
        {"Opening Lines – Aster Quartet", 0},
        {"Radio Voice – Brook Lane", 1},
        {"Last Stop – Cinder", 2},
    };
    const std::string first =
        WaitFor(caption, [&](const std::string& title) { return artistRow.count(title) > 0; });
    ASSERT_TRUE(artistRow.count(first)) << "caption: " << first;

    // The first artist's album has two songs: open it, then F2 in the play list plays the second.
    const int asterTop = band.Top - artistRow.at(first) * rowHeight;
    openRecursively(asterTop + rowHeight / 2);
    EXPECT_EQ(
        WaitFor(caption,
                [](const std::string& title) { return title == "Opening Lines – Aster Quartet"; }),
        "Opening Lines – Aster Quartet");
    x("xdotool mousemove --window " + window + " 400 " + std::to_string(22 + rowHeight / 2) +
      " click 1");
    x("xdotool key F2");
    EXPECT_EQ(
        WaitFor(caption,
                [](const std::string& title) { return title == "Slow Drift – Aster Quartet"; }),
        "Slow Drift – Aster Quartet");
    const fs::path screenshots = BinaryDir() / "test-screenshots";
    fs::create_directories(screenshots);
    x("import -window " + window + " " + (screenshots / "main-window.png").string());

    ASSERT_TRUE(CloseX11Window(display.Name(), std::stoul(window)));
    int status = -1;
    ASSERT_TRUE(player.WaitForExit(15s, status)) << "the program did not end on close";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const auto bytes = ReadFileBytes(install / "pelbrisk.ini");
    const std::string settings(bytes.begin(), bytes.end());
    std::istringstream lines(settings);
    std::vector<std::string> keys;
    for (std::string line; std::getline(lines, line);)
        keys.push_back(line.substr(0, line.find(" = ")));
    // The file's own lines keep their places; the keys it lacked follow.
    EXPECT_EQ(keys, (std::vector<std::string>{"window_left",
                                              "window_top",
                                              "window_width",
                                              "window_height",
                                              "root",
                                              "window_alpha",
                                              "hotkey",
                                              "hotkey_volume_up",
                                              "hotkey_volume_down",
                                              "repeat_all",
                                              "random",
                                              "volume",
                                              "filelist_width",
                                              "sendlist",
                                              "tag_code_page",
                                              "font",
                                              "folder",
                                              "song",
                                              "position",
                                              "resume",
                                              "replay_gain",
                                              "replay_gain_preamp",
                                              "replay_gain_preamp_untagged",
                                              "replay_gain_prevent_clipping",
                                              "cover_art"}));
    EXPECT_NE(settings.find("window_width = 480\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("window_height = 320\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("hotkey = Shift+Ctrl+K\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("root = " + demo.string() + "\t\n"), std::string::npos) << settings;
    // The play list had half of the window.
    const std::size_t width = settings.find("filelist_width = ");
    ASSERT_NE(width, std::string::npos);
    EXPECT_NEAR(std::stoi(settings.substr(width + 17)), 480 / 2, 8) << settings;
}

// A second launch with a file, as a file manager's "Open with pelbrisk" makes it, hands the file
// to the running window over the session bus and ends; the window plays it. One with a folder
// outside the library plays that folder, and a third without arguments only ends.
TEST(EndToEnd, ASecondLaunchHandsItsFilesToTheRunningWindow) {
    for (const char* tool : {"Xvfb", "xdotool", "dbus-daemon"})
        if (!ToolAvailable(tool)) GTEST_SKIP() << tool << " is not installed";
    const TPrivateSessionBus bus;
    ASSERT_TRUE(bus.Running());
    TPortableProgram program;
    program.environment = {"DBUS_SESSION_BUS_ADDRESS=" + bus.Address().toStdString()};
    ASSERT_TRUE(program.Start("window_width = 480\nwindow_height = 320\n"));
    const auto caption = [&] { return program.X("xdotool getwindowname " + program.window); };
    const TempDir outside;
    fs::create_directories(outside / "Live");
    fs::copy_file(SourceDir() / "demo" / "Cinder" / "Night Bus" / "01 Last Stop.mp3",
                  outside / "Live" / "07 Encore.mp3");
    const auto launch = [&](const std::string& arguments) {
        return program.X("DBUS_SESSION_BUS_ADDRESS=" + bus.Address().toStdString() +
                         " QT_QPA_PLATFORM=xcb timeout 20 " +
                         (program.install / "pelbrisk").string() + " " + arguments +
                         " >/dev/null; echo $?");
    };
    EXPECT_EQ(launch("'" +
                     (SourceDir() / "demo" / "Aster Quartet" / "Small Hours" / "02 Slow Drift.mp3")
                         .string() +
                     "'"),
              "0");
    EXPECT_EQ(
        WaitFor(caption,
                [](const std::string& title) { return title == "Slow Drift – Aster Quartet"; }),
        "Slow Drift – Aster Quartet")
        << "the file alone is the play list";
    EXPECT_EQ(launch("'file://" + (outside / "Live").string() + "'"), "0");
    // The copy keeps the tags of the song it was copied from.
    EXPECT_EQ(
        WaitFor(caption, [](const std::string& title) { return title == "Last Stop – Cinder"; }),
        "Last Stop – Cinder");
    // The outside folder is a root for this session only: the settings keep the place, not it.
    const std::string outsideFolder = "folder = " + (outside / "Live").string() + "\n";
    const std::string settings = WaitFor(
        [&] {
            const auto bytes = ReadFileBytes(program.install / "pelbrisk.ini");
            return std::string(bytes.begin(), bytes.end());
        },
        [&](const std::string& text) { return text.find(outsideFolder) != std::string::npos; });
    EXPECT_NE(settings.find(outsideFolder), std::string::npos) << settings;
    EXPECT_EQ(settings.find("\t" + outside.Path().string()), std::string::npos) << settings;
    EXPECT_EQ(settings.find("root = " + outside.Path().string()), std::string::npos) << settings;
    // It declares no actions: one asked for by name is refused, not taken for a raise.
    {
        QDBusConnection client = QDBusConnection::connectToBus(bus.Address(), "actions");
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.pelbrisk.Player", "/org/pelbrisk/Player",
                                           "org.freedesktop.Application", "ActivateAction");
        call << QString("quit") << QVariantList() << QVariantMap();
        EXPECT_EQ(client.call(call, QDBus::Block, 5000).type(), QDBusMessage::ErrorMessage);
    }
    QDBusConnection::disconnectFromBus("actions");
    EXPECT_EQ(launch(""), "0");
    EXPECT_EQ(
        Trimmed(RunTool("pgrep -c -f '^" + (program.install / "pelbrisk").string() + "$' || true")),
        "1")
        << "one program, the first";
}

// The window on screen, its tree scanned (the only root's first folder shows selected).
bool WaitForScannedTree(const std::function<std::string(const std::string&)>& x,
                        const std::string& window, const fs::path& shot) {
    const QRect treeArea(2, 22, 300, 260);
    const std::string answer = WaitFor(
        [&] {
            // A window not yet mapped cannot be read: no picture, and the wait goes on.
            fs::remove(shot);
            x("import -window " + window + " " + shot.string() + " || true");
            const TBand band =
                SelectionBand(QImage(QString::fromStdString(shot.string())), treeArea);
            return std::string(band.Found() ? "scanned" : "");
        },
        [](const std::string& found) { return !found.empty(); });
    return !answer.empty();
}

TEST(EndToEnd, TheKeyboardAloneFindsAFolderPlaysItStepsOnAndQuits) {
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!ToolAvailable(tool)) GTEST_SKIP() << tool << " is not installed";
    TPortableProgram program;
    ASSERT_TRUE(
        program.Start("window_width = 480\nwindow_height = 320\nvolume = 50\n"
                      "hotkey_volume_up = Ctrl+Alt+Up\nhotkey_volume_down = Ctrl+Alt+Down\n"));
    const TempDir& install = program.install;
    const TVirtualDisplay& display = *program.display;
    TChild& player = *program.player;
    const std::string& window = program.window;
    const auto x = [&](const std::string& command) { return program.X(command); };
    ASSERT_TRUE(WaitForScannedTree(x, window, install / "shot.png"));

    // The three hot keys are the X server's: nobody else may take them now.
    constexpr unsigned kShift = 1, kControl = 4, kAlt = 8;
    EXPECT_TRUE(KeyGrabbedElsewhere(display.Name(), "K", kControl | kShift));
    EXPECT_TRUE(KeyGrabbedElsewhere(display.Name(), "Up", kControl | kAlt));
    EXPECT_TRUE(KeyGrabbedElsewhere(display.Name(), "Down", kControl | kAlt));
    EXPECT_FALSE(KeyGrabbedElsewhere(display.Name(), "K", kControl)) << "only those keys";

    // A click in the command box gives it the keyboard; "/field" searches the whole tree.
    const auto caption = [&] { return x("xdotool getwindowname " + window); };
    const auto captionBecomes = [&](const std::string& expected) {
        return WaitFor(caption, [&](const std::string& title) { return title == expected; });
    };
    x("xdotool mousemove --window " + window + " 200 10 click 1");
    x("xdotool type --delay 50 /field");
    x("xdotool key Return");
    EXPECT_EQ(captionBecomes("Radio Voice – Brook Lane"), "Radio Voice – Brook Lane");
    x("xdotool key ctrl+n");
    EXPECT_EQ(captionBecomes("Low Tide – Brook Lane"), "Low Tide – Brook Lane");

    // The volume-down hot key, pressed twice, wherever the keyboard is: 50 becomes 30.
    x("xdotool mousemove 700 500");
    x("xdotool key ctrl+alt+Down");
    x("xdotool key ctrl+alt+Down");
    std::this_thread::sleep_for(300ms);

    // Back in the box, Ctrl+U is the menu's "Volume +", not the line editor's own key.
    x("xdotool mousemove --window " + window + " 200 10 click 1");
    x("xdotool key ctrl+u");
    x("xdotool type --delay 50 :quit");
    x("xdotool key Return");
    int status = -1;
    ASSERT_TRUE(player.WaitForExit(15s, status)) << "\":quit\" did not end the program";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto bytes = ReadFileBytes(install / "pelbrisk.ini");
    const std::string settings(bytes.begin(), bytes.end());
    EXPECT_NE(settings.find("volume = 40\n"), std::string::npos) << settings;
}

// A log-out, a kill or Ctrl+C in the terminal ends the program with its settings written.
TEST(EndToEnd, ASignalToEndWritesTheSettingsFirst) {
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!ToolAvailable(tool)) GTEST_SKIP() << tool << " is not installed";
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        TPortableProgram program;
        ASSERT_TRUE(program.Start("window_width = 480\nwindow_height = 320\nvolume = 50\n"
                                  "hotkey_volume_down = Ctrl+Alt+Down\n"));
        const auto x = [&](const std::string& command) { return program.X(command); };
        ASSERT_TRUE(WaitForScannedTree(x, program.window, program.install / "shot.png"));
        x("xdotool key ctrl+alt+Down");
        std::this_thread::sleep_for(200ms);
        program.player->Signal(signal);
        int status = -1;
        ASSERT_TRUE(program.player->WaitForExit(15s, status)) << "the signal did not end it";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        const auto bytes = ReadFileBytes(program.install / "pelbrisk.ini");
        EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("volume = 40\n"), std::string::npos);
    }
}

// The area of an X window on the screen, as xwininfo gives it.
QRect WindowArea(const std::function<std::string(const std::string&)>& x, const std::string& name) {
    std::istringstream info(x("xwininfo -name '" + name + "'"));
    std::map<std::string, int> values;
    for (std::string line; std::getline(info, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        key.erase(0, key.find_first_not_of(' '));
        try {
            values[key] = std::stoi(line.substr(colon + 1));
        } catch (const std::exception&) {
        }
    }
    return QRect(values["Absolute upper-left X"], values["Absolute upper-left Y"], values["Width"],
                 values["Height"]);
}

int ColourCount(const QImage& picture, const QRect& area) {
    std::set<QRgb> colours;
    for (int y = area.top(); y <= area.bottom() && y < picture.height(); ++y)
        for (int x = area.left(); x <= area.right() && x < picture.width(); ++x)
            colours.insert(picture.pixel(x, y));
    return static_cast<int>(colours.size());
}

TEST(EndToEnd, TheTrayIconShowsRestoresEveryTimeAndAHiddenWindowClosesTheProgram) {
    for (const char* tool : {"Xvfb", "xdotool", "import", "xwininfo", "openbox", "trayer"})
        if (!ToolAvailable(tool)) GTEST_SKIP() << tool << " is not installed";
    TPortableProgram program;
    ASSERT_TRUE(program.Start("window_width = 400\nwindow_height = 300\n", true, true));
    const std::string& window = program.window;
    const auto x = [&](const std::string& command) { return program.X(command); };
    ASSERT_TRUE(WaitForScannedTree(x, window, program.install / "shot.png"));

    // The icon sits at the right end of the tray host's panel and shows the program's picture,
    // not a slot of one colour.
    const fs::path screenshots = BinaryDir() / "test-screenshots";
    fs::create_directories(screenshots);
    const fs::path trayShot = screenshots / "tray-icon.png";
    QRect panel;
    WaitFor(
        [&] {
            panel = WindowArea(x, "panel");
            return std::to_string(panel.width());
        },
        [](const std::string& width) { return std::stoi(width) >= 20; });
    ASSERT_GE(panel.width(), 20) << "no icon was embedded";
    const QRect icon(panel.right() - 22, panel.top() + 1, 22, 22);
    x("import -window root -crop " + std::to_string(panel.width()) + "x" +
      std::to_string(panel.height()) + "+" + std::to_string(panel.left()) + "+" +
      std::to_string(panel.top()) + " " + trayShot.string());
    EXPECT_GT(ColourCount(QImage(QString::fromStdString(trayShot.string())),
                          icon.translated(-panel.topLeft())),
              8)
        << "the icon is blank";

    const std::string iconX = std::to_string(icon.center().x());
    const std::string iconY = std::to_string(icon.center().y());
    // Both fail while there is nothing to find.
    const auto shown = [&] {
        return x("xdotool search --onlyvisible --name '^pelbrisk - ver' 2>/dev/null || true");
    };
    const auto active = [&] { return x("xdotool getactivewindow 2>/dev/null || true"); };
    const auto toTray = [&] {
        x("xdotool mousemove --window " + window + " 200 10 click 1");
        x("xdotool key Escape");
        return WaitFor(shown, [](const std::string& found) { return found.empty(); }).empty();
    };
    const std::vector<std::pair<std::string, std::string>> restores{
        {"click", "xdotool mousemove " + iconX + " " + iconY + " click 1"},
        {"hot key", "xdotool key ctrl+shift+k"},
    };
    for (const auto& [name, restore] : restores) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            SCOPED_TRACE(name + " " + std::to_string(attempt));
            ASSERT_TRUE(toTray()) << "Esc did not hide the window";
            x(restore);
            EXPECT_EQ(WaitFor(
                          active, [&](const std::string& id) { return id == window; }, 5s),
                      window)
                << "not restored and active";
        }
    }

    // The menu, looked at in its screenshot; Esc closes it.
    x("xdotool mousemove " + iconX + " " + iconY + " click 3");
    std::this_thread::sleep_for(500ms);
    x("import -window root " + (screenshots / "tray-menu.png").string());
    x("xdotool key Escape");

    // A close request to the window hidden in the tray ends the program with its settings saved.
    ASSERT_TRUE(toTray());
    ASSERT_TRUE(CloseX11Window(program.display->Name(), std::stoul(window)));
    int status = -1;
    ASSERT_TRUE(program.player->WaitForExit(15s, status)) << "the hidden window's close was lost";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto bytes = ReadFileBytes(program.install / "pelbrisk.ini");
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("window_width = 400\n"),
              std::string::npos);
}

// Without a single click: the keyboard is with the command box from the start, after a dialog
// and after a reload's scan, with a window manager and without one.
void WalkWithoutAClick(bool windowManager) {
    for (const char* tool : {"Xvfb", "xdotool", "import", "xprop"})
        if (!ToolAvailable(tool)) GTEST_SKIP() << tool << " is not installed";
    if (windowManager && !ToolAvailable("openbox")) GTEST_SKIP() << "openbox is not installed";
    TPortableProgram program;
    ASSERT_TRUE(program.Start("window_width = 480\nwindow_height = 320\n", windowManager));
    const std::string& window = program.window;
    const auto x = [&](const std::string& command) { return program.X(command); };
    ASSERT_TRUE(WaitForScannedTree(x, window, program.install / "shot.png"));
    const auto caption = [&] { return x("xdotool getwindowname " + window); };
    const auto captionBecomes = [&](const std::string& expected) {
        return WaitFor(caption, [&](const std::string& title) { return title == expected; });
    };
    const auto typeLine = [&](const std::string& text) {
        x("xdotool type --delay 50 '" + text + "'");
        x("xdotool key Return");
    };

    typeLine("/field");
    EXPECT_EQ(captionBecomes("Radio Voice – Brook Lane"), "Radio Voice – Brook Lane");
    // The help box takes the keyboard; Enter closes it and the box has the keyboard again.
    typeLine(":help");
    const std::string help =
        WaitFor([&] { return x("xdotool search --onlyvisible --name '^pelbrisk help$' || true"); },
                [](const std::string& found) { return !found.empty(); });
    ASSERT_NE(help, "") << "\":help\" shows no help";
    EXPECT_EQ(WaitFor([&] { return x("xdotool getwindowfocus"); },
                      [&](const std::string& focus) { return focus == help; }),
              help)
        << "the help box has the keyboard";
    x("xdotool key Return");
    EXPECT_EQ(
        WaitFor([&] { return x("xdotool search --onlyvisible --name '^pelbrisk help$' || true"); },
                [](const std::string& found) { return found.empty(); }),
        "");
    typeLine(":reload");
    std::this_thread::sleep_for(500ms);
    typeLine("/small");
    EXPECT_EQ(captionBecomes("Opening Lines – Aster Quartet"), "Opening Lines – Aster Quartet")
        << "the keys after the reload reached no control";
    const fs::path screenshots = BinaryDir() / "test-screenshots";
    fs::create_directories(screenshots);
    x("import -window root " +
      (screenshots / (windowManager ? "keyboard-walk-openbox.png" : "keyboard-walk.png")).string());

    typeLine(":quit");
    int status = -1;
    ASSERT_TRUE(program.player->WaitForExit(15s, status)) << "\":quit\" did not end the program";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(EndToEnd, UnderAWindowManagerTheKeyboardAloneFindsPlaysReloadsAndQuits) {
    WalkWithoutAClick(true);
}

TEST(EndToEnd, WithoutAWindowManagerTheKeyboardAloneFindsPlaysReloadsAndQuits) {
    WalkWithoutAClick(false);
}

} // namespace
} // namespace pelbrisk::test
