#include "decoder/Synthesis.h"

#include "decoder/DecoderState.h"
#include "decoder/Layer12Tables.h"
#include "decoder/Routines.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(__x86_64__)
#include <immintrin.h>
#endif

namespace pelbrisk {

namespace {

// Lee's factorisation of a DCT of N values: the sums and the differences pre-scaled by
// 0.5 / cos are transformed by halves, then the even outputs come from the sums and the odd ones
// as B[k] + B[k + 1] (the last as B[last]). `cosines` holds this level's N/2 factors followed by
// those of the levels below. T is a float, or a vector of four floats that runs four independent
// transforms side by side, one per lane.
template <int N, typename T>
[[gnu::always_inline]] inline void LeeDct(const T* x, T* X, const float* cosines) {
    if constexpr (N == 1) {
        X[0] = x[0];
    } else {
        constexpr int half = N / 2;
        T sums[half];
        T differences[half];
#pragma GCC unroll 16
        for (int i = 0; i < half; ++i) {
            sums[i] = x[i] + x[N - 1 - i];
            differences[i] = (x[i] - x[N - 1 - i]) * cosines[i];
        }
        T evens[half];
        T odds[half];
        LeeDct<half>(sums, evens, cosines + half);
        LeeDct<half>(differences, odds, cosines + half);
#pragma GCC unroll 16
        for (int k = 0; k < half - 1; ++k) {
            X[2 * k] = evens[k];
            X[2 * k + 1] = odds[k] + odds[k + 1];
        }
        X[N - 2] = evens[half - 1];
        X[N - 1] = odds[half - 1];
    }
}

// The windows with the floating-point unit's results, SSE2 and plain: each product of two singles
// is exact in double, so only the sums round; both add in the same order and give the same
// samples bit for bit, whatever their vector width.

#if defined(__SSE2__)

inline __m128 Reverse(__m128 v) {
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3));
}

// The values one lane further on: lanes 1..3 of `v` and lane 0 of `next`.
inline __m128 ShiftDown(__m128 v, __m128 next) {
    const __m128 moved = _mm_move_ss(v, next);
    return _mm_shuffle_ps(moved, moved, _MM_SHUFFLE(0, 3, 2, 1));
}

// The first step of Lee's factorisation of 8 * Count values held in 2 * Count vectors.
template <int Count>
[[gnu::always_inline]] inline void SplitHalves(const __m128* x, __m128* sums, __m128* differences,
                                               const float* cosines) {
#pragma GCC unroll 16
    for (int q = 0; q < Count; ++q) {
        const __m128 back = Reverse(x[2 * Count - 1 - q]);
        sums[q] = _mm_add_ps(x[q], back);
        differences[q] = _mm_mul_ps(_mm_sub_ps(x[q], back), _mm_loadu_ps(cosines + 4 * q));
    }
}

// The last step of Lee's factorisation: the even outputs from `evens`, each odd one as the sum
// of two neighbouring `odds` (the last one plus 0); Count vectors in, 2 * Count out.
template <int Count>
[[gnu::always_inline]] inline void Recombine(const __m128* evens, const __m128* odds, __m128* X) {
#pragma GCC unroll 16
    for (int q = 0; q < Count; ++q) {
        const __m128 next = q + 1 < Count ? odds[q + 1] : _mm_setzero_ps();
        const __m128 odd = _mm_add_ps(odds[q], ShiftDown(odds[q], next));
        X[2 * q] = _mm_unpacklo_ps(evens[q], odd);
        X[2 * q + 1] = _mm_unpackhi_ps(evens[q], odd);
    }
}

// Two ring or window values widened to double.
inline __m128d LoadTwo(const float* values) {
    return _mm_cvtps_pd(
        _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(values))));
}

