#include "decoder/Layer3Routines.h"
#include "decoder/Layer3State.h"
#include "decoder/Routines.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace pelbrisk {

namespace {

#if defined(__SSE2__)
inline __m128 Reverse(__m128 v) {
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3));
}
#endif

// The IMDCT as a DCT-IV core and a fold: the 36 outputs of a long block are y[9..17], -y[17..0],
// -y[0..8] of the 18-point core; the 12 of a short window are y[3..5], -y[5..0], -y[0..2] of
// the 6-point core. The fold's signs and the windows are merged into one factor per output.
struct TImdctTables {
    float LongCosine[18][18]; // [k][j]
    float ShortCosine[6][6];  // [k][j]
    float FirstHalf[4][18];   // by block type: factor of y[FirstIndex[t]] for output t
    float SecondHalf[4][18];  // factor of y[SecondIndex[t]] for overlap t
    float ShortFactor[12];    // factor of y[ShortIndex[i]] for short output i
    // The whole long IMDCT of each window as one matrix: [window][k][output], outputs 0..17 the
    // windowed first half, 18..35 the windowed second half, padded to 40.
    alignas(32) float LongMatrix[4][18][40];
    int8_t FirstIndex[18];
    int8_t SecondIndex[18];
    int8_t ShortIndex[12];
};

TImdctTables BuildImdctTables() {
    TImdctTables t{};
    const double pi = std::acos(-1.0);
    for (int k = 0; k < 18; ++k)
        for (int j = 0; j < 18; ++j)
            t.LongCosine[k][j] = static_cast<float>(std::cos(pi / 72 * (2 * j + 1) * (2 * k + 1)));
    for (int k = 0; k < 6; ++k)
        for (int j = 0; j < 6; ++j)
            t.ShortCosine[k][j] = static_cast<float>(std::cos(pi / 24 * (2 * j + 1) * (2 * k + 1)));
    double window[4][36];
    for (int i = 0; i < 36; ++i) {
        const double longSine = std::sin(pi / 36 * (i + 0.5));
        window[0][i] = longSine;
        window[2][i] = 0.0; // short blocks have their own window
        window[1][i] = i < 18   ? longSine
                       : i < 24 ? 1.0
                       : i < 30 ? std::sin(pi / 12 * (i - 18 + 0.5))
                                : 0.0;
        window[3][i] = i < 6    ? 0.0
                       : i < 12 ? std::sin(pi / 12 * (i - 6 + 0.5))
                       : i < 18 ? 1.0
                                : longSine;
    }
    for (int i = 0; i < 18; ++i) {
        t.FirstIndex[i] = static_cast<int8_t>(i < 9 ? i + 9 : 26 - i);
        t.SecondIndex[i] = static_cast<int8_t>(i < 9 ? 8 - i : i - 9);
    }
    for (int b = 0; b < 4; ++b) {
        for (int i = 0; i < 18; ++i) {
            const double firstSign = i < 9 ? 1.0 : -1.0;
            t.FirstHalf[b][i] = static_cast<float>(firstSign * window[b][i]);
            t.SecondHalf[b][i] = static_cast<float>(-window[b][18 + i]);
        }
    }
    for (int b = 0; b < 4; ++b) {
        for (int k = 0; k < 18; ++k) {
            for (int i = 0; i < 18; ++i) {
                t.LongMatrix[b][k][i] = t.FirstHalf[b][i] * t.LongCosine[k][t.FirstIndex[i]];
                t.LongMatrix[b][k][18 + i] = t.SecondHalf[b][i] * t.LongCosine[k][t.SecondIndex[i]];
            }
        }
    }
    for (int i = 0; i < 12; ++i) {
        const double sign = i < 3 ? 1.0 : -1.0;
        t.ShortFactor[i] = static_cast<float>(sign * std::sin(pi / 12 * (i + 0.5)));
        t.ShortIndex[i] = static_cast<int8_t>(i < 3 ? i + 3 : i < 9 ? 8 - i : i - 9);
    }
    return t;
}

const TImdctTables& ImdctTables() {
    static const TImdctTables tables = BuildImdctTables();
    return tables;
}

