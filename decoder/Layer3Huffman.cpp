#include "decoder/DecoderState.h"
#include "decoder/Layer3State.h"
#include "decoder/Layer3Tables.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk {

namespace {

// LSF scale-factor partitions [row][long, short, mixed][partition]; short rows count short
// bands, mixed rows count 6 long bands and then short bands.
constexpr uint8_t LsfPartitions[6][3][4] = {
    {{6, 5, 5, 5}, {3, 3, 3, 3}, {6, 3, 3, 3}},   {{6, 5, 7, 3}, {3, 3, 4, 2}, {6, 3, 4, 2}},
    {{11, 10, 0, 0}, {6, 6, 0, 0}, {6, 3, 6, 0}}, {{7, 7, 7, 0}, {4, 4, 4, 0}, {6, 5, 4, 0}},
    {{6, 6, 6, 3}, {4, 3, 3, 2}, {6, 4, 3, 2}},   {{8, 8, 5, 0}, {5, 4, 3, 0}, {6, 6, 3, 0}},
};

inline int32_t Read(TLayer3BitReader& reader, int32_t bits) {
    return static_cast<int32_t>(reader.GetBits(bits));
}

void ReadShortBands(TLayer3BitReader& reader, TScaleFactors& sf, int32_t first, int32_t last,
                    int32_t bits) {
    for (int32_t band = first; band <= last; ++band)
        for (int w = 0; w < 3; ++w)
            sf.Short[w][band] = Read(reader, bits);
}

void ReadScaleFactorsMpeg1(TLayer3State& state, TLayer3BitReader& reader, int32_t slot,
                           int32_t channel) {
    const TGranuleInfo& gi = state.Side.Granule[slot][channel];
    TScaleFactors& sf = state.ScaleFactors[slot][channel];
    const int32_t slen1 = SlenMpeg1[gi.ScalefacCompress][0];
    const int32_t slen2 = SlenMpeg1[gi.ScalefacCompress][1];
    if (gi.BlockType == 2) {
        if (gi.MixedBlock) {
            for (int band = 0; band < 8; ++band)
                sf.Long[band] = Read(reader, slen1);
            ReadShortBands(reader, sf, 3, 5, slen1);
        } else {
            ReadShortBands(reader, sf, 0, 5, slen1);
        }
        ReadShortBands(reader, sf, 6, 11, slen2);
        return;
    }
    if (slot == 1) {
        constexpr int32_t groupStart[5] = {0, 6, 11, 16, 21};
        const TScaleFactors& first = state.ScaleFactors[0][channel];
        const int32_t scfsi = state.Side.Scfsi[channel];
        for (int group = 0; group < 4; ++group) {
            const int32_t bits = group < 2 ? slen1 : slen2;
            const bool copy = ((scfsi >> (3 - group)) & 1) != 0;
            for (int band = groupStart[group]; band < groupStart[group + 1]; ++band)
                sf.Long[band] = copy ? first.Long[band] : Read(reader, bits);
        }
        return;
    }
    for (int band = 0; band < 11; ++band)
        sf.Long[band] = Read(reader, slen1);
    for (int band = 11; band < 21; ++band)
        sf.Long[band] = Read(reader, slen2);
}

void ReadScaleFactorsLsf(TLayer3State& state, TLayer3BitReader& reader, int32_t slot,
                         int32_t channel, bool intensityRight) {
    TGranuleInfo& gi = state.Side.Granule[slot][channel];
    TScaleFactors& sf = state.ScaleFactors[slot][channel];
    const int32_t c = gi.ScalefacCompress;
    int32_t row;
    int32_t slen[4] = {0, 0, 0, 0};
    gi.Preflag = 0;
    if (intensityRight) {
        const int32_t f = c >> 1;
        if (f < 180) {
            row = 3;
            slen[0] = f / 36;
            slen[1] = (f % 36) / 6;
            slen[2] = f % 6;
        } else if (f < 244) {
            row = 4;
            slen[0] = (f - 180) >> 4;
            slen[1] = ((f - 180) >> 2) & 3;
            slen[2] = (f - 180) & 3;
        } else {
            row = 5;
            slen[0] = (f - 244) / 3;
            slen[1] = (f - 244) % 3;
        }
    } else if (c < 400) {
        row = 0;
        slen[0] = (c >> 4) / 5;
        slen[1] = (c >> 4) % 5;
        slen[2] = (c >> 2) & 3;
        slen[3] = c & 3;
    } else if (c < 500) {
        row = 1;
        slen[0] = ((c - 400) >> 2) / 5;
        slen[1] = ((c - 400) >> 2) % 5;
        slen[2] = c & 3;
    } else {
        row = 2;
        gi.Preflag = 1;
        slen[0] = (c - 500) / 3;
        if (gi.BlockType == 2 && gi.MixedBlock) {
            slen[1] = (c - 500) / 3;
            slen[2] = (c - 500) % 3;
        } else {
            slen[1] = (c - 500) % 3;
        }
    }
    const int32_t kind = gi.BlockType == 2 ? (gi.MixedBlock ? 2 : 1) : 0;
    const uint8_t* sizes = LsfPartitions[row][kind];

    if (intensityRight) {
        TIntensityPartition& ip = state.Intensity;
        ip.Scale = c & 1;
        std::memset(ip.LongLimit, 0, sizeof(ip.LongLimit));
        std::memset(ip.ShortLimit, 0, sizeof(ip.ShortLimit));
        int32_t band = kind == 2 ? 3 : 0;
        for (int i = 0; i < 3; ++i) {
            const int32_t limit = (1 << slen[i]) - 1;
            if (kind == 2 && i == 0) {
                for (int b = 0; b < 6; ++b)
                    ip.LongLimit[b] = limit;
                continue;
            }
            for (int n = 0; n < sizes[i]; ++n, ++band) {
                if (kind == 0)
                    ip.LongLimit[band] = limit;
                else
                    ip.ShortLimit[band] = limit;
            }
        }
    }

    if (kind == 0) {
        int32_t band = 0;
        for (int i = 0; i < 4; ++i)
            for (int n = 0; n < sizes[i]; ++n)
                sf.Long[band++] = Read(reader, slen[i]);
    } else if (kind == 1) {
        int32_t band = 0;
        for (int i = 0; i < 4; ++i) {
            ReadShortBands(reader, sf, band, band + sizes[i] - 1, slen[i]);
            band += sizes[i];
        }
    } else {
        for (int band = 0; band < 6; ++band)
            sf.Long[band] = Read(reader, slen[0]);
        int32_t band = 3;
        for (int i = 1; i < 4; ++i) {
            ReadShortBands(reader, sf, band, band + sizes[i] - 1, slen[i]);
            band += sizes[i];
        }
    }
}

// Walks the lookup levels of `first` over the left-aligned bits of `bits`; returns the leaf.
inline uint32_t FindLeaf(const uint32_t* first, uint64_t bits, int32_t& length) {
    const uint32_t* header = first;
    length = 0;
    for (;;) {
        const int32_t peek = static_cast<int32_t>(*header & 0xFF);
        const uint32_t entry = header[1 + (bits >> (64 - peek))];
        if ((entry >> 24) != 0) {
            length += static_cast<int32_t>(entry >> 24);
            return entry;
        }
        bits <<= peek;
        length += peek;
        header += entry;
    }
}

// Big-values codes resolved with their sign bits by one look-up at the next FastBits bits: an
// entry holds the bits taken (0: decode the pair the slow way), the pairs resolved (one or two)
// and four signed 6-bit values from bit 8 up. Short codes often fit twice in the window, so
// two pairs come out of one look-up.
constexpr int32_t FastBits = 10;
constexpr int32_t TreeCount = 15;

struct TFastPairTables {
    int8_t TreeOfTable[32];
    uint32_t Entries[TreeCount][1 << FastBits];
};

// One pair with its signs from the left-aligned `bits`, as (bits taken, x, y); bits taken 0
// when they reach past the window or an escape needs linbits.
void ResolvePair(const uint32_t* first, bool hasLinbits, uint64_t bits, int32_t available,
                 int32_t& taken, int32_t& x, int32_t& y) {
    int32_t length;
    const uint32_t leaf = FindLeaf(first, bits, length);
    x = static_cast<int32_t>((leaf >> 8) & 0xFF);
    y = static_cast<int32_t>((leaf >> 16) & 0xFF);
    taken = length + static_cast<int32_t>(leaf & 0xFF);
    if (taken > available || (hasLinbits && (x == 15 || y == 15))) {
        taken = 0;
        return;
    }
    bits <<= length;
    if (x != 0) {
        if ((bits >> 63) != 0) x = -x;
        bits <<= 1;
    }
    if (y != 0 && (bits >> 63) != 0) y = -y;
}

TFastPairTables BuildFastPairTables() {
    TFastPairTables tables{};
    uint32_t treeStart[TreeCount]{};
    int32_t trees = 0;
    for (int32_t table = 0; table < 32; ++table) {
        const THuffmanTable& t = HuffmanTables[table];
        tables.TreeOfTable[table] = -1;
        if (t.Kind == 0) continue;
        const auto known = std::find(treeStart, treeStart + trees, t.Start);
        if (known != treeStart + trees) {
            tables.TreeOfTable[table] = static_cast<int8_t>(known - treeStart);
            continue;
        }
        treeStart[trees] = t.Start;
        tables.TreeOfTable[table] = static_cast<int8_t>(trees);
        const uint32_t* first = HuffmanLookupData + t.Start;
        const bool hasLinbits = t.Kind == 3;
        for (uint32_t pattern = 0; pattern < (1u << FastBits); ++pattern) {
            const uint64_t bits = uint64_t{pattern} << (64 - FastBits);
            int32_t taken, x, y;
            ResolvePair(first, hasLinbits, bits, FastBits, taken, x, y);
            if (taken == 0) continue;
            int32_t second = 0, x2 = 0, y2 = 0;
            if (taken < FastBits)
                ResolvePair(first, hasLinbits, bits << taken, FastBits - taken, second, x2, y2);
            const int32_t values[4] = {x, y, x2, y2};
            uint32_t entry = static_cast<uint32_t>(taken + second) | (second != 0 ? 2u : 1u) << 5;
            for (int i = 0; i < 4; ++i)
                entry |= (static_cast<uint32_t>(values[i]) & 0x3F) << (8 + 6 * i);
            tables.Entries[trees][pattern] = entry;
        }
        ++trees;
    }
    return tables;
}

const TFastPairTables& FastPairTables() {
    static const TFastPairTables tables = BuildFastPairTables();
    return tables;
}

// One pair the slow way: the lookup levels, then each value's linbits and sign.
inline void DecodePair(TLayer3BitReader& reader, const uint32_t* first, bool hasLinbits,
                       int32_t linbits, int32_t* out) {
    int32_t length;
    const uint32_t leaf = FindLeaf(first, reader.Cache, length);
    reader.Consume(length);
    const auto finish = [&](int32_t value) {
        if (hasLinbits && value == 15) {
            value += static_cast<int32_t>(reader.Top(linbits));
            reader.Consume(linbits);
        }
        if (value != 0) {
            if (reader.Top(1) != 0) value = -value;
            reader.Consume(1);
        }
        return value;
    };
    out[0] = finish(static_cast<int32_t>((leaf >> 8) & 0xFF));
    out[1] = finish(static_cast<int32_t>((leaf >> 16) & 0xFF));
}

void DecodePairs(TLayer3BitReader& reader, int32_t* out, int32_t lines, int32_t table) {
    const THuffmanTable& t = HuffmanTables[table];
    if (t.Kind == 0) {
        std::fill(out, out + lines, 0);
        return;
    }
    const TFastPairTables& fast = FastPairTables();
    const uint32_t* entries = fast.Entries[fast.TreeOfTable[table]];
    const uint32_t* first = HuffmanLookupData + t.Start;
    const int32_t linbits = t.Linbits;
    const bool hasLinbits = t.Kind == 3;
    int32_t i = 0;
    // Data that overruns its part is not looked for here: reads past the bytes held give zeros,
    // and DecodeGranule silences a channel whose reader ended past its part.
    // Four lines are written whatever the entry resolves, so this runs while they all belong to
    // the region; the unresolved two are overwritten by the next step.
    while (i + 4 <= lines) {
        // One refill holds what one step reads: a code of at most 19 bits, two linbits fields
        // of at most 13 and two sign bits.
        reader.Refill();
        const uint32_t entry = entries[reader.Top(FastBits)];
        if ((entry & 0x1F) == 0) {
            DecodePair(reader, first, hasLinbits, linbits, out + i);
            i += 2;
        } else {
            out[i] = static_cast<int32_t>(entry << 18) >> 26;
            out[i + 1] = static_cast<int32_t>(entry << 12) >> 26;
            out[i + 2] = static_cast<int32_t>(entry << 6) >> 26;
            out[i + 3] = static_cast<int32_t>(entry) >> 26;
            reader.Consume(static_cast<int32_t>(entry & 0x1F));
            i += 2 * static_cast<int32_t>((entry >> 5) & 3);
        }
    }
    for (; i < lines; i += 2) {
        reader.Refill();
        DecodePair(reader, first, hasLinbits, linbits, out + i);
    }
}

// The four signed values of every count1 look-up entry, ready to copy.
struct TQuadrupleValues {
    alignas(16) int32_t Values[2][1024][4];
};

TQuadrupleValues BuildQuadrupleValues() {
    TQuadrupleValues t{};
    for (int table = 0; table < 2; ++table)
        for (int pattern = 0; pattern < 1024; ++pattern) {
            const uint32_t entry = Layer3Constants().Count1Quadruples[table][pattern];
            for (int i = 0; i < 4; ++i)
                t.Values[table][pattern][i] = static_cast<int32_t>(entry << (22 - 2 * i)) >> 30;
        }
    return t;
}

int32_t DecodeQuadruples(TLayer3BitReader& reader, int32_t* out, int32_t lines, int32_t bitsLeft,
                         int32_t table) {
    static const TQuadrupleValues quadrupleValues = BuildQuadrupleValues();
    const int32_t quadruples = lines / 4;
    const int32_t minimumBits = table == 0 ? 0 : 3;
    int32_t done = 0;
    // One lookup decodes a whole quadruple with its sign bits: table A's codes are at most 6
    // bits and table B's 4, each followed by at most 4 sign bits.
    const uint32_t* quadrupleTable = Layer3Constants().Count1Quadruples[table];
    const int32_t(*values)[4] = quadrupleValues.Values[table];
    const int32_t peekBits = table == 0 ? 10 : 8;
    while (done < quadruples && bitsLeft > minimumBits && !reader.PastEnd()) {
        const uint32_t pattern = reader.PeekBits(peekBits);
        const auto length = static_cast<int32_t>(quadrupleTable[pattern] & 0xFF);
        reader.Consume(length);
        bitsLeft -= length;
        std::memcpy(out + 4 * done, values[pattern], sizeof(values[pattern]));
        ++done;
    }
    if (bitsLeft < 0 && done > 0) std::fill(out + 4 * (done - 1), out + 4 * done, 0);
    for (int32_t q = done - 1; q >= 0; --q) {
        const int32_t* v = out + 4 * q;
        if (v[2] != 0 || v[3] != 0) return 4 * (q + 1);
        if (v[0] != 0 || v[1] != 0) return 4 * q + 2;
    }
    return 0;
}

} // namespace

