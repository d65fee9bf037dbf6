#include "app/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <optional>

namespace pelbrisk {

namespace {

struct TKeyName {
    uint8_t Key;
    const char* Name;
};

// Virtual-key codes of the named keys; letters and digits are their own codes.
constexpr std::array<TKeyName, 15> kKeyNames{{
    {0x08, "BkSp"},
    {0x09, "Tab"},
    {0x0D, "Enter"},
    {0x1B, "Esc"},
    {0x20, "Space"},
    {0x21, "PgUp"},
    {0x22, "PgDn"},
    {0x23, "End"},
    {0x24, "Home"},
    {0x25, "Left"},
    {0x26, "Up"},
    {0x27, "Right"},
    {0x28, "Down"},
    {0x2D, "Ins"},
    {0x2E, "Del"},
}};
constexpr uint8_t kVkF1 = 0x70;
constexpr int kFunctionKeys = 12;

QString KeyName(uint8_t key) {
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return QString(QChar(key));
    if (key >= kVkF1 && key < kVkF1 + kFunctionKeys) return "F" + QString::number(key - kVkF1 + 1);
    for (const auto& entry : kKeyNames)
        if (entry.Key == key) return entry.Name;
    return {};
}

// Strips `prefix` from the front of `text` when it is there, letters compared case-blind.
bool TakePrefix(QStringView& text, QStringView prefix) {
    if (!text.startsWith(prefix, Qt::CaseInsensitive)) return false;
    text = text.mid(prefix.size());
    return true;
}

bool IsBlankOrControl(QChar c) {
    return c.unicode() <= 32;
}

QStringView TrimBlanksAndControls(QStringView text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && IsBlankOrControl(text[first]))
        ++first;
    while (last > first && IsBlankOrControl(text[last - 1]))
        --last;
    return text.mid(first, last - first);
}

std::optional<int> ParseInteger(QStringView text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return value;
}

// Numbers (0 false, any other true) and the words True and False; anything else leaves the value.
std::optional<bool> ParseBoolean(QStringView text) {
    if (const auto number = ParseInteger(text)) return *number != 0;
    if (text.compare(u"True", Qt::CaseInsensitive) == 0) return true;
    if (text.compare(u"False", Qt::CaseInsensitive) == 0) return false;
    return std::nullopt;
}

// The length of the UTF-8 sequence that starts at `at`, or 0 when the bytes there are none.
int Utf8SequenceLength(const QByteArray& bytes, qsizetype at) {
    const auto byte = [&](qsizetype i) {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
    };
    const unsigned lead = byte(at);
    if (lead < 0x80) return 1;
    int length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong form
        if (lead == 0xED) high = 0x9F; // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        const unsigned next = byte(at + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    }
    return length;
}

bool NeedsQuotes(const QByteArray& bytes) {
    if (bytes.isEmpty()) return false;
    if (bytes.front() == ' ' || bytes.back() == ' ' || bytes.front() == '"') return true;
    for (qsizetype at = 0; at < bytes.size();) {
        const int length = Utf8SequenceLength(bytes, at);
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (length == 0 || byte < 0x20 || byte == 0x7F) return true;
        at += length;
    }
    return false;
}

QString PathField(const TFilePath& path) {
    const QByteArray& bytes = path.Bytes();
    if (!NeedsQuotes(bytes)) return QString::fromUtf8(bytes);
    QByteArray quoted = "\"";
    for (qsizetype at = 0; at < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        const int length = Utf8SequenceLength(bytes, at);
        if (byte == '\\' || byte == '"') {
            quoted += '\\';
            quoted += static_cast<char>(byte);
        } else if (byte == '\t') {
            quoted += "\\t";
        } else if (byte == '\n') {
            quoted += "\\n";
        } else if (byte == '\r') {
            quoted += "\\r";
        } else if (length == 0 || byte < 0x20 || byte == 0x7F) {
            quoted += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            quoted += bytes.mid(at, length);
            at += length;
            continue;
        }
        ++at;
    }
    return QString::fromUtf8(quoted + '"');
}

bool HexByte(QStringView digits, char& byte) {
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (digits.size() != 2 || !ok) return false;
    byte = static_cast<char>(value);
    return true;
}

TFilePath ReadPathField(QStringView field) {
    if (field.size() < 2 || !field.startsWith(u'"') || !field.endsWith(u'"'))
        return TFilePath(field.toUtf8());
    const QStringView inner = field.mid(1, field.size() - 2);
    QByteArray bytes;
    for (qsizetype at = 0; at < inner.size(); ++at) {
        if (inner[at] != u'\\' || at + 1 == inner.size()) {
            // A character beyond the basic plane is two UTF-16 units; they go together.
            const qsizetype units = inner[at].isHighSurrogate() ? 2 : 1;
            bytes += inner.mid(at, units).toUtf8();
            at += units - 1;
            continue;
        }
        const QChar escaped = inner[++at];
        char hex = 0;
        if (escaped == u't') {
            bytes += '\t';
        } else if (escaped == u'n') {
            bytes += '\n';
        } else if (escaped == u'r') {
            bytes += '\r';
        } else if (escaped == u'x' && HexByte(inner.mid(at + 1, 2), hex)) {
            bytes += hex;
            at += 2;
        } else {
            bytes += QString(escaped).toUtf8();
        }
    }
    return TFilePath(bytes);
}

// An empty field (two tabs in a row) names no folder; taken as a root it would stand for the
// whole file system and have it scanned.
void AddRootFields(std::vector<TFilePath>& roots, QStringView value) {
    while (!TrimBlanksAndControls(value).isEmpty()) {
        const qsizetype tab = value.indexOf(u'\t');
        const QStringView field = tab < 0 ? value : value.left(tab);
        if (!field.isEmpty()) roots.push_back(ReadPathField(field));
        if (tab < 0) break;
        value = value.mid(tab + 1);
    }
}

constexpr std::array<std::pair<TReplayGainChoice, const char16_t*>, 4> kReplayGainNames{{
    {TReplayGainChoice::Off, u"off"},
    {TReplayGainChoice::Track, u"track"},
    {TReplayGainChoice::Album, u"album"},
    {TReplayGainChoice::Auto, u"auto"},
}};

// A pre-amp in dB; anything else, or one beyond what a gain may be, leaves the value.
double PreampOr(QStringView text, double current) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::abs(value) <= 30 ? value : current;
}