// Clips two sums to the 16-bit range (a NaN becomes -32768) and rounds them to the nearest
// integer, halves to even: the SSE unit's default rounding.
inline __m128i RoundAndClip(__m128d sums) {
    const __m128d clipped =
        _mm_min_pd(_mm_max_pd(sums, _mm_set1_pd(-32768.0)), _mm_set1_pd(32767.0));
    return _mm_cvtpd_epi32(clipped);
}

// One time slot, two outputs at a time.
template <int Stride>
inline void WindowSlotSse2(const float* window, const float* ring, int32_t position, int16_t* out) {
    __m128d low[8];  // outputs 2g, 2g + 1
    __m128d high[8]; // outputs 32 - 2g, 31 - 2g (the lane of output 32 is unused)
    for (int g = 0; g < 8; ++g) {
        low[g] = _mm_setzero_pd();
        high[g] = _mm_setzero_pd();
    }
    double middle = 0.0;
    for (int m = 0; m < 16; m += 2) {
        const TWindowStep step = WindowStep(window, ring, position, m);
#pragma GCC unroll 8
        for (int g = 0; g < 8; ++g) {
            const __m128d fromEven = LoadTwo(step.Even + 16 + 2 * g);
            const __m128d reversed = LoadTwo(step.Odd + 15 - 2 * g);
            const __m128d fromOdd = _mm_shuffle_pd(reversed, reversed, 1);
            const __m128d evenWeights = LoadTwo(step.EvenRow + 2 * g);
            const __m128d oddWeights = LoadTwo(step.OddRow + 2 * g);
            low[g] = _mm_add_pd(low[g], _mm_mul_pd(evenWeights, fromEven));
            low[g] = _mm_sub_pd(low[g], _mm_mul_pd(oddWeights, fromOdd));
            high[g] = _mm_add_pd(high[g], _mm_mul_pd(oddWeights, fromEven));
            high[g] = _mm_add_pd(high[g], _mm_mul_pd(evenWeights, fromOdd));
        }
        middle += static_cast<double>(step.MiddleWeight) * step.Odd[0];
    }
    alignas(16) int32_t lowSamples[16];
    alignas(16) int32_t highSamples[16];
    for (int g = 0; g < 8; ++g) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lowSamples + 2 * g), RoundAndClip(low[g]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(highSamples + 2 * g), RoundAndClip(high[g]));
    }
    StoreSlot<Stride>(lowSamples, _mm_cvtsi128_si32(RoundAndClip(_mm_set_sd(middle))), highSamples,
                      out);
}

#else

// Clips as the vector versions' max and min do (a NaN becomes -32768), then rounds to the
// nearest integer, halves to even.
inline int32_t RoundAndClip(double sum) {
    const double raised = sum > -32768.0 ? sum : -32768.0;
    return static_cast<int32_t>(std::nearbyint(raised < 32767.0 ? raised : 32767.0));
}

// One time slot, one output at a time, for processors without SSE2.
template <int Stride>
void WindowSlotPlain(const float* window, const float* ring, int32_t position, int16_t* out) {
    double low[16] = {};
    double high[16] = {};
    double middle = 0.0;
    for (int m = 0; m < 16; m += 2) {
        const TWindowStep step = WindowStep(window, ring, position, m);
        for (int j = 0; j < 16; ++j) {
            const double fromEven = step.Even[16 + j];
            const double fromOdd = step.Odd[16 - j];
            low[j] += step.EvenRow[j] * fromEven;
            low[j] -= step.OddRow[j] * fromOdd;
            high[j] += step.OddRow[j] * fromEven;
            high[j] += step.EvenRow[j] * fromOdd;
        }
        middle += static_cast<double>(step.MiddleWeight) * step.Odd[0];
    }
    int32_t lowSamples[16];
    int32_t highSamples[16];
    for (int j = 0; j < 16; ++j) {
        lowSamples[j] = RoundAndClip(low[j]);
        highSamples[j] = RoundAndClip(high[j]);
    }
    StoreSlot<Stride>(lowSamples, RoundAndClip(middle), highSamples, out);
}

