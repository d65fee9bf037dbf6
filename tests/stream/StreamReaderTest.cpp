#include "stream/StreamReader.h"

#include "stream/Errors.h"
#include "stream/Stream.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace pelbrisk {
namespace {

std::vector<uint8_t> Counting(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + i / 241);
    return bytes;
}

// A memory stream that records each read's size and may hand out less than asked for, as a
// pipe does; it also checks that the reader keeps its position invariant.
class RecordingStream : public TMPStream {
public:
    explicit RecordingStream(std::vector<uint8_t> bytes, int32_t largestRead = INT32_MAX)
        : inner_(bytes), largestRead_(largestRead) {}
    int32_t Read(void* destination, int32_t count) override {
        Reads.push_back(count);
        const int32_t got = inner_.Read(destination, std::min(count, largestRead_));
        Position += got;
        return got;
    }
    int32_t Seek(int32_t offset, int32_t origin) override {
        Seeks.push_back({offset, origin});
        Position = inner_.Seek(offset, origin);
        return Position;
    }
    int32_t Size() override {
        if (FailSize) throw EMP3Error("size refused");
        return inner_.Size();
    }
    std::vector<int32_t> Reads;
    std::vector<std::pair<int32_t, int32_t>> Seeks;
    int32_t Position = 0;
    bool FailSize = false;

private:
    TMPMemoryStream inner_;
    int32_t largestRead_;
};

void ExpectBytesAt(const TMPStreamReader& reader, const std::vector<uint8_t>& source,
                   int32_t count) {
    ASSERT_LE(static_cast<size_t>(reader.Position()) + static_cast<size_t>(count), source.size());
    EXPECT_EQ(std::memcmp(reader.Data(), source.data() + reader.Position(), size_t(count)), 0)
        << "at position " << reader.Position();
}

TEST(StreamReader, AttachStartsEmptyAndReadsTheSizeOfSeekableStreams) {
    const auto bytes = Counting(1000);
    RecordingStream stream(bytes);
    TMPStreamReader reader(4096);
    EXPECT_FALSE(reader.Active());
    reader.Attach(&stream, true);
    EXPECT_TRUE(reader.Active());
    EXPECT_EQ(reader.Size(), 1000);
    EXPECT_EQ(reader.Position(), 0);
    EXPECT_EQ(reader.Available(), 0);
    EXPECT_EQ(reader.Contiguous(), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(reader.Data()) % 8, 0u);

    RecordingStream pipe(bytes);
    reader.Attach(&pipe, false);
    EXPECT_EQ(reader.Size(), 0);
    EXPECT_FALSE(reader.Seekable());
    EXPECT_EQ(reader.Available(), 0);

    pipe.FailSize = true;
    EXPECT_THROW(reader.Attach(&pipe, true), EMP3Error);
    EXPECT_FALSE(reader.Active()) << "a failed attach detaches";
}

TEST(StreamReader, MisuseIsAnAssertionFailure) {
    EXPECT_THROW(TMPStreamReader(0), EMP3AssertionFailure);
    EXPECT_THROW(TMPStreamReader(-4), EMP3AssertionFailure);
    TMPStreamReader reader(64);
    EXPECT_THROW(reader.Attach(nullptr, true), EMP3AssertionFailure);
    EXPECT_THROW(reader.Require(1), EMP3AssertionFailure);
    EXPECT_THROW(reader.Fill(1), EMP3AssertionFailure);
    EXPECT_THROW(reader.ReadAhead(), EMP3AssertionFailure);
    EXPECT_THROW(reader.Skip(1), EMP3AssertionFailure);
    EXPECT_THROW(reader.Seek(0, 0), EMP3AssertionFailure);

    RecordingStream stream(Counting(100));
    reader.Attach(&stream, false);
    EXPECT_THROW(reader.Require(65), EMP3AssertionFailure) << "more than the ring holds";
    EXPECT_THROW(reader.Fill(-1), EMP3AssertionFailure);
    EXPECT_THROW(reader.Skip(-1), EMP3AssertionFailure);
    EXPECT_THROW(reader.Seek(0, 0), EMP3AssertionFailure) << "stream cannot seek";
    EXPECT_TRUE(reader.Require(64));

    reader.Detach();
    EXPECT_FALSE(reader.Active());
    EXPECT_THROW(reader.Require(1), EMP3AssertionFailure);
    EXPECT_THROW(reader.Skip(0), EMP3AssertionFailure);
}

