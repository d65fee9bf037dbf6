#include "decoder/Synthesis.h"

#include "decoder/DecoderState.h"
#include "tests/support/Paths.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <numbers>
#include <random>
#include <vector>

namespace pelbrisk::test {
namespace {

// The standard's synthesis with its 1024-value V buffer, in double precision.
class ReferenceSynthesis {
public:
    explicit ReferenceSynthesis(std::vector<double> window) : d_(std::move(window)) {}

    void Slot(const float* subbands, double* out) {
        std::copy_backward(v_.begin(), v_.end() - 64, v_.end());
        for (int i = 0; i < 64; ++i) {
            double sum = 0.0;
            for (int k = 0; k < 32; ++k)
                sum += std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64) * subbands[k];
            v_[i] = sum;
        }
        for (int j = 0; j < 32; ++j) {
            double sum = 0.0;
            for (int i = 0; i < 8; ++i) {
                sum += v_[128 * i + j] * d_[64 * i + j];
                sum += v_[128 * i + 96 + j] * d_[64 * i + 32 + j];
            }
            out[j] = sum;
        }
    }

private:
    std::vector<double> d_;
    std::vector<double> v_ = std::vector<double>(1024, 0.0);
};

std::vector<double> LoadWindow() {
    const auto path = TablesDir() / "synthesis_window.json";
    if (!std::filesystem::exists(path)) return {};
    std::ifstream in(path);
    const auto json = nlohmann::json::parse(in);
    std::vector<double> window;
    for (int value : json.at("D_times_65536"))
        window.push_back(value / 65536.0);
    return window;
}

int ExpectedSample(double value) {
    return static_cast<int>(std::clamp(std::nearbyint(value), -32768.0, 32767.0));
}

// Granules of random subband samples; `amplitude` large enough makes some outputs clip.
std::vector<std::array<float, 32>> RandomSlots(int count, float amplitude, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-amplitude, amplitude);
    std::vector<std::array<float, 32>> slots(count);
    for (auto& slot : slots)
        for (float& x : slot)
            x = value(random);
    return slots;
}

struct MatchCount {
    int Exact = 0;
    int OffByOne = 0;
    int Worse = 0;
    int Clipped = 0;
};

void Tally(MatchCount& count, int16_t got, double reference) {
    const int expected = ExpectedSample(reference);
    const int difference = std::abs(got - expected);
    (difference == 0 ? count.Exact : difference == 1 ? count.OffByOne : count.Worse)++;
    if (expected == 32767 || expected == -32768) ++count.Clipped;
}

TEST(Dct32, MatchesTheDirectCosineSums) {
    const auto slots = RandomSlots(20, 1000.0f, 7);
    for (const auto& x : slots) {
        float X[32];
        Dct32(x.data(), X);
        for (int k = 0; k < 32; ++k) {
            double direct = 0.0;
            for (int i = 0; i < 32; ++i)
                direct += x[i] * std::cos((2 * i + 1) * k * std::numbers::pi / 64);
            EXPECT_NEAR(X[k], direct, 0.05) << "k = " << k;
        }
    }
}

TEST(Synthesis, OneChannelMatchesTheStandardFilterBank) {
    const auto window = LoadWindow();
    if (window.empty()) GTEST_SKIP() << "standard tables not found at " << TablesDir();
    auto decoder = std::make_unique<TMP3Decoder>();
    ReferenceSynthesis reference(window);
    const auto slots = RandomSlots(18 * 4, 3000.0f, 11);
    MatchCount count;
    for (int granule = 0; granule < 4; ++granule) {
        float input[18][32];
        for (int s = 0; s < 18; ++s)
            std::copy(slots[18 * granule + s].begin(), slots[18 * granule + s].end(), input[s]);
        int16_t out[18 * 32];
        SynthesizeLayer3Mono(*decoder, input, out);
        for (int s = 0; s < 18; ++s) {
            double expected[32];
            reference.Slot(input[s], expected);
            for (int j = 0; j < 32; ++j)
                Tally(count, out[32 * s + j], expected[j]);
        }
    }
    EXPECT_EQ(count.Worse, 0);
    EXPECT_LT(count.OffByOne, (count.Exact + count.OffByOne) / 50);
}

TEST(Synthesis, InterleavedChannelsKeepTheirOwnRingsAndClipInsteadOfWrapping) {
    const auto window = LoadWindow();
    if (window.empty()) GTEST_SKIP() << "standard tables not found at " << TablesDir();
    auto decoder = std::make_unique<TMP3Decoder>();
    ReferenceSynthesis left(window);
    ReferenceSynthesis right(window);
    // The right channel is loud enough to clip often.
    const auto leftSlots = RandomSlots(36, 2000.0f, 3);
    const auto rightSlots = RandomSlots(36, 60000.0f, 5);
    MatchCount count;
    for (int granule = 0; granule < 2; ++granule) {
        float leftInput[18][32];
        float rightInput[18][32];
        for (int s = 0; s < 18; ++s) {
            std::copy(leftSlots[18 * granule + s].begin(), leftSlots[18 * granule + s].end(),
                      leftInput[s]);
            std::copy(rightSlots[18 * granule + s].begin(), rightSlots[18 * granule + s].end(),
                      rightInput[s]);
        }
        int16_t out[18 * 64];
        SynthesizeLayer3Channel(*decoder, 0, leftInput, out);
        SynthesizeLayer3Channel(*decoder, 1, rightInput, out);
        for (int s = 0; s < 18; ++s) {
            double expectedLeft[32];
            double expectedRight[32];
            left.Slot(leftInput[s], expectedLeft);
            right.Slot(rightInput[s], expectedRight);
            for (int j = 0; j < 32; ++j) {
                Tally(count, out[64 * s + 2 * j], expectedLeft[j]);
                Tally(count, out[64 * s + 2 * j + 1], expectedRight[j]);
            }
        }
    }
    EXPECT_EQ(count.Worse, 0);
    EXPECT_GT(count.Clipped, 100);
}