// The 36 windowed outputs of one subband's short blocks, from the core's 18 values.
inline void ShortOutputs(const TImdctTables& t, const float* y, float* z) {
    for (int i = 0; i < 36; ++i)
        z[i] = 0.0f;
    for (int w = 0; w < 3; ++w)
        for (int i = 0; i < 12; ++i)
            z[6 + 6 * w + i] += y[6 * w + t.ShortIndex[i]] * t.ShortFactor[i];
}

inline int32_t Subbands(int32_t lines, int32_t cap) {
    return std::clamp((lines + 17) / 18, 0, cap);
}

// Three short IMDCTs of one subband: first halves plus `overlap` to out[0], out[32], ...;
// second halves back into `input`.
void ImdctShortSubband(float* input, const float* overlap, float* out) {
    const TImdctTables& t = ImdctTables();
    ImdctShortCoreFpu(input);
    float z[36];
    ShortOutputs(t, input, z);
    for (int i = 0; i < 18; ++i) {
        out[32 * i] = z[i] + overlap[i];
        input[i] = z[18 + i];
    }
}

} // namespace

const float* ImdctLongMatrix(int32_t window) {
    return &ImdctTables().LongMatrix[window][0][0];
}

#if defined(__SSE2__)
// Four butterflies at a time; the same products and sums as the plain loop, so the same values.
void AntialiasFpu(float* spectrum, int32_t boundaries) {
    const TLayer3Constants& c = Layer3Constants();
    const __m128 cs[2] = {_mm_loadu_ps(c.AliasCs), _mm_loadu_ps(c.AliasCs + 4)};
    const __m128 ca[2] = {_mm_loadu_ps(c.AliasCa), _mm_loadu_ps(c.AliasCa + 4)};
    for (int32_t b = 0; b < boundaries; ++b) {
        float* boundary = spectrum + 18 * b + 18;
        for (int h = 0; h < 2; ++h) {
            // Lane i holds line 17 - (4h + i) of the lower subband and 4h + i of the upper one.
            float* low = boundary - 4 - 4 * h;
            float* high = boundary + 4 * h;
            const __m128 a = Reverse(_mm_loadu_ps(low));
            const __m128 d = _mm_loadu_ps(high);
            _mm_storeu_ps(low, Reverse(_mm_sub_ps(_mm_mul_ps(a, cs[h]), _mm_mul_ps(d, ca[h]))));
            _mm_storeu_ps(high, _mm_add_ps(_mm_mul_ps(d, cs[h]), _mm_mul_ps(a, ca[h])));
        }
    }
}
#else
void AntialiasFpu(float* spectrum, int32_t boundaries) {
    const TLayer3Constants& c = Layer3Constants();
    for (int32_t b = 0; b < boundaries; ++b) {
        float* low = spectrum + 18 * b + 17;
        float* high = spectrum + 18 * b + 18;
        for (int i = 0; i < 8; ++i) {
            const float a = low[-i];
            const float d = high[i];
            low[-i] = a * c.AliasCs[i] - d * c.AliasCa[i];
            high[i] = d * c.AliasCs[i] + a * c.AliasCa[i];
        }
    }
}
#endif

void ImdctLongCoreFpu(float* values) {
    const TImdctTables& t = ImdctTables();
    float y[18] = {};
    for (int k = 0; k < 18; ++k) {
        const float x = values[k];
        for (int j = 0; j < 18; ++j)
            y[j] += x * t.LongCosine[k][j];
    }
    std::memcpy(values, y, sizeof(y));
}

void ImdctShortCoreFpu(float* values) {
    const TImdctTables& t = ImdctTables();
    float y[18] = {};
    for (int w = 0; w < 3; ++w)
        for (int k = 0; k < 6; ++k) {
            const float x = values[3 * k + w];
            for (int j = 0; j < 6; ++j)
                y[6 * w + j] += x * t.ShortCosine[k][j];
        }
    std::memcpy(values, y, sizeof(y));
}

