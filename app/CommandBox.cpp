// The command box: typed commands, the incremental search of the folder tree and the keys that
// drive the whole window from one line.
#include "app/HelpText.h"
#include "app/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTreeWidget>
#include <array>

namespace pelbrisk {

namespace {

struct TCommand {
    const char* Word;
    void (TMainForm::*Run)();
};

// Names compare by ASCII case only, as everywhere in the program.
QString AsciiLower(const QString& text) {
    QString lower = text;
    for (QChar& c : lower)
        if (c >= 'A' && c <= 'Z') c = QChar(c.unicode() + ('a' - 'A'));
    return lower;
}

bool CaptionContains(const QTreeWidgetItem* node, const QString& lowerText) {
    return AsciiLower(node->text(0)).contains(lowerText);
}

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

QTreeWidgetItem* LastDescendant(QTreeWidgetItem* node) {
    while (node->childCount() > 0)
        node = node->child(node->childCount() - 1);
    return node;
}

} // namespace

bool TMainForm::ExecuteCommand() {
    QString text = CommandEdit->text();
    if (!text.contains(':')) return false;
    text.remove(':');
    CommandEdit->clear();

    // Tried in this order: a prefix runs the first word it begins.
    static const std::array<TCommand, 16> kCommands{{
        {"reload", &TMainForm::ReloadTree},
        {"collapse", &TMainForm::CollapseTree},
        {"expand", &TMainForm::ExpandTree},
        {"play", &TMainForm::PlayBtnClick},
        {"next", &TMainForm::NextBtnClick},
        {"back", &TMainForm::PrevBtnClick},
        {"prev", &TMainForm::PrevBtnClick},
        {"stop", &TMainForm::StopBtnClick},
        {"pause", &TMainForm::PauseBtnClick},
        {"+volume", &TMainForm::UpVolumeClick},
        {"-volume", &TMainForm::DownVolumeClick},
        {"opendirectory", &TMainForm::OpenDirectoryClick},
        {"bye", &TMainForm::CloseWindow},
        {"exit", &TMainForm::CloseWindow},
        {"quit", &TMainForm::CloseWindow},
        // Last, so that no prefix of an older word changes its meaning.
        {"help", &TMainForm::ShowHelp},
    }};
    const QString typed = AsciiLower(text);
    for (const TCommand& command : kCommands) {
        if (QString::fromLatin1(command.Word).startsWith(typed)) {
            (this->*command.Run)();
            return true;
        }
    }
    CommandEdit->setPlaceholderText("unknown command \":" + text + "\" (:help lists them)");
    return true;
}

void TMainForm::ShowHelp() {
    QMessageBox::information(this, "pelbrisk help", HelpText());
}

void TMainForm::CollapseTree() {
    DirTree->collapseAll();
}

void TMainForm::ExpandTree() {
    DirTree->expandAll();
}

void TMainForm::CloseWindow() {
    close();
}

void TMainForm::CmdEditChange() {
    const QString text = CommandEdit->text();
    if (text.isEmpty()) return;
    CommandEdit->setPlaceholderText(kCommandBoxPlaceholder);
    SelectNode(SearchNode(text, false, false, false, nullptr));
}

void TMainForm::SelectNode(QTreeWidgetItem* node) {
    if (node) {
        DirTree->setCurrentItem(node);
    } else {
        DirTree->clearSelection();
        DirTree->setCurrentItem(nullptr);
    }
}

bool TMainForm::CmdEditKeyDown(const QKeyEvent& key) {
    const bool shift = key.modifiers() & Qt::ShiftModifier;
    const bool ctrl = key.modifiers() & Qt::ControlModifier;
    const bool alt = key.modifiers() & Qt::AltModifier;
    if (alt && !shift && !ctrl && (key.key() == Qt::Key_Left || key.key() == Qt::Key_Right)) {
        SeekBy(key.key() == Qt::Key_Left ? -kSeekStepMs : kSeekStepMs);
        return true;
    }
    if (shift && !ctrl && IsLineEditorKey(key.key())) return false;
    if (shift && !ctrl) {
        QCoreApplication::postEvent(PlayFileList,
                                    new QKeyEvent(QEvent::KeyPress, key.key(), key.modifiers(),
                                                  key.text(), key.isAutoRepeat(), key.count()));
        // The box takes tabs as keys of its own: Shift+Tab does not move the focus either.
        return key.key() == Qt::Key_Backtab;
    }
    QTreeWidgetItem* node = DirTree->currentItem();
    const bool empty = CommandEdit->text().isEmpty();
    switch (key.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (empty && node) SelectNode(node->parent());
        return false;
    case Qt::Key_Tab:
        if (node) {
            const QRect caption = DirTree->visualItemRect(node);
            DirFileListMenu->popup(DirTree->viewport()->mapToGlobal(caption.bottomLeft()));
        }
        // The tab character itself is never typed into the box.
        return true;
    case Qt::Key_Right:
        if (!empty) return false;
        [[fallthrough]];
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (ExecuteCommand()) return true;
        CommandEdit->clear();
        if (node) {
            OpenFolder(shift && ctrl);
            if (QTreeWidgetItem* selected = DirTree->currentItem();
                selected && selected->childCount() > 0)
                SelectNode(selected->child(0));
        } else if (DirTree->topLevelItemCount() > 0) {
            SelectNode(DirTree->topLevelItem(0));
        }
        return true;
    case Qt::Key_Pause:
        PlayFileList->setFocus();
        return true;
    case Qt::Key_Escape:
        showMinimized();
        return true;
    case Qt::Key_Up:
    case Qt::Key_PageUp:
    case Qt::Key_Down:
    case Qt::Key_PageDown: {
        const bool backward = key.key() == Qt::Key_Up || key.key() == Qt::Key_PageUp;
        SelectNode(empty ? StepNode(nullptr, backward, ctrl)
                         : SearchNode(CommandEdit->text(), true, ctrl, backward, nullptr));
        return true;
    }
    case Qt::Key_Insert:
        CommandEdit->clear();
        return true;
    case Qt::Key_Delete:
        // Only a Delete that has no character to erase is meant for the folder.
        if (node && !CommandEdit->hasSelectedText() &&
            CommandEdit->cursorPosition() == CommandEdit->text().size())
            RemoveRoot(node);
        return false;
    default:
        return false;
    }
}

QTreeWidgetItem* TMainForm::StepNode(QTreeWidgetItem* node, bool backward, bool deep) const {
    if (!node) node = DirTree->currentItem();
    if (!node) return DirTree->topLevelItem(0);

    if (!deep) {
        QTreeWidgetItem* parent = node->parent();
        const int count = parent ? parent->childCount() : DirTree->topLevelItemCount();
        const int index = parent ? parent->indexOfChild(node) : DirTree->indexOfTopLevelItem(node);
        const int step = backward ? (index + count - 1) % count : (index + 1) % count;
        return parent ? parent->child(step) : DirTree->topLevelItem(step);
    }

    const int roots = DirTree->topLevelItemCount();
    if (backward) {
        QTreeWidgetItem* parent = node->parent();
        const int index = parent ? parent->indexOfChild(node) : DirTree->indexOfTopLevelItem(node);
        if (index > 0)
            return LastDescendant(parent ? parent->child(index - 1)
                                         : DirTree->topLevelItem(index - 1));
        if (parent) return parent;
        return LastDescendant(DirTree->topLevelItem(roots - 1));
    }
    if (node->childCount() > 0) return node->child(0);
    for (QTreeWidgetItem* at = node; at; at = at->parent()) {
        QTreeWidgetItem* parent = at->parent();
        const int count = parent ? parent->childCount() : roots;
        const int index = parent ? parent->indexOfChild(at) : DirTree->indexOfTopLevelItem(at);
        if (index + 1 < count)
            return parent ? parent->child(index + 1) : DirTree->topLevelItem(index + 1);
    }
    return DirTree->topLevelItem(0);
}

QTreeWidgetItem* TMainForm::SearchNode(QString text, bool stepFirst, bool deep, bool backward,
                                       QTreeWidgetItem* start) const {
    bool deepMode = deep;
    if (!deep && text.contains('/')) {
        text.remove('/');
        deepMode = true;
    }
    QTreeWidgetItem* node = start;
    if (stepFirst) node = StepNode(node, backward, deepMode);
    if (!node) node = DirTree->currentItem();
    if (!node) node = DirTree->topLevelItem(0);
    if (!node) return nullptr;

    const QString lowerText = AsciiLower(text);
    if (CaptionContains(node, lowerText)) return node;
    for (QTreeWidgetItem* at = StepNode(node, backward, deepMode); at != node;
         at = StepNode(at, backward, deepMode))
        if (CaptionContains(at, lowerText)) return at;
    return node;
}

} // namespace pelbrisk
