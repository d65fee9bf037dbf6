#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace pelbrisk::test {

// What libmpg123 decodes from a file: 16-bit interleaved PCM of every frame with gapless trimming
// off (frame for frame), or of the song alone with it on, as mpg123 plays by default.
struct ReferenceDecode {
    std::vector<int16_t> Samples;
    long SampleRate = 0;
    int Channels = 0;
    long Frames = 0;
};
ReferenceDecode DecodeWithMpg123(const std::filesystem::path& file, bool gapless = false);

// Reads a conformance reference (.pcm: 16-bit little-endian, interleaved, no header).
std::vector<int16_t> ReadPcm16(const std::filesystem::path& file);

struct Comparison {
    double Psnr = 0; // 10 log10(32767^2 / MSE); infinity when identical
    int MaxDifference = 0;
    size_t Compared = 0;
};
// Compares the common length of two sample sequences.
Comparison Compare(const int16_t* a, size_t aCount, const int16_t* b, size_t bCount);
inline Comparison Compare(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    return Compare(a.data(), a.size(), b.data(), b.size());
}

} // namespace pelbrisk::test
