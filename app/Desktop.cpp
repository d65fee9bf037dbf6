#include "app/Desktop.h"

#include "app/FolderScan.h"
#include "app/LibraryTree.h"
#include "app/PlayList.h"
#include "app/Playback.h"
#include "app/SongDetails.h"
#include "app/TrayIcon.h"
#include "platform/HotKeys.h"
#include "platform/PortalShortcuts.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace pelbrisk {

namespace {

constexpr int kTrayTipBytes = 63;

bool IsUtf8Continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// X11 key grabs there reach only X clients that have the focus.
bool WaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == "wayland" ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

const QString kShowShortcut = "show";
const QString kVolumeUpShortcut = "volume-up";
const QString kVolumeDownShortcut = "volume-down";

} // namespace

QString TrayTipText(const QString& nowPlaying, bool paused) {
    QByteArray bytes = ((paused ? "paused: " : "") + nowPlaying).toLocal8Bit();
    if (bytes.size() <= kTrayTipBytes) return QString::fromLocal8Bit(bytes);
    // Half a character would show as garbage: the cut backs off to the character's start.
    qsizetype cut = kTrayTipBytes;
    while (cut > 0 && IsUtf8Continuation(bytes[cut]))
        --cut;
    bytes.truncate(cut);
    return QString::fromLocal8Bit(bytes);
}

TDesktop::TDesktop(TParts parts) : parts_(parts), nowPlaying_(ArtCacheFolder()) {
    trayIcon_ =
        new TTrayIcon({.Show = [this] { ShowWindow(); },
                       .Hide = [this] { HideToTray(); },
                       .WindowShown = [this] { return !inTray_ && parts_.Window.isVisible(); },
                       .PlayPause = [this] { parts_.Playback.PlayPauseClick(); },
                       .Next = [this] { parts_.Playback.NextBtnClick(); },
                       .Back = [this] { parts_.Playback.PrevBtnClick(); },
                       .Quit = [this] { parts_.Window.close(); }},
                      this);
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    // The icon stays while the program runs: a tray host that gets a fresh icon at every
    // minimise may still be embedding it when the user clicks.
    if (TrayAvailable()) trayIcon_->show();
    hotKeys_ = std::make_unique<THotKeys>([this](int id) { WMHotKey(id); });
    for (QAbstractButton* toggle : {&parts_.RepeatAllBtn, &parts_.RandomBtn})
        connect(toggle, &QAbstractButton::toggled, this, &TDesktop::RefreshMpris);
    connect(&parts_.Playback, &TPlayback::StateChanged, this, &TDesktop::RefreshMpris);
    connect(&parts_.PlayList, &TPlayList::Changed, this, &TDesktop::RefreshMpris);
    connect(&parts_.Playback, &TPlayback::Seeked, this, &TDesktop::NotifySeeked);
    connect(&nowPlaying_, &TNowPlayingTags::Read, this, &TDesktop::RefreshMpris);
}

TDesktop::~TDesktop() = default;

// ---- The notification area ---------------------------------------------------------------

void TDesktop::SetNowPlaying(const QString& text, bool paused) {
    trayTip_ = text.isEmpty() ? QString() : TrayTipText(text, paused);
    trayIcon_->SetTip(trayTip_);
}

void TDesktop::ShowWindow() {
    if (inTray_)
        ApplicationEvents1Restore();
    else
        BringAppToFront();
}

void TDesktop::BringAppToFront() {
    QWidget& window = parts_.Window;
    if (window.isMinimized()) window.showNormal();
    window.raise();
    window.activateWindow();
}

void TDesktop::WindowStateChanged(const QWindowStateChangeEvent& change) {
    // Only a window the user minimises goes to the tray; the state a restore leaves behind on
    // its way back is no new minimise.
    const QWidget& window = parts_.Window;
    if (window.isMinimized() && !(change.oldState() & Qt::WindowMinimized) && window.isVisible() &&
        !inTray_)
        ApplicationEvents1Minimize();
}

void TDesktop::ApplicationEvents1Minimize() {
    // Without a notification area the window stays minimised on the taskbar.
    if (!TrayAvailable()) return;
    inTray_ = true;
    trayIcon_->show();
    // Hidden once the minimising has run its course; hiding inside it would be undone.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (inTray_) parts_.Window.hide();
        },
        Qt::QueuedConnection);
}

