#pragma once

#include <QKeyEvent>
#include <QObject>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>

namespace pelbrisk {

// Hands a key on to `target`, which gets it as the next key the system delivers.
void PostKey(QWidget* target, const QKeyEvent& key);

// Holds the keys typed into a window while it is busy, and hands them to it afterwards in the
// order they came, as they would have waited in the system's queue while the window's thread
// worked. Esc is not held: it asks the busy work to stop.
class TKeyBuffer : public QObject {
public:
    // The keys go to the window's focused control afterwards, or to `home` when it has none.
    TKeyBuffer(QWidget* window, QWidget* home, std::function<bool()> busy,
               std::function<void()> cancel);
    ~TKeyBuffer() override;

    // Hands the held keys on, one at a time, until none is left or one makes the window busy
    // again; the rest then wait for that.
    void Replay();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    QWidget* home_;
    std::function<bool()> busy_;
    std::function<void()> cancel_;
    std::deque<std::unique_ptr<QKeyEvent>> keys_;
    bool replaying_ = false;
};

} // namespace pelbrisk
