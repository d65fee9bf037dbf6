#include "stream/Errors.h"
#include "stream/Stream.h"
#include "info/StreamProbe.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace pelbrisk;

namespace {

void Probe(const uint8_t* data, size_t size, bool seekable) {
    TMPMemoryStream stream(data, size);
    TMPStreamReader reader(TMP3Info::kFileReaderCapacity);
    reader.Attach(&stream, seekable);
    TMP3Info info;
    TMP3StreamProbe probe;
    ProbeStream(reader, info, probe, true);
    (void)info.Title();
    (void)info.Artist();
    (void)info.Album();

    // The play-list path: head tags, first frame, tail tags.
    TMPMemoryStream again(data, size);
    reader.Attach(&again, true);
    info.AttachReader(&reader);
    if (info.ReadHeadTags() && info.FindFirstFrame()) info.ReadTailTags();
    if (info.AudioStart() < 0 || info.AudioStart() > static_cast<int32_t>(size)) std::abort();
}

} // namespace

// Tags, wrappers and the first-frame search over arbitrary bytes, seekable and not: bad input
// must only ever give false results, never a crash, a read out of bounds or an internal error.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        Probe(data, size, true);
        Probe(data, size, false);
    } catch (const EMP3AssertionFailure&) {
        std::abort();
    } catch (const EMP3Error&) {
        // The stream's own refusals (a seek before the start) are reported, not crashes.
    }
    return 0;
}
