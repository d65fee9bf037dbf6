#include "app/GetLyrics.h"

#include "app/AudioFileInfo.h"

#include <QDesktopServices>
#include <QHash>
#include <QProcess>
#include <QUrl>

namespace pelbrisk {

namespace {

bool IsAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

bool IsUnreserved(unsigned char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) ||
           std::string_view("-_.!*'()").find(c) != std::string_view::npos;
}

// Letters that decompose into no ASCII base of their own.
const QHash<char16_t, QString>& LetterFolds() {
    static const QHash<char16_t, QString> folds{
        {u'æ', "ae"}, {u'Æ', "AE"}, {u'œ', "oe"}, {u'Œ', "OE"}, {u'ß', "ss"}, {u'ẞ', "SS"},
        {u'ð', "d"},  {u'Ð', "D"},  {u'đ', "d"},  {u'Đ', "D"},  {u'ø', "o"},  {u'Ø', "O"},
        {u'þ', "th"}, {u'Þ', "TH"}, {u'ł', "l"},  {u'Ł', "L"},  {u'ı', "i"},  {u'ħ', "h"},
        {u'Ħ', "H"},  {u'ŋ', "n"},  {u'Ŋ', "N"},  {u'ĸ', "k"}};
    return folds;
}

// Compatibility decomposition splits accents and ligatures off their base letters (á to a and
// an accent, ﬁ to fi, full-width Ａ to A); what is left outside ASCII is dropped by the caller.
std::string AsciiFold(std::string_view utf8) {
    const QString decomposed = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))
                                   .normalized(QString::NormalizationForm_KD);
    QString folded;
    for (const QChar c : decomposed) {
        if (c.unicode() < 0x80)
            folded += c;
        else
            folded += LetterFolds().value(c.unicode());
    }
    return folded.toStdString();
}

} // namespace

std::string PathSlug(std::string_view text) {
    std::string slug;
    for (const char byte : AsciiFold(text)) {
        unsigned char c = static_cast<unsigned char>(byte);
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        if (c == '.' || IsAsciiDigit(c) || (c >= 'a' && c <= 'z')) slug += static_cast<char>(c);
    }
    return slug;
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (IsUnreserved(c)) {
            encoded += byte;
        } else {
            encoded += '%';
            encoded += kHexDigits[c >> 4];
            encoded += kHexDigits[c & 0x0F];
        }
    }
    return encoded;
}

std::string LyricsSiteAUrl(std::string_view artist, std::string_view album) {
    const std::string artistSlug = PathSlug(artist);
    const std::string albumSlug = PathSlug(album);
    if (artistSlug.empty() || albumSlug.empty()) return {};
    return std::string("http://") + kLyricsSiteAHost + "/lyrics/" + artistSlug + "/" + albumSlug +
           ".html";
}

std::string LyricsSiteBUrl(std::string_view artist) {
    return std::string("http://") + kLyricsSiteBHost +
           "/search.php?searchstr=" + UrlEncode(artist) + "&category=artist&x=0&y=0";
}

std::string LyricsSiteAUrl(const TAudioFileInfo& info) {
    return LyricsSiteAUrl(info.Artist.toStdString(), info.Album.toStdString());
}

// The search text is escaped byte by byte in the system's encoding.
std::string LyricsSiteBUrl(const TAudioFileInfo& info) {
    return LyricsSiteBUrl(info.Artist.toLocal8Bit().toStdString());
}

void ShellOpen(const std::string& target) {
    // xdg-open is asked first because it hands the address on byte for byte, under any window
    // system plugin; the toolkit's own opener (portals, desktop settings) is the fallback.
    const QString address = QString::fromLocal8Bit(target);
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {address})) return;
    QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(target)));
}

} // namespace pelbrisk
