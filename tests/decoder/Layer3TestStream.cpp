#include "tests/decoder/Layer3TestStream.h"

#include "info/FrameHeader.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk::test {

bool IsInformationFrame(const uint8_t* frame, int32_t length) {
    const int32_t searched = std::min(length, 64);
    for (int32_t at = 4; at + 4 <= searched; ++at) {
        if (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0 ||
            std::memcmp(frame + at, "VBRI", 4) == 0)
            return true;
    }
    return false;
}

TLayer3Decoded DecodeLayer3Stream(TMP3Decoder& decoder, const std::vector<uint8_t>& bytes,
                                  int32_t options) {
    TLayer3Decoded result;
    const auto size = static_cast<int32_t>(bytes.size());
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = 0;
    const int32_t firstLength = FindFrameSync(bytes.data(), size, header, bitrate, offset);
    if (firstLength <= 0) return result;
    result.Opened = decoder.Open(header, firstLength, 0, 0, options, 24000) == 1;
    if (!result.Opened) return result;
    decoder.GetFormat(result.Format);
    std::vector<int16_t> pcm(4608);
    bool first = true;
    while (offset + 4 <= size) {
        TMP3FrameHeader frame;
        const int32_t length =
            DecodeFrameHeader(bytes.data() + offset, static_cast<uint32_t>(size - offset), frame);
        if (length <= 0) break;
        const int32_t frameLength = length + frame.Padding;
        if (first && IsInformationFrame(bytes.data() + offset, frameLength)) {
            first = false;
            offset += frameLength;
            continue;
        }
        first = false;
        const TDecodeResult decoded = decoder.Decode(bytes.data() + offset, size - offset,
                                                     reinterpret_cast<uint8_t*>(pcm.data()));
        if (decoded.Consumed < 1) {
            ++result.FailedFrames;
        } else {
            ++result.Frames;
            result.OutputBytes.push_back(decoded.OutputBytes);
            result.Samples.insert(result.Samples.end(), pcm.begin(),
                                  pcm.begin() + decoded.OutputBytes / 2);
        }
        offset += frameLength;
    }
    return result;
}

} // namespace pelbrisk::test
