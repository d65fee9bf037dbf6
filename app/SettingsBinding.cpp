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
    loaded_ = TFormSettings();
    LoadSettingsFile(file_, loaded_);
    writtenText_ = ReadSettingsText(file_);
    written_ = loaded_;
    // Where the window starts from something else than the file (a first start's size), that is
    // its change, and written.
    windowThen_ = loaded_;
    return loaded_;
}

void TSettingsBinding::Bind(std::function<void(TFormSettings&)> collect) {
    collect_ = std::move(collect);
    if (!writtenText_) SaveNow();
}

TFormSettings TSettingsBinding::Collected() const {
    TFormSettings now = windowThen_;
    if (collect_) collect_(now);
    return now;
}

TFormSettings TSettingsBinding::OnDisk(const std::optional<QString>& text) const {
    // A file that is gone is written again as pelbrisk last knew it.
    if (!text || text == writtenText_) return written_;
    TFormSettings onDisk;
    ApplySettingsText(onDisk, *text);
    onDisk.PlayList = written_.PlayList;
    return onDisk;
}

bool TSettingsBinding::Write(const TFormSettings& settings, const std::optional<QString>& kept,
                             QString* error) {
    const QString keptText = kept.value_or(QString());
    if (!SaveSettingsFile(file_, settings, error, keptText)) return false;
    written_ = settings;
    writtenText_ = SettingsText(settings, keptText);
    return true;
}

bool TSettingsBinding::Save(QString* error) {
    pending_->stop();
    const TFormSettings now = Collected();
    const std::optional<QString> text = ReadSettingsText(file_);
    if (!Write(MergeSettings(OnDisk(text), windowThen_, now), text, error)) return false;
    windowThen_ = now;
    return true;
}

bool TSettingsBinding::TakeFileChanges(const std::function<void(const TFormSettings&)>& take) {
    const std::optional<QString> text = ReadSettingsText(file_);
    if (!text || text == writtenText_) return false;
    pending_->stop();
    const TFormSettings merged = MergeSettings(OnDisk(text), windowThen_, Collected());
    take(merged);
    QString error;
    if (!Write(merged, text, &error)) emit SaveFailed(error);
    // What the window took counts as the file's from here on; what it could not take stays the
    // file's all the same.
    windowThen_ = Collected();
    return true;
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