TEST(StreamReader, DetachKeepsTheLogicalStateButForgetsSizeAndContiguous) {
    RecordingStream stream(Counting(1000));
    TMPStreamReader reader(256);
    reader.Attach(&stream, true);
    ASSERT_TRUE(reader.Require(10));
    ASSERT_TRUE(reader.Skip(3));
    reader.Detach();
    EXPECT_EQ(reader.Size(), 0);
    EXPECT_EQ(reader.Contiguous(), 0);
    EXPECT_EQ(reader.Position(), 3);
    EXPECT_EQ(reader.Available(), 253);
    EXPECT_TRUE(reader.Seekable());
    reader.Detach(); // a second detach does nothing
}

TEST(StreamReader, FillReadsSixteenKilobytesAtATimeNeverPastTheRingsEnd) {
    const auto bytes = Counting(200000);
    RecordingStream stream(bytes);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    ASSERT_TRUE(reader.Require(4));
    EXPECT_EQ(stream.Reads, std::vector<int32_t>({16384}));
    EXPECT_EQ(reader.Available(), 16384);
    ExpectBytesAt(reader, bytes, 4);

    // A large request reads what it lacks in one go.
    ASSERT_TRUE(reader.Fill(40000));
    EXPECT_EQ(stream.Reads.back(), 40000 - 16384);
    EXPECT_EQ(reader.Available(), 40000);

    // Not enough room for 16 KiB: read what is free, up to the ring's end.
    ASSERT_TRUE(reader.Fill(40001));
    EXPECT_EQ(stream.Reads.back(), 16384);
    ASSERT_TRUE(reader.Fill(60000));
    EXPECT_EQ(stream.Reads.back(), 65536 - 56384);
    EXPECT_EQ(reader.Available(), 65536);
    EXPECT_EQ(reader.Position() + reader.Available(), stream.Position);

    // After consuming from the front, what is lacking is read at the ring's start.
    ASSERT_TRUE(reader.Skip(30000));
    ASSERT_TRUE(reader.Fill(65536));
    EXPECT_EQ(stream.Reads.back(), 30000);
    // A read that would cross the ring's end is cut there and continued at the start.
    ASSERT_TRUE(reader.Skip(60000));
    const size_t before = stream.Reads.size();
    ASSERT_TRUE(reader.Fill(65536));
    EXPECT_EQ(std::vector<int32_t>(stream.Reads.begin() + long(before), stream.Reads.end()),
              std::vector<int32_t>({35536, 24464}));
    ExpectBytesAt(reader, bytes, 4);
    EXPECT_EQ(reader.Position() + reader.Available(), stream.Position);
}

TEST(StreamReader, ShortReadsRepeatUntilEnoughOrTheEnd) {
    const auto bytes = Counting(5000);
    RecordingStream stream(bytes, 100);
    TMPStreamReader reader(4096);
    reader.Attach(&stream, false);
    ASSERT_TRUE(reader.Require(1000));
    ExpectBytesAt(reader, bytes, 1000);
    EXPECT_EQ(reader.Available(), 1000);
    EXPECT_EQ(stream.Reads.size(), 10u);
}

TEST(StreamReader, RequirePastTheEndReturnsFalseKeepingWhatWasLeft) {
    RecordingStream stream(Counting(3));
    TMPStreamReader reader(64);
    reader.Attach(&stream, true);
    EXPECT_FALSE(reader.Require(4));
    EXPECT_EQ(reader.Available(), 3);
    EXPECT_TRUE(reader.Require(3));
}

TEST(StreamReader, RequireStraddlingTheRingsEndComesOutContiguous) {
    const auto bytes = Counting(100000);
    // Each straddle case: (capacity, bytes skipped before, bytes required afterwards).
    struct Case {
        int32_t capacity, skip, require;
    };
    for (const Case c : {Case{1000, 900, 300},   // head > available: two moves
                         Case{1000, 600, 900},   // head <= available: the overlapping case
                         Case{1000, 999, 1000},  // one byte before the end, whole ring wanted
                         Case{4096, 100, 4000}}) // nothing wraps
    {
        RecordingStream stream(bytes, 1000);
        TMPStreamReader reader(c.capacity);
        reader.Attach(&stream, false);
        ASSERT_TRUE(reader.Fill(c.capacity));
        ASSERT_TRUE(reader.Skip(c.skip));
        ASSERT_TRUE(reader.Require(c.require));
        EXPECT_GE(reader.Contiguous(), c.require);
        ExpectBytesAt(reader, bytes, c.require);
        if (c.skip + c.require > c.capacity) {
            EXPECT_EQ(reader.Head(), 0);
        }
        EXPECT_EQ(reader.Position() + reader.Available(), stream.Position);
    }
    // A request that does not straddle leaves the head where it was.
    RecordingStream stream(bytes);
    TMPStreamReader reader(1000);
    reader.Attach(&stream, false);
    ASSERT_TRUE(reader.Require(1000));
    ASSERT_TRUE(reader.Skip(300));
    ASSERT_TRUE(reader.Require(500));
    EXPECT_EQ(reader.Head(), 300);
    ExpectBytesAt(reader, bytes, 500);
}

