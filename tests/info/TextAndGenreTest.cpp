#include "info/Genres.h"
#include "info/TextConversion.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pelbrisk {
namespace {

std::string Convert(const std::vector<uint8_t>& bytes) {
    return Utf16ToUtf8(bytes.data(), bytes.size() / 2);
}

TEST(Utf16ToUtf8, ByteOrderMarkChoosesTheOrderAndIsDropped) {
    EXPECT_EQ(Convert({'A', 0, 0xE9, 0, 0x42, 0x30}), "A\xC3\xA9\xE3\x81\x82");
    EXPECT_EQ(Convert({0xFF, 0xFE, 'A', 0, 0xE9, 0}), "A\xC3\xA9");
    EXPECT_EQ(Convert({0xFE, 0xFF, 0, 'A', 0x30, 0x42}), "A\xE3\x81\x82");
    EXPECT_EQ(Convert({0xFF, 0xFE}), "");
    EXPECT_EQ(Convert({}), "");
}

TEST(Utf16ToUtf8, SurrogatePairsJoinAndUnpairedOnesBecomeReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(Convert({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80"); // U+1F600
    EXPECT_EQ(Convert({0xFF, 0xDB, 0xFF, 0xDF}), "\xF4\x8F\xBF\xBF"); // U+10FFFF
    EXPECT_EQ(Convert({0x3D, 0xD8, 'x', 0}), replacement + "x");      // high, then no low
    EXPECT_EQ(Convert({0x00, 0xDE, 'x', 0}), replacement + "x");      // lone low
    EXPECT_EQ(Convert({'x', 0, 0x3D, 0xD8}), "x" + replacement);      // high at the end
    EXPECT_EQ(Convert({0x3D, 0xD8, 0x3D, 0xD8, 0x00, 0xDE}), replacement + "\xF0\x9F\x98\x80");
}

TEST(Utf16ToUtf8, AZeroUnitEndsTheText) {
    EXPECT_EQ(Convert({'a', 0, 'b', 0, 0, 0, 'c', 0}), "ab");
}

// Tag text that declares no encoding: ISO-8859-1 by default, the code page set otherwise, and
// valid UTF-8 as it stands whatever is set.
TEST(TagText, ReadInTheTagCodePageUnlessItIsUtf8) {
    struct Case {
        const char* codePage;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"", "Bj\xF6rk Caf\xE9", "Bj\xC3\xB6rk Caf\xC3\xA9"},
        {"", "Caf\xC3\xA9", "Caf\xC3\xA9"},
        {"", "\x93\xFA\x96\x7B", "\xC2\x93\xC3\xBA\xC2\x96{"},
        {"Shift_JIS", "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"Shift_JIS", "Caf\xC3\xA9", "Caf\xC3\xA9"},
        {"Shift_JIS", "\x93", "\xEF\xBF\xBD"}, // a lead byte with nothing behind it
        {"GBK", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"windows-1251", "\xCC\xF3\xE7", "\xD0\x9C\xD1\x83\xD0\xB7"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetTagCodePage(c.codePage)) << c.codePage;
        EXPECT_EQ(TagTextToUtf8(c.bytes), c.text) << c.codePage << ": " << c.bytes;
    }
    EXPECT_FALSE(SetTagCodePage("no such code page"));
    EXPECT_EQ(TagCodePage(), "windows-1251") << "an unknown name leaves the setting";
    SetTagCodePage("");
}

TEST(Genres, FullTableWithItsGapAndTheJapaneseNames) {
    EXPECT_STREQ(GenreName(0), "Blues");
    EXPECT_STREQ(GenreName(17), "Rock");
    EXPECT_STREQ(GenreName(67), "Psychadelic");
    EXPECT_STREQ(GenreName(79), "Hard Rock");
    EXPECT_STREQ(GenreName(125), "Dance-Hall");
    EXPECT_STREQ(GenreName(136), "Christian Gangsta Rap");
    EXPECT_STREQ(GenreName(147), "Synthpop");
    for (int index = 148; index <= 247; ++index)
        EXPECT_STREQ(GenreName(uint8_t(index)), "") << index;
    EXPECT_STREQ(GenreName(248), "Heavy Rock(J)");
    EXPECT_STREQ(GenreName(252), "Tecno Ambient(J)");
    EXPECT_STREQ(GenreName(255), "Anime(J)");
    int named = 0;
    for (int index = 0; index < 256; ++index)
        named += GenreName(uint8_t(index))[0] != 0;
    EXPECT_EQ(named, 156);
}

} // namespace
} // namespace pelbrisk
