#include "app/OtherAppCtrl.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <set>

namespace pelbrisk {
namespace {

// Stands in for the desktop: a Winamp window that may or may not exist, a Lilith DDE server that
// may or may not answer, and a log of everything the program asked of them, in order.
class TRecordingTransport final : public IRemotePlayerTransport {
public:
    struct TSent {
        TRemoteWindow window;
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam; // meaningless for copy-data: see the fields below
        std::uintptr_t copyKind = 0;
        std::uint32_t copyBytes = 0;
        std::string copyText; // the bytes the copy-data record points at, zero included
    };
    struct TExecuted {
        std::string command; // without the terminating zero
        bool zeroTerminated;
        std::uint32_t format;
        std::uint32_t timeout;
    };

    bool winampRunning = false;
    bool lilithRunning = false;
    std::set<std::string> refusedCommands;

    std::vector<std::string> log; // one word per call, to check order
    std::vector<std::string> lookedUpClasses;
    std::vector<TSent> sent;
    std::vector<TExecuted> executed;
    int openConversations = 0;
    int openInstances = 0;

    TRemoteWindow FindWindowByClass(const std::string& className) override {
        lookedUpClasses.push_back(className);
        return winampRunning ? 0x1234 : 0;
    }
    std::intptr_t SendMessage(TRemoteWindow window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override {
        log.push_back("send");
        TSent record{window, message, wParam, lParam, 0, 0, {}};
        if (message == WM_COPYDATA) {
            const auto* copyData = reinterpret_cast<const TCopyDataStruct*>(lParam);
            record.copyKind = copyData->dwData;
            record.copyBytes = copyData->cbData;
            record.copyText.assign(static_cast<const char*>(copyData->lpData), copyData->cbData);
        }
        sent.push_back(record);
        return window != 0 ? 1 : 0;
    }
    TDdeInstance DdeInitialize() override {
        log.push_back("init");
        ++openInstances;
        return 7;
    }
    TDdeConversation DdeConnect(TDdeInstance instance, const std::string& service,
                                const std::string& topic) override {
        log.push_back("connect");
        EXPECT_EQ(instance, 7u);
        EXPECT_EQ(service, "LILITH_EXT_CONTROL");
        EXPECT_EQ(topic, "LILITH_EXT_CONTROL");
        if (!lilithRunning) return 0;
        ++openConversations;
        return 99;
    }
    bool DdeExecute(TDdeInstance, TDdeConversation conversation,
                    const std::vector<std::uint8_t>& data, std::uint32_t format,
                    std::uint32_t timeout) override {
        log.push_back("execute");
        EXPECT_EQ(conversation, 99u);
        const bool terminated = !data.empty() && data.back() == 0;
        std::string command(data.begin(), terminated ? data.end() - 1 : data.end());
        executed.push_back({command, terminated, format, timeout});
        return refusedCommands.count(command) == 0;
    }
    void DdeDisconnect(TDdeInstance, TDdeConversation conversation) override {
        log.push_back("disconnect");
        EXPECT_EQ(conversation, 99u);
        --openConversations;
    }
    void DdeUninitialize(TDdeInstance) override {
        log.push_back("uninit");
        --openInstances;
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> commands;
        for (const TExecuted& e : executed)
            commands.push_back(e.command);
        return commands;
    }
};

class OtherAppCtrlTest : public ::testing::Test {
protected:
    TRecordingTransport transport;
    TOtherAppCtrl ctrl{transport};

