#include "app/AudioFileInfo.h"
#include "app/GetLyrics.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <QFile>
#include <filesystem>
#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

const std::string kSiteA = std::string("http://") + kLyricsSiteAHost;
const std::string kSiteB = std::string("http://") + kLyricsSiteBHost;

// The addresses as the menu items build them: from the entry's file, through its tags.
TAudioFileInfo InfoOf(const std::filesystem::path& file) {
    TAudioFileInfo info;
    ReadAudioFileInfo(TFilePath(file.string()), 0, info);
    return info;
}

TEST(GetLyricsFromTags, JapaneseFileNameWithoutTagsGivesNoName) {
    test::TempDir dir;
    const auto song = dir / "春の歌.mp3";
    std::filesystem::copy_file(test::EncodeWithLame(test::MakeSignalWav(0.3, 44100, 1), "-b 64"),
                               song);
    const TAudioFileInfo info = InfoOf(song);
    ASSERT_EQ(info.Title, QString::fromUtf8("春の歌")); // the name shows as the title...
    EXPECT_EQ(LyricsSiteAUrl(info), "");                // ...but is never looked up
    EXPECT_EQ(LyricsSiteBUrl(info), kSiteB + "/search.php?searchstr=&category=artist&x=0&y=0");
}

TEST(GetLyricsFromTags, TaggedSongGivesBothSitesAddresses) {
    test::TempDir dir;
    const auto song = dir / "track.mp3";
    std::filesystem::copy_file(
        test::EncodeWithLame(test::MakeSignalWav(0.3, 44100, 1),
                             "-b 64 --id3v1-only --ta 'Rock & Roll' --tl 'Live 1999!' --tt Song"),
        song);
    const TAudioFileInfo info = InfoOf(song);
    EXPECT_EQ(LyricsSiteAUrl(info), kSiteA + "/lyrics/rockroll/live1999.html");
    EXPECT_EQ(LyricsSiteBUrl(info),
              kSiteB + "/search.php?searchstr=Rock%20%26%20Roll&category=artist&x=0&y=0");

    TAudioFileInfo japanese;
    japanese.Artist = QString::fromUtf8("林");
    japanese.Album = QString::fromUtf8("歌 2");
    EXPECT_EQ(LyricsSiteAUrl(japanese), "");
    EXPECT_EQ(LyricsSiteBUrl(japanese),
              kSiteB + "/search.php?searchstr=%E6%9E%97&category=artist&x=0&y=0");
}

} // namespace
} // namespace pelbrisk
