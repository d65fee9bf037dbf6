#include "app/SettingsBinding.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace pelbrisk {

namespace {

// Soon enough that a log-out right after a change finds it written, late enough that dragging a
// bar or the window writes once.
constexpr int kSaveDelayMs = 500;

// A signal handler may only write to a descriptor: the event loop reads the other end.
int quitSignalPipe[2] = {-1, -1};

void NoteQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(quitSignalPipe[1], &byte, 1);
}

} // namespace

TSettingsBinding::TSettingsBinding(QString file)
    : file_(std::move(file)), pending_(new QTimer(this)) {
    pending_->setSingleShot(true);
    pending_->setInterval(kSaveDelayMs);
    connect(pending_, &QTimer::timeout, this, &TSettingsBinding::SaveNow);
    // The session manager asks before it ends the session.
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(application, &QGuiApplication::commitDataRequest, this, [this] { SaveNow(); });
        connect(application, &QGuiApplication::saveStateRequest, this, [this] { SaveNow(); });
    }
}

TSettingsBinding::~TSettingsBinding() = default;

const TFormSettings& TSettingsBinding::Load() {
    settings_ = TFormSettings();
    LoadSettingsFile(file_, settings_);
    return settings_;
}

bool TSettingsBinding::Save(QString* error) {
    pending_->stop();
    if (collect_) collect_(settings_);
    return SaveSettingsFile(file_, settings_, error);
}

void TSettingsBinding::Changed() {
    pending_->start();
}

void TSettingsBinding::SaveNow() {
    QString error;
    if (!Save(&error)) emit SaveFailed(error);
}

void TSettingsBinding::SaveOnQuitSignals() {
    if (quitSignalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitSignalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(quitSignalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(quitSignalPipe[0], &byte, 1);
        SaveNow();
        emit QuitRequested();
    });
    struct sigaction action {};
    action.sa_handler = NoteQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace pelbrisk
