// Decoding speed of our decoder against libmpg123 on the same in-memory MP3 files.
//
// Usage: decode_bench [repetitions] [seconds] [file name]
// Makes its files once (sox music-like signal, lame) in $PELBRISK_BENCH_CACHE or the system's
// temporary folder, then decodes each file `repetitions` times with both decoders in turn and
// prints the median thread CPU time of each, the median of the per-repetition ratios ours /
// libmpg123 and the lowest and highest of those ratios: on a shared machine the best run says
// little.
#include "decoder/CpuFeatures.h"
#include "decoder/DecoderState.h"
#include "info/FrameHeader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mpg123.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pelbrisk::TDecodeResult;
using pelbrisk::TMP3Decoder;
using pelbrisk::TMP3FrameHeader;

fs::path CacheDir() {
    const char* configured = std::getenv("PELBRISK_BENCH_CACHE");
    fs::path dir =
        configured ? fs::path(configured) : fs::temp_directory_path() / "pelbrisk-decode-bench";
    fs::create_directories(dir);
    return dir;
}

void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

fs::path Make(const fs::path& target, const std::string& command) {
    if (!fs::exists(target)) {
        const fs::path partial = target.string() + ".part" + target.extension().string();
        std::string line = command;
        line.replace(line.find("{out}"), 5, "'" + partial.string() + "'");
        Run(line);
        fs::rename(partial, target);
    }
    return target;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Our decoder as the player drives it: set up for the first header, then one frame at a time.
size_t DecodeOurs(TMP3Decoder& decoder, const std::vector<uint8_t>& bytes,
                  std::vector<int16_t>& pcm) {
    const auto size = static_cast<int32_t>(bytes.size());
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = 0;
    const int32_t length = pelbrisk::FindFrameSync(bytes.data(), size, header, bitrate, offset);
    if (length <= 0 || decoder.Open(header, length, 0, 0, 0, 24000) != 1) return 0;
    size_t samples = 0;
    int16_t* out = pcm.data();
    while (offset + 4 <= size) {
        TMP3FrameHeader frame;
        const int32_t frameLength = pelbrisk::DecodeFrameHeader(
            bytes.data() + offset, static_cast<uint32_t>(size - offset), frame);
        if (frameLength <= 0) break;
        const TDecodeResult result =
            decoder.Decode(bytes.data() + offset, size - offset, reinterpret_cast<uint8_t*>(out));
        if (result.OutputBytes > 0 && samples + 4608 < pcm.size()) {
            samples += static_cast<size_t>(result.OutputBytes / 2);
            out = pcm.data() + samples;
        }
        offset += frameLength + frame.Padding;
    }
    return samples;
}

size_t DecodeMpg123(const std::vector<uint8_t>& bytes, std::vector<int16_t>& pcm) {
    int error = 0;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    mpg123_param(handle, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(handle);
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(handle, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(handle);
    size_t done = 0;
    size_t samples = 0;
    int status = mpg123_decode(handle, bytes.data(), bytes.size(),
                               reinterpret_cast<unsigned char*>(pcm.data()), pcm.size() * 2, &done);
    samples += done / 2;
    while (status == MPG123_NEW_FORMAT || status == MPG123_OK) {
        status = mpg123_decode(handle, nullptr, 0,
                               reinterpret_cast<unsigned char*>(pcm.data() + samples),
                               (pcm.size() - samples) * 2, &done);
        samples += done / 2;
    }
    mpg123_delete(handle);
    return samples;
}

// CPU time of this thread: on a shared machine, time slices given to other processes do not
// count against either decoder.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 300;
    const std::string only = argc > 3 ? argv[3] : "";
    mpg123_init();
    const fs::path dir = CacheDir();
    const std::string tag = std::to_string(seconds);
    const fs::path wav = Make(dir / ("signal-" + tag + ".wav"),
                              "sox -n -r 44100 -c 2 -b 16 {out} synth " + tag +
                                  " sine 100-3000 sine 440 pinknoise brownnoise tremolo 2 50 "
                                  "remix 1,3v0.2 2,4v0.2 gain -n -3");
    struct TFile {
        std::string Name;
        std::string LameArguments;
    };
    const TFile files[] = {{"cbr128", "-b 128"},
                           {"cbr320", "-b 320"},
                           {"vbr-v2", "-V 2"},
                           {"mpeg2-22k", "--resample 22.05 -b 64"}};

    // The player's settings: every capability the processor has, the player's bandwidth.
    const uint32_t detected = pelbrisk::DetectProcessorFeatures();
    pelbrisk::SelectRoutines(
        pelbrisk::FeaturesWithCapabilities(detected, pelbrisk::kAllCpuCapabilities));
    std::printf("processor features 0x%x, %d repetitions, %d s files\n", detected, repetitions,
                seconds);
    std::printf("%-10s %10s %12s %8s %14s\n", "file", "ours (ms)", "mpg123 (ms)", "ratio",
                "ratio range");

    auto decoder = std::make_unique<TMP3Decoder>();
    std::vector<int16_t> ours(static_cast<size_t>(seconds + 10) * 48000 * 2);
    std::vector<int16_t> theirs(ours.size());
    for (const TFile& file : files) {
        if (!only.empty() && file.Name != only) continue;
        const fs::path mp3 =
            Make(dir / (file.Name + "-" + tag + ".mp3"),
                 "lame --quiet " + file.LameArguments + " '" + wav.string() + "' {out}");
        const std::vector<uint8_t> bytes = ReadAll(mp3);
        std::vector<double> times[2];
        std::vector<double> ratios;
        size_t counts[2] = {0, 0};
        for (int r = 0; r < repetitions; ++r) {
            double start = ThreadSeconds();
            counts[0] = DecodeOurs(*decoder, bytes, ours);
            times[0].push_back(ThreadSeconds() - start);
            start = ThreadSeconds();
            counts[1] = DecodeMpg123(bytes, theirs);
            times[1].push_back(ThreadSeconds() - start);
            ratios.push_back(times[0].back() / times[1].back());
        }
        const auto [lowest, highest] = std::minmax_element(ratios.begin(), ratios.end());
        const double low = *lowest;
        const double high = *highest;
        std::printf("%-10s %10.1f %12.1f %8.3f %6.3f-%-7.3f (%zu / %zu samples)\n",
                    file.Name.c_str(), Median(times[0]) * 1000, Median(times[1]) * 1000,
                    Median(ratios), low, high, counts[0], counts[1]);
    }
    mpg123_exit();
    return 0;
}
