// The main window's link to its player: which entry plays, the transport buttons, the bars, the
// caption of the song now playing, the hot keys, the notification icon and MPRIS.
#include "app/AudioFileInfo.h"
#include "app/GetLyrics.h"
#include "app/MainForm.h"
#include "app/PositionText.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <algorithm>

namespace pelbrisk {

namespace {

constexpr int kTrayTipBytes = 63;
constexpr int kVolumeStep = 10;

bool IsUtf8Continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

} // namespace

QString TrayTipText(const QString& nowPlaying) {
    QByteArray bytes = nowPlaying.toLocal8Bit();
    if (bytes.size() <= kTrayTipBytes) return nowPlaying;
    // Half a character would show as garbage: the cut backs off to the character's start.
    qsizetype cut = kTrayTipBytes;
    while (cut > 0 && IsUtf8Continuation(bytes[cut]))
        --cut;
    bytes.truncate(cut);
    return QString::fromLocal8Bit(bytes);
}

void TMainForm::ConnectBar(QScrollBar* bar, void (TMainForm::*scroll)(TScrollCode, int)) {
    // The slider's position has moved when an action is announced; its value follows after.
    connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar, scroll](int action) {
        if (action == QAbstractSlider::SliderNoAction) return;
        if (action == QAbstractSlider::SliderMove && bar->isSliderDown())
            (this->*scroll)(scrTrack, bar->sliderPosition());
        else
            (this->*scroll)(scrEndScroll, bar->sliderPosition());
    });
    connect(bar, &QAbstractSlider::sliderReleased, this,
            [this, bar, scroll] { (this->*scroll)(scrEndScroll, bar->sliderPosition()); });
}

// ---- Choosing entries --------------------------------------------------------------------

QListWidgetItem* TMainForm::SelectNext() {
    return SelectByStep(+1);
}

QListWidgetItem* TMainForm::SelectPrev() {
    return SelectByStep(-1);
}

// Next and Prev differ only in the direction of the step: random play ignores it, a step past
// the end (or below an entry a shrunk list no longer has) wraps with repeat-all or ends, and a
// step back from the first entry ends with nothing selected.
QListWidgetItem* TMainForm::SelectByStep(int step) {
    const int count = PlayFileList->count();
    if (count == 0) {
        currentIndex_ = -1;
    } else if (RandomBtn->isChecked()) {
        // Back walks back through what played at random; only before the first song it draws.
        if (step < 0 && !randomHistory_.Empty()) {
            currentIndex_ = randomHistory_.Pop();
        } else {
            if (step > 0) randomHistory_.Push(currentIndex_);
            currentIndex_ = std::uniform_int_distribution<int>(0, count - 1)(random_);
        }
    } else if (currentIndex_ < 0) {
        currentIndex_ = 0;
    } else if ((currentIndex_ += step) >= count) {
        currentIndex_ = RepeatAllBtn->isChecked() ? 0 : -1;
    }
    return SelectCurrentIndex();
}

QListWidgetItem* TMainForm::SelectCurrentIndex() {
    QListWidgetItem* entry = currentIndex_ >= 0 ? PlayFileList->item(currentIndex_) : nullptr;
    if (entry)
        PlayFileList->setCurrentItem(entry);
    else
        PlayFileList->clearSelection();
    return entry;
}

void TMainForm::PlaySelected() {
    // A file that cannot be played is named and passed over for the next entry by the same
    // rules as at the end of a song, until a whole round of the list has failed.
    const QListWidgetItem* entry = SelectedEntry();
    for (int failed = 0; entry != nullptr;) {
        currentIndex_ = PlayFileList->row(entry);
        const QString path = entry->data(kEntryPathRole).toString();
        if (SendListBtn->isChecked()) {
            ReportErrors([this] { MP3Player->Stop(); });
            const std::string files = QFile::encodeName(path).toStdString();
            SendToOtherPlayers(
                [files](TOtherAppCtrl& players) { return players.OtherAppAddFiles(files); });
            return;
        }
        const QString failure = PlayEntryFile(path);
        if (failure.isEmpty()) return;
        ShowNotice(QFileInfo(path).fileName() + ": " + failure);
        if (++failed >= PlayFileList->count()) break;
        entry = SelectNext();
    }
    ShowProgramCaption();
}

QString TMainForm::PlayEntryFile(const QString& path) {
    try {
        MP3Player->Stop();
        // Closed first, so that after a failure an open stream can only be this file's.
        MP3Player->Close();
        MP3Player->SetFileName(QFile::encodeName(path).toStdString());
        return {};
    } catch (...) {
        if (MP3Player->Commands() & CommandBit(mpcClose)) {
            ShowApplicationException(std::current_exception());
            return {};
        }
        return QString::fromLocal8Bit(ExceptionText(std::current_exception()));
    }
}

