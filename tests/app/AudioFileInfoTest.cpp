#include "app/AudioFileInfo.h"

#include "info/TextConversion.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <QListWidget>
#include <fstream>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace pelbrisk {
namespace {

namespace fs = std::filesystem;

QString ToQ(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// The list's number stands before a title, at least two digits wide, but never before a file
// name that carries a number of its own.
TEST(Captions, NumberTheEntryOnceWithAtLeastTwoDigits) {
    const std::vector<std::pair<TAudioFileInfo, QString>> cases{
        {{3, "Song", "Album", "Artist"}, "03-Song"}, {{123, "100% %s", "", ""}, "123-100% %s"},
        {{3, "07 Song", "", "", true}, "07 Song"},   {{3, "Song", "", "", true}, "03-Song"},
        {{3, "1999", "", "", false}, "03-1999"},
    };
    for (const auto& [info, caption] : cases)
        EXPECT_EQ(ShortCaption(info), caption) << info.Title.toStdString();
}

// The window's caption and the icon's tip: title and artist, or a file name and its folders.
TEST(Captions, SongCaptionsNameTitleAndArtistOrTheFilesFolders) {
    test::TempDir dir;
    const auto wav = test::MakeSignalWav(0.3, 44100, 1);
    fs::create_directories(dir / "Sigur Rós" / "Ágætis byrjun");
    fs::copy_file(test::EncodeWithLame(wav, "-b 64 --id3v2-only"),
                  dir / "Sigur Rós" / "Ágætis byrjun" / "03 Starálfur.mp3");
    fs::copy_file(test::EncodeWithLame(wav, "-b 64 --add-id3v2 --tt Hoppípolla --ta \"Sigur Rós\""),
                  dir / "tagged.mp3");
    fs::copy_file(test::EncodeWithLame(wav, "-b 64 --add-id3v2 --tt Alone"), dir / "alone.mp3");
    const std::vector<std::pair<fs::path, QString>> cases{
        {dir / "tagged.mp3", "Hoppípolla – Sigur Rós"},
        {dir / "alone.mp3", "Alone"},
        {dir / "Sigur Rós" / "Ágætis byrjun" / "03 Starálfur.mp3",
         "03 Starálfur – Sigur Rós/Ágætis byrjun"},
    };
    for (const auto& [file, caption] : cases)
        EXPECT_EQ(SongCaption(TFilePath::FromText(ToQ(file))), caption) << file;
}

TEST(AudioFileInfo, ReadsTheTagsOfAnMp3File) {
    const auto wav = test::MakeSignalWav(0.5, 44100, 2);
    const auto mp3 = test::EncodeWithLame(
        wav,
        "-b 128 --add-id3v2 --tt \"Blue Train\" --ta \"John Coltrane\" --tl \"Blue Train LP\"");
    TAudioFileInfo info;
    ReadAudioFileInfo(TFilePath::FromText(ToQ(mp3)), 4, info);
    EXPECT_EQ(info.Number, 5);
    EXPECT_EQ(info.Title, "Blue Train");
    EXPECT_EQ(info.Artist, "John Coltrane");
    EXPECT_EQ(info.Album, "Blue Train LP");
}

// Today's taggers: ID3v2.4 in UTF-16BE and an APE tag at the end reach the play list's entry.
TEST(AudioFileInfo, ReadsId3v24AndApeTags) {
    const auto mp3 = test::EncodeWithLame(test::MakeSignalWav(0.5, 44100, 2), "-b 128");
    const auto eyeD3 = test::MakeWithTool(
        "cp {in} {out} && eyeD3 -Q --encoding utf16-be -t '\xE6\x97\xA5\xE6\x9C\xAC' -a Eye "
        "-A 'Eye Album' {out} >/dev/null",
        mp3, ".mp3");
    const auto ape = test::MakeWithTool(
        "cp {in} {out} && /usr/bin/python3 -c \"import sys; from mutagen.apev2 import APEv2; "
        "t = APEv2(); t['Title'] = 'Ape Song'; t['Artist'] = 'Ape'; t['Album'] = 'Ape Album'; "
        "t.save(sys.argv[1])\" {out}",
        mp3, ".mp3");
    TAudioFileInfo info;
    ReadAudioFileInfo(TFilePath::FromText(ToQ(eyeD3)), 0, info);
    EXPECT_EQ(info.Title, QString("日本"));
    EXPECT_EQ(info.Artist, "Eye");
    EXPECT_EQ(info.Album, "Eye Album");
    ReadAudioFileInfo(TFilePath::FromText(ToQ(ape)), 1, info);
    EXPECT_EQ(info.Title, "Ape Song");
    EXPECT_EQ(info.Artist, "Ape");
    EXPECT_EQ(info.Album, "Ape Album");
}

// ID3v1 titles without an encoding of their own: ISO-8859-1 unless the settings name a code page;
// the old guess that tried Shift-JIS first made "Björk" of them.
TEST(AudioFileInfo, LegacyTitlesAreReadInTheSettingsCodePage) {
    test::TempDir dir;
    const auto mp3 = test::ReadFileBytes(
        test::EncodeWithLame(test::MakeSignalWav(0.3, 44100, 1), "-b 64 --id3v2-only"));
    struct Case {
        const char* CodePage;
        std::string Title;
        QString Shown;
    };
    for (const Case& c :
         {Case{"", "Bj\xF6rk", "Björk"}, Case{"", "Bj\xC3\xB6rk", "Björk"}, // UTF-8 stays UTF-8
          Case{"windows-1251", "\xCC\xF3\xE7\xFB\xEA\xE0", "Музыка"},
          Case{"Shift_JIS", "\x93\xFA\x96\x7B", "日本"}}) {
        SCOPED_TRACE(c.CodePage);
        ASSERT_TRUE(SetTagCodePage(c.CodePage));
        auto bytes = mp3;
        std::string tag = "TAG" + c.Title;
        tag.resize(128, '\0');
        bytes.insert(bytes.end(), tag.begin(), tag.end());
        test::WriteFileBytes(dir / "song.mp3", bytes);
        TAudioFileInfo info;
        ReadAudioFileInfo(TFilePath::FromText(ToQ(dir / "song.mp3")), 0, info);
        EXPECT_EQ(info.Title, c.Shown);
    }
    SetTagCodePage("");
}

TEST(AudioFileInfo, UntaggedOrUnreadableFilesShowTheirName) {
    test::TempDir dir;
    const auto wav = test::MakeSignalWav(0.5, 44100, 1);
    const auto plain = test::EncodeWithLame(wav, "-b 64 --id3v2-only");
    fs::copy_file(plain, dir / "My Song.mp3");
    std::ofstream(dir / "garbage.mp3") << "this is no MPEG audio at all";

    TAudioFileInfo info;
    ReadAudioFileInfo(TFilePath::FromText(ToQ(dir / "My Song.mp3")), 0, info);
    EXPECT_EQ(info.Number, 1);
    EXPECT_EQ(info.Title, "My Song");
    EXPECT_TRUE(info.TitleIsName);
    EXPECT_EQ(info.Artist, "");

    ReadAudioFileInfo(TFilePath::FromText(ToQ(dir / "garbage.mp3")), 1, info);
    EXPECT_EQ(info.Title, "garbage");
    EXPECT_EQ(info.Album, "");

    ReadAudioFileInfo(TFilePath::FromText(ToQ(dir / "nowhere" / "gone.mp3")), 8, info);
    EXPECT_EQ(info.Number, 9);
    EXPECT_EQ(info.Title, "gone");
}

TEST(AudioFileInfo, EntriesAreReadWithTheirRowAndPath) {
    test::TempDir dir;
    std::ofstream(dir / "one.mp3") << "x";
    QListWidget list;
    list.addItem("placeholder");
    auto* entry = new QListWidgetItem("x", &list);
    entry->setData(kEntryPathRole, QByteArray::fromStdString((dir / "one.mp3").string()));
    EXPECT_EQ(ItemCaption(entry), "02-one");

    TAudioFileInfo untouched{7, "kept", "a", "b"};
    ReadItemInfo(list.item(0), untouched);
    EXPECT_EQ(untouched.Number, 7);
    EXPECT_EQ(untouched.Title, "kept");
}

} // namespace
} // namespace pelbrisk
