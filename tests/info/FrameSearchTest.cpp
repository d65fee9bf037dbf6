#include "info/StreamProbe.h"
#include "stream/Stream.h"
#include "tests/info/TagBytes.h"

#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

using test::Append;
using test::Bytes;

Bytes Then(Bytes first, const Bytes& second) {
    Append(first, second);
    return first;
}

Bytes TitleTag(const std::string& title, size_t padding = 0) {
    Bytes frames = test::Latin1TextFrame("TIT2", title);
    frames.resize(frames.size() + padding, 0);
    return test::Id3v2Tag(frames);
}

// MPEG-1 Layer III frames at 48 kHz: 384 bytes each.
Bytes Frames48k(int count) {
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        Append(bytes, Bytes{0xFF, 0xFB, 0x94, 0x64});
        bytes.resize(bytes.size() + 380, 0x55);
    }
    return bytes;
}

struct SearchCase {
    const char* Name;
    Bytes File;
    int32_t FirstFrame; // -1: no MPEG audio
    int32_t SampleRate;
};

// What lies in front of the first frame in real libraries, and what the one search makes of it.
const SearchCase kSearchCases[] = {
    {"0xFF bytes", Then({0xFF, 0xFF, 0xFF, 0xFF}, test::Mpeg1Frames(3)), 4, 44100},
    {"a byte-order mark", Then({0xFF, 0xFE, 'A', 0}, test::Mpeg1Frames(3)), 4, 44100},
    {"a cover picture's markers",
     Then({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0}, test::Mpeg1Frames(3)), 11,
     44100},
    {"a header the frame behind it does not confirm",
     Then(Then({0xFF, 0xFB, 0x90, 0x64}, Bytes(100, 0)), Frames48k(3)), 104, 48000},
    {"a stream of one frame", test::Mpeg1Frames(1), 0, 44100},
    {"one frame and stray bytes", Then(test::Mpeg1Frames(1), Bytes(3, 0)), -1, 0},
    {"two ID3v2 tags", Then(Then(TitleTag("One"), TitleTag("Two")), test::Mpeg1Frames(2)), 48,
     44100},
    {"a tag padded by 5 bytes", Then(TitleTag("One", 5), test::Mpeg1Frames(2)), 29, 44100},
    {"4000 bytes past a large tag",
     Then(Then(TitleTag("Art", 9000), Bytes(4000, 0)), test::Mpeg1Frames(2)), 9024 + 4000, 44100},
    {"5000 bytes of junk", Then(Bytes(5000, 0), test::Mpeg1Frames(2)), -1, 0},
};

TEST(FirstFrameSearch, PassesJunkAndTagsAndTakesOnlyAConfirmedHeader) {
    for (const SearchCase& c : kSearchCases) {
        SCOPED_TRACE(c.Name);
        TMPMemoryStream stream(c.File);
        TMPStreamReader reader(65536);
        reader.Attach(&stream, true);
        TMP3Info info;
        TMP3StreamProbe probe;
        ASSERT_EQ(ProbeStream(reader, info, probe, false), c.FirstFrame >= 0);
        if (c.FirstFrame < 0) continue;
        EXPECT_EQ(probe.FirstFrameOffset, c.FirstFrame);
        EXPECT_EQ(probe.Format.SampleRate, c.SampleRate);
        EXPECT_EQ(probe.Values.DataLength, int32_t(c.File.size()) - c.FirstFrame);
    }
}

TEST(FrameWalk, PassesAnId3v2TagBetweenFramesWhole) {
    // A tag larger than the resync limit, holding frame headers of the stream: files joined
    // together carry their tags into the middle of the audio.
    Bytes picture;
    for (int i = 0; i < 20; ++i)
        Append(picture, test::Mpeg1Frames(1));
    const Bytes file =
        Then(Then(test::Mpeg1Frames(3), test::Id3v2Tag(picture)), test::Mpeg1Frames(2));
    TMPMemoryStream stream(file);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    TMP3Info info;
    TMP3StreamProbe probe;
    ASSERT_TRUE(ProbeStream(reader, info, probe, true));
    EXPECT_EQ(probe.WalkedFrames, 5);
}

} // namespace
} // namespace pelbrisk
