// The window published as an MPRIS player on a private session bus: a D-Bus client's calls act on
// the real player, and the published status and metadata follow the song.
#include "app/MainForm.h"
#include "app/MprisClient.h"
#include "app/OtherAppCtrl.h"
#include "tests/app/FormTestSupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <fstream>

namespace pelbrisk {
namespace {

using test::PumpUntil;

const QString kService = "org.mpris.MediaPlayer2.pelbrisk";
const QString kPath = "/org/mpris/MediaPlayer2";
const QString kPlayer = "org.mpris.MediaPlayer2.Player";
const QString kProperties = "org.freedesktop.DBus.Properties";

// Collects what the player announces about its changed properties.
class TChangeListener : public QObject {
    Q_OBJECT

public:
    QList<QVariantMap> Changes;
    int Seeks = 0;

public slots:
    void OnSeeked(qlonglong) { ++Seeks; }
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList&) {
        if (interface == kPlayer) Changes.append(changed);
    }
};

// Another desktop player on the test's own thread that takes its time over every call.
class TSlowPlayer : public QDBusVirtualObject {
public:
    QStringList Calls;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        Calls << message.member();
        message.setDelayedReply(true);
        QTimer::singleShot(300, [message, connection] {
            QDBusConnection(connection).send(message.createReply());
        });
        return true;
    }
};

class MprisWindowTest : public test::TFormFixture {
protected:
    void SetUp() override {
        if (!test::ToolAvailable("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
        AddSong("Trio", "1.mp3", "One", 3.0);
        AddSong("Trio", "2.mp3", "Two", 3.0);
        AddSong("Trio", "3.mp3", "Three", 3.0);
        ASSERT_TRUE(bus_.Running());
        form_ = ScannedForm();
        ASSERT_TRUE(
            form_->Desktop().PublishMpris(QDBusConnection::connectToBus(bus_.Address(), "window")));
        client_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus_.Address(), "client"));
        ASSERT_TRUE(client_->isConnected());
    }
    void TearDown() override {
        if (form_) form_->Playback().StopBtnClick();
        form_.reset();
        client_.reset();
        QDBusConnection::disconnectFromBus("client");
        QDBusConnection::disconnectFromBus("window");
    }

