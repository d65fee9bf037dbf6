#include "info/ApeTag.h"
#include "info/Id3v2Tag.h"
#include "info/StreamProbe.h"
#include "stream/Errors.h"
#include "stream/Stream.h"

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
    // As the window reads the playing song: with its cover.
    info.SetWantPicture(true);
    if (info.ReadHeadTags() && info.FindFirstFrame()) info.ReadTailTags();
    (void)info.ReplayGain();
    if (info.AudioStart() < 0 || info.AudioStart() > static_cast<int32_t>(size)) std::abort();
}

// The tag readers straight on the bytes, whatever the header would have said: the frames of each
// ID3v2 version, unsynchronised or not, up to any tag end, and an APE tag ending at the end.
void ReadTagsDirectly(const uint8_t* data, size_t size) {
    TMPMemoryStream stream(data, size);
    TMPStreamReader reader(4096); // small, so that frames and items outgrow it
    reader.Attach(&stream, true);
    const int64_t tagEnd = size > 0 ? data[0] * int64_t(size) / 255 : 0;
    for (uint8_t version = 2; version <= 4; ++version) {
        for (const bool unsynchronised : {false, true}) {
            reader.Seek(0, msoFromBeginning);
            std::vector<std::string> lines;
            TId3v2Frames frames(reader, tagEnd, version, unsynchronised);
            frames.WantPicture(true);
            frames.Read(lines);
            if (reader.Position() > static_cast<int32_t>(size)) std::abort();
        }
    }
    std::vector<std::string> lines;
    TTagPicture picture;
    if (ReadApeTag(reader, static_cast<int64_t>(size), lines, &picture) >
        static_cast<int64_t>(size))
        std::abort();
}

} // namespace

// Tags, wrappers and the first-frame search over arbitrary bytes, seekable and not: bad input
// must only ever give false results, never a crash, a read out of bounds or an internal error.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        Probe(data, size, true);
        Probe(data, size, false);
        ReadTagsDirectly(data, size);
    } catch (const EMP3AssertionFailure&) {
        std::abort();
    } catch (const EMP3Error&) {
        // The stream's own refusals (a seek before the start) are reported, not crashes.
    }
    return 0;
}
