// How fast the stream information is read: LoadFromFile (tags at both ends and the first frame,
// what each play-list entry costs) and the full probe that walks every frame header, against
// libmpg123 opening the same file and scanning it for its exact length.
//
//   build/bench/stream_info_bench [seconds of audio]     (default 240)
#include "stream/Stream.h"
#include "info/StreamProbe.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mpg123.h>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

fs::path MakeFile(int seconds) {
    const fs::path dir = fs::temp_directory_path() / "pelbrisk-stream-info-bench";
    fs::create_directories(dir);
    const fs::path mp3 = dir / ("vbr-" + std::to_string(seconds) + ".mp3");
    if (fs::exists(mp3)) return mp3;
    const fs::path wav = dir / "signal.wav";
    const std::string make =
        "sox -R -n -r 44100 -c 2 '" + wav.string() + "' synth " + std::to_string(seconds) +
        " pinknoise tremolo 3 60 gain -8 && lame --quiet -V 2 --add-id3v2 --tt Bench --ta Bench '" +
        wav.string() + "' '" + mp3.string() + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the test file with sox and lame\n");
        std::exit(1);
    }
    return mp3;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 240;
    const fs::path file = MakeFile(seconds);
    const double megabytes = double(fs::file_size(file)) / 1e6;
    std::printf("file: %s, %.2f MB, %d s of VBR audio\n", file.c_str(), megabytes, seconds);

    constexpr int kLoads = 3000;
    pelbrisk::TMP3Info info;
    auto start = Clock::now();
    for (int i = 0; i < kLoads; ++i)
        info.LoadFromFile(file.string());
    const double loadUs = Seconds(start) / kLoads * 1e6;

    constexpr int kWalks = 20;
    int32_t frames = 0;
    start = Clock::now();
    for (int i = 0; i < kWalks; ++i) {
        pelbrisk::TMPFileStream stream(file.string());
        pelbrisk::TMPStreamReader reader(65536);
        reader.Attach(&stream, true);
        pelbrisk::TMP3StreamProbe probe;
        pelbrisk::ProbeStream(reader, info, probe, true);
        frames = probe.WalkedFrames;
    }
    const double walk = Seconds(start) / kWalks;

    mpg123_init();
    int error = 0;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.);
    start = Clock::now();
    for (int i = 0; i < kLoads; ++i) {
        mpg123_open(handle, file.c_str());
        mpg123_close(handle);
    }
    const double mpg123OpenUs = Seconds(start) / kLoads * 1e6;
    off_t mpg123Frames = 0;
    start = Clock::now();
    for (int i = 0; i < kWalks; ++i) {
        mpg123_open(handle, file.c_str());
        mpg123_scan(handle);
        mpg123Frames = mpg123_framelength(handle);
        mpg123_close(handle);
    }
    const double mpg123Scan = Seconds(start) / kWalks;
    mpg123_delete(handle);

    std::printf("LoadFromFile:           %8.1f us per file\n", loadUs);
    std::printf("mpg123_open:            %8.1f us per file\n", mpg123OpenUs);
    std::printf("probe + frame walk:     %8.1f MB/s (%d frames)\n", megabytes / walk, frames);
    std::printf("mpg123_open + scan:     %8.1f MB/s (%ld frames)\n", megabytes / mpg123Scan,
                long(mpg123Frames));
    return 0;
}