TEST(StreamReader, ReadAheadStepsUntilTheRingIsFullOrTheStreamEnds) {
    RecordingStream stream(Counting(50000));
    TMPStreamReader reader(40000);
    reader.Attach(&stream, true);
    EXPECT_TRUE(reader.ReadAhead());
    EXPECT_EQ(reader.Available(), 16384);
    EXPECT_TRUE(reader.ReadAhead());
    EXPECT_EQ(reader.Available(), 32768);
    EXPECT_TRUE(reader.ReadAhead());
    EXPECT_EQ(reader.Available(), 40000);
    const size_t reads = stream.Reads.size();
    EXPECT_FALSE(reader.ReadAhead()) << "full ring";
    EXPECT_EQ(stream.Reads.size(), reads) << "a full ring reads nothing";

    ASSERT_TRUE(reader.Skip(40000));
    EXPECT_FALSE(reader.ReadAhead()) << "the stream ends before the step is complete";
    EXPECT_EQ(reader.Available(), 10000);
    EXPECT_FALSE(reader.ReadAhead()) << "exhausted stream";
}

TEST(StreamReader, SkipInsideTheRingAndOnSeekableStreams) {
    const auto bytes = Counting(100000);
    RecordingStream stream(bytes);
    TMPStreamReader reader(1024);
    reader.Attach(&stream, true);
    ASSERT_TRUE(reader.Require(16));
    const int32_t head = reader.Head();
    EXPECT_TRUE(reader.Skip(0));
    EXPECT_EQ(reader.Position(), 0);
    EXPECT_EQ(reader.Head(), head);
    EXPECT_EQ(reader.Available(), 1024);

    ASSERT_TRUE(reader.Skip(1000));
    ASSERT_TRUE(reader.Require(100)); // wraps
    // Beyond the buffered bytes: the stream is repositioned to exactly Position + N.
    EXPECT_TRUE(reader.Skip(5000));
    EXPECT_EQ(reader.Position(), 6000);
    EXPECT_EQ(reader.Available(), 0);
    EXPECT_EQ(stream.Position, 6000);
    ASSERT_TRUE(reader.Require(8));
    ExpectBytesAt(reader, bytes, 8);

    EXPECT_TRUE(reader.Skip(100000 - 6000)) << "exactly to the end";
    EXPECT_EQ(reader.Position(), 100000);
    ASSERT_TRUE(reader.Seek(10, msoFromBeginning) == 10);
    EXPECT_FALSE(reader.Skip(100000));
    EXPECT_EQ(reader.Position(), 100000);
    EXPECT_EQ(reader.Available(), 0);
    EXPECT_FALSE(reader.Require(1));
}

TEST(StreamReader, SkipOnAStreamThatCannotSeekPassesExactlyN) {
    const auto bytes = Counting(300000);
    RecordingStream stream(bytes, 5000);
    TMPStreamReader reader(4096);
    reader.Attach(&stream, false);
    ASSERT_TRUE(reader.Require(10));
    EXPECT_TRUE(reader.Skip(123457)); // many ring loads
    EXPECT_EQ(reader.Position(), 123457);
    EXPECT_TRUE(stream.Seeks.empty());
    ASSERT_TRUE(reader.Require(100));
    ExpectBytesAt(reader, bytes, 100);
    EXPECT_EQ(reader.Position() + reader.Available(), stream.Position);
    EXPECT_FALSE(reader.Skip(300000));
    EXPECT_EQ(reader.Position(), 300000);
    EXPECT_FALSE(reader.Skip(1));
}

TEST(StreamReader, SeekFromEachOriginEmptiesTheRing) {
    const auto bytes = Counting(10000);
    RecordingStream stream(bytes);
    TMPStreamReader reader(2048);
    reader.Attach(&stream, true);
    ASSERT_TRUE(reader.Require(100));
    ASSERT_TRUE(reader.Skip(40));
    // From the logical position, not the stream's.
    EXPECT_EQ(reader.Seek(60, msoFromCurrent), 100);
    EXPECT_EQ(reader.Available(), 0);
    EXPECT_EQ(reader.Contiguous(), 0);
    EXPECT_EQ(reader.Head(), 0);
    ASSERT_TRUE(reader.Require(4));
    ExpectBytesAt(reader, bytes, 4);
    EXPECT_EQ(reader.Seek(-16, msoFromEnd), 9984);
    EXPECT_EQ(reader.Seek(77, msoFromBeginning), 77);
    ASSERT_TRUE(reader.Require(4));
    ExpectBytesAt(reader, bytes, 4);
}

} // namespace
} // namespace pelbrisk
