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

// The sums of the floating-point unit's windows in single precision.
template <int Stride>
void WindowSingle(const float* window, const float* ring, int32_t position, int16_t* out) {
    float low[16] = {};
    float high[16] = {};
    float middle = 0.0f;
    for (int m = 0; m < 16; m += 2) {
        const TWindowStep step = WindowStep(window, ring, position, m);
        for (int j = 0; j < 16; ++j) {
            low[j] += step.EvenRow[j] * step.Even[16 + j] - step.OddRow[j] * step.Odd[16 - j];
            high[j] += step.OddRow[j] * step.Even[16 + j] + step.EvenRow[j] * step.Odd[16 - j];
        }
        middle += step.MiddleWeight * step.Odd[0];
    }
    int32_t lowSamples[16];
    int32_t highSamples[16];
    for (int j = 0; j < 16; ++j) {
        lowSamples[j] = RoundAway(low[j]);
        highSamples[j] = RoundAway(high[j]);
    }
    StoreSlot<Stride>(lowSamples, RoundAway(middle), highSamples, out);
}

} // namespace

void WindowMono3DNow(const float* window, const float* ring, int32_t position, int16_t* out) {
    WindowSingle<1>(window, ring, position, out);
}

void WindowInterleaved3DNow(const float* window, const float* ring, int32_t position,
                            int16_t* out) {
    WindowSingle<2>(window, ring, position, out);
}

#if defined(__x86_64__)

namespace {
bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
} // namespace

TWindowRoutine FastestWindowMono() {
    return HasAvx2() ? WindowMonoAvx2 : WindowMonoFpu;
}

TWindowRoutine FastestWindowInterleaved() {
    return HasAvx2() ? WindowInterleavedAvx2 : WindowInterleavedFpu;
}

TImdctRoutine FastestImdct() {
    return HasAvx2() ? ImdctAvx2 : ImdctFpu;
}
#else
TWindowRoutine FastestWindowMono() {
    return WindowMonoFpu;
}

TWindowRoutine FastestWindowInterleaved() {
    return WindowInterleavedFpu;
}

TImdctRoutine FastestImdct() {
    return ImdctFpu;
}
#endif

} // namespace pelbrisk
