#pragma once

#include "app/FilePath.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace pelbrisk {

// Low byte: the virtual-key code; the high bits are the modifiers.
using TShortCut = uint16_t;
inline constexpr TShortCut scShift = 0x2000;
inline constexpr TShortCut scCtrl = 0x4000;
inline constexpr TShortCut scAlt = 0x8000;
inline constexpr TShortCut kDefaultShowHotKey = scCtrl | scShift | 'K';

// "Shift+Ctrl+K" and back. A text that names no key gives 0; a value whose key has no name gives
// an empty text.
QString ShortCutToText(TShortCut shortCut);
TShortCut TextToShortCut(const QString& text);

// replay_gain: which ReplayGain plays; Auto is the album's while a folder plays in order, the
// track's in random play.
enum class TReplayGainChoice { Off, Track, Album, Auto };

// What the settings file holds, with the values that stand when it says nothing.
struct TFormSettings {
    int WindowLeft = 0;
    int WindowTop = 0;
    int WindowWidth = 300;
    int WindowHeight = 300;
    int WindowAlpha = 255;
    TShortCut ShowHotKey = kDefaultShowHotKey;
    TShortCut VolumeUpHotKey = 0;
    TShortCut VolumeDownHotKey = 0;
    bool RepeatAll = false;
    bool Random = false;
    int Volume = 100;
    std::vector<TFilePath> Roots;
    int FileListWidth = 155;
    bool SendList = false;
    // The code page of tag text that declares none (SetTagCodePage); empty: ISO-8859-1.
    QString TagCodePage;
    TReplayGainChoice ReplayGain = TReplayGainChoice::Auto;
    // dB added to a song's gain, and the gain of a song that has none.
    double ReplayGainPreamp = 0;
    double ReplayGainUntaggedPreamp = 0;
    bool ReplayGainPreventClipping = true;
    // The playing song's cover beside the play list.
    bool ShowCoverArt = true;

    bool Transparent() const { return WindowAlpha < 255; }
};

// Applies the file's lines in turn, so a key given twice takes its later value and every "root"
// line adds its folders. A root is written as it stands unless it would not read back the same (a
// tab, a line break or another control byte, a blank at either end, bytes that are no UTF-8, a
// leading double quote): then it stands in double quotes, with \t, \n, \r, \\, \" and \xHH
// escapes, so that older files, which hold no such field, read as they always did.
void ApplySettingsText(TFormSettings& settings, const QString& text);
QString SettingsText(const TFormSettings& settings);

// Beside the executable (its name with ".ini") when that folder may be written, as a portable
// install keeps it; otherwise $XDG_CONFIG_HOME/pelbrisk/pelbrisk.ini, so that an installed program
// never loses its settings.
QString SettingsFilePath(const QString& executablePath);

// False when there is no file to read; the settings are left as they were.
bool LoadSettingsFile(const QString& path, TFormSettings& settings);
// Replaces the file as a whole; on failure returns false with the system's reason.
bool SaveSettingsFile(const QString& path, const TFormSettings& settings, QString* errorText);

// A negative left or top counts from the screen's right or bottom edge; a window placed beyond
// the screen comes back to 0.
QRect FitToScreen(const QRect& window, const QSize& screen);

} // namespace pelbrisk
