#pragma once

#include <cstdint>

namespace pelbrisk {

struct TMP3Decoder;

// The polyphase synthesis filter bank: subband samples on the 16-bit scale in, 16-bit PCM out.
//
// What a window routine reads. The ring of a channel holds the DCT-32 outputs X[0..31] of its
// last 16 time slots, 32 values each, the newest at [position .. position + 31] and the slot
// m steps older at (position + 32m) mod 512. The window (264 values, its sign the polarity)
// holds rows m = 0..15 of 16 values D[32m + j], j = 0..15, then 8 values -D[48 + 64k]. Row m
// weighs the slot m steps old: output j (0..15) adds row[j] * X[16 + j] for even m and
// subtracts row[j] * X[16 - j] for odd m; output 32 - j (j = 1..15) adds (-1)^m * row'[j] times
// the same value, with row' the row 15 - m; output 16 adds the last row's value k times X[0] of
// the slot 2k + 1 steps old.

// Every window routine steps through the ring in pairs of slots m and 15 - m (m even): the two
// share their window rows, each row weighing one slot for the low outputs and the other for the
// high ones, and the odd slot's X[0] feeds the middle output.
struct TWindowStep {
    const float* Even;    // the ring slot m steps old
    const float* Odd;     // the ring slot 15 - m steps old
    const float* EvenRow; // window row m
    const float* OddRow;  // window row 15 - m
    float MiddleWeight;
};

inline TWindowStep WindowStep(const float* window, const float* ring, int32_t position, int m) {
    const int32_t newest = position >> 5;
    return {ring + 32 * ((newest + m) & 15), ring + 32 * ((newest + 15 - m) & 15), window + 16 * m,
            window + 16 * (15 - m), window[256 + 7 - m / 2]};
}

// Outputs 0..15 come from the low sums, 16 from the middle one, 17..31 from the high sums
// (high[j] is output 32 - j; high[0] has no output).
template <int Stride>
inline void StoreSlot(const int32_t* low, int32_t middle, const int32_t* high, int16_t* out) {
    for (int j = 0; j < 16; ++j)
        out[Stride * j] = static_cast<int16_t>(low[j]);
    out[Stride * 16] = static_cast<int16_t>(middle);
    for (int j = 1; j < 16; ++j)
        out[Stride * (32 - j)] = static_cast<int16_t>(high[j]);
}

// X[k] = sum over i of x[i] * cos((2i + 1) k pi / 64), k = 0..31, in single precision.
void Dct32(const float* x, float* X);

// Clears both rings and their positions; every set-up calls it.
void ResetSynthesis(TMP3Decoder& decoder);

// The window routines with the floating-point unit's results, on every processor (with SSE2
// where the processor has it): each output's products summed in double, rounded half to even
// and clipped to 16 bits.
void WindowMonoFpu(const float* window, const float* ring, int32_t position, int16_t* out);
void WindowInterleavedFpu(const float* window, const float* ring, int32_t position, int16_t* out);
#if defined(__x86_64__)
// The same with AVX2 and fused multiply-adds, for processors that have both: the sums in single
// precision, each sample within one of the double-precision routines' sample.
void WindowMonoAvx2(const float* window, const float* ring, int32_t position, int16_t* out);
void WindowInterleavedAvx2(const float* window, const float* ring, int32_t position, int16_t* out);
#endif

// Layer III: 18 time slots of 32 subband samples each.
// One channel: 18 * 32 consecutive samples at `out`.
void SynthesizeLayer3Mono(TMP3Decoder& decoder, const float (*subbandSamples)[32], int16_t* out);
// One channel of interleaved stereo: `out` is the granule's first (left) sample; channel c's
// samples go to out[c], out[c + 2], ... through ring c.
void SynthesizeLayer3Channel(TMP3Decoder& decoder, int32_t channel,
                             const float (*subbandSamples)[32], int16_t* out);

// Layers I and II: `count` time slots of 64 values (subband s at [s] for a single-channel stream,
// at [2s + c] for channel c of a two-channel frame), written as the set-up's output selector
// says, into the set-up's output channels whatever the frame's own channel count.
void SynthesizeLayer12(TMP3Decoder& decoder, const float (*samples)[64], int32_t count,
                       int16_t* out);

} // namespace pelbrisk
