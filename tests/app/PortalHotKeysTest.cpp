// The hot keys through the desktop's GlobalShortcuts portal, against a small portal of the test's
// own on a private session bus: what it is asked to bind, how its answers and its Activated
// signals are taken, and what happens when it refuses.
#include "app/MainForm.h"
#include "platform/HotKeys.h"
#include "platform/PortalShortcuts.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/X11Window.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QScopeGuard>
#include <QScrollBar>
#include <QThread>
#include <mutex>
#include <optional>

namespace pelbrisk {
namespace {

using test::PumpFor;
using test::PumpUntil;
using TState = TPortalShortcuts::TState;
using TShortcutList = QList<QPair<QString, QVariantMap>>;

const QString kPortalPath = "/org/freedesktop/portal/desktop";
const QString kShortcuts = "org.freedesktop.portal.GlobalShortcuts";

// The portal, on a connection and a thread of its own. It checks each call's arguments as the
// real one would (a bad call gets an error and is noted), answers every request through a
// Response signal on the request object, and binds a session only once.
class TFakePortal : public QDBusVirtualObject {
public:
    // `granted`: the ids the user lets it bind, all when none are named.
    TFakePortal(const QString& busAddress, uint bindResponse,
                std::optional<QStringList> granted = std::nullopt)
        : connection_(QDBusConnection::connectToBus(busAddress, "portal")),
          bindResponse_(bindResponse), granted_(std::move(granted)) {
        qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
        qDBusRegisterMetaType<TShortcutList>();
        // Registered before the move: Qt D-Bus gives the object a helper child, which a parent on
        // another thread could not take (it would leak).
        registered_ =
            connection_.registerVirtualObject(kPortalPath, this, QDBusConnection::SubPath) &&
            connection_.registerService("org.freedesktop.portal.Desktop");
        thread_.start();
        moveToThread(&thread_);
    }
    ~TFakePortal() override {
        connection_.unregisterService("org.freedesktop.portal.Desktop");
        connection_.unregisterObject(kPortalPath, QDBusConnection::UnregisterTree);
        thread_.quit();
        thread_.wait();
        QDBusConnection::disconnectFromBus("portal");
    }

    bool Registered() const { return registered_; }
    QStringList Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    QString Session() const {
        std::lock_guard lock(mutex_);
        return session_;
    }
    void EmitActivated(const QString& id, const QString& session) {
        QDBusMessage signal = QDBusMessage::createSignal(kPortalPath, kShortcuts, "Activated");
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong{1234}
               << QVariantMap();
        connection_.send(signal);
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        std::lock_guard lock(mutex_);
        const QVariantList args = message.arguments();
        QString sender = message.service().mid(1);
        sender.replace('.', '_');
        if (message.member() == "Close" && message.path() == session_) {
            calls_.append("Close " + message.path());
            connection.send(message.createReply());
            return true;
        }
        if (message.interface() != kShortcuts) return false;
        if (message.member() == "CreateSession") {
            const QVariantMap options = qdbus_cast<QVariantMap>(args.value(0));
            const QString token = options.value("handle_token").toString();
            const QString sessionToken = options.value("session_handle_token").toString();
            if (message.signature() != "a{sv}" || token.isEmpty() || sessionToken.isEmpty())
                return Refuse(message, connection, "CreateSession " + message.signature());
            calls_.append("CreateSession");
            session_ = kPortalPath + "/session/" + sender + "/" + sessionToken;
            sessionBound_ = false;
            Answer(message, connection, kPortalPath + "/request/" + sender + "/" + token, 0,
                   {{"session_handle", session_}});
            return true;
        }
        if (message.member() == "BindShortcuts") {
            const QString session = args.value(0).value<QDBusObjectPath>().path();
            const QVariantMap options = qdbus_cast<QVariantMap>(args.value(3));
            const QString token = options.value("handle_token").toString();
            if (message.signature() != "oa(sa{sv})sa{sv}" || session != session_ || sessionBound_ ||
                token.isEmpty())
                return Refuse(message, connection, "BindShortcuts " + message.signature());
            sessionBound_ = true;
            TShortcutList shortcuts;
            args.value(1).value<QDBusArgument>() >> shortcuts;
            QStringList bound;
            TShortcutList granted;
            for (const auto& [id, properties] : shortcuts) {
                bound.append(id + "|" + properties.value("description").toString() + "|" +
                             properties.value("preferred_trigger").toString());
                if (granted_ && !granted_->contains(id)) continue;
                granted.append({id,
                                {{"description", properties.value("description")},
                                 {"trigger_description", "a key"}}});
            }
            calls_.append("BindShortcuts " + bound.join(", "));
            QVariantMap results;
            if (bindResponse_ == 0) results.insert("shortcuts", QVariant::fromValue(granted));
            Answer(message, connection, kPortalPath + "/request/" + sender + "/" + token,
                   bindResponse_, results);
            return true;
        }
        return false;
    }

private:
    static void Answer(const QDBusMessage& call, const QDBusConnection& connection,
                       const QString& requestPath, uint response, const QVariantMap& results) {
        connection.send(call.createReply(QVariant::fromValue(QDBusObjectPath(requestPath))));
        QDBusMessage signal =
            QDBusMessage::createSignal(requestPath, "org.freedesktop.portal.Request", "Response");
        signal << response << results;
        connection.send(signal);
    }
    bool Refuse(const QDBusMessage& call, const QDBusConnection& connection, const QString& what) {
        calls_.append("bad " + what);
        connection.send(call.createErrorReply(QDBusError::InvalidArgs, what));
        return true;
    }

