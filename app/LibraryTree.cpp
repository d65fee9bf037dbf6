#include "app/LibraryTree.h"

#include "app/LibraryJobs.h"
#include "app/LibraryWork.h"
#include "app/TreePlace.h"

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QTreeWidget>
#include <utility>

namespace pelbrisk {

namespace {
// Tells a root from one that took the place of a removed root at the same address.
constexpr int kRootSerialRole = Qt::UserRole + 2;
// Set once a scan of the root has been asked for.
constexpr int kScanAskedRole = Qt::UserRole + 3;

// xdg-open may run the file manager itself until it is closed: after a moment the shell leaves it
// running on its own, so that neither a quit ends the file manager nor anything waits for it.
// Its status tells whether the folder could be opened.
constexpr const char* kOpenInFileManager =
    "command -v xdg-open >/dev/null || exit 127\n"
    "xdg-open \"$1\" >/dev/null 2>&1 & opener=$!\n"
    "for tick in 1 2 3 4 5 6 7 8 9 10; do kill -0 $opener 2>/dev/null || break; sleep 0.3; done\n"
    "kill -0 $opener 2>/dev/null && exit 0\n"
    "wait $opener\n";
constexpr int kCommandNotFound = 127;

QString JoinedNames(const std::vector<TFilePath>& paths) {
    QStringList names;
    for (const TFilePath& path : paths)
        names << path.Display();
    return names.join(", ");
}

bool IsBelow(const QTreeWidgetItem* node, const QTreeWidgetItem* ancestor) {
    for (const QTreeWidgetItem* at = node; at; at = at->parent())
        if (at == ancestor) return true;
    return false;
}

// A root that a launch with a folder outside the library added for the session.
constexpr int kSessionRootRole = Qt::UserRole + 5;
} // namespace

TLibraryTree::TLibraryTree(QTreeWidget& tree, QMenu& folderMenu, TLibraryJobs& jobs,
                           QWidget& dialogOwner)
    : tree_(tree), folderMenu_(folderMenu), jobs_(jobs), dialogOwner_(dialogOwner) {
    connect(&tree_, &QTreeWidget::currentItemChanged, this, &TLibraryTree::DirTreeChange);
    // Expanding or collapsing keeps the selected folder in view as well.
    connect(&tree_, &QTreeWidget::itemExpanded, this, &TLibraryTree::DirTreeChange);
    connect(&tree_, &QTreeWidget::itemCollapsed, this, &TLibraryTree::DirTreeCollapsed);
}

QTreeWidgetItem* TLibraryTree::AddRoot(const TFilePath& path) {
    const TFilePath expanded = ExpandedRoot(path);
    auto* node = new TDirNode(&tree_, QStringList{RootCaption(expanded)});
    node->setData(0, kRootPathRole, expanded.Bytes());
    node->setData(0, kRootGivenRole, path.Bytes());
    node->setData(0, kRootSerialRole, nextSerial_++);
    roots_.Add(node);
    emit RootsChanged();
    return node;
}

std::vector<TFilePath> TLibraryTree::RootPaths() const {
    std::vector<TFilePath> paths;
    for (int i = 0; i < roots_.Count(); ++i)
        if (!roots_.Items(i)->data(0, kSessionRootRole).toBool())
            paths.push_back(RootGivenPath(roots_.Items(i)));
    paths.insert(paths.end(), missingRoots_.begin(), missingRoots_.end());
    return paths;
}

QTreeWidgetItem* TLibraryTree::RootNodeOf(const TFilePath& folder) const {
    const TFilePath wanted = folder.Cleaned();
    for (int i = 0; i < roots_.Count(); ++i)
        if (RootPath(roots_.Items(i)).Cleaned() == wanted) return roots_.Items(i);
    return nullptr;
}

void TLibraryTree::AddFolder(const QString& typed) {
    const TFilePath given = ExpandedRoot(TFilePath::FromText(typed.trimmed()));
    const TFilePath folder =
        TFilePath::FromText(QDir::home().absoluteFilePath(QFile::decodeName(given.Bytes())))
            .Cleaned();
    if (!IsFolder(folder)) {
        emit Notice("no such folder: " + folder.Display());
        return;
    }
    if (QTreeWidgetItem* root = RootNodeOf(folder)) {
        // A folder opened from outside the library is shown for the session only, until added.
        if (root->data(0, kSessionRootRole).toBool()) {
            root->setData(0, kSessionRootRole, false);
            emit RootsChanged();
        } else {
            emit Notice(folder.Display() + " is a music folder already");
        }
        SelectNode(root);
        return;
    }
    // A root not found at the start and there now is added again by its new name alone.
    std::erase_if(missingRoots_, [&](const TFilePath& missing) {
        return ExpandedRoot(missing).Cleaned() == folder;
    });
    QTreeWidgetItem* node = AddRoot(folder);
    node->setData(0, kScanAskedRole, true);
    ScanRoots({{node, node->data(0, kRootSerialRole).toULongLong()}},
              TTreePlace::Selecting(TFolderTrail{folder, {}}));
}

void TLibraryTree::ForgetRoot(const TFilePath& path) {
    std::erase(missingRoots_, path);
    for (int i = roots_.Count() - 1; i >= 0; --i) {
        QTreeWidgetItem* root = roots_.Items(i);
        if (RootGivenPath(root) != path) continue;
        openedForCandidate_.clear();
        roots_.Remove(root);
        delete root;
    }
    emit RootsChanged();
}

void TLibraryTree::BuildTree() {
    std::vector<TScanTarget> targets;
    for (int i = 0; i < roots_.Count(); ++i) {
        QTreeWidgetItem* root = roots_.Items(i);
        if (root->data(0, kScanAskedRole).toBool()) continue;
        root->setData(0, kScanAskedRole, true);
        targets.push_back({root, root->data(0, kRootSerialRole).toULongLong()});
    }
    ScanRoots(std::move(targets), std::nullopt);
}

void TLibraryTree::ReloadTree() {
    // A folder that was not found may be there now.
    const std::vector<TFilePath> missing = std::exchange(missingRoots_, {});
    for (const TFilePath& root : missing)
        AddRoot(root);
    std::vector<TScanTarget> targets;
    for (int i = 0; i < roots_.Count(); ++i) {
        QTreeWidgetItem* root = roots_.Items(i);
        root->setData(0, kScanAskedRole, true);
        targets.push_back({root, root->data(0, kRootSerialRole).toULongLong()});
    }
    ScanRoots(std::move(targets), TTreePlace::Take(tree_));
}

// The tree keeps its nodes until a scan is whole, so a cancelled scan leaves it as it was.
void TLibraryTree::ScanRoots(std::vector<TScanTarget> targets, std::optional<TTreePlace> place) {
    if (targets.empty()) {
        // Nothing to read: the sort and the selection need no worker.
        AfterScan(place);
        return;
    }
    std::vector<TFilePath> paths;
    for (const TScanTarget& target : targets)
        paths.push_back(RootPath(target.Node));
    jobs_.Queue("folders", [this, paths, targets, place](TScanProgress& progress) {
        auto scanned =
            std::make_shared<std::vector<TScannedRoot>>(ScanRootFolders(paths, progress));
        return [this, targets, scanned, place] {
            TreeScanned(targets, *scanned, place.has_value());
            AfterScan(place);
        };
    });
}

bool TLibraryTree::StillThere(const TScanTarget& target) const {
    return roots_.Contains(target.Node) &&
           target.Node->data(0, kRootSerialRole).toULongLong() == target.Serial;
}

void TLibraryTree::TreeScanned(const std::vector<TScanTarget>& targets,
                               std::vector<TScannedRoot>& scanned, bool reload) {
    tree_.setUpdatesEnabled(false);
    openedForCandidate_.clear();
    if (reload) {
        auto old = std::shared_ptr<QList<QTreeWidgetItem*>>(new QList<QTreeWidgetItem*>,
                                                            [](QList<QTreeWidgetItem*>* nodes) {
                                                                qDeleteAll(*nodes);
                                                                delete nodes;
                                                            });
        for (const TScanTarget& target : targets)
            if (StillThere(target)) *old += target.Node->takeChildren();
        // Freeing a large tree takes a while; nodes of no tree may go on any thread.
        jobs_.DisposeOnWorker(std::move(old));
    }
    std::vector<TFilePath> missing;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        // A root removed while it was scanned gets nothing.
        if (!StillThere(targets[i])) continue;
        if (!scanned[i].Found) {
            // Shown, it would look like an empty folder, and be selected first.
            missing.push_back(RootGivenPath(targets[i].Node));
            roots_.Remove(targets[i].Node);
            delete targets[i].Node;
            continue;
        }
        if (targets[i].Node->childCount() == 0)
            targets[i].Node->addChildren(scanned[i].Holder->takeChildren());
    }
    tree_.setUpdatesEnabled(true);
    if (missing.empty()) return;
    missingRoots_.insert(missingRoots_.end(), missing.begin(), missing.end());
    emit Notice((missing.size() == 1 ? "music folder not found: " : "music folders not found: ") +
                JoinedNames(missing) + " (kept in the settings; :reload looks again)");
}

