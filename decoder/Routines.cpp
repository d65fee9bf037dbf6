#include "decoder/Routines.h"

#include "decoder/Layer3Routines.h"
#include "decoder/Synthesis.h"

#include <cmath>

namespace pelbrisk {

// The portable versions, so that a decoder works before any processor-specific selection.
TRoutineSlots Routines = {WindowMonoFpu, WindowInterleavedFpu, AntialiasFpu,
                          ImdctFpu,      ImdctLongCoreFpu,     ImdctShortCoreFpu};

namespace {

// 3DNow! conversion: add one half, step down once more at or below zero, truncate, saturate.
inline int16_t RoundAway(float sum) {
    float value = sum + 0.5f;
    if (value <= 0.0f) value -= 1.0f;
    if (value >= 32767.0f) return 32767;
    if (value <= -32768.0f) return -32768;
    return static_cast<int16_t>(static_cast<int32_t>(value));
}

// The same sums as the floating-point unit's windows, over the same ring blocks, in single
// precision.
template <int Stride>
void WindowSingle(const float* window, const float* ring, int32_t position, int16_t* out) {
    float sums[32] = {};
    for (int k = 0; k < 8; ++k) {
        const float* first = ring + ((position + 64 * k) & 511);
        const float* second = ring + ((position + 32 + 64 * k) & 511);
        for (int j = 0; j < 16; ++j) {
            const float* row = window + 16 * j;
            sums[j] += row[2 * k] * first[16 + j] - row[2 * k + 1] * second[16 - j];
        }
        sums[16] += window[256 + k] * second[0];
        for (int j = 17; j < 32; ++j) {
            const float* row = window + 16 * (32 - j);
            sums[j] += row[15 - 2 * k] * first[48 - j] + row[14 - 2 * k] * second[j - 16];
        }
    }
    for (int j = 0; j < 32; ++j)
        out[Stride * j] = RoundAway(sums[j]);
}

} // namespace

void WindowMono3DNow(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSingle<1>(window, ring, position, out);
}

void WindowInterleaved3DNow(const float* window, const float* ring, int32_t position,
                            int16_t* out) {
    WindowSingle<2>(window, ring, position, out);
}

TWindowRoutine FastestWindowMono() {
    return WindowMonoFpu;
}

TWindowRoutine FastestWindowInterleaved() {
    return WindowInterleavedFpu;
}

} // namespace pelbrisk
