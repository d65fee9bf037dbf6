#include "decoder/Synthesis.h"

#include "decoder/DecoderState.h"
#include "decoder/Layer12Tables.h"
#include "decoder/Routines.h"

#include <cmath>
#include <cstring>

namespace pelbrisk {

namespace {

// Lee's factorisation: a DCT of n values from two of n/2, the difference half pre-scaled by
// 0.5 / cos. `cosines` holds this level's n/2 factors followed by those of the levels below.
template <int N>
inline void LeeDct(const float* x, float* X, const float* cosines) {
    if constexpr (N == 1) {
        X[0] = x[0];
    } else {
        constexpr int half = N / 2;
        float sums[half];
        float differences[half];
        for (int i = 0; i < half; ++i) {
            sums[i] = x[i] + x[N - 1 - i];
            differences[i] = (x[i] - x[N - 1 - i]) * cosines[i];
        }
        float evens[half];
        float odds[half];
        LeeDct<half>(sums, evens, cosines + half);
        LeeDct<half>(differences, odds, cosines + half);
        for (int k = 0; k < half - 1; ++k) {
            X[2 * k] = evens[k];
            X[2 * k + 1] = odds[k] + odds[k + 1];
        }
        X[N - 2] = evens[half - 1];
        X[N - 1] = odds[half - 1];
    }
}

inline int16_t RoundAndClip(double sum) {
    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(sum);
    if (rounded > 32767.0) return 32767;
    if (rounded < -32768.0) return -32768;
    return static_cast<int16_t>(rounded);
}

// The 32 sums of one time slot. All reads of a slot fall into two 32-value blocks of each of
// the eight 64-value periods, so no index needs wrapping inside a block.
template <int Stride>
inline void WindowSlot(const float* window, const float* ring, int32_t position, int16_t* out) {
    double sums[32];
    for (double& sum : sums)
        sum = 0.0;
    for (int k = 0; k < 8; ++k) {
        const float* first = ring + ((position + 64 * k) & 511);
        const float* second = ring + ((position + 32 + 64 * k) & 511);
        for (int j = 0; j < 16; ++j) {
            const float* row = window + 16 * j;
            sums[j] += static_cast<double>(row[2 * k]) * first[16 + j] -
                       static_cast<double>(row[2 * k + 1]) * second[16 - j];
        }
        sums[16] += static_cast<double>(window[256 + k]) * second[0];
        for (int j = 17; j < 32; ++j) {
            const float* row = window + 16 * (32 - j);
            sums[j] += static_cast<double>(row[15 - 2 * k]) * first[48 - j] +
                       static_cast<double>(row[14 - 2 * k]) * second[j - 16];
        }
    }
    for (int j = 0; j < 32; ++j)
        out[Stride * j] = RoundAndClip(sums[j]);
}

// One time slot of one channel: the optional subband gains, the DCT into the ring, the window.
inline void SynthesizeSlot(TMP3Decoder& decoder, const float* x, float* ring, int32_t position,
                           TWindowRoutine window, int16_t* out) {
    if (decoder.SubbandEqualizerOn != 0) {
        float scaled[32];
        for (int s = 0; s < 32; ++s)
            scaled[s] = x[s] * decoder.SubbandGain[s];
        Dct32(scaled, ring + position);
    } else {
        Dct32(x, ring + position);
    }
    window(decoder.WindowTable, ring, position, out);
}

inline int32_t NextPosition(int32_t position) {
    return (position - 32) & 511;
}

// Layers I/II: one channel taken from the two-channel layout, by `pick`.
template <typename Pick>
void SynthesizeOneOfTwo(TMP3Decoder& decoder, const float (*samples)[64], int32_t count,
                        int16_t* out, bool equalize, Pick pick) {
    const TWindowRoutine window = Routines.WindowMono;
    int32_t position = decoder.RingPosition[0];
    float x[32];
    for (int32_t slot = 0; slot < count; ++slot) {
        const float* row = samples[slot];
        for (int s = 0; s < 32; ++s)
            x[s] = pick(row[2 * s], row[2 * s + 1]);
        if (equalize) {
            SynthesizeSlot(decoder, x, decoder.Ring[0], position, window, out + 32 * slot);
        } else {
            Dct32(x, decoder.Ring[0] + position);
            window(decoder.WindowTable, decoder.Ring[0], position, out + 32 * slot);
        }
        position = NextPosition(position);
    }
    decoder.RingPosition[0] = position;
    decoder.RingPosition[1] = position;
}

} // namespace

void Dct32(const float* x, float* X) {
    LeeDct<32>(x, X, DctCosines);
}

void ResetSynthesis(TMP3Decoder& decoder) {
    std::memset(decoder.Ring, 0, sizeof(decoder.Ring));
    decoder.RingPosition[0] = 0;
    decoder.RingPosition[1] = 0;
}

void WindowMonoFpu(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSlot<1>(window, ring, position, out);
}

void WindowInterleavedFpu(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSlot<2>(window, ring, position, out);
}

void SynthesizeLayer3Mono(TMP3Decoder& decoder, const float (*subbandSamples)[32], int16_t* out) {
    const TWindowRoutine window = Routines.WindowMono;
    int32_t position = decoder.RingPosition[0];
    for (int slot = 0; slot < 18; ++slot) {
        SynthesizeSlot(decoder, subbandSamples[slot], decoder.Ring[0], position, window,
                       out + 32 * slot);
        position = NextPosition(position);
    }
    decoder.RingPosition[0] = position;
}

void SynthesizeLayer3Channel(TMP3Decoder& decoder, int32_t channel,
                             const float (*subbandSamples)[32], int16_t* out) {
    const TWindowRoutine window = Routines.WindowInterleaved;
    float* ring = decoder.Ring[channel];
    int32_t position = decoder.RingPosition[channel];
    for (int slot = 0; slot < 18; ++slot) {
        SynthesizeSlot(decoder, subbandSamples[slot], ring, position, window,
                       out + 64 * slot + channel);
        position = NextPosition(position);
    }
    decoder.RingPosition[channel] = position;
}

void SynthesizeLayer12(TMP3Decoder& decoder, const float (*samples)[64], int32_t count,
                       int16_t* out) {
    switch (decoder.OutputSelector) {
    case osMonoStream: {
        const TWindowRoutine window = Routines.WindowMono;
        int32_t position = decoder.RingPosition[0];
        for (int32_t slot = 0; slot < count; ++slot) {
            SynthesizeSlot(decoder, samples[slot], decoder.Ring[0], position, window,
                           out + 32 * slot);
            position = NextPosition(position);
        }
        decoder.RingPosition[0] = position;
        decoder.RingPosition[1] = position;
        break;
    }
    case osBothChannels: {
        const TWindowRoutine window = Routines.WindowInterleaved;
        int32_t position = decoder.RingPosition[0];
        float x[2][32];
        for (int32_t slot = 0; slot < count; ++slot) {
            const float* row = samples[slot];
            for (int s = 0; s < 32; ++s) {
                x[0][s] = row[2 * s];
                x[1][s] = row[2 * s + 1];
            }
            for (int c = 0; c < 2; ++c)
                SynthesizeSlot(decoder, x[c], decoder.Ring[c], position, window,
                               out + 64 * slot + c);
            position = NextPosition(position);
        }
        decoder.RingPosition[0] = position;
        decoder.RingPosition[1] = position;
        break;
    }
    case osMixedToMono:
        SynthesizeOneOfTwo(decoder, samples, count, out, false,
                           [](float left, float right) { return (left + right) * 0.5f; });
        break;
    case osLeftOnly:
        SynthesizeOneOfTwo(decoder, samples, count, out, true,
                           [](float left, float) { return left; });
        break;
    case osRightOnly:
        SynthesizeOneOfTwo(decoder, samples, count, out, true,
                           [](float, float right) { return right; });
        break;
    }
}

} // namespace pelbrisk
