#include "decoder/DecoderState.h"
#include "decoder/Layer3Routines.h"
#include "decoder/Layer3State.h"
#include "decoder/Layer3Tables.h"
#include "decoder/Routines.h"
#include "decoder/Synthesis.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace pelbrisk {

namespace {

inline float Requantized(const TLayer3Constants& k, int32_t x, float gain) {
    if (static_cast<uint32_t>(x + 32) < 64u) return gain * k.SmallPow[x + 32];
    return static_cast<float>(k.PowerThird[std::abs(x)] * (static_cast<double>(gain) * x));
}

// Lines [begin, end) of one gain; whether any of them is non-zero. Four lines at a time where all
// four are small (nearly always), with the same products as one by one.
inline bool RequantizeLines(const TLayer3Constants& k, const int32_t* in, float* out, int32_t begin,
                            int32_t end, float gain) {
    int32_t i = begin;
#if defined(__SSE2__)
    __m128i seen = _mm_setzero_si128();
    const __m128 gains = _mm_set1_ps(gain);
    const float* small = k.SmallPow + 32;
    for (; i + 4 <= end; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        seen = _mm_or_si128(seen, x);
        const __m128i outside =
            _mm_andnot_si128(_mm_set1_epi32(63), _mm_add_epi32(x, _mm_set1_epi32(32)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(outside, _mm_setzero_si128())) != 0xFFFF) {
            for (int j = 0; j < 4; ++j)
                out[i + j] = Requantized(k, in[i + j], gain);
            continue;
        }
        const __m128 values =
            _mm_setr_ps(small[in[i]], small[in[i + 1]], small[in[i + 2]], small[in[i + 3]]);
        _mm_storeu_ps(out + i, _mm_mul_ps(values, gains));
    }
    bool any = _mm_movemask_epi8(_mm_cmpeq_epi32(seen, _mm_setzero_si128())) != 0xFFFF;
#else
    bool any = false;
#endif
    for (; i < end; ++i) {
        any |= in[i] != 0;
        out[i] = Requantized(k, in[i], gain);
    }
    return any;
}

// Integer lines to scaled floats, short blocks reordered window by window; fills the channel's
// extent and leaves zeros behind the last band it reached.
void Requantize(TLayer3State& state, int32_t slot, int32_t channel) {
    const TLayer3Constants& k = *state.Constants;
    const TGranuleInfo& gi = state.Side.Granule[slot][channel];
    const TScaleFactors& sf = state.ScaleFactors[slot][channel];
    TSpectrumExtent& extent = state.Extent[slot][channel];
    const int32_t* in = state.Quantized[channel];
    float* out = state.Spectrum[channel][slot];
    const int32_t nonZero = state.NonZeroLines[slot][channel];
    const float globalGain = k.GainPower[std::clamp(gi.GlobalGain + 6, 0, 261)];
    const int32_t scale = gi.ScalefacScale;

    // -1: no band holds a value, so intensity stereo may start at band 0.
    extent = TSpectrumExtent{0, -1, 0, 0, {-1, -1, -1}};
    if (gi.BlockType == 2) {
        extent.HasShort = 1;
        extent.LongBandCount = gi.MixedBlock ? state.MixedLongBands : 0;
        extent.FirstShortBand = gi.MixedBlock ? 3 : 0;
    } else {
        extent.LongBandCount = 22;
        extent.FirstShortBand = 12;
    }

    int32_t done = 0;
    for (int32_t band = 0; band < extent.LongBandCount && done < nonZero; ++band) {
        const float gain =
            globalGain * k.ScaleFactorGain[scale][Pretab[gi.Preflag][band]][sf.Long[band] & 31];
        const int32_t end = state.LongEnd[band];
        if (RequantizeLines(k, in, out, done, end, gain)) extent.LastNonZeroBand = band;
        done = end;
    }

    if (gi.BlockType == 2) {
        const int32_t firstLine =
            extent.FirstShortBand ? state.ShortEnd3[extent.FirstShortBand - 1] : 0;
        float windowGain[3];
        for (int w = 0; w < 3; ++w)
            windowGain[w] = globalGain * k.SubblockFactor[gi.SubblockGain[w] & 7];
        for (int32_t band = extent.FirstShortBand; band < 13 && done < nonZero; ++band) {
            const int32_t start = band ? state.ShortEnd3[band - 1] / 3 : 0;
            const int32_t width = state.ShortWidth[band];
            for (int w = 0; w < 3; ++w) {
                const float gain =
                    windowGain[w] * k.ScaleFactorGain[scale][0][sf.Short[w][band] & 31];
                const int32_t* source = in + 3 * start + w * width;
                bool any = false;
                for (int32_t i = 0; i < width; ++i) {
                    const int32_t x = source[i];
                    any |= x != 0;
                    state.Reorder[3 * (start + i) + w] = Requantized(k, x, gain);
                }
                if (any) extent.LastNonZeroShort[w] = band;
            }
            done = state.ShortEnd3[band];
        }
        if (done > firstLine)
            std::memcpy(out + firstLine, state.Reorder + firstLine,
                        sizeof(float) * static_cast<size_t>(done - firstLine));
        state.NonZeroLines[slot][channel] = done;
        // Intensity stereo reads this as a short band, also when a mixed block's values end
        // in its long part.
        extent.LastNonZeroBand = std::max(
            {extent.LastNonZeroShort[0], extent.LastNonZeroShort[1], extent.LastNonZeroShort[2]});
    }
    std::fill(out + done, out + 576, 0.0f);
}

int32_t BandEnd(const TLayer3State& state, const TSpectrumExtent& extent, int32_t band) {
    if (band < 0) return 0;
    return extent.HasShort ? state.ShortEnd3[band] : state.LongEnd[band];
}

int32_t BandStart(const TLayer3State& state, const TSpectrumExtent& extent, int32_t band) {
    return BandEnd(state, extent, band - 1);
}

// The first band of the intensity region: past the right channel's last value, and never in the
// long part of a mixed block.
int32_t FirstIntensityBand(const TSpectrumExtent& right) {
    return std::max(right.LastNonZeroBand + 1, right.HasShort ? right.FirstShortBand : 0);
}

void MidSideStereo(float* left, float* right, int32_t lines) {
    for (int32_t i = 0; i < lines; ++i) {
        const float l = left[i];
        const float r = right[i];
        left[i] = l + r;
        right[i] = l - r;
    }
}

// Position 0 of the one-bit block: both channels take the left one's values.
constexpr int32_t LsfPositionZero = 1;

inline void Position(float* left, float* right, int32_t i, const float* pair) {
    const float l = left[i];
    left[i] = l * pair[0];
    right[i] = l * pair[1];
}

void IntensityStereo(TLayer3State& state, int32_t slot) {
    const TLayer3Constants& k = *state.Constants;
    const TLayer3SideInfo& side = state.Side;
    const TSpectrumExtent& rightExtent = state.Extent[slot][1];
    const TSpectrumExtent& leftExtent = state.Extent[slot][0];
    const TScaleFactors& sf = state.ScaleFactors[slot][1];
    float* left = state.Spectrum[0][slot];
    float* right = state.Spectrum[1][slot];
    const int32_t leftLines = std::min(state.NonZeroLines[slot][0], 576);
    const int32_t ms = side.MidSide;
    const TIntensityPartition& ip = state.Intensity;

    // The top band of either numbering carries no position of its own. It takes the band
    // below's when that band lies in the intensity region too; otherwise LSF streams give it
    // position 0 (both channels equal) and MPEG-1 streams leave it as coded.
    if (!rightExtent.HasShort) {
        const int32_t first = FirstIntensityBand(rightExtent);
        const int32_t last = (first <= 20 || state.Lsf) ? 21 : 20;
        for (int32_t band = first; band <= last; ++band) {
            const int32_t start = BandStart(state, rightExtent, band);
            if (start >= leftLines) break;
            const int32_t end = std::min(state.LongEnd[band], leftLines);
            const int32_t coded = std::min(band, 20);
            const float* pair;
            if (!state.Lsf)
                pair = k.IntensityMpeg1[ms][std::min(sf.Long[coded], 7)];
            else if (first <= 20)
                pair = k.IntensityLsf[ip.Scale][ms]
                                     [std::min(ip.LongLimit[coded] + sf.Long[coded], 63)];
            else
                pair = k.IntensityLsf[ip.Scale][ms][LsfPositionZero];
            for (int32_t i = start; i < end; ++i)
                Position(left, right, i, pair);
        }
        return;
    }
    if (!state.Lsf) {
        const int32_t first = FirstIntensityBand(rightExtent);
        const int32_t last = first <= 11 ? 12 : 11;
        for (int32_t band = first; band <= last; ++band) {
            const int32_t start = BandStart(state, rightExtent, band);
            const int32_t end = state.ShortEnd3[band];
            const int32_t coded = std::min(band, 11);
            for (int32_t i = start; i + 3 <= end && i + 3 <= leftLines; i += 3)
                for (int w = 0; w < 3; ++w)
                    Position(left, right, i + w,
                             k.IntensityMpeg1[ms][std::min(sf.Short[w][coded], 7)]);
        }
        return;
    }
    for (int w = 0; w < 3; ++w) {
        const int32_t first =
            std::max(rightExtent.LastNonZeroShort[w] + 1, rightExtent.FirstShortBand);
        const int32_t last = std::min(leftExtent.LastNonZeroShort[w], 12);
        for (int32_t band = first; band <= last; ++band) {
            const int32_t coded = std::min(band, 11);
            const float* pair = first <= 11 ? k.IntensityLsf[ip.Scale][ms][std::min(
                                                  ip.ShortLimit[coded] + sf.Short[w][coded], 63)]
                                            : k.IntensityLsf[ip.Scale][ms][LsfPositionZero];
            const int32_t start = BandStart(state, rightExtent, band);
            const int32_t end = state.ShortEnd3[band];
            for (int32_t i = start + w; i < end; i += 3)
                Position(left, right, i, pair);
        }
    }
}

// The long-line count of channel c's IMDCT: everything for long blocks, the long subbands of a
// mixed block, nothing for pure short blocks.
int32_t LongLines(const TLayer3State& state, const TGranuleInfo& gi, int32_t lines) {
    if (gi.BlockType != 2) return lines;
    return gi.MixedBlock ? state.LongEnd[state.MixedLongBands - 1] : 0;
}

// The block type as the IMDCT takes it: a mixed flag, whatever the type, gives the two lowest
// subbands the normal long window.
int32_t ImdctBlockType(const TGranuleInfo& gi) {
    return gi.BlockType | (gi.MixedBlock ? ImdctMixedFlag : 0);
}

int32_t RunImdct(TLayer3State& state, int32_t slot, int32_t channel) {
    const TGranuleInfo& gi = state.Side.Granule[slot][channel];
    const int32_t lines = state.NonZeroLines[slot][channel];
    const int32_t result = Routines.Imdct(
        state.Spectrum[channel][slot], state.Spectrum[channel][slot ^ 1],
        &state.SubbandSamples[0][0], ImdctBlockType(gi),
        std::min(state.LineLimit, LongLines(state, gi, lines)), std::min(state.LineLimit, lines),
        state.NonZeroLines[slot ^ 1][channel], state.ZeroSubbands);
    state.NonZeroLines[slot][channel] = result;
    return result;
}

int32_t MixChannels(TLayer3State& state, int32_t slot) {
    const TGranuleInfo& g0 = state.Side.Granule[slot][0];
    const TGranuleInfo& g1 = state.Side.Granule[slot][1];
    float* out = &state.SubbandSamples[0][0];
    if (g0.BlockType == g1.BlockType && !g0.MixedBlock && !g1.MixedBlock) {
        const int32_t n = std::min(
            state.LineLimit, std::max(state.NonZeroLines[slot][0], state.NonZeroLines[slot][1]));
        float* left = state.Spectrum[0][slot];
        const float* right = state.Spectrum[1][slot];
        for (int32_t i = 0; i < n; ++i)
            left[i] += right[i];
        const int32_t result = Routines.Imdct(left, state.Spectrum[0][slot ^ 1], out, g0.BlockType,
                                              g0.BlockType == 2 ? 0 : n, n,
                                              state.NonZeroLines[slot ^ 1][0], state.ZeroSubbands);
        state.NonZeroLines[slot][0] = result;
        return result;
    }
    const int32_t first = RunImdct(state, slot, 0);
    const int32_t lines1 = state.NonZeroLines[slot][1];
    const int32_t second = ImdctAccumulate(
        state.Spectrum[1][slot], state.Spectrum[0][slot], out, ImdctBlockType(g1),
        std::min(state.LineLimit, LongLines(state, g1, lines1)), std::min(state.LineLimit, lines1));
    // The merged overlap now reaches as far as either channel did.
    const int32_t result = std::max(first, second);
    state.NonZeroLines[slot][0] = result;
    return result;
}

} // namespace

