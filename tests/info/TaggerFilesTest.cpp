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

TEST(TaggerFiles, FfmpegId3v24TagIsSkippedWhole) {
    const auto mp3 = test::MakeWithTool(
        "ffmpeg -y -loglevel error -i {in} -c copy -id3v2_version 4 -metadata title=Four "
        "-metadata artist=Ffmpeg {out}",
        test::EncodeWithLame(test::MakeSignalWav(1.5, 44100, 2), "-b 128"), ".mp3");
    const auto bytes = test::ReadFileBytes(mp3);
    ASSERT_EQ(bytes[3], 4) << "ffmpeg was asked for ID3v2.4";
    TMP3Info info;
    info.LoadFromFile(mp3.string());
    EXPECT_EQ(info.FoundTypes() & mitID3V2, mitID3V2);
    EXPECT_TRUE(info.ID3v2Values().empty());
    EXPECT_EQ(info.AudioStart(), Id3v2TagBytes(bytes));
    EXPECT_EQ(info.Artist(), "");
    EXPECT_EQ(info.Title(), mp3.filename().string());
}

} // namespace
} // namespace pelbrisk
