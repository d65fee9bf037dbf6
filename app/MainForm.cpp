#include "app/MainForm.h"

#include "app/AudioFileInfo.h"
#include "app/FormControls.h"
#include "app/GetLyrics.h"
#include "app/HelpText.h"
#include "app/KeyBuffer.h"
#include "app/OpenArguments.h"
#include "app/TrayIcon.h"
#include "info/TextConversion.h"
#include "platform/SettingsLocation.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QThread>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace pelbrisk {

namespace {

// The X protocol's sizes are 16-bit; a settings file may ask for anything.
constexpr int kLargestWindowSide = 32767;
// A first window shows about this many songs, and is about this many characters wide.
constexpr int kFirstWindowRows = 20;
constexpr int kFirstWindowColumns = 96;

// "Family, points" or just the family.
QFont FontOfSetting(const QString& setting) {
    const qsizetype comma = setting.lastIndexOf(',');
    bool number = false;
    const double points = comma < 0 ? 0 : setting.mid(comma + 1).trimmed().toDouble(&number);
    QFont font((number ? setting.left(comma) : setting).trimmed());
    if (number && points > 0) font.setPointSizeF(points);
    return font;
}

QString SettingsFileOfThisProgram() {
    return QFile::decodeName(QByteArray::fromStdString(SettingsFilePath(ProgramFolder())));
}
// The cover beside the play list: small enough to leave the list its room.
constexpr int kCoverArtSide = 96;

// The program's standard error box, as the toolkit shows an error that reaches it. An error raised
// on another thread is shown once the window's thread comes to it. The box belongs to the main
// window also while that is hidden in the notification area.
void ShowErrorBox(const QPointer<QWidget>& owner, const std::exception_ptr& error) {
    const QString text = QString::fromLocal8Bit(ExceptionText(error));
    const auto show = [owner, text] { QMessageBox::critical(owner.data(), "pelbrisk", text); };
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        show();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), show, Qt::QueuedConnection);
}

// A key that types a character, not one that edits or commands.
bool IsTypedText(const QKeyEvent& key) {
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = key.text();
    return !text.isEmpty() && text.front().isPrint();
}

} // namespace

TMainForm::TMainForm(const QString& settingsFile, QWidget* parent)
    : QWidget(parent), settings_(std::make_unique<TSettingsBinding>(
                           settingsFile.isEmpty() ? SettingsFileOfThisProgram() : settingsFile)) {
    const TFormSettings& settings = settings_->Load();
    CreateControls(settings);
    setAcceptDrops(true);
    setWindowTitle(windowTitle() + " - ver." + "050228");
    programCaption_ = windowTitle();
    // Error boxes and the icon's menu are windows too, and this one may be hidden in the tray:
    // only its own close ends the program (see Closed).
    QGuiApplication::setQuitOnLastWindowClosed(false);
    LoadSettings(settings);
}

TMainForm::~TMainForm() {
    // What changed since the close, or without one; a failure was told at the close.
    settings_->Save();
    // Nothing of the library's work reaches the owners from here on.
    libraryJobs_.reset();
    // MPRIS calls must not reach a window that is going away.
    desktop_.reset();
    // The player's threads end here, while the window they report to still stands.
    MP3Player.reset();
}

void TMainForm::CreateControls(const TFormSettings& settings) {
    setWindowTitle("pelbrisk");
    setWindowIcon(ProgramIcon());
    // The desktop's font (and so its size on a high-density screen), unless the settings name one.
    if (!settings.Font.isEmpty()) setFont(FontOfSetting(settings.Font));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(CreateCommandPanel());
    focusKeeper_ = new TFocusKeeper(*this, *CommandEdit);
    layout->addWidget(CreateBrowserPanel(), 1);
    NoticeLine = new QLabel(this);
    NoticeLine->setWordWrap(true);
    NoticeLine->setContentsMargins(4, 1, 4, 1);
    NoticeLine->hide();
    layout->addWidget(NoticeLine);
    layout->addWidget(CreateButtonPanel());

    LoadingPanel = new QLabel(this);
    LoadingPanel->setAlignment(Qt::AlignCenter);
    LoadingPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    LoadingPanel->setAutoFillBackground(true);
    LoadingPanel->resize(LoadingPanel->width(), 3 * fontMetrics().height());
    // The panel is shown while the window is disabled; its caption must stay readable.
    QPalette loadingPalette = LoadingPanel->palette();
    loadingPalette.setColor(QPalette::Disabled, QPalette::WindowText,
                            loadingPalette.color(QPalette::Active, QPalette::WindowText));
    LoadingPanel->setPalette(loadingPalette);
    LoadingPanel->hide();

    DirFileListMenu = new QMenu(this);
    auto* menuStyle = new TScrollingMenuStyle;
    menuStyle->setParent(DirFileListMenu);
    DirFileListMenu->setStyle(menuStyle);
    GetLyricsMenu = new QMenu(this);

    SetApplicationExceptionDisplay(
        [owner = QPointer<QWidget>(this)](const std::exception_ptr& error) {
            ShowErrorBox(owner, error);
        });
    CreatePlayer();
    CreateOwners();
    CreateMenus();
}