void TDesktop::HideToTray() {
    // Straight to the tray: a minimise the window manager carries out late would hide the
    // window again after a quick restore.
    if (TrayAvailable()) {
        inTray_ = true;
        trayIcon_->show();
        parts_.Window.hide();
    } else {
        parts_.Window.showMinimized();
    }
}

void TDesktop::ApplicationEvents1Restore() {
    QWidget& window = parts_.Window;
    inTray_ = false;
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    BringAppToFront();
}

void TDesktop::WindowClosed() {
    trayIcon_->hide();
}

void TDesktop::ShowNotice(const QString& text) {
    lastNotice_ = text;
    parts_.NoticeLine.setText(text);
    if (text.isEmpty()) {
        parts_.NoticeLine.hide();
        return;
    }
    if (inTray_) {
        trayIcon_->showMessage("pelbrisk", text, QSystemTrayIcon::Information);
        return;
    }
    parts_.NoticeLine.show();
}

void TDesktop::WithdrawNotice(const QString& text) {
    if (lastNotice_ == text) ShowNotice({});
}

// ---- Hot keys ----------------------------------------------------------------------------

void TDesktop::SetHotKeys(TShortCut show, TShortCut volumeUp, TShortCut volumeDown) {
    showHotKey_ = show;
    volumeUpHotKey_ = volumeUp;
    volumeDownHotKey_ = volumeDown;
    RegisterHotKeys();
}

void TDesktop::RegisterHotKeys() {
    x11HotKeyRefused_ = false;
    RegisterShortCutHotKey(showHotKey_, showHotKey_);
    RegisterShortCutHotKey(volumeUpHotKey_, volumeUpHotKey_);
    RegisterShortCutHotKey(volumeDownHotKey_, volumeDownHotKey_);
    if (portalHotKeys_)
        BindPortalHotKeys();
    else if (x11HotKeyRefused_ || WaylandSession())
        UsePortalHotKeys(QDBusConnection::sessionBus());
}

void TDesktop::RegisterShortCutHotKey(TShortCut shortCut, int id) {
    if (shortCut == 0) return;
    // A key another program holds already is not reported; the portal is asked for it instead.
    if (!hotKeys_->Register(id, shortCut)) x11HotKeyRefused_ = true;
}

void TDesktop::UsePortalHotKeys(const QDBusConnection& connection) {
    if (portalHotKeys_ && portalHotKeys_->Connection().name() == connection.name()) return;
    // The portal's ids stand for the hot keys, whose ids are their short-cut values.
    portalHotKeys_ = std::make_unique<TPortalShortcuts>(connection, [this](const QString& id) {
        if (id == kShowShortcut)
            WMHotKey(showHotKey_);
        else if (id == kVolumeUpShortcut)
            WMHotKey(volumeUpHotKey_);
        else if (id == kVolumeDownShortcut)
            WMHotKey(volumeDownHotKey_);
    });
    connect(portalHotKeys_.get(), &TPortalShortcuts::StateChanged, this,
            [this](TPortalShortcuts::TState state) {
                if (state == TPortalShortcuts::TState::Bound) ReleaseX11HotKeys();
            });
    BindPortalHotKeys();
}

void TDesktop::BindPortalHotKeys() {
    std::vector<TPortalShortcut> shortcuts;
    if (showHotKey_ != 0) shortcuts.push_back({kShowShortcut, "Show the window", showHotKey_});
    if (volumeUpHotKey_ != 0)
        shortcuts.push_back({kVolumeUpShortcut, "Volume up", volumeUpHotKey_});
    if (volumeDownHotKey_ != 0)
        shortcuts.push_back({kVolumeDownShortcut, "Volume down", volumeDownHotKey_});
    portalHotKeys_->Bind(shortcuts);
    // The same keys again: the portal keeps them and the grabs just taken are not needed.
    if (portalHotKeys_->State() == TPortalShortcuts::TState::Bound) ReleaseX11HotKeys();
}

void TDesktop::ReleaseX11HotKeys() {
    // Both would answer one key press; a key the portal left unbound keeps its grab.
    const QStringList& bound = portalHotKeys_->BoundIds();
    if (bound.contains(kShowShortcut)) hotKeys_->Unregister(showHotKey_);
    if (bound.contains(kVolumeUpShortcut)) hotKeys_->Unregister(volumeUpHotKey_);
    if (bound.contains(kVolumeDownShortcut)) hotKeys_->Unregister(volumeDownHotKey_);
}