#endif // __SSE2__

#if defined(__x86_64__)

#define PELBRISK_AVX2 __attribute__((target("avx2,fma")))

// One time slot, eight outputs at a time, summed in single precision with fused multiply-adds:
// the sums stay within a rounding step of the double ones at half the work.
template <int Stride>
PELBRISK_AVX2 void WindowSlotAvx2(const float* window, const float* ring, int32_t position,
                                  int16_t* out) {
    __m256 low[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
    __m256 high[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
    const __m256i reverse = _mm256_set_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    double middle = 0.0;
    for (int m = 0; m < 16; m += 2) {
        const TWindowStep step = WindowStep(window, ring, position, m);
#pragma GCC unroll 2
        for (int g = 0; g < 2; ++g) {
            const __m256 fromEven = _mm256_loadu_ps(step.Even + 16 + 8 * g);
            const __m256 fromOdd =
                _mm256_permutevar8x32_ps(_mm256_loadu_ps(step.Odd + 9 - 8 * g), reverse);
            const __m256 evenWeights = _mm256_loadu_ps(step.EvenRow + 8 * g);
            const __m256 oddWeights = _mm256_loadu_ps(step.OddRow + 8 * g);
            low[g] = _mm256_fmadd_ps(evenWeights, fromEven, low[g]);
            low[g] = _mm256_fnmadd_ps(oddWeights, fromOdd, low[g]);
            high[g] = _mm256_fmadd_ps(oddWeights, fromEven, high[g]);
            high[g] = _mm256_fmadd_ps(evenWeights, fromOdd, high[g]);
        }
        middle += static_cast<double>(step.MiddleWeight) * step.Odd[0];
    }
    const __m256 lowest = _mm256_set1_ps(-32768.0f);
    const __m256 highest = _mm256_set1_ps(32767.0f);
    const auto convert = [&](__m256 sums) PELBRISK_AVX2 {
        return _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(sums, lowest), highest));
    };
    const __m128d middleClipped =
        _mm_min_sd(_mm_max_sd(_mm_set_sd(middle), _mm_set_sd(-32768.0)), _mm_set_sd(32767.0));
    // Outputs 16..31 are the middle one and high[15] down to high[1]: each high vector reversed
    // and turned by one lane, the lane that wraps round taken from the other vector.
    const __m256i turn = _mm256_set_epi32(1, 2, 3, 4, 5, 6, 7, 0);
    const __m256i turnedLow = convert(_mm256_permutevar8x32_ps(high[0], turn));
    const __m256i turnedHigh = convert(_mm256_permutevar8x32_ps(high[1], turn));
    const __m256i samples[4] = {
        convert(low[0]), convert(low[1]),
        _mm256_blend_epi32(turnedHigh, _mm256_set1_epi32(_mm_cvtsd_si32(middleClipped)), 1),
        _mm256_blend_epi32(turnedLow, turnedHigh, 1)};
    if constexpr (Stride == 1) {
        for (int half = 0; half < 2; ++half) {
            const __m256i packed = _mm256_packs_epi32(samples[2 * half], samples[2 * half + 1]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * half),
                                _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
        }
    } else {
        // Each sample goes to the low half of a 32-bit word, the other channel's half is kept.
        for (int q = 0; q < 4; ++q) {
            auto* words = reinterpret_cast<__m256i*>(out + 16 * q);
            _mm256_storeu_si256(words,
                                _mm256_blend_epi16(_mm256_loadu_si256(words), samples[q], 0x55));
        }
    }
}

#endif // __x86_64__

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