void TMainForm::CreatePlayer() {
    MP3Player = std::make_unique<TMP3Player>();
    MP3Player->BeginLoading();
    MP3Player->SetAutoOpen(true);
    // The play target starts what it opens itself, so that a song can also be opened to wait
    // (MPRIS's Next while paused or stopped).
    MP3Player->SetAutoPlay(false);
    MP3Player->SetChangePosStep(400);
    MP3Player->SetDecodePriority(tpNormal);
    MP3Player->SetEqualizerEnabled(false);
    MP3Player->SetEqualizerCount(6);
    MP3Player->SetEqualizerMode(memSubBand);
    MP3Player->SetNeedInfoType(mitID3V1 | mitID3V2 | mitRiff | mitApe);
    MP3Player->SetNoisySeek(true);
    MP3Player->SetInvertPolarity(false);
    MP3Player->SetUsingCpuCapabilities(kAllCpuCapabilities);
    MP3Player->SetVolBalance(0);
    MP3Player->SetVolume(100);
    MP3Player->Loaded();
    // Other threads post to the player's queue; the queue is pumped here, on this thread.
    MP3Player->Messages().SetWakeHook([this] {
        QMetaObject::invokeMethod(
            this, [this] { MP3Player->Messages().Pump(); }, Qt::QueuedConnection);
    });
}

void TMainForm::CreateOwners() {
    libraryJobs_ =
        std::make_unique<TLibraryJobs>(*this, *LoadingPanel, *focusKeeper_, *CommandEdit);
    library_ = std::make_unique<TLibraryTree>(*DirTree, *DirFileListMenu, *libraryJobs_, *this);
    playList_ =
        std::make_unique<TPlayList>(*PlayFileList, *libraryJobs_, *RepeatAllBtn, *RandomBtn);
    playback_ =
        std::make_unique<TPlayback>(*MP3Player, *playList_,
                                    TPlayback::TControls{*PauseBtn, *SendListBtn, *PosBar, *PosTime,
                                                         *VolBar, *PitchBar, *PitchValue});
    desktop_ = std::make_unique<TDesktop>(TDesktop::TParts{*this, *NoticeLine, *playback_,
                                                           *playList_, *library_, *RepeatAllBtn,
                                                           *RandomBtn, *MP3Player});
    commandBox_ = std::make_unique<TCommandBox>(
        *CommandEdit, *DirTree, *PlayFileList, *library_, *playback_,
        TCommandBox::TToggles{*RepeatAllBtn, *RandomBtn, *SendListBtn},
        TCommandBox::TWindowActions{
            .Close = [this] { close(); },
            .ToTray = [this] { desktop_->HideToTray(); },
            .Reload =
                [this] {
                    settings_->TakeFileChanges(
                        [this](const TFormSettings& file) { TakeChangedSettings(file); });
                    library_->ReloadTree();
                },
            .Notice = [this](const QString& text) { desktop_->ShowNotice(text); },
            .SettingsFile = settings_->File()});
    static_cast<TDirTreeView*>(DirTree)->SetEmptyText(EmptyTreeText(settings_->File()));

    connect(playback_.get(), &TPlayback::NowPlayingChanged, this, &TMainForm::ShowNowPlaying);
    connect(&desktop_->SongTags(), &TNowPlayingTags::Read, this, &TMainForm::ShowCoverArt);
    connect(playback_.get(), &TPlayback::Notice, desktop_.get(), &TDesktop::ShowNotice);
    connect(&playback_->OtherPlayers(), &TOtherPlayers::NoticeOver, desktop_.get(),
            &TDesktop::WithdrawNotice);
    connect(library_.get(), &TLibraryTree::Notice, desktop_.get(), &TDesktop::ShowNotice);
    connect(playList_.get(), &TPlayList::Notice, desktop_.get(), &TDesktop::ShowNotice);
    connect(library_.get(), &TLibraryTree::FolderMenuChosen, playback_.get(),
            [this](const TFilePath& folder, const TFilePath& file) {
                playback_->PlayFileOfFolder(folder, file);
            });
    connect(DirTree, &QTreeWidget::itemDoubleClicked, this,
            [this] { OpenFolder(QApplication::queryKeyboardModifiers() & Qt::ControlModifier); });
    connect(DirTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        library_->PopupFolderMenu(DirTree->viewport()->mapToGlobal(at), playback_->SendMode());
    });
    connect(SendListBtn, &QToolButton::clicked, this, &TMainForm::SendListBtnClick);
    connect(PrevBtn, &QToolButton::clicked, playback_.get(), &TPlayback::PrevBtnClick);
    connect(StopBtn, &QToolButton::clicked, playback_.get(), &TPlayback::StopBtnClick);
    connect(PauseBtn, &QToolButton::clicked, playback_.get(), &TPlayback::PauseBtnClick);
    connect(PlayBtn, &QToolButton::clicked, playback_.get(), &TPlayback::PlayBtnClick);
    connect(NextBtn, &QToolButton::clicked, playback_.get(), &TPlayback::NextBtnClick);
    playback_->UseAudioDeviceOfEnvironment();
    desktop_->PublishMpris(QDBusConnection::sessionBus());
}

