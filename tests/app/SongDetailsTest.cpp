#include "app/SongDetails.h"

#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <QDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

namespace fs = std::filesystem;

TEST(SongDetails, TagsAndTheEmbeddedCoverWrittenOnceIntoTheCache) {
    if (!test::ToolAvailable("mid3v2") || !test::ToolAvailable("convert"))
        GTEST_SKIP() << "mid3v2 and ImageMagick make the song";
    const test::TempDir dir;
    test::RunTool("convert -size 16x16 xc:red '" + (dir / "red.jpg").string() + "'");
    const auto plain = test::EncodeWithLame(test::MakeSignalWav(0.5, 44100, 2), "-b 128 -t");
    fs::create_directories(dir / "Album");
    const fs::path song = dir / "Album" / "song.mp3";
    fs::copy_file(plain, song);
    test::RunTool("mid3v2 -T 3/12 --TPOS 2/2 --TPE2 'Various Artists' -g '(17)' -y 1999 -p '" +
                  (dir / "red.jpg").string() + ":front:3:image/jpeg' '" + song.string() + "'");
    std::ofstream(dir / "Album" / "folder.png") << "not the embedded one";
    const QString cache = QString::fromStdString((dir / "cache").string());
    const TSongDetails details = ReadSongDetails(TFilePath(song.string()), cache);
    EXPECT_EQ(details.TrackNumber, 3);
    EXPECT_EQ(details.DiscNumber, 2);
    EXPECT_EQ(details.AlbumArtist, "Various Artists");
    EXPECT_EQ(details.Genre, "Rock");
    EXPECT_EQ(details.Created, "1999");
    ASSERT_FALSE(details.Art.IsEmpty());
    EXPECT_TRUE(details.Art.StdString().starts_with((dir / "cache").string() + "/"));
    EXPECT_EQ(test::ReadFileBytes(details.Art.StdString()), test::ReadFileBytes(dir / "red.jpg"));
    EXPECT_EQ(ReadSongDetails(TFilePath(song.string()), cache).Art, details.Art);
    EXPECT_EQ(QDir(cache).entryList(QDir::Files).size(), 1) << "written once";
}

TEST(SongDetails, FolderImagesByNameInAnyCase) {
    struct Case {
        std::vector<const char*> files;
        const char* expected; // empty: none
    };
    const Case cases[] = {
        {{"Folder.PNG", "Cover.JPG", "album.jpeg"}, "Cover.JPG"},
        {{"front.jpeg", "album.png"}, "front.jpeg"},
        {{"cover.gif", "scan.jpg"}, ""},
    };
    for (const Case& c : cases) {
        const test::TempDir dir;
        for (const char* name : c.files)
            std::ofstream(dir / name) << "x";
        const TFilePath found = FolderImage(TFilePath(dir.Path().string()));
        EXPECT_EQ(found.FileName().toStdString(), c.expected);
    }
}

} // namespace
} // namespace pelbrisk
