#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace pelbrisk {

// One ReplayGain measurement: the gain in dB that brings the song (or its album) to the
// reference loudness, and its peak sample as a fraction of full scale (0 when not given).
struct TGainValue {
    bool Known = false;
    double Gain = 0;
    double Peak = 0;
};

struct TReplayGain {
    TGainValue Track;
    TGainValue Album;
    bool Known() const { return Track.Known || Album.Known; }
};

// Which of the two gains playing applies.
enum class TReplayGainMode { Off, Track, Album };

// What the listener chose: the mode, the pre-amp added to a song's gain, the one for songs
// without any, and whether the peak caps the gain so that nothing clips.
struct TReplayGainSettings {
    TReplayGainMode Mode = TReplayGainMode::Off;
    double Preamp = 0;
    double UntaggedPreamp = 0;
    bool PreventClipping = true;
};

// Gains beyond these are damaged fields, not measurements.
inline constexpr double kLargestGainDb = 60;
inline constexpr double kLargestPeak = 100;

// "-6.50 dB", "+2.1 dB", "-6.5": the number in dB; false for text that is no gain within
// kLargestGainDb. A peak is a bare number from 0 to kLargestPeak.
bool ParseGainText(std::string_view text, double& gain);
bool ParsePeakText(std::string_view text, double& peak);

// The REPLAYGAIN_TRACK_GAIN, _PEAK, _ALBUM_GAIN and _PEAK lines of a tag ("name=value", the
// name compared without regard to case) behind `prefix` ("TXXX:" for ID3v2, "" for APE).
TReplayGain GainFromLines(const std::vector<std::string>& lines, std::string_view prefix);

// The body of an ID3v2 RVA2 frame: its identification names the gain ("album", else the
// track's), the master volume channel's adjustment and peak are taken, unless that gain is known
// already. False when the frame holds no sound master volume entry.
bool ReadRva2(const uint8_t* body, size_t size, TReplayGain& gain);

// The LAME tag's peak (fixed point, 1.0 at 2^23) and its two 16-bit gain fields, radio (the
// track's) and audiophile (the album's): a name code, an originator, a sign and the gain in
// tenths of a dB. A field without name or originator says nothing.
TReplayGain LameTagGain(const uint8_t* peak, const uint8_t* radio, const uint8_t* audiophile);

// For each of track and album, the first source in `sources` that knows it.
TReplayGain FirstKnownGain(std::initializer_list<TReplayGain> sources);

// The amplitude factor for playing a song with `gain` under `settings`: 1 when off; the mode's
// gain (the other one when the mode's is missing) plus the pre-amp, or the untagged pre-amp;
// no more than the peak allows when clipping is prevented.
double ReplayGainFactor(const TReplayGain& gain, const TReplayGainSettings& settings);

// "-6.50 dB" and the peak "0.988", as the tags write them.
std::string GainText(double gain);
std::string PeakText(double peak);

} // namespace pelbrisk
