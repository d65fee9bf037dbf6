#include "decoder/Routines.h"

#include "decoder/Layer3Routines.h"
#include "decoder/Synthesis.h"

namespace pelbrisk {

// The portable versions, so that a decoder works before any processor-specific selection.
TRoutineSlots Routines = {WindowMonoFpu, WindowInterleavedFpu, AntialiasFpu,
                          ImdctFpu,      ImdctLongCoreFpu,     ImdctShortCoreFpu};

} // namespace pelbrisk