void DecodeBigValues(TLayer3BitReader& shared, int32_t* out, int32_t lines, int32_t table) {
    // A local copy keeps the reader in registers: the stores to `out` could alias its fields.
    TLayer3BitReader reader = shared;
    DecodePairs(reader, out, lines, table);
    shared = reader;
}

int32_t DecodeCount1(TLayer3BitReader& shared, int32_t* out, int32_t lines, int32_t bitsLeft,
                     int32_t table) {
    TLayer3BitReader reader = shared;
    const int32_t count = DecodeQuadruples(reader, out, lines, bitsLeft, table);
    shared = reader;
    return count;
}

void DecodeGranule(TMP3Decoder& decoder, TLayer3State& state, int32_t slot, int16_t* output) {
    TLayer3BitReader& reader = state.Reader;
    const TLayer3SideInfo& side = state.Side;
    for (int32_t c = 0; c < side.Channels; ++c) {
        const TGranuleInfo& gi = side.Granule[slot][c];
        const int32_t position = state.MainDataBit;
        const int32_t startByte = std::min(position >> 3, state.Fill);
        reader.Reset(state.MainData + startByte, state.MainData + state.Fill);
        reader.GetBits(position & 7);
        state.MainDataBit = position + gi.Part23Length;
        const int32_t endByte = std::min((state.MainDataBit + 39) >> 3, MainDataBufferBytes);
        reader.SetEnd(state.MainData + endByte);
        const int32_t startBit = reader.BitPosition();

        if (state.Lsf)
            ReadScaleFactorsLsf(state, reader, slot, c, c == 1 && side.Intensity != 0);
        else
            ReadScaleFactorsMpeg1(state, reader, slot, c);

        int32_t* out = state.Quantized[c];
        const int32_t big = std::min(2 * gi.BigValues, state.LineLimit);
        const int32_t region1 = std::min(state.LongEnd[std::min(gi.Region0Count, 21)], big);
        const int32_t region2 =
            std::min(state.LongEnd[std::min(gi.Region0Count + gi.Region1Count + 1, 21)], big);
        DecodeBigValues(reader, out, region1, gi.TableSelect[0]);
        DecodeBigValues(reader, out + region1, region2 - region1, gi.TableSelect[1]);
        DecodeBigValues(reader, out + region2, big - region2, gi.TableSelect[2]);

        int32_t lines = big;
        if (!reader.PastEnd()) {
            const int32_t bitsLeft = gi.Part23Length - (reader.BitPosition() - startBit);
            lines += DecodeCount1(reader, out + big, state.LineLimit - big, bitsLeft,
                                  gi.Count1TableSelect);
        }
        state.NonZeroLines[slot][c] = lines;
        lines = std::min(lines, gi.BlockType == 2 ? state.ShortLineLimit : state.LongLineLimit);
        if (reader.PastEnd()) lines = 0;
        std::fill(out + lines, out + 576, 0);
    }
    ProcessGranule(decoder, state, slot, output);
}

} // namespace pelbrisk
