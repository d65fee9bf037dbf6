#pragma once

// The slow halves of scanning the folder tree, filling the play list and listing the folder menu:
// they read the disk and the files' tags, touch no control, and so run on the library's worker.
#include "app/FolderScan.h"

#include <QStringList>
#include <QTreeWidgetItem>
#include <memory>
#include <vector>

namespace pelbrisk {

// The sub-folders of one root, held by a node of no tree, sorted as the tree sorts them; `Found`
// is false when the root is no folder (a disk not mounted, a folder renamed).
struct TScannedRoot {
    std::unique_ptr<QTreeWidgetItem> Holder = std::make_unique<QTreeWidgetItem>();
    bool Found = true;
};

std::vector<TScannedRoot> ScanRootFolders(const std::vector<TFilePath>& rootPaths,
                                          TScanProgress& progress);

// Files in list order with their entries' captions. `Listed` is false when the listing was given
// up, or when a play list would stay as it is (see ListPlayListFiles).
struct TListedFiles {
    bool Listed = false;
    std::vector<TFilePath> Paths;
    QStringList Captions;
};

// What a folder opens into the play list; not `Listed` when the folder has no MP3 file of its own
// and is not opened recursively.
TListedFiles ListPlayListFiles(const TFilePath& folder, bool recursive, bool everyFile,
                               TScanProgress& progress);
// The files given (a kept play list, or files handed to the program), those still there, with
// their captions, in the order given.
TListedFiles ListKeptFiles(const std::vector<TFilePath>& files, TScanProgress& progress);
// What the folder menu shows of a folder: its own files.
TListedFiles ListFolderMenu(const TFilePath& folder, bool everyFile, TScanProgress& progress);

} // namespace pelbrisk
