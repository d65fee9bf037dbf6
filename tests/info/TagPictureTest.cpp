#include "info/MP3Info.h"
#include "stream/Stream.h"
#include "tests/info/TagBytes.h"

#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

using test::Append;
using test::Bytes;

// A JPEG's first bytes and then `size` bytes in all, numbered so that two pictures differ.
Bytes Jpeg(size_t size, uint8_t mark) {
    Bytes bytes{0xFF, 0xD8, 0xFF, 0xE0, mark};
    bytes.resize(size, mark);
    return bytes;
}

// APIC's body: Latin-1, a MIME type, the picture type, a description, the picture.
Bytes ApicBody(uint8_t type, const Bytes& picture, uint8_t encoding = 0) {
    Bytes body{encoding};
    Append(body, std::string("image/jpeg"));
    body.push_back(0);
    body.push_back(type);
    if (encoding == 1)
        Append(body, Bytes{0xFF, 0xFE, 'd', 0, 0, 0});
    else
        Append(body, Bytes{'d', 0});
    Append(body, picture);
    return body;
}

// An APE tag with one binary cover item, and its footer.
Bytes ApeCover(const Bytes& picture) {
    Bytes value;
    Append(value, std::string("cover.jpg"));
    value.push_back(0);
    Append(value, picture);
    Bytes items;
    test::AppendLittleEndian(items, uint32_t(value.size()));
    test::AppendLittleEndian(items, 1u << 1); // binary
    Append(items, std::string("Cover Art (Front)"));
    items.push_back(0);
    Append(items, value);
    Bytes tag = items;
    Append(tag, std::string("APETAGEX"));
    test::AppendLittleEndian(tag, 2000);
    test::AppendLittleEndian(tag, uint32_t(items.size() + 32));
    test::AppendLittleEndian(tag, 1);
    test::AppendLittleEndian(tag, 0);
    tag.resize(tag.size() + 8, 0);
    return tag;
}

TEST(TagPicture, TheFrontCoverOfEachTagKindAndNothingDamaged) {
    const Bytes small = Jpeg(300, 1);
    const Bytes other = Jpeg(300, 2);
    const Bytes large = Jpeg(200000, 3); // beyond what the reader holds at once
    Bytes pic22{0};
    Append(pic22, std::string("JPG"));
    Append(pic22, Bytes{3, 0});
    Append(pic22, small);
    Bytes cutShort = test::Id3v2Frame("APIC", ApicBody(3, small));
    cutShort.resize(cutShort.size() - 100); // the frame runs past the tag's end
    struct Case {
        const char* name;
        Bytes head; // the tag before the frames
        Bytes tail; // behind them
        Bytes expected;
    };
    const Case cases[] = {
        {"a front cover after another picture",
         test::Id3v2Tag([&] {
             Bytes frames = test::Id3v2Frame("APIC", ApicBody(0, other));
             Append(frames, test::Id3v2Frame("APIC", ApicBody(3, small)));
             return frames;
         }()),
         {}, small},
        {"the first picture without a front cover",
         test::Id3v2Tag(test::Id3v2Frame("APIC", ApicBody(4, other))), {}, other},
        {"version 2.2's PIC", test::Id3v2Tag(test::Id3v22Frame("PIC", pic22), 2), {}, small},
        {"version 2.4 with a UTF-16 description",
         test::Id3v2Tag(test::Id3v24Frame("APIC", ApicBody(3, small, 1)), 4), {}, small},
        {"a picture larger than the reader",
         test::Id3v2Tag(test::Id3v2Frame("APIC", ApicBody(3, large))), {}, large},
        {"no JPEG or PNG", test::Id3v2Tag(test::Id3v2Frame("APIC", ApicBody(3, Bytes(50, 'x')))),
         {}, {}},
        {"a frame cut short", test::Id3v2Tag(cutShort), {}, {}},
        {"APE's cover", {}, ApeCover(other), other},
        {"ID3v2's before APE's", test::Id3v2Tag(test::Id3v2Frame("APIC", ApicBody(3, small))),
         ApeCover(other), small},
    };
    for (const Case& c : cases) {
        Bytes file = c.head;
        Append(file, test::Mpeg1Frames(4));
        Append(file, c.tail);
        TMPMemoryStream stream(file);
        TMPStreamReader reader(65536);
        reader.Attach(&stream, true);
        TMP3Info info;
        info.SetWantPicture(true);
        info.AttachReader(&reader);
        TFirstFrame first;
        EXPECT_TRUE(info.LocateAudio(first)) << c.name;
        EXPECT_EQ(info.Picture().Data, c.expected) << c.name;
        EXPECT_EQ(info.Picture().MimeType, c.expected.empty() ? "" : "image/jpeg") << c.name;
        EXPECT_EQ(info.AudioStart(), int32_t(c.head.size())) << c.name;
    }
}

} // namespace
} // namespace pelbrisk
