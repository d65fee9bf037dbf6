#include "app/CommandBox.h"

#include "app/HelpText.h"
#include "app/KeyBuffer.h"
#include "app/LibraryTree.h"
#include "app/Playback.h"
#include "app/TreeSearch.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTreeWidget>

namespace pelbrisk {

namespace {

// Shift with these selects, cuts and pastes in every line editor; they are not play-list keys.
bool IsLineEditorKey(int key) {
    switch (key) {
    case Qt::Key_Insert:
    case Qt::Key_Delete:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
        return true;
    default:
        return false;
    }
}

} // namespace

TCommandBox::TCommandBox(QLineEdit& edit, QTreeWidget& tree, QListWidget& playList,
                         TLibraryTree& library, TPlayback& playback, TWindowActions window)
    : edit_(edit), tree_(tree), playList_(playList), library_(library), playback_(playback),
      window_(std::move(window)) {
    commands_ = {
        {"reload", [this] { library_.ReloadTree(); }},
        {"collapse", [this] { library_.CollapseTree(); }},
        {"expand", [this] { library_.ExpandTree(); }},
        {"play", [this] { playback_.PlayBtnClick(); }},
        {"next", [this] { playback_.NextBtnClick(); }},
        {"back", [this] { playback_.PrevBtnClick(); }},
        {"prev", [this] { playback_.PrevBtnClick(); }},
        {"stop", [this] { playback_.StopBtnClick(); }},
        {"pause", [this] { playback_.PauseBtnClick(); }},
        {"+volume", [this] { playback_.UpVolumeClick(); }},
        {"-volume", [this] { playback_.DownVolumeClick(); }},
        {"opendirectory", [this] { library_.OpenDirectoryClick(); }},
        {"bye", window_.Close},
        {"exit", window_.Close},
        {"quit", window_.Close},
        // Last, so that no prefix of an older word changes its meaning.
        {"help", [this] { ShowHelp(); }},
    };
    connect(&edit_, &QLineEdit::textChanged, this, &TCommandBox::CmdEditChange);
}

bool TCommandBox::ExecuteCommand() {
    QString text = edit_.text();
    if (!text.contains(':')) return false;
    text.remove(':');
    edit_.clear();
    const QString typed = AsciiLower(text);
    for (const auto& [word, run] : commands_) {
        if (QString::fromLatin1(word).startsWith(typed)) {
            run();
            return true;
        }
    }
    edit_.setPlaceholderText("unknown command \":" + text + "\" (:help lists them)");
    return true;
}

void TCommandBox::ShowHelp() {
    QMessageBox::information(edit_.window(), "pelbrisk help", HelpText());
}

void TCommandBox::CmdEditChange() {
    const QString text = edit_.text();
    if (text.isEmpty()) return;
    edit_.setPlaceholderText(kCommandBoxPlaceholder);
    library_.SelectNode(SearchNode(tree_, text, false, false, false, nullptr));
}

bool TCommandBox::CmdEditKeyDown(const QKeyEvent& key) {
    const bool shift = key.modifiers() & Qt::ShiftModifier;
    const bool ctrl = key.modifiers() & Qt::ControlModifier;
    const bool alt = key.modifiers() & Qt::AltModifier;
    if (alt && !shift && !ctrl && (key.key() == Qt::Key_Left || key.key() == Qt::Key_Right)) {
        playback_.SeekBy(key.key() == Qt::Key_Left ? -kSeekStepMs : kSeekStepMs);
        return true;
    }
    if (shift && !ctrl && IsLineEditorKey(key.key())) return false;
    if (shift && !ctrl) {
        PostKey(&playList_, key);
        // The box takes tabs as keys of its own: Shift+Tab does not move the focus either.
        return key.key() == Qt::Key_Backtab;
    }
    QTreeWidgetItem* node = tree_.currentItem();
    const bool empty = edit_.text().isEmpty();
    switch (key.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (empty && node) library_.SelectNode(node->parent());
        return false;
    case Qt::Key_Tab:
        if (node) {
            const QRect caption = tree_.visualItemRect(node);
            library_.PopupFolderMenu(tree_.viewport()->mapToGlobal(caption.bottomLeft()),
                                     playback_.SendMode());
        }
        // The tab character itself is never typed into the box.
        return true;
    case Qt::Key_Right:
        if (!empty) return false;
        [[fallthrough]];
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (ExecuteCommand()) return true;
        edit_.clear();
        if (node) {
            playback_.OpenFolder(library_.SelectedFolder(), shift && ctrl);
            if (QTreeWidgetItem* selected = tree_.currentItem();
                selected && selected->childCount() > 0)
                library_.SelectNode(selected->child(0));
        } else if (tree_.topLevelItemCount() > 0) {
            library_.SelectNode(tree_.topLevelItem(0));
        }
        return true;
    case Qt::Key_Pause:
        playList_.setFocus();
        return true;
    case Qt::Key_Escape:
        window_.ToTray();
        return true;
    case Qt::Key_Up:
    case Qt::Key_PageUp:
    case Qt::Key_Down:
    case Qt::Key_PageDown: {
        const bool backward = key.key() == Qt::Key_Up || key.key() == Qt::Key_PageUp;
        library_.SelectNode(empty ? StepNode(tree_, nullptr, backward, ctrl)
                                  : SearchNode(tree_, edit_.text(), true, ctrl, backward, nullptr));
        return true;
    }
    case Qt::Key_Insert:
        edit_.clear();
        return true;
    case Qt::Key_Delete:
        // Only a Delete that has no character to erase is meant for the folder.
        if (node && !edit_.hasSelectedText() && edit_.cursorPosition() == edit_.text().size())
            library_.RemoveRoot(node);
        return false;
    default:
        return false;
    }
}

} // namespace pelbrisk
