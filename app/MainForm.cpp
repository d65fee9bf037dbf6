#include "app/MainForm.h"

#include "app/AudioFileInfo.h"
#include "app/FolderScan.h"
#include "app/GetLyrics.h"
#include "app/HelpText.h"
#include "app/KeyBuffer.h"
#include "app/LibraryWork.h"
#include "info/TextConversion.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>

namespace pelbrisk {

namespace {

constexpr int kLoadingPanelHeight = 41;
// The X protocol's sizes are 16-bit; a settings file may ask for anything.
constexpr int kLargestWindowSide = 32767;

// A tree whose Ctrl+click keeps the selection, so that Ctrl+double-click opens the clicked
// folder recursively instead of deselecting it first.
class TDirTreeView : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override {
        const auto flags = QTreeWidget::selectionCommand(index, event);
        if (flags & QItemSelectionModel::Deselect)
            return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
        return flags;
    }

    // The column is as wide as its longest caption, so that the tree scrolls sideways to it, and
    // never narrower than the view, so that a selected row shows across the whole view.
    int sizeHintForColumn(int column) const override {
        return std::max(QTreeWidget::sizeHintForColumn(column), viewport()->width());
    }
    void resizeEvent(QResizeEvent* event) override {
        QTreeWidget::resizeEvent(event);
        header()->resizeSections(QHeaderView::ResizeToContents);
    }

    // A newcomer's empty window says how music gets in.
    void paintEvent(QPaintEvent* event) override {
        QTreeWidget::paintEvent(event);
        if (topLevelItemCount() > 0) return;
        QPainter painter(viewport());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8),
                         Qt::AlignCenter | Qt::TextWordWrap, kEmptyTreeText);
    }
};

// A menu taller than the screen scrolls in one column instead of spilling over in columns.
class TScrollingMenuStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override {
        if (hint == SH_Menu_Scrollable) return 1;
        return QProxyStyle::styleHint(hint, option, widget, answer);
    }
};

// Keeps the selection's colour when the control loses the focus.
void KeepSelectionVisible(QWidget* control) {
    QPalette palette = control->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    control->setPalette(palette);
}

QToolButton* CreateSpeedButton(QWidget* parent, int left, int top, const QString& caption,
                               const QString& hint, bool toggle) {
    auto* button = new QToolButton(parent);
    button->setGeometry(left, top, 19, 18);
    button->setText(caption);
    button->setToolTip(hint);
    button->setCheckable(toggle);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

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

QString MenuCaption(QString caption) {
    return caption.replace('&', "&&");
}

} // namespace

TMainForm::TMainForm(const QString& settingsFile, QWidget* parent)
    : QWidget(parent), settingsFile_(settingsFile.isEmpty()
                                         ? SettingsFilePath(QCoreApplication::applicationFilePath())
                                         : settingsFile) {
    CreateControls();
    setAcceptDrops(true);
    setWindowTitle(windowTitle() + " - ver." + "050228");
    programCaption_ = windowTitle();
    // Error boxes and the icon's menu are windows too, and this one may be hidden in the tray:
    // only its own close ends the program (see Closed).
    QGuiApplication::setQuitOnLastWindowClosed(false);
    currentIndex_ = -1;
    random_.seed(static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now().time_since_epoch())
                                           .count()));
    LoadSettings();
}

TMainForm::~TMainForm() {
    // The workers end before what their work uses goes.
    CancelLibraryWork();
    libraryWorker_.reset();
    remoteWorker_.reset();
    SaveSettings();
    // MPRIS calls must not reach a window that is going away.
    Mpris.reset();
    // The player's threads end here, while the window they report to still stands.
    MP3Player.reset();
}