    // The window answers on this thread, so the loop runs while the call is on its way.
    QDBusMessage Call(const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = client_->asyncCall(message);
        EXPECT_TRUE(PumpUntil([&] { return pending.isFinished(); }));
        return pending.reply();
    }
    QVariant Property(const QString& name) {
        const QDBusMessage reply = Call(kProperties, "Get", {kPlayer, name});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    QVariantMap Metadata() {
        QVariantMap map;
        Property("Metadata").value<QDBusArgument>() >> map;
        return map;
    }
    QString Title() { return Metadata().value("xesam:title").toString(); }

    test::TPrivateSessionBus bus_;
    std::unique_ptr<TMainForm> form_;
    std::unique_ptr<QDBusConnection> client_;
};

TEST_F(MprisWindowTest, ClientCallsActOnThePlayerAndItsStateIsPublished) {
    TChangeListener listener;
    ASSERT_TRUE(client_->connect(kService, kPath, kProperties, "PropertiesChanged", &listener,
                                 SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList))));
    FillFrom(*form_, "Trio");
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Stopped");
    EXPECT_FALSE(Metadata().contains("xesam:title")) << "nothing loaded yet";
    std::ofstream(Lib() / "Trio" / "Folder.JPG") << "the folder's cover";

    EXPECT_EQ(Call(kPlayer, "Next").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(form_->PlayList().CurrentIndex(), 1) << "Next steps as the Next button does";
    EXPECT_EQ(Call(kPlayer, "Play").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(form_->MP3Player->Status(), mpsPlaying);
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Playing");
    // The tags are read away from the window: a client hears of them once they are in.
    EXPECT_TRUE(PumpUntil([&] { return Title() == "Two"; })) << Title().toStdString();
    QVariantMap song = Metadata();
    EXPECT_EQ(song.value("xesam:artist").toStringList(), QStringList({"Artist"}));
    EXPECT_EQ(song.value("xesam:album").toString(), "Album");
    EXPECT_NEAR(song.value("mpris:length").toLongLong(), 3'050'000, 150'000);
    EXPECT_EQ(song.value("xesam:url").toString(),
              QUrl::fromLocalFile(test::ToQ(Lib() / "Trio" / "2.mp3")).toString());
    EXPECT_EQ(song.value("mpris:artUrl").toString(),
              QUrl::fromLocalFile(test::ToQ(Lib() / "Trio" / "Folder.JPG")).toString());

    Call(kPlayer, "PlayPause");
    EXPECT_EQ(form_->MP3Player->Status(), mpsPaused);
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Paused");
    Call(kPlayer, "PlayPause");
    EXPECT_EQ(form_->MP3Player->Status(), mpsPlaying);

    Call(kProperties, "Set", {kPlayer, "Volume", QVariant::fromValue(QDBusVariant(0.3))});
    EXPECT_EQ(form_->VolBar->value(), 30);
    EXPECT_EQ(form_->MP3Player->Volume(), 30);
    EXPECT_DOUBLE_EQ(Property("Volume").toDouble(), 0.3);

    Call(kPlayer, "Next");
    EXPECT_TRUE(PumpUntil([&] { return Title() == "Three"; })) << Title().toStdString();
    Call(kPlayer, "Stop");
    EXPECT_EQ(form_->MP3Player->Status(), mpsStopped);

    // Listeners hear of each change as it happens, the window's own changes too.
    ASSERT_TRUE(PumpUntil([&] {
        return !listener.Changes.isEmpty() &&
               listener.Changes.last().value("PlaybackStatus").toString() == "Stopped";
    }));
    QStringList statuses;
    for (const QVariantMap& change : listener.Changes)
        if (change.contains("PlaybackStatus"))
            statuses << change.value("PlaybackStatus").toString();
    EXPECT_TRUE(statuses.contains("Playing"));
    EXPECT_TRUE(statuses.contains("Paused"));
}

TEST_F(MprisWindowTest, SongsThatFollowOnTheirOwnChangeTheMetadata) {
    TChangeListener listener;
    ASSERT_TRUE(client_->connect(kService, kPath, kProperties, "PropertiesChanged", &listener,
                                 SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList))));
    form_->RepeatAllBtn->setChecked(true);
    FillFrom(*form_, "Trio");
    form_->PlayFileList->setCurrentRow(2);
    form_->Playback().PlaySelected();
    ASSERT_TRUE(PumpUntil([&] {
        for (const QVariantMap& change : listener.Changes) {
            if (!change.contains("Metadata")) continue;
            QVariantMap metadata;
            change.value("Metadata").value<QDBusArgument>() >> metadata;
            if (metadata.value("xesam:title").toString() == "One") return true;
        }
        return false;
    })) << "the last song's end starts the first again, and the bus hears of it";
    EXPECT_EQ(Title(), "One");
}

TEST_F(MprisWindowTest, OpenUriShowsTheFilesFolderAndPlaysIt) {
    // Outside the library's root too: the list shows that folder, the tree keeps no selection.
    test::TempDir elsewhere;
    std::filesystem::create_directories(elsewhere / "Loose");
    std::filesystem::copy_file(test::TaggedSong("Stray"), elsewhere / "Loose" / "b stray.mp3");
    std::filesystem::copy_file(test::TaggedSong("Other"), elsewhere / "Loose" / "a other.mp3");
    std::ofstream(elsewhere / "Loose" / "notes.mp3") << "no audio";
    const auto uri = [](const std::filesystem::path& file) {
        return QUrl::fromLocalFile(test::ToQ(file)).toString();
    };

    struct TCase {
        QString Uri;
        QString Folder; // tree caption, empty when outside the root
        int Row;
        QString Title;
    };
    for (const TCase& open : {TCase{uri(Lib() / "Trio" / "3.mp3"), "Trio", 2, "Three"},
                              TCase{uri(elsewhere / "Loose" / "b stray.mp3"), "", 1, "Stray"}}) {
        SCOPED_TRACE(open.Uri.toStdString());
        EXPECT_EQ(Call(kPlayer, "OpenUri", {open.Uri}).type(), QDBusMessage::ReplyMessage);
        test::WaitForLibrary(*form_);
        const QTreeWidgetItem* selected = form_->DirTree->currentItem();
        if (open.Folder.isEmpty())
            EXPECT_TRUE(form_->DirTree->selectedItems().isEmpty());
        else
            EXPECT_EQ(selected ? selected->text(0) : QString(), open.Folder);
        EXPECT_EQ(form_->PlayFileList->count(), 3);
        EXPECT_EQ(form_->PlayList().CurrentIndex(), open.Row);
        EXPECT_TRUE(form_->PlayFileList->item(open.Row)->isSelected());
        EXPECT_EQ(form_->MP3Player->Status(), mpsPlaying);
        EXPECT_TRUE(PumpUntil([&] { return Title() == open.Title; })) << Title().toStdString();
    }

    // What cannot be played is refused with an error, and what plays goes on.
    for (const QString& refused :
         {uri(elsewhere / "Loose" / "notes.mp3"), uri(elsewhere / "Loose" / "missing.mp3"),
          QString("http://example.org/song.mp3"), QString("not a uri at all")}) {
        SCOPED_TRACE(refused.toStdString());
        const QDBusMessage reply = Call(kPlayer, "OpenUri", {refused});
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_FALSE(reply.errorMessage().isEmpty());
        EXPECT_EQ(Title(), "Stray");
    }
}

