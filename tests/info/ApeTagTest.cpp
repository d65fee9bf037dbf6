#include "info/MP3Info.h"
#include "stream/Stream.h"
#include "tests/info/TagBytes.h"

#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

using test::Append;
using test::Bytes;

Bytes ApeItem(const std::string& key, const std::string& value, uint32_t flags = 0) {
    Bytes item;
    test::AppendLittleEndian(item, uint32_t(value.size()));
    test::AppendLittleEndian(item, flags);
    Append(item, key);
    item.push_back(0);
    Append(item, value);
    return item;
}

Bytes ApeHeaderOrFooter(uint32_t version, uint32_t size, uint32_t count, uint32_t flags) {
    Bytes bytes;
    Append(bytes, std::string("APETAGEX"));
    test::AppendLittleEndian(bytes, version);
    test::AppendLittleEndian(bytes, size);
    test::AppendLittleEndian(bytes, count);
    test::AppendLittleEndian(bytes, flags);
    bytes.resize(bytes.size() + 8, 0);
    return bytes;
}

// A whole tag: header (when asked for), items, footer.
Bytes ApeTag(const Bytes& items, uint32_t count, bool header, uint32_t version = 2000) {
    const uint32_t size = uint32_t(items.size()) + 32;
    const uint32_t flags = header ? 0x80000000u : 0;
    Bytes tag;
    if (header) Append(tag, ApeHeaderOrFooter(version, size, count, flags | 0x20000000u));
    Append(tag, items);
    Append(tag, ApeHeaderOrFooter(version, size, count, flags));
    return tag;
}

struct Loaded {
    TMP3Info info;
    bool read = false;
};

void Load(const Bytes& file, Loaded& loaded) {
    TMPMemoryStream stream(file);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    loaded.info.AttachReader(&reader);
    loaded.read =
        loaded.info.ReadHeadTags() && loaded.info.FindFirstFrame() && loaded.info.ReadTailTags();
    loaded.info.AttachReader(nullptr);
}

Bytes NamedItems() {
    Bytes items = ApeItem("Title", "Ape Title");
    Append(items, ApeItem("ARTIST", std::string("One\0Two", 7)));
    Append(items, ApeItem("Cover Art (Front)", std::string("\xFF\xD8 jpeg", 7), 1u << 1));
    Append(items, ApeItem("Album", "Al"));
    return items;
}

// Where the tag may sit at the end, with or without its header: its items are read, binary ones
// passed over, and the audio data ends where the tag begins.
TEST(ApeTag, FoundLastOrBeforeId3v1OrLyrics3) {
    const Bytes audio = test::Mpeg1Frames(3);
    Bytes lyrics;
    Append(lyrics, std::string("LYRICSBEGININD00002") + "10");
    Append(lyrics, std::string("000021LYRICS200"));
    struct Case {
        const char* name;
        Bytes tail;
        TMP3InfoType found;
    };
    const Bytes withHeader = ApeTag(NamedItems(), 4, true);
    const Bytes version1 = ApeTag(NamedItems(), 4, false, 1000);
    Bytes beforeId3v1 = withHeader;
    Append(beforeId3v1, test::Id3v1Tag("Short", "", "", 0));
    Bytes beforeLyrics = version1;
    Append(beforeLyrics, lyrics);
    Append(beforeLyrics, test::Id3v1Tag("", "", "", 0));
    const Case cases[] = {
        {"last, with header", withHeader, mitApe},
        {"last, version 1 without header", version1, mitApe},
        {"before ID3v1", beforeId3v1, mitApe | mitID3V1},
        {"before Lyrics3 and ID3v1", beforeLyrics, mitApe | mitID3V1 | mitLyrics},
    };
    for (const Case& c : cases) {
        Bytes file = audio;
        Append(file, c.tail);
        Loaded loaded;
        Load(file, loaded);
        ASSERT_TRUE(loaded.read) << c.name;
        const TMP3Info& info = loaded.info;
        EXPECT_EQ(info.FoundTypes(), c.found) << c.name;
        EXPECT_EQ(info.ApeValues(),
                  TMP3InfoValues({"Title=Ape Title", "ARTIST=One / Two", "Album=Al"}))
            << c.name;
        EXPECT_EQ(info.ApeStart(), int32_t(audio.size())) << c.name;
        EXPECT_EQ(info.AudioLength(), int32_t(audio.size())) << c.name;
        // Considered last: longer values win, a tie goes to the kinds before it.
        EXPECT_EQ(info.Title(), "Ape Title") << c.name;
        EXPECT_EQ(info.Artist(), "One / Two") << c.name;
        EXPECT_EQ(info.Album(), "Al") << c.name;
    }
}

TEST(ApeTag, TiesGoToTheOtherKindsAndNeedInfoTypeLeavesItOut) {
    Bytes file = test::Mpeg1Frames(2);
    Append(file, ApeTag(ApeItem("Title", "Equal"), 1, true));
    Append(file, test::Id3v1Tag("Same!", "", "", 0));
    Loaded loaded;
    Load(file, loaded);
    EXPECT_EQ(loaded.info.Title(), "Same!");
    loaded.info.SetNeedInfoType(mitApe);
    EXPECT_EQ(loaded.info.Title(), "Equal");
    loaded.info.SetNeedInfoType(mitID3V1 | mitID3V2 | mitRiff);
    EXPECT_EQ(loaded.info.Artist(), "");
}

// Damaged tags never read outside the file: a footer whose size or header does not fit is no
// tag; items stop at the first one that does not fit the tag, the lines before it stay.
TEST(ApeTag, DamagedSizesAndCountsAreBounded) {
    const Bytes audio = test::Mpeg1Frames(2);
    Bytes tooLarge = ApeTag(ApeItem("Title", "x"), 1, false);
    tooLarge[tooLarge.size() - 20] = 0x7F; // size low byte: more than the file holds
    tooLarge[tooLarge.size() - 19] = 0x7F;
    tooLarge[tooLarge.size() - 18] = 0x7F;
    Bytes lostHeader = ApeTag(ApeItem("Title", "x"), 1, true);
    lostHeader[0] = 'X';
    Bytes overlong = ApeItem("Title", "Kept");
    Append(overlong, ApeItem("Artist", "abc"));
    overlong[overlong.size() - 18] = 0x40; // Artist's value size: beyond the tag
    struct Case {
        const char* name;
        Bytes tail;
        bool found;
        TMP3InfoValues lines;
    };
    const Case cases[] = {
        {"size beyond the file", tooLarge, false, {}},
        {"header flag without a header", lostHeader, false, {}},
        {"count larger than the items",
         ApeTag(ApeItem("Title", "Only"), 1000000, false),
         true,
         {"Title=Only"}},
        {"value beyond the tag", ApeTag(overlong, 2, false), true, {"Title=Kept"}},
        {"key without its end",
         ApeTag(Bytes{1, 0, 0, 0, 0, 0, 0, 0, 'K', 'e', 'y'}, 1, false),
         true,
         {}},
    };
    for (const Case& c : cases) {
        Bytes file = audio;
        Append(file, c.tail);
        Loaded loaded;
        Load(file, loaded);
        EXPECT_EQ((loaded.info.FoundTypes() & mitApe) != 0, c.found) << c.name;
        EXPECT_EQ(loaded.info.ApeValues(), c.lines) << c.name;
        const int32_t expectedLength = c.found ? int32_t(audio.size()) : int32_t(file.size());
        EXPECT_EQ(loaded.info.AudioLength(), expectedLength) << c.name;
    }
}

} // namespace
} // namespace pelbrisk