void TLibraryTree::AfterScan(const std::optional<TTreePlace>& place) {
    // The scanned levels came sorted; a new root has yet to find its place among the others.
    tree_.invisibleRootItem()->sortChildren(0, Qt::AscendingOrder);
    if (!folderToShow_.IsEmpty()) {
        if (QTreeWidgetItem* node = FolderNode(tree_, folderToShow_)) {
            folderToShow_ = {};
            SelectNode(node);
            return;
        }
    }
    // After a reload the user's place is found again; the first folder is taken only when it
    // is gone, and only from the sorted tree.
    if (place && place->Restore(tree_)) return;
    if (!folderToRestore_.IsEmpty()) {
        QTreeWidgetItem* node = FolderNode(tree_, std::exchange(folderToRestore_, {}));
        if (node) {
            tree_.setCurrentItem(node);
            return;
        }
    }
    if (roots_.Count() == 1) {
        QTreeWidgetItem* root = roots_.Items(0);
        if (root->childCount() > 0) tree_.setCurrentItem(root->child(0));
    }
}

void TLibraryTree::RemoveRoot(QTreeWidgetItem* node) {
    if (!roots_.Contains(node)) return;
    const QString question = "Remove the music folder \"" + node->text(0) + "\" (" +
                             RootPath(node).Display() +
                             ") from pelbrisk?\n\nNo file on disk is touched.";
    // One key too many must not drop a music folder: Enter answers No.
    if (QMessageBox::question(&dialogOwner_, "pelbrisk", question,
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    openedForCandidate_.clear();
    roots_.Remove(node);
    delete node;
    emit RootsChanged();
}

void TLibraryTree::DropFolders(const QList<QUrl>& urls) {
    bool added = false;
    for (const QUrl& url : urls) {
        const std::optional<TFilePath> folder =
            LocalFileOfUri(QString::fromLatin1(url.toEncoded()));
        if (!folder || !IsFolder(*folder)) continue;
        AddRoot(*folder);
        added = true;
    }
    if (added) BuildTree();
}

TFilePath TLibraryTree::SelectedFolder() const {
    return NodeFolderPath(tree_.currentItem());
}

void TLibraryTree::SelectNode(QTreeWidgetItem* node) {
    if (node) {
        tree_.setCurrentItem(node);
    } else {
        tree_.clearSelection();
        tree_.setCurrentItem(nullptr);
    }
}

void TLibraryTree::ShowFolder(const TFilePath& folder) {
    SelectNode(FolderNode(tree_, folder));
}

void TLibraryTree::ShowCandidate(QTreeWidgetItem* node) {
    std::vector<QTreeWidgetItem*> opened;
    for (QTreeWidgetItem* at = node ? node->parent() : nullptr; at; at = at->parent())
        if (!at->isExpanded()) opened.push_back(at);
    SelectNode(node);
    for (QTreeWidgetItem* earlier : openedForCandidate_) {
        if (IsBelow(node, earlier))
            opened.push_back(earlier);
        else
            earlier->setExpanded(false);
    }
    openedForCandidate_ = std::move(opened);
}

void TLibraryTree::ShowFolderAddingRoot(const TFilePath& folder) {
    if (QTreeWidgetItem* node = FolderNode(tree_, folder)) {
        SelectNode(node);
        return;
    }
    folderToShow_ = folder;
    // A folder below a root shows once that root's scan is done.
    const QByteArray wanted = SubFolderPrefix(folder);
    bool inLibrary = false;
    for (int i = 0; i < roots_.Count(); ++i)
        inLibrary = inLibrary || wanted.startsWith(SubFolderPrefix(RootPath(roots_.Items(i))));
    if (!inLibrary) AddRoot(folder)->setData(0, kSessionRootRole, true);
    BuildTree();
}

void TLibraryTree::CollapseTree() {
    tree_.collapseAll();
}

void TLibraryTree::ExpandTree() {
    tree_.expandAll();
}

void TLibraryTree::OpenDirectoryClick() {
    const TFilePath folder = SelectedFolder();
    if (folder.IsEmpty()) return;
    auto* opener = new QProcess(this);
    const QString shown = folder.Display();
    connect(opener, &QProcess::finished, this, [this, opener, shown](int status) {
        opener->deleteLater();
        if (status == kCommandNotFound)
            emit Notice("no file manager to open " + shown + ": xdg-open is not installed");
        else if (status != 0)
            emit Notice("no file manager opened " + shown + " (xdg-open gave " +
                        QString::number(status) + ")");
    });
    connect(opener, &QProcess::errorOccurred, this,
            [this, opener, shown](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart) return;
                opener->deleteLater();
                emit Notice("no file manager to open " + shown + ": no shell to run xdg-open");
            });
    opener->start("/bin/sh", {"-c", kOpenInFileManager, "sh", QFile::decodeName(folder.Bytes())});
}

void TLibraryTree::PopupFolderMenu(const QPoint& at, bool everyFile) {
    const TFilePath folder = SelectedFolder();
    if (folder.IsEmpty()) return;
    // Listed with the tags read on the worker: a folder of thousands of files takes a while.
    jobs_.Queue("files", [this, folder, everyFile, at](TScanProgress& progress) {
        auto listed = std::make_shared<TListedFiles>(ListFolderMenu(folder, everyFile, progress));
        return [this, folder, at, listed] { ShowFolderMenu(folder, *listed, at); };
    });
}

void TLibraryTree::ShowFolderMenu(const TFilePath& folder, const TListedFiles& listed,
                                  const QPoint& at) {
    folderMenu_.clear();
    for (std::size_t i = 0; i < listed.Paths.size(); ++i) {
        QString caption = listed.Captions[static_cast<qsizetype>(i)];
        // Each item plays its file of the folder it was listed from, wherever the tree is now.
        connect(folderMenu_.addAction(caption.replace('&', "&&")), &QAction::triggered, this,
                [this, folder, file = listed.Paths[i]] { emit FolderMenuChosen(folder, file); });
    }
    // Once the window is given back after this job: a menu of a disabled window takes no key.
    QMetaObject::invokeMethod(
        &folderMenu_, [this, at] { folderMenu_.popup(at); }, Qt::QueuedConnection);
}

void TLibraryTree::DirTreeChange() {
    if (QTreeWidgetItem* node = tree_.currentItem()) tree_.scrollToItem(node);
}

void TLibraryTree::DirTreeCollapsed(QTreeWidgetItem* node) {
    // Scrolling to a selection hidden inside the collapsed node would open it again.
    QTreeWidgetItem* selected = tree_.currentItem();
    for (QTreeWidgetItem* at = selected ? selected->parent() : nullptr; at; at = at->parent())
        if (at == node) {
            tree_.setCurrentItem(node);
            return;
        }
    DirTreeChange();
}

} // namespace pelbrisk
