#include "app/FocusKeeper.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QWidget>
#include <utility>

namespace pelbrisk {

TFocusKeeper::TFocusKeeper(QWidget& window, QWidget& home)
    : QObject(&window), window_(window), home_(home) {
    window_.installEventFilter(this);
    qApp->installEventFilter(this);
}

void TFocusKeeper::Hold() {
    if (held_) return; // a scan inside a scan keeps the first place
    activeWhenHeld_ = window_.isActiveWindow();
    held_ = window_.focusWidget() ? window_.focusWidget() : &home_;
}

void TFocusKeeper::GiveBack() {
    // A window the user had left is not brought forward by a scan's end.
    Reclaim(std::exchange(activeWhenHeld_, false));
}

void TFocusKeeper::Reclaim(bool activate) {
    QWidget* target = held_ ? held_.data() : window_.focusWidget();
    if (!target) target = &home_;
    held_ = nullptr;
    if (!window_.isVisible() || window_.isMinimized()) return;
    if (activate) window_.activateWindow();
    target->setFocus(Qt::OtherFocusReason);
}

bool TFocusKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Show) {
        // Without a window manager nothing activates a new window; the box asks for the keyboard.
        QMetaObject::invokeMethod(
            this, [this] { Reclaim(true); }, Qt::QueuedConnection);
    } else if (event->type() == QEvent::Hide) {
        const auto* dialog = qobject_cast<const QDialog*>(watched);
        if (dialog && dialog->isModal())
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!QApplication::activeModalWidget() && window_.isEnabled()) Reclaim(true);
                },
                Qt::QueuedConnection);
    }
    return false;
}

} // namespace pelbrisk
