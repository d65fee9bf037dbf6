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
    // The file has no title tag: the title is its name, without ".mp3".
    bool TitleIsName = false;
};

// The title of a file without a title tag: its name without ".mp3".
QString TitleFromName(const TFilePath& fileName);
// Fills `info` for the file at play-list position `index`. Files that cannot be read give the
// file's name (without ".mp3") as title and empty artist and album; nothing is reported.
void ReadAudioFileInfo(const TFilePath& fileName, int index, TAudioFileInfo& info);
// The same for a play-list entry with its path and its row; an entry without a path leaves
// `info` as it is.
void ReadItemInfo(const QListWidgetItem* entry, TAudioFileInfo& info);

// Where a play-list entry keeps its file's path bytes; "*ALL*" keeps none.
inline constexpr int kEntryPathRole = 0x0100;

// A play-list entry's caption: "03-Title", or a file name that begins with a number of its own
// ("07 Song") as it stands, so that no number is doubled.
QString FileCaption(const TFilePath& fileName, int index);
QString ItemCaption(const QListWidgetItem* entry);
QString ShortCaption(const TAudioFileInfo& info);
// What the window's caption and the icon's tip say of a song: "Title – Artist", the title alone
// without an artist, and for a file without a title tag its name and the last two folders above
// it ("07 Song – Artist/Album").
QString SongCaption(const TFilePath& file);

} // namespace pelbrisk
