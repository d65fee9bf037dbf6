#pragma once

#include "app/AudioFileInfo.h"
#include "app/FocusKeeper.h"
#include "app/MprisClient.h"
#include "app/MprisService.h"
#include "app/OtherAppCtrl.h"
#include "app/PlayHistory.h"
#include "app/Settings.h"
#include "app/TrayIcon.h"
#include "app/TreeNodeList.h"
#include "app/TreePlace.h"
#include "app/WorkerThread.h"
#include "engine/MP3Player.h"
#include "platform/HotKeys.h"
#include "platform/PortalShortcuts.h"

#include <QPointer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <random>

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QScrollBar;
class QSplitter;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace pelbrisk {

class TKeyBuffer;
struct TListedFiles;
struct TScanProgress;
struct TScannedRoot;

// What a scroll bar reports to its handler: the thumb is being dragged, a scroll action has
// ended (a click, a page step, a released drag, a wheel turn), or anything else.
enum TScrollCode { scrTrack, scrEndScroll, scrOther };

// How far a seek key moves, and the position bar's page step.
inline constexpr int kSeekStepMs = 5000;

// The icon's tip holds at most 63 bytes of the now-playing text, cut on a character boundary.
QString TrayTipText(const QString& nowPlaying);

// The program's one window: the folder tree on the left, the play list on the right, the command
// box above them and the buttons and bars below. Controls and handlers bear the names of the form
// so that every later feature finds them where it expects.
class TMainForm : public QWidget, public IPlaybackControl {
    Q_OBJECT

public:
    // `settingsFile` defaults to the place SettingsFilePath gives for this executable.
    explicit TMainForm(const QString& settingsFile = QString(), QWidget* parent = nullptr);
    ~TMainForm() override;

    QWidget* Panel1;
    QLineEdit* CommandEdit;
    QWidget* Panel2;
    QTreeWidget* DirTree;
    QSplitter* Splitter1;
    QListWidget* PlayFileList;
    QWidget* Panel6;
    QWidget* Panel7;
    QToolButton* PrevBtn;
    QToolButton* StopBtn;
    QToolButton* PauseBtn;
    QToolButton* PlayBtn;
    QToolButton* NextBtn;
    QToolButton* RepeatAllBtn;
    QToolButton* RandomBtn;
    QToolButton* SendListBtn;
    QFrame* Bevel1;
    QWidget* BarPanel;
    QWidget* PitPanel;
    QLabel* Pit;
    QScrollBar* PitchBar;
    QWidget* PosPanel;
    QLabel* Label1;
    QScrollBar* PosBar;
    // Elapsed and total time, beside the position bar.
    QLabel* PosTime;
    QWidget* VolPanel;
    QLabel* Label2;
    QScrollBar* VolBar;
    QLabel* LoadingPanel;
    QMenu* DirFileListMenu;
    QMenu* GetLyricsMenu;
    QAction* LyricsSiteAItem;
    QAction* LyricsSiteBItem;
    QAction* Play1;
    QAction* Stop1;
    QAction* Pause1;
    QAction* Next1;
    QAction* Prev1;
    QAction* UpVolume;
    QAction* DownVolume;
    QAction* OpenDirectory;
    TTrayIcon* TrayIcon;
    std::unique_ptr<TMP3Player> MP3Player;
    // The other players that the send toggle hands the play list to.
    std::unique_ptr<IRemotePlayerTransport> RemotePlayers;
    std::unique_ptr<TMprisClient> MprisPlayers;
    std::unique_ptr<TOtherAppCtrl> OtherApp;
    std::unique_ptr<THotKeys> HotKeys;
    // The desktop's GlobalShortcuts portal, once it is asked for the hot keys.
    std::unique_ptr<TPortalShortcuts> PortalHotKeys;
    std::unique_ptr<TMprisService> Mpris;
    // Whether the desktop has a notification area; a test may stand in for one.
    std::function<bool()> TrayAvailable;

    // The library browser. Scans and fills run on the library's worker, one at a time in the
    // order they were asked for; each starts from the window as the ones before it left it.
    QTreeWidgetItem* AddRoot(const QString& path);
    void BuildTree();
    void ReloadTree();
    void RemoveRoot(QTreeWidgetItem* node);
    // Refills the list from the selected folder, unless it has no MP3 file of its own and
    // `recursive` is not set; `afterRefill` runs once a refill is shown.
    // Lists the tree's selected folder, or `folder` when one is given (a file opened from outside
    // the library), on the library worker; `afterRefill` runs once the list shows it.
    void FillPlayList(bool recursive, std::function<void()> afterRefill = {},
                      const QString& folder = {});
    void OpenFolder(bool recursive);
    const TTreeNodeList& RootNodes() const { return rootNodes_; }
    // A scan or a fill runs or waits.
    bool LibraryBusy() const;
    // Drops the scan or fill that runs and those that wait; the tree and the list stay as they
    // were before them.
    void CancelLibraryWork();

