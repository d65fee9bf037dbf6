#pragma once

#include "app/FilePath.h"

#include <QString>
#include <cstdint>

class QListWidgetItem;

namespace pelbrisk {

// What a play-list entry shows, read from the file's tags when it is needed.
struct TAudioFileInfo {
    int32_t Number = 0;
    QString Title;
    QString Album;
    QString Artist;
};

// Fills `info` for the file at play-list position `index`. Files that cannot be read give the
// file's name as title and empty artist and album; nothing is reported.
void ReadAudioFileInfo(const TFilePath& fileName, int index, TAudioFileInfo& info);
// The same for a play-list entry with its path and its row; an entry without a path leaves
// `info` as it is.
void ReadItemInfo(const QListWidgetItem* entry, TAudioFileInfo& info);

// Where a play-list entry keeps its file's path bytes; "*ALL*" keeps none.
inline constexpr int kEntryPathRole = 0x0100;

// "03-Title" and "03-Title/Artist/Album".
QString FileCaption(const TFilePath& fileName, int index);
QString ItemCaption(const QListWidgetItem* entry);
QString ItemLongCaption(const QListWidgetItem* entry);
QString ShortCaption(const TAudioFileInfo& info);
QString LongCaption(const TAudioFileInfo& info);

} // namespace pelbrisk
