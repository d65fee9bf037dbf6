#include "app/SongDetails.h"

#include "info/Genres.h"
#include "info/MP3Info.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <initializer_list>

namespace pelbrisk {

namespace {

// The first value the tags give under these names: ID3v2's, then APE's, then ID3v1's.
std::string TagValue(const TMP3Info& info, const char* id3v2, const char* ape, const char* id3v1) {
    for (const auto& [lines, name] :
         {std::pair{&info.ID3v2Values(), id3v2}, std::pair{&info.ApeValues(), ape},
          std::pair{&info.ID3v1Values(), id3v1}}) {
        if (name == nullptr) continue;
        const std::string value = InfoValue(*lines, name);
        if (!value.empty()) return value;
    }
    return {};
}

// "3", "3/12": the number before the slash; 0 for anything else.
int LeadingNumber(const std::string& text) {
    bool ok = false;
    const int number = QString::fromStdString(text).section('/', 0, 0).trimmed().toInt(&ok);
    return ok && number > 0 ? number : 0;
}

// ID3v2 writes a genre as its name, as "(17)", as "17" or as "(17)Rock".
QString GenreText(const std::string& value) {
    QString text = QString::fromUtf8(value).trimmed();
    if (text.startsWith('(') && text.indexOf(')') > 1) {
        const QString rest = text.mid(text.indexOf(')') + 1).trimmed();
        if (!rest.isEmpty()) return rest;
        text = text.mid(1, text.indexOf(')') - 1);
    }
    bool ok = false;
    const int index = text.toInt(&ok);
    if (ok && index >= 0 && index < 255) return QString::fromUtf8(GenreName(uint8_t(index)));
    return text;
}

TFilePath CachedPicture(const TTagPicture& picture, const QString& cacheFolder) {
    const QByteArray bytes(reinterpret_cast<const char*>(picture.Data.data()),
                           static_cast<qsizetype>(picture.Data.size()));
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex() +
                            (picture.MimeType == "image/png" ? ".png" : ".jpg"));
    const QString path = cacheFolder + '/' + name;
    if (QFile::exists(path)) return TFilePath::FromText(path);
    QDir().mkpath(cacheFolder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return {};
    return TFilePath::FromText(path);
}

} // namespace

QString ArtCacheFolder() {
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    // Relative paths are to be ignored, as the base-directory rules say.
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache)) cache = QDir::homePath() + "/.cache";
    return cache + "/pelbrisk/art";
}

TFilePath FolderImage(const TFilePath& folder) {
    const QDir dir(QFile::decodeName(folder.Bytes()));
    const QStringList entries = dir.entryList(QDir::Files | QDir::Readable);
    for (const char* name : {"cover", "folder", "front", "album"})
        for (const char* extension : {"jpg", "jpeg", "png"})
            for (const QString& entry : entries)
                if (entry.compare(QString::fromLatin1(name) + '.' + extension,
                                  Qt::CaseInsensitive) == 0)
                    return folder.Child(QFile::encodeName(entry));
    return {};
}

TSongDetails ReadSongDetails(const TFilePath& song, const QString& cacheFolder) {
    TSongDetails details;
    TMP3Info info;
    info.SetWantPicture(true);
    try {
        info.LoadFromFile(song.StdString());
    } catch (...) {
        return details;
    }
    details.TrackNumber = LeadingNumber(TagValue(info, "TRCK", "Track", "TRACK"));
    details.DiscNumber = LeadingNumber(TagValue(info, "TPOS", "Disc", nullptr));
    details.AlbumArtist = QString::fromUtf8(TagValue(info, "TPE2", "Album Artist", nullptr));
    details.Genre = GenreText(TagValue(info, "TCON", "Genre", "GENRE"));
    std::string created = TagValue(info, "TDRC", "Year", nullptr);
    if (created.empty()) created = TagValue(info, "TYER", nullptr, "YEAR");
    details.Created = QString::fromUtf8(created).trimmed();
    if (!info.Picture().Empty()) details.Art = CachedPicture(info.Picture(), cacheFolder);
    if (details.Art.IsEmpty()) details.Art = FolderImage(song.Folder());
    return details;
}

} // namespace pelbrisk
