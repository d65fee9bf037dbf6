#include "app/TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QPixmap>

// The program's pictures are in a static library; nothing else would pull them into the program.
static void InitProgramResources() {
    static const bool initialised = [] {
        Q_INIT_RESOURCE(pelbrisk);
        return true;
    }();
    (void)initialised;
}

namespace pelbrisk {

namespace {

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

} // namespace

QIcon ProgramIcon() {
    InitProgramResources();
    const QPixmap large(":/pelbrisk.png");
    QIcon icon;
    if (large.isNull()) return icon;
    for (const int side : kIconSizes)
        icon.addPixmap(side == large.width() ? large
                                             : large.scaled(side, side, Qt::KeepAspectRatio,
                                                            Qt::SmoothTransformation));
    return icon;
}

TTrayIcon::TTrayIcon(TTrayActions actions, QObject* parent)
    : QSystemTrayIcon(ProgramIcon(), parent), actions_(std::move(actions)), menu_(new QMenu) {
    ShowHideItem = menu_->addAction("Show");
    menu_->addSeparator();
    PlayPauseItem = menu_->addAction("Play/Pause");
    NextItem = menu_->addAction("Next");
    BackItem = menu_->addAction("Back");
    menu_->addSeparator();
    QuitItem = menu_->addAction("Quit");
    setContextMenu(menu_);
    SetTip(QString());

    connect(menu_, &QMenu::aboutToShow, this,
            [this] { ShowHideItem->setText(actions_.WindowShown() ? "Hide" : "Show"); });
    connect(ShowHideItem, &QAction::triggered, this, [this] {
        if (actions_.WindowShown())
            actions_.Hide();
        else
            actions_.Show();
    });
    connect(PlayPauseItem, &QAction::triggered, this, [this] { actions_.PlayPause(); });
    connect(NextItem, &QAction::triggered, this, [this] { actions_.Next(); });
    connect(BackItem, &QAction::triggered, this, [this] { actions_.Back(); });
    connect(QuitItem, &QAction::triggered, this, [this] { actions_.Quit(); });
    // A click hides a shown window and shows a hidden one. A double click begins with a click,
    // which has toggled already; the second click is no toggle of its own.
    connect(this, &QSystemTrayIcon::activated, this, [this](ActivationReason reason) {
        if (reason != Trigger) return;
        if (actions_.WindowShown())
            actions_.Hide();
        else
            actions_.Show();
    });
}

TTrayIcon::~TTrayIcon() {
    delete menu_;
}

void TTrayIcon::SetTip(const QString& text) {
    setToolTip(text.isEmpty() ? QStringLiteral("pelbrisk") : text);
}

} // namespace pelbrisk
