#include "decoder/DecoderState.h"
#include "decoder/Layer12.h"
#include "decoder/Layer12Tables.h"
#include "decoder/Synthesis.h"

namespace pelbrisk {

namespace {

// SampleType values past the allocation codes 0..14 and their joint-stereo forms 15..29.
constexpr int32_t kJointOffset = 15;
constexpr int32_t kEndOfRow = 30;
constexpr int32_t kSkipRest = 31;
// The forbidden allocation code: taken as "nothing transmitted".
constexpr uint32_t kForbiddenCode = 15;

void ReadAllocation(TLayer12State& state, TLayer12BitReader& reader) {
    state.SkipCount = 0;
    int32_t separateLeft = state.JointBound;
    for (int32_t entry = 0; entry < state.EntryCount;) {
        const uint32_t raw = reader.GetBits(4);
        const int32_t code = raw == kForbiddenCode ? 0 : static_cast<int32_t>(raw);
        if (entry >= state.DecodeLimit && code != 0) state.SkipCount += code + 1;
        entry += AssignAllocation(state, entry, code, Layer1AllocationFactors[code], kJointOffset,
                                  separateLeft);
    }
    state.SampleType[state.DecodeLimit] = kSkipRest;
    state.SampleType[state.EntryCount] = kEndOfRow;
}

void ReadScaleFactors(TLayer12State& state, TLayer12BitReader& reader) {
    for (int32_t entry = 0; entry < state.EntryCount; ++entry) {
        if (state.AllocClass[entry] != 0)
            state.Factor[0][entry] = state.ClassFactor[entry] * ScaleFactors[reader.GetBits(6)];
    }
}

inline float ReadSample(TLayer12BitReader& reader, int32_t code) {
    const int32_t centre = (1 << code) - 1;
    return static_cast<float>(static_cast<int32_t>(reader.GetBits(code + 1)) - centre);
}

void ReadRow(TLayer12State& state, TLayer12BitReader& reader, float* row) {
    const float* factors = state.Factor[0];
    for (int32_t entry = 0;;) {
        const int32_t type = state.SampleType[entry];
        if (type == 0) {
            row[entry] = 0.0f;
            ++entry;
        } else if (type < kJointOffset) {
            row[entry] = ReadSample(reader, type) * factors[entry];
            ++entry;
        } else if (type == kJointOffset) {
            row[entry] = 0.0f;
            row[entry + 1] = 0.0f;
            entry += 2;
        } else if (type < kEndOfRow) {
            const float value = ReadSample(reader, type - kJointOffset);
            row[entry] = value * factors[entry];
            row[entry + 1] = value * factors[entry + 1];
            entry += 2;
        } else {
            if (type == kSkipRest) reader.SkipBits(state.SkipCount);
            return;
        }
    }
}

} // namespace

int32_t Layer1Setup(TMP3Decoder& decoder, const TMP3FrameHeader& header, int32_t length,
                    int32_t bandwidth) {
    // MPEG-2.5 frames carry an 11-bit sync that the frame decoder never accepts, and the
    // reserved sampling index has no rate to play at.
    if (header.Layer != clLayerI || header.SyncKind != 1 || header.SamplingIndex == 3) return 0;
    SetUpLayer12(decoder, header, length, bandwidth, 32, 384, 12);
    return 1;
}

TDecodeResult Layer1DecodeFrame(TMP3Decoder& decoder, const uint8_t* frame, int32_t frameBytes,
                                uint8_t* output) {
    TLayer12State& state = decoder.Layer12;
    TLayer12BitReader reader(frame, frameBytes);
    TLayer12Frame header;
    if (!ReadLayer12Header(reader, clLayerI, header)) return {};
    if (header.Channels != state.Channels) LayOutLayer12Entries(state, header.Channels, 32);
    SetJointBound(state, header.ModeBits);
    ReadAllocation(state, reader);
    ReadScaleFactors(state, reader);
    for (int32_t row = 0; row < 12; ++row)
        ReadRow(state, reader, state.Samples[row]);
    SynthesizeLayer12(decoder, state.Samples, 12, reinterpret_cast<int16_t*>(output));
    return {state.FrameLength + header.Padding, decoder.OutputBytes};
}

} // namespace pelbrisk