QWidget* TMainForm::CreateCommandPanel() {
    Panel1 = new QWidget(this);
    CommandEdit = new QLineEdit(Panel1);
    Panel1->setFixedHeight(CommandEdit->sizeHint().height());
    CommandEdit->setAcceptDrops(false);
    CommandEdit->setPlaceholderText(kCommandBoxPlaceholder);
    CommandEdit->installEventFilter(this);
    auto* layout = new QHBoxLayout(Panel1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(CommandEdit);
    return Panel1;
}

QWidget* TMainForm::CreateBrowserPanel() {
    Panel2 = new QWidget(this);
    Splitter1 = new QSplitter(Qt::Horizontal, Panel2);
    Splitter1->setChildrenCollapsible(false);

    DirTree = new TDirTreeView(Splitter1);
    DirTree->setIndentation(19);
    DirTree->setFocusPolicy(Qt::ClickFocus);
    DirTree->setToolTip("Directory tree");
    DirTree->setContextMenuPolicy(Qt::CustomContextMenu);
    DirTree->setUniformRowHeights(true);
    KeepSelectionVisible(DirTree);
    DirTree->installEventFilter(this);

    PlayFileList = new QListWidget(Splitter1);
    PlayFileList->setSelectionMode(QAbstractItemView::SingleSelection);
    PlayFileList->setFocusPolicy(Qt::ClickFocus);
    PlayFileList->setToolTip("File list");
    PlayFileList->setContextMenuPolicy(Qt::CustomContextMenu);
    PlayFileList->setUniformItemSizes(true);
    KeepSelectionVisible(PlayFileList);
    PlayFileList->installEventFilter(this);

    // Width the window gains is shared between the tree and the play list.
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 1);

    CoverArt = new QLabel(Panel2);
    CoverArt->setFixedSize(kCoverArtSide, kCoverArtSide);
    CoverArt->setAlignment(Qt::AlignCenter);
    CoverArt->setToolTip("Cover art");
    CoverArt->hide();

    auto* layout = new QHBoxLayout(Panel2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Splitter1);
    layout->addWidget(CoverArt, 0, Qt::AlignBottom);
    return Panel2;
}

