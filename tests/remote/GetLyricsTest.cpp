#include "app/GetLyrics.h"

#include "tests/remote/DesktopServers.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace pelbrisk {
namespace {

// The first site's address is its host and a path, or nothing where the path would lead nowhere.
TEST(GetLyrics, FirstSitePathFromArtistAndAlbum) {
    const std::string host = std::string("http://") + kLyricsSiteAHost;
    const struct {
        const char* artist;
        const char* album;
        const char* path; // empty: no address
    } cases[] = {
        {"The Band", "Live 1999!", "/lyrics/theband/live1999.html"},
        {"AC/DC", "Back In Black", "/lyrics/acdc/backinblack.html"},
        {"Mr. Big", "Vol. 2.0", "/lyrics/mr.big/vol.2.0.html"},
        // letters are folded to their ASCII base, ligatures and strokes included
        {"Sigur Rós", "Ágætis Byrjun", "/lyrics/sigurros/agaetisbyrjun.html"},
        {"Mötley Crüe", "Dr. Feelgood", "/lyrics/motleycrue/dr.feelgood.html"},
        {"Þursaflokkurinn", "Ðøœ ß Łódź", "/lyrics/thursaflokkurinn/dooesslodz.html"},
        {"ＡＢＢＡ", "ﬁnal", "/lyrics/abba/final.html"},
        // nothing left of either: no address
        {"", "", ""},
        {"椎名林檎", "無罪モラトリアム", ""},
        {"Artist", "歌", ""},
        {"林", "歌 2", ""},
        {"!?", "Album", ""},
        {"Artist", "\xff\xfe", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.artist) + " / " + c.album);
        const std::string path = c.path;
        EXPECT_EQ(LyricsSiteAUrl(c.artist, c.album), path.empty() ? "" : host + path);
    }
}

TEST(GetLyrics, SecondSiteSearchesTheEncodedArtist) {
    const std::string prefix = std::string("http://") + kLyricsSiteBHost + "/search.php?searchstr=";
    const std::string suffix = "&category=artist&x=0&y=0";
    EXPECT_EQ(LyricsSiteBUrl("AC/DC"), prefix + "AC%2FDC" + suffix);
    EXPECT_EQ(LyricsSiteBUrl("Rock & Roll"), prefix + "Rock%20%26%20Roll" + suffix);
    EXPECT_EQ(LyricsSiteBUrl(""), prefix + suffix);
}

TEST(GetLyrics, JapaneseTagTextIsEscapedByteByByteForTheSearch) {
    EXPECT_EQ(UrlEncode("林"), "%E6%9E%97");
}

TEST(GetLyrics, PathSlugOverEveryByte) {
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const std::string slug = PathSlug(std::string(1, byte));
        if (value >= 'A' && value <= 'Z')
            EXPECT_EQ(slug, std::string(1, static_cast<char>(value - 'A' + 'a')));
        else if (value == '.' || (value >= '0' && value <= '9') || (value >= 'a' && value <= 'z'))
            EXPECT_EQ(slug, std::string(1, byte));
        else
            EXPECT_EQ(slug, "") << "byte " << value;
    }
    EXPECT_EQ(PathSlug(std::string("A\0b", 3)), "ab");
    EXPECT_EQ(PathSlug("Guns N' Roses"), "gunsnroses");
    EXPECT_EQ(PathSlug("ÄBBA"), "abba");
}

TEST(GetLyrics, UrlEncodeOverEveryByte) {
    const std::string kept = "-_.!*'()";
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const std::string encoded = UrlEncode(std::string(1, byte));
        const bool unchanged =
            (value < 0x80 && std::isalnum(value)) || kept.find(byte) != std::string::npos;
        if (unchanged) {
            EXPECT_EQ(encoded, std::string(1, byte)) << "byte " << value;
        } else {
            char expected[4];
            std::snprintf(expected, sizeof expected, "%%%02X", value);
            EXPECT_EQ(encoded, expected) << "byte " << value;
        }
    }
    EXPECT_EQ(UrlEncode("~ +"), "%7E%20%2B");
    EXPECT_EQ(UrlEncode(std::string("a\0b", 3)), "a%00b");
}

TEST(GetLyrics, ShellOpenHandsTheAddressToTheDesktopsOpener) {
    // A stand-in for xdg-open on PATH records what the desktop would open.
    test::TempDir dir;
    const auto record = dir / "opened.txt";
    const auto opener = dir / "xdg-open";
    {
        std::ofstream script(opener);
        script << "#!/bin/sh\nprintf '%s' \"$1\" > '" << record.string() << ".part'\nmv '"
               << record.string() << ".part' '" << record.string() << "'\n";
    }
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir.Path().string() + ":" + path).c_str(), 1);
    test::EnsureQtApplication();

    const std::string url = LyricsSiteBUrl("Rock & Roll");
    ShellOpen(url);
    QElapsedTimer waited;
    waited.start();
    while (!std::filesystem::exists(record) && waited.elapsed() < 10000) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(std::filesystem::exists(record)) << "the opener was not started";
    const auto bytes = test::ReadFileBytes(record);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), url);
}

} // namespace
} // namespace pelbrisk