    // Choosing and playing play-list entries.
    QListWidgetItem* SelectNext();
    QListWidgetItem* SelectPrev();
    void PlaySelected();
    void PlayNext();
    void PlayPrev();
    int CurrentIndex() const { return currentIndex_; }

    // The transport buttons and the volume items, as their menu short-cuts run them too.
    void PlayBtnClick();
    void StopBtnClick();
    void PauseBtnClick();
    void PrevBtnClick();
    void NextBtnClick();
    void UpVolumeClick();
    void DownVolumeClick();
    void LyricsSiteAItemClick();
    void LyricsSiteBItemClick();

    void PosBarScroll(TScrollCode code, int position);
    void VolBarScroll(TScrollCode code, int position);
    void PitchBarScroll(TScrollCode code, int position);
    void PitClick();
    void SetPitch(int percent);
    bool SeekTracking() const { return seekTracking_; }
    // Moves the playing position by `deltaMs` (negative: back), within the song.
    void SeekBy(int deltaMs);

    void SetNowPlaying(const QString& text);
    const QString& NowPlayingText() const { return nowPlaying_; }
    const QString& TrayTip() const { return trayTip_; }

    // Hot keys and the notification area.
    void RegisterShortCutHotKey(TShortCut shortCut, int id);
    void WMHotKey(int id);
    // Takes the hot keys from the desktop's GlobalShortcuts portal on `connection` from now on;
    // the X11 grabs are given back once the portal has bound them.
    void UsePortalHotKeys(const QDBusConnection& connection);
    void ApplicationEvents1Minimize();
    void ApplicationEvents1Restore();
    bool InTray() const { return inTray_; }
    // Tells the user something that needs no answer: the tray's message while the window is in
    // the tray, else a line at the foot of the window. Never a modal box.
    void ShowNotice(const QString& text);
    QLabel* NoticeLine() const { return noticeLine_; }
    const QString& LastNotice() const { return lastNotice_; }
    // Publishes the window as an MPRIS player on `connection` (the session bus at start-up).
    bool PublishMpris(const QDBusConnection& connection);

    // The command box.
    bool ExecuteCommand();
    void ShowHelp();
    void CmdEditChange();
    // True when the key is taken here and the box's own editing must not see it.
    bool CmdEditKeyDown(const QKeyEvent& key);
    QTreeWidgetItem* StepNode(QTreeWidgetItem* node, bool backward, bool deep) const;
    QTreeWidgetItem* SearchNode(QString text, bool stepFirst, bool deep, bool backward,
                                QTreeWidgetItem* start) const;

    // IPlaybackControl, for MPRIS: each does what its button does.
    void PlayClick() override { PlayBtnClick(); }
    void PauseClick() override { PauseBtnClick(); }
    void StopClick() override { StopBtnClick(); }
    void NextClick() override { NextBtnClick(); }
    void PrevClick() override { PrevBtnClick(); }
    void SeekTo(std::int64_t positionMs) override;
    void SetVolumePercent(int percent) override;
    void ShowWindow() override;
    QString OpenFile(const QString& path) override;
    bool RepeatAll() const override;
    void SetRepeatAll(bool on) override;
    bool Shuffle() const override;
    void SetShuffle(bool on) override;
    void Quit() override;
    TPlaybackState PlaybackState() const override;
    std::int64_t PositionMs() const override;
    int VolumePercent() const override;
    TNowPlaying NowPlaying() const override;

    void ShowLoading();
    void HideLoading();
    TFocusKeeper& FocusKeeper() { return *focusKeeper_; }
    bool TreeBuilt() const { return treeBuilt_; }

    TShortCut ShowHotKey() const { return showHotKey_; }
    TShortCut VolumeUpHotKey() const { return volumeUpHotKey_; }
    TShortCut VolumeDownHotKey() const { return volumeDownHotKey_; }
    int WindowAlpha() const { return windowAlpha_; }

    void MP3PlayerChangeStatus();
    void MP3PlayerChangePosition();
    void MP3PlayerEndPlay(TMP3EndPlayReason reason);

