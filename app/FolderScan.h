#pragma once

#include "app/FilePath.h"

#include <QTreeWidgetItem>
#include <atomic>
#include <vector>

namespace pelbrisk {

// What a long listing shares with the thread that waits for it: how many folders or files it has
// done so far, and whether it is to give up (its result is then incomplete and is dropped).
struct TScanProgress {
    std::atomic<int> Count{0};
    std::atomic<bool> Cancelled{false};
};

// True when the name's extension, from its last dot, is ".mp3" in any case.
bool IsMp3FileName(QByteArrayView name);

// The files of a folder ("/" at its end or not), as full paths sorted case-blind by the user's
// collation of what the window shows of them: ".mp3" files only, or every file when `everyFile`
// is set; with `recursive` also those of every sub-folder but hidden ones. A folder that cannot be
// read adds nothing, and a folder that is reached again through a link to one of its ancestors is
// not entered twice.
std::vector<TFilePath> ListFolderFiles(const TFilePath& path, bool recursive, bool everyFile,
                                       TScanProgress* progress = nullptr);

// The folder holds an entry whose name ends in ".mp3" in any case.
bool FolderHasMp3(const TFilePath& path);

// The entry is a folder (also through a link).
bool IsFolder(const TFilePath& path);
// The entry is a regular file (also through a link).
bool IsRegularFile(const TFilePath& path);

// Adds every sub-folder of `path` but hidden ones (a leading ".") below `parent`, depth first, in
// the order the file system gives them (the caller sorts the tree afterwards). `parent` may belong
// to no tree yet: then the scan may run on any thread.
void ScanFolders(const TFilePath& path, QTreeWidgetItem* parent, TScanProgress* progress = nullptr);

// Sorts every level below `node`, which belongs to no tree, as sorting the tree would.
void SortDetachedTree(QTreeWidgetItem* node);

} // namespace pelbrisk
