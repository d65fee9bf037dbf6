#include "app/InstanceService.h"
#include "app/MainForm.h"
#include "app/OpenArguments.h"
#include "app/TrayIcon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: pelbrisk [--new-instance] [--portal-hot-keys] [Qt options] [FILE|FOLDER|URI...]\n"
    "\n"
    "A keyboard-driven MP3 player. Settings live in $XDG_CONFIG_HOME/pelbrisk/pelbrisk.ini\n"
    "(~/.config when unset), or in a pelbrisk.ini already beside the program (portable).\n"
    "Type :add in the window to add a music folder, :help for the keys.\n"
    "\n"
    "Opening files: \"pelbrisk FOLDER\" shows the folder in the tree (for this session, when it\n"
    "lies outside your music folders) and plays it with its sub-folders; \"pelbrisk FILE...\"\n"
    "makes the MP3 files the play list and plays the first. Paths and file:// addresses are\n"
    "both taken, so file managers offer \"Open with pelbrisk\". One pelbrisk runs per desktop\n"
    "session: a second launch hands its files to the running window over the session bus and\n"
    "exits, and one without files brings that window forward.\n"
    "\n"
    "options:\n"
    "  --new-instance     run a window of its own even when pelbrisk runs already\n"
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
    // The toolkit has taken its own options out of argv; the rest are ours, as their bytes.
    std::vector<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    const pelbrisk::TOpenArguments open =
        pelbrisk::ParseOpenArguments(arguments, pelbrisk::TFilePath::FromText(QDir::currentPath()));
    for (const QString& unknown : open.Unknown)
        std::fprintf(stderr, "pelbrisk: unknown option %s (see --help)\n", qPrintable(unknown));
    std::unique_ptr<pelbrisk::TInstanceService> instance;
    if (!open.NewInstance) {
        instance = std::make_unique<pelbrisk::TInstanceService>();
        if (!instance->Claim()) {
            QString error;
            if (!instance->Connected()) {
                // No session bus: every launch is a window of its own.
            } else if (pelbrisk::HandToRunningInstance(open.Uris, QDBusConnection::sessionBus(),
                                                       &error)) {
                return 0;
            } else {
                std::fprintf(stderr,
                             "pelbrisk: the running pelbrisk did not answer (%s); starting "
                             "another\n",
                             qPrintable(error));
            }
            instance.reset();
        }
    }
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
    if (open.PortalHotKeys) mainForm.Desktop().UsePortalHotKeys(QDBusConnection::sessionBus());
    if (instance) {
        QObject::connect(instance.get(), &pelbrisk::TInstanceService::OpenRequested, &mainForm,
                         &pelbrisk::TMainForm::OpenUris);
        QObject::connect(instance.get(), &pelbrisk::TInstanceService::ActivateRequested, &mainForm,
                         [&mainForm] { mainForm.Desktop().ShowWindow(); });
    }
    mainForm.show();
    if (!open.Uris.isEmpty())
        QTimer::singleShot(0, &mainForm, [&mainForm, &open] { mainForm.OpenUris(open.Uris); });
    return application.exec();
}
