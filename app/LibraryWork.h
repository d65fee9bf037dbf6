#pragma once

// The slow halves of scanning the folder tree and filling the play list: they read the disk and
// the files' tags, touch no control, and so run on the library's worker thread.
#include "app/FolderScan.h"

#include <QString>
#include <QStringList>
#include <QTreeWidgetItem>
#include <memory>
#include <vector>

namespace pelbrisk {

// The sub-folders of one root, held by a node of no tree, sorted as the tree sorts them.
struct TScannedRoot {
    std::unique_ptr<QTreeWidgetItem> Holder = std::make_unique<QTreeWidgetItem>();
};

std::vector<TScannedRoot> ScanRootFolders(const QStringList& rootPaths, TScanProgress& progress);

// The files a folder opens into the play list and their entries' captions, in list order.
// `Listed` is false when the folder has no MP3 file of its own and is not opened recursively:
// the play list then stays as it is.
struct TListedFiles {
    bool Listed = false;
    QStringList Paths;
    QStringList Captions;
};

TListedFiles ListPlayListFiles(const QString& folder, bool recursive, bool everyFile,
                               TScanProgress& progress);

} // namespace pelbrisk
