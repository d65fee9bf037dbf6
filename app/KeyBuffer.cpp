#include "app/KeyBuffer.h"

#include <QApplication>
#include <utility>

// Qt's own key path tries the short-cuts before it delivers a key; its test driver reaches that
// step through this exported function, and so does the replay here.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k,
                                               Qt::KeyboardModifiers mods, const QString& text,
                                               bool autorep, ushort count);

namespace pelbrisk {

void PostKey(QWidget* target, const QKeyEvent& key) {
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key.key(), key.modifiers(),
                                                      key.text(), key.isAutoRepeat(), key.count()));
}

TKeyBuffer::TKeyBuffer(QWidget* window, QWidget* home, std::function<bool()> busy,
                       std::function<void()> cancel)
    : QObject(window), window_(window), home_(home), busy_(std::move(busy)),
      cancel_(std::move(cancel)) {
    qApp->installEventFilter(this);
}

TKeyBuffer::~TKeyBuffer() {
    qApp->removeEventFilter(this);
}

bool TKeyBuffer::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window_ || replaying_ || !busy_()) return false;
    // Accepted, so that it goes to no short-cut and to no parent; the press itself is held.
    event->accept();
    if (type == QEvent::ShortcutOverride) return true;
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (key.key() == Qt::Key_Escape && key.modifiers() == Qt::NoModifier) {
        if (type == QEvent::KeyPress && !key.isAutoRepeat()) cancel_();
        return true;
    }
    keys_.push_back(std::unique_ptr<QKeyEvent>(key.clone()));
    return true;
}

void TKeyBuffer::Replay() {
    if (replaying_) return;
    replaying_ = true;
    while (!keys_.empty() && !busy_()) {
        const std::unique_ptr<QKeyEvent> held = std::move(keys_.front());
        keys_.pop_front();
        // The key goes where the window's focus is now, as a key read late from the system
        // would; not to the disabled window that took it, nor to another window that the user
        // has gone to meanwhile.
        QWidget* target = window_->focusWidget();
        if (!target) target = home_;
        const QKeyEvent& key = *held;
        if (key.type() == QEvent::KeyPress &&
            qt_sendShortcutOverrideEvent(target, key.timestamp(), key.key(), key.modifiers(),
                                         key.text(), key.isAutoRepeat(),
                                         static_cast<ushort>(key.count())))
            continue;
        QKeyEvent copy(key.type(), key.key(), key.modifiers(), key.text(), key.isAutoRepeat(),
                       static_cast<ushort>(key.count()));
        QApplication::sendEvent(target, &copy);
    }
    replaying_ = false;
}

} // namespace pelbrisk
