#include "app/MprisClient.h"
#include "app/MprisService.h"
#include "app/OtherAppCtrl.h"
#include "tests/remote/DesktopServers.h"
#include "tests/remote/MprisTestSupport.h"
#include "tests/support/Media.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <memory>
#include <utility>

namespace pelbrisk {
namespace {

const QString kPlayer = "org.mpris.MediaPlayer2.Player";
const QString kPelbrisk = "org.mpris.MediaPlayer2.pelbrisk";

// The main window as the MPRIS service sees it: button presses are counted and change the
// state the way the real buttons would.
class TFakeWindow final : public IPlaybackControl {
public:
    QStringList clicks;
    TPlaybackState state = TPlaybackState::Stopped;
    std::int64_t positionMs = 0;
    int volume = 70;
    TNowPlaying song;

    void PlayClick() override {
        clicks.append("Play");
        if (state == TPlaybackState::Stopped) state = TPlaybackState::Playing;
    }
    void PauseClick() override {
        clicks.append("Pause");
        if (state == TPlaybackState::Playing)
            state = TPlaybackState::Paused;
        else if (state == TPlaybackState::Paused)
            state = TPlaybackState::Playing;
    }
    void StopClick() override {
        clicks.append("Stop");
        state = TPlaybackState::Stopped;
    }
    void Next() override { clicks.append("Next"); }
    void Previous() override { clicks.append("Prev"); }
    bool SeekTo(std::int64_t ms) override {
        clicks.append(QString("Seek %1").arg(ms));
        return std::exchange(positionMs, ms) != ms;
    }
    int Pitch() const override { return 100; }
    void SetPitch(int) override {}
    TCapabilities Capabilities() const override {
        return {true, true, true, true, !song.FilePath.empty()};
    }
    void SetVolumePercent(int percent) override {
        clicks.append(QString("Volume %1").arg(percent));
        volume = percent;
    }
    void ShowWindow() override { clicks.append("Show"); }
    QString OpenFile(const TFilePath& file) override {
        clicks.append("Open " + file.Display());
        return file.Bytes().endsWith(".mp3") ? QString() : "unknown MPEG Audio format.";
    }
    bool RepeatAll() const override { return repeatAll; }
    void SetRepeatAll(bool on) override { repeatAll = on; }
    bool Shuffle() const override { return shuffle; }
    void SetShuffle(bool on) override { shuffle = on; }
    void Quit() override { clicks.append("Quit"); }
    bool repeatAll = false;
    bool shuffle = false;
    TPlaybackState PlaybackState() const override { return state; }
    std::int64_t PositionMs() const override { return positionMs; }
    int VolumePercent() const override { return volume; }
    TNowPlaying NowPlaying() const override { return song; }
};

// Collects the player interface's PropertiesChanged signals.
class TChangeListener : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;

    QList<qlonglong> seeks;

public slots:
    void OnSeeked(qlonglong positionUs) { seeks.append(positionUs); }
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList&) {
        if (interface == "org.mpris.MediaPlayer2.Player") changes.append(changed);
    }
};

class MprisTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::ToolAvailable("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
        test::EnsureQtApplication();
        bus = std::make_unique<test::TPrivateBus>();
        client = QDBusConnection::connectToBus(QString::fromStdString(bus->Address()), "client");
        ASSERT_TRUE(client.isConnected());
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus("client");
        QDBusConnection::disconnectFromBus("pelbrisk");
    }
    QDBusConnection Connect(const QString& name) {
        return QDBusConnection::connectToBus(QString::fromStdString(bus->Address()), name);
    }
    QString Address() const { return QString::fromStdString(bus->Address()); }

    std::unique_ptr<test::TPrivateBus> bus;
    QDBusConnection client{"client"};
};

