#include "tests/decoder/Layer12StreamDecode.h"

#include "info/FrameHeader.h"

namespace pelbrisk::test {

namespace {

int32_t PaddingSlot(const TMP3FrameHeader& header) {
    return header.Layer == 3 ? 4 : 1;
}

} // namespace

Layer12Decoded DecodeStream(TMP3Decoder& decoder, const std::vector<uint8_t>& bytes,
                            int32_t options, int32_t bandwidth) {
    Layer12Decoded result;
    const auto size = static_cast<int32_t>(bytes.size());
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = 0;
    const int32_t firstLength = FindFrameSync(bytes.data(), size, header, bitrate, offset);
    if (firstLength <= 0) return result;
    result.Opened = decoder.Open(header, firstLength, 0, 0, options, bandwidth) == 1;
    if (!result.Opened) return result;
    decoder.GetFormat(result.Format);
    // Room for the largest frame of any layer, aligned for 16-bit samples.
    std::vector<int16_t> pcm(4608);
    while (offset + 4 <= size) {
        TMP3FrameHeader frameHeader;
        const int32_t length = DecodeFrameHeader(bytes.data() + offset,
                                                 static_cast<uint32_t>(size - offset), frameHeader);
        if (length <= 0) break;
        const int32_t frameLength = length + frameHeader.Padding * PaddingSlot(frameHeader);
        const TDecodeResult decoded = decoder.Decode(bytes.data() + offset, size - offset,
                                                     reinterpret_cast<uint8_t*>(pcm.data()));
        if (decoded.Consumed < 1) {
            ++result.FailedFrames;
        } else {
            ++result.Frames;
            result.Samples.insert(result.Samples.end(), pcm.begin(),
                                  pcm.begin() + decoded.OutputBytes / 2);
        }
        offset += frameLength;
    }
    return result;
}

} // namespace pelbrisk::test
