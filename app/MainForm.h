#pragma once

#include "app/AudioFileInfo.h"
#include "app/CommandBox.h"
#include "app/Desktop.h"
#include "app/FocusKeeper.h"
#include "app/LibraryJobs.h"
#include "app/LibraryTree.h"
#include "app/PlayList.h"
#include "app/Playback.h"
#include "app/SettingsBinding.h"
#include "engine/MP3Player.h"

#include <QWidget>
#include <memory>

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QScrollBar;
class QSplitter;
class QToolButton;
class QTreeWidget;

namespace pelbrisk {

// The program's one window: the folder tree on the left, the play list on the right, the command
// box above them and the buttons and bars below. It builds the controls and wires the owners of
// the jobs behind them; it does none of their work. Controls bear the names of the form.
class TMainForm : public QWidget {
    Q_OBJECT

public:
    // `settingsFile` defaults to where SettingsFilePath finds it for this program.
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
    // The pitch in percent, beside the pitch bar.
    QLabel* PitchValue;
    // Elapsed and total time, beside the position bar.
    QLabel* PosTime;
    QWidget* VolPanel;
    QLabel* Label2;
    QScrollBar* VolBar;
    QLabel* LoadingPanel;
    // Notices, above the buttons; hidden while there is none.
    QLabel* NoticeLine;
    // The playing song's cover, beside the play list; hidden without one.
    QLabel* CoverArt;
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
    std::unique_ptr<TMP3Player> MP3Player;

    TLibraryJobs& LibraryJobs() { return *libraryJobs_; }
    TLibraryTree& Library() { return *library_; }
    TPlayList& PlayList() { return *playList_; }
    TPlayback& Playback() { return *playback_; }
    TCommandBox& CommandBox() { return *commandBox_; }
    TDesktop& Desktop() { return *desktop_; }
    TSettingsBinding& Settings() { return *settings_; }
    TFocusKeeper& FocusKeeper() { return *focusKeeper_; }

    // The selected folder into the play list (`Recursive` with its sub-folders), then played.
    void OpenFolder(bool recursive);
    // What a launch with files asked for (file: addresses): the first folder is shown in the
    // tree and played with its sub-folders, else the MP3 files become the play list; what
    // cannot be opened is named in a notice. The window comes forward.
    void OpenUris(const QStringList& uris);
    bool TreeBuilt() const { return treeBuilt_; }
    int WindowAlpha() const { return windowAlpha_; }

signals:
    // The window has closed: the program ends with it.
    void Closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls(const TFormSettings& settings);
    QWidget* CreateCommandPanel();
    QWidget* CreateBrowserPanel();
    QWidget* CreateButtonPanel();
    QWidget* CreateBar(const QString& caption, QLabel*& label, QScrollBar*& bar);
    void CreateMenus();
    void CreatePlayer();
    void CreateOwners();
    QAction* AddMenuItem(const QString& caption, TShortCut shortCut, std::function<void()> click);
    void ShowNowPlaying(const QString& text, bool paused);
    void ShowCoverArt();
    // The window where the settings put it, kept on the screen.
    void PlaceStoredWindow(const TFormSettings& settings);
    void TakeGainAndCoverSettings(const TFormSettings& settings);
    void SendListBtnClick();
    void OpenLyricsPage(std::string (*address)(const TAudioFileInfo&));
    bool IsMenuShortCut(const QKeyEvent& key) const;
    bool PlayFileListKeyDown(const QKeyEvent& key);

    void LoadSettings(const TFormSettings& settings);
    // Takes what someone changed in the settings file while the window ran.
    void TakeChangedSettings(const TFormSettings& settings);
    void ApplyTagCodePage(const QString& codePage);
    void ApplyWindowAlpha(int alpha);
    void PlaceFirstWindow();
    void CollectSettings(TFormSettings& settings) const;
    // The settings' ReplayGain for the player; Auto follows the random button.
    void ApplyReplayGain();
    void FormResize();

    std::unique_ptr<TSettingsBinding> settings_;
    TFocusKeeper* focusKeeper_ = nullptr;
    QString programCaption_;
    int windowAlpha_ = 255;
    bool treeBuilt_ = false;
    int fileListWidth_ = 0;
    bool fileListWidthApplied_ = false;
    // The play list has been restored (or filled anew): from then on it is the one to keep.
    bool listRestored_ = false;
    // The settings are loaded: changes from here on are the user's.
    bool settingsBound_ = false;
    TReplayGainChoice replayGainChoice_ = TReplayGainChoice::Auto;
    TReplayGainSettings replayGain_;
    bool showCoverArt_ = true;
    // Declared in the order they are made; the jobs go first, so that no result of theirs
    // reaches an owner that is gone.
    std::unique_ptr<TPlayList> playList_;
    std::unique_ptr<TLibraryTree> library_;
    std::unique_ptr<TPlayback> playback_;
    std::unique_ptr<TDesktop> desktop_;
    std::unique_ptr<TCommandBox> commandBox_;
    std::unique_ptr<TLibraryJobs> libraryJobs_;
};

} // namespace pelbrisk
