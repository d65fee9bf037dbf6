#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace pelbrisk {

// The Layer I/II bit reader: most significant bit first, through a 64-bit cache whose unread
// bits sit at the top. It never reads outside the `size` bytes it was given: past them it reads
// zeros, so a damaged or cut frame decodes to whatever its bits (and then silence) say.
class TLayer12BitReader {
public:
    TLayer12BitReader(const uint8_t* data, int32_t size)
        : data_(data), size_(size > 0 ? size : 0) {}

    // 1 <= n <= 32.
    uint32_t GetBits(int32_t n) {
        if (count_ < n) Refill();
        const auto value = static_cast<uint32_t>(cache_ >> (64 - n));
        cache_ <<= n;
        count_ -= n;
        return value;
    }

    void SkipBits(int32_t n) {
        if (n > count_) {
            n -= count_;
            index_ += n >> 3;
            cache_ = 0;
            count_ = 0;
            n &= 7;
            if (n == 0) return;
            Refill();
        }
        cache_ = n == 64 ? 0 : cache_ << n;
        count_ -= n;
    }

private:
    // Tops the cache up to at least 57 bits. Whole bytes are taken; a fast load may also place
    // the bits of the next bytes below them, which the next refill writes again unchanged.
    void Refill() {
        if (index_ + 8 <= size_) {
            uint64_t word;
            std::memcpy(&word, data_ + index_, sizeof(word));
            if constexpr (std::endian::native == std::endian::little)
                word = __builtin_bswap64(word);
            cache_ |= word >> count_;
            const int32_t bytes = (63 - count_) >> 3;
            index_ += bytes;
            count_ += 8 * bytes;
            return;
        }
        while (count_ <= 56) {
            const uint64_t byte = index_ < size_ ? data_[index_] : 0u;
            cache_ |= byte << (56 - count_);
            ++index_;
            count_ += 8;
        }
    }

    const uint8_t* data_;
    int32_t size_;
    int32_t index_ = 0;
    uint64_t cache_ = 0;
    int32_t count_ = 0;
};

} // namespace pelbrisk
