#include "info/StreamProbe.h"
#include "stream/Stream.h"
#include "tests/support/Paths.h"

#include <gtest/gtest.h>
#include <set>

namespace pelbrisk {
namespace {

// The demo library is what scripts/run shows; it must keep the variety it promises.
TEST(DemoLibrary, SmallTaggedAndVaried) {
    const auto root = test::SourceDir() / "demo";
    ASSERT_TRUE(std::filesystem::is_directory(root));
    uintmax_t bytes = 0;
    int files = 0, informationFrames = 0, layerTwo = 0, lowRateMono = 0;
    std::set<std::string> artists;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        bytes += entry.file_size();
        ++files;
        TMPFileStream stream(entry.path().string());
        TMPStreamReader reader(65536);
        reader.Attach(&stream, true);
        TMP3Info info;
        TMP3StreamProbe probe;
        ASSERT_TRUE(ProbeStream(reader, info, probe, false)) << entry.path();
        EXPECT_EQ(info.FoundTypes(), mitID3V1 | mitID3V2) << entry.path();
        EXPECT_GT(probe.Duration, 3000) << entry.path();
        EXPECT_FALSE(info.Title().empty());
        artists.insert(info.Artist());
        informationFrames += probe.VbrHeader.Kind == TMP3VbrHeaderKind::Xing;
        layerTwo += probe.Format.LayerNumber == 2;
        lowRateMono += probe.Format.MpegVersion == 2 && probe.Format.SampleRate == 22050 &&
                       probe.Format.Channels == 1;
    }
    EXPECT_GE(files, 4);
    EXPECT_LT(bytes, 1u << 20);
    EXPECT_GE(artists.size(), 2u);
    EXPECT_GE(informationFrames, 1);
    EXPECT_GE(layerTwo, 1);
    EXPECT_GE(lowRateMono, 1);
}

} // namespace
} // namespace pelbrisk