    QDBusConnection connection_;
    uint bindResponse_;
    std::optional<QStringList> granted_;
    QThread thread_;
    bool registered_ = false;
    mutable std::mutex mutex_;
    QStringList calls_;
    QString session_;
    bool sessionBound_ = false;
};

std::string Text(const QStringList& lines) {
    return lines.join("; ").toStdString();
}

constexpr std::uint16_t kCtrlShiftK = kShortCutCtrl | kShortCutShift | 'K';
constexpr std::uint16_t kCtrlUp = kShortCutCtrl | 0x26;
constexpr std::uint16_t kCtrlDown = kShortCutCtrl | 0x28;

TEST(PortalTrigger, WritesModifiersAndTheKeysName) {
    const struct {
        std::uint16_t shortCut;
        const char* trigger;
    } cases[] = {
        {kCtrlShiftK, "CTRL+SHIFT+k"},
        {kShortCutAlt | 0x74, "ALT+F5"},
        {kCtrlUp, "CTRL+Up"},
        {kShortCutCtrl | kShortCutAlt | kShortCutShift | '1', "CTRL+ALT+SHIFT+1"},
        {0xAF, "XF86AudioRaiseVolume"},
        {kShortCutCtrl | 0xBB, "CTRL+equal"},
        {kShortCutCtrl | 0x07, ""}, // a code with no key on this desktop
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortalTrigger(c.shortCut).toStdString(), c.trigger) << std::hex << c.shortCut;
}

class PortalHotKeysTest : public test::TFormFixture {
protected:
    void SetUp() override {
        if (!test::ToolAvailable("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(bus_.Running());
        client_ = QDBusConnection::connectToBus(bus_.Address(), "player");
        ASSERT_TRUE(client_.isConnected());
    }
    void TearDown() override { QDBusConnection::disconnectFromBus("player"); }

    std::unique_ptr<TFakePortal> StartPortal(uint bindResponse,
                                             std::optional<QStringList> granted = std::nullopt) {
        auto portal = std::make_unique<TFakePortal>(bus_.Address(), bindResponse, granted);
        EXPECT_TRUE(portal->Registered());
        return portal;
    }
    std::unique_ptr<TPortalShortcuts> Client() {
        return std::make_unique<TPortalShortcuts>(
            client_, [this](const QString& id) { activations_.append(id); });
    }
    bool Settles(const TPortalShortcuts& shortcuts) {
        return PumpUntil([&] { return shortcuts.State() != TState::Binding; }, 5000);
    }

    test::TPrivateSessionBus bus_;
    QDBusConnection client_{QString()};
    QStringList activations_;
};

const std::vector<TPortalShortcut> kThreeKeys = {
    {"show", "Show the window", kCtrlShiftK},
    {"volume-up", "Volume up", kCtrlUp},
    {"volume-down", "Volume down", kCtrlDown},
};

TEST_F(PortalHotKeysTest, BindsInASessionAndActsOnItsActivations) {
    auto portal = StartPortal(0);
    auto shortcuts = Client();
    shortcuts->Bind(kThreeKeys);
    ASSERT_TRUE(Settles(*shortcuts));
    EXPECT_EQ(shortcuts->State(), TState::Bound);
    EXPECT_EQ(portal->Calls(),
              QStringList({"CreateSession", "BindShortcuts show|Show the window|CTRL+SHIFT+k, "
                                            "volume-up|Volume up|CTRL+Up, "
                                            "volume-down|Volume down|CTRL+Down"}));

    portal->EmitActivated("volume-down", portal->Session());
    portal->EmitActivated("volume-down", kPortalPath + "/session/other/x"); // another program's
    portal->EmitActivated("next", portal->Session());                       // not ours
    portal->EmitActivated("show", portal->Session());
    ASSERT_TRUE(PumpUntil([&] { return activations_.size() >= 2; }, 5000)) << Text(activations_);
    PumpFor(100);
    EXPECT_EQ(Text(activations_), "volume-down; show");
}

TEST_F(PortalHotKeysTest, ChangedKeysAreBoundInANewSession) {
    auto portal = StartPortal(0);
    auto shortcuts = Client();
    shortcuts->Bind(kThreeKeys);
    ASSERT_TRUE(Settles(*shortcuts));
    const QString first = portal->Session();

    shortcuts->Bind(kThreeKeys);
    PumpFor(100);
    EXPECT_EQ(portal->Calls().size(), 2) << "the same keys again ask nothing";

    // Changed again while the session for the first change is being made: that session is
    // closed unused and only the latest keys are bound.
    shortcuts->Bind({{"show", "Show the window", kShortCutAlt | 'P'}});
    shortcuts->Bind({{"show", "Show the window", kShortCutAlt | 'S'}});
    ASSERT_TRUE(Settles(*shortcuts));
    ASSERT_EQ(shortcuts->State(), TState::Bound);
    const QStringList calls = portal->Calls();
    ASSERT_EQ(calls.size(), 7) << Text(calls);
    EXPECT_EQ(calls[2], "Close " + first);
    EXPECT_EQ(calls[3], "CreateSession");
    EXPECT_TRUE(calls[4].startsWith("Close ")) << Text(calls);
    EXPECT_EQ(Text(calls.mid(5)), "CreateSession; BindShortcuts show|Show the window|ALT+s");

    portal->EmitActivated("show", first);
    portal->EmitActivated("show", portal->Session());
    ASSERT_TRUE(PumpUntil([&] { return !activations_.isEmpty(); }, 5000));
    PumpFor(100);
    EXPECT_EQ(Text(activations_), "show") << "the closed session's keys are gone";
}

TEST_F(PortalHotKeysTest, ARefusalOrNoPortalLeavesNoHotKeys) {
    for (uint response : {1u, 2u}) {
        auto portal = StartPortal(response);
        auto shortcuts = Client();
        shortcuts->Bind(kThreeKeys);
        ASSERT_TRUE(Settles(*shortcuts));
        EXPECT_EQ(shortcuts->State(), TState::Refused) << response;
        EXPECT_TRUE(PumpUntil([&] { return portal->Calls().last().startsWith("Close "); }, 5000))
            << "the refused session is not left open";
        portal->EmitActivated("show", portal->Session());
        PumpFor(200);
        EXPECT_TRUE(activations_.isEmpty()) << response;
    }
    auto shortcuts = Client();
    shortcuts->Bind(kThreeKeys);
    ASSERT_TRUE(Settles(*shortcuts));
    EXPECT_EQ(shortcuts->State(), TState::Unavailable) << "no portal on the bus";
}

TEST_F(PortalHotKeysTest, TheWindowBindsItsSettingsKeysAndActsAsOnAHotKey) {
    auto portal = StartPortal(0);
    auto form = ScannedForm("hotkey = Alt+F5\nhotkey_volume_up = Ctrl+Up\n"
                            "hotkey_volume_down = Ctrl+Down\n");
    form->Desktop().TrayAvailable = [] { return true; };
    form->Desktop().UsePortalHotKeys(client_);
    ASSERT_TRUE(Settles(*form->Desktop().PortalHotKeys()));
    ASSERT_EQ(form->Desktop().PortalHotKeys()->State(), TState::Bound);
    EXPECT_EQ(portal->Calls().value(1).toStdString(), "BindShortcuts show|Show the window|ALT+F5, "
                                                      "volume-up|Volume up|CTRL+Up, "
                                                      "volume-down|Volume down|CTRL+Down");

    form->VolBar->setValue(50);
    portal->EmitActivated("volume-up", portal->Session());
    ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->Volume() == 60; }, 5000));
    portal->EmitActivated("volume-down", portal->Session());
    portal->EmitActivated("volume-down", portal->Session());
    ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->Volume() == 40; }, 5000));

    form->show();
    form->Desktop().ApplicationEvents1Minimize();
    ASSERT_TRUE(form->Desktop().InTray());
    portal->EmitActivated("show", portal->Session());
    ASSERT_TRUE(PumpUntil([&] { return !form->Desktop().InTray(); }, 5000));
    EXPECT_TRUE(form->isVisible());
}