TEST_F(MprisTest, SendModeSteersAnMprisPlayerOnTheBus) {
    test::TFakeMprisPlayer player(Address(), "org.mpris.MediaPlayer2.fakeplayer");
    ASSERT_TRUE(player.Registered());
    auto transport = MakeNativeRemotePlayerTransport();
    TMprisClient mpris(client);
    TOtherAppCtrl ctrl(*transport, &mpris);
    EXPECT_EQ(mpris.Players(), QStringList{"org.mpris.MediaPlayer2.fakeplayer"});

    EXPECT_TRUE(ctrl.OtherAppPlay());
    EXPECT_TRUE(ctrl.OtherAppNext());
    EXPECT_TRUE(ctrl.OtherAppPrev());
    EXPECT_TRUE(ctrl.OtherAppSetVolume(30));
    EXPECT_DOUBLE_EQ(player.Volume(), 0.30);
    // Pause pauses a playing player and resumes a paused one.
    EXPECT_TRUE(ctrl.OtherAppPause());
    EXPECT_EQ(player.Status(), "Paused");
    EXPECT_TRUE(ctrl.OtherAppPause());
    EXPECT_EQ(player.Status(), "Playing");
    EXPECT_TRUE(ctrl.OtherAppStop());
    EXPECT_EQ(player.Calls(),
              (QStringList{"Play", "Next", "Previous", "Set Volume", "Pause", "Play", "Stop"}));
}

TEST_F(MprisTest, AddedFilesPlayTheFirstAndQueueTheRestInOrder) {
    test::TFakeMprisPlayer player(Address(), "org.mpris.MediaPlayer2.fakeplayer");
    ASSERT_TRUE(player.Registered());
    auto transport = MakeNativeRemotePlayerTransport();
    TMprisClient mpris(client);
    TOtherAppCtrl ctrl(*transport, &mpris);

    QStringList firstOnly;
    EXPECT_TRUE(
        ctrl.OtherAppAddFiles("/music/a b.mp3\r\n/music/c#.mp3\r\n/music/d.mp3\r\n", &firstOnly));
    EXPECT_EQ(player.TrackUris(), (QStringList{"file:///music/a%20b.mp3", "file:///music/c%23.mp3",
                                               "file:///music/d.mp3"}));
    EXPECT_EQ(player.Calls().last(), "Play") << "a paused player plays what it was given";
    EXPECT_TRUE(firstOnly.isEmpty()) << "its track list took them all";
    EXPECT_FALSE(mpris.OpenFiles({}));
}

// Commands go once to each real player: never to pelbrisk (ourselves or another one, which would
// bounce them back), nor to a proxy that hands them on to a player that gets them anyway.
TEST_F(MprisTest, PelbrisksOwnPlayersAndProxiesAreNeverSteered) {
    TFakeWindow window;
    // Our own service on the client's connection, and another pelbrisk on the same bus.
    TMprisService own(window, client);
    ASSERT_TRUE(own.Start());
    test::TFakeMprisPlayer otherPelbrisk(Address(), kPelbrisk + ".instance4242");
    ASSERT_TRUE(otherPelbrisk.Registered());
    test::TFakeMprisPlayer playerctld(Address(), "org.mpris.MediaPlayer2.playerctld");
    ASSERT_TRUE(playerctld.Registered());
    test::TFakeMprisPlayer proxy(Address(), "org.mpris.MediaPlayer2.bridge.a");
    ASSERT_TRUE(proxy.Registered() && proxy.AlsoOwn("org.mpris.MediaPlayer2.bridge.b"));

    auto transport = MakeNativeRemotePlayerTransport();
    TMprisClient mpris(client);
    TOtherAppCtrl ctrl(*transport, &mpris);
    EXPECT_TRUE(mpris.Players().isEmpty());
    EXPECT_FALSE(ctrl.OtherAppPlay());

    test::TFakeMprisPlayer player(Address(), "org.mpris.MediaPlayer2.player");
    ASSERT_TRUE(player.Registered());
    EXPECT_EQ(mpris.Players(), QStringList{"org.mpris.MediaPlayer2.player"});
    EXPECT_TRUE(ctrl.OtherAppNext());
    EXPECT_TRUE(ctrl.OtherAppSetVolume(10));
    EXPECT_TRUE(ctrl.OtherAppAddFiles("/music/a.mp3"));
    EXPECT_EQ(player.Calls(),
              (QStringList{"Next", "Set Volume", "OpenUri file:///music/a.mp3", "Play"}));
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.clicks.isEmpty());
    for (const test::TFakeMprisPlayer* left : {&otherPelbrisk, &playerctld, &proxy})
        EXPECT_TRUE(left->Calls().isEmpty());
}

