#include "app/GetLyrics.h"

#include "app/AudioFileInfo.h"

#include <QDesktopServices>
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

} // namespace

std::string PathSlug(std::string_view text) {
    std::string slug;
    for (const char byte : text) {
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
    return std::string("http://") + kLyricsSiteAHost + "/lyrics/" + PathSlug(artist) + "/" +
           PathSlug(album) + ".html";
}

std::string LyricsSiteBUrl(std::string_view artist) {
    return std::string("http://") + kLyricsSiteBHost +
           "/search.php?searchstr=" + UrlEncode(artist) + "&category=artist&x=0&y=0";
}

// Tags are handled byte by byte in the system's encoding.
std::string LyricsSiteAUrl(const TAudioFileInfo& info) {
    return LyricsSiteAUrl(info.Artist.toLocal8Bit().toStdString(),
                          info.Album.toLocal8Bit().toStdString());
}

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
