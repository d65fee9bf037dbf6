// Whole streams through the decoder: the sync search, the set-up for the first header, then
// every frame the headers lead to, with whatever bytes remain behind each.
// The first input byte picks the full-band switch and the channel selection.
#include "decoder/DecoderState.h"
#include "info/FrameHeader.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pelbrisk;
    static const std::unique_ptr<TMP3Decoder> decoder = std::make_unique<TMP3Decoder>();
    static uint8_t pcm[4608 * 2];
    if (size < 5) return 0;
    decoder->FullBand = (data[0] & 1) != 0;
    const int32_t options = (data[0] >> 1) & 3;
    const uint8_t* bytes = data + 1;
    const auto count = static_cast<int32_t>(size - 1);

    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = 0;
    const int32_t length = FindFrameSync(bytes, count, header, bitrate, offset);
    if (length <= 0 || decoder->Open(header, length, 0, 0, options, 24000) != 1) return 0;
    for (int frames = 0; frames < 4000 && offset + 4 <= count; ++frames) {
        TMP3FrameHeader frame;
        const int32_t frameLength =
            DecodeFrameHeader(bytes + offset, static_cast<uint32_t>(count - offset), frame);
        // Damaged frames are handed over too: the decoder must refuse or survive them.
        decoder->Decode(bytes + offset, count - offset, pcm);
        // Layer I pads with a 4-byte slot, the other layers with one byte.
        const int32_t paddingSlot = frame.Layer == 3 ? 4 : 1;
        offset += frameLength > 0 ? frameLength + frame.Padding * paddingSlot : 1;
    }
    return 0;
}
