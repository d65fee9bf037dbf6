// Layer II decoding speed of pelbrisk against libmpg123 on the same twolame stream, and the
// synthesis filter bank alone. Usage: layer12_decode [seconds of audio, default 60]
#include "decoder/DecoderState.h"
#include "decoder/Routines.h"
#include "decoder/Synthesis.h"
#include "info/FrameHeader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mpg123.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace pelbrisk;

std::vector<uint8_t> MakeStream(double seconds) {
    const fs::path dir = fs::temp_directory_path() / ("pelbrisk-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path wav = dir / "signal.wav";
    const fs::path mp2 = dir / "signal.mp2";
    const std::string make =
        "sox -n -r 44100 -c 2 -b 16 '" + wav.string() + "' synth " + std::to_string(seconds) +
        " sine 100-3000 sine 440 pinknoise brownnoise remix 1,3v0.2 2,4v0.2 gain -n -3 && "
        "twolame --quiet -b 192 -m j '" +
        wav.string() + "' '" + mp2.string() + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the test stream (sox and twolame needed)\n");
        std::exit(1);
    }
    std::ifstream in(mp2, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    fs::remove_all(dir);
    return bytes;
}

// Returns the PCM bytes made.
size_t DecodeWithPelbrisk(const std::vector<uint8_t>& bytes) {
    auto decoder = std::make_unique<TMP3Decoder>();
    TMP3FrameHeader header;
    int32_t bitrate = 0;
    int32_t offset = 0;
    const auto size = static_cast<int32_t>(bytes.size());
    const int32_t first = FindFrameSync(bytes.data(), size, header, bitrate, offset);
    if (first <= 0 || decoder->Open(header, first, 0, 0, 0, 24000) != 1) return 0;
    alignas(16) static int16_t pcm[2304];
    size_t produced = 0;
    while (offset + 4 <= size) {
        const TDecodeResult result =
            decoder->Decode(bytes.data() + offset, size - offset, reinterpret_cast<uint8_t*>(pcm));
        if (result.Consumed < 1) break;
        produced += static_cast<size_t>(result.OutputBytes);
        offset += result.Consumed;
    }
    return produced;
}

const char* gMpg123Decoder = "";

size_t DecodeWithMpg123(const std::vector<uint8_t>& bytes) {
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.);
    mpg123_format_none(handle);
    mpg123_format(handle, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(handle);
    mpg123_feed(handle, bytes.data(), bytes.size());
    std::vector<unsigned char> chunk(1 << 16);
    size_t produced = 0;
    for (;;) {
        size_t done = 0;
        const int status = mpg123_read(handle, chunk.data(), chunk.size(), &done);
        produced += done;
        if (status != MPG123_OK && status != MPG123_NEW_FORMAT) break;
    }
    gMpg123Decoder = mpg123_current_decoder(handle);
    mpg123_delete(handle);
    return produced;
}

template <typename Work>
double Seconds(Work work, size_t& produced) {
    const auto start = Clock::now();
    produced = work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Returns a sample, so the work cannot be optimised away.
size_t SynthesizeGranules(int granules) {
    auto decoder = std::make_unique<TMP3Decoder>();
    static float samples[18][32];
    for (int slot = 0; slot < 18; ++slot)
        for (int s = 0; s < 32; ++s)
            samples[slot][s] = static_cast<float>(((slot * 32 + s) * 7919) % 2001 - 1000);
    alignas(16) static int16_t out[18 * 64];
    for (int granule = 0; granule < granules; ++granule) {
        SynthesizeLayer3Channel(*decoder, 0, samples, out);
        SynthesizeLayer3Channel(*decoder, 1, samples, out);
    }
    return static_cast<size_t>(out[5]);
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    mpg123_init();
    Routines.WindowMono = FastestWindowMono();
    Routines.WindowInterleaved = FastestWindowInterleaved();
    std::printf("windowing with %s\n", Routines.WindowMono == WindowMonoFpu
                                           ? "the floating-point unit's version"
                                           : "AVX2 and FMA");
    const std::vector<uint8_t> stream = MakeStream(seconds);
    size_t ours = 0;
    size_t theirs = 0;
    // Alternating rounds, best of each, so both meet the same load on a shared machine.
    constexpr int kRounds = 15;
    double pelbriskSeconds = 1e30;
    double mpg123Seconds = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        pelbriskSeconds =
            std::min(pelbriskSeconds, Seconds([&] { return DecodeWithPelbrisk(stream); }, ours));
        mpg123Seconds =
            std::min(mpg123Seconds, Seconds([&] { return DecodeWithMpg123(stream); }, theirs));
    }
    std::printf(
        "Layer II, 44.1 kHz joint stereo 192 kbit/s, %.0f s of audio (best of %d rounds):\n",
        seconds, kRounds);
    std::printf("  pelbrisk   %8.1f ms  %6.0fx real time  (%zu PCM bytes)\n", pelbriskSeconds * 1e3,
                seconds / pelbriskSeconds, ours);
    std::printf("  libmpg123  %8.1f ms  %6.0fx real time  (%zu PCM bytes, decoder %s)\n",
                mpg123Seconds * 1e3, seconds / mpg123Seconds, theirs, gMpg123Decoder);
    std::printf("  pelbrisk takes %.2f of libmpg123's time\n", pelbriskSeconds / mpg123Seconds);

    // The synthesis alone: two channels of 18-slot granules, as Layer III drives it.
    constexpr int kGranules = 20000;
    size_t checksum = 0;
    double synthesisSeconds = 1e30;
    for (int round = 0; round < 3; ++round)
        synthesisSeconds = std::min(
            synthesisSeconds, Seconds([] { return SynthesizeGranules(kGranules); }, checksum));
    std::printf("Synthesis: %.1f ns per output sample (%d stereo granules in %.1f ms)\n",
                synthesisSeconds * 1e9 / (kGranules * 18.0 * 64.0), kGranules,
                synthesisSeconds * 1e3);
    return 0;
}