    void BothRunning() {
        transport.winampRunning = true;
        transport.lilithRunning = true;
    }
};

TEST(FileList, LinesEndInCrLfAndTheLastNeedsNoEnding) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitFileList(""), Lines{});
    EXPECT_EQ(SplitFileList("/m/a.mp3"), Lines{"/m/a.mp3"});
    EXPECT_EQ(SplitFileList("/m/a.mp3\r\n"), Lines{"/m/a.mp3"});
    EXPECT_EQ(SplitFileList("/m/a.mp3\r\n/m/b.mp3"), (Lines{"/m/a.mp3", "/m/b.mp3"}));
    EXPECT_EQ(SplitFileList("/m/a.mp3\r\n/m/b.mp3\r\n"), (Lines{"/m/a.mp3", "/m/b.mp3"}));
    EXPECT_EQ(SplitFileList("\r\n"), Lines{""});
    EXPECT_EQ(SplitFileList("a\r\n\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitFileList("a\nb\n"), (Lines{"a", "b"}));
    // A carriage return that ends no line belongs to the path.
    EXPECT_EQ(SplitFileList("a\rb"), Lines{"a\rb"});
}

TEST_F(OtherAppCtrlTest, AllEntryOfThreeFilesGoesToWinampFileByFileAndToLilithInOneCommand) {
    BothRunning();
    const std::string all = "/music/01 Intro.mp3\r\n/music/02 \"Quoted\".mp3\r\n/music/03.mp3";
    EXPECT_TRUE(ctrl.OtherAppAddFiles(all));

    ASSERT_EQ(transport.sent.size(), 3u);
    const char* paths[] = {"/music/01 Intro.mp3", "/music/02 \"Quoted\".mp3", "/music/03.mp3"};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& message = transport.sent[i];
        EXPECT_EQ(message.window, 0x1234u);
        EXPECT_EQ(message.message, 0x4Au);
        EXPECT_EQ(message.wParam, 0u);
        EXPECT_EQ(message.copyKind, 100u);
        EXPECT_EQ(message.copyBytes, std::string(paths[i]).size() + 1);
        EXPECT_EQ(message.copyText, std::string(paths[i]) + '\0');
    }
    ASSERT_EQ(transport.executed.size(), 1u);
    EXPECT_EQ(transport.executed[0].command,
              "/add \"/music/01 Intro.mp3\" \"/music/02 \"\"Quoted\"\".mp3\" \"/music/03.mp3\" ");
    EXPECT_TRUE(transport.executed[0].zeroTerminated);
    EXPECT_EQ(transport.executed[0].format, 1u);
    EXPECT_EQ(transport.executed[0].timeout, kDdeTimeoutAsync);
    // Winamp first, then one conversation for Lilith, closed again.
    EXPECT_EQ(transport.log, (std::vector<std::string>{"send", "send", "send", "init", "connect",
                                                       "execute", "disconnect", "uninit"}));
    EXPECT_EQ(transport.openConversations, 0);
    EXPECT_EQ(transport.openInstances, 0);
}

TEST_F(OtherAppCtrlTest, WinampWindowIsLookedUpForEveryMessage) {
    ctrl.WinampAddFiles("a\r\nb");
    ctrl.WinampPlay();
    EXPECT_EQ(transport.lookedUpClasses,
              (std::vector<std::string>{"Winamp v1.x", "Winamp v1.x", "Winamp v1.x"}));
    transport.winampRunning = true;
    EXPECT_TRUE(ctrl.WinampStop());
}

TEST_F(OtherAppCtrlTest, TransportCommandsCarryWinampsParametersAndLilithsTexts) {
    BothRunning();
    struct TCase {
        std::function<bool()> operation;
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
        std::vector<std::string> lilith;
    };
    const TCase cases[] = {
        {[&] { return ctrl.OtherAppPlay(); }, 0x400, 0, 102, {"/play"}},
        {[&] { return ctrl.OtherAppStop(); }, 0x111, 40047, 0, {"/stop"}},
        {[&] { return ctrl.OtherAppPause(); }, 0x111, 40046, 0, {"/pause"}},
        {[&] { return ctrl.OtherAppNext(); }, 0x111, 40048, 0, {"/next", "/play"}},
        {[&] { return ctrl.OtherAppPrev(); }, 0x111, 40044, 0, {"/back", "/play"}},
    };
    for (const TCase& c : cases) {
        transport.sent.clear();
        transport.executed.clear();
        EXPECT_TRUE(c.operation());
        ASSERT_EQ(transport.sent.size(), 1u);
        EXPECT_EQ(transport.sent[0].message, c.message);
        EXPECT_EQ(transport.sent[0].wParam, c.wParam);
        EXPECT_EQ(transport.sent[0].lParam, c.lParam);
        EXPECT_EQ(transport.Commands(), c.lilith);
    }
}

TEST_F(OtherAppCtrlTest, NextAndBackPlayOnlyWhenTheFirstCommandWasTaken) {
    transport.lilithRunning = true;
    transport.log.clear();
    EXPECT_TRUE(ctrl.LilithNext());
    // Two conversations, each opened and closed on its own.
    EXPECT_EQ(transport.log,
              (std::vector<std::string>{"init", "connect", "execute", "disconnect", "uninit",
                                        "init", "connect", "execute", "disconnect", "uninit"}));

    transport.executed.clear();
    transport.refusedCommands = {"/next", "/back"};
    EXPECT_FALSE(ctrl.OtherAppNext());
    EXPECT_EQ(transport.Commands(), std::vector<std::string>{"/next"});
    transport.executed.clear();
    EXPECT_FALSE(ctrl.OtherAppPrev());
    EXPECT_EQ(transport.Commands(), std::vector<std::string>{"/back"});

    // A refused "/play" makes the whole step count as refused.
    transport.executed.clear();
    transport.refusedCommands = {"/play"};
    EXPECT_FALSE(ctrl.LilithNext());
    EXPECT_EQ(transport.Commands(), (std::vector<std::string>{"/next", "/play"}));
}

TEST_F(OtherAppCtrlTest, VolumeGoesToWinampRoundedHalfToEvenAndToLilithAsPercent) {
    BothRunning();
    const std::pair<int, std::intptr_t> expected[] = {{50, 128}, {30, 76}, {100, 255}, {0, 0}};
    for (const auto& [percent, value] : expected) {
        transport.sent.clear();
        transport.executed.clear();
        EXPECT_TRUE(ctrl.OtherAppSetVolume(percent));
        ASSERT_EQ(transport.sent.size(), 1u);
        EXPECT_EQ(transport.sent[0].message, 0x400u);
        EXPECT_EQ(transport.sent[0].wParam, static_cast<std::uintptr_t>(value)) << percent;
        EXPECT_EQ(transport.sent[0].lParam, 122);
        EXPECT_EQ(transport.Commands(),
                  std::vector<std::string>{"/volume " + std::to_string(percent)});
    }
    // Every step of the bar against the floating-point rounding, which is half to even.
    for (int percent = 0; percent <= 100; ++percent)
        EXPECT_EQ(WinampVolumeValue(percent), std::lrint(percent * 255 / 100.0)) << percent;
    EXPECT_EQ(WinampVolumeValue(-20), 0);
    EXPECT_EQ(WinampVolumeValue(250), 255);
}

TEST_F(OtherAppCtrlTest, ResultIsTrueWhenEitherPlayerTookTheRequest) {
    transport.winampRunning = true;
    EXPECT_TRUE(ctrl.OtherAppPlay());
    // Lilith was asked all the same.
    EXPECT_EQ(std::count(transport.log.begin(), transport.log.end(), "connect"), 1);

    transport.winampRunning = false;
    transport.lilithRunning = true;
    transport.sent.clear();
    EXPECT_TRUE(ctrl.OtherAppStop());
    EXPECT_EQ(transport.sent.size(), 1u); // Winamp asked all the same

    transport.refusedCommands = {"/pause"};
    EXPECT_FALSE(ctrl.OtherAppPause());
}

TEST_F(OtherAppCtrlTest, UnreachableLilithIsNeverSentACommand) {
    transport.log.clear();
    EXPECT_FALSE(ctrl.LilithPlay());
    EXPECT_EQ(transport.log, (std::vector<std::string>{"init", "connect", "uninit"}));
    EXPECT_TRUE(transport.executed.empty());
}

TEST(OtherAppCtrlNative, WithNoPlayerEveryButtonIsRefusedQuietly) {
    auto transport = MakeNativeRemotePlayerTransport();
    TOtherAppCtrl ctrl(*transport);
    EXPECT_FALSE(ctrl.OtherAppAddFiles("/music/a.mp3\r\n/music/b.mp3"));
    EXPECT_FALSE(ctrl.OtherAppPlay());
    EXPECT_FALSE(ctrl.OtherAppStop());
    EXPECT_FALSE(ctrl.OtherAppPause());
    EXPECT_FALSE(ctrl.OtherAppNext());
    EXPECT_FALSE(ctrl.OtherAppPrev());
    EXPECT_FALSE(ctrl.OtherAppSetVolume(40));
}

} // namespace
} // namespace pelbrisk
