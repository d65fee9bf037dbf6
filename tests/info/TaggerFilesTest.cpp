#include "info/MP3Info.h"
#include "tests/support/Media.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

bool HasLine(const TMP3InfoValues& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int32_t Id3v2TagBytes(const std::vector<uint8_t>& file) {
    return 10 + ((file[6] & 0x7F) << 21) + ((file[7] & 0x7F) << 14) + ((file[8] & 0x7F) << 7) +
           (file[9] & 0x7F);
}

std::filesystem::path LameTagged() {
    return test::EncodeWithLame(test::MakeSignalWav(1.5, 44100, 2),
                                "-b 128 --add-id3v2 --tt 'Lame Title' --ta 'Lame Artist' "
                                "--tl 'Lame Album' --ty 2020 --tc 'a comment' --tg Rock --tn 3");
}

TEST(TaggerFiles, LameId3v23FramesAndItsId3v1Tag) {
    const auto mp3 = LameTagged();
    const auto bytes = test::ReadFileBytes(mp3);
    ASSERT_EQ(bytes[3], 3) << "lame writes ID3v2.3";
    TMP3Info info;
    info.LoadFromFile(mp3.string());
    EXPECT_EQ(info.FoundTypes(), mitID3V2 | mitID3V1);
    EXPECT_EQ(info.AudioStart(), Id3v2TagBytes(bytes));
    EXPECT_EQ(info.AudioLength(), int32_t(bytes.size()) - Id3v2TagBytes(bytes));
    const auto& v2 = info.ID3v2Values();
    // lame writes its text frames in UTF-16 with a byte-order mark.
    EXPECT_TRUE(HasLine(v2, "TIT2=Lame Title"));
    EXPECT_TRUE(HasLine(v2, "TPE1=Lame Artist"));
    EXPECT_TRUE(HasLine(v2, "TALB=Lame Album"));
    EXPECT_TRUE(HasLine(v2, "TYER=2020"));
    EXPECT_TRUE(HasLine(v2, "TRCK=3"));
    EXPECT_TRUE(HasLine(v2, "COMM=a comment"));
    const auto& v1 = info.ID3v1Values();
    EXPECT_TRUE(HasLine(v1, "TITLE=Lame Title"));
    EXPECT_TRUE(HasLine(v1, "GENRE=Rock"));
    EXPECT_TRUE(HasLine(v1, "TRACK=3"));
    EXPECT_EQ(info.ID3v1Position(), int32_t(bytes.size()) - 128);
    EXPECT_EQ(info.Title(), "Lame Title");
    EXPECT_EQ(info.Artist(), "Lame Artist");
    EXPECT_EQ(info.Album(), "Lame Album");
}

// Each tagger's own way of writing the three names (version, encoding, tag kind) reads back; the
// tags' bytes are not taken for audio. The letters outside ASCII try the text encodings.
TEST(TaggerFiles, TitleArtistAndAlbumFromTodaysTaggers) {
    struct Case {
        const char* name;
        std::string command; // {in}: an untagged lame file, {out}: the tagged copy
        int version;         // of the ID3v2 tag at the start; 0 for none
        TMP3InfoType found;
    };
    const std::string names = " -metadata title='T\xc3\xaftle' -metadata artist='Art' "
                              "-metadata album='Alb\xc3\xbcm' ";
    const std::string mutagen = "cp {in} {out} && /usr/bin/python3 -c \"import sys; "
                                "from mutagen.apev2 import APEv2; t = APEv2(); ";
    const Case cases[] = {
        {"ffmpeg (ID3v2.4, UTF-8)", "ffmpeg -y -loglevel error -i {in} -c copy" + names + "{out}",
         4, mitID3V2},
        {"ffmpeg (ID3v2.3, UTF-16)",
         "ffmpeg -y -loglevel error -i {in} -c copy -id3v2_version 3" + names + "{out}", 3,
         mitID3V2},
        {"mid3v2 (ID3v2.4, UTF-8)",
         "cp {in} {out} && mid3v2 -t 'T\xc3\xaftle' -a Art -A 'Alb\xc3\xbcm' {out}", 4, mitID3V2},
        {"eyeD3 (ID3v2.4, UTF-16BE)",
         "cp {in} {out} && eyeD3 -Q --encoding utf16-be -t 'T\xc3\xaftle' -a Art "
         "-A 'Alb\xc3\xbcm' {out} >/dev/null",
         4, mitID3V2},
        {"id3v2 (ID3v2.3 and ID3v1)", "cp {in} {out} && id3v2 -t Title -a Art -A Album {out}", 3,
         mitID3V2 | mitID3V1},
        {"mutagen (APEv2 at the end)",
         mutagen + "t['Title'] = 'T\\u00eftle'; t['Artist'] = 'Art'; "
                   "t['Album'] = 'Alb\\u00fcm'; t.save(sys.argv[1])\" {out}",
         0, mitApe},
    };
    const auto untagged = test::EncodeWithLame(test::MakeSignalWav(1.0, 44100, 2), "-b 128");
    const auto untaggedBytes = test::ReadFileBytes(untagged);
    for (const Case& c : cases) {
        const auto mp3 = test::MakeWithTool(c.command, untagged, ".mp3");
        const auto bytes = test::ReadFileBytes(mp3);
        if (c.version != 0) {
            ASSERT_EQ(bytes[3], c.version) << c.name;
        }
        TMP3Info info;
        info.LoadFromFile(mp3.string());
        EXPECT_EQ(info.FoundTypes(), c.found) << c.name;
        const bool plain = c.found == (mitID3V2 | mitID3V1);
        EXPECT_EQ(info.Title(), plain ? "Title" : "T\xc3\xaftle") << c.name;
        EXPECT_EQ(info.Artist(), "Art") << c.name;
        EXPECT_EQ(info.Album(), plain ? "Album" : "Alb\xc3\xbcm") << c.name;
        // Behind a tag at the start, up to a tag at the end: the lame file's bytes.
        const int32_t start = c.version != 0 ? Id3v2TagBytes(bytes) : 0;
        EXPECT_EQ(info.AudioStart(), start) << c.name;
        if ((c.found & mitID3V1) == 0) {
            EXPECT_EQ(info.AudioLength(), int32_t(untaggedBytes.size())) << c.name;
        }
    }
}

} // namespace
} // namespace pelbrisk
