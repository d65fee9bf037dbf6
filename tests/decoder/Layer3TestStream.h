#pragma once

#include "decoder/DecoderState.h"

#include <cstdint>
#include <vector>

namespace pelbrisk::test {

struct TLayer3Decoded {
    bool Opened = false;
    int32_t Frames = 0;
    int32_t FailedFrames = 0;
    TMP3DecoderFormat Format;
    std::vector<int16_t> Samples;
    std::vector<int32_t> OutputBytes; // per decoded frame
};

// True when the frame carries a Xing, Info or VBRI information block instead of audio.
bool IsInformationFrame(const uint8_t* frame, int32_t length);

// Sets `decoder` up for the first frame of `bytes` with the player's arguments but `options`,
// skips an information frame as the player does, and decodes every frame by its header.
TLayer3Decoded DecodeLayer3Stream(TMP3Decoder& decoder, const std::vector<uint8_t>& bytes,
                                  int32_t options = 0);

} // namespace pelbrisk::test