    void SendListBtnClick();
    void OpenDirectoryClick();
    void DirFileListMenuPopup();

signals:
    // The window has closed: the program ends with it.
    void Closed();
    // A command of the send mode has reached the other players; `accepted` when one took it.
    void OtherPlayersAnswered(bool accepted);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    QWidget* CreateCommandPanel();
    QWidget* CreateBrowserPanel();
    QWidget* CreateButtonPanel();
    QWidget* CreateBar(const QString& caption, QLabel*& label, QScrollBar*& bar);
    void CreateMenus();
    void CreatePlayer();
    void UseAudioDeviceOfEnvironment();
    QAction* AddMenuItem(const QString& caption, TShortCut shortCut, void (TMainForm::*click)());
    void ConnectBar(QScrollBar* bar, void (TMainForm::*scroll)(TScrollCode, int));
    void BringAppToFront();
    void HideToTray();
    // Plays the file; the text of its own failure (it cannot be opened, or is no MPEG audio), or
    // empty when it plays or when the sound device failed, which the error box has shown.
    QString PlayEntryFile(const QString& path);
    // Nothing plays any more: the captions go back to the program's own.
    void ShowProgramCaption();
    void NoticeUnlessAccepted(bool accepted);
    QTreeWidgetItem* FolderNode(const QString& folder) const;
    void RegisterHotKeys();
    void BindPortalHotKeys();
    void ReleaseX11HotKeys();
    void SelectNode(QTreeWidgetItem* node);
    QListWidgetItem* SelectByStep(int step);
    QListWidgetItem* SelectCurrentIndex();
    void CollapseTree();
    void ExpandTree();
    void CloseWindow();
    void OpenLyricsPage(std::string (*address)(const TAudioFileInfo&));
    bool IsMenuShortCut(const QKeyEvent& key) const;
    // Runs a player operation; its failure goes to the standard error box and the window goes on.
    void ReportErrors(const std::function<void()>& operation);
    // Calls the other players from the remote worker, in the order the commands were given.
    void SendToOtherPlayers(std::function<bool(TOtherAppCtrl&)> command);

    // `start` runs on this thread once the library work asked for before it is done.
    void QueueLibraryJob(std::function<void()> start);
    void StartNextLibraryJob();
    // Runs `work` on the library worker behind the loading panel; what it returns then runs on
    // this thread, unless the work was cancelled. `unit` names what the panel counts.
    using TLibraryWork = std::function<std::function<void()>(TScanProgress&)>;
    void StartLibraryWork(const QString& unit, TLibraryWork work);
    void EndLibraryWork();
    void ShowLoadingProgress();
    void ScanRoots(bool reload);
    void TreeScanned(const std::vector<QTreeWidgetItem*>& roots, std::vector<TScannedRoot>& scanned,
                     bool reload);
    void PlayListListed(const TListedFiles& listed, bool everyFile);

    void LoadSettings();
    void SaveSettings();
    void FormResize();

    void DirTreeChange();
    void DirTreeCollapsed(QTreeWidgetItem* node);
    // What follows every scan: sorting, the selection and the keyboard.
    void AfterScan();
    void PlayEntryOfFolderMenu(int fileIndex);
    void ShowPauseState();
    void DirTreeDblClick();
    void DirTreeKeyDown(const QKeyEvent& key);
    bool PlayFileListKeyDown(const QKeyEvent& key);
    void DeleteSelectedEntry();
    void KeepOnlySelectedEntry();
    QListWidgetItem* SelectedEntry() const;

    QString settingsFile_;
    TFocusKeeper* focusKeeper_ = nullptr;
    // Set by a reload: where the user stood, to find again once the new scan is done.
    std::optional<TTreePlace> placeAfterScan_;
    TPlayHistory randomHistory_;
    TTreeNodeList rootNodes_;
    TShortCut showHotKey_ = 0;
    TShortCut volumeUpHotKey_ = 0;
    TShortCut volumeDownHotKey_ = 0;
    bool x11HotKeyRefused_ = false;
    int windowAlpha_ = 255;
    int currentIndex_ = -1;
    bool treeBuilt_ = false;
    bool seekTracking_ = false;
    bool inTray_ = false;
    QLabel* noticeLine_ = nullptr;
    QString nowPlaying_;
    QString programCaption_;
    QString lastNotice_;
    QString trayTip_;
    // The tags of the file now playing, read once per file for MPRIS.
    mutable std::string nowPlayingPath_;
    mutable TNowPlaying nowPlayingTags_;
    std::unique_ptr<TWorkerThread> libraryWorker_;
    std::unique_ptr<TWorkerThread> remoteWorker_;
    std::deque<std::function<void()>> pendingLibraryJobs_;
    std::shared_ptr<TScanProgress> libraryWork_;
    QString libraryWorkUnit_;
    QTimer* loadingTimer_;
    TKeyBuffer* keyBuffer_;
    int fileListWidth_ = 155;
    QString tagCodePage_; // as the settings file names it, to be written back unchanged
    bool fileListWidthApplied_ = false;
    std::minstd_rand random_;
};

} // namespace pelbrisk
