#include "app/AudioFileInfo.h"

#include "engine/MP3Player.h"

#include <QListWidget>
#include <exception>

namespace pelbrisk {

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
    info.Title = title.empty() || title == name.toStdString() ? DisplayName(name)
                                                              : QString::fromStdString(title);
    info.Artist = QString::fromStdString(tags.Artist());
    info.Album = QString::fromStdString(tags.Album());
}

QString ShortCaption(const TAudioFileInfo& info) {
    return QString::asprintf("%.2d-", info.Number) + info.Title;
}

QString LongCaption(const TAudioFileInfo& info) {
    return ShortCaption(info) + '/' + info.Artist + '/' + info.Album;
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

QString ItemLongCaption(const QListWidgetItem* entry) {
    TAudioFileInfo info;
    ReadItemInfo(entry, info);
    return LongCaption(info);
}

void ReadItemInfo(const QListWidgetItem* entry, TAudioFileInfo& info) {
    const TFilePath path(entry->data(kEntryPathRole).toByteArray());
    if (path.IsEmpty()) return;
    const QListWidget* list = entry->listWidget();
    ReadAudioFileInfo(path, list ? list->row(entry) : 0, info);
}

} // namespace pelbrisk
