#pragma once

#include "decoder/Routines.h"

#include <cstdint>

namespace pelbrisk {

// Alias reduction over the first `boundaries` subband boundaries of a 576-line spectrum.
void AntialiasFpu(float* spectrum, int32_t boundaries);

// Added to the block type given to the IMDCT when the granule's mixed flag is set: the two lowest
// subbands then take the normal long window, whatever the block type.
constexpr int32_t ImdctMixedFlag = 4;

// Where the subband ranges of one IMDCT call end (see ImdctFpu), and how its long blocks are
// windowed.
struct TImdctRanges {
    int32_t LongEnd;
    int32_t ShortEnd;
    int32_t OverlapEnd;
    int32_t ZeroEnd;
    int32_t BlockType; // without the mixed flag
    bool Mixed;

    // The window (0, 1 or 3) of a long block in `subband`.
    int32_t LongWindow(int32_t subband) const {
        return BlockType == 2 || (Mixed && subband < 2) ? 0 : BlockType;
    }
};
TImdctRanges ImdctRanges(int32_t blockType, int32_t longLines, int32_t shortLines,
                         int32_t overlapLines, int32_t zeroSubbands);
// Every IMDCT version after its long blocks: the short blocks, the overlap alone, the zeros.
// Returns 18 times the end of the overlap range.
int32_t ImdctAfterLongBlocks(const TImdctRanges& ranges, float* input, const float* overlap,
                             float* out);

// The hybrid filter bank of one channel and granule. `input` holds the spectrum and receives the
// overlap for the next granule; `overlap` is what the previous granule left; `out` is the
// 18 x 32 subband-sample array. Subbands are handled in four ranges: below
// (longLines + 17) / 18 long IMDCTs, then up to (shortLines + 17) / 18 three short IMDCTs, then
// up to (overlapLines + 17) / 18 the overlap alone, then zeros up to `zeroSubbands`. Returns 18
// times the subbands of the first three ranges.
int32_t ImdctFpu(float* input, const float* overlap, float* out, int32_t blockType,
                 int32_t longLines, int32_t shortLines, int32_t overlapLines, int32_t zeroSubbands);

#if defined(__x86_64__)
// The same with AVX2 and FMA for the long blocks; only for processors that have them.
int32_t ImdctAvx2(float* input, const float* overlap, float* out, int32_t blockType,
                  int32_t longLines, int32_t shortLines, int32_t overlapLines,
                  int32_t zeroSubbands);
#endif
// The fastest IMDCT this processor runs.
TImdctRoutine FastestImdct();

// The long IMDCT of one window (0, 1 or 3) as a matrix [k][40]: outputs 0..17 the windowed first
// half, 18..35 the windowed second half of the 36-point transform.
const float* ImdctLongMatrix(int32_t window);

// The transform cores, in place on the 18 lines of one subband. Long: y[j] = sum over k of
// x[k] cos(pi / 72 (2j + 1)(2k + 1)). Short: for each window w the 6 lines x[3k + w] become
// y[6w + j] = sum over k of x[3k + w] cos(pi / 24 (2j + 1)(2k + 1)).
void ImdctLongCoreFpu(float* values);
void ImdctShortCoreFpu(float* values);

// Ranges one and two of the IMDCT through the core slots, adding the first halves into `out` and
// the second halves into `overlapStore`: how a second channel joins the first when both are
// mixed to one. Returns 18 times the subbands processed.
int32_t ImdctAccumulate(float* input, float* overlapStore, float* out, int32_t blockType,
                        int32_t longLines, int32_t shortLines);

// Negates the odd time slots of the odd subbands among the first (lines + 17) / 18.
void FrequencyInversion(float* out, int32_t lines);

} // namespace pelbrisk
