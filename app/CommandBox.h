#pragma once

#include <QObject>
#include <functional>
#include <utility>
#include <vector>

class QKeyEvent;
class QLineEdit;
class QListWidget;
class QTreeWidget;

namespace pelbrisk {

class TLibraryTree;
class TPlayback;

// The command box: typed commands, the incremental search of the folder tree and the keys that
// drive the whole window from one line.
class TCommandBox : public QObject {
public:
    // What the box asks of the window itself.
    struct TWindowActions {
        std::function<void()> Close;
        std::function<void()> ToTray;
    };

    TCommandBox(QLineEdit& edit, QTreeWidget& tree, QListWidget& playList, TLibraryTree& library,
                TPlayback& playback, TWindowActions window);

    // Runs the box's text as a command when it holds a colon; false when it is no command.
    bool ExecuteCommand();
    void ShowHelp();
    void CmdEditChange();
    // True when the key is taken here and the box's own editing must not see it.
    bool CmdEditKeyDown(const QKeyEvent& key);

private:
    QLineEdit& edit_;
    QTreeWidget& tree_;
    QListWidget& playList_;
    TLibraryTree& library_;
    TPlayback& playback_;
    TWindowActions window_;
    // Tried in this order: a prefix runs the first word it begins.
    std::vector<std::pair<const char*, std::function<void()>>> commands_;
};

} // namespace pelbrisk
