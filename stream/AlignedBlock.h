#pragma once

#include <cstdint>

namespace pelbrisk {

// Blocks whose first byte lies on an 8-byte boundary, for the reader's ring and the player's
// PCM buffer. The whole block is `capacity` + 8 + 3 bytes; the aligned address lies at least 4
// bytes into it, and the 4 bytes just below it record how far in, so the release needs nothing
// but the aligned address. Raises EMP3Error when memory runs out.
uint8_t* AllocateAlignedBlock(int32_t capacity);
// Releases a block from AllocateAlignedBlock; nullptr is ignored.
void FreeAlignedBlock(uint8_t* aligned);

// Owns one aligned block; empty until Allocate.
class TMPAlignedBlock {
public:
    TMPAlignedBlock() = default;
    ~TMPAlignedBlock() { Free(); }
    TMPAlignedBlock(const TMPAlignedBlock&) = delete;
    TMPAlignedBlock& operator=(const TMPAlignedBlock&) = delete;

    // Frees any block held, then allocates one of `capacity` bytes.
    void Allocate(int32_t capacity);
    void Free();
    uint8_t* Data() const { return data_; }
    int32_t Capacity() const { return capacity_; }

private:
    uint8_t* data_ = nullptr;
    int32_t capacity_ = 0;
};

} // namespace pelbrisk
