#pragma once

#include "decoder/DecoderState.h"

#include <cstdint>
#include <vector>

namespace pelbrisk::test {

struct Layer12Decoded {
    bool Opened = false;
    int32_t Frames = 0;       // frames decoded
    int32_t FailedFrames = 0; // frames the decoder refused
    TMP3DecoderFormat Format;
    std::vector<int16_t> Samples;
};

// Walks the frames of a whole stream from its first sync by their headers (plus the padding
// slot), sets `decoder` up for the first one with the player's arguments but `options`, and
// decodes every frame into one sample sequence.
Layer12Decoded DecodeStream(TMP3Decoder& decoder, const std::vector<uint8_t>& bytes,
                            int32_t options = 0, int32_t bandwidth = 24000);

} // namespace pelbrisk::test