TEST_F(MprisTest, ServiceButtonsActThroughTheWindow) {
    TFakeWindow window;
    TMprisService service(window, Connect("pelbrisk"));
    ASSERT_TRUE(service.Start());
    EXPECT_EQ(service.ServiceName(), kPelbrisk);

    auto call = [&](const QString& method, const QVariantList& args = {}) {
        return test::CallAndWait(client, kPelbrisk, kPlayer, method, args).type();
    };
    EXPECT_EQ(call("PlayPause"), QDBusMessage::ReplyMessage);
    EXPECT_EQ(window.state, TPlaybackState::Playing);
    EXPECT_EQ(call("PlayPause"), QDBusMessage::ReplyMessage);
    EXPECT_EQ(window.state, TPlaybackState::Paused);
    call("Play"); // resumes through the pause button
    call("Play"); // already playing: nothing
    call("Pause");
    call("Pause"); // already paused: nothing
    call("Next");
    call("Previous");
    call("Stop");
    call("Play"); // stopped: the play button
    test::CallAndWait(client, kPelbrisk, "org.mpris.MediaPlayer2", "Raise");
    EXPECT_EQ(window.clicks, (QStringList{"Play", "Pause", "Pause", "Pause", "Next", "Prev", "Stop",
                                          "Play", "Show"}));

    window.clicks.clear();
    const QDBusMessage set =
        test::CallAndWait(client, kPelbrisk, "org.freedesktop.DBus.Properties", "Set",
                          {kPlayer, QString("Volume"), QVariant::fromValue(QDBusVariant(0.3))});
    EXPECT_EQ(set.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(window.clicks, QStringList{"Volume 30"});
    EXPECT_DOUBLE_EQ(test::GetProperty(client, kPelbrisk, kPlayer, "Volume").toDouble(), 0.3);
    test::CallAndWait(client, kPelbrisk, "org.freedesktop.DBus.Properties", "Set",
                      {kPlayer, QString("Volume"), QVariant::fromValue(QDBusVariant(7.5))});
    EXPECT_EQ(window.volume, 100);
}

TEST_F(MprisTest, StatusAndMetadataFollowTheSong) {
    TFakeWindow window;
    TMprisService service(window, Connect("pelbrisk"));
    ASSERT_TRUE(service.Start());
    TChangeListener listener;
    ASSERT_TRUE(client.connect(kPelbrisk, "/org/mpris/MediaPlayer2",
                               "org.freedesktop.DBus.Properties", "PropertiesChanged", &listener,
                               SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList))));

    EXPECT_EQ(test::GetProperty(client, kPelbrisk, kPlayer, "PlaybackStatus").toString(),
              "Stopped");
    window.song = {"/music/Band/03 Song.mp3",
                   "Song",
                   "Band",
                   "Album",
                   183000,
                   3,
                   2,
                   "Various",
                   "Rock",
                   "1999",
                   TFilePath(QByteArray("/music/Band/Cover Art.jpg"))};
    window.state = TPlaybackState::Playing;
    service.Refresh();

    EXPECT_EQ(test::GetProperty(client, kPelbrisk, kPlayer, "PlaybackStatus").toString(),
              "Playing");
    const QVariant metadataValue = test::GetProperty(client, kPelbrisk, kPlayer, "Metadata");
    const QVariantMap metadata = qdbus_cast<QVariantMap>(metadataValue);
    EXPECT_EQ(metadata.value("xesam:title").toString(), "Song");
    EXPECT_EQ(metadata.value("xesam:artist").toStringList(), QStringList{"Band"});
    EXPECT_EQ(metadata.value("xesam:album").toString(), "Album");
    EXPECT_EQ(metadata.value("mpris:length").toLongLong(), 183000000);
    EXPECT_EQ(metadata.value("xesam:url").toString(), "file:///music/Band/03%20Song.mp3");
    EXPECT_EQ(metadata.value("mpris:artUrl").toString(), "file:///music/Band/Cover%20Art.jpg");
    EXPECT_EQ(metadata.value("xesam:trackNumber").toInt(), 3);
    EXPECT_EQ(metadata.value("xesam:discNumber").toInt(), 2);
    EXPECT_EQ(metadata.value("xesam:albumArtist").toStringList(), QStringList{"Various"});
    EXPECT_EQ(metadata.value("xesam:genre").toStringList(), QStringList{"Rock"});
    EXPECT_EQ(metadata.value("xesam:contentCreated").toString(), "1999");
    const QString trackId = qdbus_cast<QDBusObjectPath>(metadata.value("mpris:trackid")).path();
    EXPECT_EQ(trackId, service.CurrentTrackId());

    QElapsedTimer waited;
    waited.start();
    while (listener.changes.isEmpty() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(listener.changes.size(), 1);
    EXPECT_EQ(listener.changes[0].value("PlaybackStatus").toString(), "Playing");
    EXPECT_TRUE(listener.changes[0].contains("Metadata"));
    EXPECT_FALSE(listener.changes[0].contains("Volume"));

    // The next song gets another track id.
    window.song = TNowPlaying{};
    window.song.FilePath = "/music/Band/04 Next.mp3";
    service.Refresh();
    EXPECT_NE(service.CurrentTrackId(), trackId);
}