TImdctRanges ImdctRanges(int32_t blockType, int32_t longLines, int32_t shortLines,
                         int32_t overlapLines, int32_t zeroSubbands) {
    TImdctRanges ranges;
    ranges.ZeroEnd = std::clamp(zeroSubbands, 0, 32);
    ranges.Mixed = (blockType & ImdctMixedFlag) != 0;
    ranges.BlockType = blockType & 3;
    ranges.LongEnd = Subbands(longLines, ranges.ZeroEnd);
    ranges.ShortEnd = ranges.BlockType == 2
                          ? std::max(ranges.LongEnd, Subbands(shortLines, ranges.ZeroEnd))
                          : ranges.LongEnd;
    ranges.OverlapEnd = std::max(ranges.ShortEnd, Subbands(overlapLines, ranges.ZeroEnd));
    return ranges;
}

int32_t ImdctAfterLongBlocks(const TImdctRanges& ranges, float* input, const float* overlap,
                             float* out) {
    int32_t s = ranges.LongEnd;
    for (; s < ranges.ShortEnd; ++s)
        ImdctShortSubband(input + 18 * s, overlap + 18 * s, out + s);
    for (; s < ranges.OverlapEnd; ++s)
        for (int i = 0; i < 18; ++i)
            out[32 * i + s] = overlap[18 * s + i];
    for (; s < ranges.ZeroEnd; ++s)
        for (int i = 0; i < 18; ++i)
            out[32 * i + s] = 0.0f;
    return 18 * ranges.OverlapEnd;
}

int32_t ImdctFpu(float* input, const float* overlap, float* out, int32_t blockType,
                 int32_t longLines, int32_t shortLines, int32_t overlapLines,
                 int32_t zeroSubbands) {
    const TImdctTables& t = ImdctTables();
    const TImdctRanges ranges =
        ImdctRanges(blockType, longLines, shortLines, overlapLines, zeroSubbands);
    for (int32_t s = 0; s < ranges.LongEnd; ++s) {
        const int32_t window = ranges.LongWindow(s);
        float* x = input + 18 * s;
        const float* previous = overlap + 18 * s;
        ImdctLongCoreFpu(x);
        float y[18];
        std::memcpy(y, x, sizeof(y));
        for (int i = 0; i < 18; ++i) {
            out[32 * i + s] = y[t.FirstIndex[i]] * t.FirstHalf[window][i] + previous[i];
            x[i] = y[t.SecondIndex[i]] * t.SecondHalf[window][i];
        }
    }
    return ImdctAfterLongBlocks(ranges, input, overlap, out);
}

int32_t ImdctAccumulate(float* input, float* overlapStore, float* out, int32_t blockType,
                        int32_t longLines, int32_t shortLines) {
    const TImdctTables& t = ImdctTables();
    const TImdctRanges ranges = ImdctRanges(blockType, longLines, shortLines, 0, 32);
    int32_t s = 0;
    for (; s < ranges.LongEnd; ++s) {
        const int32_t window = ranges.LongWindow(s);
        float* x = input + 18 * s;
        float* store = overlapStore + 18 * s;
        Routines.ImdctLongCore(x);
        for (int i = 0; i < 18; ++i) {
            out[32 * i + s] += x[t.FirstIndex[i]] * t.FirstHalf[window][i];
            store[i] += x[t.SecondIndex[i]] * t.SecondHalf[window][i];
        }
    }
    for (; s < ranges.ShortEnd; ++s) {
        float* x = input + 18 * s;
        float* store = overlapStore + 18 * s;
        Routines.ImdctShortCore(x);
        float z[36];
        ShortOutputs(t, x, z);
        for (int i = 0; i < 18; ++i) {
            out[32 * i + s] += z[i];
            store[i] += z[18 + i];
        }
    }
    return 18 * ranges.ShortEnd;
}

void FrequencyInversion(float* out, int32_t lines) {
    const int32_t pairs = (lines + 17) / 36;
    for (int32_t j = 0; j < pairs && j < 16; ++j)
        for (int t = 1; t < 18; t += 2)
            out[32 * t + 2 * j + 1] = -out[32 * t + 2 * j + 1];
}

} // namespace pelbrisk