#if defined(__SSE2__)
void Dct32(const float* x, float* X) {
    __m128 input[8];
#pragma GCC unroll 16
    for (int q = 0; q < 8; ++q)
        input[q] = _mm_loadu_ps(x + 4 * q);
    __m128 halves[2][4];
    SplitHalves<4>(input, halves[0], halves[1], DctCosines);
    // quarters[h][0..1] and [h][2..3]: the two halves of halves[h], split once more.
    __m128 quarters[4][2];
    SplitHalves<2>(halves[0], quarters[0], quarters[1], DctCosines + 16);
    SplitHalves<2>(halves[1], quarters[2], quarters[3], DctCosines + 16);
    // The four DCTs of 8 run side by side, one per lane.
    __m128 lanes[8];
#pragma GCC unroll 16
    for (int part = 0; part < 2; ++part) {
        __m128 rows[4] = {quarters[0][part], quarters[1][part], quarters[2][part],
                          quarters[3][part]};
        _MM_TRANSPOSE4_PS(rows[0], rows[1], rows[2], rows[3]);
#pragma GCC unroll 16
        for (int i = 0; i < 4; ++i)
            lanes[4 * part + i] = rows[i];
    }
    __m128 transformed[8];
    LeeDct<8>(lanes, transformed, DctCosines + 24);
    __m128 eighths[4][2];
#pragma GCC unroll 16
    for (int part = 0; part < 2; ++part) {
        __m128 rows[4];
#pragma GCC unroll 16
        for (int i = 0; i < 4; ++i)
            rows[i] = transformed[4 * part + i];
        _MM_TRANSPOSE4_PS(rows[0], rows[1], rows[2], rows[3]);
#pragma GCC unroll 16
        for (int q = 0; q < 4; ++q)
            eighths[q][part] = rows[q];
    }
    __m128 evens[4];
    __m128 odds[4];
    Recombine<2>(eighths[0], eighths[1], evens);
    Recombine<2>(eighths[2], eighths[3], odds);
    __m128 output[8];
    Recombine<4>(evens, odds, output);
#pragma GCC unroll 16
    for (int q = 0; q < 8; ++q)
        _mm_storeu_ps(X + 4 * q, output[q]);
}

void WindowMonoFpu(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSlotSse2<1>(window, ring, position, out);
}

void WindowInterleavedFpu(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSlotSse2<2>(window, ring, position, out);
}
#else
void Dct32(const float* x, float* X) {
    LeeDct<32>(x, X, DctCosines);
}

void WindowMonoFpu(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSlotPlain<1>(window, ring, position, out);
}

void WindowInterleavedFpu(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSlotPlain<2>(window, ring, position, out);
}
#endif

#if defined(__x86_64__)
void WindowMonoAvx2(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSlotAvx2<1>(window, ring, position, out);
}

void WindowInterleavedAvx2(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSlotAvx2<2>(window, ring, position, out);
}
#endif

void ResetSynthesis(TMP3Decoder& decoder) {
    std::memset(decoder.Ring, 0, sizeof(decoder.Ring));
    decoder.RingPosition[0] = 0;
    decoder.RingPosition[1] = 0;
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
    TOutputSelector selector = decoder.OutputSelector;
    // A frame whose channel count is not the set-up's: one channel feeds every output channel,
    // two are mixed into one.
    if (decoder.Layer12.Channels == 1 && selector != osMonoStream)
        selector = decoder.Format.Channels == 2 ? osDuplicatedMono : osMonoStream;
    else if (decoder.Layer12.Channels == 2 && selector == osMonoStream)
        selector = osMixedToMono;
    switch (selector) {
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
    case osBothChannels:
    case osDuplicatedMono: {
        // A single-channel frame holds subband s at [s], for both output channels.
        const int stride = selector == osDuplicatedMono ? 1 : 2;
        const int second = stride - 1;
        const TWindowRoutine window = Routines.WindowInterleaved;
        int32_t position = decoder.RingPosition[0];
        float x[2][32];
        for (int32_t slot = 0; slot < count; ++slot) {
            const float* row = samples[slot];
            for (int s = 0; s < 32; ++s) {
                x[0][s] = row[stride * s];
                x[1][s] = row[stride * s + second];
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
