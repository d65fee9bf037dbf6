#pragma once

#include "decoder/Decoder.h"
#include "decoder/DecoderState.h"
#include "decoder/Layer12BitReader.h"
#include "info/FrameHeader.h"

#include <cstdint>

namespace pelbrisk {

// Set-ups for Layer I and Layer II streams: 1 on success, 0 when the stream cannot be decoded.
// `bandwidth` is already raised to at least 1000 Hz; decoder.OutputSelector is already chosen.
int32_t Layer1Setup(TMP3Decoder& decoder, const TMP3FrameHeader& header, int32_t length,
                    int32_t bandwidth);
int32_t Layer2Setup(TMP3Decoder& decoder, const TMP3FrameHeader& header, int32_t length,
                    int32_t bandwidth);

TDecodeResult Layer1DecodeFrame(TMP3Decoder& decoder, const uint8_t* frame, int32_t frameBytes,
                                uint8_t* output);
TDecodeResult Layer2DecodeFrame(TMP3Decoder& decoder, const uint8_t* frame, int32_t frameBytes,
                                uint8_t* output);

// The set-up steps both layers share: the decode limit from the bandwidth (all coded subbands
// with FullBand), doubled counts for two channels, the output format, cleared sample rows and
// synthesis. `entryCount` counts one channel's coded subbands.
void SetUpLayer12(TMP3Decoder& decoder, const TMP3FrameHeader& header, int32_t length,
                  int32_t bandwidth, int32_t entryCount, int32_t samplesPerChannel,
                  int32_t sampleRows);

// Gives the entries the layout of a frame with `channels` channels of `subbands` coded subbands:
// at the set-up, and again for each frame whose channel count differs from the last.
void LayOutLayer12Entries(TLayer12State& state, int32_t channels, int32_t subbands);

// What a frame's own header says beyond the set-up's.
struct TLayer12Frame {
    int32_t BitrateIndex = 0;
    int32_t Padding = 0;  // bytes
    int32_t ModeBits = 0; // mode and mode extension
    int32_t Channels = 0;
};

// Reads the header of a frame of the layer coded `layerCode` as both layers do: the sync, the
// fields into `frame`, the CRC skipped. False when the 12 sync bits are not all set.
bool ReadLayer12Header(TLayer12BitReader& reader, int32_t layerCode, TLayer12Frame& frame);
// The joint bound of the frame's mode, for the layout of its channels.
void SetJointBound(TLayer12State& state, int32_t modeBits);

// Gives `entry` its allocation class. Past the joint bound the next entry (the same subband of
// the other channel) shares the class and both are marked as joint, class + `jointOffset`;
// `separateLeft` counts down the entries still coded separately. Returns the entries given a
// class: 1, or 2 with the twin.
inline int32_t AssignAllocation(TLayer12State& state, int32_t entry, int32_t quantClass,
                                float classFactor, int32_t jointOffset, int32_t& separateLeft) {
    state.AllocClass[entry] = quantClass;
    state.SampleType[entry] = quantClass;
    state.ClassFactor[entry] = classFactor;
    if (--separateLeft >= 0) return 1;
    const int32_t twin = entry + 1;
    state.AllocClass[twin] = quantClass;
    state.SampleType[entry] = quantClass + jointOffset;
    state.SampleType[twin] = quantClass + jointOffset;
    state.ClassFactor[twin] = classFactor;
    return 2;
}

} // namespace pelbrisk
