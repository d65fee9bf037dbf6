#pragma once

#include "app/FilePath.h"

#include <QString>

namespace pelbrisk {

// What desktop widgets show of a song beyond its title, artist and album: the numbers, album
// artist, genre and date its tags give (0 or empty where they give none) and its cover as a file.
struct TSongDetails {
    int TrackNumber = 0;
    int DiscNumber = 0;
    QString AlbumArtist;
    QString Genre;
    QString Created; // the tag's date or year, as written ("2020", "2020-05-03")
    TFilePath Art;   // empty without a cover
};

// $XDG_CACHE_HOME/pelbrisk/art (~/.cache when it is not set or not absolute).
QString ArtCacheFolder();

// The folder's cover image: cover, folder, front or album with .jpg, .jpeg or .png, in any
// case, in that order of names; empty when there is none.
TFilePath FolderImage(const TFilePath& folder);

// Reads the song's tags. Its cover is the tags' front cover, written once into `cacheFolder`
// under a name made from its bytes, else the folder's image. A file that cannot be read gives
// details without anything.
TSongDetails ReadSongDetails(const TFilePath& song, const QString& cacheFolder);

} // namespace pelbrisk
