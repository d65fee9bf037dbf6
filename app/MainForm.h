#pragma once

#include "app/MprisClient.h"
#include "app/OtherAppCtrl.h"
#include "app/Settings.h"
#include "app/TreeNodeList.h"
#include "engine/MP3Player.h"

#include <QWidget>
#include <memory>
#include <random>

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QScrollBar;
class QSplitter;
class QToolButton;
class QTreeWidget;

namespace pelbrisk {

// The program's one window: the folder tree on the left, the play list on the right, the command
// box above them and the buttons and bars below. Controls and handlers bear the names of the form
// so that every later feature finds them where it expects.
class TMainForm : public QWidget {
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
    QWidget* VolPanel;
    QLabel* Label2;
    QScrollBar* VolBar;
    QLabel* LoadingPanel;
    QMenu* DirFileListMenu;
    QMenu* GetLyricsMenu;
    std::unique_ptr<TMP3Player> MP3Player;
    // The other players that the send toggle hands the play list to.
    std::unique_ptr<IRemotePlayerTransport> RemotePlayers;
    std::unique_ptr<TMprisClient> MprisPlayers;
    std::unique_ptr<TOtherAppCtrl> OtherApp;

    // The library browser.
    QTreeWidgetItem* AddRoot(const QString& path);
    void BuildTree();
    void ReloadTree();
    void RemoveRoot(QTreeWidgetItem* node);
    bool FillPlayList(bool recursive);
    bool OpenFolder(bool recursive);
    const TTreeNodeList& RootNodes() const { return rootNodes_; }

    // Choosing and playing play-list entries.
    QListWidgetItem* SelectNext();
    void PlaySelected();
    int CurrentIndex() const { return currentIndex_; }

    void ShowLoading();
    void HideLoading();
    bool TreeBuilt() const { return treeBuilt_; }

    TShortCut ShowHotKey() const { return showHotKey_; }
    TShortCut VolumeUpHotKey() const { return volumeUpHotKey_; }
    TShortCut VolumeDownHotKey() const { return volumeDownHotKey_; }
    int WindowAlpha() const { return windowAlpha_; }

    void MP3PlayerChangeStatus();
    void MP3PlayerEndPlay(TMP3EndPlayReason reason);

    void SendListBtnClick();
    void OpenDirectoryClick();
    void DirFileListMenuPopup();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    QWidget* CreateCommandPanel();
    QWidget* CreateBrowserPanel();
    QWidget* CreateButtonPanel();
    QWidget* CreateBar(const QString& caption, QLabel*& label, QScrollBar*& bar);
    void CreateMenus();
    void CreatePlayer();
    // Runs a player operation; its failure goes to the standard error box and the window goes on.
    template <typename Operation>
    void ReportErrors(Operation&& operation);

    void LoadSettings();
    void SaveSettings();
    void FormResize();

    void DirTreeChange();
    void DirTreeDblClick();
    void DirTreeKeyDown(const QKeyEvent& key);
    bool PlayFileListKeyDown(const QKeyEvent& key);
    void DeleteSelectedEntry();
    void KeepOnlySelectedEntry();
    QListWidgetItem* SelectedEntry() const;

    QString settingsFile_;
    TTreeNodeList rootNodes_;
    TShortCut showHotKey_ = 0;
    TShortCut volumeUpHotKey_ = 0;
    TShortCut volumeDownHotKey_ = 0;
    int windowAlpha_ = 255;
    int currentIndex_ = -1;
    bool treeBuilt_ = false;
    int fileListWidth_ = 155;
    bool fileListWidthApplied_ = false;
    std::minstd_rand random_;
};

} // namespace pelbrisk
