#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class QAbstractButton;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace pelbrisk {

class TLibraryTree;
class TPlayback;

// The command box: typed commands, the incremental search of the folder tree (saying when nothing
// matches) and the keys that drive the whole window from one line.
class TCommandBox : public QObject {
public:
    // What the box asks of the window itself.
    struct TWindowActions {
        std::function<void()> Close;
        std::function<void()> ToTray;
        // Reads the settings file and the music folders again.
        std::function<void()> Reload;
        std::function<void(const QString&)> Notice;
        // The settings file, as ":help" names it.
        QString SettingsFile;
    };
    // The toggles the commands of the same names turn.
    struct TToggles {
        QAbstractButton& RepeatAll;
        QAbstractButton& Random;
        QAbstractButton& Send;
    };

    TCommandBox(QLineEdit& edit, QTreeWidget& tree, QListWidget& playList, TLibraryTree& library,
                TPlayback& playback, TToggles toggles, TWindowActions window);

    // Runs the box's text as a command when it holds a colon; false when it is no command. The
    // word may take what follows a blank after it (":add ~/Music").
    bool ExecuteCommand();
    void ShowHelp();
    void CmdEditChange();
    // True when the key is taken here and the box's own editing must not see it.
    bool CmdEditKeyDown(const QKeyEvent& key);
    // The typed text names no folder.
    bool NoMatch() const { return noMatch_; }

private:
    struct TCommand {
        const char* Word;
        bool TakesArgument;
        std::function<void(const QString&)> Run;
    };

    void AddFolder(const QString& typed);
    void Toggle(QAbstractButton& toggle, const QString& name);
    void ShowNoMatch(bool noMatch);
    // Selects what a search found, or says that it found nothing.
    void ShowFound(QTreeWidgetItem* found);

    QLineEdit& edit_;
    QTreeWidget& tree_;
    QListWidget& playList_;
    TLibraryTree& library_;
    TPlayback& playback_;
    TToggles toggles_;
    TWindowActions window_;
    // Tried in this order: a prefix runs the first word it begins.
    std::vector<TCommand> commands_;
    QLabel* noMatchLabel_;
    bool noMatch_ = false;
};

} // namespace pelbrisk
