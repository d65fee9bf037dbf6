#include "app/LibraryWork.h"

#include "app/AudioFileInfo.h"

namespace pelbrisk {

namespace {

TListedFiles Captioned(std::vector<TFilePath> paths, TScanProgress& progress) {
    TListedFiles listed;
    listed.Captions.reserve(static_cast<qsizetype>(paths.size()));
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (progress.Cancelled.load(std::memory_order_relaxed)) return {};
        listed.Captions.append(FileCaption(paths[i], static_cast<int>(i)));
        progress.Count.store(static_cast<int>(i + 1), std::memory_order_relaxed);
    }
    listed.Paths = std::move(paths);
    listed.Listed = true;
    return listed;
}

} // namespace

std::vector<TScannedRoot> ScanRootFolders(const std::vector<TFilePath>& rootPaths,
                                          TScanProgress& progress) {
    std::vector<TScannedRoot> roots(rootPaths.size());
    for (std::size_t i = 0; i < rootPaths.size(); ++i) {
        ScanFolders(rootPaths[i], roots[i].Holder.get(), &progress);
        SortDetachedTree(roots[i].Holder.get());
    }
    return roots;
}

TListedFiles ListPlayListFiles(const TFilePath& folder, bool recursive, bool everyFile,
                               TScanProgress& progress) {
    if (!recursive && !FolderHasMp3(folder)) return {};
    return Captioned(ListFolderFiles(folder, recursive, everyFile, &progress), progress);
}

TListedFiles ListGivenFiles(std::vector<TFilePath> files, TScanProgress& progress) {
    return Captioned(std::move(files), progress);
}

TListedFiles ListFolderMenu(const TFilePath& folder, bool everyFile, TScanProgress& progress) {
    return Captioned(ListFolderFiles(folder, false, everyFile, &progress), progress);
}

} // namespace pelbrisk
