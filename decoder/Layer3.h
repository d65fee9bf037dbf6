#pragma once

#include "decoder/Decoder.h"
#include "info/FrameHeader.h"

#include <cstdint>
#include <memory>

namespace pelbrisk {

struct TMP3Decoder;

// All Layer III working state of one decoder (reservoir, side information, spectra, overlap).
struct TLayer3State;
void DestroyLayer3State(TLayer3State* state);
struct TLayer3StateDeleter {
    void operator()(TLayer3State* state) const { DestroyLayer3State(state); }
};
using TLayer3StatePtr = std::unique_ptr<TLayer3State, TLayer3StateDeleter>;
TLayer3StatePtr CreateLayer3State();

// Set-up for a Layer III stream; fills decoder.Format. 1 on success, 0 when refused.
int32_t Layer3Setup(TMP3Decoder& decoder, const TMP3FrameHeader& header, int32_t frameSizeArgument,
                    int32_t shift, int32_t reserved, int32_t outputFlags, int32_t frequencyLimit);

// Decodes one Layer III frame of `frameBytes` held bytes into `output`.
TDecodeResult Layer3DecodeFrame(TMP3Decoder& decoder, const uint8_t* frame, int32_t frameBytes,
                                uint8_t* output);

} // namespace pelbrisk