// Asked for during a reload, or from outside the library: once the file plays, the tree shows its
// folder (or none), and Enter in the empty box opens that folder, not another.
TEST_F(MprisWindowTest, AFileOpenedFromOutsideKeepsTreeListAndSongTogether) {
    std::filesystem::create_directories(Lib() / "Duo");
    std::filesystem::copy_file(Lib() / "Trio" / "1.mp3", Lib() / "Duo" / "1.mp3");
    const test::TempDir elsewhere;
    std::filesystem::copy_file(Lib() / "Trio" / "2.mp3", elsewhere / "2.mp3");
    form_->Library().ReloadTree();
    test::WaitForLibrary(*form_);
    for (const auto& [file, folder] : {std::pair{Lib() / "Trio" / "3.mp3", QString("Trio")},
                                       std::pair{elsewhere / "2.mp3", QString()}}) {
        SCOPED_TRACE(file.string());
        form_->DirTree->setCurrentItem(Folder(*form_, "Duo"));
        form_->Library().ReloadTree();
        EXPECT_EQ(form_->Desktop().OpenFile(TFilePath(file.string())), "");
        test::WaitForLibrary(*form_);
        const QTreeWidgetItem* selected = form_->DirTree->currentItem();
        EXPECT_EQ(selected ? selected->text(0) : QString(), folder);
        EXPECT_EQ(form_->MP3Player->FileName(), file.string());
        QTest::keyClick(form_->CommandEdit, Qt::Key_Return);
        test::WaitForLibrary(*form_);
        EXPECT_EQ(std::filesystem::path(form_->MP3Player->FileName()).parent_path(),
                  file.parent_path());
    }
}

// What the player can do is told as it stands: an empty list cannot play, the last entry without
// repeat has no next one, and only an open song pauses and seeks.
TEST_F(MprisWindowTest, WhatThePlayerCanDoIsToldAsItStands) {
    const auto can = [&] {
        std::string told;
        for (const char* name : {"CanPlay", "CanPause", "CanGoNext", "CanGoPrevious", "CanSeek"})
            told += Property(name).toBool() ? '1' : '0';
        return told;
    };
    EXPECT_EQ(can(), "00000") << "nothing listed";
    FillFrom(*form_, "Trio");
    EXPECT_EQ(can(), "10100") << "the first entry chosen, nothing open";
    form_->PlayFileList->setCurrentRow(2);
    form_->Playback().PlaySelected();
    EXPECT_EQ(can(), "11011") << "the last entry plays";
    form_->RepeatAllBtn->setChecked(true);
    EXPECT_EQ(can(), "11111") << "with repeat the list goes on";
}

// Next and Previous keep a paused or stopped player paused or stopped.
TEST_F(MprisWindowTest, NextAndPreviousKeepThePlayersState) {
    FillFrom(*form_, "Trio");
    form_->Playback().PlaySelected();
    form_->Playback().PauseBtnClick();
    struct TStep {
        const char* Method;
        int Index;
        const char* Status;
        const char* Title;
    };
    for (const TStep& step :
         {TStep{"Next", 1, "Paused", "Two"}, TStep{"Stop", 1, "Stopped", "Two"},
          TStep{"Next", 2, "Stopped", "Three"}, TStep{"Previous", 1, "Stopped", "Two"},
          TStep{"Play", 1, "Playing", "Two"}, TStep{"Next", 2, "Playing", "Three"}}) {
        SCOPED_TRACE(step.Method);
        Call(kPlayer, step.Method);
        EXPECT_EQ(form_->PlayList().CurrentIndex(), step.Index);
        EXPECT_EQ(Property("PlaybackStatus").toString(), step.Status);
        EXPECT_TRUE(PumpUntil([&] { return Title() == step.Title; })) << Title().toStdString();
        // Paused, the caption names the song waiting.
        if (std::string(step.Status) != "Stopped") {
            EXPECT_TRUE(PumpUntil([&] { return form_->windowTitle().startsWith(step.Title); }))
                << form_->windowTitle().toStdString();
        }
    }
}

