#include "app/AudioFileInfo.h"

#include "engine/MP3Player.h"

#include <QListWidget>
#include <QStringDecoder>
#include <exception>
#include <optional>

namespace pelbrisk {

namespace {
// Decodes `bytes` whole, or gives nothing when they are not valid in `encoding`.
std::optional<QString> DecodeStrictly(QStringDecoder decoder, std::string_view bytes) {
    if (!decoder.isValid()) return std::nullopt;
    QString text =
        decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError()) return std::nullopt;
    return text;
}
} // namespace

QString DecodeTagText(std::string_view bytes) {
    // Stateless: the bytes are the whole text, so a sequence cut off at the end is an error.
    constexpr auto whole = QStringConverter::Flag::Stateless;
    if (auto text = DecodeStrictly(QStringDecoder(QStringDecoder::Utf8, whole), bytes))
        return *text;
    if (auto text = DecodeStrictly(QStringDecoder("Shift_JIS", whole), bytes)) return *text;
    if (auto text = DecodeStrictly(QStringDecoder("windows-1252", whole), bytes)) return *text;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void ReadAudioFileInfo(const TFilePath& fileName, int index, TAudioFileInfo& info) {
    TMP3Info tags;
    try {
        TMP3Player::ReadFileInfo(fileName.StdString(), tags);
    } catch (const std::exception&) {
        // A file without readable tags is still a play-list entry: it shows its name.
    }
    info.Number = index + 1;
    info.Title = DecodeTagText(tags.Title());
    if (info.Title.isEmpty()) info.Title = DisplayName(fileName.FileName());
    info.Artist = DecodeTagText(tags.Artist());
    info.Album = DecodeTagText(tags.Album());
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