QWidget* TMainForm::CreateButtonPanel() {
    // Sized by the font, so that a larger desktop font (or a high-density screen) keeps every
    // caption whole; the design's 19 x 18 buttons and 12-pixel bars are the least.
    const QFontMetrics metrics(font());
    const int buttonWidth = std::max(19, metrics.height() + 4);
    const int buttonHeight = std::max(18, metrics.height() + 3);
    QFont barFont = font();
    // A desktop font may be given in pixels; its point size then reads -1.
    if (barFont.pointSizeF() > 0)
        barFont.setPointSizeF(barFont.pointSizeF() * 0.8);
    else
        barFont.setPixelSize(std::max(barFont.pixelSize() * 4 / 5, 8));
    const QFontMetrics barMetrics(barFont);
    const int barHeight = std::max(12, barMetrics.height());
    const int panelHeight = std::max(2 * buttonHeight, 3 * barHeight);

    Panel6 = new QWidget(this);
    Panel6->setFixedHeight(panelHeight);
    Panel7 = new QWidget(Panel6);
    Panel7->setFixedWidth(5 * buttonWidth + 9);
    const auto place = [&](int column, int row) {
        return QRect(column * buttonWidth, row * buttonHeight, buttonWidth, buttonHeight);
    };
    PrevBtn = CreateSpeedButton(Panel7, place(0, 0), "<l", "Prev", false);
    StopBtn = CreateSpeedButton(Panel7, place(1, 0), "[]", "Stop", false);
    // Down while paused, so that a pause shows.
    PauseBtn = CreateSpeedButton(Panel7, place(2, 0), "ll", "Pause", true);
    PlayBtn = CreateSpeedButton(Panel7, place(3, 0), ">", "Play", false);
    NextBtn = CreateSpeedButton(Panel7, place(4, 0), "l>", "Next", false);
    RepeatAllBtn = CreateSpeedButton(Panel7, place(0, 1), "廻", "Repeat all (:repeat)", true);
    RandomBtn = CreateSpeedButton(Panel7, place(1, 1), "乱", "Random (:random)", true);
    SendListBtn =
        CreateSpeedButton(Panel7, place(2, 1), "送", "Send to MPRIS players (:send)", true);
    for (QToolButton* toggle : {PauseBtn, RepeatAllBtn, RandomBtn, SendListBtn})
        ShowToggleStatePlainly(toggle);
    Bevel1 = new QFrame(Panel7);
    Bevel1->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    Bevel1->setGeometry(5 * buttonWidth + 4, 0, 2, panelHeight - 1);

    BarPanel = new QWidget(Panel6);
    auto* bars = new QVBoxLayout(BarPanel);
    bars->setContentsMargins(0, 0, 0, 0);
    bars->setSpacing(0);
    bars->addWidget(PitPanel = CreateBar("Pit ", Pit, PitchBar));
    bars->addWidget(PosPanel = CreateBar("Pos ", Label1, PosBar));
    bars->addWidget(VolPanel = CreateBar("Vol ", Label2, VolBar));
    for (QWidget* panel : {PitPanel, PosPanel, VolPanel}) {
        panel->setFixedHeight(barHeight);
        for (QWidget* part : panel->findChildren<QWidget*>()) {
            part->setFont(barFont);
            if (qobject_cast<QScrollBar*>(part)) part->setFixedHeight(barHeight);
        }
    }
    const auto sideLabel = [&](QWidget* panel, const QString& widest) {
        auto* label = new QLabel(panel);
        label->setFont(barFont);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setContentsMargins(4, 0, 2, 0);
        label->setMinimumWidth(barMetrics.horizontalAdvance(widest) + 8);
        panel->layout()->addWidget(label);
        return label;
    };
    for (QLabel* caption : {Pit, Label1, Label2})
        caption->setFixedWidth(std::max(24, barMetrics.horizontalAdvance("Pos ") + 4));
    Pit->setToolTip("Pitch: a click puts it back to 100% (:pitch)");
    Pit->setCursor(Qt::PointingHandCursor);
    PitchBar->setRange(20, 200);
    PitchBar->setValue(100);
    PitchValue = sideLabel(PitPanel, "0:00:00/0:00:00");
    PitchValue->setText("100%");
    PosBar->setToolTip("Seek");
    // A click goes where it points (TJumpingBarStyle), so the page step would only size the
    // thumb: a short song's would cover most of the bar. The arrows step as Alt+Left/Right do.
    PosBar->setPageStep(0);
    PosBar->setSingleStep(kSeekStepMs);
    PosTime = sideLabel(PosPanel, "0:00:00/0:00:00");
    VolBar->setRange(0, 100);
    VolBar->setValue(100);
    VolBar->setToolTip("Volume");
    VolBar->setPageStep(10);
    // A click in a bar goes where it was clicked.
    auto* barStyle = new TJumpingBarStyle;
    barStyle->setParent(this);
    for (QScrollBar* bar : {PitchBar, PosBar, VolBar})
        bar->setStyle(barStyle);
    Pit->installEventFilter(this);

    auto* layout = new QHBoxLayout(Panel6);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel7);
    layout->addWidget(BarPanel, 1);
    return Panel6;
}

