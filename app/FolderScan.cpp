#include "app/FolderScan.h"

#include "app/TreeNodeList.h"

#include <QCollator>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace pelbrisk {

namespace {

struct TEntry {
    QByteArray Name;
    bool IsFolder;
};

QByteArray EncodedFolder(const TFilePath& path) {
    return path.WithoutTrailingSlash().Bytes();
}

bool StatusOf(const QByteArray& path, struct stat& status) {
    return ::stat(path.isEmpty() ? "/" : path.constData(), &status) == 0;
}

DIR* OpenDirStream(const QByteArray& folder) {
    return ::opendir(folder.isEmpty() ? "/" : folder.constData());
}

// Folders, and regular files (also through links); fifos and devices are no music and could
// block a reader, and broken links lead nowhere.
std::vector<TEntry> ReadFolder(const QByteArray& folder) {
    std::vector<TEntry> entries;
    DIR* dir = OpenDirStream(folder);
    if (!dir) return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        bool isFolder = entry->d_type == DT_DIR;
        bool isFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            if (!StatusOf(folder + '/' + name, status)) continue;
            isFolder = S_ISDIR(status.st_mode);
            isFile = S_ISREG(status.st_mode);
        }
        if (isFolder || isFile) entries.push_back({QByteArray(name), isFolder});
    }
    ::closedir(dir);
    return entries;
}

using TFolderId = std::pair<dev_t, ino_t>;

// The folders on the way down; a link back to one of them would make the walk endless.
class TAncestors {
public:
    bool Enter(const QByteArray& folder) {
        struct stat status {};
        if (!StatusOf(folder, status)) return false;
        const TFolderId id{status.st_dev, status.st_ino};
        if (std::find(ids_.begin(), ids_.end(), id) != ids_.end()) return false;
        ids_.push_back(id);
        return true;
    }
    void Leave() { ids_.pop_back(); }

private:
    std::vector<TFolderId> ids_;
};

bool Cancelled(const TScanProgress* progress) {
    return progress && progress->Cancelled.load(std::memory_order_relaxed);
}

// Hidden folders (caches, settings) hold no one's music; file managers leave them out too.
bool IsHidden(const TEntry& entry) {
    return entry.Name.startsWith('.');
}

void CollectFiles(const QByteArray& folder, bool recursive, bool everyFile, TAncestors& ancestors,
                  std::vector<TFilePath>& files, TScanProgress* progress) {
    if (Cancelled(progress) || (recursive && !ancestors.Enter(folder))) return;
    for (const TEntry& entry : ReadFolder(folder)) {
        const QByteArray path = folder + '/' + entry.Name;
        if (entry.IsFolder) {
            if (recursive && !IsHidden(entry))
                CollectFiles(path, recursive, everyFile, ancestors, files, progress);
        } else if (everyFile || IsMp3FileName(entry.Name)) {
            files.emplace_back(path);
        }
    }
    if (recursive) ancestors.Leave();
}

void ScanFolderTree(const QByteArray& folder, QTreeWidgetItem* parent, TAncestors& ancestors,
                    TScanProgress* progress) {
    if (Cancelled(progress) || !ancestors.Enter(folder)) return;
    for (const TEntry& entry : ReadFolder(folder)) {
        if (!entry.IsFolder || IsHidden(entry)) continue;
        QTreeWidgetItem* node = AddFolderNode(parent, entry.Name);
        if (progress) progress->Count.fetch_add(1, std::memory_order_relaxed);
        ScanFolderTree(folder + '/' + entry.Name, node, ancestors, progress);
    }
    ancestors.Leave();
}

} // namespace

bool IsMp3FileName(QByteArrayView name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot >= 0 && name.sliced(dot).compare(".mp3", Qt::CaseInsensitive) == 0;
}

std::vector<TFilePath> ListFolderFiles(const TFilePath& path, bool recursive, bool everyFile,
                                       TScanProgress* progress) {
    std::vector<TFilePath> files;
    TAncestors ancestors;
    CollectFiles(EncodedFolder(path), recursive, everyFile, ancestors, files, progress);
    struct TShown {
        QString Text;
        TFilePath Path;
    };
    std::vector<TShown> shown;
    shown.reserve(files.size());
    for (TFilePath& file : files)
        shown.push_back({file.Display(), std::move(file)});
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(shown.begin(), shown.end(), [&](const TShown& a, const TShown& b) {
        const int order = collator.compare(a.Text, b.Text);
        return order != 0 ? order < 0 : a.Path < b.Path;
    });
    files.clear();
    for (TShown& file : shown)
        files.push_back(std::move(file.Path));
    return files;
}

bool FolderHasMp3(const TFilePath& path) {
    DIR* dir = OpenDirStream(EncodedFolder(path));
    if (!dir) return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir))
        if ((found = IsMp3FileName(entry->d_name))) break;
    ::closedir(dir);
    return found;
}

bool IsFolder(const TFilePath& path) {
    struct stat status {};
    return !path.IsEmpty() && StatusOf(path.Bytes(), status) && S_ISDIR(status.st_mode);
}

bool IsRegularFile(const TFilePath& path) {
    struct stat status {};
    return !path.IsEmpty() && StatusOf(path.Bytes(), status) && S_ISREG(status.st_mode);
}

void ScanFolders(const TFilePath& path, QTreeWidgetItem* parent, TScanProgress* progress) {
    TAncestors ancestors;
    ScanFolderTree(EncodedFolder(path), parent, ancestors, progress);
}

void SortDetachedTree(QTreeWidgetItem* node) {
    QList<QTreeWidgetItem*> children = node->takeChildren();
    // Stable, with the nodes' own order, as the tree's sort is.
    std::stable_sort(children.begin(), children.end(),
                     [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) { return *a < *b; });
    for (QTreeWidgetItem* child : children)
        SortDetachedTree(child);
    node->addChildren(children);
}

} // namespace pelbrisk
