#pragma once

#include "app/FilePath.h"
#include "app/PlayHistory.h"

#include <QObject>
#include <functional>
#include <random>
#include <set>
#include <vector>

class QAbstractButton;
class QKeyEvent;
class QListWidget;
class QListWidgetItem;

namespace pelbrisk {

class TLibraryJobs;
struct TListedFiles;
struct TScanProgress;

// The play list: its fills from a folder, the current entry, stepping to the next or previous one
// by the repeat and random toggles, the random history, and the entries the user deletes or keeps.
class TPlayList : public QObject {
    Q_OBJECT

public:
    TPlayList(QListWidget& list, TLibraryJobs& jobs, QAbstractButton& repeatAll,
              QAbstractButton& random);

    // Lists `folder` on the library worker and shows it: ".mp3" files, or with `everyFile` every
    // file after an "*ALL*" entry. A folder without an MP3 file of its own that is not opened
    // recursively leaves the list as it is. `afterRefill` runs once the list shows the folder.
    void Fill(const TFilePath& folder, bool recursive, bool everyFile,
              std::function<void()> afterRefill = {});

    // Shows `files` as the list, captioned on the library worker; `afterRefill` as for Fill.
    void FillWithFiles(std::vector<TFilePath> files, std::function<void()> afterRefill = {});

    QListWidgetItem* SelectNext();
    QListWidgetItem* SelectPrev();
    // The next entry as SelectNext chooses it, but in random order only among the rows not in
    // `tried`: a retry after failed files gives every remaining entry its chance.
    QListWidgetItem* SelectNextUntried(const std::set<int>& tried);
    int CurrentIndex() const { return currentIndex_; }
    // A next or a previous entry changes the current one (random order always has one).
    bool HasNext() const;
    bool HasPrevious() const;
    int Count() const;
    QListWidgetItem* Entry(int row) const;
    int Row(const QListWidgetItem& entry) const;
    QListWidgetItem* SelectedEntry() const;
    // Makes the entry at `row` the selected one.
    void SelectRow(int row);
    // The entry is the one playing, the one the next step starts from.
    void MakeCurrent(const QListWidgetItem& entry);
    // The entry of `file`, or none.
    QListWidgetItem* EntryOf(const TFilePath& file) const;
    // The files an entry stands for: its own, or for "*ALL*" the list's file entries.
    std::vector<TFilePath> EntryFiles(const QListWidgetItem& entry) const;
    TFilePath EntryPath(const QListWidgetItem& entry) const;

    // The play-list keys: Enter and F1 to F24 ask for the entry to be played, Insert keeps only
    // the selected entry, Delete deletes it. False for other keys.
    bool KeyDown(const QKeyEvent& key);
    void KeepOnlySelectedEntry();
    void DeleteSelectedEntry();

signals:
    // A fill is about to replace the entries.
    void AboutToRefill();
    // The entries or the current one changed.
    void Changed();
    // The user chose the selected entry to play (Enter, a function key, a double click).
    void PlayRequested();

private:
    // Lists on the library worker and shows what `list` gives.
    void QueueFill(std::function<TListedFiles(TScanProgress&)> list, bool everyFile,
                   std::function<void()> afterRefill);
    void Listed(const std::vector<TFilePath>& paths, const QStringList& captions, bool everyFile);
    QListWidgetItem* SelectByStep(int step);
    QListWidgetItem* SelectCurrentIndex();

    QListWidget& list_;
    TLibraryJobs& jobs_;
    QAbstractButton& repeatAll_;
    QAbstractButton& random_;
    int currentIndex_ = -1;
    TPlayHistory randomHistory_;
    std::minstd_rand randomNumbers_;
};

} // namespace pelbrisk
