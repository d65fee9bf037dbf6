#pragma once

#include <cstdint>

namespace pelbrisk {

// The decoder's hot loops, one version per processor family, installed by SelectRoutines.
// Slots are plain process-wide pointers: the decoding thread reads them on every call.

// Windows one time slot of a synthesis ring into 32 16-bit samples.
// `window` is the 264-value window table (its sign carries the polarity), `ring` the channel's
// 512-value ring and `position` its write position; the interleaved form writes every second
// sample (out[0], out[2], ... out[62]).
using TWindowRoutine = void (*)(const float* window, const float* ring, int32_t position,
                                int16_t* out);
// Layer III alias reduction over the first `boundaries` subband boundaries.
using TAntialiasRoutine = void (*)(float* spectrum, int32_t boundaries);
// The Layer III hybrid filter bank of one channel and granule (see Layer3Routines.h).
using TImdctRoutine = int32_t (*)(float* input, const float* overlap, float* out, int32_t blockType,
                                  int32_t longLines, int32_t shortLines, int32_t overlapLines,
                                  int32_t zeroSubbands);
// An IMDCT core, in place on the 18 lines of one subband.
using TImdctCoreRoutine = void (*)(float* values);

struct TRoutineSlots {
    TWindowRoutine WindowMono;
    TWindowRoutine WindowInterleaved;
    TAntialiasRoutine Antialias;
    TImdctRoutine Imdct;
    TImdctCoreRoutine ImdctLongCore;
    TImdctCoreRoutine ImdctShortCore;
};

extern TRoutineSlots Routines;

// The windows with the 3DNow! rounding: products summed in single precision, ties rounded away
// from zero, saturated to 16 bits.
void WindowMono3DNow(const float* window, const float* ring, int32_t position, int16_t* out);
void WindowInterleaved3DNow(const float* window, const float* ring, int32_t position, int16_t* out);

// The fastest windows with the floating-point unit's results that this processor runs.
TWindowRoutine FastestWindowMono();
TWindowRoutine FastestWindowInterleaved();

} // namespace pelbrisk
