#include "app/PlayList.h"

#include "app/AudioFileInfo.h"
#include "app/LibraryJobs.h"
#include "app/LibraryWork.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QListWidget>
#include <chrono>

namespace pelbrisk {

namespace {
// Marks the "*ALL*" entry, which holds no path of its own.
constexpr int kAllEntryRole = kEntryPathRole + 1;
// Enough to take back a few edits in a row.
constexpr std::size_t kLongestUndo = 20;

QListWidgetItem* NewEntry(const QString& caption, const QByteArray& path, bool all) {
    auto* entry = new QListWidgetItem(caption);
    if (all)
        entry->setData(kAllEntryRole, true);
    else
        entry->setData(kEntryPathRole, path);
    return entry;
}
} // namespace

TPlayList::TPlayList(QListWidget& list, TLibraryJobs& jobs, QAbstractButton& repeatAll,
                     QAbstractButton& random)
    : list_(list), jobs_(jobs), repeatAll_(repeatAll), random_(random) {
    connect(&random_, &QAbstractButton::toggled, this, [this] { NewRound(); });
    randomNumbers_.seed(
        static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count()));
    connect(&list_, &QListWidget::itemDoubleClicked, this, &TPlayList::PlayRequested);
}

void TPlayList::Fill(const TFilePath& folder, bool recursive, bool everyFile,
                     std::function<void()> afterRefill) {
    // Without a folder there is nothing to list (the send-list toggle refills at start-up,
    // before the tree is scanned).
    if (folder.IsEmpty()) return;
    QueueFill(
        [=](TScanProgress& progress) {
            return ListPlayListFiles(folder, recursive, everyFile, progress);
        },
        everyFile, std::move(afterRefill));
}

void TPlayList::QueueFill(std::function<TListedFiles(TScanProgress&)> list, bool everyFile,
                          std::function<void()> afterRefill) {
    jobs_.Queue("files", [=, this](TScanProgress& progress) -> std::function<void()> {
        auto listed = std::make_shared<TListedFiles>(list(progress));
        if (!listed->Listed) return {};
        return [=, this] {
            Listed(listed->Paths, listed->Captions, everyFile);
            if (afterRefill) afterRefill();
        };
    });
}

void TPlayList::FillWith(const std::vector<TFilePath>& files, bool everyFile,
                         std::function<void()> afterRefill) {
    if (files.empty()) return;
    QueueFill([files](TScanProgress& progress) { return ListKeptFiles(files, progress); },
              everyFile, std::move(afterRefill));
}

void TPlayList::Listed(const std::vector<TFilePath>& paths, const QStringList& captions,
                       bool everyFile) {
    emit AboutToRefill();
    list_.setUpdatesEnabled(false);
    list_.clear();
    if (everyFile) list_.addItem(NewEntry("*ALL*", {}, true));
    for (std::size_t i = 0; i < paths.size(); ++i)
        list_.addItem(NewEntry(captions[static_cast<qsizetype>(i)], paths[i].Bytes(), false));
    list_.setUpdatesEnabled(true);
    currentIndex_ = -1;
    randomHistory_.Clear();
    NewRound();
    undo_.clear();
    SelectNext();
}

int TPlayList::Count() const {
    return list_.count();
}

QListWidgetItem* TPlayList::Entry(int row) const {
    return list_.item(row);
}

int TPlayList::Row(const QListWidgetItem& entry) const {
    return list_.row(&entry);
}

