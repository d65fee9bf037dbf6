#pragma once

#include <cstdint>
#include <cstring>

namespace pelbrisk {

// The Layer III bit reader: a 64-bit cache whose unread bits sit at the top, most significant bit
// first, refilled eight bytes at once while they are all held. `Limit` is the first byte the
// reader may not load (bytes there read as zeros), so damaged side information never reaches
// past the bytes held; `End` is the address past which a channel's Huffman data counts as
// overrun.
struct TLayer3BitReader {
    const uint8_t* Next = nullptr;
    const uint8_t* Start = nullptr;
    const uint8_t* Limit = nullptr;
    const uint8_t* End = nullptr;
    uint64_t Cache = 0;
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

    // Whether the bits read reach past the end byte.
    bool PastEnd() const { return BitPosition() > static_cast<int32_t>(End - Start) * 8; }

    // Fills the cache to at least 56 bits. The bits below the counted ones are always the
    // stream's next bits, so a later load may OR the same bytes over them again.
    void Refill() {
        if (Limit - Next >= 8) {
            uint64_t word;
            std::memcpy(&word, Next, sizeof(word));
            Cache |= __builtin_bswap64(word) >> Count;
            Next += (63 - Count) >> 3;
            Count |= 56;
            return;
        }
        while (Count <= 56) {
            const uint64_t byte = Next < Limit ? *Next : 0u;
            ++Next;
            Cache |= byte << (56 - Count);
            Count += 8;
        }
    }

    // Up to 32 bits; 0 bits read the value 0.
    uint32_t GetBits(int32_t n) {
        if (Count < n) Refill();
        const auto value = static_cast<uint32_t>((Cache >> 1) >> (63 - n));
        Consume(n);
        return value;
    }

    uint32_t GetBit() { return GetBits(1); }

    // Up to 32 bits without consuming them; at least 1.
    uint32_t PeekBits(int32_t n) {
        if (Count < n) Refill();
        return Top(n);
    }

    // The next 1 to 32 bits, which the cache must hold.
    uint32_t Top(int32_t n) const { return static_cast<uint32_t>(Cache >> (64 - n)); }

    // The cache must hold the `n` bits.
    void Consume(int32_t n) {
        Cache <<= n;
        Count -= n;
    }

    int32_t BitPosition() const { return static_cast<int32_t>(Next - Start) * 8 - Count; }
};

} // namespace pelbrisk