TEST_F(PortalHotKeysTest, TheWindowRunsOnWithoutHotKeysWhenThePortalRefuses) {
    auto portal = StartPortal(1);
    auto form = ScannedForm("hotkey_volume_up = Ctrl+Up\n");
    form->Desktop().UsePortalHotKeys(client_);
    ASSERT_TRUE(Settles(*form->Desktop().PortalHotKeys()));
    EXPECT_EQ(form->Desktop().PortalHotKeys()->State(), TState::Refused);
    form->VolBar->setValue(50);
    portal->EmitActivated("volume-up", portal->Session());
    PumpFor(200);
    EXPECT_EQ(form->VolBar->value(), 50);
    form->Playback().UpVolumeClick();
    EXPECT_EQ(form->MP3Player->Volume(), 60) << "the window itself still answers";
}

// The X11 grab of a key goes only once the portal has bound that key.
TEST_F(PortalHotKeysTest, KeysThePortalLeftUnboundKeepTheirX11Grabs) {
    if (!test::ToolAvailable("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    const test::TVirtualDisplay display(dir_ / "xvfb.log");
    ASSERT_FALSE(display.Name().empty());
    const QByteArray desktopDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", QByteArray::fromStdString(display.Name()));
    const auto restore = qScopeGuard([&] { qputenv("DISPLAY", desktopDisplay); });
    constexpr unsigned kShiftMask = 1, kControlMask = 4, kAltMask = 8;
    struct TCase {
        QStringList Granted;
        TState State;
        bool ShowGrabbed;
        bool VolumeUpGrabbed;
    };
    for (const TCase& grant :
         {TCase{{"show"}, TState::Bound, false, true}, TCase{{}, TState::Refused, true, true}}) {
        SCOPED_TRACE(grant.Granted.join(",").toStdString());
        auto portal = StartPortal(0, grant.Granted);
        auto form = ScannedForm("hotkey = Ctrl+Shift+K\nhotkey_volume_up = Ctrl+Alt+Up\n");
        form->Desktop().UsePortalHotKeys(client_);
        ASSERT_TRUE(Settles(*form->Desktop().PortalHotKeys()));
        EXPECT_EQ(form->Desktop().PortalHotKeys()->State(), grant.State);
        EXPECT_EQ(test::KeyGrabbedElsewhere(display.Name(), "K", kControlMask | kShiftMask),
                  grant.ShowGrabbed);
        EXPECT_EQ(test::KeyGrabbedElsewhere(display.Name(), "Up", kControlMask | kAltMask),
                  grant.VolumeUpGrabbed);
    }
}

} // namespace
} // namespace pelbrisk
