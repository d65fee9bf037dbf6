#pragma once

#include "decoder/Decoder.h"
#include "decoder/Layer3.h"
#include "info/FrameHeader.h"

#include <cstdint>

namespace pelbrisk {

// The frame header's Layer field as coded.
enum TCodedLayer : int32_t { clLayerIII = 1, clLayerII = 2, clLayerI = 3 };

// Which PCM a set-up chose: 0 single-channel stream, else the channel selection + 1
// (1 both channels, 2 mixed to mono, 3 left only, 4 right only). The synthesis of a frame whose
// channel count differs from the set-up's takes osDuplicatedMono (one channel into a
// two-channel output), osMonoStream or osMixedToMono for that frame alone.
enum TOutputSelector : int32_t {
    osMonoStream = 0,
    osBothChannels = 1,
    osMixedToMono = 2,
    osLeftOnly = 3,
    osRightOnly = 4,
    osDuplicatedMono = 5,
};

// The Layer I/II working state, rebuilt in every frame. An entry is one subband of one channel
// (two-channel streams interleave them: 2 * subband + channel).
struct TLayer12State {
    int32_t AllocClass[64];
    int32_t SampleType[65];          // one more slot for the end marker
    float ClassFactor[64];           // requantisation factor of the entry's class
    int32_t ScaleSelect[65];         // Layer II scale-factor selection, one more for the marker
    float Factor[3][64];             // ClassFactor times scale factor, per scale-factor part
    int32_t EntryCount = 0;          // entries coded in a frame
    int32_t DecodeLimit = 0;         // entries from here on are read past, not requantised
    int32_t SkipCount = 0;           // bits of the entries past DecodeLimit in a row or granule
    int32_t JointBound = 0;          // entries coded separately before joint stereo sharing
    int32_t GroupEntries[4] = {};    // per allocation group, doubled for two channels
    int32_t GroupFieldWidth[4] = {}; // allocation-field width in bits
    uint8_t GroupClassByCode[4][16] = {};
    TMP3FrameHeader Header;                 // of the set-up
    int32_t Channels = 0;                   // channels coded in the frame: 1 or 2
    int32_t SubbandLimit = 0;               // subbands decoded per channel, from the bandwidth
    int32_t BitrateIndex = 0;               // of the frame the Layer II layout was made for
    int32_t FrameLength = 0;                // without the padding slot
    alignas(32) float Samples[36][64] = {}; // one row per time slot, indexed by entry
};

// The whole state of one MPEG audio decoder. The player drives the process-wide instance
// (ProcessDecoder()); tests and tools may own their own.
struct TMP3Decoder {
    using TFrameDecoder = TDecodeResult (*)(TMP3Decoder& decoder, const uint8_t* frame,
                                            int32_t frameBytes, uint8_t* output);

    TMP3Decoder();
    TMP3Decoder(const TMP3Decoder&) = delete;
    TMP3Decoder& operator=(const TMP3Decoder&) = delete;

    // 1 when the stream of `header` can be decoded with these parameters, else 0 (and the
    // decoder refuses every frame until a later set-up succeeds).
    int32_t Open(const TMP3FrameHeader& header, int32_t length, int32_t shift, int32_t layer3Arg,
                 int32_t options, int32_t bandwidth);
    TDecodeResult Decode(const uint8_t* frame, int32_t frameBytes, uint8_t* output);
    void GetFormat(TMP3DecoderFormat& destination) const { destination = Format; }
    void SetPolarity(bool inverted);
    bool GetPolarity() const { return PolarityInverted; }

    TMP3DecoderFormat Format;
    int32_t OutputBytes = 0; // PCM bytes of one frame
    TOutputSelector OutputSelector = osMonoStream;

    // Verification switch: decode all 32 subbands, ignoring the bandwidth limit. Never set by
    // the player.
    bool FullBand = false;

    // Synthesis: one ring per output channel holding the DCT-32 results of the last 16 slots.
    alignas(32) float Ring[2][512] = {};
    int32_t RingPosition[2] = {0, 0};
    // The 264-value window; its sign carries the polarity.
    alignas(32) float WindowTable[264];
    bool PolarityInverted = false;

    // Equaliser, written by the player: per subband before synthesis, per Layer III line.
    float SubbandGain[32] = {};
    int32_t SubbandEqualizerOn = 0;
    float LineGain[576] = {};
    int32_t LineEqualizerOn = 0;

    TLayer3StatePtr Layer3;
    TFrameDecoder FrameDecoder = nullptr; // chosen by the last set-up
    TLayer12State Layer12;
};

} // namespace pelbrisk