TEST_F(MprisTest, SeekingMovesWithinTheSongAndPastTheEndGoesNext) {
    TFakeWindow window;
    TMprisService service(window, Connect("pelbrisk"));
    ASSERT_TRUE(service.Start());
    TChangeListener listener;
    ASSERT_TRUE(client.connect(kPelbrisk, "/org/mpris/MediaPlayer2", kPlayer, "Seeked", &listener,
                               SLOT(OnSeeked(qlonglong))));
    auto call = [&](const QString& method, const QVariantList& args) {
        test::CallAndWait(client, kPelbrisk, kPlayer, method, args);
    };
    // Nothing loaded: nothing to seek in.
    call("Seek", {qlonglong(1000000)});
    EXPECT_TRUE(window.clicks.isEmpty());

    window.song.FilePath = "/music/a.mp3";
    window.song.Title = "A";
    window.song.LengthMs = 60000;
    window.state = TPlaybackState::Playing;
    window.positionMs = 10000;
    call("Seek", {qlonglong(2500000)});
    call("Seek", {qlonglong(-20000000)});
    call("Seek", {qlonglong(90000000)});
    const QVariant trackId = QVariant::fromValue(QDBusObjectPath(service.CurrentTrackId()));
    call("SetPosition", {trackId, qlonglong(30000000)});
    call("SetPosition", {QVariant::fromValue(QDBusObjectPath("/other")), qlonglong(1000000)});
    call("SetPosition", {trackId, qlonglong(61000000)});
    EXPECT_EQ(window.clicks, (QStringList{"Seek 12500", "Seek 0", "Next", "Seek 30000"}));
    EXPECT_EQ(test::GetProperty(client, kPelbrisk, kPlayer, "Position").toLongLong(), 30000000);
    // Listeners hear of every jump, in microseconds.
    QElapsedTimer waited;
    waited.start();
    while (listener.seeks.size() < 3 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(listener.seeks, (QList<qlonglong>{12500000, 0, 30000000}));
}

TEST(MprisWithoutBus, ServiceStaysSilent) {
    test::EnsureQtApplication();
    TFakeWindow window;
    TMprisService service(window, QDBusConnection("no-such-connection"));
    EXPECT_FALSE(service.Start());
    service.Refresh();
    service.NotifySeeked();
    TMprisClient mpris(QDBusConnection("no-such-connection"));
    EXPECT_TRUE(mpris.Players().isEmpty());
    EXPECT_FALSE(mpris.Play());
    EXPECT_TRUE(window.clicks.isEmpty());
}

} // namespace
} // namespace pelbrisk

#include "MprisTest.moc"