QWidget* TMainForm::CreateBar(const QString& caption, QLabel*& label, QScrollBar*& bar) {
    auto* panel = new QWidget(BarPanel);
    label = new QLabel(caption, panel);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    bar = new QScrollBar(Qt::Horizontal, panel);
    bar->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(label);
    layout->addWidget(bar, 1);
    return panel;
}

void TMainForm::CreateMenus() {
    TPlayback& playback = *playback_;
    LyricsSiteAItem = AddMenuItem(kLyricsSiteAName, kLyricsSiteAShortCut, [this] {
        OpenLyricsPage([](const TAudioFileInfo& info) { return LyricsSiteAUrl(info); });
    });
    LyricsSiteBItem = AddMenuItem(kLyricsSiteBName, kLyricsSiteBShortCut, [this] {
        OpenLyricsPage([](const TAudioFileInfo& info) { return LyricsSiteBUrl(info); });
    });
    // "*ALL*" stands for many songs, with no one artist to look up.
    connect(PlayFileList, &QListWidget::itemSelectionChanged, this, [this] {
        const QListWidgetItem* entry = playList_->SelectedEntry();
        const bool oneSong = entry == nullptr || !playList_->EntryPath(*entry).IsEmpty();
        LyricsSiteAItem->setEnabled(oneSong);
        LyricsSiteBItem->setEnabled(oneSong);
    });
    GetLyricsMenu->addSeparator();
    Play1 = AddMenuItem("Play", scCtrl | 'P', [&playback] { playback.PlayBtnClick(); });
    Stop1 = AddMenuItem("Stop", scCtrl | 'S', [&playback] { playback.StopBtnClick(); });
    Pause1 = AddMenuItem("Pause", scCtrl | 'E', [&playback] { playback.PauseBtnClick(); });
    Next1 = AddMenuItem("Next", scCtrl | 'N', [&playback] { playback.NextBtnClick(); });
    Prev1 = AddMenuItem("Prev", scCtrl | 'B', [&playback] { playback.PrevBtnClick(); });
    UpVolume = AddMenuItem("Volume +", scCtrl | 'U', [&playback] { playback.UpVolumeClick(); });
    DownVolume = AddMenuItem("Volume -", scCtrl | 'D', [&playback] { playback.DownVolumeClick(); });
    OpenDirectory =
        AddMenuItem("Open Dir", scCtrl | 'O', [this] { library_->OpenDirectoryClick(); });
    for (QWidget* control :
         {static_cast<QWidget*>(CommandEdit), static_cast<QWidget*>(PlayFileList)}) {
        control->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(control, &QWidget::customContextMenuRequested, this,
                [this, control](QPoint at) { GetLyricsMenu->popup(control->mapToGlobal(at)); });
    }
}

QAction* TMainForm::AddMenuItem(const QString& caption, TShortCut shortCut,
                                std::function<void()> click) {
    QAction* item = GetLyricsMenu->addAction(caption);
    item->setShortcut(QKeySequence(ShortCutToText(shortCut)));
    // The menu's short-cuts work while the command box or the play list has the focus.
    item->setShortcutContext(Qt::WidgetShortcut);
    CommandEdit->addAction(item);
    PlayFileList->addAction(item);
    connect(item, &QAction::triggered, this, std::move(click));
    return item;
}

void TMainForm::OpenLyricsPage(std::string (*address)(const TAudioFileInfo&)) {
    const QListWidgetItem* entry = playList_->SelectedEntry();
    if (!entry) return;
    TAudioFileInfo info;
    ReadItemInfo(entry, info);
    const std::string url = address(info);
    if (url.empty())
        desktop_->ShowNotice(kNoLyricsSiteAAddress);
    else
        ShellOpen(url);
}

void TMainForm::OpenUris(const QStringList& uris) {
    const TOpenTargets targets = SortOpenTargets(uris);
    if (!targets.Folder.IsEmpty()) {
        library_->ShowFolderAddingRoot(targets.Folder);
        playback_->OpenFolder(targets.Folder, true);
    } else if (!targets.Files.empty()) {
        playback_->OpenFiles(targets.Files);
    }
    if (!targets.Refused.isEmpty())
        desktop_->ShowNotice("cannot open: " + targets.Refused.join(", "));
    desktop_->ShowWindow();
}

void TMainForm::OpenFolder(bool recursive) {
    playback_->OpenFolder(library_->SelectedFolder(), recursive);
}