// A window whose only coefficient feeds output 0 from ring value 16 isolates the conversion.
TEST(WindowRoutines, RoundHalvesToEvenAndSaturate) {
    std::vector<float> window(264, 0.0f);
    window[0] = 0.5f;
    std::vector<float> ring(512, 0.0f);
    const std::pair<float, int16_t> cases[] = {
        {5.0f, 2},         {3.0f, 2},           {-5.0f, -2},       {-3.0f, -2},
        {7.0f, 4},         {2.9f, 1},           {1e6f, 32767},     {-1e6f, -32768},
        {65534.0f, 32767}, {-65536.0f, -32768}, {65535.0f, 32767}, {-65535.0f, -32768}};
    for (const auto& [ringValue, expected] : cases) {
        ring[16] = ringValue;
        int16_t mono[32];
        WindowMonoFpu(window.data(), ring.data(), 0, mono);
        EXPECT_EQ(mono[0], expected) << ringValue;
        int16_t interleaved[64] = {};
        WindowInterleavedFpu(window.data(), ring.data(), 0, interleaved);
        EXPECT_EQ(interleaved[0], expected) << ringValue;
        for (int j = 1; j < 32; ++j) {
            EXPECT_EQ(mono[j], 0);
            EXPECT_EQ(interleaved[2 * j], 0);
        }
    }
}

TEST(WindowRoutines, Avx2VersionsStayWithinOneOfThePortableOnes) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "AVX2 versions exist on x86-64 only";
#else
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
        GTEST_SKIP() << "this processor has no AVX2 with FMA";
    auto decoder = std::make_unique<TMP3Decoder>();
    std::mt19937 random(23);
    // Loud enough that some sums clip; halves that tie are rare but possible either way.
    std::uniform_real_distribution<float> value(-40000.0f, 40000.0f);
    std::vector<float> ring(512);
    for (int round = 0; round < 50; ++round) {
        for (float& x : ring)
            x = value(random);
        decoder->SetPolarity(round % 2 == 1);
        for (int32_t position = 0; position < 512; position += 32) {
            int16_t portable[64];
            int16_t fused[64];
            WindowMonoFpu(decoder->WindowTable, ring.data(), position, portable);
            WindowMonoAvx2(decoder->WindowTable, ring.data(), position, fused);
            for (int j = 0; j < 32; ++j)
                ASSERT_LE(std::abs(portable[j] - fused[j]), 1) << position << "/" << j;
            std::fill(std::begin(fused), std::end(fused), int16_t{7});
            WindowInterleavedFpu(decoder->WindowTable, ring.data(), position, portable);
            WindowInterleavedAvx2(decoder->WindowTable, ring.data(), position, fused);
            for (int j = 0; j < 32; ++j) {
                ASSERT_LE(std::abs(portable[2 * j] - fused[2 * j]), 1) << position << "/" << j;
                ASSERT_EQ(fused[2 * j + 1], 7) << "the other channel's slots stay untouched";
            }
        }
    }
#endif
}

TEST(Synthesis, SilenceGivesExactZerosWithEitherPolarity) {
    for (bool inverted : {false, true}) {
        auto decoder = std::make_unique<TMP3Decoder>();
        decoder->SetPolarity(inverted);
        float silence[18][32] = {};
        int16_t out[18 * 32];
        std::fill(std::begin(out), std::end(out), int16_t{123});
        SynthesizeLayer3Mono(*decoder, silence, out);
        EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](int16_t s) { return s == 0; }));
    }
}

TEST(Synthesis, ResetClearsTheRingsSoTheNextStreamStartsFresh) {
    auto decoder = std::make_unique<TMP3Decoder>();
    const auto slots = RandomSlots(18, 3000.0f, 17);
    float input[18][32];
    for (int s = 0; s < 18; ++s)
        std::copy(slots[s].begin(), slots[s].end(), input[s]);
    int16_t first[18 * 32];
    SynthesizeLayer3Mono(*decoder, input, first);
    int16_t carried[18 * 32];
    SynthesizeLayer3Mono(*decoder, input, carried);
    EXPECT_FALSE(std::equal(std::begin(first), std::end(first), std::begin(carried)));
    ResetSynthesis(*decoder);
    int16_t again[18 * 32];
    SynthesizeLayer3Mono(*decoder, input, again);
    EXPECT_TRUE(std::equal(std::begin(first), std::end(first), std::begin(again)));
}

} // namespace
} // namespace pelbrisk::test
