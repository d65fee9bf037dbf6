#pragma once

#include "app/FilePath.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
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
    // The file gave the window's size; without it a first start sizes the window by the
    // desktop's font and centres it.
    bool WindowSized = false;
    int WindowAlpha = 255;
    TShortCut ShowHotKey = kDefaultShowHotKey;
    TShortCut VolumeUpHotKey = 0;
    TShortCut VolumeDownHotKey = 0;
    bool RepeatAll = false;
    bool Random = false;
    int Volume = 100;
    // As the file gives them: "~/Music" stays so.
    std::vector<TFilePath> Roots;
    // 0: half of the window's width.
    int FileListWidth = 0;
    bool SendList = false;
    // The code page of tag text that declares none (SetTagCodePage); empty: ISO-8859-1.
    QString TagCodePage;
    // "Family, points"; empty: the desktop's font.
    QString Font;
    // Where the user was: the selected folder, the play list (kept in a file of its own beside
    // this one, see PlayListFilePath), its current song and the position in that song.
    TFilePath Folder;
    std::vector<TFilePath> PlayList;
    TFilePath Song;
    int PositionMs = 0;
    // The song plays on at start, rather than waiting at its position.
    bool Resume = false;
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
// line adds its folders. A path (a root, the folder, the song) is written as it stands unless it
// would not read back the same (a tab, a line break or another control byte, a blank at either
// end, bytes that are no UTF-8, a leading double quote): then it stands in double quotes, with \t,
// \n, \r, \\, \" and \xHH escapes, so that older files, which hold no such field, read as they
// always did.
void ApplySettingsText(TFormSettings& settings, const QString& text);
// The file's text for `settings`. The lines of `kept` (the file as it is on disk) stay as they
// are, in their order, where they hold no key of the settings (comments, keys of other versions);
// the first line of each key takes that key's value, later ones go, and keys it lacks follow at
// its end in their usual order.
QString SettingsText(const TFormSettings& settings, const QString& kept = QString());

// What to write when the window went from `then` to `now` while the file on disk came to hold
// `file`: each value the window changed, and the file's own wherever the window changed nothing,
// so that an edit of the file made meanwhile is not lost. Roots are merged one by one.
TFormSettings MergeSettings(const TFormSettings& file, const TFormSettings& then,
                            const TFormSettings& now);

// The play list's file beside the settings file: its name with ".m3u8" for ".ini".
QString PlayListFilePath(const QString& settingsFile);

// The file's text, or nothing when there is no file to read.
std::optional<QString> ReadSettingsText(const QString& path);
// False when there is no file to read; the settings are left as they were. Reads the play list's
// file too.
bool LoadSettingsFile(const QString& path, TFormSettings& settings);
// Replaces the file (and the play list's) as a whole, keeping what `kept` holds besides the
// settings (see SettingsText); on failure returns false with the system's reason.
bool SaveSettingsFile(const QString& path, const TFormSettings& settings, QString* errorText,
                      const QString& kept = QString());

// A negative left or top counts from the screen's right or bottom edge; a window placed beyond
// the screen comes back to 0.
QRect FitToScreen(const QRect& window, const QSize& screen);

} // namespace pelbrisk
