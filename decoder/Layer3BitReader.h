#pragma once

#include <cstdint>

namespace pelbrisk {

// The Layer III bit reader: a 32-bit cache refilled a byte at a time, most significant bit first.
// `Limit` is the first byte the reader may not load (bytes there read as zeros), so damaged side
// information never reaches past the bytes held; `End` is the address past which a channel's
// Huffman data counts as overrun.
struct TLayer3BitReader {
    const uint8_t* Next = nullptr;
    const uint8_t* Start = nullptr;
    const uint8_t* Limit = nullptr;
    const uint8_t* End = nullptr;
    uint32_t Cache = 0;
    int32_t Count = 0;

    void Reset(const uint8_t* address, const uint8_t* limit) {
        Next = address;
        Start = address;
        Limit = limit;
        End = limit;
        Cache = 0;
        Count = 0;
    }

    void SetEnd(const uint8_t* end) { End = end; }

    bool PastEnd() const { return Next > End; }

    // Loads whole bytes until the cache holds 25 to 32 bits: four at once while they are all
    // held, one by one (zeros past the limit) near the end.
    void Refill() {
        if (Count > 24) return;
        if (Limit - Next >= 4) {
            const uint32_t word = static_cast<uint32_t>(Next[0]) << 24 |
                                  static_cast<uint32_t>(Next[1]) << 16 |
                                  static_cast<uint32_t>(Next[2]) << 8 | Next[3];
            const int32_t bytes = (32 - Count) >> 3;
            const int32_t bits = 8 * bytes;
            Cache = static_cast<uint32_t>(uint64_t{Cache} << bits | word >> (32 - bits));
            Next += bytes;
            Count += bits;
            return;
        }
        while (Count <= 24) {
            const uint32_t byte = Next < Limit ? *Next : 0u;
            ++Next;
            Cache = (Cache << 8) | byte;
            Count += 8;
        }
    }

    // Up to 25 bits; 0 bits read the value 0.
    uint32_t GetBits(int32_t n) {
        if (Count < n) Refill();
        Count -= n;
        const uint32_t value = static_cast<uint32_t>(uint64_t{Cache} >> Count);
        Cache &= LowBits(Count);
        return value;
    }

    uint32_t GetBit() { return GetBits(1); }

    // Up to 11 bits without consuming them.
    uint32_t PeekBits(int32_t n) {
        if (Count < 11) Refill();
        return Cache >> (Count - n);
    }

    void Consume(int32_t n) {
        Count -= n;
        Cache &= LowBits(Count);
    }

    static uint32_t LowBits(int32_t n) { return static_cast<uint32_t>((uint64_t{1} << n) - 1u); }

    int32_t BitPosition() const { return static_cast<int32_t>(Next - Start) * 8 - Count; }
};

} // namespace pelbrisk
