#include "app/MainForm.h"
#include "app/TrayIcon.h"

#include <QApplication>
#include <QDBusConnection>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: pelbrisk [--portal-hot-keys] [Qt options]\n"
    "\n"
    "A keyboard-driven MP3 player. Settings live in $XDG_CONFIG_HOME/pelbrisk/pelbrisk.ini\n"
    "(~/.config when unset), or in a pelbrisk.ini already beside the program (portable).\n"
    "Type :add in the window to add a music folder, :help for the keys.\n"
    "\n"
    "options:\n"
    "  --portal-hot-keys  take the hot keys from the desktop's GlobalShortcuts portal even\n"
    "                     where X11 key grabs would work\n"
    "  --version          print the version\n"
    "  -h, --help         print this text\n"
    "\n"
    "Hot keys (\"hotkey\", \"hotkey_volume_up\", \"hotkey_volume_down\" in the settings) are X11\n"
    "key grabs. On Wayland, or where another program holds a key, they are asked of the\n"
    "desktop's GlobalShortcuts portal (xdg-desktop-portal with a backend that offers it, such as\n"
    "KDE Plasma or GNOME 48 and later), which may ask you to confirm them. Where neither works\n"
    "the hot keys are absent. pelbrisk is also an MPRIS player, so keys bound in the desktop's\n"
    "own settings can stand in: \"playerctl --player=pelbrisk volume 0.1+\" (or 0.1-) steps the\n"
    "volume, and the MPRIS Raise method (see the README) shows the window.\n";

} // namespace

int main(int argc, char* argv[]) {
    // Answered before the window toolkit starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("pelbrisk %s\n", PELBRISK_VERSION);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("pelbrisk");
    QApplication::setApplicationVersion(PELBRISK_VERSION);
    QApplication::setWindowIcon(pelbrisk::ProgramIcon());
    QApplication::setDesktopFileName("pelbrisk");
    pelbrisk::TMainForm mainForm;
    QObject::connect(&mainForm, &pelbrisk::TMainForm::Closed, &application,
                     &QCoreApplication::quit);
    // A log-out or a kill ends the program with its settings written.
    mainForm.Settings().SaveOnQuitSignals();
    QObject::connect(&mainForm.Settings(), &pelbrisk::TSettingsBinding::QuitRequested, &application,
                     &QCoreApplication::quit);
    if (QApplication::arguments().contains("--portal-hot-keys"))
        mainForm.Desktop().UsePortalHotKeys(QDBusConnection::sessionBus());
    mainForm.show();
    return application.exec();
}