void TMainForm::CreateControls() {
    setWindowTitle("pelbrisk");
    setWindowIcon(ProgramIcon());
    QFont formFont("Noto Sans Mono CJK JP");
    formFont.setStyleHint(QFont::TypeWriter);
    formFont.setPixelSize(12);
    setFont(formFont);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(CreateCommandPanel());
    focusKeeper_ = new TFocusKeeper(*this, *CommandEdit);
    layout->addWidget(CreateBrowserPanel(), 1);
    layout->addWidget(CreateButtonPanel());

    LoadingPanel = new QLabel("読み込み中", this);
    LoadingPanel->setAlignment(Qt::AlignCenter);
    LoadingPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    LoadingPanel->setAutoFillBackground(true);
    LoadingPanel->resize(LoadingPanel->width(), kLoadingPanelHeight);
    // The panel is shown while the window is disabled; its caption must stay readable.
    QPalette loadingPalette = LoadingPanel->palette();
    loadingPalette.setColor(QPalette::Disabled, QPalette::WindowText,
                            loadingPalette.color(QPalette::Active, QPalette::WindowText));
    LoadingPanel->setPalette(loadingPalette);
    LoadingPanel->hide();
    libraryWorker_ = std::make_unique<TWorkerThread>();
    remoteWorker_ = std::make_unique<TWorkerThread>();
    loadingTimer_ = new QTimer(this);
    loadingTimer_->setInterval(100);
    connect(loadingTimer_, &QTimer::timeout, this, &TMainForm::ShowLoadingProgress);
    keyBuffer_ = new TKeyBuffer(
        this, [this] { return LibraryBusy(); }, [this] { CancelLibraryWork(); });

    CreateMenus();
    SetApplicationExceptionDisplay(
        [owner = QPointer<QWidget>(this)](const std::exception_ptr& error) {
            ShowErrorBox(owner, error);
        });
    CreatePlayer();
    UseAudioDeviceOfEnvironment();
    RemotePlayers = MakeNativeRemotePlayerTransport();
    MprisPlayers = std::make_unique<TMprisClient>();
    OtherApp = std::make_unique<TOtherAppCtrl>(*RemotePlayers, MprisPlayers.get());

    TrayIcon =
        new TTrayIcon({.Show = [this] { ShowWindow(); },
                       .Hide = [this] { HideToTray(); },
                       .WindowShown = [this] { return !inTray_ && isVisible(); },
                       .PlayPause =
                           [this] {
                               if (MP3Player->Status() == mpsStopped && !SendListBtn->isChecked())
                                   PlayBtnClick();
                               else
                                   PauseBtnClick();
                           },
                       .Next = [this] { NextBtnClick(); },
                       .Back = [this] { PrevBtnClick(); },
                       .Quit = [this] { close(); }},
                      this);
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    // The icon stays while the program runs: a tray host that gets a fresh icon at every
    // minimise may still be embedding it when the user clicks.
    if (TrayAvailable()) TrayIcon->show();
    HotKeys = std::make_unique<THotKeys>([this](int id) { WMHotKey(id); });
    PublishMpris(QDBusConnection::sessionBus());
}

void TMainForm::CreatePlayer() {
    MP3Player = std::make_unique<TMP3Player>();
    MP3Player->BeginLoading();
    MP3Player->SetAutoOpen(true);
    MP3Player->SetAutoPlay(true);
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
    MP3Player->OnChangeStatus = [this](void*) { MP3PlayerChangeStatus(); };
    MP3Player->OnChangePosition = [this](void*) { MP3PlayerChangePosition(); };
    MP3Player->OnEndPlay = [this](void*, TMP3EndPlayReason reason) { MP3PlayerEndPlay(reason); };
}

void TMainForm::UseAudioDeviceOfEnvironment() {
    const QPointer<TMainForm> form(this);
    SetAudioNoticeDisplay([form](const std::string& text) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [form, text] {
                if (form) form->ShowNotice(QString::fromStdString(text));
            },
            Qt::QueuedConnection);
    });
    if (const std::optional<int32_t> device = AudioDeviceFromEnvironment())
        MP3Player->SetDeviceID(*device);
    else
        ShowNotice("PELBRISK_AUDIO names no sound device (null, default or a number): "
                   "playing on the default device");
}

void TMainForm::ShowNotice(const QString& text) {
    lastNotice_ = text;
    if (inTray_) {
        TrayIcon->showMessage("pelbrisk", text, QSystemTrayIcon::Information);
        return;
    }
    if (noticeLine_ == nullptr) {
        noticeLine_ = new QLabel(this);
        noticeLine_->setWordWrap(true);
        layout()->addWidget(noticeLine_);
    }
    noticeLine_->setText(text);
    noticeLine_->show();
}