void TMainForm::SendListBtnClick() {
    playback_->SendModeChanged();
    playList_->Fill(library_->SelectedFolder(), false, SendListBtn->isChecked());
    RepeatAllBtn->setEnabled(!SendListBtn->isChecked());
    RandomBtn->setEnabled(!SendListBtn->isChecked());
}

void TMainForm::ShowNowPlaying(const QString& text, bool paused) {
    const QString caption = text.isEmpty() ? programCaption_ : text;
    // Qt adds the application's display name to every title that does not end with it; the
    // same text in both keeps the caption as it is.
    QGuiApplication::setApplicationDisplayName(caption);
    setWindowTitle(caption);
    desktop_->SetNowPlaying(text, paused);
    // The cover shows once the song's tags are read.
    const std::string& heard = MP3Player->HeardFileName();
    if (!text.isEmpty() && !heard.empty()) desktop_->SongTags().Of(heard);
    ShowCoverArt();
}

void TMainForm::ShowCoverArt() {
    const QImage& cover = desktop_->SongTags().Cover();
    if (!showCoverArt_ || playback_->NowPlayingText().isEmpty() || cover.isNull()) {
        CoverArt->clear();
        CoverArt->hide();
        return;
    }
    CoverArt->setPixmap(QPixmap::fromImage(
        cover.scaled(kCoverArtSide, kCoverArtSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    CoverArt->show();
}

void TMainForm::PlaceStoredWindow(const TFormSettings& settings) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->size() : QSize(0, 0);
    const QRect stored(settings.WindowLeft, settings.WindowTop,
                       std::clamp(settings.WindowWidth, 1, kLargestWindowSide),
                       std::clamp(settings.WindowHeight, 1, kLargestWindowSide));
    const QRect fitted = FitToScreen(stored, screenSize);
    move(fitted.topLeft());
    resize(fitted.size());
}

void TMainForm::TakeGainAndCoverSettings(const TFormSettings& settings) {
    showCoverArt_ = settings.ShowCoverArt;
    replayGainChoice_ = settings.ReplayGain;
    replayGain_.Preamp = settings.ReplayGainPreamp;
    replayGain_.UntaggedPreamp = settings.ReplayGainUntaggedPreamp;
    replayGain_.PreventClipping = settings.ReplayGainPreventClipping;
    ApplyReplayGain();
    ShowCoverArt();
}

void TMainForm::LoadSettings(const TFormSettings& settings) {
    if (settings.WindowSized)
        PlaceStoredWindow(settings);
    else
        PlaceFirstWindow();
    ApplyTagCodePage(settings.TagCodePage);
    ApplyWindowAlpha(settings.WindowAlpha);
    RepeatAllBtn->setChecked(settings.RepeatAll);
    RandomBtn->setChecked(settings.Random);
    MP3Player->SetVolume(settings.Volume);
    VolBar->setValue(MP3Player->Volume());
    TakeGainAndCoverSettings(settings);
    connect(RandomBtn, &QToolButton::toggled, this, [this] { ApplyReplayGain(); });
    for (const TFilePath& root : settings.Roots)
        library_->AddRoot(root);
    fileListWidth_ = settings.FileListWidth;
    desktop_->SetHotKeys(settings.ShowHotKey, settings.VolumeUpHotKey, settings.VolumeDownHotKey);
    SendListBtn->setChecked(settings.SendList);
    SendListBtnClick();

    // Where the user was: the folder once the tree is scanned, the list with its song waiting.
    library_->RestoreFolder(settings.Folder);
    connect(playList_.get(), &TPlayList::AboutToRefill, this, [this] { listRestored_ = true; });
    listRestored_ = settings.PlayList.empty();
    playback_->Restore(settings.PlayList, settings.Song, settings.PositionMs, settings.Resume);

    settings_->Bind([this](TFormSettings& now) { CollectSettings(now); });
    // From now on every change worth keeping is written soon, not only at the close.
    TSettingsBinding* binding = settings_.get();
    const auto changed = [binding] { binding->Changed(); };
    connect(VolBar, &QScrollBar::valueChanged, binding, changed);
    for (QToolButton* toggle : {RepeatAllBtn, RandomBtn, SendListBtn})
        connect(toggle, &QToolButton::toggled, binding, changed);
    connect(library_.get(), &TLibraryTree::RootsChanged, binding, changed);
    connect(playList_.get(), &TPlayList::Changed, binding, changed);
    connect(Splitter1, &QSplitter::splitterMoved, binding, changed);
    connect(binding, &TSettingsBinding::SaveFailed, desktop_.get(), [this](const QString& reason) {
        desktop_->ShowNotice("settings not saved: " + reason);
    });
    settingsBound_ = true;
}

void TMainForm::PlaceFirstWindow() {
    // About twenty songs high at the font the window has, centred where the desktop leaves room.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const int row = QFontMetrics(PlayFileList->font()).height() + 4;
    const int height = Panel1->height() + kFirstWindowRows * row + Panel6->height() + 4;
    const int width = fontMetrics().averageCharWidth() * kFirstWindowColumns;
    const QSize size(std::min(width, available.width() * 9 / 10),
                     std::min(height, available.height() * 9 / 10));
    resize(size);
    move(available.center() - QPoint(size.width() / 2, size.height() / 2));
}

void TMainForm::ApplyTagCodePage(const QString& codePage) {
    if (SetTagCodePage(codePage.toStdString())) return;
    desktop_->ShowNotice(settings_->File() + ": tag_code_page: no code page \"" + codePage +
                         "\"; reading ISO-8859-1");
}

void TMainForm::ApplyWindowAlpha(int alpha) {
    windowAlpha_ = alpha;
    setWindowOpacity(alpha < 255 ? alpha / 255.0 : 1.0);
}

void TMainForm::TakeChangedSettings(const TFormSettings& file) {
    const std::vector<TFilePath> roots = library_->RootPaths();
    const auto holds = [](const std::vector<TFilePath>& list, const TFilePath& root) {
        return std::find(list.begin(), list.end(), root) != list.end();
    };
    for (const TFilePath& root : roots)
        if (!holds(file.Roots, root)) library_->ForgetRoot(root);
    // Scanned by the reload that follows.
    for (const TFilePath& root : file.Roots)
        if (!holds(roots, root)) library_->AddRoot(root);
    const QRect placed(file.WindowLeft, file.WindowTop, file.WindowWidth, file.WindowHeight);
    if (file.WindowSized && placed != QRect(x(), y(), width(), height())) PlaceStoredWindow(file);
    TakeGainAndCoverSettings(file);
    if (file.TagCodePage.toStdString() != TagCodePage()) ApplyTagCodePage(file.TagCodePage);
    ApplyWindowAlpha(file.WindowAlpha);
    RepeatAllBtn->setChecked(file.RepeatAll);
    RandomBtn->setChecked(file.Random);
    if (file.Volume != VolBar->value()) playback_->SetVolumePercent(file.Volume);
    if (file.ShowHotKey != desktop_->ShowHotKey() ||
        file.VolumeUpHotKey != desktop_->VolumeUpHotKey() ||
        file.VolumeDownHotKey != desktop_->VolumeDownHotKey())
        desktop_->SetHotKeys(file.ShowHotKey, file.VolumeUpHotKey, file.VolumeDownHotKey);
    if (file.SendList != SendListBtn->isChecked()) SendListBtn->click();
    if (file.FileListWidth > 0 && file.FileListWidth != PlayFileList->width()) {
        const int total = Splitter1->width() - Splitter1->handleWidth();
        Splitter1->setSizes({std::max(total - file.FileListWidth, 0), file.FileListWidth});
    }
}

void TMainForm::ApplyReplayGain() {
    switch (replayGainChoice_) {
    case TReplayGainChoice::Off:
        replayGain_.Mode = TReplayGainMode::Off;
        break;
    case TReplayGainChoice::Track:
        replayGain_.Mode = TReplayGainMode::Track;
        break;
    case TReplayGainChoice::Album:
        replayGain_.Mode = TReplayGainMode::Album;
        break;
    case TReplayGainChoice::Auto:
        replayGain_.Mode = RandomBtn->isChecked() ? TReplayGainMode::Track : TReplayGainMode::Album;
        break;
    }
    MP3Player->SetReplayGain(replayGain_);
}

void TMainForm::CollectSettings(TFormSettings& settings) const {
    settings.WindowLeft = x();
    settings.WindowTop = y();
    settings.WindowWidth = width();
    settings.WindowHeight = height();
    settings.WindowAlpha = windowAlpha_;
    settings.ShowHotKey = desktop_->ShowHotKey();
    settings.VolumeUpHotKey = desktop_->VolumeUpHotKey();
    settings.VolumeDownHotKey = desktop_->VolumeDownHotKey();
    settings.RepeatAll = RepeatAllBtn->isChecked();
    settings.Random = RandomBtn->isChecked();
    settings.Volume = MP3Player->Volume();
    settings.Roots = library_->RootPaths();
    // Until the window has been laid out the list has no width of its own yet.
    settings.FileListWidth = fileListWidthApplied_ ? PlayFileList->width() : fileListWidth_;
    settings.SendList = SendListBtn->isChecked();
    // Nothing selected (the tree not scanned yet, or two roots): the folder stays as it was.
    if (const TFilePath folder = library_->SelectedFolder(); !folder.IsEmpty())
        settings.Folder = folder.WithoutTrailingSlash();
    // Until the list is back, the one in the file is the one to keep.
    if (!listRestored_) return;
    settings.PlayList = playList_->Files();
    const int current = playList_->CurrentIndex();
    const QListWidgetItem* entry = current >= 0 ? playList_->Entry(current) : nullptr;
    settings.Song = entry ? playList_->EntryPath(*entry) : TFilePath();
    settings.PositionMs = entry && settings.Song.StdString() == MP3Player->HeardFileName()
                              ? playback_->PositionMs()
                              : 0;
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (fileListWidthApplied_) return;
    fileListWidthApplied_ = true;
    const int total = Splitter1->width() - Splitter1->handleWidth();
    // Without a width of its own the play list has half of the room.
    const int listWidth = fileListWidth_ > 0 ? fileListWidth_ : total / 2;
    Splitter1->setSizes({std::max(total - listWidth, 0), listWidth});
}

void TMainForm::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (treeBuilt_) return;
    treeBuilt_ = true;
    // Scanning runs once this paint is done, so the window is on screen beneath the loading
    // panel while the roots are read.
    QMetaObject::invokeMethod(library_.get(), &TLibraryTree::BuildTree, Qt::QueuedConnection);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
    if (settingsBound_) settings_->Changed();
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (settingsBound_) settings_->Changed();
}

void TMainForm::FormResize() {
    const int panelWidth = (width() / 3) * 2;
    LoadingPanel->setGeometry((width() - panelWidth) / 2, (height() - LoadingPanel->height()) / 2,
                              panelWidth, LoadingPanel->height());
}

void TMainForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        desktop_->WindowStateChanged(static_cast<const QWindowStateChangeEvent&>(*event));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!event->isAccepted()) return;
    // Written while everything still stands: the box about a file that cannot be written runs
    // an event loop, in which MPRIS, the tray and the hot keys go on calling.
    QString error;
    if (!settings_->Save(&error)) QMessageBox::critical(this, "pelbrisk", error);
    desktop_->WindowClosed();
    // Also a close request to the window hidden in the tray ends the program.
    emit Closed();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
    event->acceptProposedAction();
    library_->DropFolders(event->mimeData()->urls());
}

