#pragma once

#include "decoder/Layer3.h"
#include "decoder/Layer3BitReader.h"

#include <cstdint>

namespace pelbrisk {

struct TGranuleInfo {
    int32_t Part23Length;
    int32_t BigValues;
    int32_t GlobalGain; // already lowered for M/S and the down-mix
    int32_t ScalefacCompress;
    int32_t WindowSwitching;
    int32_t BlockType;
    int32_t MixedBlock;
    int32_t TableSelect[3];
    int32_t SubblockGain[3];
    int32_t Region0Count;
    int32_t Region1Count;
    int32_t Preflag;
    int32_t ScalefacScale;
    int32_t Count1TableSelect;
};

struct TLayer3SideInfo {
    int32_t Id;
    int32_t SamplingIndex;
    int32_t Padding;
    int32_t Mode;
    int32_t ModeExtension;
    int32_t MidSide;
    int32_t Intensity;
    int32_t CrcBytes;
    int32_t FrameBodyBytes;
    int32_t FrameBytes;
    int32_t MainDataBegin;
    int32_t PrivateBits;
    int32_t Channels;
    int32_t Scfsi[2];
    TGranuleInfo Granule[2][2]; // [granule slot][channel]
};

struct TScaleFactors {
    int32_t Long[23];
    int32_t Short[3][13]; // [window][band]
};

// LSF intensity stereo: how the right channel's scale factors turn into positions.
struct TIntensityPartition {
    int32_t Scale;
    // 2^slen - 1 of each band's partition (0 past the third), by long and by short band.
    int32_t LongLimit[22];
    int32_t ShortLimit[13];
};

struct TSpectrumExtent {
    int32_t HasShort;
    int32_t LastNonZeroBand;
    int32_t FirstShortBand;
    int32_t LongBandCount;
    int32_t LastNonZeroShort[3];
};

enum TLayer3Stage : int32_t { lsMono, lsRight, lsStereo, lsMix };

struct TLayer3Constants;

constexpr int32_t MainDataBufferBytes = 8192;
constexpr int32_t CompactionThreshold = 6692;

struct TLayer3State {
    TLayer3SideInfo Side{};
    TScaleFactors ScaleFactors[2][2]{}; // [granule slot][channel]
    TIntensityPartition Intensity{};
    TSpectrumExtent Extent[2][2]{}; // [granule slot][channel]
    int32_t NonZeroLines[2][2]{};   // [granule slot][channel]
    alignas(32) int32_t Quantized[2][576]{};
    // Spectrum[channel][slot]: the granule's spectrum, then the overlap it leaves for the next.
    alignas(32) float Spectrum[2][2][576]{};
    alignas(32) float SubbandSamples[18][32]{};
    alignas(32) float Reorder[576]{};

    uint8_t MainData[MainDataBufferBytes]{};
    int32_t Fill = 0;
    int32_t FrameStart = 0;
    int32_t MainDataBit = 0; // where the next channel's main data starts
    TLayer3BitReader Reader;

    // Set-up values.
    const TLayer3Constants* Constants = nullptr;
    bool Lsf = false;
    int32_t Version = 1; // MpegVersionOf: 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
    int32_t SamplingIndex = 0;
    int32_t OutputChannels = 1;
    int32_t FreeFormatBytes = 0;
    int32_t BandLimit = 0;
    int32_t LineLimit = 0;
    int32_t LongLineLimit = 0;
    int32_t ShortLineLimit = 0;
    int32_t GainOffset = 0;
    int32_t MixedLongBands = 8;
    int32_t ZeroSubbands = 0;
    int32_t LongEnd[22]{};
    int32_t ShortEnd3[13]{};
    int32_t ShortWidth[13]{};
    TLayer3Stage Stage = lsMono;
    int32_t OutputBytes = 0;
    int32_t LsfSlot = 0;
};

// Tables built once from their rules.
struct TLayer3Constants {
    float GainPower[262];
    float ScaleFactorGain[2][4][32];
    float SmallPow[64];
    double PowerThird[8208]; // |x|^e for the values outside -32..31
    float SubblockFactor[8];
    float AliasCs[8];
    float AliasCa[8];
    float IntensityMpeg1[2][8][2];
    float IntensityLsf[2][2][64][2];
    // Count1 quadruples by the next 10 (table A) or 8 (table B) bits: bits used in the low
    // byte, then v, w, x, y as two-bit signed fields from bit 8 up.
    uint32_t Count1Quadruples[2][1024];
};
const TLayer3Constants& Layer3Constants();

// Spectral decoding of one granule slot (both channels), then its processing into PCM.
void DecodeGranule(TMP3Decoder& decoder, TLayer3State& state, int32_t slot, int16_t* output);
void ProcessGranule(TMP3Decoder& decoder, TLayer3State& state, int32_t slot, int16_t* output);

// Huffman and scale-factor decoding, exposed for the tests.
int32_t DecodeCount1(TLayer3BitReader& reader, int32_t* out, int32_t lines, int32_t bitsLeft,
                     int32_t table);
void DecodeBigValues(TLayer3BitReader& reader, int32_t* out, int32_t lines, int32_t table);

} // namespace pelbrisk
