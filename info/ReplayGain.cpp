#include "info/ReplayGain.h"

#include "info/ByteOrder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace pelbrisk {

namespace {

constexpr uint8_t kMasterVolume = 1;
constexpr double kRva2StepsPerDb = 512;
constexpr double kLamePeakScale = 1 << 23;
constexpr uint32_t kLameRadioName = 1;
constexpr uint32_t kLameAudiophileName = 2;

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// A decimal number that fills `text`, a leading '+' allowed; false for anything else.
bool ParseNumber(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

std::string LineValue(const std::vector<std::string>& lines, std::string_view name) {
    for (const std::string& line : lines) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos &&
            EqualsIgnoringCase(std::string_view(line).substr(0, equals), name))
            return line.substr(equals + 1);
    }
    return {};
}

TGainValue ValueFromLines(const std::vector<std::string>& lines, const std::string& prefix,
                          std::string_view which) {
    TGainValue value;
    value.Known = ParseGainText(
        LineValue(lines, prefix + "REPLAYGAIN_" + std::string(which) + "_GAIN"), value.Gain);
    if (value.Known &&
        !ParsePeakText(LineValue(lines, prefix + "REPLAYGAIN_" + std::string(which) + "_PEAK"),
                       value.Peak))
        value.Peak = 0;
    return value;
}

} // namespace

bool ParseGainText(std::string_view text, double& gain) {
    text = Trimmed(text);
    if (text.size() >= 2 && EqualsIgnoringCase(text.substr(text.size() - 2), "dB"))
        text = Trimmed(text.substr(0, text.size() - 2));
    double value = 0;
    if (!ParseNumber(text, value) || std::fabs(value) > kLargestGainDb) return false;
    gain = value;
    return true;
}

bool ParsePeakText(std::string_view text, double& peak) {
    double value = 0;
    if (!ParseNumber(Trimmed(text), value) || value < 0 || value > kLargestPeak) return false;
    peak = value;
    return true;
}

TReplayGain GainFromLines(const std::vector<std::string>& lines, std::string_view prefix) {
    const std::string name(prefix);
    return TReplayGain{ValueFromLines(lines, name, "TRACK"), ValueFromLines(lines, name, "ALBUM")};
}

bool ReadRva2(const uint8_t* body, size_t size, TReplayGain& gain) {
    const auto* zero = static_cast<const uint8_t*>(std::memchr(body, 0, size));
    if (zero == nullptr) return false;
    const std::string_view identification(reinterpret_cast<const char*>(body),
                                          static_cast<size_t>(zero - body));
    size_t at = static_cast<size_t>(zero - body) + 1;
    // Each channel: its type, a signed adjustment in 1/512 dB, the peak's bit count and bytes.
    while (at + 4 <= size) {
        const uint8_t type = body[at];
        const auto steps = static_cast<int16_t>(BigEndian(body + at + 1, 2));
        const uint8_t bits = body[at + 3];
        const size_t peakBytes = (bits + 7u) / 8;
        at += 4;
        if (peakBytes > size - at) return false;
        if (type != kMasterVolume) {
            at += peakBytes;
            continue;
        }
        TGainValue value;
        value.Known = true;
        value.Gain = steps / kRva2StepsPerDb;
        // The peak's bits, left-aligned in 32, with 1.0 at the top bit.
        const size_t used = std::min<size_t>(peakBytes, 4);
        uint64_t peak = 0;
        for (size_t i = 0; i < 4; ++i)
            peak = (peak << 8) | (i < used ? body[at + i] : 0);
        value.Peak = std::min(double(peak) / double(1u << 31), kLargestPeak);
        TGainValue& slot = EqualsIgnoringCase(identification, "album") ? gain.Album : gain.Track;
        if (!slot.Known) slot = value;
        return true;
    }
    return false;
}

TReplayGain LameTagGain(const uint8_t* peakBytes, const uint8_t* radio, const uint8_t* audiophile) {
    const double peak = BigEndian32(peakBytes) / kLamePeakScale;
    TReplayGain gain;
    for (const uint8_t* field : {radio, audiophile}) {
        const uint32_t word = BigEndian(field, 2);
        const uint32_t name = word >> 13;
        const uint32_t originator = (word >> 10) & 7;
        if (originator == 0 || (name != kLameRadioName && name != kLameAudiophileName)) continue;
        TGainValue& value = name == kLameRadioName ? gain.Track : gain.Album;
        value.Known = true;
        value.Gain = ((word & 0x200) != 0 ? -1 : 1) * double(word & 0x1FF) / 10;
        // lame measures one peak, of the song it encoded.
        value.Peak = std::min(peak, kLargestPeak);
    }
    return gain;
}

TReplayGain FirstKnownGain(std::initializer_list<TReplayGain> sources) {
    TReplayGain first;
    for (const TReplayGain& source : sources) {
        if (!first.Track.Known) first.Track = source.Track;
        if (!first.Album.Known) first.Album = source.Album;
    }
    return first;
}

double ReplayGainFactor(const TReplayGain& gain, const TReplayGainSettings& settings) {
    if (settings.Mode == TReplayGainMode::Off) return 1;
    const bool album = settings.Mode == TReplayGainMode::Album;
    const TGainValue& wanted = album ? gain.Album : gain.Track;
    const TGainValue& value = wanted.Known ? wanted : (album ? gain.Track : gain.Album);
    const double db = value.Known ? value.Gain + settings.Preamp : settings.UntaggedPreamp;
    double factor = std::pow(10.0, db / 20);
    if (settings.PreventClipping && value.Known && value.Peak > 0)
        factor = std::min(factor, 1 / value.Peak);
    return factor;
}

std::string GainText(double gain) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", gain);
    return text;
}

std::string PeakText(double peak) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", peak);
    return text;
}

} // namespace pelbrisk