void TMainForm::ReportErrors(const std::function<void()>& operation) {
    try {
        operation();
    } catch (...) {
        ShowApplicationException(std::current_exception());
    }
}

QWidget* TMainForm::CreateCommandPanel() {
    Panel1 = new QWidget(this);
    Panel1->setFixedHeight(20);
    CommandEdit = new QLineEdit(Panel1);
    CommandEdit->setAcceptDrops(false);
    CommandEdit->setPlaceholderText(kCommandBoxPlaceholder);
    CommandEdit->installEventFilter(this);
    connect(CommandEdit, &QLineEdit::textChanged, this, &TMainForm::CmdEditChange);
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
    DirTree->setHeaderHidden(true);
    DirTree->setColumnCount(1);
    DirTree->setIndentation(19);
    DirTree->setFocusPolicy(Qt::ClickFocus);
    DirTree->setToolTip("Directory tree");
    DirTree->setContextMenuPolicy(Qt::CustomContextMenu);
    DirTree->setUniformRowHeights(true);
    // A long folder name is read by scrolling sideways rather than cut short.
    DirTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    DirTree->header()->setStretchLastSection(false);
    DirTree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
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

    // Growing the window widens the tree; the play list keeps its width.
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);

    auto* layout = new QHBoxLayout(Panel2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Splitter1);

    connect(DirTree, &QTreeWidget::currentItemChanged, this, &TMainForm::DirTreeChange);
    // Expanding or collapsing keeps the selected folder in view as well.
    connect(DirTree, &QTreeWidget::itemExpanded, this, &TMainForm::DirTreeChange);
    connect(DirTree, &QTreeWidget::itemCollapsed, this, &TMainForm::DirTreeCollapsed);
    connect(DirTree, &QTreeWidget::itemDoubleClicked, this, &TMainForm::DirTreeDblClick);
    connect(PlayFileList, &QListWidget::itemDoubleClicked, this, &TMainForm::PlaySelected);
    return Panel2;
}

QWidget* TMainForm::CreateButtonPanel() {
    Panel6 = new QWidget(this);
    Panel6->setFixedHeight(36);
    Panel7 = new QWidget(Panel6);
    Panel7->setFixedWidth(104);
    PrevBtn = CreateSpeedButton(Panel7, 0, 0, "<l", "Prev", false);
    StopBtn = CreateSpeedButton(Panel7, 19, 0, "[]", "Stop", false);
    // Down while paused, so that a pause shows.
    PauseBtn = CreateSpeedButton(Panel7, 38, 0, "ll", "Pause", true);
    PlayBtn = CreateSpeedButton(Panel7, 57, 0, ">", "Play", false);
    NextBtn = CreateSpeedButton(Panel7, 76, 0, "l>", "Next", false);
    RepeatAllBtn = CreateSpeedButton(Panel7, 0, 18, "廻", "Repeat all", true);
    RandomBtn = CreateSpeedButton(Panel7, 19, 18, "乱", "Random", true);
    SendListBtn = CreateSpeedButton(Panel7, 38, 18, "送", "Send to MPRIS players", true);
    Bevel1 = new QFrame(Panel7);
    Bevel1->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    Bevel1->setGeometry(98, 0, 2, 35);
    connect(SendListBtn, &QToolButton::clicked, this, &TMainForm::SendListBtnClick);
    connect(PrevBtn, &QToolButton::clicked, this, &TMainForm::PrevBtnClick);
    connect(StopBtn, &QToolButton::clicked, this, &TMainForm::StopBtnClick);
    connect(PauseBtn, &QToolButton::clicked, this, &TMainForm::PauseBtnClick);
    connect(PlayBtn, &QToolButton::clicked, this, &TMainForm::PlayBtnClick);
    connect(NextBtn, &QToolButton::clicked, this, &TMainForm::NextBtnClick);
    for (QToolButton* toggle : {RepeatAllBtn, RandomBtn})
        connect(toggle, &QToolButton::toggled, this, [this] {
            if (Mpris) Mpris->Refresh();
        });

    BarPanel = new QWidget(Panel6);
    auto* bars = new QVBoxLayout(BarPanel);
    bars->setContentsMargins(0, 0, 0, 0);
    bars->setSpacing(0);
    bars->addWidget(PitPanel = CreateBar("Pit ", Pit, PitchBar));
    bars->addWidget(PosPanel = CreateBar("Pos ", Label1, PosBar));
    bars->addWidget(VolPanel = CreateBar("Vol ", Label2, VolBar));
    Pit->setToolTip("Pitch");
    Pit->setCursor(Qt::PointingHandCursor);
    PitchBar->setRange(20, 200);
    PitchBar->setValue(100);
    PosBar->setToolTip("Seek");
    PosBar->setPageStep(kSeekStepMs);
    PosBar->setSingleStep(kSeekStepMs);
    PosTime = new QLabel(PosPanel);
    PosTime->setFont(Label1->font());
    PosTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    PosTime->setContentsMargins(4, 0, 2, 0);
    PosTime->setMinimumWidth(PosTime->fontMetrics().horizontalAdvance("0:00:00/0:00:00") + 4);
    PosPanel->layout()->addWidget(PosTime);
    VolBar->setRange(0, 100);
    VolBar->setValue(100);
    VolBar->setToolTip("Volume");
    VolBar->setPageStep(10);
    ConnectBar(PitchBar, &TMainForm::PitchBarScroll);
    ConnectBar(PosBar, &TMainForm::PosBarScroll);
    ConnectBar(VolBar, &TMainForm::VolBarScroll);
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
    panel->setFixedHeight(12);
    label = new QLabel(caption, panel);
    label->setFixedWidth(24);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The CJK font's line is taller than the 12-pixel bar; a smaller size keeps the text whole.
    QFont labelFont = label->font();
    labelFont.setPixelSize(10);
    label->setFont(labelFont);
    bar = new QScrollBar(Qt::Horizontal, panel);
    bar->setFixedHeight(12);
    bar->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(label);
    layout->addWidget(bar, 1);
    return panel;
}

