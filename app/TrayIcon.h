#pragma once

#include <QSystemTrayIcon>
#include <functional>

class QAction;
class QMenu;

namespace pelbrisk {

// The program's icon with a picture at every size a window manager or a notification area asks
// for: an X tray host hands its slot size over and paints what is nearest, so one large picture
// alone is scaled by the host, or not drawn at all.
QIcon ProgramIcon();

// What the icon's menu and its click run in the window.
struct TTrayActions {
    std::function<void()> Show;
    std::function<void()> Hide;
    std::function<bool()> WindowShown;
    std::function<void()> PlayPause;
    std::function<void()> Next;
    std::function<void()> Back;
    std::function<void()> Quit;
};

// The notification-area icon: a click shows or hides the window, its menu offers what a desktop
// user expects of a player's icon, and its tip names the song now playing.
class TTrayIcon : public QSystemTrayIcon {
public:
    explicit TTrayIcon(TTrayActions actions, QObject* parent = nullptr);
    ~TTrayIcon() override;

    // The tip shows `text`, or the program's name when nothing plays.
    void SetTip(const QString& text);

    QMenu* Menu() const { return menu_; }
    QAction* ShowHideItem;
    QAction* PlayPauseItem;
    QAction* NextItem;
    QAction* BackItem;
    QAction* QuitItem;

private:
    TTrayActions actions_;
    // Not parented: a menu must be a widget's child or stand alone, and the icon is no widget.
    QMenu* menu_;
};

} // namespace pelbrisk
