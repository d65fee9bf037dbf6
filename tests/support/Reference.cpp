#include "tests/support/Reference.h"

#include "tests/support/Media.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mpg123.h>
#include <stdexcept>

namespace pelbrisk::test {

ReferenceDecode DecodeWithMpg123(const std::filesystem::path& file, bool gapless) {
    static const int initialised = mpg123_init();
    (void)initialised;
    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (!handle) throw std::runtime_error("mpg123_new failed");
    struct Closer {
        mpg123_handle* h;
        ~Closer() {
            mpg123_close(h);
            mpg123_delete(h);
        }
    } closer{handle};
    mpg123_param(handle, gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.);
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.);
    mpg123_format_none(handle);
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(handle, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(handle, file.c_str()) != MPG123_OK)
        throw std::runtime_error("mpg123 cannot open " + file.string());

    ReferenceDecode result;
    int encoding = 0;
    std::vector<unsigned char> chunk(1 << 16);
    for (;;) {
        size_t done = 0;
        int status = mpg123_read(handle, chunk.data(), chunk.size(), &done);
        if (status == MPG123_NEW_FORMAT) {
            mpg123_getformat(handle, &result.SampleRate, &result.Channels, &encoding);
        }
        const auto* samples = reinterpret_cast<const int16_t*>(chunk.data());
        result.Samples.insert(result.Samples.end(), samples, samples + done / 2);
        if (status == MPG123_DONE) break;
        if (status != MPG123_OK && status != MPG123_NEW_FORMAT)
            throw std::runtime_error(std::string("mpg123: ") + mpg123_strerror(handle));
    }
    off_t frames = mpg123_tellframe(handle);
    result.Frames = static_cast<long>(frames);
    return result;
}

std::vector<int16_t> ReadPcm16(const std::filesystem::path& file) {
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}

Comparison Compare(const int16_t* a, size_t aCount, const int16_t* b, size_t bCount) {
    Comparison result;
    result.Compared = std::min(aCount, bCount);
    double squares = 0;
    for (size_t i = 0; i < result.Compared; ++i) {
        const int difference = int(a[i]) - int(b[i]);
        squares += double(difference) * difference;
        result.MaxDifference = std::max(result.MaxDifference, std::abs(difference));
    }
    if (squares == 0 || result.Compared == 0) {
        result.Psnr = std::numeric_limits<double>::infinity();
    } else {
        const double mse = squares / double(result.Compared);
        result.Psnr = 10.0 * std::log10(32767.0 * 32767.0 / mse);
    }
    return result;
}

} // namespace pelbrisk::test
