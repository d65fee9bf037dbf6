#pragma once

#include <array>
#include <cstdint>

namespace pelbrisk {

// The synthesis window D of the standard, times 65536, in the order the windowing reads it:
// rows m = 0..15 of 16 values D[32m + j], j = 0..15 (row m weighs the ring slot m steps old),
// and a last row of 8 values -D[48 + 64k].
extern const int32_t SynthesisWindowTimes65536[264];

// 0.5 / cos((2j + 1) pi / (4n)) for n = 16, 8, 4, 2, 1 in turn: the factors of the DCT-32.
extern const float DctCosines[31];

// One Layer II allocation table in its four-group form: consecutive subbands sharing an
// allocation-field width and a map from allocation code to quantisation class.
struct TLayer2Allocation {
    int32_t GroupSize[4];
    int32_t FieldWidth[4];
    uint8_t ClassByCode[4][16];
};

// Indexed by TLayer2Table.
extern const TLayer2Allocation Layer2Allocations[5];
enum TLayer2Table : int32_t {
    l2tB2a = 0,
    l2tB2b = 1,
    l2tB2c = 2,
    l2tB2d = 3,
    l2tLowSamplingFrequency = 4,
    l2tNone = -1,
};

// The quantisation classes 1..17 (class 0: nothing transmitted).
inline constexpr int32_t QuantisationLevels[18] = {
    0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};

// Bits that one triple of samples of each class occupies in a Layer II granule.
inline constexpr int32_t ClassBitsPerGranule[18] = {0,  5,  7,  9,  10, 12, 15, 18, 21,
                                                    24, 27, 30, 33, 36, 39, 42, 45, 48};

// Width of one sample code of an ungrouped class (classes 3 and 5..17).
inline constexpr int32_t ClassCodeBits[18] = {0, 0, 0,  3,  0,  4,  5,  6,  7,
                                              8, 9, 10, 11, 12, 13, 14, 15, 16};

// 2 / levels of each class, single precision (class 0 gives 0).
extern const std::array<float, 18> ClassFactors;
// 2 / (2^(code + 1) - 1) for the Layer I allocation codes 1..14 (0 and 15 give 0).
extern const std::array<float, 16> Layer1AllocationFactors;
// 65536 * 2^(-i/3): the scale factors of the standard on the 16-bit scale.
extern const std::array<float, 64> ScaleFactors;

// Grouped codes resolved into their three values, each centred on 0.
extern const std::array<std::array<int8_t, 3>, 32> Grouping3;
extern const std::array<std::array<int8_t, 3>, 128> Grouping5;
extern const std::array<std::array<int16_t, 3>, 1024> Grouping9;

// The allocation table for an MPEG-1 Layer II stream, or l2tNone when the standard allows
// none for this mode and bit rate.
TLayer2Table ChooseLayer2Table(int32_t id, int32_t mode, int32_t samplingIndex,
                               int32_t bitrateIndex);

} // namespace pelbrisk
