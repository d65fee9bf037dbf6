// Sets the process-wide decoder up from the input's first header and feeds it the rest frame
// by frame, the way the player does: the decoder must never read outside the bytes it is given.
#include "decoder/Decoder.h"
#include "info/FrameHeader.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr int kMaxFrames = 64;
// The largest frame of any layer: 1152 samples in each of two channels.
alignas(16) int16_t gOutput[2304];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pelbrisk;
    if (size < 5 || size > (1u << 20)) return 0;
    const int32_t options = data[0] & 0x0B; // channel selection and the 8-bit request
    const int32_t bandwidth = (data[0] & 0x80) != 0 ? 1000 : 24000;
    const uint8_t* stream = data + 1;
    const auto streamSize = static_cast<int32_t>(size - 1);

    TMP3FrameHeader header;
    const int32_t length = DecodeFrameHeader(stream, static_cast<uint32_t>(streamSize), header);
    if (OpenDecoder(header, length, 0, 0, options, bandwidth) == 0) return 0;
    TMP3DecoderFormat format;
    GetDecoderFormat(format);
    if (format.SamplesPerFrame * 2 > static_cast<int32_t>(sizeof(gOutput))) __builtin_trap();

    int32_t offset = 0;
    for (int frame = 0; frame < kMaxFrames && offset < streamSize; ++frame) {
        const TDecodeResult result =
            DecodeFrame(stream + offset, streamSize - offset, reinterpret_cast<uint8_t*>(gOutput));
        if (result.OutputBytes > static_cast<int32_t>(sizeof(gOutput))) __builtin_trap();
        offset += result.Consumed >= 1 ? result.Consumed : 1;
    }
    return 0;
}
