#include "decoder/Layer3.h"

#include "decoder/DecoderState.h"
#include "decoder/Layer3State.h"
#include "decoder/Layer3Tables.h"
#include "decoder/Synthesis.h"
#include "info/FrameTables.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pelbrisk {

namespace {

TLayer3Constants BuildConstants() {
    TLayer3Constants t{};
    for (int i = 0; i < 262; ++i)
        t.GainPower[i] = static_cast<float>(std::pow(2.0, (i - 156) / 4.0));
    for (int s = 0; s < 2; ++s)
        for (int p = 0; p < 4; ++p)
            for (int k = 0; k < 32; ++k)
                t.ScaleFactorGain[s][p][k] =
                    static_cast<float>(std::pow(2.0, -(s + 1) / 2.0 * (p + k)));
    for (int x = -32; x < 32; ++x)
        t.SmallPow[x + 32] = static_cast<float>(x * std::cbrt(std::fabs(static_cast<double>(x))));
    const double third = static_cast<double>(1.0f / 3.0f);
    for (int x = 0; x < 8208; ++x)
        t.PowerThird[x] = std::pow(static_cast<double>(x), third);
    for (int g = 0; g < 8; ++g)
        t.SubblockFactor[g] = static_cast<float>(std::pow(2.0, -2.0 * g));
    constexpr double aliasC[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    for (int i = 0; i < 8; ++i) {
        const double root = std::sqrt(1.0 + aliasC[i] * aliasC[i]);
        t.AliasCs[i] = static_cast<float>(1.0 / root);
        t.AliasCa[i] = static_cast<float>(aliasC[i] / root);
    }
    const double pi = std::acos(-1.0);
    const double root2 = std::sqrt(2.0);
    for (int ms = 0; ms < 2; ++ms) {
        const double m = ms ? root2 : 1.0;
        for (int p = 0; p < 7; ++p) {
            const double a = p * pi / 12.0;
            const double sum = std::sin(a) + std::cos(a);
            t.IntensityMpeg1[ms][p][0] = static_cast<float>(std::sin(a) / sum * m);
            t.IntensityMpeg1[ms][p][1] = static_cast<float>(std::cos(a) / sum * m);
        }
        t.IntensityMpeg1[ms][7][0] = 1.0f;
        t.IntensityMpeg1[ms][7][1] = ms ? 1.0f : 0.0f;
    }
    for (int scale = 0; scale < 2; ++scale) {
        const double io = scale ? std::pow(2.0, -0.5) : std::pow(2.0, -0.25);
        for (int ms = 0; ms < 2; ++ms) {
            const double m = ms ? root2 : 1.0;
            for (int slen = 0; slen < 6; ++slen) {
                const int first = (1 << slen) - 1;
                for (int p = 0; p < (1 << slen); ++p) {
                    float* pair = t.IntensityLsf[scale][ms][first + p];
                    if (p == (1 << slen) - 1) {
                        pair[0] = 1.0f;
                        pair[1] = ms ? 1.0f : 0.0f;
                    } else if (p == 0) {
                        pair[0] = pair[1] = static_cast<float>(m);
                    } else if (p % 2 == 1) {
                        pair[0] = static_cast<float>(std::pow(io, (p + 1) / 2) * m);
                        pair[1] = static_cast<float>(m);
                    } else {
                        pair[0] = static_cast<float>(m);
                        pair[1] = static_cast<float>(std::pow(io, p / 2) * m);
                    }
                }
            }
        }
    }
    for (int table = 0; table < 2; ++table) {
        const int32_t peekBits = table == 0 ? 10 : 8;
        for (uint32_t pattern = 0; pattern < (1u << peekBits); ++pattern) {
            int32_t codeBits;
            uint32_t vwxy;
            if (table == 0) {
                codeBits = Count1TableA[pattern >> 4][0];
                vwxy = Count1TableA[pattern >> 4][1];
            } else {
                codeBits = 4;
                vwxy = (pattern >> 4) ^ 15u;
            }
            int32_t used = codeBits;
            uint32_t entry = 0;
            for (int i = 0; i < 4; ++i) {
                if (((vwxy >> (3 - i)) & 1u) == 0) continue;
                const uint32_t negative = (pattern >> (peekBits - 1 - used)) & 1u;
                ++used;
                entry |= (negative ? 3u : 1u) << (8 + 2 * i);
            }
            t.Count1Quadruples[table][pattern] = entry | static_cast<uint32_t>(used);
        }
    }
    return t;
}

// The header and side information; returns the bytes they take (without the CRC), or 0 when
// the header is not one this set-up can decode. `codedLength` is the frame length without the
// padding slot that the header's bit rate gives; 0 for free format.
int32_t ReadSideInfo(TLayer3State& state, TLayer3BitReader& reader, int32_t codedLength) {
    TLayer3SideInfo& side = state.Side;
    side.Id = static_cast<int32_t>(reader.GetBits(1));
    const int32_t layer = static_cast<int32_t>(reader.GetBits(2));
    const int32_t protection = static_cast<int32_t>(reader.GetBits(1));
    const int32_t bitrateIndex = static_cast<int32_t>(reader.GetBits(4));
    side.SamplingIndex = static_cast<int32_t>(reader.GetBits(2));
    side.Padding = static_cast<int32_t>(reader.GetBits(1));
    reader.GetBits(1);
    side.Mode = static_cast<int32_t>(reader.GetBits(2));
    side.ModeExtension = static_cast<int32_t>(reader.GetBits(2));
    // A frame of another layer or version, or with reserved fields, cannot be measured or
    // decoded with this stream's tables.
    if (layer != 1 || side.Id != (state.Lsf ? 0 : 1) || side.SamplingIndex == 3 ||
        bitrateIndex == 15)
        return 0;
    if (side.Mode != 1) side.ModeExtension = 0;
    side.MidSide = (side.ModeExtension >> 1) & 1;
    side.Intensity = side.ModeExtension & 1;
    if (protection != 0) {
        reader.GetBits(4);
        side.CrcBytes = 0;
    } else {
        reader.GetBits(20);
        side.CrcBytes = 2;
    }
    side.FrameBodyBytes = bitrateIndex > 0 ? codedLength : state.FreeFormatBytes;
    side.FrameBytes = side.FrameBodyBytes + side.Padding;
    side.Channels = side.Mode == 3 ? 1 : 2;
    const int32_t channels = side.Channels;
    // The down-mix halves the sum of two channels; a single-channel frame is not halved.
    const int32_t gainOffset = channels == 2 ? state.GainOffset : 0;
    const int32_t midSideOffset = side.MidSide ? -2 : 0;

    int32_t granules;
    int32_t firstSlot;
    if (!state.Lsf) {
        side.MainDataBegin = static_cast<int32_t>(reader.GetBits(9));
        side.PrivateBits = static_cast<int32_t>(reader.GetBits(channels == 1 ? 5 : 3));
        for (int32_t c = 0; c < channels; ++c)
            side.Scfsi[c] = static_cast<int32_t>(reader.GetBits(4));
        granules = 2;
        firstSlot = 0;
    } else {
        side.MainDataBegin = static_cast<int32_t>(reader.GetBits(8));
        side.PrivateBits = static_cast<int32_t>(reader.GetBits(channels == 1 ? 1 : 2));
        side.Scfsi[0] = side.Scfsi[1] = 0;
        granules = 1;
        firstSlot = state.LsfSlot;
    }
    for (int32_t g = firstSlot; g < firstSlot + granules; ++g) {
        for (int32_t c = 0; c < channels; ++c) {
            TGranuleInfo& gi = side.Granule[g][c];
            gi.Part23Length = static_cast<int32_t>(reader.GetBits(12));
            gi.BigValues = static_cast<int32_t>(reader.GetBits(9));
            gi.GlobalGain = static_cast<int32_t>(reader.GetBits(8)) + gainOffset + midSideOffset;
            gi.ScalefacCompress = static_cast<int32_t>(reader.GetBits(state.Lsf ? 9 : 4));
            gi.WindowSwitching = static_cast<int32_t>(reader.GetBits(1));
            if (gi.WindowSwitching) {
                gi.BlockType = static_cast<int32_t>(reader.GetBits(2));
                gi.MixedBlock = static_cast<int32_t>(reader.GetBits(1));
                gi.TableSelect[0] = static_cast<int32_t>(reader.GetBits(5));
                gi.TableSelect[1] = static_cast<int32_t>(reader.GetBits(5));
                gi.TableSelect[2] = 0;
                for (int w = 0; w < 3; ++w)
                    gi.SubblockGain[w] = static_cast<int32_t>(reader.GetBits(3));
                if (state.Lsf && gi.BlockType == 2) {
                    gi.Region0Count = 5;
                    gi.Region1Count = 15;
                } else {
                    gi.Region0Count = 7;
                    gi.Region1Count = 13;
                }
            } else {
                gi.BlockType = 0;
                gi.MixedBlock = 0;
                for (int r = 0; r < 3; ++r)
                    gi.TableSelect[r] = static_cast<int32_t>(reader.GetBits(5));
                gi.SubblockGain[0] = gi.SubblockGain[1] = gi.SubblockGain[2] = 0;
                gi.Region0Count = static_cast<int32_t>(reader.GetBits(4));
                gi.Region1Count = static_cast<int32_t>(reader.GetBits(3));
            }
            gi.Preflag = state.Lsf ? 0 : static_cast<int32_t>(reader.GetBits(1));
            gi.ScalefacScale = static_cast<int32_t>(reader.GetBits(1));
            gi.Count1TableSelect = static_cast<int32_t>(reader.GetBits(1));
        }
    }
    if (!state.Lsf) return channels == 1 ? 21 : 36;
    return channels == 1 ? 13 : 21;
}

} // namespace

const TLayer3Constants& Layer3Constants() {
    static const TLayer3Constants constants = BuildConstants();
    return constants;
}

TLayer3StatePtr CreateLayer3State() {
    return TLayer3StatePtr(new TLayer3State());
}

void DestroyLayer3State(TLayer3State* state) {
    delete state;
}

int32_t Layer3Setup(TMP3Decoder& decoder, const TMP3FrameHeader& header, int32_t frameSizeArgument,
                    int32_t shift, int32_t /*reserved*/, int32_t outputFlags,
                    int32_t frequencyLimit) {
    TLayer3State& state = *decoder.Layer3;
    state.Fill = 0;
    state.FrameStart = 0;
    if (header.Layer != clLayerIII) return 0;
    // Only 16-bit full-rate output stages exist; a reserved sampling index has no tables.
    shift = std::clamp(shift, 0, 2);
    if ((outputFlags & 8) != 0 || shift != 0 || header.SamplingIndex < 0 ||
        header.SamplingIndex > 2 || MpegVersionOf(header) == 0)
        return 0;
    frequencyLimit = std::max(frequencyLimit, 1000);
    const int32_t channelHandling = outputFlags & 3;

    state.Lsf = header.Id == 0;
    state.MixedLongBands = state.Lsf ? 6 : 8;
    state.Version = MpegVersionOf(header);
    state.SamplingIndex = header.SamplingIndex;
    const int32_t frequency = SamplingFrequencyOf(header);

    // Subband 31 lies above every bandwidth the player asks for; it is never decoded.
    state.BandLimit =
        decoder.FullBand ? 32 : std::min((frequencyLimit * 64 + frequency / 2) / frequency, 31);
    const TLayer3BandTable& bands = BandsOf(state.Version, state.SamplingIndex);
    if (!state.Lsf || decoder.FullBand) {
        state.LongLineLimit = bands.Long[22];
        state.ShortLineLimit = 3 * bands.Short[13];
    } else {
        state.LongLineLimit = bands.Long[21];
        state.ShortLineLimit = 3 * bands.Short[12];
    }
    state.LineLimit = std::min(state.LongLineLimit + 8, 18 * state.BandLimit);
    state.LongLineLimit = std::min(state.LongLineLimit, state.LineLimit);
    state.ShortLineLimit = std::min(state.ShortLineLimit, state.LineLimit);
    state.ZeroSubbands = (state.LineLimit + 17) / 18;

    const bool twoChannels = header.Mode != 3 || (outputFlags & kTwoChannelOutput) != 0;
    state.OutputChannels = (!twoChannels || channelHandling != 0) ? 1 : 2;
    // Two channels mixed into one are halved; single-channel frames never are.
    state.GainOffset = (state.OutputChannels == 1 && channelHandling <= 1) ? -4 : 0;
    state.FreeFormatBytes = frameSizeArgument;

    const int32_t samples = state.Lsf ? 576 : 1152;
    const int32_t values = samples * state.OutputChannels;
    state.OutputBytes = values * 2;
    decoder.Format.Channels = state.OutputChannels;
    decoder.Format.SamplesPerFrame = values;
    decoder.Format.SampleRate = frequency;
    decoder.Format.BitsPerSample = 16;
    decoder.Format.FrameLength = frameSizeArgument;
    decoder.Format.Reserved = 0;
    decoder.OutputBytes = state.OutputBytes;

    // The stage of a two-channel frame; a single-channel frame takes lsMono in a one-channel
    // output (see ProcessGranule).
    if (state.OutputChannels == 2)
        state.Stage = lsStereo;
    else if (channelHandling == 2)
        state.Stage = lsMono;
    else if (channelHandling == 3)
        state.Stage = lsRight;
    else
        state.Stage = lsMix;

    for (int i = 0; i < 22; ++i)
        state.LongEnd[i] = bands.Long[i + 1];
    for (int i = 0; i < 13; ++i) {
        state.ShortEnd3[i] = 3 * bands.Short[i + 1];
        state.ShortWidth[i] = bands.Short[i + 1] - bands.Short[i];
    }

    state.Constants = &Layer3Constants();
    ResetSynthesis(decoder);
    std::memset(state.SubbandSamples, 0, sizeof(state.SubbandSamples));
    std::memset(state.Spectrum, 0, sizeof(state.Spectrum));
    std::memset(state.NonZeroLines, 0, sizeof(state.NonZeroLines));
    std::memset(state.ScaleFactors, 0, sizeof(state.ScaleFactors));
    std::memset(&state.Side, 0, sizeof(state.Side));
    state.LsfSlot = 0;
    return 1;
}

TDecodeResult Layer3DecodeFrame(TMP3Decoder& decoder, const uint8_t* frame, int32_t frameBytes,
                                uint8_t* output) {
    TLayer3State& state = *decoder.Layer3;
    if (state.Constants == nullptr || frameBytes < 0) return {};
    TLayer3BitReader& reader = state.Reader;
    reader.Reset(frame, frame + frameBytes);
    const uint32_t sync = reader.GetBits(12);
    if (!(sync == 0xFFF || (state.Lsf && sync == 0xFFE))) return {};
    if ((sync == 0xFFE) != (state.Version == 3)) return {};
    uint8_t headerBytes4[4] = {};
    std::memcpy(headerBytes4, frame, static_cast<size_t>(std::min(frameBytes, 4)));
    TMP3FrameHeader header;
    const int32_t codedLength = std::max(DecodeFrameHeader(headerBytes4, 0, header), 0);
    const int32_t headerBytes = ReadSideInfo(state, reader, codedLength);
    if (headerBytes == 0) return {};
    TLayer3SideInfo& side = state.Side;

    const int32_t mainBytes = side.FrameBytes - headerBytes - side.CrcBytes;
    state.FrameStart = state.Fill - side.MainDataBegin;
    // Compaction keeps only what the new frame reaches back for. Besides the usual threshold it
    // also runs when the new main data would not fit behind the bytes held, so a stream of
    // large frames never overruns the reservoir.
    if (state.Fill > CompactionThreshold || state.Fill + mainBytes > MainDataBufferBytes) {
        const int32_t kept = std::clamp(side.MainDataBegin, 0, state.Fill);
        std::memmove(state.MainData, state.MainData + state.Fill - kept, static_cast<size_t>(kept));
        state.FrameStart = kept - side.MainDataBegin;
        state.Fill = kept;
    }
    if (mainBytes < 0 || mainBytes > MainDataBufferBytes ||
        state.Fill + mainBytes > MainDataBufferBytes)
        return {};

    const int32_t offset = headerBytes + side.CrcBytes;
    const int32_t held = std::clamp(frameBytes - offset, 0, mainBytes);
    if (held > 0)
        std::memcpy(state.MainData + state.Fill, frame + offset, static_cast<size_t>(held));
    if (held < mainBytes)
        std::memset(state.MainData + state.Fill + held, 0, static_cast<size_t>(mainBytes - held));
    state.Fill += mainBytes;

    int16_t* pcm = reinterpret_cast<int16_t*>(output);
    state.MainDataBit = state.FrameStart * 8;
    if (state.FrameStart < 0) {
        std::memset(output, 0, static_cast<size_t>(state.OutputBytes));
    } else if (!state.Lsf) {
        DecodeGranule(decoder, state, 0, pcm);
        DecodeGranule(decoder, state, 1, pcm + state.OutputBytes / 4);
    } else {
        DecodeGranule(decoder, state, state.LsfSlot, pcm);
    }
    if (state.Lsf) state.LsfSlot ^= 1;
    return {side.FrameBytes, state.OutputBytes};
}

} // namespace pelbrisk
