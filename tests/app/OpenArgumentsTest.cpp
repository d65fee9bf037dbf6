#include "app/OpenArguments.h"

#include "tests/support/Paths.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

TEST(OpenArguments, PathsBecomeFileAddressesAndOptionsAreSorted) {
    struct Case {
        std::vector<QByteArray> arguments;
        QStringList uris;
        bool newInstance;
        QStringList unknown;
    };
    const Case cases[] = {
        {{"a.mp3", "../b/./c.mp3"}, {"file:///home/u/a.mp3", "file:///home/b/c.mp3"}, false, {}},
        {{"/m/Caf\xE9 x.mp3"}, {"file:///m/Caf%E9%20x.mp3"}, false, {}},
        {{"file:///m/x.mp3", "http://host/y.mp3"},
         {"file:///m/x.mp3", "http://host/y.mp3"},
         false,
         {}},
        {{"a:b.mp3"}, {"file:///home/u/a:b.mp3"}, false, {}}, // no scheme: a name with a colon
        {{"--new-instance", "-x", "--", "--new-instance"},
         {"file:///home/u/--new-instance"},
         true,
         {"-x"}},
    };
    for (const Case& c : cases) {
        const TOpenArguments parsed =
            ParseOpenArguments(c.arguments, TFilePath(QByteArray("/home/u")));
        EXPECT_EQ(parsed.Uris, c.uris) << c.arguments.front().toStdString();
        EXPECT_EQ(parsed.NewInstance, c.newInstance);
        EXPECT_EQ(parsed.Unknown, c.unknown);
    }
}

TEST(OpenArguments, TheFirstFolderWinsElseTheMp3FilesArePlayed) {
    const test::TempDir dir;
    std::filesystem::create_directories(dir / "Album");
    for (const char* name : {"1.mp3", "2.MP3", "notes.txt"})
        std::ofstream(dir / name) << "x";
    const auto uri = [&](const std::string& name) {
        return FileUri(TFilePath((dir / name).string()));
    };
    const TOpenTargets files = SortOpenTargets(
        {uri("2.MP3"), uri("notes.txt"), uri("1.mp3"), uri("gone.mp3"), "http://host/x.mp3"});
    EXPECT_TRUE(files.Folder.IsEmpty());
    EXPECT_EQ(files.Files, (std::vector<TFilePath>{TFilePath((dir / "2.MP3").string()),
                                                   TFilePath((dir / "1.mp3").string())}));
    EXPECT_EQ(files.Refused.size(), 3);
    const TOpenTargets folder = SortOpenTargets({uri("1.mp3"), uri("Album/"), uri("Album")});
    EXPECT_EQ(folder.Folder, TFilePath((dir / "Album").string()));
    EXPECT_TRUE(folder.Files.empty());
    EXPECT_EQ(folder.Refused.size(), 2) << "the file and the second folder";
}

} // namespace
} // namespace pelbrisk