bool TMainForm::IsMenuShortCut(const QKeyEvent& key) const {
    const QKeySequence pressed(key.keyCombination());
    for (const QAction* item : GetLyricsMenu->actions())
        if (!item->shortcut().isEmpty() && item->shortcut() == pressed) return true;
    return false;
}

bool TMainForm::PlayFileListKeyDown(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Backspace) {
        CommandEdit->setFocus();
        return true;
    }
    // Typing belongs in the command box, as from the tree. Keys the box sends here itself
    // (with Shift) arrive while the box has the focus and stay.
    if (IsTypedText(key) && PlayFileList->hasFocus()) {
        CommandEdit->setFocus();
        PostKey(CommandEdit, key);
        return true;
    }
    return playList_->KeyDown(key);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Pit && event->type() == QEvent::MouseButtonRelease) {
        playback_->PitClick();
        return true;
    }
    // The line edit would keep some Ctrl keys for editing; the menu's short-cuts come first.
    if (event->type() == QEvent::ShortcutOverride &&
        (watched == CommandEdit || watched == PlayFileList))
        return IsMenuShortCut(static_cast<const QKeyEvent&>(*event));
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (watched == DirTree) {
        // Keys in the tree are the command box's, and only the box's: a Down handled by both
        // would move two folders.
        CommandEdit->setFocus();
        PostKey(CommandEdit, key);
        return true;
    }
    if (watched == PlayFileList) return PlayFileListKeyDown(key);
    if (watched == CommandEdit) return commandBox_->CmdEditKeyDown(key);
    return QWidget::eventFilter(watched, event);
}

} // namespace pelbrisk