void ProcessGranule(TMP3Decoder& decoder, TLayer3State& state, int32_t slot, int16_t* output) {
    const TLayer3SideInfo& side = state.Side;
    const int32_t channels = side.Channels;
    for (int32_t c = 0; c < channels; ++c)
        Requantize(state, slot, c);

    if (channels == 2) {
        if (side.MidSide) {
            int32_t lines;
            if (side.Intensity) {
                const TSpectrumExtent& right = state.Extent[slot][1];
                lines = BandStart(state, right, FirstIntensityBand(right));
            } else {
                lines = std::max(state.NonZeroLines[slot][0], state.NonZeroLines[slot][1]);
            }
            MidSideStereo(state.Spectrum[0][slot], state.Spectrum[1][slot], std::min(lines, 576));
        }
        if (side.Intensity) IntensityStereo(state, slot);
        if (side.ModeExtension != 0) {
            const int32_t widest =
                std::max(state.NonZeroLines[slot][0], state.NonZeroLines[slot][1]);
            state.NonZeroLines[slot][0] = state.NonZeroLines[slot][1] = widest;
        }
    }

    // Alias reduction joins subbands that both have long blocks: none in a pure short block,
    // only subbands 0 and 1 in a mixed block with a short part. A mixed flag on a start or stop
    // block has no short part: it changes only the window of subbands 0 and 1 (ImdctBlockType),
    // and the block is reduced at every boundary. l3-si_block holds all of these.
    for (int32_t c = 0; c < channels; ++c) {
        const TSpectrumExtent& extent = state.Extent[slot][c];
        if (extent.LongBandCount == 0) continue;
        const int32_t boundaries =
            extent.HasShort ? 1 : std::min((state.NonZeroLines[slot][c] + 7) / 18, 31);
        Routines.Antialias(state.Spectrum[c][slot], boundaries);
        state.NonZeroLines[slot][c] = std::max(state.NonZeroLines[slot][c], 18 * boundaries + 8);
    }

    if (decoder.LineEqualizerOn != 0) {
        for (int32_t c = 0; c < channels; ++c) {
            float* spectrum = state.Spectrum[c][slot];
            const int32_t lines = std::min(state.NonZeroLines[slot][c], 576);
            for (int32_t i = 0; i < lines; ++i)
                spectrum[i] *= decoder.LineGain[i];
        }
    }

    const auto samples = state.SubbandSamples;
    float* out = &state.SubbandSamples[0][0];
    TLayer3Stage stage = state.Stage;
    // A frame whose channel count differs from the output's is played through the output's
    // channels: a single-channel frame feeds both, a two-channel one is mixed into one (or gives
    // the one channel asked for).
    if (channels == 1 && stage != lsStereo) stage = lsMono;
    switch (stage) {
    case lsMono:
        FrequencyInversion(out, RunImdct(state, slot, 0));
        SynthesizeLayer3Mono(decoder, samples, output);
        break;
    case lsRight:
        FrequencyInversion(out, RunImdct(state, slot, 1));
        SynthesizeLayer3Mono(decoder, samples, output);
        break;
    case lsStereo:
        if (channels == 1) {
            FrequencyInversion(out, RunImdct(state, slot, 0));
            SynthesizeLayer3Channel(decoder, 0, samples, output);
            SynthesizeLayer3Channel(decoder, 1, samples, output);
            break;
        }
        for (int32_t c = 0; c < 2; ++c) {
            FrequencyInversion(out, RunImdct(state, slot, c));
            SynthesizeLayer3Channel(decoder, c, samples, output);
        }
        break;
    case lsMix:
        FrequencyInversion(out, MixChannels(state, slot));
        SynthesizeLayer3Mono(decoder, samples, output);
        break;
    }
    // After a single-channel frame in a two-channel output the right channel carries on from
    // the same overlap when two-channel frames return.
    if (channels == 1 && state.OutputChannels == 2) {
        std::memcpy(state.Spectrum[1][slot], state.Spectrum[0][slot], sizeof(float) * 576);
        state.NonZeroLines[slot][1] = state.NonZeroLines[slot][0];
    }
}

} // namespace pelbrisk
