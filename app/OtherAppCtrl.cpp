#include "app/OtherAppCtrl.h"

#include "app/MprisClient.h"

#include <algorithm>

namespace pelbrisk {

namespace {

constexpr std::uintptr_t kCopyDataAddFile = 100;
constexpr std::intptr_t kWinampIpcStartPlay = 102;
constexpr std::intptr_t kWinampIpcSetVolume = 122;
constexpr std::uintptr_t kWinampButtonPrev = 40044;
constexpr std::uintptr_t kWinampButtonPause = 40046;
constexpr std::uintptr_t kWinampButtonStop = 40047;
constexpr std::uintptr_t kWinampButtonNext = 40048;

} // namespace

std::vector<std::string> SplitFileList(std::string_view fileList) {
    std::vector<std::string> lines;
    while (!fileList.empty()) {
        const std::size_t end = fileList.find('\n');
        std::string_view line = fileList.substr(0, end);
        if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        fileList.remove_prefix(end + 1);
    }
    return lines;
}

std::intptr_t WinampVolumeValue(int percent) {
    const int scaled = std::clamp(percent, 0, 100) * 255;
    int value = scaled / 100;
    const int remainder = scaled % 100;
    if (remainder > 50 || (remainder == 50 && value % 2 == 1)) ++value;
    return value;
}

std::string LilithAddCommand(const std::vector<std::string>& paths) {
    std::string command = "/add ";
    for (const std::string& path : paths) {
        command += '"';
        for (char c : path) {
            if (c == '"') command += '"';
            command += c;
        }
        command += "\" ";
    }
    return command;
}

TOtherAppCtrl::TOtherAppCtrl(IRemotePlayerTransport& transport, TMprisClient* mpris)
    : transport_(transport), mpris_(mpris) {}

// Each combined operation runs every part, Winamp first, even when an earlier one was accepted.

bool TOtherAppCtrl::OtherAppAddFiles(std::string_view fileList, QStringList* firstOnly) {
    bool accepted = WinampAddFiles(fileList);
    accepted = LilithAddFiles(fileList) || accepted;
    if (mpris_ != nullptr)
        accepted = mpris_->OpenFiles(SplitFileList(fileList), firstOnly) || accepted;
    return accepted;
}

bool TOtherAppCtrl::OtherAppPlay() {
    bool accepted = WinampPlay();
    accepted = LilithPlay() || accepted;
    if (mpris_ != nullptr) accepted = mpris_->Play() || accepted;
    return accepted;
}

bool TOtherAppCtrl::OtherAppStop() {
    bool accepted = WinampStop();
    accepted = LilithStop() || accepted;
    if (mpris_ != nullptr) accepted = mpris_->Stop() || accepted;
    return accepted;
}

bool TOtherAppCtrl::OtherAppPause() {
    bool accepted = WinampPause();
    accepted = LilithPause() || accepted;
    if (mpris_ != nullptr) accepted = mpris_->Pause() || accepted;
    return accepted;
}

bool TOtherAppCtrl::OtherAppNext() {
    bool accepted = WinampNext();
    accepted = LilithNext() || accepted;
    if (mpris_ != nullptr) accepted = mpris_->Next() || accepted;
    return accepted;
}

bool TOtherAppCtrl::OtherAppPrev() {
    bool accepted = WinampPrev();
    accepted = LilithBack() || accepted;
    if (mpris_ != nullptr) accepted = mpris_->Previous() || accepted;
    return accepted;
}

bool TOtherAppCtrl::OtherAppSetVolume(int percent) {
    bool accepted = WinampSetVolume(percent);
    accepted = LilithSetVolume(percent) || accepted;
    if (mpris_ != nullptr) accepted = mpris_->SetVolume(percent) || accepted;
    return accepted;
}

std::optional<TOtherPlayerState> TOtherAppCtrl::OtherAppState() const {
    if (mpris_ == nullptr) return std::nullopt;
    return mpris_->State();
}

bool TOtherAppCtrl::SendToWinamp(std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    // Looked up anew every time: Winamp may have started or quit since the last message.
    const TRemoteWindow window = transport_.FindWindowByClass(kWinampWindowClass);
    return transport_.SendMessage(window, message, wParam, lParam) != 0;
}

bool TOtherAppCtrl::WinampCommand(std::uintptr_t commandId) {
    return SendToWinamp(WM_COMMAND, commandId, 0);
}

bool TOtherAppCtrl::WinampAddFiles(std::string_view fileList) {
    bool accepted = false;
    for (const std::string& path : SplitFileList(fileList)) {
        TCopyDataStruct copyData;
        copyData.dwData = kCopyDataAddFile;
        copyData.cbData = static_cast<std::uint32_t>(path.size() + 1);
        copyData.lpData = path.c_str();
        accepted =
            SendToWinamp(WM_COPYDATA, 0, reinterpret_cast<std::intptr_t>(&copyData)) || accepted;
    }
    return accepted;
}

bool TOtherAppCtrl::WinampPlay() {
    return SendToWinamp(WM_USER, 0, kWinampIpcStartPlay);
}
bool TOtherAppCtrl::WinampStop() {
    return WinampCommand(kWinampButtonStop);
}
bool TOtherAppCtrl::WinampPause() {
    return WinampCommand(kWinampButtonPause);
}
bool TOtherAppCtrl::WinampNext() {
    return WinampCommand(kWinampButtonNext);
}
bool TOtherAppCtrl::WinampPrev() {
    return WinampCommand(kWinampButtonPrev);
}

bool TOtherAppCtrl::WinampSetVolume(int percent) {
    return SendToWinamp(WM_USER, static_cast<std::uintptr_t>(WinampVolumeValue(percent)),
                        kWinampIpcSetVolume);
}

bool TOtherAppCtrl::LilithExecute(const std::string& command) {
    const TDdeInstance instance = transport_.DdeInitialize();
    if (instance == 0) return false;
    bool accepted = false;
    const TDdeConversation conversation =
        transport_.DdeConnect(instance, kLilithService, kLilithTopic);
    if (conversation != 0) {
        std::vector<std::uint8_t> data(command.begin(), command.end());
        data.push_back(0);
        accepted =
            transport_.DdeExecute(instance, conversation, data, kClipboardText, kDdeTimeoutAsync);
        transport_.DdeDisconnect(instance, conversation);
    }
    transport_.DdeUninitialize(instance);
    return accepted;
}

bool TOtherAppCtrl::LilithAddFiles(std::string_view fileList) {
    return LilithExecute(LilithAddCommand(SplitFileList(fileList)));
}

bool TOtherAppCtrl::LilithPlay() {
    return LilithExecute("/play");
}
bool TOtherAppCtrl::LilithStop() {
    return LilithExecute("/stop");
}
bool TOtherAppCtrl::LilithPause() {
    return LilithExecute("/pause");
}
bool TOtherAppCtrl::LilithNext() {
    return LilithExecute("/next") && LilithExecute("/play");
}
bool TOtherAppCtrl::LilithBack() {
    return LilithExecute("/back") && LilithExecute("/play");
}

bool TOtherAppCtrl::LilithSetVolume(int percent) {
    return LilithExecute("/volume " + std::to_string(std::clamp(percent, 0, 100)));
}

} // namespace pelbrisk