void ApplySettingsLine(TFormSettings& settings, QStringView line) {
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0) return;
    const QStringView key = TrimBlanksAndControls(line.left(equals));
    const QStringView value = TrimBlanksAndControls(line.mid(equals + 1));
    const auto is = [&](const char16_t* name) {
        return key.compare(name, Qt::CaseInsensitive) == 0;
    };
    const auto integerOr = [&](int fallback) { return ParseInteger(value).value_or(fallback); };
    const auto booleanOr = [&](bool current) { return ParseBoolean(value).value_or(current); };

    if (is(u"window_left"))
        settings.WindowLeft = integerOr(0);
    else if (is(u"window_top"))
        settings.WindowTop = integerOr(0);
    else if (is(u"window_width")) {
        settings.WindowWidth = integerOr(100);
        settings.WindowSized = true;
    } else if (is(u"window_height")) {
        settings.WindowHeight = integerOr(100);
        settings.WindowSized = true;
    } else if (is(u"window_alpha"))
        // 0, or 256 cut to its low byte, would make a window nobody can see to set it right.
        settings.WindowAlpha = std::clamp(integerOr(255), 1, 255);
    else if (is(u"hotkey"))
        settings.ShowHotKey = TextToShortCut(value.toString());
    else if (is(u"hotkey_volume_up"))
        settings.VolumeUpHotKey = TextToShortCut(value.toString());
    else if (is(u"hotkey_volume_down"))
        settings.VolumeDownHotKey = TextToShortCut(value.toString());
    else if (is(u"repeat_all"))
        settings.RepeatAll = booleanOr(settings.RepeatAll);
    else if (is(u"random"))
        settings.Random = booleanOr(settings.Random);
    else if (is(u"volume")) {
        // The player ignores a volume outside 0 to 100, so the one it had stays.
        const int volume = integerOr(100);
        if (volume >= 0 && volume <= 100) settings.Volume = volume;
    } else if (is(u"root"))
        AddRootFields(settings.Roots, value);
    else if (is(u"filelist_width"))
        settings.FileListWidth = integerOr(100);
    else if (is(u"sendlist"))
        settings.SendList = booleanOr(settings.SendList);
    else if (is(u"tag_code_page"))
        settings.TagCodePage = value.toString();
    else if (is(u"font"))
        settings.Font = value.toString();
    else if (is(u"folder"))
        settings.Folder = ReadPathField(value);
    else if (is(u"song"))
        settings.Song = ReadPathField(value);
    else if (is(u"position"))
        settings.PositionMs = std::max(integerOr(0), 0);
    else if (is(u"resume"))
        settings.Resume = booleanOr(settings.Resume);
    else if (is(u"replay_gain")) {
        for (const auto& [choice, name] : kReplayGainNames)
            if (value.compare(name, Qt::CaseInsensitive) == 0) settings.ReplayGain = choice;
    } else if (is(u"replay_gain_preamp"))
        settings.ReplayGainPreamp = PreampOr(value, settings.ReplayGainPreamp);
    else if (is(u"replay_gain_preamp_untagged"))
        settings.ReplayGainUntaggedPreamp = PreampOr(value, settings.ReplayGainUntaggedPreamp);
    else if (is(u"replay_gain_prevent_clipping"))
        settings.ReplayGainPreventClipping = booleanOr(settings.ReplayGainPreventClipping);
    else if (is(u"cover_art"))
        settings.ShowCoverArt = booleanOr(settings.ShowCoverArt);
}

