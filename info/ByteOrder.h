#pragma once

#include <cstdint>

namespace pelbrisk {

// Multi-byte numbers of the tag and header formats: MPEG, ID3, MacBinary and Xing are big-endian,
// RIFF and APE little-endian.
inline uint32_t BigEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

inline uint32_t BigEndian32(const uint8_t* bytes) {
    return BigEndian(bytes, 4);
}

inline uint32_t LittleEndian32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) |
           (uint32_t(bytes[3]) << 24);
}

} // namespace pelbrisk