// The rate is the pitch bar: its bounds, its setting, and its changes heard by listeners.
TEST_F(MprisWindowTest, TheRateIsThePitch) {
    TChangeListener listener;
    ASSERT_TRUE(client_->connect(kService, kPath, kProperties, "PropertiesChanged", &listener,
                                 SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList))));
    EXPECT_DOUBLE_EQ(Property("MinimumRate").toDouble(), 0.2);
    EXPECT_DOUBLE_EQ(Property("MaximumRate").toDouble(), 2.0);
    for (const double rate : {1.5, 5.0}) // the second is out of range and changes nothing
        Call(kProperties, "Set", {kPlayer, "Rate", QVariant::fromValue(QDBusVariant(rate))});
    EXPECT_EQ(form_->PitchBar->value(), 150);
    EXPECT_EQ(PitchPercent.load(), 150);
    EXPECT_DOUBLE_EQ(Property("Rate").toDouble(), 1.5);
    form_->Playback().PitClick();
    EXPECT_TRUE(PumpUntil([&] {
        return !listener.Changes.isEmpty() && listener.Changes.last().value("Rate") == 1.0;
    }));
}

// A "file://localhost/" address is a local file; an untagged song has no artist and no album; and
// Seeked is heard only when the position moved.
TEST_F(MprisWindowTest, LocalhostAddressesUntaggedSongsAndSeeksAreToldAsClientsExpect) {
    const test::TempDir bare;
    const std::filesystem::path song = bare / "bare.mp3";
    std::filesystem::copy_file(test::EncodeWithLame(test::MakeSignalWav(3.0, 44100, 2), "-b 96"),
                               song);
    const QString address =
        "file://localhost" + QUrl::fromLocalFile(test::ToQ(song)).path(QUrl::FullyEncoded);
    QSignalSpy read(&form_->Desktop().SongTags(), &TNowPlayingTags::Read);
    ASSERT_EQ(Call(kPlayer, "OpenUri", {address}).type(), QDBusMessage::ReplyMessage);
    test::WaitForLibrary(*form_);
    ASSERT_TRUE(PumpUntil([&] { return !read.isEmpty(); })) << "the tags are read";
    const QVariantMap metadata = Metadata();
    EXPECT_EQ(metadata.value("xesam:title").toString(), "bare");
    EXPECT_FALSE(metadata.contains("xesam:artist"));
    EXPECT_FALSE(metadata.contains("xesam:album"));
    for (const char* key : {"mpris:artUrl", "xesam:trackNumber", "xesam:genre"})
        EXPECT_FALSE(metadata.contains(key)) << key;

    TChangeListener listener;
    ASSERT_TRUE(
        client_->connect(kService, kPath, kPlayer, "Seeked", &listener, SLOT(OnSeeked(qlonglong))));
    const QVariant track = Metadata().value("mpris:trackid");
    form_->Playback().StopBtnClick();
    Call(kPlayer, "Seek", {qlonglong(1'000'000)});
    Call(kPlayer, "SetPosition", {track, qlonglong(1'000'000)});
    form_->Playback().PlayBtnClick();
    Call(kPlayer, "SetPosition", {track, qlonglong(2'000'000)});
    ASSERT_TRUE(PumpUntil([&] { return listener.Seeks > 0; }));
    test::PumpFor(200);
    EXPECT_EQ(listener.Seeks, 1) << "only the seek of the playing song moved";
}

