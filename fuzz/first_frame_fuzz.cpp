#include "info/FrameSearch.h"
#include "info/MP3Info.h"
#include "stream/Errors.h"
#include "stream/Stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace pelbrisk;

namespace {

// The input's first byte says how many ID3v2 tags go in front (0 to 3); each takes its version,
// flags and size from the next bytes and that many bytes as its body, so that the search meets
// tags of every shape, sound or damaged, before whatever the rest of the input holds.
std::vector<uint8_t> TagsInFront(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file;
    size_t at = 1;
    for (int tag = 0; tag < data[0] % 4 && at + 3 <= size; ++tag) {
        const uint8_t version = uint8_t(2 + data[at] % 3);
        const uint8_t flags = data[at + 1];
        const size_t body = std::min<size_t>(data[at + 2] * 8u, size - (at + 3));
        at += 3;
        const uint8_t header[10] = {'I',
                                    'D',
                                    '3',
                                    version,
                                    0,
                                    flags,
                                    uint8_t((body >> 21) & 0x7F),
                                    uint8_t((body >> 14) & 0x7F),
                                    uint8_t((body >> 7) & 0x7F),
                                    uint8_t(body & 0x7F)};
        file.insert(file.end(), header, header + 10);
        file.insert(file.end(), data + at, data + at + body);
        at += body;
    }
    file.insert(file.end(), data + at, data + size);
    return file;
}

// Whatever the bytes, a first frame found lies inside them, starts with the header it reports,
// and is confirmed by the frame behind it or by the end of the audio data.
void Search(const std::vector<uint8_t>& file, bool seekable) {
    TMPMemoryStream stream(file.data(), file.size());
    TMPStreamReader reader(TMP3Info::kFileReaderCapacity);
    reader.Attach(&stream, seekable);
    TMP3Info info;
    info.AttachReader(&reader);
    TFirstFrame first;
    if (!info.LocateAudio(first)) return;
    const auto start = static_cast<size_t>(info.AudioStart());
    const auto length = static_cast<size_t>(first.Length);
    if (start + length > file.size() || reader.Position() != info.AudioStart()) std::abort();
    TMP3FrameHeader header;
    if (CheckFrame(file.data() + start, first.Reference, header, first.FreeFormatLength) !=
        first.Length)
        std::abort();
    const size_t next = start + length;
    const bool endsThere =
        next == file.size() || (info.AudioLength() != TMP3Info::kUnknownLength &&
                                next == start + static_cast<size_t>(info.AudioLength()));
    if (!endsThere && (next + 4 > file.size() || CheckFrame(file.data() + next, first.Reference,
                                                            header, first.FreeFormatLength) <= 0))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<uint8_t> file = TagsInFront(data, size);
    try {
        Search(file, true);
        Search(file, false);
    } catch (const EMP3AssertionFailure&) {
        std::abort();
    } catch (const EMP3Error&) {
        // The stream's own refusals are reported, not crashes.
    }
    return 0;
}
