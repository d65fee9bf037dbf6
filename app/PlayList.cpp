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
} // namespace

TPlayList::TPlayList(QListWidget& list, TLibraryJobs& jobs, QAbstractButton& repeatAll,
                     QAbstractButton& random)
    : list_(list), jobs_(jobs), repeatAll_(repeatAll), random_(random) {
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

void TPlayList::FillWithFiles(std::vector<TFilePath> files, std::function<void()> afterRefill) {
    if (files.empty()) return;
    QueueFill([files](TScanProgress& progress) { return ListGivenFiles(files, progress); }, false,
              std::move(afterRefill));
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

void TPlayList::Listed(const std::vector<TFilePath>& paths, const QStringList& captions,
                       bool everyFile) {
    emit AboutToRefill();
    list_.setUpdatesEnabled(false);
    list_.clear();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        auto* entry = new QListWidgetItem(captions[static_cast<qsizetype>(i)]);
        entry->setData(kEntryPathRole, paths[i].Bytes());
        list_.addItem(entry);
    }
    if (everyFile) {
        auto* all = new QListWidgetItem("*ALL*");
        all->setData(kAllEntryRole, true);
        list_.insertItem(0, all);
    }
    list_.setUpdatesEnabled(true);
    currentIndex_ = -1;
    randomHistory_.Clear();
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
    emit Changed();
}

bool TPlayList::HasNext() const {
    const int count = list_.count();
    return count > 0 &&
           (random_.isChecked() || repeatAll_.isChecked() || currentIndex_ < count - 1);
}

bool TPlayList::HasPrevious() const {
    return list_.count() > 0 && (random_.isChecked() || currentIndex_ != 0);
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

std::vector<TFilePath> TPlayList::EntryFiles(const QListWidgetItem& entry) const {
    if (!entry.data(kAllEntryRole).toBool()) return {EntryPath(entry)};
    // What the list holds now: entries the user deleted are not sent.
    std::vector<TFilePath> files;
    for (int row = 0; row < list_.count(); ++row)
        if (const TFilePath path = EntryPath(*list_.item(row)); !path.IsEmpty())
            files.push_back(path);
    return files;
}

QListWidgetItem* TPlayList::SelectNext() {
    return SelectByStep(+1);
}

QListWidgetItem* TPlayList::SelectPrev() {
    return SelectByStep(-1);
}

QListWidgetItem* TPlayList::SelectNextUntried(const std::set<int>& tried) {
    const int untried = list_.count() - static_cast<int>(tried.size());
    if (!random_.isChecked() || untried <= 0) return SelectNext();
    randomHistory_.Push(currentIndex_);
    // The drawn one among the rows not tried yet.
    int draw = std::uniform_int_distribution<int>(0, untried - 1)(randomNumbers_);
    currentIndex_ = 0;
    while (tried.contains(currentIndex_) || draw-- > 0)
        ++currentIndex_;
    return SelectCurrentIndex();
}

// Next and Prev differ only in the direction of the step: random play ignores it, a step past
// the end (or below an entry a shrunk list no longer has) wraps with repeat-all or ends, and a
// step back from the first entry ends with nothing selected.
QListWidgetItem* TPlayList::SelectByStep(int step) {
    const int count = list_.count();
    if (count == 0) {
        currentIndex_ = -1;
    } else if (random_.isChecked()) {
        // Back walks back through what played at random; only before the first song it draws.
        if (step < 0 && !randomHistory_.Empty()) {
            currentIndex_ = randomHistory_.Pop();
        } else {
            if (step > 0) randomHistory_.Push(currentIndex_);
            currentIndex_ = std::uniform_int_distribution<int>(0, count - 1)(randomNumbers_);
        }
    } else if (currentIndex_ < 0) {
        currentIndex_ = 0;
    } else if ((currentIndex_ += step) >= count) {
        currentIndex_ = repeatAll_.isChecked() ? 0 : -1;
    }
    return SelectCurrentIndex();
}

QListWidgetItem* TPlayList::SelectCurrentIndex() {
    QListWidgetItem* entry = currentIndex_ >= 0 ? list_.item(currentIndex_) : nullptr;
    if (entry)
        list_.setCurrentItem(entry);
    else
        list_.clearSelection();
    emit Changed();
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

void TPlayList::KeepOnlySelectedEntry() {
    const QListWidgetItem* selected = SelectedEntry();
    if (!selected) return;
    // The current entry stays current only if it is the one kept.
    currentIndex_ = list_.row(selected) == currentIndex_ ? 0 : -1;
    randomHistory_.Clear();
    for (int row = list_.count() - 1; row >= 0; --row)
        if (list_.item(row) != selected) delete list_.item(row);
    emit Changed();
}

void TPlayList::DeleteSelectedEntry() {
    QListWidgetItem* selected = SelectedEntry();
    if (!selected) return;
    const int row = list_.row(selected);
    // The current entry keeps its place among the others; deleting it leaves none current.
    if (row == currentIndex_)
        currentIndex_ = -1;
    else if (row < currentIndex_)
        --currentIndex_;
    randomHistory_.EntryDeleted(row);
    const int remembered = row + 1 < list_.count() ? row + 1 : row - 1;
    QListWidgetItem* next = remembered >= 0 ? list_.item(remembered) : nullptr;
    delete selected;
    if (next) {
        list_.setCurrentItem(next);
    } else {
        list_.clearSelection();
        list_.setCurrentItem(nullptr);
    }
    emit Changed();
}

} // namespace pelbrisk