void TMainForm::CreateMenus() {
    DirFileListMenu = new QMenu(this);
    auto* menuStyle = new TScrollingMenuStyle;
    menuStyle->setParent(DirFileListMenu);
    DirFileListMenu->setStyle(menuStyle);
    connect(DirFileListMenu, &QMenu::aboutToShow, this, &TMainForm::DirFileListMenuPopup);
    connect(DirTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        DirFileListMenu->popup(DirTree->viewport()->mapToGlobal(at));
    });

    GetLyricsMenu = new QMenu(this);
    LyricsSiteAItem =
        AddMenuItem(kLyricsSiteAName, kLyricsSiteAShortCut, &TMainForm::LyricsSiteAItemClick);
    LyricsSiteBItem =
        AddMenuItem(kLyricsSiteBName, kLyricsSiteBShortCut, &TMainForm::LyricsSiteBItemClick);
    GetLyricsMenu->addSeparator();
    Play1 = AddMenuItem("Play", scCtrl | 'P', &TMainForm::PlayBtnClick);
    Stop1 = AddMenuItem("Stop", scCtrl | 'S', &TMainForm::StopBtnClick);
    Pause1 = AddMenuItem("Pause", scCtrl | 'E', &TMainForm::PauseBtnClick);
    Next1 = AddMenuItem("Next", scCtrl | 'N', &TMainForm::NextBtnClick);
    Prev1 = AddMenuItem("Prev", scCtrl | 'B', &TMainForm::PrevBtnClick);
    UpVolume = AddMenuItem("Volume +", scCtrl | 'U', &TMainForm::UpVolumeClick);
    DownVolume = AddMenuItem("Volume -", scCtrl | 'D', &TMainForm::DownVolumeClick);
    OpenDirectory = AddMenuItem("Open Dir", scCtrl | 'O', &TMainForm::OpenDirectoryClick);
    for (QWidget* control :
         {static_cast<QWidget*>(CommandEdit), static_cast<QWidget*>(PlayFileList)}) {
        control->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(control, &QWidget::customContextMenuRequested, this,
                [this, control](QPoint at) { GetLyricsMenu->popup(control->mapToGlobal(at)); });
    }
}

