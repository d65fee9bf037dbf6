#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace pelbrisk {

// Keeps the keyboard on the window. Disabling the window for a scan takes the focus away and
// closing a dialog leaves it nowhere without a window manager to hand it back; this gives it to
// the control that had it, or else to `home`, once the window can take it again.
class TFocusKeeper : public QObject {
public:
    TFocusKeeper(QWidget& window, QWidget& home);

    // Remembers where the keyboard is, before the window is disabled.
    void Hold();
    // Gives the keyboard back to what Hold remembered, or to home.
    void GiveBack();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Gives the keyboard to the held control, the window's last one or home; with `activate` the
    // window is made the active one first.
    void Reclaim(bool activate);

    QWidget& window_;
    QWidget& home_;
    QPointer<QWidget> held_;
    bool activeWhenHeld_ = false;
};

} // namespace pelbrisk