// An M3U list of the play list's files, one path a line as the file system names it; a name with
// a line break in it cannot stand there and is left out.
QByteArray PlayListText(const std::vector<TFilePath>& files) {
    QByteArray text = "#EXTM3U\n";
    for (const TFilePath& file : files)
        if (!file.Bytes().contains('\n') && !file.Bytes().contains('\r'))
            text += file.Bytes() + '\n';
    return text;
}

std::vector<TFilePath> ReadPlayList(const QString& path) {
    QFile file(path);
    std::vector<TFilePath> files;
    if (!file.open(QIODevice::ReadOnly)) return files;
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        if (line.startsWith('/')) files.emplace_back(line);
    }
    return files;
}

QString BooleanText(bool value) {
    return value ? QStringLiteral("-1") : QStringLiteral("0");
}

} // namespace

QString ShortCutToText(TShortCut shortCut) {
    const QString name = KeyName(static_cast<uint8_t>(shortCut & 0xFF));
    if (name.isEmpty()) return {};
    QString text;
    if (shortCut & scShift) text += "Shift+";
    if (shortCut & scCtrl) text += "Ctrl+";
    if (shortCut & scAlt) text += "Alt+";
    return text + name;
}

TShortCut TextToShortCut(const QString& text) {
    QStringView rest(text);
    TShortCut modifiers = 0;
    for (;;) {
        if (TakePrefix(rest, u"Shift+"))
            modifiers |= scShift;
        else if (TakePrefix(rest, u"Ctrl+") || TakePrefix(rest, u"^"))
            modifiers |= scCtrl;
        else if (TakePrefix(rest, u"Alt+"))
            modifiers |= scAlt;
        else
            break;
    }
    if (rest.isEmpty()) return 0;
    for (int key = 0x08; key <= 0xFF; ++key) {
        const QString name = KeyName(static_cast<uint8_t>(key));
        if (!name.isEmpty() && rest.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<TShortCut>(modifiers | key);
    }
    return 0;
}

void ApplySettingsText(TFormSettings& settings, const QString& text) {
    for (const QStringView line : QStringView(text).split(u'\n'))
        ApplySettingsLine(settings, line);
}

QString SettingsText(const TFormSettings& settings, const QString& kept) {
    QString roots;
    for (const TFilePath& root : settings.Roots)
        roots += PathField(root) + '\t';
    QString replayGain;
    for (const auto& [choice, name] : kReplayGainNames)
        if (choice == settings.ReplayGain) replayGain = QString::fromUtf16(name);
    const std::array<std::pair<const char*, QString>, 25> lines{{
        {"window_left", QString::number(settings.WindowLeft)},
        {"window_top", QString::number(settings.WindowTop)},
        {"window_width", QString::number(settings.WindowWidth)},
        {"window_height", QString::number(settings.WindowHeight)},
        {"window_alpha", QString::number(settings.WindowAlpha & 0xFF)},
        {"hotkey", ShortCutToText(settings.ShowHotKey)},
        {"hotkey_volume_up", ShortCutToText(settings.VolumeUpHotKey)},
        {"hotkey_volume_down", ShortCutToText(settings.VolumeDownHotKey)},
        {"repeat_all", BooleanText(settings.RepeatAll)},
        {"random", BooleanText(settings.Random)},
        {"volume", QString::number(settings.Volume)},
        {"root", roots},
        {"filelist_width", QString::number(settings.FileListWidth)},
        {"sendlist", BooleanText(settings.SendList)},
        {"tag_code_page", settings.TagCodePage},
        {"font", settings.Font},
        {"folder", PathField(settings.Folder)},
        {"song", PathField(settings.Song)},
        {"position", QString::number(settings.PositionMs)},
        {"resume", BooleanText(settings.Resume)},
        {"replay_gain", replayGain},
        {"replay_gain_preamp", QString::number(settings.ReplayGainPreamp)},
        {"replay_gain_preamp_untagged", QString::number(settings.ReplayGainUntaggedPreamp)},
        {"replay_gain_prevent_clipping", BooleanText(settings.ReplayGainPreventClipping)},
        {"cover_art", BooleanText(settings.ShowCoverArt)},
    }};
    const auto lineOf = [](const std::pair<const char*, QString>& line) {
        return QString::fromLatin1(line.first) + " = " + line.second + '\n';
    };
    std::array<bool, lines.size()> written{};
    QString text;
    QList<QStringView> keptLines = QStringView(kept).split(u'\n');
    // The piece after the last line break is no line of its own.
    if (!keptLines.isEmpty() && keptLines.back().isEmpty()) keptLines.pop_back();
    for (const QStringView line : keptLines) {
        const qsizetype equals = line.indexOf(u'=');
        const QStringView key =
            equals < 0 ? QStringView() : TrimBlanksAndControls(line.left(equals));
        const auto known = std::find_if(lines.begin(), lines.end(), [&](const auto& entry) {
            return !key.isEmpty() &&
                   key.compare(QLatin1String(entry.first), Qt::CaseInsensitive) == 0;
        });
        if (known == lines.end()) {
            text += line;
            text += u'\n';
            continue;
        }
        // A later line of the same key would win when read: only the first one stays.
        auto& done = written[static_cast<std::size_t>(known - lines.begin())];
        if (!done) text += lineOf(*known);
        done = true;
    }
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (!written[i]) text += lineOf(lines[i]);
    return text;
}

TFormSettings MergeSettings(const TFormSettings& file, const TFormSettings& then,
                            const TFormSettings& now) {
    TFormSettings merged = file;
    const auto take = [&]<typename T>(T TFormSettings::*value) {
        if (now.*value != then.*value) merged.*value = now.*value;
    };
    take(&TFormSettings::WindowLeft);
    take(&TFormSettings::WindowTop);
    take(&TFormSettings::WindowWidth);
    take(&TFormSettings::WindowHeight);
    take(&TFormSettings::WindowAlpha);
    take(&TFormSettings::ShowHotKey);
    take(&TFormSettings::VolumeUpHotKey);
    take(&TFormSettings::VolumeDownHotKey);
    take(&TFormSettings::RepeatAll);
    take(&TFormSettings::Random);
    take(&TFormSettings::Volume);
    take(&TFormSettings::FileListWidth);
    take(&TFormSettings::SendList);
    take(&TFormSettings::TagCodePage);
    take(&TFormSettings::Font);
    take(&TFormSettings::Folder);
    take(&TFormSettings::PlayList);
    take(&TFormSettings::Song);
    take(&TFormSettings::PositionMs);
    take(&TFormSettings::Resume);
    merged.WindowSized = file.WindowSized || now.WindowSized;
    const auto holds = [](const std::vector<TFilePath>& roots, const TFilePath& root) {
        return std::find(roots.begin(), roots.end(), root) != roots.end();
    };
    std::erase_if(merged.Roots, [&](const TFilePath& root) {
        return holds(then.Roots, root) && !holds(now.Roots, root);
    });
    for (const TFilePath& root : now.Roots)
        if (!holds(then.Roots, root) && !holds(merged.Roots, root)) merged.Roots.push_back(root);
    return merged;
}

QString PlayListFilePath(const QString& settingsFile) {
    const QString base = settingsFile.endsWith(".ini") ? settingsFile.chopped(4) : settingsFile;
    return base + ".m3u8";
}

std::optional<QString> ReadSettingsText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

bool LoadSettingsFile(const QString& path, TFormSettings& settings) {
    const std::optional<QString> text = ReadSettingsText(path);
    if (!text) return false;
    ApplySettingsText(settings, *text);
    settings.PlayList = ReadPlayList(PlayListFilePath(path));
    return true;
}

bool SaveSettingsFile(const QString& path, const TFormSettings& settings, QString* errorText,
                      const QString& kept) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const auto write = [errorText](const QString& name, const QByteArray& bytes) {
        QSaveFile file(name);
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
            return true;
        if (errorText) *errorText = name + ": " + file.errorString();
        return false;
    };
    return write(path, SettingsText(settings, kept).toUtf8()) &&
           write(PlayListFilePath(path), PlayListText(settings.PlayList));
}

QRect FitToScreen(const QRect& window, const QSize& screen) {
    // Counted wide: a file may hold any number, and the sums must not overflow.
    int64_t left = window.left();
    int64_t top = window.top();
    if (left < 0) left = int64_t{screen.width()} + left - window.width();
    if (top < 0) top = int64_t{screen.height()} + top - window.height();
    if (left > screen.width()) left = 0;
    if (top > screen.height()) top = 0;
    const auto asInt = [](int64_t value) {
        return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
    };
    return QRect(QPoint(asInt(left), asInt(top)), window.size());
}

} // namespace pelbrisk
