#include "info/MP3Info.h"

#include "stream/Errors.h"
#include "stream/Stream.h"
#include "tests/info/TagBytes.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

using test::Append;
using test::Bytes;

// The info object over bytes in memory, as the player lets it read.
class InfoOver {
public:
    explicit InfoOver(Bytes bytes, bool seekable = true, int32_t capacity = 65536)
        : stream(std::move(bytes)), reader(capacity) {
        reader.Attach(&stream, seekable);
        info.AttachReader(&reader);
    }
    TMPMemoryStream stream;
    TMPStreamReader reader;
    TMP3Info info;
};

TEST(InfoValue, FirstLineWithTheNameIgnoringAsciiCase) {
    const TMP3InfoValues lines{"TITLE=one", "title=two", "Tit2=x=y", "broken"};
    EXPECT_EQ(InfoValue(lines, "Title"), "one");
    EXPECT_EQ(InfoValue(lines, "TIT2"), "x=y");
    EXPECT_EQ(InfoValue(lines, "ARTIST"), "");
    EXPECT_EQ(InfoValue(lines, "broken"), "");
}

TEST(Id3v2, ReadsTextCommentAndUtf16FramesAndMovesAudioStartBehindTheTag) {
    Bytes frames;
    Append(frames, test::Latin1TextFrame("TIT2", "A Title  "));
    // UTF-16 with a byte-order mark: "Ärtist" and a character outside the basic plane.
    Append(frames, test::Id3v2Frame("TPE1", Bytes{1, 0xFF, 0xFE, 0xC4, 0x00, 'r', 0, 't', 0, 'i', 0,
                                                  's', 0, 't', 0, 0x3D, 0xD8, 0x00, 0xDE}));
    Bytes comment{0, 'e', 'n', 'g', 0};
    Append(comment, std::string("Nice"));
    Append(frames, test::Id3v2Frame("COMM", comment));
    Append(frames, test::Latin1TextFrame("TALB", "Album"));
    Bytes file = test::Id3v2Tag(frames);
    const int32_t tagBytes = int32_t(file.size());
    Append(file, test::Mpeg1Frames(3));

    InfoOver scan(file);
    EXPECT_TRUE(scan.info.ReadHeadTags());
    EXPECT_EQ(scan.info.FoundTypes(), mitID3V2);
    EXPECT_EQ(scan.info.AudioStart(), tagBytes);
    EXPECT_EQ(scan.info.AudioLength(), TMP3Info::kUnknownLength);
    EXPECT_EQ(scan.info.ID3v2Values(),
              TMP3InfoValues({"TIT2=A Title", "TPE1=\xC3\x84rtist\xF0\x9F\x98\x80", "COMM=Nice",
                              "TALB=Album"}));
    EXPECT_EQ(scan.reader.Position(), tagBytes);
    EXPECT_TRUE(scan.info.ReadTailTags());
    EXPECT_EQ(scan.info.AudioLength(), int32_t(file.size()) - tagBytes);
    EXPECT_EQ(scan.info.Title(), "A Title");
    EXPECT_EQ(scan.info.Artist(), "\xC3\x84rtist\xF0\x9F\x98\x80");
    EXPECT_EQ(scan.info.Album(), "Album");
}

TEST(Id3v2, Utf16CommentsSkipTheirDescription) {
    // Encoding 1, language "eng", description "d" with its byte-order mark, then the text.
    Bytes comment{1, 'e', 'n', 'g', 0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'O', 0, 'k', 0};
    Bytes empty{1, 'e', 'n', 'g', 0xFF, 0xFE, 0, 0};
    for (const auto& [body, line] :
         {std::pair<Bytes, std::string>{comment, "COMM=Ok"}, {empty, "COMM="}}) {
        Bytes file = test::Id3v2Tag(test::Id3v2Frame("COMM", body));
        Append(file, test::Mpeg1Frames(1));
        InfoOver scan(file);
        scan.info.ReadHeadTags();
        EXPECT_EQ(scan.info.ID3v2Values(), TMP3InfoValues({line}));
    }
}

