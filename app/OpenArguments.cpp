#include "app/OpenArguments.h"

#include "app/FolderScan.h"

namespace pelbrisk {

namespace {

// "file:", "http:" and the like; a path such as "a:b.mp3" has no scheme when the part before
// the colon holds a slash or the colon is not followed by one.
bool HasScheme(const QByteArray& argument) {
    const qsizetype colon = argument.indexOf(':');
    if (colon <= 0 || !argument.mid(colon + 1).startsWith('/')) return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const char c = argument[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
            return false;
    }
    return true;
}

} // namespace

TOpenArguments ParseOpenArguments(const std::vector<QByteArray>& arguments,
                                  const TFilePath& workingFolder) {
    TOpenArguments parsed;
    bool options = true;
    for (const QByteArray& argument : arguments) {
        if (options && argument == "--") {
            options = false;
        } else if (options && argument.startsWith('-') && argument.size() > 1) {
            if (argument == "--new-instance")
                parsed.NewInstance = true;
            else if (argument == "--portal-hot-keys")
                parsed.PortalHotKeys = true;
            else
                parsed.Unknown << QString::fromLocal8Bit(argument);
        } else if (HasScheme(argument)) {
            parsed.Uris << QString::fromLatin1(argument);
        } else if (!argument.isEmpty()) {
            const TFilePath path(argument.startsWith('/') ? argument
                                                          : workingFolder.Bytes() + '/' + argument);
            parsed.Uris << FileUri(path.Cleaned());
        }
    }
    return parsed;
}

TOpenTargets SortOpenTargets(const QStringList& uris) {
    TOpenTargets targets;
    for (const QString& uri : uris) {
        const std::optional<TFilePath> path = LocalFileOfUri(uri);
        if (path && IsFolder(*path) && targets.Folder.IsEmpty())
            targets.Folder = path->WithoutTrailingSlash();
        else if (path && IsRegularFile(*path) && IsMp3FileName(path->FileName()))
            targets.Files.push_back(*path);
        else
            targets.Refused << (path ? path->Display() : uri);
    }
    if (!targets.Folder.IsEmpty()) {
        for (const TFilePath& file : targets.Files)
            targets.Refused << file.Display();
        targets.Files.clear();
    }
    return targets;
}

} // namespace pelbrisk
