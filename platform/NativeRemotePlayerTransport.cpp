#include "platform/RemotePlayerTransport.h"

namespace pelbrisk {

namespace {

// Linux desktops have neither Win32 window messages nor DDE; the other players cannot be running
// here, so the answer to every request is the platform's "nothing there".
class TNativeRemotePlayerTransport final : public IRemotePlayerTransport {
public:
    TRemoteWindow FindWindowByClass(const std::string&) override { return 0; }
    std::intptr_t SendMessage(TRemoteWindow, std::uint32_t, std::uintptr_t,
                              std::intptr_t) override {
        return 0;
    }
    TDdeInstance DdeInitialize() override { return 0; }
    TDdeConversation DdeConnect(TDdeInstance, const std::string&, const std::string&) override {
        return 0;
    }
    bool DdeExecute(TDdeInstance, TDdeConversation, const std::vector<std::uint8_t>&, std::uint32_t,
                    std::uint32_t) override {
        return false;
    }
    void DdeDisconnect(TDdeInstance, TDdeConversation) override {}
    void DdeUninitialize(TDdeInstance) override {}
};

} // namespace

std::unique_ptr<IRemotePlayerTransport> MakeNativeRemotePlayerTransport() {
    return std::make_unique<TNativeRemotePlayerTransport>();
}

} // namespace pelbrisk