TEST(Id3v2, UnknownVersionsAndCompressedVersion22TagsAreSkippedWhole) {
    for (const auto& [version, flags] : {std::pair<uint8_t, uint8_t>{5, 0}, {2, 0x40}}) {
        Bytes file = test::Id3v2Tag(test::Latin1TextFrame("TIT2", "Hidden"), version, flags);
        const int32_t tagBytes = int32_t(file.size());
        Append(file, test::Mpeg1Frames(2));
        InfoOver scan(file);
        EXPECT_TRUE(scan.info.ReadHeadTags());
        EXPECT_EQ(scan.info.FoundTypes(), mitID3V2) << int(version);
        EXPECT_EQ(scan.info.AudioStart(), tagBytes);
        EXPECT_TRUE(scan.info.ID3v2Values().empty());
    }
}

TEST(Id3v2, ExtendedHeaderAndPaddingAreStepped) {
    // Extended header: its size field says 6, so 10 bytes in all precede the first frame.
    Bytes content{0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
    Append(content, test::Latin1TextFrame("TIT2", "Behind"));
    content.resize(content.size() + 20, 0); // padding
    Bytes file = test::Id3v2Tag(content, 3, 0x40);
    const int32_t tagBytes = int32_t(file.size());
    Append(file, test::Mpeg1Frames(1));
    InfoOver scan(file);
    EXPECT_TRUE(scan.info.ReadHeadTags());
    EXPECT_EQ(scan.info.ID3v2Values(), TMP3InfoValues({"TIT2=Behind"}));
    EXPECT_EQ(scan.info.AudioStart(), tagBytes);

    // An extended header claiming more than the tag hides its frames; the tag is still passed.
    Bytes tooLarge{0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0};
    Bytes bad = test::Id3v2Tag(tooLarge, 3, 0x40);
    const int32_t badBytes = int32_t(bad.size());
    Append(bad, test::Mpeg1Frames(1));
    InfoOver badScan(bad);
    badScan.info.ReadHeadTags();
    EXPECT_EQ(badScan.info.FoundTypes(), mitID3V2);
    EXPECT_EQ(badScan.info.AudioStart(), badBytes);
}

// A tag ends where its header says: behind a padding of 1 to 9 bytes, which is too short for a
// frame header, and behind a frame that claims more than the tag holds, keeping the lines read.
TEST(Id3v2, DamagedOrShortPaddedTagsEndWhereTheirHeaderSays) {
    Bytes shortPadding = test::Latin1TextFrame("TIT2", "Kept");
    shortPadding.resize(shortPadding.size() + 5, 0);
    Bytes tooLong = test::Latin1TextFrame("TIT2", "Kept");
    Append(tooLong, test::Latin1TextFrame("TPE1", "Long"));
    tooLong[tooLong.size() - 8] = 200; // the second frame's size, far beyond the tag
    for (const Bytes& content : {shortPadding, tooLong}) {
        Bytes file = test::Id3v2Tag(content);
        const int32_t tagBytes = int32_t(file.size());
        Append(file, test::Mpeg1Frames(1));
        InfoOver scan(file);
        EXPECT_TRUE(scan.info.ReadHeadTags());
        EXPECT_EQ(scan.info.FoundTypes(), mitID3V2);
        EXPECT_EQ(scan.info.AudioStart(), tagBytes);
        EXPECT_EQ(scan.info.ID3v2Values(), TMP3InfoValues({"TIT2=Kept"}));
    }
}

TEST(Id3v2, ATagOfSizeZeroIsNoTag) {
    Bytes empty = test::Id3v2Tag({});
    Append(empty, test::Mpeg1Frames(1));
    InfoOver emptyScan(empty);
    EXPECT_TRUE(emptyScan.info.ReadHeadTags());
    EXPECT_EQ(emptyScan.info.FoundTypes(), 0);
    EXPECT_EQ(emptyScan.reader.Position(), 0);
}

TEST(Id3v2, FramesLargerThanTheReaderArePassedOverUnread) {
    Bytes content = test::Latin1TextFrame("APIC", std::string(300, 'p'));
    Append(content, test::Latin1TextFrame("TIT2", "After"));
    Bytes file = test::Id3v2Tag(content);
    const int32_t tagBytes = int32_t(file.size());
    Append(file, test::Mpeg1Frames(1));
    InfoOver scan(file, true, 256);
    EXPECT_TRUE(scan.info.ReadHeadTags());
    EXPECT_EQ(scan.info.ID3v2Values(), TMP3InfoValues({"TIT2=After"}));
    EXPECT_EQ(scan.info.AudioStart(), tagBytes);
}

TEST(Id3v2, TagAfterAWrapperShortensTheKnownAudioLength) {
    // MacBinary wrapper whose data fork holds an ID3v2 tag and two frames.
    Bytes fork = test::Id3v2Tag(test::Latin1TextFrame("TIT2", "Wrapped"));
    const int32_t tagBytes = int32_t(fork.size());
    Append(fork, test::Mpeg1Frames(2));
    Bytes header(128, 0);
    header[1] = 5;
    Bytes length;
    test::AppendBigEndian(length, uint32_t(fork.size()));
    std::copy(length.begin(), length.end(), header.begin() + 83);
    Bytes file = header;
    Append(file, fork);
    InfoOver scan(file);
    EXPECT_TRUE(scan.info.ReadHeadTags());
    EXPECT_EQ(scan.info.FoundTypes(), mitMacBin | mitID3V2);
    EXPECT_EQ(scan.info.AudioStart(), 128 + tagBytes);
    EXPECT_EQ(scan.info.AudioLength(), int32_t(fork.size()) - tagBytes);
}

TEST(Id3v1, ReadsEveryFieldTrackAndGenre) {
    Bytes file = test::Mpeg1Frames(2);
    const int32_t tagAt = int32_t(file.size());
    Bytes tag = test::Id3v1Tag("Song", "Artist", "Album", 255, 0, 7);
    std::fill(tag.begin() + 3 + 5, tag.begin() + 33, ' '); // "Song", a zero, then spaces
    Append(file, tag);
    InfoOver scan(file);
    EXPECT_TRUE(scan.info.ReadHeadTags());
    EXPECT_TRUE(scan.info.ReadTailTags());
    EXPECT_EQ(scan.info.FoundTypes(), mitID3V1);
    EXPECT_EQ(scan.info.ID3v1Position(), tagAt);
    EXPECT_EQ(scan.info.ID3v1Values(),
              TMP3InfoValues({"TITLE=Song", "ARTIST=Artist", "ALBUM=Album", "YEAR=2004",
                              "COMMENT=a comment", "GENRE=Anime(J)", "GENREIDX=255", "TRACK=7"}));
    EXPECT_EQ(scan.info.AudioLength(), int32_t(file.size())) << "tail tags stay inside";
}

TEST(Id3v1, TrackLineOnlyWhenByte125IsZero) {
    struct Case {
        uint8_t byte125, track, genre;
        const char* trackLine;
        const char* genreLine;
    };
    for (const Case c :
         {Case{1, 7, 200, nullptr, "GENRE="}, Case{0, 0, 0, "TRACK=0", "GENRE=Blues"},
          Case{0, 12, 147, "TRACK=12", "GENRE=Synthpop"}}) {
        Bytes file = test::Mpeg1Frames(1);
        Append(file, test::Id3v1Tag("Song    ", "", "", c.genre, c.byte125, c.track));
        InfoOver scan(file);
        scan.info.ReadHeadTags();
        scan.info.ReadTailTags();
        const auto& lines = scan.info.ID3v1Values();
        EXPECT_EQ(lines.at(0), "TITLE=Song");
        EXPECT_EQ(lines.at(5), c.genreLine);
        if (c.trackLine == nullptr)
            EXPECT_EQ(lines.size(), 7u);
        else
            EXPECT_EQ(lines.back(), c.trackLine);
    }
}

Bytes Lyrics3v2(const std::vector<std::pair<std::string, std::string>>& fields) {
    Bytes body;
    Append(body, std::string("LYRICSBEGIN"));
    for (const auto& [id, value] : fields) {
        char length[6];
        std::snprintf(length, sizeof length, "%05zu", value.size());
        Append(body, id + length + value);
    }
    char size[7];
    std::snprintf(size, sizeof size, "%06zu", body.size());
    Append(body, std::string(size) + "LYRICS200");
    return body;
}

TEST(Lyrics3, VersionTwoBeforeAnId3v1TagYieldsOneLinePerField) {
    Bytes file = test::Mpeg1Frames(2);
    const int32_t lyricsAt = int32_t(file.size());
    Append(file, Lyrics3v2({{"IND", "10"}, {"LYR", "[00:01]la la \n"}, {"ETT", "Title"}}));
    Append(file, test::Id3v1Tag("T", "A", "B", 1));
    InfoOver scan(file);
    scan.info.ReadHeadTags();
    EXPECT_TRUE(scan.info.ReadTailTags());
    EXPECT_EQ(scan.info.FoundTypes(), mitID3V1 | mitLyrics);
    EXPECT_EQ(scan.info.LyricsStart(), lyricsAt);
    EXPECT_EQ(scan.info.LyricsValues(),
              TMP3InfoValues({"IND=10", "LYR=[00:01]la la \n", "ETT=Title"}));

    // Without an ID3v1 tag the marker is looked for at the file's end.
    Bytes bare = test::Mpeg1Frames(1);
    Append(bare, Lyrics3v2({{"LYR", "x"}}));
    InfoOver bareScan(bare);
    bareScan.info.ReadHeadTags();
    bareScan.info.ReadTailTags();
    EXPECT_EQ(bareScan.info.FoundTypes(), mitLyrics);
    EXPECT_EQ(bareScan.info.LyricsValues(), TMP3InfoValues({"LYR=x"}));
}

TEST(Lyrics3, DamagedVersionTwoTagsAreNotRead) {
    // A field running past the size field; a size that is no number; a size beyond the file.
    Bytes overrun = Lyrics3v2({{"LYR", "abc"}, {"ETT", "def"}});
    overrun[11 + 3 + 8 + 4] = '9'; // ETT claims 90003 bytes
    Bytes notNumber = Lyrics3v2({{"LYR", "abc"}});
    notNumber[notNumber.size() - 12] = 'x';
    Bytes tooLong = Lyrics3v2({{"LYR", "abc"}});
    tooLong[tooLong.size() - 15] = '9';
    for (const Bytes& lyrics : {overrun, notNumber, tooLong}) {
        Bytes file = test::Mpeg1Frames(1);
        Append(file, lyrics);
        InfoOver scan(file);
        scan.info.ReadHeadTags();
        EXPECT_TRUE(scan.info.ReadTailTags());
        EXPECT_EQ(scan.info.FoundTypes() & mitLyrics, 0);
    }
}

TEST(Lyrics3, VersionOneTakesTheTextAfterLyricsBegin) {
    Bytes file = test::Mpeg1Frames(2);
    const int32_t lyricsAt = int32_t(file.size());
    Append(file, std::string("LYRICSBEGINfirst line\r\nsecond lineLYRICSEND"));
    Append(file, test::Id3v1Tag("T", "A", "B", 1));
    InfoOver scan(file);
    scan.info.ReadHeadTags();
    scan.info.ReadTailTags();
    EXPECT_EQ(scan.info.FoundTypes(), mitID3V1 | mitLyrics);
    EXPECT_EQ(scan.info.LyricsValues(), TMP3InfoValues({"LYRICS=first line\r\nsecond line"}));
    EXPECT_EQ(scan.info.LyricsStart(), lyricsAt);
}

TEST(MacBinary, DataForkBoundsTheAudioAndTheTailTags) {
    Bytes fork = test::Mpeg1Frames(3);
    Append(fork, test::Id3v1Tag("Inside", "", "", 2));
    Bytes header(128, 0);
    header[1] = 9;
    Bytes lengths;
    test::AppendBigEndian(lengths, uint32_t(fork.size()));
    test::AppendBigEndian(lengths, 300);
    std::copy(lengths.begin(), lengths.end(), header.begin() + 83);
    Bytes file = header;
    Append(file, fork);
    file.resize(file.size() + 300, 0x77); // the resource fork
    InfoOver scan(file);
    EXPECT_TRUE(scan.info.ReadHeadTags());
    EXPECT_EQ(scan.info.MacDataStart(), 128);
    EXPECT_EQ(scan.info.MacDataLength(), int32_t(fork.size()));
    EXPECT_EQ(scan.info.MacDataEnd(), 128 + int32_t(fork.size()));
    EXPECT_EQ(scan.info.MacResourceLength(), 300);
    EXPECT_EQ(scan.info.AudioStart(), 128);
    EXPECT_TRUE(scan.info.ReadTailTags());
    EXPECT_EQ(scan.info.FoundTypes(), mitMacBin | mitID3V1);
    EXPECT_EQ(scan.info.ID3v1Position(), 128 + int32_t(fork.size()) - 128);
    EXPECT_EQ(scan.info.Title(), "Inside");
    EXPECT_EQ(scan.info.AudioLength(), int32_t(fork.size()));
}

TEST(MacBinary, HeadersThatDoNotQualifyConsumeNothing) {
    Bytes header(128, 0);
    header[1] = 9;
    for (auto [at, value] : {std::pair<int, uint8_t>{0, 1},
                             {74, 1},
                             {82, 1},
                             {1, 0},
                             {1, 32},
                             {83, 0x80},
                             {87, 0x80}}) {
        Bytes file = header;
        file[at] = value;
        Append(file, test::Mpeg1Frames(1));
        InfoOver scan(file);
        EXPECT_TRUE(scan.info.ReadHeadTags());
        EXPECT_EQ(scan.info.FoundTypes(), 0) << at;
        EXPECT_EQ(scan.reader.Position(), 0);
    }
    // A data fork whose end would not be a 32-bit offset.
    Bytes file = header;
    file[83] = 0x7F;
    file[84] = file[85] = file[86] = 0xFF;
    Append(file, test::Mpeg1Frames(1));
    InfoOver scan(file);
    scan.info.ReadHeadTags();
    EXPECT_EQ(scan.info.FoundTypes(), 0);
}

Bytes RiffChunk(const std::string& name, const Bytes& body) {
    Bytes chunk;
    Append(chunk, name);
    test::AppendLittleEndian(chunk, uint32_t(body.size()));
    Append(chunk, body);
    if (body.size() % 2 == 1) chunk.push_back(0);
    return chunk;
}

TEST(Riff, DataChunkGivesTheAudioRangeAndTheInfoListItsLines) {
    Bytes format(16, 1);
    Bytes data = test::Mpeg1Frames(2);
    data.resize(1000, 0);
    Bytes info;
    Append(info, std::string("INFO"));
    Append(info, RiffChunk("INAM", Bytes{'R', 'i', 'f', 'f', ' ', 'T', 'i', 't', 'l', 'e', 0}));
    Append(info, RiffChunk("IART", Bytes{'S', 'o', 'm', 'e', 'o', 'n', 'e'}));
    Append(info, RiffChunk("ICMT", Bytes{0, 0}));
    Append(info, RiffChunk("IPRD", Bytes{'R', 'e', 'c', 'o', 'r', 'd'}));
    Bytes body;
    Append(body, std::string("WAVE"));
    Append(body, RiffChunk("fmt ", format));
    Append(body, RiffChunk("data", data));
    Append(body, RiffChunk("LIST", info));
    Bytes file = RiffChunk("RIFF", body);

    InfoOver scan(file);
    EXPECT_TRUE(scan.info.ReadHeadTags());
    EXPECT_EQ(scan.info.FoundTypes(), mitRiff);
    EXPECT_EQ(scan.info.RiffDataStart(), 44);
    EXPECT_EQ(scan.info.AudioStart(), 44);
    EXPECT_EQ(scan.info.AudioLength(), 1000);
    EXPECT_EQ(scan.info.RiffDataLength(), 1000);
    EXPECT_TRUE(scan.info.FindFirstFrame());
    EXPECT_TRUE(scan.info.ReadTailTags());
    EXPECT_EQ(scan.info.RiffValues(),
              TMP3InfoValues({"INAM=Riff Title", "IART=Someone", "IPRD=Record"}));
    EXPECT_EQ(scan.info.Title(), "Riff Title");
    EXPECT_EQ(scan.info.Artist(), "Someone");
    EXPECT_EQ(scan.info.Album(), "Record");
    scan.info.SetNeedInfoType(mitID3V1 | mitID3V2);
    EXPECT_EQ(scan.info.Artist(), "");
}

TEST(Riff, WithoutADataChunkNothingIsFound) {
    Bytes body;
    Append(body, std::string("WAVE"));
    Append(body, RiffChunk("fmt ", Bytes(16, 1)));
    Bytes file = RiffChunk("RIFF", body);
    Append(file, test::Mpeg1Frames(1));
    InfoOver scan(file);
    scan.info.ReadHeadTags();
    EXPECT_EQ(scan.info.FoundTypes(), 0);
    EXPECT_EQ(scan.info.AudioStart(), 0);
}

TEST(Riff, ADamagedInfoListCostsNeitherTheLinesBeforeItNorTheId3v1Tag) {
    Bytes info;
    Append(info, std::string("INFO"));
    Append(info, RiffChunk("INAM", Bytes{'O', 'k'}));
    Append(info, std::string("IART"));
    test::AppendLittleEndian(info, 0x7FFFFFF0); // a sub-chunk larger than anything
    Bytes body;
    Append(body, std::string("WAVE"));
    Append(body, RiffChunk("data", test::Mpeg1Frames(1)));
    Append(body, RiffChunk("LIST", info));
    Bytes file = RiffChunk("RIFF", body);
    Append(file, test::Id3v1Tag("Tail", "", "", 3));
    InfoOver scan(file);
    scan.info.ReadHeadTags();
    EXPECT_TRUE(scan.info.ReadTailTags());
    EXPECT_EQ(scan.info.RiffValues(), TMP3InfoValues({"INAM=Ok"}));
    EXPECT_EQ(scan.info.FoundTypes(), mitRiff | mitID3V1);
}

TEST(FindFirstFrame, FindsAFrameWithin4096BytesOfTheHead) {
    Bytes file(100, 0);
    Append(file, test::Mpeg1Frames(2));
    InfoOver scan(file);
    EXPECT_TRUE(scan.info.FindFirstFrame());
    EXPECT_EQ(scan.info.AudioStart(), 100);

    InfoOver zeros(Bytes(5000, 0));
    EXPECT_FALSE(zeros.info.FindFirstFrame());

    // A header whose frame is cut by the end of the file does not count.
    Bytes cut(10, 0);
    Append(cut, test::Mpeg1Frames(1));
    cut.resize(cut.size() - 1);
    InfoOver cutScan(cut);
    EXPECT_FALSE(cutScan.info.FindFirstFrame());
}

TEST(TitleArtistAlbum, LongestCandidateOfTheNeededKindsWins) {
    Bytes frames = test::Latin1TextFrame("TIT2", "Seventeen letters");
    Append(frames, test::Latin1TextFrame("TPE1", "Same!"));
    Bytes file = test::Id3v2Tag(frames);
    Append(file, test::Mpeg1Frames(1));
    Append(file, test::Id3v1Tag("Short", "Equal", "Only v1", 0));
    InfoOver scan(file);
    scan.info.ReadHeadTags();
    scan.info.ReadTailTags();
    EXPECT_EQ(scan.info.Title(), "Seventeen letters");
    EXPECT_EQ(scan.info.Artist(), "Equal") << "equal lengths: the ID3v1 value comes first";
    EXPECT_EQ(scan.info.Album(), "Only v1");
    scan.info.SetNeedInfoType(mitID3V1);
    EXPECT_EQ(scan.info.Title(), "Short");
    scan.info.SetNeedInfoType(mitID3V2);
    EXPECT_EQ(scan.info.Artist(), "Same!");
    EXPECT_EQ(scan.info.Album(), "");
}

TEST(TMP3Info, ReadingWithoutAReaderIsAnAssertionFailure) {
    TMP3Info info;
    EXPECT_THROW(info.ReadHeadTags(), EMP3AssertionFailure);
    EXPECT_THROW(info.FindFirstFrame(), EMP3AssertionFailure);
    EXPECT_THROW(info.ReadTailTags(), EMP3AssertionFailure);
}

TEST(TMP3Info, StreamsThatCannotSeekHaveNoTailTags) {
    Bytes file = test::Id3v2Tag(test::Latin1TextFrame("TIT2", "Piped"));
    Append(file, test::Mpeg1Frames(2));
    Append(file, test::Id3v1Tag("Tail", "", "", 0));
    InfoOver scan(file, false);
    EXPECT_TRUE(scan.info.ReadHeadTags());
    EXPECT_FALSE(scan.info.ReadTailTags());
    EXPECT_EQ(scan.info.FoundTypes(), mitID3V2);
    EXPECT_EQ(scan.info.AudioLength(), TMP3Info::kUnknownLength);
    EXPECT_EQ(scan.info.Title(), "Piped");
}

TEST(TMP3Info, AttachAndClearForgetTheLastStream) {
    Bytes file = test::Mpeg1Frames(1);
    Append(file, test::Id3v1Tag("Old", "", "", 0));
    InfoOver scan(file);
    scan.info.ReadHeadTags();
    scan.info.ReadTailTags();
    ASSERT_FALSE(scan.info.ID3v1Values().empty());
    scan.info.AttachReader(nullptr);
    EXPECT_EQ(scan.info.Reader(), nullptr);
    EXPECT_EQ(scan.info.FoundTypes(), mitID3V1) << "detaching keeps what was read";
    scan.info.AttachReader(&scan.reader);
    EXPECT_EQ(scan.info.FoundTypes(), 0);
    EXPECT_TRUE(scan.info.ID3v1Values().empty());
    EXPECT_EQ(scan.info.AudioLength(), TMP3Info::kUnknownLength);
    EXPECT_EQ(scan.info.RiffDataLength(), TMP3Info::kUnknownLength);
}

TEST(LoadFromFile, ReadsAFileAndFallsBackToItsNameForTheTitle) {
    test::TempDir dir;
    Bytes file(50, 0);
    Append(file, test::Mpeg1Frames(3));
    Append(file, test::Id3v1Tag("", "Band", "", 0));
    test::WriteFileBytes(dir / "Some Song.mp3", file);
    TMP3Info info;
    info.LoadFromFile((dir / "Some Song.mp3").string());
    EXPECT_EQ(info.Reader(), nullptr);
    EXPECT_EQ(info.AudioStart(), 50);
    EXPECT_EQ(info.FoundTypes(), mitID3V1);
    EXPECT_EQ(info.Title(), "Some Song.mp3");
    EXPECT_EQ(info.Artist(), "Band");
}

TEST(LoadFromFile, FailuresClearTheObjectAndCarryTheirText) {
    test::TempDir dir;
    Bytes ok = test::Mpeg1Frames(2);
    Append(ok, test::Id3v1Tag("Loaded", "", "", 0));
    test::WriteFileBytes(dir / "ok.mp3", ok);
    test::WriteFileBytes(dir / "noise.mp3", Bytes(6000, 0x12));
    test::WriteFileBytes(dir / "empty.mp3", Bytes());
    TMP3Info info;
    info.LoadFromFile((dir / "ok.mp3").string());
    ASSERT_EQ(info.Title(), "Loaded");
    for (const char* name : {"noise.mp3", "empty.mp3"}) {
        try {
            info.LoadFromFile((dir / name).string());
            FAIL() << name;
        } catch (const EMP3Error& error) {
            EXPECT_STREQ(error.what(), "unknown MPEG Audio format.");
        }
        EXPECT_EQ(info.FileName(), "");
        EXPECT_TRUE(info.ID3v1Values().empty());
        EXPECT_EQ(info.Title(), "");
    }
    try {
        info.LoadFromFile((dir / "absent.mp3").string());
        FAIL();
    } catch (const EMP3Error& error) {
        EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos);
    }
}

} // namespace
} // namespace pelbrisk
