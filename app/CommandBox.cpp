#include "app/CommandBox.h"

#include "app/HelpText.h"
#include "app/KeyBuffer.h"
#include "app/LibraryTree.h"
#include "app/Playback.h"
#include "app/TreeSearch.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
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

constexpr int kNormalPitch = 100;

} // namespace

TCommandBox::TCommandBox(QLineEdit& edit, QTreeWidget& tree, QListWidget& playList,
                         TLibraryTree& library, TPlayback& playback, TToggles toggles,
                         TWindowActions window)
    : edit_(edit), tree_(tree), playList_(playList), library_(library), playback_(playback),
      toggles_(toggles), window_(std::move(window)), noMatchLabel_(new QLabel("no match", &edit)) {
    const auto run = [](std::function<void()> action) {
        return [action = std::move(action)](const QString&) { action(); };
    };
    commands_ = {
        {"reload", false, run(window_.Reload)},
        {"collapse", false, run([this] { library_.CollapseTree(); })},
        {"expand", false, run([this] { library_.ExpandTree(); })},
        {"play", false, run([this] { playback_.PlayBtnClick(); })},
        {"next", false, run([this] { playback_.NextBtnClick(); })},
        {"back", false, run([this] { playback_.PrevBtnClick(); })},
        {"prev", false, run([this] { playback_.PrevBtnClick(); })},
        {"stop", false, run([this] { playback_.StopBtnClick(); })},
        {"pause", false, run([this] { playback_.PauseBtnClick(); })},
        {"+volume", false, run([this] { playback_.UpVolumeClick(); })},
        {"-volume", false, run([this] { playback_.DownVolumeClick(); })},
        {"opendirectory", false, run([this] { library_.OpenDirectoryClick(); })},
        {"bye", false, run(window_.Close)},
        {"exit", false, run(window_.Close)},
        {"quit", false, run(window_.Close)},
        // From here on, later words: no prefix of an older word changes its meaning.
        {"help", false, run([this] { ShowHelp(); })},
        {"add", true, [this](const QString& folder) { AddFolder(folder); }},
        {"repeat", false, run([this] { Toggle(toggles_.RepeatAll, "repeat"); })},
        {"random", false, run([this] { Toggle(toggles_.Random, "random"); })},
        {"send", false, run([this] { Toggle(toggles_.Send, "send"); })},
        {"pitch", true,
         [this](const QString& percent) {
             bool number = false;
             const int value = percent.toInt(&number);
             playback_.MovePitchBar(number ? value : kNormalPitch);
         }},
    };
    // The box says so itself, at its right end, in the colour of a warning.
    noMatchLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette warning = noMatchLabel_->palette();
    warning.setColor(QPalette::WindowText, QColor(0xC0, 0x20, 0x20));
    noMatchLabel_->setPalette(warning);
    // On the box's own background a label would take the box's text colour instead.
    noMatchLabel_->setForegroundRole(QPalette::WindowText);
    noMatchLabel_->hide();
    connect(&edit_, &QLineEdit::textChanged, this, &TCommandBox::CmdEditChange);
}

bool TCommandBox::ExecuteCommand() {
    const QString text = edit_.text();
    if (!text.contains(':')) return false;
    edit_.clear();
    // The word ends at the first blank; what follows is its argument, colons and all.
    const qsizetype blank = text.indexOf(' ');
    QString word = blank < 0 ? text : text.left(blank);
    word.remove(':');
    const QString typed = AsciiLower(word);
    for (const TCommand& command : commands_) {
        // A blank after a word that takes nothing matches nothing ("play " is no command).
        if (blank >= 0 && (!command.TakesArgument || typed.isEmpty())) continue;
        if (QString::fromLatin1(command.Word).startsWith(typed)) {
            command.Run(blank < 0 ? QString() : text.mid(blank + 1).trimmed());
            return true;
        }
    }
    edit_.setPlaceholderText("unknown command \"" + text + "\" (:help lists them)");
    return true;
}

void TCommandBox::AddFolder(const QString& typed) {
    QString folder = typed;
    if (folder.isEmpty()) {
        // The toolkit's own dialog: the desktop's may be another process that never answers.
        folder = QFileDialog::getExistingDirectory(
            edit_.window(), "Add a music folder", QDir::homePath(),
            QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        if (folder.isEmpty()) return;
    }
    library_.AddFolder(folder);
}

void TCommandBox::Toggle(QAbstractButton& toggle, const QString& name) {
    if (!toggle.isEnabled()) {
        window_.Notice(":" + name + " waits while the play list is sent to other players (:send)");
        return;
    }
    toggle.click();
}

void TCommandBox::ShowHelp() {
    QMessageBox::information(edit_.window(), "pelbrisk help", HelpText(window_.SettingsFile));
}

void TCommandBox::ShowNoMatch(bool noMatch) {
    noMatch_ = noMatch;
    if (!noMatch) {
        noMatchLabel_->hide();
        edit_.setTextMargins(0, 0, 0, 0);
        return;
    }
    const int width = noMatchLabel_->sizeHint().width() + 6;
    edit_.setTextMargins(0, 0, width, 0);
    noMatchLabel_->setGeometry(edit_.width() - width, 0, width - 4, edit_.height());
    noMatchLabel_->show();
}

void TCommandBox::ShowFound(QTreeWidgetItem* found) {
    ShowNoMatch(found == nullptr && tree_.topLevelItemCount() > 0);
    if (found) library_.ShowCandidate(found);
}

void TCommandBox::CmdEditChange() {
    const QString text = edit_.text();
    if (text.isEmpty() || text.contains(':')) {
        // A command is being typed, or the search is over.
        ShowNoMatch(false);
        if (text.isEmpty()) library_.EndSearch();
        return;
    }
    edit_.setPlaceholderText(kCommandBoxPlaceholder);
    ShowFound(SearchNode(tree_, text, false, false, false, nullptr));
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
        // Nothing was found: the old selection is not what the user looked for.
        if (noMatch_) return true;
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
        if (empty)
            library_.SelectNode(StepNode(tree_, nullptr, backward, ctrl));
        else
            ShowFound(SearchNode(tree_, edit_.text(), true, ctrl, backward, nullptr));
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
