#pragma once

#include "app/MprisClient.h"
#include "platform/RemotePlayerTransport.h"

#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelbrisk {

// The paths of a file list: one per line, lines ending in CR LF (a lone LF is taken too); a last
// line without an ending counts, an empty text has none.
std::vector<std::string> SplitFileList(std::string_view fileList);

// What Winamp's volume message carries: Percent / 100 x 255 rounded half to even, 0 to 255.
std::intptr_t WinampVolumeValue(int percent);

// Lilith's add command: "/add " then each path in double quotes (quotes doubled) and a blank.
std::string LilithAddCommand(const std::vector<std::string>& paths);

inline constexpr const char* kWinampWindowClass = "Winamp v1.x";
inline constexpr const char* kLilithService = "LILITH_EXT_CONTROL";
inline constexpr const char* kLilithTopic = "LILITH_EXT_CONTROL";

// Steers other media players while the send toggle is down: Winamp through its window, Lilith
// through DDE and, on this desktop, MPRIS players on the session bus. Every request goes to
// every player whether it runs or not; each operation tells whether anyone accepted it.
class TOtherAppCtrl {
public:
    // mpris may be null: then only Winamp and Lilith are addressed.
    explicit TOtherAppCtrl(IRemotePlayerTransport& transport, TMprisClient* mpris = nullptr);

    // `firstOnly`, if given, receives the names of the players that took only the first of
    // several files: they keep one song at a time.
    bool OtherAppAddFiles(std::string_view fileList, QStringList* firstOnly = nullptr);
    bool OtherAppPlay();
    bool OtherAppStop();
    bool OtherAppPause();
    bool OtherAppNext();
    bool OtherAppPrev();
    bool OtherAppSetVolume(int percent);
    // What the MPRIS players play (Winamp and Lilith are not asked); none without an answer.
    std::optional<TOtherPlayerState> OtherAppState() const;

    bool WinampAddFiles(std::string_view fileList);
    bool WinampPlay();
    bool WinampStop();
    bool WinampPause();
    bool WinampNext();
    bool WinampPrev();
    bool WinampSetVolume(int percent);

    bool LilithAddFiles(std::string_view fileList);
    bool LilithPlay();
    bool LilithStop();
    bool LilithPause();
    bool LilithNext();
    bool LilithBack();
    bool LilithSetVolume(int percent);
    // One DDE conversation of its own for one command.
    bool LilithExecute(const std::string& command);

private:
    bool SendToWinamp(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    bool WinampCommand(std::uintptr_t commandId);

    IRemotePlayerTransport& transport_;
    TMprisClient* mpris_;
};

} // namespace pelbrisk
