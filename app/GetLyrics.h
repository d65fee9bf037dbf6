#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelbrisk {

struct TAudioFileInfo;

// The two lyrics sites: the first files lyrics by artist and album, the second searches by
// artist. Their hosts are fixed; the names are the captions of their menu items.
inline constexpr const char* kLyricsSiteAName = "DarkLyrics";
inline constexpr const char* kLyricsSiteAHost = "www.darklyrics.com";
inline constexpr const char* kLyricsSiteBName = "LyricsFreak";
inline constexpr const char* kLyricsSiteBHost = "www.lyricsfreak.com";
// Menu short-cuts: Alt+D and Alt+3.
inline constexpr std::uint16_t kLyricsSiteAShortCut = 0x8044;
inline constexpr std::uint16_t kLyricsSiteBShortCut = 0x8033;

// Folds the letters of UTF-8 text to their ASCII base (á to a, æ to ae, ð to d, ø to o),
// lower-cases them and keeps only ".", digits and small letters.
std::string PathSlug(std::string_view text);
// Percent-encodes every byte except ASCII letters, digits and - _ . ! * ' ( ).
std::string UrlEncode(std::string_view text);

// http://<first host>/lyrics/<artist slug>/<album slug>.html, or empty when either slug is: an
// address without the artist or the album leads nowhere.
std::string LyricsSiteAUrl(std::string_view artist, std::string_view album);
// What the user is told instead of an empty first address.
inline constexpr const char* kNoLyricsSiteAAddress =
    "No DarkLyrics page for this song: its artist or album has no Latin letter or digit";
// http://<second host>/search.php?searchstr=<artist>&category=artist&x=0&y=0
std::string LyricsSiteBUrl(std::string_view artist);

// The same for a play-list entry's tags; only Artist and Album count, the title never does.
std::string LyricsSiteAUrl(const TAudioFileInfo& info);
std::string LyricsSiteBUrl(const TAudioFileInfo& info);

// Hands the address to the desktop's default handler (the browser for a web address); whether
// it could is not reported.
void ShellOpen(const std::string& target);

} // namespace pelbrisk
