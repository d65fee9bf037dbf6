#pragma once

#include "app/FilePath.h"
#include "app/TreeNodeList.h"

#include <QObject>
#include <QUrl>
#include <optional>
#include <vector>

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace pelbrisk {

class TLibraryJobs;
class TTreePlace;
struct TListedFiles;
struct TScannedRoot;

// The folder tree: its roots, their scans, where the user stands in it, and folders dropped on
// the window. Scans run as library jobs; a scan's result goes only to roots that are still there.
class TLibraryTree : public QObject {
    Q_OBJECT

public:
    // `dialogOwner` owns the "remove?" question; `folderMenu` shows a folder's songs.
    TLibraryTree(QTreeWidget& tree, QMenu& folderMenu, TLibraryJobs& jobs, QWidget& dialogOwner);

    // A root for `path` exactly as given; it is scanned by the next BuildTree.
    QTreeWidgetItem* AddRoot(const TFilePath& path);
    // Scans the roots that no scan has been asked for yet.
    void BuildTree();
    // Scans every root again, keeping the user's place.
    void ReloadTree();
    // Asks "remove?" and removes the node only when it is a root and the answer is Yes.
    void RemoveRoot(QTreeWidgetItem* node);
    // Adds the dropped folders as roots and scans them; files and other addresses are ignored.
    void DropFolders(const QList<QUrl>& urls);

    const TTreeNodeList& RootNodes() const { return roots_; }
    std::vector<TFilePath> RootPaths() const;
    // The folder of the selected node, empty when none is selected.
    TFilePath SelectedFolder() const;
    // Selects `node`; none clears the selection.
    void SelectNode(QTreeWidgetItem* node);
    // Selects the node of `folder`, or none when the library does not hold it.
    void ShowFolder(const TFilePath& folder);
    // Selects the node of `folder`, once a scan has found it; a folder outside every root
    // becomes a root for this session, which the settings do not keep.
    void ShowFolderAddingRoot(const TFilePath& folder);
    void CollapseTree();
    void ExpandTree();
    // Opens the selected folder in the desktop's file manager.
    void OpenDirectoryClick();
    // Shows the selected folder's songs (every file with `everyFile`) in the folder menu at `at`,
    // once the library's worker has listed them.
    void PopupFolderMenu(const QPoint& at, bool everyFile);

signals:
    // A root was added or removed.
    void RootsChanged();
    // The user chose `file` of `folder` in the folder menu.
    void FolderMenuChosen(const TFilePath& folder, const TFilePath& file);

private:
    struct TScanTarget {
        QTreeWidgetItem* Node;
        quint64 Serial;
    };

    void ScanRoots(std::vector<TScanTarget> targets, std::optional<TTreePlace> place);
    void TreeScanned(const std::vector<TScanTarget>& targets, std::vector<TScannedRoot>& scanned,
                     bool reload);
    void AfterScan(const std::optional<TTreePlace>& place);
    void ShowFolderMenu(const TFilePath& folder, const TListedFiles& listed, const QPoint& at);
    bool StillThere(const TScanTarget& target) const;
    void DirTreeChange();
    void DirTreeCollapsed(QTreeWidgetItem* node);

    QTreeWidget& tree_;
    QMenu& folderMenu_;
    TLibraryJobs& jobs_;
    QWidget& dialogOwner_;
    TTreeNodeList roots_;
    quint64 nextSerial_ = 1;
    TFilePath folderToShow_;
};

} // namespace pelbrisk
