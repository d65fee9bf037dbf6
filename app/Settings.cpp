#include "app/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <unistd.h>

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

// An empty field (two tabs in a row) names no folder; taken as a root it would stand for the
// whole file system and have it scanned.
void AddRootFields(QStringList& roots, QStringView value) {
    while (!TrimBlanksAndControls(value).isEmpty()) {
        const qsizetype tab = value.indexOf(u'\t');
        const QStringView field = tab < 0 ? value : value.left(tab);
        if (!field.isEmpty()) roots.append(field.toString());
        if (tab < 0) break;
        value = value.mid(tab + 1);
    }
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
    else if (is(u"window_width"))
        settings.WindowWidth = integerOr(100);
    else if (is(u"window_height"))
        settings.WindowHeight = integerOr(100);
    else if (is(u"window_alpha"))
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
}

QString BooleanText(bool value) {
    return value ? QStringLiteral("-1") : QStringLiteral("0");
}

QString ConfigHome() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative paths are to be ignored, as the base-directory rules say.
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured)) return configured;
    return QDir::homePath() + "/.config";
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

QString SettingsText(const TFormSettings& settings) {
    QString roots;
    for (const QString& root : settings.Roots)
        roots += root + '\t';
    const std::array<std::pair<const char*, QString>, 15> lines{{
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
    }};
    QString text;
    for (const auto& [key, value] : lines)
        text += QString::fromLatin1(key) + " = " + value + '\n';
    return text;
}

QString SettingsFilePath(const QString& executablePath) {
    const QFileInfo executable(executablePath);
    const QString folder = executable.absolutePath();
    // access() asks the system itself, so read-only mounts and ACLs count as well.
    if (::access(QFile::encodeName(folder).constData(), W_OK) == 0)
        return folder + '/' + executable.completeBaseName() + ".ini";
    return ConfigHome() + "/pelbrisk/pelbrisk.ini";
}

bool LoadSettingsFile(const QString& path, TFormSettings& settings) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    ApplySettingsText(settings, QString::fromUtf8(file.readAll()));
    return true;
}

bool SaveSettingsFile(const QString& path, const TFormSettings& settings, QString* errorText) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray bytes = SettingsText(settings).toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (errorText) *errorText = path + ": " + file.errorString();
    return false;
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
