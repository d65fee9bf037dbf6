#pragma once

#include "app/FilePath.h"
#include "app/PlayHistory.h"
#include "app/ShuffleOrder.h"

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

// The play list: its fills from a folder, the current entry (marked, wherever the cursor is),
// stepping to the next or previous one by the repeat and random toggles, random play in rounds
// with its history, and the entries the user deletes or keeps, which Ctrl+Z brings back.
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

    // Shows those of `files` that are there, captioned on the library worker, and runs
    // `afterRefill` then.
    void FillWith(const std::vector<TFilePath>& files, bool everyFile,
                  std::function<void()> afterRefill);

    // The entry that follows the current one as a song ends: none after the last one without
    // repeat, which ends the list. In random order the next of the round.
    QListWidgetItem* SelectNext();
    // The user's Next: as SelectNext, but on the last entry without repeat nothing changes (none
    // is returned) and the song plays on.
    QListWidgetItem* StepForward();
    // The user's Back: the entry before the current one; on the first, the last with repeat, else
    // the first again. In random order back through what played; before that the current entry.
    QListWidgetItem* StepBack();
    // The next entry as SelectNext chooses it, but in random order only among the rows not in
    // `tried`: a retry after failed files gives every remaining entry its chance.
    QListWidgetItem* SelectNextUntried(const std::set<int>& tried);
    // The entry the next SelectNext will choose, without choosing it: a random draw is made now
    // and kept for that step. None when the list would end.
    QListWidgetItem* NextEntry();
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
    // Every file the list holds, in its order.
    std::vector<TFilePath> Files() const;
    // The files an entry stands for: its own, or for "*ALL*" the list's file entries.
    std::vector<TFilePath> EntryFiles(const QListWidgetItem& entry) const;
    TFilePath EntryPath(const QListWidgetItem& entry) const;

    // The play-list keys: Enter and F1 to F24 ask for the entry to be played, Insert keeps only
    // the selected entry, Delete deletes it, Ctrl+Z undoes the last of those. False for other
    // keys.
    bool KeyDown(const QKeyEvent& key);
    void KeepOnlySelectedEntry();
    void DeleteSelectedEntry();
    // Brings back the entries the last Insert or Delete dropped; false when there is nothing to
    // undo.
    bool Undo();

signals:
    // A fill is about to replace the entries.
    void AboutToRefill();
    // The entries or the current one changed.
    void Changed();
    // The user chose the selected entry to play (Enter, a function key, a double click).
    void PlayRequested();
    // Something the user is told without a question.
    void Notice(const QString& text);

private:
    // One entry as it stood, and the whole list before an edit.
    struct TKeptEntry {
        QString Caption;
        QByteArray Path;
        bool All = false;
    };
    struct TListBefore {
        std::vector<TKeptEntry> Entries;
        int SelectedRow = -1;
        // The current entry's file then, for an edit that took the current entry away.
        QByteArray CurrentPath;
    };

    // Lists on the library worker and shows what `list` gives.
    void NewRound();
    void QueueFill(std::function<TListedFiles(TScanProgress&)> list, bool everyFile,
                   std::function<void()> afterRefill);
    void Listed(const std::vector<TFilePath>& paths, const QStringList& captions, bool everyFile);
    QListWidgetItem* SelectCurrentIndex();
    // Marks the current entry, and tells that it changed.
    void CurrentChanged();
    void RememberForUndo();

    QListWidget& list_;
    TLibraryJobs& jobs_;
    QAbstractButton& repeatAll_;
    QAbstractButton& random_;
    int currentIndex_ = -1;
    TPlayHistory randomHistory_;
    TShuffleOrder shuffle_;
    std::minstd_rand randomNumbers_;
    std::vector<TListBefore> undo_;
    // The draw NextEntry made ahead, valid while its row still holds that entry.
    int drawnRow_ = -1;
    const QListWidgetItem* drawnEntry_ = nullptr;
};

} // namespace pelbrisk
