#pragma once

#include "app/FilePath.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace pelbrisk {

// What `pelbrisk FILE|FOLDER|URI...` asks for, and how it travels to a running instance.
struct TOpenArguments {
    // file: addresses of the files and folders, relative paths taken from `workingFolder`;
    // any other address stays as it was given (the window refuses it).
    QStringList Uris;
    bool NewInstance = false;
    bool PortalHotKeys = false;
    // Options that pelbrisk does not know.
    QStringList Unknown;
};

// The program's arguments behind its name, as the system handed over their bytes; "--" ends
// the options.
TOpenArguments ParseOpenArguments(const std::vector<QByteArray>& arguments,
                                  const TFilePath& workingFolder);

// What the window does with the addresses: the first folder is shown and played; without one
// the MP3 files become the play list. The rest is named as refused.
struct TOpenTargets {
    TFilePath Folder;
    std::vector<TFilePath> Files;
    QStringList Refused;
};
TOpenTargets SortOpenTargets(const QStringList& uris);

} // namespace pelbrisk