void TMainForm::NoticeUnlessAccepted(bool accepted) {
    if (!accepted) ShowNotice("No MPRIS player took the command (is one running?)");
}

void TMainForm::ShowProgramCaption() {
    QGuiApplication::setApplicationDisplayName(programCaption_);
    setWindowTitle(programCaption_);
    SetNowPlaying(QString());
}

void TMainForm::PlayNext() {
    SelectNext();
    PlaySelected();
}

void TMainForm::PlayPrev() {
    SelectPrev();
    PlaySelected();
}

// ---- Transport ---------------------------------------------------------------------------

void TMainForm::PlayBtnClick() {
    if (SendListBtn->isChecked()) {
        SendToOtherPlayers([](TOtherAppCtrl& players) { return players.OtherAppPlay(); });
        return;
    }
    ReportErrors([this] {
        if (MP3Player->Status() == mpsPaused)
            MP3Player->Resume();
        else
            MP3Player->Play();
    });
}

void TMainForm::StopBtnClick() {
    if (SendListBtn->isChecked()) {
        SendToOtherPlayers([](TOtherAppCtrl& players) { return players.OtherAppStop(); });
        return;
    }
    ReportErrors([this] { MP3Player->Stop(); });
    ShowProgramCaption();
}

void TMainForm::PauseBtnClick() {
    if (SendListBtn->isChecked()) {
        SendToOtherPlayers([](TOtherAppCtrl& players) { return players.OtherAppPause(); });
        return;
    }
    ReportErrors([this] {
        if (MP3Player->Status() == mpsPaused)
            MP3Player->Resume();
        else if (MP3Player->Status() == mpsPlaying)
            MP3Player->Pause();
    });
    ShowPauseState();
}

void TMainForm::ShowPauseState() {
    PauseBtn->setChecked(!SendListBtn->isChecked() && MP3Player->Status() == mpsPaused);
}

void TMainForm::PrevBtnClick() {
    if (SendListBtn->isChecked())
        SendToOtherPlayers([](TOtherAppCtrl& players) { return players.OtherAppPrev(); });
    else
        PlayPrev();
}

void TMainForm::NextBtnClick() {
    if (SendListBtn->isChecked())
        SendToOtherPlayers([](TOtherAppCtrl& players) { return players.OtherAppNext(); });
    else
        PlayNext();
}

void TMainForm::UpVolumeClick() {
    VolBar->setValue(VolBar->value() + kVolumeStep);
    VolBarScroll(scrEndScroll, VolBar->value());
}

void TMainForm::DownVolumeClick() {
    VolBar->setValue(VolBar->value() - kVolumeStep);
    VolBarScroll(scrEndScroll, VolBar->value());
}

void TMainForm::OpenLyricsPage(std::string (*address)(const TAudioFileInfo&)) {
    const QListWidgetItem* entry = SelectedEntry();
    if (!entry) return;
    TAudioFileInfo info;
    ReadItemInfo(entry, info);
    ShellOpen(address(info));
}

void TMainForm::LyricsSiteAItemClick() {
    OpenLyricsPage([](const TAudioFileInfo& info) { return LyricsSiteAUrl(info); });
}

void TMainForm::LyricsSiteBItemClick() {
    OpenLyricsPage([](const TAudioFileInfo& info) { return LyricsSiteBUrl(info); });
}

// ---- Bars --------------------------------------------------------------------------------

void TMainForm::PosBarScroll(TScrollCode code, int position) {
    if (code == scrTrack) {
        seekTracking_ = true;
    } else if (code == scrEndScroll) {
        seekTracking_ = false;
        // Without an open stream there is nothing to seek in.
        if (!(MP3Player->Commands() & CommandBit(mpcSeek))) return;
        ReportErrors([&] { MP3Player->Seek(position); });
        if (Mpris) Mpris->NotifySeeked();
    }
}

void TMainForm::SeekBy(int deltaMs) {
    if (SendListBtn->isChecked() || !(MP3Player->Commands() & CommandBit(mpcSeek))) return;
    const qint64 target =
        std::clamp<qint64>(qint64{MP3Player->Position()} + deltaMs, 0, MP3Player->Duration());
    ReportErrors([&] { MP3Player->Seek(static_cast<int32_t>(target)); });
    if (Mpris) Mpris->NotifySeeked();
}

