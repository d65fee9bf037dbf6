#pragma once

#include "decoder/DecoderState.h"
#include "tests/support/Media.h"
#include "tests/support/Reference.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// Skips a test whose stream lame encodes from a signal sox makes, when either tool is missing.
#define PELBRISK_REQUIRE_LAME()                                                                    \
    do {                                                                                           \
        if (!::pelbrisk::test::ToolAvailable("lame") || !::pelbrisk::test::ToolAvailable("sox"))   \
            GTEST_SKIP() << "lame or sox missing";                                                 \
    } while (0)

namespace pelbrisk::test {

// Builds a bit stream field by field, most significant bit first, as frames carry them.
class TBitWriter {
public:
    void Put(uint32_t value, int bits);
    int Count() const { return count_; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int count_ = 0;
};

struct TDecodedStream {
    bool Opened = false;
    int32_t Frames = 0;       // frames decoded
    int32_t FailedFrames = 0; // frames the decoder refused
    TMP3DecoderFormat Format;
    std::vector<int16_t> Samples;
};

// True when the frame carries a Xing, Info or VBRI information block instead of audio.
bool IsInformationFrame(const uint8_t* frame, int32_t length);

// Walks the frames of a whole stream from its first sync by their headers (plus the padding
// slot), sets `decoder` up for the first one with the player's arguments but `options` and
// `bandwidth`, passes over a leading information frame as the player does, and decodes every
// frame into one sample sequence.
TDecodedStream DecodeWholeStream(TMP3Decoder& decoder, const std::vector<uint8_t>& bytes,
                                 int32_t options = 0, int32_t bandwidth = 24000);

// Every field of the decoder's format record.
void ExpectFormat(const TMP3Decoder& decoder, const TMP3DecoderFormat& expected);

// The conformance bar for the vector `name` (.bit and .pcm in the vectors folder): decoded over
// the full band, with the portable routines and with those this processor gets, every frame is
// taken, the PSNR reaches `minimumPsnr` and no sample is off by more than 1. The first
// `skippedSamples` decoded samples are left out, where the reference leaves them out. The
// player's band-limited decode is reported beside it.
void ExpectConformance(const std::string& name, size_t skippedSamples = 0,
                       double minimumPsnr = 96.0);

// A stream encoded from the test signal, e.g. with twolame or lame and these arguments.
struct TEncodedCase {
    const char* Name;
    int SampleRate;
    int Channels;
    const char* Arguments;
};

// A file decoded whole by `decoder` and by libmpg123.
struct TBesideReference {
    TDecodedStream Decoded;
    ReferenceDecode Reference;
    Comparison Match;
};
TBesideReference DecodeBesideMpg123(TMP3Decoder& decoder, const std::filesystem::path& file);

// Every frame decoded, the same rate and channels as libmpg123, and at least `minimumPsnr`.
void ExpectLikeMpg123(const TBesideReference& run, double minimumPsnr);

} // namespace pelbrisk::test
