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

struct TRoutineSlots {
    TWindowRoutine WindowMono;
    TWindowRoutine WindowInterleaved;
    // The Layer III slots (alias reduction, IMDCT and its cores) follow here.
};

extern TRoutineSlots Routines;

} // namespace pelbrisk
