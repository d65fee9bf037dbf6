#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelbrisk {

// Winamp is steered through messages sent to its main window, Lilith through DDE execute
// transactions. Both are services of the desktop the program runs on; this interface is the seam
// that lets the steering logic run, and be checked, where neither exists.

using TRemoteWindow = std::uintptr_t;    // 0 means "no window"
using TDdeInstance = std::uint32_t;      // 0 means "not initialised"
using TDdeConversation = std::uintptr_t; // 0 means "not connected"

inline constexpr std::uint32_t WM_COPYDATA = 0x4A;
inline constexpr std::uint32_t WM_COMMAND = 0x111;
inline constexpr std::uint32_t WM_USER = 0x400;

// The platform's COPYDATASTRUCT: the second parameter of a copy-data message points at one.
struct TCopyDataStruct {
    std::uintptr_t dwData = 0;
    std::uint32_t cbData = 0;
    const void* lpData = nullptr;
};

inline constexpr std::uint32_t kClipboardText = 1; // CF_TEXT
// The transaction is handed over without waiting for the server's answer.
inline constexpr std::uint32_t kDdeTimeoutAsync = 0xFFFFFFFF;

class IRemotePlayerTransport {
public:
    virtual ~IRemotePlayerTransport() = default;

    // The top-level window of that window class, whatever its title; 0 when there is none.
    virtual TRemoteWindow FindWindowByClass(const std::string& className) = 0;
    // Sends (never posts) a message and waits for the answer; the answer's value is returned, 0
    // when the message went to no window. For a copy-data message lParam points at a
    // TCopyDataStruct that lives until the call returns.
    virtual std::intptr_t SendMessage(TRemoteWindow window, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) = 0;

    virtual TDdeInstance DdeInitialize() = 0;
    virtual TDdeConversation DdeConnect(TDdeInstance instance, const std::string& service,
                                        const std::string& topic) = 0;
    // An execute transaction carrying data; true when the server (or the DDE layer, for an
    // asynchronous transaction) accepted it.
    virtual bool DdeExecute(TDdeInstance instance, TDdeConversation conversation,
                            const std::vector<std::uint8_t>& data, std::uint32_t clipboardFormat,
                            std::uint32_t timeout) = 0;
    virtual void DdeDisconnect(TDdeInstance instance, TDdeConversation conversation) = 0;
    virtual void DdeUninitialize(TDdeInstance instance) = 0;
};

// What this desktop offers: no Winamp window and no DDE, so every request is not accepted.
std::unique_ptr<IRemotePlayerTransport> MakeNativeRemotePlayerTransport();

} // namespace pelbrisk
