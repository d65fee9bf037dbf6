#pragma once

#include "app/MprisService.h"
#include "app/NowPlayingTags.h"
#include "app/Settings.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QDBusConnection;
class QLabel;
class QWidget;
class QWindowStateChangeEvent;

namespace pelbrisk {

class TLibraryTree;
class TMP3Player;
class TPlayList;
class TPlayback;
class THotKeys;
class TPortalShortcuts;
class TTrayIcon;

// The icon's tip holds at most 63 bytes of the now-playing text, cut on a character boundary;
// a pause is said first, so that the cut never takes it.
QString TrayTipText(const QString& nowPlaying, bool paused = false);

// The window among the other programs of the desktop: the notification-area icon, the
// system-wide hot keys (X11 grabs or the GlobalShortcuts portal), notices, and pelbrisk as an
// MPRIS player.
class TDesktop : public QObject, public IPlaybackControl {
    Q_OBJECT

public:
    struct TParts {
        QWidget& Window;
        // Where notices show while the window is on screen; hidden while there is none.
        QLabel& NoticeLine;
        TPlayback& Playback;
        TPlayList& PlayList;
        TLibraryTree& Tree;
        QAbstractButton& RepeatAllBtn;
        QAbstractButton& RandomBtn;
        TMP3Player& Player;
    };

    explicit TDesktop(TParts parts);
    ~TDesktop() override;

    // Whether the desktop has a notification area; a test may stand in for one.
    std::function<bool()> TrayAvailable;
    TTrayIcon& Tray() { return *trayIcon_; }
    bool InTray() const { return inTray_; }
    void ApplicationEvents1Minimize();
    void ApplicationEvents1Restore();
    // Straight to the notification area (Esc), or minimised where there is none.
    void HideToTray();
    // The window's state changed; a minimise by the user goes to the notification area.
    void WindowStateChanged(const QWindowStateChangeEvent& change);
    // The window closed: the icon goes.
    void WindowClosed();
    // The icon's tip follows the song now playing, and says when it is paused.
    void SetNowPlaying(const QString& text, bool paused);
    const QString& TrayTip() const { return trayTip_; }

    // Tells the user something that needs no answer: the tray's message while the window is in
    // the tray, else the notice line above the buttons. Never a modal box. An empty text clears
    // the line.
    void ShowNotice(const QString& text);
    // The notice line goes if it still says `text`.
    void WithdrawNotice(const QString& text);
    QLabel& NoticeLine() const { return parts_.NoticeLine; }
    const QString& LastNotice() const { return lastNotice_; }

    // The three hot keys, by their short-cut values (0: none); they are registered at once.
    void SetHotKeys(TShortCut show, TShortCut volumeUp, TShortCut volumeDown);
    TShortCut ShowHotKey() const { return showHotKey_; }
    TShortCut VolumeUpHotKey() const { return volumeUpHotKey_; }
    TShortCut VolumeDownHotKey() const { return volumeDownHotKey_; }
    void RegisterShortCutHotKey(TShortCut shortCut, int id);
    void WMHotKey(int id);
    // Takes the hot keys from the desktop's GlobalShortcuts portal on `connection` from now on;
    // the X11 grab of each key the portal binds is given back.
    void UsePortalHotKeys(const QDBusConnection& connection);
    TPortalShortcuts* PortalHotKeys() const { return portalHotKeys_.get(); }

    // Publishes the window as an MPRIS player on `connection` (the session bus at start-up).
    bool PublishMpris(const QDBusConnection& connection);
    TMprisService* Mpris() const { return mpris_.get(); }
    // What MPRIS publishes may have changed.
    void RefreshMpris();
    void NotifySeeked();

    // IPlaybackControl, for MPRIS.
    void PlayClick() override;
    void PauseClick() override;
    void StopClick() override;
    void Next() override;
    void Previous() override;
    bool SeekTo(std::int64_t positionMs) override;
    void SetVolumePercent(int percent) override;
    int Pitch() const override;
    void SetPitch(int percent) override;
    void ShowWindow() override;
    QString OpenFile(const TFilePath& file) override;
    bool RepeatAll() const override;
    void SetRepeatAll(bool on) override;
    bool Shuffle() const override;
    void SetShuffle(bool on) override;
    void Quit() override;
    TPlaybackState PlaybackState() const override;
    TCapabilities Capabilities() const override;
    std::int64_t PositionMs() const override;
    int VolumePercent() const override;
    TNowPlaying NowPlaying() const override;
    // Tells when the song's tags and cover are read.
    TNowPlayingTags& SongTags() const { return nowPlaying_; }

private:
    void BringAppToFront();
    void RegisterHotKeys();
    void BindPortalHotKeys();
    void ReleaseX11HotKeys();

    TParts parts_;
    TTrayIcon* trayIcon_;
    bool inTray_ = false;
    QString trayTip_;
    QString lastNotice_;
    TShortCut showHotKey_ = 0;
    TShortCut volumeUpHotKey_ = 0;
    TShortCut volumeDownHotKey_ = 0;
    bool x11HotKeyRefused_ = false;
    std::unique_ptr<THotKeys> hotKeys_;
    std::unique_ptr<TPortalShortcuts> portalHotKeys_;
    std::unique_ptr<TMprisService> mpris_;
    // Asked for by MPRIS's reads, which are const; read once per file.
    mutable TNowPlayingTags nowPlaying_;
};

} // namespace pelbrisk
