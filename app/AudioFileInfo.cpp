#include "app/AudioFileInfo.h"

#include "app/FolderScan.h"
#include "engine/MP3Player.h"

#include <QListWidget>
#include <exception>

namespace pelbrisk {

QString TitleFromName(const TFilePath& fileName) {
    const QByteArray name = fileName.FileName();
    return DisplayName(IsMp3FileName(name) ? name.chopped(4) : name);
}

void ReadAudioFileInfo(const TFilePath& fileName, int index, TAudioFileInfo& info) {
    TMP3Info tags;
    try {
        TMP3Player::ReadFileInfo(fileName.StdString(), tags);
    } catch (const std::exception&) {
        // A file without readable tags is still a play-list entry: it shows its name.
    }
    // The tags' text is UTF-8 already: text without an encoding of its own was read in the
    // settings' tag code page, as the command line reads it.
    info.Number = index + 1;
    // Without a title tag the title is the file's name, which is bytes and shows as every name.
    const std::string title = tags.Title();
    const QByteArray name = fileName.FileName();
    info.TitleIsName = title.empty() || title == name.toStdString();
    info.Title = info.TitleIsName ? TitleFromName(fileName) : QString::fromStdString(title);
    info.Artist = QString::fromStdString(tags.Artist());
    info.Album = QString::fromStdString(tags.Album());
}

QString ShortCaption(const TAudioFileInfo& info) {
    if (info.TitleIsName && !info.Title.isEmpty() && info.Title.front().isDigit())
        return info.Title;
    return QString::asprintf("%.2d-", info.Number) + info.Title;
}

QString SongCaption(const TFilePath& file) {
    TAudioFileInfo info;
    ReadAudioFileInfo(file, 0, info);
    const QString dash = QStringLiteral(" \u2013 ");
    if (!info.TitleIsName)
        return info.Artist.isEmpty() ? info.Title : info.Title + dash + info.Artist;
    const TFilePath folder = file.Folder();
    const TFilePath above = folder.Folder();
    const QString where = above.FileName().isEmpty() ? DisplayName(folder.FileName())
                                                     : DisplayName(above.FileName()) + '/' +
                                                           DisplayName(folder.FileName());
    return where.isEmpty() ? info.Title : info.Title + dash + where;
}

QString FileCaption(const TFilePath& fileName, int index) {
    TAudioFileInfo info;
    ReadAudioFileInfo(fileName, index, info);
    return ShortCaption(info);
}

QString ItemCaption(const QListWidgetItem* entry) {
    TAudioFileInfo info;
    ReadItemInfo(entry, info);
    return ShortCaption(info);
}

void ReadItemInfo(const QListWidgetItem* entry, TAudioFileInfo& info) {
    const TFilePath path(entry->data(kEntryPathRole).toByteArray());
    if (path.IsEmpty()) return;
    const QListWidget* list = entry->listWidget();
    ReadAudioFileInfo(path, list ? list->row(entry) : 0, info);
}

} // namespace pelbrisk