void TDesktop::WMHotKey(int id) {
    if (id == showHotKey_)
        ShowWindow();
    else if (id == volumeUpHotKey_)
        parts_.Playback.UpVolumeClick();
    else if (id == volumeDownHotKey_)
        parts_.Playback.DownVolumeClick();
}

// ---- MPRIS -------------------------------------------------------------------------------

bool TDesktop::PublishMpris(const QDBusConnection& connection) {
    mpris_ = std::make_unique<TMprisService>(*this, connection);
    if (mpris_->Start()) return true;
    mpris_.reset();
    return false;
}

void TDesktop::RefreshMpris() {
    if (mpris_) mpris_->Refresh();
}

void TDesktop::NotifySeeked() {
    if (mpris_) mpris_->NotifySeeked();
}

void TDesktop::PlayClick() {
    parts_.Playback.PlayOrStart();
}

void TDesktop::PauseClick() {
    parts_.Playback.PauseBtnClick();
}

void TDesktop::StopClick() {
    parts_.Playback.StopBtnClick();
}

void TDesktop::Next() {
    parts_.Playback.StepKeepingState(true);
}

void TDesktop::Previous() {
    parts_.Playback.StepKeepingState(false);
}

bool TDesktop::SeekTo(std::int64_t positionMs) {
    return parts_.Playback.SeekTo(positionMs);
}

int TDesktop::Pitch() const {
    return PitchPercent.load();
}

void TDesktop::SetPitch(int percent) {
    parts_.Playback.MovePitchBar(percent);
}

void TDesktop::SetVolumePercent(int percent) {
    parts_.Playback.SetVolumePercent(percent);
}

QString TDesktop::OpenFile(const TFilePath& file) {
    const QString shown = file.Display();
    if (!IsRegularFile(file)) return "no such file: " + shown;
    if (!IsMp3FileName(file.FileName())) return shown + ": not an .mp3 file";
    try {
        TMP3Info info;
        TMP3Player::ReadFileInfo(file.StdString(), info);
    } catch (...) {
        return shown + ": " + QString::fromLocal8Bit(ExceptionText(std::current_exception()));
    }
    // The folder is listed on the library worker; the file plays once the list shows it, and
    // only then the tree shows its folder: a reload asked for before rebuilds the tree first, and
    // a folder outside the library leaves nothing selected that Enter could open instead.
    const TFilePath folder = file.Folder();
    parts_.Playback.PlayFileOfFolder(folder, file,
                                     [this, folder] { parts_.Tree.ShowFolder(folder); });
    return {};
}

bool TDesktop::RepeatAll() const {
    return parts_.RepeatAllBtn.isChecked();
}

void TDesktop::SetRepeatAll(bool on) {
    parts_.RepeatAllBtn.setChecked(on);
}

bool TDesktop::Shuffle() const {
    return parts_.RandomBtn.isChecked();
}

void TDesktop::SetShuffle(bool on) {
    parts_.RandomBtn.setChecked(on);
}

void TDesktop::Quit() {
    // After the answer has gone back to the caller.
    QMetaObject::invokeMethod(&parts_.Window, &QWidget::close, Qt::QueuedConnection);
}

TPlaybackState TDesktop::PlaybackState() const {
    switch (parts_.Player.Status()) {
    case mpsPlaying:
        return TPlaybackState::Playing;
    case mpsPaused:
        return TPlaybackState::Paused;
    case mpsStopped:
        break;
    }
    return TPlaybackState::Stopped;
}

TCapabilities TDesktop::Capabilities() const {
    // The other players do not say what they can; every command goes to them.
    if (parts_.Playback.SendMode()) return {true, true, true, true, false};
    const bool open = parts_.Playback.SongOpen();
    return {.CanPlay = open || parts_.PlayList.Count() > 0,
            .CanPause = open,
            .CanGoNext = parts_.PlayList.HasNext(),
            .CanGoPrevious = parts_.PlayList.HasPrevious(),
            .CanSeek = (parts_.Player.Commands() & CommandBit(mpcSeek)) != 0};
}

std::int64_t TDesktop::PositionMs() const {
    return parts_.Playback.PositionMs();
}

int TDesktop::VolumePercent() const {
    return parts_.Playback.VolumePercent();
}

TNowPlaying TDesktop::NowPlaying() const {
    const std::string& path = parts_.Player.HeardFileName();
    if (path.empty()) return {};
    TNowPlaying song = nowPlaying_.Of(path);
    song.LengthMs = parts_.Player.Duration();
    return song;
}

} // namespace pelbrisk
