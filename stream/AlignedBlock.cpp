#include "stream/AlignedBlock.h"

#include "stream/Errors.h"

#include <cstdlib>
#include <cstring>

namespace pelbrisk {

namespace {

constexpr uintptr_t kAlignment = 8;
constexpr uintptr_t kRecordBytes = 4;
constexpr size_t kSlackBytes = 8 + 3;

} // namespace

uint8_t* AllocateAlignedBlock(int32_t capacity) {
    MP3Assert(capacity >= 0);
    auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity) + kSlackBytes));
    if (block == nullptr) throw EMP3Error("Out of memory");
    const uintptr_t start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t aligned = (start + kRecordBytes + kAlignment - 1) & ~(kAlignment - 1);
    // A pointer does not fit the 4 bytes below the aligned address on 64-bit systems; the
    // distance back to the block's start (4 to 11) does, and finds the same block.
    const uint32_t distance = static_cast<uint32_t>(aligned - start);
    std::memcpy(block + distance - kRecordBytes, &distance, kRecordBytes);
    return block + distance;
}

void FreeAlignedBlock(uint8_t* aligned) {
    if (aligned == nullptr) return;
    uint32_t distance = 0;
    std::memcpy(&distance, aligned - kRecordBytes, kRecordBytes);
    std::free(aligned - distance);
}

void TMPAlignedBlock::Allocate(int32_t capacity) {
    Free();
    data_ = AllocateAlignedBlock(capacity);
    capacity_ = capacity;
}

void TMPAlignedBlock::Free() {
    FreeAlignedBlock(data_);
    data_ = nullptr;
    capacity_ = 0;
}

} // namespace pelbrisk
