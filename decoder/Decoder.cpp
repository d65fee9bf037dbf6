#include "decoder/Decoder.h"

#include "decoder/DecoderState.h"
#include "decoder/Layer12.h"
#include "decoder/Layer12Tables.h"
#include "decoder/Synthesis.h"
#include "info/FrameTables.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk {

namespace {

// Options byte of a set-up: bit 3 asks for 8-bit output, bits 1..0 choose the channels.
constexpr int32_t kEightBitOption = 0x08;
constexpr int32_t kChannelSelectionMask = 0x03;

// In entries, by (Mode, ModeExtension).
constexpr int32_t kJointBound[4][4] = {
    {64, 64, 64, 64}, {8, 16, 24, 32}, {64, 64, 64, 64}, {32, 32, 32, 32}};

} // namespace

TMP3Decoder::TMP3Decoder() : Layer3(CreateLayer3State()) {
    for (int32_t i = 0; i < 264; ++i)
        WindowTable[i] = static_cast<float>(SynthesisWindowTimes65536[i]) / 65536.0f;
    std::memset(&Layer12.Samples, 0, sizeof(Layer12.Samples));
}

int32_t TMP3Decoder::Open(const TMP3FrameHeader& header, int32_t length, int32_t shift,
                          int32_t layer3Arg, int32_t options, int32_t bandwidth) {
    FrameDecoder = nullptr;
    // Only 16-bit output at the full rate is provided: refuse the rest rather than produce
    // something that does not match the format record.
    if (std::clamp(shift, 0, 2) != 0 || (options & kEightBitOption) != 0) return 0;
    const bool twoChannels = header.Mode != 3 || (options & kTwoChannelOutput) != 0;
    OutputSelector = twoChannels
                         ? static_cast<TOutputSelector>((options & kChannelSelectionMask) + 1)
                         : osMonoStream;
    if (header.Layer == clLayerIII) {
        if (Layer3Setup(*this, header, length, shift, layer3Arg, options, bandwidth) == 0) return 0;
        FrameDecoder = Layer3DecodeFrame;
        return 1;
    }
    const int32_t limit = std::max(bandwidth, 1000);
    int32_t result = 0;
    if (header.Layer == clLayerI) {
        result = Layer1Setup(*this, header, length, limit);
        FrameDecoder = Layer1DecodeFrame;
    } else if (header.Layer == clLayerII) {
        result = Layer2Setup(*this, header, length, limit);
        FrameDecoder = Layer2DecodeFrame;
    }
    if (result == 0) FrameDecoder = nullptr;
    return result;
}

TDecodeResult TMP3Decoder::Decode(const uint8_t* frame, int32_t frameBytes, uint8_t* output) {
    if (FrameDecoder == nullptr || frame == nullptr || output == nullptr) return {};
    return FrameDecoder(*this, frame, frameBytes, output);
}

void TMP3Decoder::SetPolarity(bool inverted) {
    if (inverted == PolarityInverted) return;
    for (float& coefficient : WindowTable)
        coefficient = -coefficient;
    PolarityInverted = inverted;
}

void LayOutLayer12Entries(TLayer12State& state, int32_t channels, int32_t subbands) {
    state.Channels = channels;
    state.EntryCount = subbands * channels;
    state.DecodeLimit = std::min(state.SubbandLimit, subbands) * channels;
}

void SetUpLayer12(TMP3Decoder& decoder, const TMP3FrameHeader& header, int32_t length,
                  int32_t bandwidth, int32_t entryCount, int32_t samplesPerChannel,
                  int32_t sampleRows) {
    TLayer12State& state = decoder.Layer12;
    const int64_t frequency = SamplingFrequencyOf(header);
    state.SubbandLimit = 32;
    if (!decoder.FullBand) {
        // Subband 31 lies above every bandwidth the player asks for; it is never decoded.
        const int64_t subbands = (static_cast<int64_t>(bandwidth) * 64 + frequency / 2) / frequency;
        state.SubbandLimit = static_cast<int32_t>(std::min<int64_t>(subbands, 31));
    }
    LayOutLayer12Entries(state, header.Mode == 3 ? 1 : 2, entryCount);
    state.FrameLength = length;

    constexpr int32_t kChannelsBySelector[5] = {1, 2, 1, 1, 1};
    TMP3DecoderFormat& format = decoder.Format;
    format.Channels = kChannelsBySelector[decoder.OutputSelector];
    format.SamplesPerFrame = format.Channels * samplesPerChannel;
    format.SampleRate = static_cast<int32_t>(frequency);
    format.BitsPerSample = 16;
    format.FrameLength = length;
    format.Reserved = 0;
    decoder.OutputBytes = format.SamplesPerFrame * 2;

    std::memset(state.Samples, 0, sizeof(state.Samples[0]) * sampleRows);
    ResetSynthesis(decoder);
}

bool ReadLayer12Header(TLayer12BitReader& reader, int32_t layerCode, TLayer12Frame& frame) {
    if (reader.GetBits(12) != 0xFFF) return false;
    reader.GetBits(3); // version and layer come from the set-up
    const uint32_t protectionBit = reader.GetBits(1);
    frame.BitrateIndex = static_cast<int32_t>(reader.GetBits(4));
    reader.GetBits(2); // the sampling frequency comes from the set-up
    frame.Padding = static_cast<int32_t>(reader.GetBits(1)) * PaddingSlotBytes(layerCode);
    reader.GetBits(1);
    frame.ModeBits = static_cast<int32_t>(reader.GetBits(4));
    frame.Channels = (frame.ModeBits >> 2) == 3 ? 1 : 2;
    reader.SkipBits(protectionBit != 0 ? 4 : 20); // the CRC is not checked
    return true;
}

void SetJointBound(TLayer12State& state, int32_t modeBits) {
    // A single-channel frame has no twin entries.
    state.JointBound = state.Channels == 1 ? 64 : kJointBound[modeBits >> 2][modeBits & 3];
}

TMP3Decoder& ProcessDecoder() {
    static TMP3Decoder decoder;
    return decoder;
}

int32_t OpenDecoder(const TMP3FrameHeader& header, int32_t length, int32_t shift, int32_t layer3Arg,
                    int32_t options, int32_t bandwidth) {
    return ProcessDecoder().Open(header, length, shift, layer3Arg, options, bandwidth);
}

TDecodeResult DecodeFrame(const uint8_t* frame, int32_t frameBytes, uint8_t* output) {
    return ProcessDecoder().Decode(frame, frameBytes, output);
}

void GetDecoderFormat(TMP3DecoderFormat& destination) {
    ProcessDecoder().GetFormat(destination);
}

float* SubbandGain(int32_t index) {
    return &ProcessDecoder().SubbandGain[std::clamp(index, 0, 31)];
}

int32_t* SubbandEqualizerOn() {
    return &ProcessDecoder().SubbandEqualizerOn;
}

float* LineGain(int32_t index) {
    return &ProcessDecoder().LineGain[std::clamp(index, 0, 575)];
}

int32_t* LineEqualizerOn() {
    return &ProcessDecoder().LineEqualizerOn;
}

void SetPolarity(bool inverted) {
    ProcessDecoder().SetPolarity(inverted);
}

bool GetPolarity() {
    return ProcessDecoder().GetPolarity();
}

} // namespace pelbrisk