TEST_F(MprisWindowTest, LoopStatusAndShuffleAreTheOrderToggles) {
    TChangeListener listener;
    ASSERT_TRUE(client_->connect(kService, kPath, kProperties, "PropertiesChanged", &listener,
                                 SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList))));
    EXPECT_EQ(Property("LoopStatus").toString(), "None");
    EXPECT_EQ(Property("Shuffle").toBool(), false);

    // Set over the bus, the buttons go down; clicked in the window, the bus hears of it.
    Call(kProperties, "Set",
         {kPlayer, "LoopStatus", QVariant::fromValue(QDBusVariant("Playlist"))});
    Call(kProperties, "Set", {kPlayer, "Shuffle", QVariant::fromValue(QDBusVariant(true))});
    EXPECT_TRUE(form_->RepeatAllBtn->isChecked());
    EXPECT_TRUE(form_->RandomBtn->isChecked());
    EXPECT_EQ(Property("LoopStatus").toString(), "Playlist");
    EXPECT_EQ(Property("Shuffle").toBool(), true);
    form_->RepeatAllBtn->click();
    form_->RandomBtn->click();
    EXPECT_EQ(Property("LoopStatus").toString(), "None");

    QStringList heard;
    ASSERT_TRUE(PumpUntil([&] {
        heard.clear();
        for (const QVariantMap& change : listener.Changes)
            for (const QString& key : {"LoopStatus", "Shuffle"})
                if (change.contains(key)) heard << key + "=" + change.value(key).toString();
        return heard.size() >= 4;
    }));
    EXPECT_EQ(heard, (QStringList{"LoopStatus=Playlist", "Shuffle=true", "LoopStatus=None",
                                  "Shuffle=false"}));
}

TEST_F(MprisWindowTest, QuitClosesTheWindowAsItsCloseBoxDoes) {
    const QString root = "org.mpris.MediaPlayer2";
    const QDBusMessage canQuit = Call(kProperties, "Get", {root, "CanQuit"});
    ASSERT_EQ(canQuit.type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(canQuit.arguments().first().value<QDBusVariant>().variant().toBool());
    form_->show();
    ASSERT_TRUE(PumpUntil([&] { return form_->isVisible(); }));
    EXPECT_EQ(Call(root, "Quit").type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(PumpUntil([&] { return !form_->isVisible(); }));
}

// A settings file that cannot be written is told in a box at the close; while the box waits, MPRIS
// may still ask for a song, and nothing that such a call needs has gone yet.
TEST_F(MprisWindowTest, AnMprisCallWhileTheCloseTellsOfUnwritableSettingsFindsTheWindowWhole) {
    std::filesystem::remove(SettingsPath().toStdString());
    std::filesystem::create_directory(SettingsPath().toStdString());
    QDBusMessage reply;
    const test::TBoxAnswer answer(QMessageBox::Ok, [&](QMessageBox&) {
        reply = Call(kPlayer, "OpenUri",
                     {QUrl::fromLocalFile(test::ToQ(Lib() / "Trio" / "2.mp3")).toString()});
    });
    form_->close();
    form_.reset();
    EXPECT_TRUE(answer.Text().contains("pelbrisk.ini")) << answer.Text().toStdString();
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

TEST_F(MprisWindowTest, SendModeCallsOtherPlayersWithoutHoldingTheWindow) {
    QDBusConnection playerBus = QDBusConnection::connectToBus(bus_.Address(), "slow");
    const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus("slow"); });
    TSlowPlayer player;
    ASSERT_TRUE(playerBus.registerVirtualObject(kPath, &player));
    ASSERT_TRUE(playerBus.registerService("org.mpris.MediaPlayer2.slow"));
    const auto transport = MakeNativeRemotePlayerTransport();
    TMprisClient sender(QDBusConnection::connectToBus(bus_.Address(), "sender"), 5000);
    form_->Playback().OtherPlayers().Use(std::make_shared<TOtherAppCtrl>(*transport, &sender));
    form_->SendListBtn->click();
    test::WaitForLibrary(*form_);

    QList<bool> answers;
    QObject::connect(&form_->Playback().OtherPlayers(), &TOtherPlayers::Answered,
                     [&](bool accepted) { answers << accepted; });
    QVariant status;
    const test::TLoopTurns turns = test::MeasureLoopTurns(
        [&] {
            form_->PlayBtn->click();
            form_->StopBtn->click();
            status = Property("PlaybackStatus");
        },
        [&] { return answers.size() == 2; });
    EXPECT_LT(turns.LongestGapMs, 200) << "the window answers while the player takes its time";
    EXPECT_EQ(status.toString(), "Stopped");
    EXPECT_EQ(answers, QList<bool>({true, true}));
    // What it plays is read besides (GetAll), on the same worker.
    EXPECT_EQ(player.Calls.filter(QRegularExpression("^(?!GetAll$)")),
              QStringList({"Play", "Stop"}));
    // Its other players go with this test.
    form_.reset();
    QDBusConnection::disconnectFromBus("sender");
}

} // namespace
} // namespace pelbrisk

#include "MprisWindowTest.moc"
