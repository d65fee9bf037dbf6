#pragma once

#include <cstdint>

namespace pelbrisk {

// One big-values Huffman table: where its first lookup level starts in HuffmanLookupData, its
// linbits, and how it is decoded (0 all zeros without bits, 1 single level, 2 multi-level,
// 3 multi-level with linbits).
struct THuffmanTable {
    uint32_t Start;
    uint8_t Linbits;
    uint8_t Kind;
};

// Lookup levels: a header word whose low byte is the number of bits k looked at, then 2^k
// entries. A leaf is (non-zero count, x, y, code length) from the low byte up; an entry whose
// top byte is 0 links to the next level's header, its value the distance in words.
extern const uint32_t HuffmanLookupData[];
extern const THuffmanTable HuffmanTables[32];
// Count1 table A by the next 6 bits: (code length, v w x y as bits 3..0).
extern const uint8_t Count1TableA[64][2];

// Scale-factor band boundaries: 23 long (22 bands) and 14 short (13 bands, per window).
struct TLayer3BandTable {
    int16_t Long[23];
    int16_t Short[14];
};
// [version: 0 MPEG-2, 1 MPEG-1, 2 MPEG-2.5][sampling index]
extern const TLayer3BandTable Layer3Bands[3][3];
// The bands of MPEG version `mpegVersion` (1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5).
inline const TLayer3BandTable& BandsOf(int32_t mpegVersion, int32_t samplingIndex) {
    constexpr int32_t kRowOfVersion[4] = {0, 1, 0, 2};
    return Layer3Bands[kRowOfVersion[mpegVersion & 3]][samplingIndex];
}
// [Preflag][band]
extern const uint8_t Pretab[2][22];
// MPEG-1 (slen1, slen2) by ScalefacCompress.
extern const uint8_t SlenMpeg1[16][2];

} // namespace pelbrisk
