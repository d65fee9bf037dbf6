#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelbrisk {

// Where a seek's offset counts from.
enum TMPSeekOrigin : int32_t {
    msoFromBeginning = 0,
    msoFromCurrent = 1,
    msoFromEnd = 2,
};

// A byte source as the stream reader and the player see it. Offsets and sizes are 32-bit, so a
// stream is limited to 2 GiB - 1 bytes. Every failure raises EMP3Error with the system's text.
class TMPStream {
public:
    virtual ~TMPStream() = default;
    TMPStream() = default;
    TMPStream(const TMPStream&) = delete;
    TMPStream& operator=(const TMPStream&) = delete;

    // Reads up to `count` bytes; fewer means the stream had no more for now, 0 its end.
    virtual int32_t Read(void* destination, int32_t count) = 0;
    // Moves by `offset` from `origin` (0 start, 1 current, 2 end); returns the new position.
    virtual int32_t Seek(int32_t offset, int32_t origin) = 0;
    virtual int32_t Size() = 0;
};

// A file opened for reading. Other writers are kept out with a shared lock: opening a file that
// another holds an exclusive lock on fails, and a writer asking for one while we read waits.
class TMPFileStream : public TMPStream {
public:
    explicit TMPFileStream(const std::string& fileName);
    ~TMPFileStream() override;

    int32_t Read(void* destination, int32_t count) override;
    int32_t Seek(int32_t offset, int32_t origin) override;
    int32_t Size() override;

private:
    int descriptor_ = -1;
    std::string fileName_;
};

// Bytes held in memory; positions beyond the end are allowed and read nothing.
class TMPMemoryStream : public TMPStream {
public:
    explicit TMPMemoryStream(std::vector<uint8_t> bytes);
    TMPMemoryStream(const uint8_t* bytes, size_t count);

    int32_t Read(void* destination, int32_t count) override;
    int32_t Seek(int32_t offset, int32_t origin) override;
    int32_t Size() override;

private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
};

// A source that can only be read forward: a pipe or standard input. Seek and Size raise.
class TMPPipeStream : public TMPStream {
public:
    // Takes the descriptor; closes it at destruction when `ownsDescriptor`.
    TMPPipeStream(int descriptor, bool ownsDescriptor);
    ~TMPPipeStream() override;

    int32_t Read(void* destination, int32_t count) override;
    int32_t Seek(int32_t offset, int32_t origin) override;
    int32_t Size() override;

private:
    int descriptor_;
    bool ownsDescriptor_;
};

} // namespace pelbrisk