QListWidgetItem* TPlayList::SelectedEntry() const {
    const auto selected = list_.selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void TPlayList::SelectRow(int row) {
    list_.setCurrentRow(row);
}

void TPlayList::MakeCurrent(const QListWidgetItem& entry) {
    currentIndex_ = list_.row(&entry);
    shuffle_.Played(currentIndex_);
    CurrentChanged();
}

void TPlayList::CurrentChanged() {
    // Bold, so that the playing entry stands out wherever the cursor is.
    for (int row = 0; row < list_.count(); ++row) {
        QListWidgetItem* entry = list_.item(row);
        if (entry->font().bold() == (row == currentIndex_)) continue;
        QFont font = entry->font();
        font.setBold(row == currentIndex_);
        entry->setFont(font);
    }
    emit Changed();
}

bool TPlayList::HasNext() const {
    const int count = list_.count();
    return count > 0 &&
           (random_.isChecked() || repeatAll_.isChecked() || currentIndex_ < count - 1);
}

bool TPlayList::HasPrevious() const {
    return list_.count() > 0 &&
           (random_.isChecked() || repeatAll_.isChecked() || currentIndex_ != 0);
}

QListWidgetItem* TPlayList::EntryOf(const TFilePath& file) const {
    const TFilePath wanted = file.Cleaned();
    for (int row = 0; row < list_.count(); ++row)
        if (EntryPath(*list_.item(row)).Cleaned() == wanted) return list_.item(row);
    return nullptr;
}

TFilePath TPlayList::EntryPath(const QListWidgetItem& entry) const {
    return TFilePath(entry.data(kEntryPathRole).toByteArray());
}

std::vector<TFilePath> TPlayList::Files() const {
    std::vector<TFilePath> files;
    for (int row = 0; row < list_.count(); ++row)
        if (const TFilePath path = EntryPath(*list_.item(row)); !path.IsEmpty())
            files.push_back(path);
    return files;
}

std::vector<TFilePath> TPlayList::EntryFiles(const QListWidgetItem& entry) const {
    if (!entry.data(kAllEntryRole).toBool()) return {EntryPath(entry)};
    // What the list holds now: entries the user deleted are not sent.
    return Files();
}

QListWidgetItem* TPlayList::SelectNext() {
    const int count = list_.count();
    if (count == 0) {
        currentIndex_ = -1;
    } else if (random_.isChecked()) {
        randomHistory_.Push(currentIndex_);
        const bool drawn = drawnRow_ >= 0 && list_.item(drawnRow_) == drawnEntry_;
        currentIndex_ = drawn ? drawnRow_ : shuffle_.Next(currentIndex_, count, randomNumbers_);
        drawnRow_ = -1;
    } else if (currentIndex_ < 0) {
        currentIndex_ = 0;
    } else if (++currentIndex_ >= count) {
        currentIndex_ = repeatAll_.isChecked() ? 0 : -1;
    }
    return SelectCurrentIndex();
}

QListWidgetItem* TPlayList::StepForward() {
    const bool last = currentIndex_ >= list_.count() - 1;
    if (last && !random_.isChecked() && !repeatAll_.isChecked() && currentIndex_ >= 0)
        return nullptr;
    return SelectNext();
}

QListWidgetItem* TPlayList::StepBack() {
    const int count = list_.count();
    if (count == 0) {
        currentIndex_ = -1;
    } else if (random_.isChecked()) {
        // Back walks back through what played at random; before that it stays.
        if (!randomHistory_.Empty())
            currentIndex_ = randomHistory_.Pop();
        else if (currentIndex_ < 0 || currentIndex_ >= count)
            currentIndex_ = shuffle_.Next(currentIndex_, count, randomNumbers_);
    } else if (currentIndex_ <= 0) {
        // On the first entry it starts again, or with repeat the list wraps to its end.
        currentIndex_ = currentIndex_ == 0 && repeatAll_.isChecked() ? count - 1 : 0;
    } else {
        // An entry past a list that shrank steps back onto its last one.
        currentIndex_ = std::min(currentIndex_ - 1, count - 1);
    }
    return SelectCurrentIndex();
}

// A new round of random play; a draw made for the old one is no longer owed.
void TPlayList::NewRound() {
    shuffle_.Reset();
    drawnRow_ = -1;
}

QListWidgetItem* TPlayList::NextEntry() {
    const int count = list_.count();
    if (count == 0) return nullptr;
    if (random_.isChecked()) {
        // Drawn from this round now, and kept for the step that plays it.
        if (drawnRow_ < 0 || list_.item(drawnRow_) != drawnEntry_) {
            drawnRow_ = shuffle_.Next(currentIndex_, count, randomNumbers_);
            if (drawnRow_ < 0) return nullptr;
            drawnEntry_ = list_.item(drawnRow_);
        }
        return list_.item(drawnRow_);
    }
    if (currentIndex_ + 1 < count) return list_.item(currentIndex_ + 1);
    return repeatAll_.isChecked() ? list_.item(0) : nullptr;
}

QListWidgetItem* TPlayList::SelectNextUntried(const std::set<int>& tried) {
    const int untried = list_.count() - static_cast<int>(tried.size());
    if (!random_.isChecked() || untried <= 0) return SelectNext();
    randomHistory_.Push(currentIndex_);
    currentIndex_ = shuffle_.Next(currentIndex_, list_.count(), randomNumbers_, tried);
    return SelectCurrentIndex();
}

QListWidgetItem* TPlayList::SelectCurrentIndex() {
    QListWidgetItem* entry = currentIndex_ >= 0 ? list_.item(currentIndex_) : nullptr;
    if (entry)
        list_.setCurrentItem(entry);
    else
        list_.clearSelection();
    CurrentChanged();
    return entry;
}

bool TPlayList::KeyDown(const QKeyEvent& key) {
    const int code = key.key();
    if (code == Qt::Key_Return || code == Qt::Key_Enter) {
        emit PlayRequested();
    } else if (code == Qt::Key_Insert) {
        KeepOnlySelectedEntry();
    } else if (code == Qt::Key_Delete) {
        DeleteSelectedEntry();
    } else if (key.matches(QKeySequence::Undo)) {
        Undo();
    } else if (code >= Qt::Key_F1 && code <= Qt::Key_F24) {
        const int n = code - Qt::Key_F1;
        if (list_.count() > n) {
            list_.setCurrentRow(n);
            emit PlayRequested();
        }
    } else {
        return false;
    }
    return true;
}

void TPlayList::RememberForUndo() {
    TListBefore before;
    for (int row = 0; row < list_.count(); ++row) {
        const QListWidgetItem* entry = list_.item(row);
        before.Entries.push_back(
            {entry->text(), EntryPath(*entry).Bytes(), entry->data(kAllEntryRole).toBool()});
    }
    before.SelectedRow = SelectedEntry() ? list_.row(SelectedEntry()) : -1;
    if (const QListWidgetItem* current = currentIndex_ >= 0 ? list_.item(currentIndex_) : nullptr)
        before.CurrentPath = EntryPath(*current).Bytes();
    if (undo_.size() == kLongestUndo) undo_.erase(undo_.begin());
    undo_.push_back(std::move(before));
}

void TPlayList::KeepOnlySelectedEntry() {
    const QListWidgetItem* selected = SelectedEntry();
    if (!selected) return;
    RememberForUndo();
    const int dropped = list_.count() - 1;
    // The current entry stays current only if it is the one kept.
    currentIndex_ = list_.row(selected) == currentIndex_ ? 0 : -1;
    randomHistory_.Clear();
    NewRound();
    for (int row = list_.count() - 1; row >= 0; --row)
        if (list_.item(row) != selected) delete list_.item(row);
    CurrentChanged();
    if (dropped > 0)
        emit Notice(
            QString("kept one entry and dropped %1; Ctrl+Z in the play list brings them back")
                .arg(dropped));
}

void TPlayList::DeleteSelectedEntry() {
    QListWidgetItem* selected = SelectedEntry();
    if (!selected) return;
    RememberForUndo();
    const int row = list_.row(selected);
    // The current entry keeps its place among the others; deleting it leaves none current.
    if (row == currentIndex_)
        currentIndex_ = -1;
    else if (row < currentIndex_)
        --currentIndex_;
    randomHistory_.EntryDeleted(row);
    shuffle_.EntryDeleted(row);
    const int remembered = row + 1 < list_.count() ? row + 1 : row - 1;
    QListWidgetItem* next = remembered >= 0 ? list_.item(remembered) : nullptr;
    delete selected;
    if (next) {
        list_.setCurrentItem(next);
    } else {
        list_.clearSelection();
        list_.setCurrentItem(nullptr);
    }
    CurrentChanged();
}

bool TPlayList::Undo() {
    if (undo_.empty()) return false;
    const TListBefore before = std::move(undo_.back());
    undo_.pop_back();
    // The song that plays now is the current entry among the ones brought back; when the edit
    // took the current entry away, the one it was.
    const QByteArray playing = currentIndex_ >= 0 && list_.item(currentIndex_)
                                   ? EntryPath(*list_.item(currentIndex_)).Bytes()
                                   : before.CurrentPath;
    list_.setUpdatesEnabled(false);
    list_.clear();
    currentIndex_ = -1;
    for (const TKeptEntry& kept : before.Entries) {
        if (!playing.isEmpty() && kept.Path == playing && currentIndex_ < 0)
            currentIndex_ = list_.count();
        list_.addItem(NewEntry(kept.Caption, kept.Path, kept.All));
    }
    list_.setUpdatesEnabled(true);
    randomHistory_.Clear();
    NewRound();
    if (before.SelectedRow >= 0) list_.setCurrentRow(before.SelectedRow);
    CurrentChanged();
    return true;
}

} // namespace pelbrisk
