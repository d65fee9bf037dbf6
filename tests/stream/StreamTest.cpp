#include "stream/Stream.h"

#include "stream/AlignedBlock.h"
#include "stream/Errors.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace pelbrisk {
namespace {

std::vector<uint8_t> Counting(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

TEST(AlignedBlock, AlignedAtLeastFourBytesIntoTheBlockAndWholeCapacityUsable) {
    for (int32_t capacity : {0, 1, 7, 8, 13, 5120, 65536}) {
        uint8_t* block = AllocateAlignedBlock(capacity);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u) << capacity;
        uint32_t distance = 0;
        std::memcpy(&distance, block - 4, 4);
        EXPECT_GE(distance, 4u);
        EXPECT_LE(distance, 11u);
        // Under AddressSanitizer writing the last byte proves the block is large enough.
        if (capacity > 0) std::memset(block, 0xA5, static_cast<size_t>(capacity));
        FreeAlignedBlock(block);
    }
    FreeAlignedBlock(nullptr);
    EXPECT_THROW(AllocateAlignedBlock(-1), EMP3AssertionFailure);
}

TEST(AlignedBlock, OwnerReallocatesAndFrees) {
    TMPAlignedBlock block;
    EXPECT_EQ(block.Data(), nullptr);
    block.Allocate(5120);
    ASSERT_NE(block.Data(), nullptr);
    EXPECT_EQ(block.Capacity(), 5120);
    std::memset(block.Data(), 1, 5120);
    block.Allocate(100);
    EXPECT_EQ(block.Capacity(), 100);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block.Data()) % 8, 0u);
    block.Free();
    EXPECT_EQ(block.Data(), nullptr);
}

TEST(MemoryStream, ReadsSeeksFromEachOriginAndReadsNothingBeyondTheEnd) {
    TMPMemoryStream stream(Counting(100));
    EXPECT_EQ(stream.Size(), 100);
    uint8_t buffer[64];
    EXPECT_EQ(stream.Read(buffer, 10), 10);
    EXPECT_EQ(buffer[9], Counting(100)[9]);
    EXPECT_EQ(stream.Seek(5, msoFromCurrent), 15);
    EXPECT_EQ(stream.Read(buffer, 1), 1);
    EXPECT_EQ(buffer[0], Counting(100)[15]);
    EXPECT_EQ(stream.Seek(-10, msoFromEnd), 90);
    EXPECT_EQ(stream.Read(buffer, 64), 10);
    EXPECT_EQ(stream.Read(buffer, 64), 0);
    EXPECT_EQ(stream.Seek(500, msoFromBeginning), 500);
    EXPECT_EQ(stream.Read(buffer, 64), 0);
    EXPECT_THROW(stream.Seek(-1, msoFromBeginning), EMP3Error);
    EXPECT_THROW(stream.Seek(0, 3), EMP3Error);
}

TEST(FileStream, ReadsAFileAndReportsTheSystemsErrors) {
    test::TempDir dir;
    const auto bytes = Counting(3000);
    test::WriteFileBytes(dir / "a.bin", bytes);
    TMPFileStream stream((dir / "a.bin").string());
    EXPECT_EQ(stream.Size(), 3000);
    std::vector<uint8_t> read(3000);
    EXPECT_EQ(stream.Read(read.data(), 3000), 3000);
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(stream.Read(read.data(), 10), 0);
    EXPECT_EQ(stream.Seek(-100, msoFromEnd), 2900);
    EXPECT_EQ(stream.Seek(50, msoFromCurrent), 2950);
    EXPECT_THROW(stream.Seek(-5000, msoFromCurrent), EMP3Error);

    try {
        TMPFileStream missing((dir / "missing.mp3").string());
        FAIL() << "a missing file opened";
    } catch (const EMP3Error& error) {
        EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos)
            << error.what();
        EXPECT_NE(std::string(error.what()).find("missing.mp3"), std::string::npos);
    }
    EXPECT_THROW(TMPFileStream(dir.Path().string()), EMP3Error);
}

TEST(FileStream, RefusesAFileThatAWriterHoldsLocked) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "locked.mp3", Counting(10));
    const int writer = ::open((dir / "locked.mp3").c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    EXPECT_THROW(TMPFileStream((dir / "locked.mp3").string()), EMP3Error);
    ::flock(writer, LOCK_UN);
    {
        TMPFileStream reading((dir / "locked.mp3").string());
        // While we read, a writer cannot take its lock.
        EXPECT_NE(::flock(writer, LOCK_EX | LOCK_NB), 0);
    }
    EXPECT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
    ::close(writer);
}

TEST(PipeStream, ReadsForwardOnlyAndRefusesSeekAndSize) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const auto bytes = Counting(200000); // more than a pipe holds: the writer must run alongside
    std::thread writer([&] {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = ::write(ends[1], bytes.data() + done, bytes.size() - done);
            if (wrote <= 0) break;
            done += static_cast<size_t>(wrote);
        }
        ::close(ends[1]);
    });
    TMPPipeStream stream(ends[0], true);
    std::vector<uint8_t> read(bytes.size() + 10);
    size_t total = 0;
    for (;;) {
        const int32_t got = stream.Read(read.data() + total, 70000);
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    writer.join();
    read.resize(total);
    EXPECT_EQ(read, bytes);
    EXPECT_THROW(stream.Seek(0, msoFromBeginning), EMP3Error);
    EXPECT_THROW(stream.Size(), EMP3Error);
}

} // namespace
} // namespace pelbrisk
