#pragma once

#include <cstdint>

namespace pelbrisk {

// The Layer I/II bit reader: most significant bit first, through a 32-bit cache refilled a byte
// at a time. It never reads outside the `size` bytes it was given: past them it reads zeros, so
// a damaged or cut frame decodes to whatever its bits (and then silence) say.
class TLayer12BitReader {
public:
    TLayer12BitReader(const uint8_t* data, int32_t size)
        : data_(data), size_(size > 0 ? size : 0) {}

    // n <= 25.
    uint32_t GetBits(int32_t n) {
        if (count_ < n) Refill();
        count_ -= n;
        const uint32_t value = cache_ >> count_;
        cache_ &= LowMask(count_);
        return value;
    }

    void SkipBits(int32_t n) {
        if (n > count_) {
            n -= count_;
            index_ += n >> 3;
            cache_ = ByteAt(index_++);
            count_ = 8;
            n &= 7;
        }
        count_ -= n;
        cache_ &= LowMask(count_);
    }

private:
    void Refill() {
        while (count_ <= 24) {
            cache_ = (cache_ << 8) | ByteAt(index_++);
            count_ += 8;
        }
    }

    uint32_t ByteAt(int32_t index) const { return index < size_ ? data_[index] : 0u; }

    static uint32_t LowMask(int32_t bits) { return bits >= 32 ? ~0u : (1u << bits) - 1u; }

    const uint8_t* data_;
    int32_t size_;
    int32_t index_ = 0;
    uint32_t cache_ = 0;
    int32_t count_ = 0;
};

} // namespace pelbrisk
