#include "app/NowPlayingTags.h"

#include "app/AudioFileInfo.h"
#include "app/SongDetails.h"

#include <QFile>
#include <utility>

namespace pelbrisk {

namespace {

TNowPlaying ReadTags(const std::string& path, const QString& artCacheFolder) {
    const TFilePath file(path);
    TAudioFileInfo info;
    ReadAudioFileInfo(file, 0, info);
    const TSongDetails details = ReadSongDetails(file, artCacheFolder);
    TNowPlaying tags;
    tags.FilePath = path;
    tags.Title = info.Title.toUtf8().toStdString();
    tags.Artist = info.Artist.toUtf8().toStdString();
    tags.Album = info.Album.toUtf8().toStdString();
    tags.TrackNumber = details.TrackNumber;
    tags.DiscNumber = details.DiscNumber;
    tags.AlbumArtist = details.AlbumArtist;
    tags.Genre = details.Genre;
    tags.Created = details.Created;
    tags.Art = details.Art;
    return tags;
}

} // namespace

TNowPlayingTags::TNowPlayingTags(QString artCacheFolder)
    : artCacheFolder_(std::move(artCacheFolder)) {}

const TNowPlaying& TNowPlayingTags::Of(const std::string& path) {
    if (path == tags_.FilePath) return tags_;
    tags_ = {};
    tags_.FilePath = path;
    tags_.Title = TitleFromName(TFilePath(path)).toUtf8().toStdString();
    const unsigned ask = ++*asked_;
    reader_.Post([this, path, folder = artCacheFolder_, asked = asked_, ask] {
        if (asked->load() != ask) return;
        const TNowPlaying tags = ReadTags(path, folder);
        const QImage cover =
            tags.Art.IsEmpty() ? QImage() : QImage(QFile::decodeName(tags.Art.Bytes()));
        QMetaObject::invokeMethod(
            this, [this, tags, cover] { Take(tags, cover); }, Qt::QueuedConnection);
    });
    return tags_;
}

void TNowPlayingTags::Take(const TNowPlaying& tags, const QImage& cover) {
    // A read overtaken by another song's is of no more use.
    if (tags.FilePath != tags_.FilePath) return;
    tags_ = tags;
    cover_ = cover;
    emit Read();
}

} // namespace pelbrisk