void TMainForm::VolBarScroll(TScrollCode code, int position) {
    if (code != scrEndScroll) return;
    if (SendListBtn->isChecked())
        SendToOtherPlayers(
            [position](TOtherAppCtrl& players) { return players.OtherAppSetVolume(position); });
    else
        MP3Player->SetVolume(position);
    if (Mpris) Mpris->Refresh();
}

void TMainForm::PitchBarScroll(TScrollCode code, int position) {
    if (code == scrEndScroll) SetPitch(position);
}

void TMainForm::PitClick() {
    PitchBar->setValue(100);
    SetPitch(100);
}

void TMainForm::SetPitch(int percent) {
    const TMP3PlayerStatus status = MP3Player->Status();
    const int32_t position = MP3Player->Position();
    ReportErrors([&] {
        if (status != mpsStopped) MP3Player->Stop();
        PitchPercent = percent;
        if (status == mpsStopped) return;
        MP3Player->Play();
        MP3Player->Seek(position);
        if (status == mpsPaused) MP3Player->Pause();
    });
}

// ---- Player events -----------------------------------------------------------------------

void TMainForm::MP3PlayerChangeStatus() {
    if (Mpris) Mpris->Refresh();
    ShowPauseState();
    if (MP3Player->Status() != mpsPlaying) return;
    const QListWidgetItem* entry = currentIndex_ >= 0 ? PlayFileList->item(currentIndex_) : nullptr;
    if (!entry) return;
    const QString text = ItemLongCaption(entry);
    // Qt adds the application's display name to every title that does not end with it; the
    // same text in both keeps the caption as it is.
    QGuiApplication::setApplicationDisplayName(text);
    SetNowPlaying(text);
    setWindowTitle(text);
}

void TMainForm::MP3PlayerChangePosition() {
    if (seekTracking_) return;
    PosBar->setMaximum(MP3Player->Duration());
    PosBar->setValue(MP3Player->Position());
    const QString time = PositionText(MP3Player->Position(), MP3Player->Duration());
    PosTime->setText(time);
    PosBar->setToolTip("Seek " + time);
}

void TMainForm::MP3PlayerEndPlay(TMP3EndPlayReason reason) {
    if (reason != merSuccessful) return;
    if (PlayFileList->count() > 0 && SelectNext())
        PlaySelected();
    else
        ShowProgramCaption();
}

void TMainForm::SetNowPlaying(const QString& text) {
    nowPlaying_ = text;
    trayTip_ = TrayTipText(text);
    TrayIcon->SetTip(trayTip_);
}

// ---- Hot keys and the notification area --------------------------------------------------

namespace {

// X11 key grabs there reach only X clients that have the focus.
bool WaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == "wayland" ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

const QString kShowShortcut = "show";
const QString kVolumeUpShortcut = "volume-up";
const QString kVolumeDownShortcut = "volume-down";

} // namespace

void TMainForm::RegisterHotKeys() {
    x11HotKeyRefused_ = false;
    RegisterShortCutHotKey(showHotKey_, showHotKey_);
    RegisterShortCutHotKey(volumeUpHotKey_, volumeUpHotKey_);
    RegisterShortCutHotKey(volumeDownHotKey_, volumeDownHotKey_);
    if (PortalHotKeys)
        BindPortalHotKeys();
    else if (x11HotKeyRefused_ || WaylandSession())
        UsePortalHotKeys(QDBusConnection::sessionBus());
}

void TMainForm::RegisterShortCutHotKey(TShortCut shortCut, int id) {
    if (shortCut == 0) return;
    // A key another program holds already is not reported; the portal is asked for it instead.
    if (!HotKeys->Register(id, shortCut)) x11HotKeyRefused_ = true;
}

void TMainForm::UsePortalHotKeys(const QDBusConnection& connection) {
    if (PortalHotKeys && PortalHotKeys->Connection().name() == connection.name()) return;
    // The portal's ids stand for the hot keys, whose ids are their short-cut values.
    PortalHotKeys = std::make_unique<TPortalShortcuts>(connection, [this](const QString& id) {
        if (id == kShowShortcut)
            WMHotKey(showHotKey_);
        else if (id == kVolumeUpShortcut)
            WMHotKey(volumeUpHotKey_);
        else if (id == kVolumeDownShortcut)
            WMHotKey(volumeDownHotKey_);
    });
    connect(PortalHotKeys.get(), &TPortalShortcuts::StateChanged, this,
            [this](TPortalShortcuts::TState state) {
                if (state == TPortalShortcuts::TState::Bound) ReleaseX11HotKeys();
            });
    BindPortalHotKeys();
}

