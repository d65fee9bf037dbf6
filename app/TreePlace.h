#pragma once

#include "app/FilePath.h"

#include <QByteArrayList>
#include <optional>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace pelbrisk {

// A folder of the library held by its root's path and the names down from there, so that it is
// found again among the nodes of a new scan.
struct TFolderTrail {
    TFilePath Root;
    QByteArrayList Names;

    static TFolderTrail Of(const QTreeWidgetItem* node);
    // The node it names in `tree`, or none once that folder is gone.
    QTreeWidgetItem* Find(const QTreeWidget& tree) const;
};

// `root`'s path as the start of its sub-folders' paths: cleaned, with one '/' at its end.
QByteArray SubFolderPrefix(const TFilePath& root);

// The library's node of `folder` (a path of a root or of a folder below one), or none.
QTreeWidgetItem* FolderNode(const QTreeWidget& tree, const TFilePath& folder);

// Where the user stands in the folder tree: the selected folder and the open ones.
class TTreePlace {
public:
    static TTreePlace Take(const QTreeWidget& tree);
    // The place with `folder` selected and opened, so that its own folders show.
    static TTreePlace Selecting(TFolderTrail folder);
    // Opens again what was open and selects what was selected, as far as it still exists; true
    // when the selected folder was found.
    bool Restore(QTreeWidget& tree) const;

private:
    std::vector<TFolderTrail> expanded_;
    std::optional<TFolderTrail> selected_;
};

} // namespace pelbrisk