QAction* TMainForm::AddMenuItem(const QString& caption, TShortCut shortCut,
                                void (TMainForm::*click)()) {
    QAction* item = GetLyricsMenu->addAction(caption);
    item->setShortcut(QKeySequence(ShortCutToText(shortCut)));
    // The menu's short-cuts work while the command box or the play list has the focus.
    item->setShortcutContext(Qt::WidgetShortcut);
    CommandEdit->addAction(item);
    PlayFileList->addAction(item);
    connect(item, &QAction::triggered, this, click);
    return item;
}

void TMainForm::LoadSettings() {
    TFormSettings settings;
    LoadSettingsFile(settingsFile_, settings);

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->size() : QSize(0, 0);
    const QRect stored(settings.WindowLeft, settings.WindowTop,
                       std::clamp(settings.WindowWidth, 1, kLargestWindowSide),
                       std::clamp(settings.WindowHeight, 1, kLargestWindowSide));
    const QRect fitted = FitToScreen(stored, screenSize);
    move(fitted.topLeft());
    resize(fitted.size());

    tagCodePage_ = settings.TagCodePage;
    SetTagCodePage(tagCodePage_.toStdString()); // an unknown one leaves ISO-8859-1
    windowAlpha_ = settings.WindowAlpha;
    if (settings.Transparent()) setWindowOpacity(windowAlpha_ / 255.0);

    showHotKey_ = settings.ShowHotKey;
    volumeUpHotKey_ = settings.VolumeUpHotKey;
    volumeDownHotKey_ = settings.VolumeDownHotKey;
    RepeatAllBtn->setChecked(settings.RepeatAll);
    RandomBtn->setChecked(settings.Random);
    MP3Player->SetVolume(settings.Volume);
    VolBar->setValue(MP3Player->Volume());
    for (const QString& root : settings.Roots)
        AddRoot(root);
    fileListWidth_ = settings.FileListWidth;
    RegisterHotKeys();
    SendListBtn->setChecked(settings.SendList);
    SendListBtnClick();
}

void TMainForm::SaveSettings() {
    TFormSettings settings;
    settings.WindowLeft = x();
    settings.WindowTop = y();
    settings.WindowWidth = width();
    settings.WindowHeight = height();
    settings.WindowAlpha = windowAlpha_;
    settings.ShowHotKey = showHotKey_;
    settings.VolumeUpHotKey = volumeUpHotKey_;
    settings.VolumeDownHotKey = volumeDownHotKey_;
    settings.RepeatAll = RepeatAllBtn->isChecked();
    settings.Random = RandomBtn->isChecked();
    settings.Volume = MP3Player->Volume();
    for (int i = 0; i < rootNodes_.Count(); ++i)
        settings.Roots.append(rootNodes_.Items(i)->data(0, kRootPathRole).toString());
    // Until the window has been laid out the list has no width of its own yet.
    settings.FileListWidth = fileListWidthApplied_ ? PlayFileList->width() : fileListWidth_;
    settings.SendList = SendListBtn->isChecked();
    settings.TagCodePage = tagCodePage_;

    QString error;
    if (!SaveSettingsFile(settingsFile_, settings, &error))
        QMessageBox::critical(nullptr, "pelbrisk", error);
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (fileListWidthApplied_) return;
    fileListWidthApplied_ = true;
    const int total = Splitter1->width() - Splitter1->handleWidth();
    Splitter1->setSizes({std::max(total - fileListWidth_, 0), fileListWidth_});
}

void TMainForm::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (treeBuilt_) return;
    treeBuilt_ = true;
    // Scanning runs once this paint is done, so the window is on screen beneath the loading
    // panel while the roots are read.
    QMetaObject::invokeMethod(this, &TMainForm::BuildTree, Qt::QueuedConnection);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TMainForm::FormResize() {
    const int panelWidth = (width() / 3) * 2;
    LoadingPanel->setGeometry((width() - panelWidth) / 2, (height() - LoadingPanel->height()) / 2,
                              panelWidth, LoadingPanel->height());
}

