#include "info/Id3v2Tag.h"
#include "info/MP3Info.h"
#include "stream/Stream.h"
#include "tests/info/TagBytes.h"

#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

using test::Append;
using test::Bytes;

Bytes Text(uint8_t encoding, const Bytes& text) {
    Bytes body{encoding};
    Append(body, text);
    return body;
}
Bytes Chars(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

struct Scanned {
    TMP3InfoValues lines;
    int32_t audioStart = -1;
    bool read = false;
};

Scanned Scan(const Bytes& tag) {
    Bytes file = tag;
    Append(file, test::Mpeg1Frames(2));
    TMPMemoryStream stream(file);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    TMP3Info info;
    info.AttachReader(&reader);
    Scanned scanned;
    scanned.read = info.ReadHeadTags() && (info.FoundTypes() & mitID3V2) != 0;
    scanned.lines = info.ID3v2Values();
    scanned.audioStart = info.AudioStart();
    return scanned;
}

// Version 2.4's text in each of its four encodings, several values joined, sizes above 127 that
// only read right 7 bits to a byte.
TEST(Id3v24, EncodingsAndValuesBecomeUtf8Lines) {
    const std::string longTitle(200, 't');
    Bytes frames;
    Append(frames, test::Id3v24Frame("TIT2", Text(3, Chars(longTitle))));
    Append(frames, test::Id3v24Frame("TPE1", Text(0, Bytes{'C', 'a', 'f', 0xE9})));
    // UTF-16 with a byte-order mark before each value.
    Append(frames, test::Id3v24Frame(
                       "TCOM", Text(1, Bytes{0xFF, 0xFE, 'A', 0, 0, 0, 0xFE, 0xFF, 0, 'B', 0, 0})));
    Append(frames, test::Id3v24Frame("TALB", Text(2, Bytes{0x30, 0x42, 0, 'x'})));
    Append(frames, test::Id3v24Frame("TCON", Text(3, Chars(std::string("Rock\0Pop\0", 9)))));
    Append(frames, test::Id3v24Frame("COMM", Text(3, Chars(std::string("engdesc\0Fine", 12)))));
    Append(frames, test::Id3v24Frame("WOAR", Chars("http://a.example/")));
    frames.resize(frames.size() + 30, 0);
    const Bytes tag = test::Id3v2Tag(frames, 4);
    const Scanned scanned = Scan(tag);
    ASSERT_TRUE(scanned.read);
    EXPECT_EQ(scanned.lines, TMP3InfoValues({"TIT2=" + longTitle, "TPE1=Caf\xC3\xA9", "TCOM=A / B",
                                             "TALB=\xE3\x81\x82x", "TCON=Rock / Pop", "COMM=Fine",
                                             "WOAR=http://a.example/"}));
    EXPECT_EQ(scanned.audioStart, int32_t(tag.size()));
}

// Unsynchronisation (of one frame, or of all by the tag's flag), the data-length indicator, a
// group byte, the extended header and the footer; compressed frames are passed over.
TEST(Id3v24, FrameFlagsExtendedHeaderAndFooter) {
    const Bytes unsynchronised{0, 'A', 0xFF, 0x00, 0xE0, 'B'}; // 0xFF 0xE0 kept apart by a zero
    Bytes frames;
    Bytes withLength{0, 0, 0, 4};
    Append(withLength, unsynchronised);
    Append(frames, test::Id3v24Frame("TIT2", withLength, 0x02 | 0x01));
    Bytes grouped{7};
    Append(grouped, Text(0, Chars("Grouped")));
    Append(frames, test::Id3v24Frame("TPE1", grouped, 0x40));
    Append(frames, test::Id3v24Frame("TALB", Text(0, Chars("zipped")), 0x08 | 0x01));
    Append(frames, test::Id3v24Frame("TRCK", Text(0, Chars("4"))));
    Bytes content{0, 0, 0, 6, 1, 0}; // an extended header of 6 bytes, its size field included
    Append(content, frames);
    Bytes tag = test::Id3v2Tag(content, 4, 0x40 | 0x10);
    Append(tag, Bytes{'3', 'D', 'I', 4, 0, 0x50, tag[6], tag[7], tag[8], tag[9]});
    const Scanned scanned = Scan(tag);
    ASSERT_TRUE(scanned.read);
    EXPECT_EQ(scanned.lines, TMP3InfoValues({"TIT2=A\xC3\xBF\xC3\xA0"
                                             "B",
                                             "TPE1=Grouped", "TRCK=4"}));
    EXPECT_EQ(scanned.audioStart, int32_t(tag.size())) << "behind the footer";

    // The tag's flag alone unsynchronises every frame.
    Bytes allFrames = test::Id3v24Frame("TIT2", unsynchronised);
    const Scanned whole = Scan(test::Id3v2Tag(allFrames, 4, 0x80));
    EXPECT_EQ(whole.lines, TMP3InfoValues({"TIT2=A\xC3\xBF\xC3\xA0"
                                           "B"}));
}

// Version 2.3 with the whole tag unsynchronised: frame headers and sizes count the bytes as
// they were before the zeros went in.
TEST(Id3v23, UnsynchronisedTagIsReadAfterResynchronising) {
    Bytes frames = test::Latin1TextFrame("TIT2", "x\xFF\xE1y");
    Append(frames, test::Id3v2Frame("TPE1", Bytes{0, 'M', 0xFF}));
    Append(frames, test::Latin1TextFrame("TALB", "After"));
    Bytes stored;
    for (size_t i = 0; i < frames.size(); ++i) {
        stored.push_back(frames[i]);
        if (frames[i] == 0xFF) stored.push_back(0);
    }
    const Bytes tag = test::Id3v2Tag(stored, 3, 0x80);
    const Scanned scanned = Scan(tag);
    ASSERT_TRUE(scanned.read);
    EXPECT_EQ(scanned.lines,
              TMP3InfoValues({"TIT2=x\xC3\xBF\xC3\xA1y", "TPE1=M\xC3\xBF", "TALB=After"}));
    EXPECT_EQ(scanned.audioStart, int32_t(tag.size()));
}

TEST(Id3v22, ThreeLetterFramesGetTheFourLetterNames) {
    Bytes frames;
    Append(frames, test::Id3v22Frame("TT2", Text(0, Chars("Old Title"))));
    Append(frames, test::Id3v22Frame("TP1", Text(1, Bytes{0xFF, 0xFE, 'O', 0, 'k', 0})));
    Append(frames, test::Id3v22Frame("TAL", Text(0, Chars("Old Album"))));
    Append(frames, test::Id3v22Frame("COM", Text(0, Chars(std::string("eng\0Said", 8)))));
    Append(frames, test::Id3v22Frame("XYZ", Text(0, Chars("own"))));
    frames.resize(frames.size() + 12, 0);
    const Scanned scanned = Scan(test::Id3v2Tag(frames, 2));
    ASSERT_TRUE(scanned.read);
    EXPECT_EQ(scanned.lines, TMP3InfoValues({"TIT2=Old Title", "TPE1=Ok", "TALB=Old Album",
                                             "COMM=Said", "XYZ=own"}));
}

// Damaged tags of every version: the tag is passed by the size its header declares, and nothing
// is read outside the bytes there are.
TEST(Id3v2Damage, SizesBeyondTheTagOrTheFileEndItsFramesNotTheTag) {
    struct Case {
        const char* name;
        Bytes tag;
    };
    Bytes v24TooLong = test::Id3v24Frame("TIT2", Text(0, Chars("abc")));
    v24TooLong[7] = 0x7F; // the frame claims more than the tag holds
    Bytes v22TooLong = test::Id3v22Frame("TT2", Text(0, Chars("abc")));
    v22TooLong[3] = 0x10;
    Bytes cut = test::Id3v2Frame("TIT2", Text(0, Chars("abcdef")));
    Bytes cutUnsynchronised(cut.begin(), cut.end() - 3);
    const Case cases[] = {
        {"2.4 frame beyond its tag", test::Id3v2Tag(v24TooLong, 4)},
        {"2.2 frame beyond its tag", test::Id3v2Tag(v22TooLong, 2)},
        {"2.3 unsynchronised frame cut by the tag's end",
         test::Id3v2Tag(cutUnsynchronised, 3, 0x80)},
        {"2.4 extended header larger than the tag",
         test::Id3v2Tag(Bytes{0, 0, 0x7F, 0x7F}, 4, 0x40)},
        {"2.4 extended header smaller than its own size field",
         test::Id3v2Tag(Bytes{0, 0, 0, 2, 0, 0, 0, 0, 0, 0}, 4, 0x40)},
    };
    for (const Case& c : cases) {
        const Scanned scanned = Scan(c.tag);
        EXPECT_TRUE(scanned.read) << c.name;
        EXPECT_EQ(scanned.audioStart, int32_t(c.tag.size())) << c.name;
    }
    // A tag whose size runs past the end of the file.
    Bytes huge = test::Id3v2Tag(test::Id3v24Frame("TIT2", Text(0, Chars("x"))), 4);
    huge[6] = 0x7F;
    TMPMemoryStream stream(huge);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    TMP3Info info;
    info.AttachReader(&reader);
    EXPECT_FALSE(info.ReadHeadTags());
}

Bytes Joined(Bytes first, const Bytes& second) {
    Append(first, second);
    return first;
}

// What taggers in real libraries write against the letter of the format, and the lines read.
TEST(Id3v2Quirks, TaggersSlipsKeepTheFramesAroundThem) {
    struct Case {
        const char* name;
        Bytes tag;
        TMP3InfoValues lines;
    };
    const std::string itunesTitle("TT2\0", 4);
    const std::string itunesArtist("TP1\0", 4);
    const Case cases[] = {
        {"a frame of size 0",
         test::Id3v2Tag(Joined(test::Id3v2Frame("TCOM", {}), test::Latin1TextFrame("TIT2", "A"))),
         {"TIT2=A"}},
        {"2.4 flagging an extended header it lacks",
         test::Id3v2Tag(test::Id3v24Frame("TIT2", Text(3, Chars("Kept"))), 4, 0x40),
         {"TIT2=Kept"}},
        {"2.3 flagging an extended header it lacks",
         test::Id3v2Tag(test::Latin1TextFrame("TIT2", "Kept"), 3, 0x40),
         {"TIT2=Kept"}},
        {"2.2 names in a 2.3 tag",
         test::Id3v2Tag(Joined(test::Latin1TextFrame(itunesTitle, "iTunes"),
                               test::Latin1TextFrame(itunesArtist, "Artist"))),
         {"TIT2=iTunes", "TPE1=Artist"}},
        {"ISO-8859-1 text in 2.3",
         test::Id3v2Tag(test::Latin1TextFrame("TIT2", "Bj\xF6rk")),
         {"TIT2=Bj\xC3\xB6rk"}},
    };
    for (const Case& c : cases) {
        const Scanned scanned = Scan(c.tag);
        EXPECT_TRUE(scanned.read) << c.name;
        EXPECT_EQ(scanned.lines, c.lines) << c.name;
        EXPECT_EQ(scanned.audioStart, int32_t(c.tag.size())) << c.name;
    }
}

TEST(Id3v2Resynchronise, EveryZeroAfter0xFFGoes) {
    Bytes bytes{0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xE0, 0x00};
    Resynchronise(bytes);
    EXPECT_EQ(bytes, Bytes({0xFF, 0x00, 0xFF, 0xFF, 0xE0, 0x00}));
}

} // namespace
} // namespace pelbrisk
