#include "decoder/DecoderState.h"
#include "decoder/Layer12.h"
#include "decoder/Layer12Tables.h"
#include "decoder/Synthesis.h"

#include <cstring>

namespace pelbrisk {

namespace {

// SampleType values past the 18 classes and their 18 joint-stereo forms.
constexpr int32_t kJointOffset = 18;
constexpr int32_t kEndOfGranule = 36;
constexpr int32_t kSkipRest = 37;
// Scale-factor selection: 4 = nothing transmitted, 5 = end of the entries.
constexpr int32_t kNoScaleFactors = 4;
constexpr int32_t kEndOfSelections = 5;

void ReadAllocation(TLayer12State& state, TLayer12BitReader& reader) {
    state.SkipCount = 0;
    int32_t separateLeft = state.JointBound;
    int32_t entry = 0;
    for (int32_t group = 0; group < 4; ++group) {
        const int32_t width = state.GroupFieldWidth[group];
        const uint8_t* classByCode = state.GroupClassByCode[group];
        for (int32_t taken = 0; taken < state.GroupEntries[group];) {
            const int32_t quantClass = classByCode[reader.GetBits(width)];
            if (entry >= state.DecodeLimit) state.SkipCount += ClassBitsPerGranule[quantClass];
            const int32_t assigned = AssignAllocation(
                state, entry, quantClass, ClassFactors[quantClass], kJointOffset, separateLeft);
            taken += assigned;
            entry += assigned;
        }
    }
    state.SampleType[state.DecodeLimit] = kSkipRest;
    state.SampleType[state.EntryCount] = kEndOfGranule;
}

void ReadScaleFactors(TLayer12State& state, TLayer12BitReader& reader) {
    for (int32_t entry = 0; entry < state.EntryCount; ++entry)
        state.ScaleSelect[entry] = state.AllocClass[entry] != 0
                                       ? static_cast<int32_t>(reader.GetBits(2))
                                       : kNoScaleFactors;
    state.ScaleSelect[state.EntryCount] = kEndOfSelections;

    for (int32_t entry = 0; state.ScaleSelect[entry] != kEndOfSelections; ++entry) {
        const float factor = state.ClassFactor[entry];
        float* part0 = &state.Factor[0][entry];
        float* part1 = &state.Factor[1][entry];
        float* part2 = &state.Factor[2][entry];
        switch (state.ScaleSelect[entry]) {
        case 0:
            *part0 = factor * ScaleFactors[reader.GetBits(6)];
            *part1 = factor * ScaleFactors[reader.GetBits(6)];
            *part2 = factor * ScaleFactors[reader.GetBits(6)];
            break;
        case 1:
            *part0 = *part1 = factor * ScaleFactors[reader.GetBits(6)];
            *part2 = factor * ScaleFactors[reader.GetBits(6)];
            break;
        case 2:
            *part0 = *part1 = *part2 = factor * ScaleFactors[reader.GetBits(6)];
            break;
        case 3:
            *part0 = factor * ScaleFactors[reader.GetBits(6)];
            *part1 = *part2 = factor * ScaleFactors[reader.GetBits(6)];
            break;
        default:
            break;
        }
    }
}

template <typename T>
inline void Ungroup(const std::array<T, 3>& group, float values[3]) {
    values[0] = group[0];
    values[1] = group[1];
    values[2] = group[2];
}

// Reads the three samples of one entry of class `quantClass` (1..17), centred and unscaled.
inline void ReadTriple(TLayer12BitReader& reader, int32_t quantClass, float values[3]) {
    switch (quantClass) {
    case 1:
        Ungroup(Grouping3[reader.GetBits(5)], values);
        return;
    case 2:
        Ungroup(Grouping5[reader.GetBits(7)], values);
        return;
    case 4:
        Ungroup(Grouping9[reader.GetBits(10)], values);
        return;
    default: {
        const int32_t bits = ClassCodeBits[quantClass];
        const int32_t centre = (1 << (bits - 1)) - 1;
        if (bits <= 10) {
            // Three codes of at most 10 bits fit in one read.
            const uint32_t codes = reader.GetBits(3 * bits);
            const uint32_t mask = (1u << bits) - 1;
            values[0] = static_cast<float>(static_cast<int32_t>(codes >> (2 * bits)) - centre);
            values[1] = static_cast<float>(static_cast<int32_t>((codes >> bits) & mask) - centre);
            values[2] = static_cast<float>(static_cast<int32_t>(codes & mask) - centre);
            return;
        }
        for (int32_t i = 0; i < 3; ++i)
            values[i] = static_cast<float>(static_cast<int32_t>(reader.GetBits(bits)) - centre);
        return;
    }
    }
}

void ReadGranule(TLayer12State& state, TLayer12BitReader& reader, int32_t part, float* row0,
                 float* row1, float* row2) {
    const float* factors = state.Factor[part];
    float values[3];
    for (int32_t entry = 0;;) {
        const int32_t type = state.SampleType[entry];
        if (type == 0) {
            row0[entry] = row1[entry] = row2[entry] = 0.0f;
            ++entry;
        } else if (type < kJointOffset) {
            ReadTriple(reader, type, values);
            const float factor = factors[entry];
            row0[entry] = values[0] * factor;
            row1[entry] = values[1] * factor;
            row2[entry] = values[2] * factor;
            ++entry;
        } else if (type == kJointOffset) {
            row0[entry] = row1[entry] = row2[entry] = 0.0f;
            row0[entry + 1] = row1[entry + 1] = row2[entry + 1] = 0.0f;
            entry += 2;
        } else if (type < kEndOfGranule) {
            ReadTriple(reader, type - kJointOffset, values);
            const float factor = factors[entry];
            const float twinFactor = factors[entry + 1];
            row0[entry] = values[0] * factor;
            row1[entry] = values[1] * factor;
            row2[entry] = values[2] * factor;
            row0[entry + 1] = values[0] * twinFactor;
            row1[entry + 1] = values[1] * twinFactor;
            row2[entry + 1] = values[2] * twinFactor;
            entry += 2;
        } else {
            if (type == kSkipRest) reader.SkipBits(state.SkipCount);
            return;
        }
    }
}

// The allocation table of a frame of this mode and bit rate, and the entries' layout for it;
// the number of coded subbands, or 0 when the standard allows no table for them.
int32_t LayOutLayer2Frame(TLayer12State& state, int32_t mode, int32_t bitrateIndex) {
    const TLayer2Table table =
        ChooseLayer2Table(state.Header.Id, mode, state.Header.SamplingIndex, bitrateIndex);
    if (table == l2tNone) return 0;
    const TLayer2Allocation& allocation = Layer2Allocations[table];
    const int32_t channels = mode == 3 ? 1 : 2;
    int32_t subbands = 0;
    for (int32_t group = 0; group < 4; ++group) {
        state.GroupEntries[group] = allocation.GroupSize[group] * channels;
        state.GroupFieldWidth[group] = allocation.FieldWidth[group];
        std::memcpy(state.GroupClassByCode[group], allocation.ClassByCode[group], 16);
        subbands += allocation.GroupSize[group];
    }
    state.BitrateIndex = bitrateIndex;
    return subbands;
}

} // namespace

int32_t Layer2Setup(TMP3Decoder& decoder, const TMP3FrameHeader& header, int32_t length,
                    int32_t bandwidth) {
    // MPEG-2.5 frames carry an 11-bit sync that the frame decoder never accepts.
    if (header.SyncKind != 1 || header.SamplingIndex == 3) return 0;
    TLayer12State& state = decoder.Layer12;
    state.Header = header;
    const int32_t subbands = LayOutLayer2Frame(state, header.Mode, header.BitrateIndex);
    if (subbands == 0) return 0;
    SetUpLayer12(decoder, header, length, bandwidth, subbands, 1152, 36);
    return 1;
}

TDecodeResult Layer2DecodeFrame(TMP3Decoder& decoder, const uint8_t* frame, int32_t frameBytes,
                                uint8_t* output) {
    TLayer12State& state = decoder.Layer12;
    TLayer12BitReader reader(frame, frameBytes);
    TLayer12Frame header;
    if (!ReadLayer12Header(reader, clLayerII, header)) return {};
    // The table follows the bit rate per channel, which a change of mode or bit rate moves.
    if (header.Channels != state.Channels || header.BitrateIndex != state.BitrateIndex) {
        const int32_t subbands =
            LayOutLayer2Frame(state, header.ModeBits >> 2, header.BitrateIndex);
        if (subbands == 0) return {};
        LayOutLayer12Entries(state, header.Channels, subbands);
    }
    SetJointBound(state, header.ModeBits);
    ReadAllocation(state, reader);
    ReadScaleFactors(state, reader);
    for (int32_t part = 0; part < 3; ++part) {
        for (int32_t granule = 0; granule < 4; ++granule) {
            const int32_t row = 12 * part + 3 * granule;
            ReadGranule(state, reader, part, state.Samples[row], state.Samples[row + 1],
                        state.Samples[row + 2]);
        }
    }
    SynthesizeLayer12(decoder, state.Samples, 36, reinterpret_cast<int16_t*>(output));
    return {state.FrameLength + header.Padding, decoder.OutputBytes};
}

} // namespace pelbrisk
