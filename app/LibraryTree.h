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

    // A root for `path` as given ("~" stands for the home folder); it is scanned by the next
    // BuildTree. A root that is no folder then is named in a notice and left out of the tree, but
    // kept among the roots, for a disk mounted later.
    QTreeWidgetItem* AddRoot(const TFilePath& path);
    // The music folder the user typed or chose (":add"): relative to the home folder, "~"
    // expanded. It is scanned and selected; one that is no folder, or a root already, is told.
    void AddFolder(const QString& typed);
    // Takes the root given as `path` out of the library, whether it shows or was not found.
    void ForgetRoot(const TFilePath& path);
    // Scans the roots that no scan has been asked for yet.
    void BuildTree();
    // Scans every root again, keeping the user's place.
    void ReloadTree();
    // Asks whether to remove the music folder and removes the node only when it is a root and
    // the answer is Yes; nothing on disk is touched.
    void RemoveRoot(QTreeWidgetItem* node);
    // The first scan selects `folder`, where the user was, when the tree still holds it.
    void RestoreFolder(const TFilePath& folder) { folderToRestore_ = folder; }
    // Adds the dropped folders as roots and scans them; files and other addresses are ignored.
    void DropFolders(const QList<QUrl>& urls);

    const TTreeNodeList& RootNodes() const { return roots_; }
    // The roots as they were given, found or not.
    std::vector<TFilePath> RootPaths() const;
    // The folder of the selected node, empty when none is selected.
    TFilePath SelectedFolder() const;
    // Selects `node`; none clears the selection.
    void SelectNode(QTreeWidgetItem* node);
    // Selects a search's candidate, opening the folders above it; those opened only for the
    // previous candidate close again.
    void ShowCandidate(QTreeWidgetItem* node);
    // The search is over: what it opened for its last candidate stays open.
    void EndSearch() { openedForCandidate_.clear(); }
    // Selects the node of `folder`, or none when the library does not hold it.
    void ShowFolder(const TFilePath& folder);
    // Selects the node of `folder`, once a scan has found it; a folder outside every root
    // becomes a root for this session, which the settings do not keep.
    void ShowFolderAddingRoot(const TFilePath& folder);
    void CollapseTree();
    void ExpandTree();
    // Opens the selected folder in the desktop's file manager (through xdg-open); a failure is
    // told.
    void OpenDirectoryClick();
    // Shows the selected folder's songs (every file with `everyFile`) in the folder menu at `at`,
    // once the library's worker has listed them.
    void PopupFolderMenu(const QPoint& at, bool everyFile);

signals:
    // A root was added or removed.
    void RootsChanged();
    // The user chose `file` of `folder` in the folder menu.
    void FolderMenuChosen(const TFilePath& folder, const TFilePath& file);
    // Something the user is told without a question.
    void Notice(const QString& text);

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
    QTreeWidgetItem* RootNodeOf(const TFilePath& folder) const;

    QTreeWidget& tree_;
    QMenu& folderMenu_;
    TLibraryJobs& jobs_;
    QWidget& dialogOwner_;
    TTreeNodeList roots_;
    // Roots that were no folder at their last scan, as given.
    std::vector<TFilePath> missingRoots_;
    TFilePath folderToRestore_;
    std::vector<QTreeWidgetItem*> openedForCandidate_;
    quint64 nextSerial_ = 1;
    TFilePath folderToShow_;
};

} // namespace pelbrisk
