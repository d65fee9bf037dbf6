#pragma once

#include "info/FrameHeader.h"

#include <cstdint>

namespace pelbrisk {

// What a set-up chose for the stream's PCM.
struct TMP3DecoderFormat {
    int32_t Channels = 0;
    int32_t SamplesPerFrame = 0; // over all output channels
    int32_t SampleRate = 0;
    int32_t BitsPerSample = 0;
    int32_t FrameLength = 0; // as given to the set-up, without the padding slot
    int32_t Reserved = 0;
};

// (consumed, outputBytes) of one frame; (0, 0) when the frame could not be decoded.
struct TDecodeResult {
    int32_t Consumed = 0;
    int32_t OutputBytes = 0;
};

struct TMP3Decoder; // decoder/DecoderState.h

// The process-wide decoder the player drives. Tests and tools may own their own TMP3Decoder
// and call the same operations on it (see DecoderState.h).
TMP3Decoder& ProcessDecoder();

// Set-up options. Bits 1..0 choose the output channels of a two-channel stream: both, mixed to
// one, the left or the right one alone. A stream that is known to hold two-channel frames after
// a single-channel first frame asks for two output channels; frames with one channel then feed
// both.
inline constexpr int32_t kMixToOneChannel = 0x01;
inline constexpr int32_t kTwoChannelOutput = 0x04;

// Prepares the process-wide decoder for the stream whose first frame header is `header`;
// 1 on success, 0 when this layer cannot be decoded with these parameters. Frames whose channel
// count differs from the output's are duplicated into it or mixed down to it.
int32_t OpenDecoder(const TMP3FrameHeader& header, int32_t length, int32_t shift, int32_t layer3Arg,
                    int32_t options, int32_t bandwidth);

// Decodes the frame at `frame`. `frameBytes` is how many bytes the caller holds from there;
// the decoder never reads beyond them (missing bits read as zeros).
TDecodeResult DecodeFrame(const uint8_t* frame, int32_t frameBytes, uint8_t* output);

void GetDecoderFormat(TMP3DecoderFormat& destination);

// Equaliser and polarity, written by the player's equaliser rebuild.
float* SubbandGain(int32_t index); // 0..31
int32_t* SubbandEqualizerOn();
float* LineGain(int32_t index); // 0..575
int32_t* LineEqualizerOn();
void SetPolarity(bool inverted);
bool GetPolarity();

} // namespace pelbrisk