void TMainForm::ShowLoading() {
    focusKeeper_->Hold();
    setEnabled(false);
    LoadingPanel->setText("読み込み中");
    LoadingPanel->raise();
    LoadingPanel->show();
}

void TMainForm::HideLoading() {
    LoadingPanel->hide();
    setEnabled(true);
    focusKeeper_->GiveBack();
}

QTreeWidgetItem* TMainForm::AddRoot(const QString& path) {
    auto* node = new TDirNode(DirTree, QStringList{RootCaption(path)});
    node->setData(0, kRootPathRole, path);
    return rootNodes_.Add(node);
}

void TMainForm::BuildTree() {
    QueueLibraryJob([this] { ScanRoots(false); });
}

void TMainForm::ReloadTree() {
    QueueLibraryJob([this] { ScanRoots(true); });
}

// A reload scans every root, a build only the roots without folders; the tree keeps its nodes
// until the scan is whole, so a cancelled scan leaves it as it was.
void TMainForm::ScanRoots(bool reload) {
    std::vector<QTreeWidgetItem*> roots;
    QStringList paths;
    for (int i = 0; i < rootNodes_.Count(); ++i) {
        QTreeWidgetItem* root = rootNodes_.Items(i);
        if (!reload && root->childCount() > 0) continue;
        roots.push_back(root);
        paths.append(root->data(0, kRootPathRole).toString());
    }
    std::optional<TTreePlace> place;
    if (reload) place = TTreePlace::Take(*DirTree);
    if (paths.isEmpty()) {
        // Nothing to read: the sort and the selection need no worker.
        ShowLoading();
        std::vector<TScannedRoot> none;
        TreeScanned(roots, none, false);
        HideLoading();
        return;
    }
    StartLibraryWork("folders", [this, roots, paths, place](TScanProgress& progress) {
        auto scanned =
            std::make_shared<std::vector<TScannedRoot>>(ScanRootFolders(paths, progress));
        return [this, roots, scanned, place] {
            placeAfterScan_ = place;
            TreeScanned(roots, *scanned, place.has_value());
        };
    });
}

void TMainForm::TreeScanned(const std::vector<QTreeWidgetItem*>& roots,
                            std::vector<TScannedRoot>& scanned, bool reload) {
    DirTree->setUpdatesEnabled(false);
    if (reload) {
        QList<QTreeWidgetItem*> old;
        for (int i = 0; i < rootNodes_.Count(); ++i)
            old += rootNodes_.Items(i)->takeChildren();
        // Freeing a large tree takes a while; nodes of no tree may go on any thread.
        libraryWorker_->Post([old] { qDeleteAll(old); });
    }
    for (std::size_t i = 0; i < roots.size(); ++i) {
        // A root removed while it was scanned gets nothing.
        if (!rootNodes_.Contains(roots[i]) || roots[i]->childCount() > 0) continue;
        roots[i]->addChildren(scanned[i].Holder->takeChildren());
    }
    DirTree->setUpdatesEnabled(true);
    AfterScan();
}

void TMainForm::AfterScan() {
    // The scanned levels came sorted; a new root has yet to find its place among the others.
    DirTree->invisibleRootItem()->sortChildren(0, Qt::AscendingOrder);
    // After a reload the user's place is found again; the first folder is taken only when it
    // is gone, and only from the sorted tree.
    std::optional<TTreePlace> place;
    place.swap(placeAfterScan_);
    if (place && place->Restore(*DirTree)) return;
    if (rootNodes_.Count() == 1) {
        QTreeWidgetItem* root = rootNodes_.Items(0);
        if (root->childCount() > 0) DirTree->setCurrentItem(root->child(0));
    }
}