void TMainForm::BindPortalHotKeys() {
    std::vector<TPortalShortcut> shortcuts;
    if (showHotKey_ != 0) shortcuts.push_back({kShowShortcut, "Show the window", showHotKey_});
    if (volumeUpHotKey_ != 0)
        shortcuts.push_back({kVolumeUpShortcut, "Volume up", volumeUpHotKey_});
    if (volumeDownHotKey_ != 0)
        shortcuts.push_back({kVolumeDownShortcut, "Volume down", volumeDownHotKey_});
    PortalHotKeys->Bind(shortcuts);
    // The same keys again: the portal keeps them and the grabs just taken are not needed.
    if (PortalHotKeys->State() == TPortalShortcuts::TState::Bound) ReleaseX11HotKeys();
}

void TMainForm::ReleaseX11HotKeys() {
    // Both would answer one key press.
    HotKeys->Unregister(showHotKey_);
    HotKeys->Unregister(volumeUpHotKey_);
    HotKeys->Unregister(volumeDownHotKey_);
}

void TMainForm::WMHotKey(int id) {
    if (id == showHotKey_)
        ShowWindow();
    else if (id == volumeUpHotKey_)
        UpVolumeClick();
    else if (id == volumeDownHotKey_)
        DownVolumeClick();
}

void TMainForm::ShowWindow() {
    if (inTray_)
        ApplicationEvents1Restore();
    else
        BringAppToFront();
}

void TMainForm::BringAppToFront() {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
}

void TMainForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    // Only a window the user minimises goes to the tray; the state a restore leaves behind on
    // its way back is no new minimise.
    const auto* change = static_cast<const QWindowStateChangeEvent*>(event);
    if (isMinimized() && !(change->oldState() & Qt::WindowMinimized) && isVisible() && !inTray_)
        ApplicationEvents1Minimize();
}

void TMainForm::ApplicationEvents1Minimize() {
    // Without a notification area the window stays minimised on the taskbar.
    if (!TrayAvailable()) return;
    inTray_ = true;
    TrayIcon->show();
    // Hidden once the minimising has run its course; hiding inside it would be undone.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (inTray_) hide();
        },
        Qt::QueuedConnection);
}

void TMainForm::HideToTray() {
    // Straight to the tray: a minimise the window manager carries out late would hide the
    // window again after a quick restore.
    if (TrayAvailable()) {
        inTray_ = true;
        TrayIcon->show();
        hide();
    } else {
        showMinimized();
    }
}

void TMainForm::ApplicationEvents1Restore() {
    inTray_ = false;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    BringAppToFront();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!event->isAccepted()) return;
    TrayIcon->hide();
    // Also a close request to the window hidden in the tray ends the program.
    emit Closed();
}

// ---- MPRIS -------------------------------------------------------------------------------

bool TMainForm::PublishMpris(const QDBusConnection& connection) {
    Mpris = std::make_unique<TMprisService>(*this, connection);
    if (Mpris->Start()) return true;
    Mpris.reset();
    return false;
}

void TMainForm::SeekTo(std::int64_t positionMs) {
    if (positionMs < 0 || positionMs > INT32_MAX) return;
    if (MP3Player->Commands() & CommandBit(mpcSeek))
        ReportErrors([&] { MP3Player->Seek(static_cast<int32_t>(positionMs)); });
}

void TMainForm::SetVolumePercent(int percent) {
    VolBar->setValue(percent);
    VolBarScroll(scrEndScroll, VolBar->value());
}

TPlaybackState TMainForm::PlaybackState() const {
    switch (MP3Player->Status()) {
    case mpsPlaying:
        return TPlaybackState::Playing;
    case mpsPaused:
        return TPlaybackState::Paused;
    case mpsStopped:
        break;
    }
    return TPlaybackState::Stopped;
}

std::int64_t TMainForm::PositionMs() const {
    return MP3Player->Position();
}

int TMainForm::VolumePercent() const {
    return VolBar->value();
}

TNowPlaying TMainForm::NowPlaying() const {
    const std::string& path = MP3Player->FileName();
    if (path.empty()) return {};
    if (path != nowPlayingPath_) {
        TAudioFileInfo info;
        ReadAudioFileInfo(QFile::decodeName(QByteArray::fromStdString(path)), 0, info);
        nowPlayingPath_ = path;
        nowPlayingTags_.FilePath = path;
        nowPlayingTags_.Title = info.Title.toLocal8Bit().toStdString();
        nowPlayingTags_.Artist = info.Artist.toLocal8Bit().toStdString();
        nowPlayingTags_.Album = info.Album.toLocal8Bit().toStdString();
    }
    TNowPlaying song = nowPlayingTags_;
    song.LengthMs = MP3Player->Duration();
    return song;
}

} // namespace pelbrisk
