#include "decoder/Layer12Tables.h"

#include <cstddef>

namespace pelbrisk {

namespace {

constexpr std::array<float, 18> MakeClassFactors() {
    std::array<float, 18> factors{};
    for (int32_t c = 1; c < 18; ++c)
        factors[c] = 2.0f / static_cast<float>(QuantisationLevels[c]);
    return factors;
}

constexpr std::array<float, 16> MakeLayer1AllocationFactors() {
    std::array<float, 16> factors{};
    for (int32_t code = 1; code < 15; ++code)
        factors[code] = 2.0f / static_cast<float>((1 << (code + 1)) - 1);
    return factors;
}

// 65536 * 2^(-i/3) = 2^(16 - i div 3) * 2^(-(i mod 3)/3): scaling by a power of two is exact,
// so each value is the correctly rounded single of the true one.
constexpr std::array<float, 64> MakeScaleFactors() {
    constexpr float kCubeRootSteps[3] = {1.0f, 0.793700525984099737f, 0.629960524947436582f};
    std::array<float, 64> factors{};
    for (int32_t i = 0; i < 64; ++i) {
        float power = 65536.0f;
        for (int32_t halvings = i / 3; halvings > 0; --halvings)
            power *= 0.5f;
        factors[i] = power * kCubeRootSteps[i % 3];
    }
    return factors;
}

template <typename T, int32_t Levels, std::size_t Codes>
constexpr std::array<std::array<T, 3>, Codes> MakeGrouping() {
    std::array<std::array<T, 3>, Codes> table{};
    constexpr int32_t centre = (Levels - 1) / 2;
    for (std::size_t code = 0; code < Codes; ++code) {
        const int32_t c = static_cast<int32_t>(code);
        table[code][0] = static_cast<T>(c % Levels - centre);
        table[code][1] = static_cast<T>((c / Levels) % Levels - centre);
        table[code][2] = static_cast<T>((c / (Levels * Levels)) % Levels - centre);
    }
    return table;
}

} // namespace

const std::array<float, 18> ClassFactors = MakeClassFactors();
const std::array<float, 16> Layer1AllocationFactors = MakeLayer1AllocationFactors();
const std::array<float, 64> ScaleFactors = MakeScaleFactors();
const std::array<std::array<int8_t, 3>, 32> Grouping3 = MakeGrouping<int8_t, 3, 32>();
const std::array<std::array<int8_t, 3>, 128> Grouping5 = MakeGrouping<int8_t, 5, 128>();
const std::array<std::array<int16_t, 3>, 1024> Grouping9 = MakeGrouping<int16_t, 9, 1024>();

TLayer2Table ChooseLayer2Table(int32_t id, int32_t mode, int32_t samplingIndex,
                               int32_t bitrateIndex) {
    if (samplingIndex == 3) return l2tNone;
    if (id == 0) return l2tLowSamplingFrequency;
    const bool at48k = samplingIndex == 1;
    const bool at32k = samplingIndex == 2;
    const TLayer2Table highRate = at48k ? l2tB2a : l2tB2b;
    const TLayer2Table lowRate = at32k ? l2tB2d : l2tB2c;
    const bool singleChannel = mode == 3;
    switch (bitrateIndex) {
    case 0:
        return highRate;
    case 1:
    case 2:
        return singleChannel ? lowRate : l2tNone;
    case 3:
    case 5:
        return singleChannel ? l2tB2a : l2tNone;
    case 4:
        return singleChannel ? l2tB2a : lowRate;
    case 6:
        return singleChannel ? highRate : lowRate;
    case 7:
    case 8:
    case 9:
        return singleChannel ? highRate : l2tB2a;
    case 10:
        return highRate;
    case 11:
    case 12:
    case 13:
    case 14:
        return singleChannel ? l2tNone : highRate;
    default:
        return l2tNone;
    }
}

} // namespace pelbrisk
