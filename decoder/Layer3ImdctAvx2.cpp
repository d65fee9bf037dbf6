// The Layer III IMDCT with AVX2 and FMA. Every function here carries its own target attribute
// and nothing here is shared inline code, so the rest of the program runs on any x86-64
// processor; Routines.cpp installs it only where the processor has the instructions.
#if defined(__x86_64__)

#include "decoder/Layer3Routines.h"

#include <immintrin.h>

namespace pelbrisk {

namespace {

#define PELBRISK_AVX2 __attribute__((target("avx2,fma")))

// One long block: the 36 windowed outputs of the 18 lines at `x` as 18 broadcasts against the
// window's matrix rows.
PELBRISK_AVX2 inline void LongBlock(const float* matrix, const float* x, float* z) {
    __m256 a0 = _mm256_setzero_ps();
    __m256 a1 = _mm256_setzero_ps();
    __m256 a2 = _mm256_setzero_ps();
    __m256 a3 = _mm256_setzero_ps();
    __m256 a4 = _mm256_setzero_ps();
#pragma GCC unroll 18
    for (int k = 0; k < 18; ++k) {
        const __m256 v = _mm256_broadcast_ss(x + k);
        const float* row = matrix + 40 * k;
        a0 = _mm256_fmadd_ps(v, _mm256_load_ps(row), a0);
        a1 = _mm256_fmadd_ps(v, _mm256_load_ps(row + 8), a1);
        a2 = _mm256_fmadd_ps(v, _mm256_load_ps(row + 16), a2);
        a3 = _mm256_fmadd_ps(v, _mm256_load_ps(row + 24), a3);
        a4 = _mm256_fmadd_ps(v, _mm256_load_ps(row + 32), a4);
    }
    _mm256_storeu_ps(z, a0);
    _mm256_storeu_ps(z + 8, a1);
    _mm256_storeu_ps(z + 16, a2);
    _mm256_storeu_ps(z + 24, a3);
    _mm256_storeu_ps(z + 32, a4);
}

} // namespace

PELBRISK_AVX2 int32_t ImdctAvx2(float* input, const float* overlap, float* out, int32_t blockType,
                                int32_t longLines, int32_t shortLines, int32_t overlapLines,
                                int32_t zeroSubbands) {
    const TImdctRanges ranges =
        ImdctRanges(blockType, longLines, shortLines, overlapLines, zeroSubbands);
    // Only the two lowest subbands may take another window than the rest.
    const float* lowestMatrix = ImdctLongMatrix(ranges.LongWindow(0));
    const float* matrix = ImdctLongMatrix(ranges.LongWindow(2));
    for (int32_t s = 0; s < ranges.LongEnd; ++s) {
        float* x = input + 18 * s;
        const float* previous = overlap + 18 * s;
        alignas(32) float z[40];
        LongBlock(s < 2 ? lowestMatrix : matrix, x, z);
        for (int i = 0; i < 18; ++i)
            out[32 * i + s] = z[i] + previous[i];
        _mm256_storeu_ps(x, _mm256_loadu_ps(z + 18));
        _mm256_storeu_ps(x + 8, _mm256_loadu_ps(z + 26));
        x[16] = z[34];
        x[17] = z[35];
    }
    return ImdctAfterLongBlocks(ranges, input, overlap, out);
}

} // namespace pelbrisk

#endif
