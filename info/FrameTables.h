#pragma once

#include "info/FrameHeader.h"

#include <cstdint>

namespace pelbrisk {

// The most bytes a free-format search looks through: its frames are shorter than this.
inline constexpr int32_t kLargestFreeFormatScan = 10000;

// Bit rates in kbit/s by [Id][layer code][BitrateIndex]; layer code 3 is Layer I, 1 Layer III,
// 0 (reserved) a row of zeros. Id 0 rows hold the low-sampling-frequency rates, whose Layer II
// and Layer III rows are the same. Entries 0 (free format) and 15 (forbidden) are 0.
inline constexpr int32_t kBitrateTable[2][4][16] = {
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    },
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    },
};

// Sampling frequencies in units of 50 Hz by [Id][SamplingIndex]. MPEG-2.5 shares the Id 0 row
// although its rates are half of these; its Layer III length constant makes up for it. The
// reserved index holds -999 so that every length computed with it comes out negative.
inline constexpr int32_t kSamplingTable[2][4] = {
    {441, 480, 320, -999},
    {882, 960, 640, -999},
};

// Layer code as coded (3, 2, 1) to the layer's number (1, 2, 3); 0 for the reserved code.
inline constexpr int32_t LayerNumberOf(int32_t layerCode) {
    return layerCode >= 1 && layerCode <= 3 ? 4 - layerCode : 0;
}

// Bytes of one padding slot: four in Layer I, one in Layers II and III.
inline constexpr int32_t PaddingSlotBytes(int32_t layerCode) {
    return layerCode == 3 ? 4 : 1;
}

// The bytes a frame's padding bit adds to it.
inline constexpr int32_t PaddingSlotOf(const TMP3FrameHeader& header) {
    return header.Padding * PaddingSlotBytes(header.Layer);
}

// 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5; 0 without a sync and for the reserved version code.
inline constexpr int32_t MpegVersionOf(const TMP3FrameHeader& header) {
    if (header.SyncKind == 1) return header.Id == 1 ? 1 : 2;
    if (header.SyncKind == 2 && header.Id == 0) return 3;
    return 0;
}

// The sampling frequency in Hz; 0 for the reserved index.
inline constexpr int32_t SamplingFrequencyOf(const TMP3FrameHeader& header) {
    if (header.SamplingIndex < 0 || header.SamplingIndex > 2) return 0;
    const int32_t frequency = kSamplingTable[header.Id != 0 ? 1 : 0][header.SamplingIndex] * 50;
    return header.SyncKind == 2 ? frequency / 2 : frequency;
}

} // namespace pelbrisk
