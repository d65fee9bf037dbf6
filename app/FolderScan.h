#pragma once

#include <QString>
#include <QStringList>
#include <QTreeWidgetItem>

namespace pelbrisk {

// True when the name's extension, from its last dot, is ".mp3" in any case.
bool IsMp3FileName(const QString& name);

// The files of a folder ("/" at its end or not), as full paths sorted case-blind by the user's
// collation: ".mp3" files only, or every file when `everyFile` is set; with `recursive` also those
// of every sub-folder but hidden ones. A folder that cannot be read adds nothing, and a folder that
// is reached again through a link to one of its ancestors is not entered twice.
QStringList ListFolderFiles(const QString& path, bool recursive, bool everyFile);

// The folder holds an entry whose name ends in ".mp3" in any case.
bool FolderHasMp3(const QString& path);

// Adds every sub-folder of `path` but hidden ones (a leading ".") below `parent`, depth first, in
// the order the file system gives them (the caller sorts the tree afterwards).
void ScanFolders(const QString& path, QTreeWidgetItem* parent);

} // namespace pelbrisk
