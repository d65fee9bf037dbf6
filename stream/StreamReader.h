#pragma once

#include "stream/Stream.h"

#include <cstdint>

namespace pelbrisk {

// A read-ahead ring over a stream. Parsers ask for N contiguous unread bytes at the read head
// (`Require`) and read them in place through `Data`; `Skip` and `Seek` move the head. The
// stream's own position always equals Position() + Available(). The reader never frees its
// stream and is not thread-safe: its owner serialises access.
//
// Misuse (no stream attached, N out of range, seeking an unseekable stream) raises the engine's
// assertion failure; the end of the stream is not an error but a false result.
class TMPStreamReader {
public:
    static constexpr int32_t kReadChunk = 16384;

    explicit TMPStreamReader(int32_t capacity);
    ~TMPStreamReader();
    TMPStreamReader(const TMPStreamReader&) = delete;
    TMPStreamReader& operator=(const TMPStreamReader&) = delete;

    // Binds a freshly opened stream: position 0 is where the stream stands now. A seekable
    // stream's size is read once here.
    void Attach(TMPStream* stream, bool seekable);
    void Detach();

    // At least `count` unread bytes in the ring (not necessarily in one piece).
    bool Fill(int32_t count);
    // `count` unread bytes in one piece at Data().
    bool Require(int32_t count);
    // The read head; valid for as many bytes as the last successful Require asked for, until
    // the head moves or more is read.
    const uint8_t* Data() const { return buffer_ == nullptr ? nullptr : buffer_ + head_; }
    // One background step of up to 16 KiB; false when the ring is full or the stream ended.
    bool ReadAhead();
    // Advances the read position; true when the new position lies inside the stream.
    bool Skip(int32_t count);
    // Repositions a seekable stream (origin 0 start, 1 current logical position, 2 end), empties
    // the ring and returns the new position.
    int32_t Seek(int32_t offset, int32_t origin);

    int32_t Position() const { return position_; }
    int32_t Size() const { return size_; }
    bool Seekable() const { return seekable_; }
    int32_t Available() const { return available_; }
    int32_t Contiguous() const { return contiguous_; }
    int32_t Capacity() const { return capacity_; }
    bool Active() const { return active_; }
    // Ring index of the read head, for those who check how the ring is used.
    int32_t Head() const { return head_; }

private:
    void Linearize();
    void ConsumeBuffered(int32_t count);
    void EmptyRing();

    TMPStream* stream_ = nullptr;
    int32_t size_ = 0;
    bool seekable_ = false;
    bool active_ = false;
    uint8_t* buffer_ = nullptr;
    int32_t head_ = 0;
    int32_t available_ = 0;
    int32_t capacity_;
    int32_t position_ = 0;
    int32_t contiguous_ = 0;
};

} // namespace pelbrisk
