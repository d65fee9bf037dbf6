#include "info/FrameHeader.h"
#include "info/StreamProbe.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace pelbrisk;

// Every header routine over every position of arbitrary bytes: none may read beyond `size`.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = -1;
    const int32_t count = static_cast<int32_t>(size);
    if (FindFrameSync(data, count, header, bitrate, offset) != 0 &&
        (offset < 0 || offset + 4 > count))
        std::abort();
    // A free-format stream's frames take the length found at its first frame.
    const int32_t freeFormatLength =
        size >= 4 ? FindFreeFormatLength(data, static_cast<uint32_t>(size)) : 0;
    for (size_t at = 0; at + 4 <= size; ++at) {
        const auto available = static_cast<uint32_t>(size - at);
        const int32_t length = DecodeFrameHeaderBitrate(data + at, available, header, bitrate);
        // Layer I frames are whole 4-byte slots.
        if (length > 0 && header.Layer == 3 && length % 4 != 0 && header.BitrateIndex != 0)
            std::abort();
        const int32_t checked = CheckFrame(data + at, data, header, freeFormatLength);
        if (checked > 0 && header.BitrateIndex == 0 && checked < freeFormatLength) std::abort();
    }
    return 0;
}
