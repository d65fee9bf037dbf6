#include "app/LibraryWork.h"

#include "app/AudioFileInfo.h"

namespace pelbrisk {

std::vector<TScannedRoot> ScanRootFolders(const QStringList& rootPaths, TScanProgress& progress) {
    std::vector<TScannedRoot> roots(static_cast<std::size_t>(rootPaths.size()));
    for (qsizetype i = 0; i < rootPaths.size(); ++i) {
        TScannedRoot& root = roots[static_cast<std::size_t>(i)];
        ScanFolders(rootPaths[i], root.Holder.get(), &progress);
        SortDetachedTree(root.Holder.get());
    }
    return roots;
}

TListedFiles ListPlayListFiles(const QString& folder, bool recursive, bool everyFile,
                               TScanProgress& progress) {
    TListedFiles listed;
    if (!recursive && !FolderHasMp3(folder)) return listed;
    listed.Paths = ListFolderFiles(folder, recursive, everyFile, &progress);
    listed.Captions.reserve(listed.Paths.size());
    for (qsizetype i = 0; i < listed.Paths.size(); ++i) {
        if (progress.Cancelled.load(std::memory_order_relaxed)) return {};
        listed.Captions.append(FileCaption(listed.Paths[i], static_cast<int>(i)));
        progress.Count.store(static_cast<int>(i + 1), std::memory_order_relaxed);
    }
    listed.Listed = true;
    return listed;
}

} // namespace pelbrisk