void TMainForm::RemoveRoot(QTreeWidgetItem* node) {
    if (!rootNodes_.Contains(node)) return;
    // One key too many must not drop a music folder: Enter answers No.
    if (QMessageBox::question(this, "pelbrisk", "remove?", QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    rootNodes_.Remove(node);
    delete node;
}

void TMainForm::FillPlayList(bool recursive, std::function<void()> afterRefill,
                             const QString& folder) {
    QueueLibraryJob([this, recursive, afterRefill, folder] {
        const QTreeWidgetItem* node = DirTree->currentItem();
        // Without a folder there is nothing to list (the send-list toggle refills at start-up,
        // before the tree is scanned).
        if (folder.isEmpty() && !node) return;
        const QString path = folder.isEmpty() ? NodeFolderPath(node) : folder;
        const bool everyFile = SendListBtn->isChecked();
        StartLibraryWork("files", [=, this](TScanProgress& progress) -> std::function<void()> {
            auto listed = std::make_shared<TListedFiles>(
                ListPlayListFiles(path, recursive, everyFile, progress));
            if (!listed->Listed) return {};
            return [=, this] {
                PlayListListed(*listed, everyFile);
                if (afterRefill) afterRefill();
            };
        });
    });
}

void TMainForm::PlayListListed(const TListedFiles& listed, bool everyFile) {
    if (MP3Player->Status() != mpsStopped) ReportErrors([this] { MP3Player->Stop(); });
    PlayFileList->setUpdatesEnabled(false);
    PlayFileList->clear();
    for (qsizetype i = 0; i < listed.Paths.size(); ++i) {
        auto* entry = new QListWidgetItem(listed.Captions[i]);
        entry->setData(kEntryPathRole, listed.Paths[i]);
        PlayFileList->addItem(entry);
    }
    if (everyFile) {
        auto* all = new QListWidgetItem("*ALL*");
        all->setData(kEntryPathRole,
                     listed.Paths.join("\r\n") + (listed.Paths.isEmpty() ? "" : "\r\n"));
        PlayFileList->insertItem(0, all);
    }
    PlayFileList->setUpdatesEnabled(true);
    currentIndex_ = -1;
    randomHistory_.Clear();
    SelectNext();
}

void TMainForm::OpenFolder(bool recursive) {
    FillPlayList(recursive, [this] {
        if (!SendListBtn->isChecked()) PlaySelected();
    });
}

QListWidgetItem* TMainForm::SelectedEntry() const {
    const auto selected = PlayFileList->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void TMainForm::SendListBtnClick() {
    FillPlayList(false);
    RepeatAllBtn->setEnabled(!SendListBtn->isChecked());
    RandomBtn->setEnabled(!SendListBtn->isChecked());
}

void TMainForm::DirFileListMenuPopup() {
    DirFileListMenu->clear();
    const QTreeWidgetItem* node = DirTree->currentItem();
    if (!node) return;
    const QStringList files =
        ListFolderFiles(NodeFolderPath(node), false, SendListBtn->isChecked());
    for (int i = 0; i < files.size(); ++i)
        connect(DirFileListMenu->addAction(MenuCaption(FileCaption(files[i], i))),
                &QAction::triggered, this, [this, i] { PlayEntryOfFolderMenu(i); });
}

void TMainForm::PlayEntryOfFolderMenu(int fileIndex) {
    FillPlayList(false, [this, fileIndex] {
        // The menu lists the folder's files as the play list does, after its "*ALL*" entry.
        const int row = fileIndex + (SendListBtn->isChecked() ? 1 : 0);
        if (row >= PlayFileList->count()) return;
        PlayFileList->setCurrentRow(row);
        PlaySelected();
    });
}

void TMainForm::OpenDirectoryClick() {
    const QTreeWidgetItem* node = DirTree->currentItem();
    if (node) QDesktopServices::openUrl(QUrl::fromLocalFile(NodeFolderPath(node)));
}

void TMainForm::DirTreeChange() {
    if (QTreeWidgetItem* node = DirTree->currentItem()) DirTree->scrollToItem(node);
}

void TMainForm::DirTreeCollapsed(QTreeWidgetItem* node) {
    // Scrolling to a selection hidden inside the collapsed node would open it again.
    QTreeWidgetItem* selected = DirTree->currentItem();
    for (QTreeWidgetItem* at = selected ? selected->parent() : nullptr; at; at = at->parent())
        if (at == node) {
            DirTree->setCurrentItem(node);
            return;
        }
    DirTreeChange();
}

void TMainForm::DirTreeDblClick() {
    OpenFolder(QApplication::queryKeyboardModifiers() & Qt::ControlModifier);
}

void TMainForm::DirTreeKeyDown(const QKeyEvent& key) {
    CommandEdit->setFocus();
    QCoreApplication::postEvent(CommandEdit,
                                new QKeyEvent(QEvent::KeyPress, key.key(), key.modifiers(),
                                              key.text(), key.isAutoRepeat(), key.count()));
}

bool TMainForm::PlayFileListKeyDown(const QKeyEvent& key) {
    const int code = key.key();
    if (code == Qt::Key_Backspace) {
        CommandEdit->setFocus();
    } else if (code == Qt::Key_Return || code == Qt::Key_Enter) {
        PlaySelected();
    } else if (code == Qt::Key_Insert) {
        KeepOnlySelectedEntry();
    } else if (code == Qt::Key_Delete) {
        DeleteSelectedEntry();
    } else if (code >= Qt::Key_F1 && code <= Qt::Key_F24) {
        const int n = code - Qt::Key_F1;
        if (PlayFileList->count() > n) {
            PlayFileList->setCurrentRow(n);
            PlaySelected();
        }
    } else if (IsTypedText(key) && PlayFileList->hasFocus()) {
        // Typing belongs in the command box, as from the tree. Keys the box sends here itself
        // (with Shift) arrive while the box has the focus and stay.
        CommandEdit->setFocus();
        QCoreApplication::postEvent(CommandEdit,
                                    new QKeyEvent(QEvent::KeyPress, key.key(), key.modifiers(),
                                                  key.text(), key.isAutoRepeat(), key.count()));
    } else {
        return false;
    }
    return true;
}

void TMainForm::KeepOnlySelectedEntry() {
    const QListWidgetItem* selected = SelectedEntry();
    if (!selected) return;
    // The current entry stays current only if it is the one kept.
    currentIndex_ = PlayFileList->row(selected) == currentIndex_ ? 0 : -1;
    randomHistory_.Clear();
    for (int row = PlayFileList->count() - 1; row >= 0; --row)
        if (PlayFileList->item(row) != selected) delete PlayFileList->item(row);
}

void TMainForm::DeleteSelectedEntry() {
    QListWidgetItem* selected = SelectedEntry();
    if (!selected) return;
    const int row = PlayFileList->row(selected);
    // The current entry keeps its place among the others; deleting it leaves none current.
    if (row == currentIndex_)
        currentIndex_ = -1;
    else if (row < currentIndex_)
        --currentIndex_;
    randomHistory_.EntryDeleted(row);
    const int remembered = row + 1 < PlayFileList->count() ? row + 1 : row - 1;
    QListWidgetItem* next = remembered >= 0 ? PlayFileList->item(remembered) : nullptr;
    delete selected;
    if (next) {
        PlayFileList->setCurrentItem(next);
    } else {
        PlayFileList->clearSelection();
        PlayFileList->setCurrentItem(nullptr);
    }
}

bool TMainForm::IsMenuShortCut(const QKeyEvent& key) const {
    const QKeySequence pressed(key.keyCombination());
    for (const QAction* item : GetLyricsMenu->actions())
        if (!item->shortcut().isEmpty() && item->shortcut() == pressed) return true;
    return false;
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
    bool added = false;
    for (const QUrl& url : event->mimeData()->urls()) {
        const QString name = url.toLocalFile();
        if (!name.isEmpty() && QFileInfo(name).isDir()) {
            AddRoot(name);
            added = true;
        }
    }
    event->acceptProposedAction();
    if (added) BuildTree();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Pit && event->type() == QEvent::MouseButtonRelease) {
        PitClick();
        return true;
    }
    // The line edit would keep some Ctrl keys for editing; the menu's short-cuts come first.
    if (event->type() == QEvent::ShortcutOverride &&
        (watched == CommandEdit || watched == PlayFileList))
        return IsMenuShortCut(static_cast<const QKeyEvent&>(*event));
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (watched == DirTree) {
        DirTreeKeyDown(key);
        return false;
    }
    if (watched == PlayFileList) return PlayFileListKeyDown(key);
    if (watched == CommandEdit) return CmdEditKeyDown(key);
    return QWidget::eventFilter(watched, event);
}

} // namespace pelbrisk
