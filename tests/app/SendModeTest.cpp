// Send mode against a real desktop player: mpv with its MPRIS plug-in on a private session bus,
// with playerctld beside it as many desktops run it. What mpv did is read back from mpv itself,
// through its own IPC socket, not from what the calls answered.
#include "app/MainForm.h"
#include "app/MprisClient.h"
#include "app/OtherAppCtrl.h"
#include "tests/app/FormTestSupport.h"

#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QScrollBar>
#include <QToolButton>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelbrisk {
namespace {

using test::PumpFor;
using test::PumpUntil;

const char* const kMprisPlugin = "/usr/lib/mpv-mpris/mpris.so";

// One request on mpv's IPC socket; the answer's "data" (null for a command that returns none), or
// an undefined value when mpv refused it (a property it does not have right now, such as the path
// of an idle player).
QJsonValue MpvRequest(const std::filesystem::path& socketPath, const QJsonArray& command) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    QByteArray received;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const QByteArray request =
            QJsonDocument(QJsonObject{{"command", command}}).toJson(QJsonDocument::Compact) + '\n';
        if (write(fd, request.data(), request.size()) == request.size()) {
            // Events may come first: the answer is the line that carries "error", within 3 s.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            pollfd readable{fd, POLLIN, 0};
            char buffer[4096];
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0)
                    break;
                const ssize_t got = read(fd, buffer, sizeof buffer);
                if (got <= 0) break;
                received.append(buffer, got);
                for (const QByteArray& line : received.split('\n')) {
                    const QJsonObject answer = QJsonDocument::fromJson(line).object();
                    if (!answer.contains("error")) continue;
                    close(fd);
                    if (answer["error"] != "success") return QJsonValue::Undefined;
                    return answer.contains("data") ? answer["data"] : QJsonValue::Null;
                }
            }
        }
    }
    close(fd);
    return QJsonValue::Undefined;
}

class SendModeTest : public test::TFormFixture {
protected:
    void SetUp() override {
        for (const char* tool : {"mpv", "playerctld", "dbus-daemon"})
            if (!test::ToolAvailable(tool)) GTEST_SKIP() << tool << " is not installed";
        if (!std::filesystem::exists(kMprisPlugin)) GTEST_SKIP() << "mpv-mpris is not installed";
        for (const char* name : {"1", "2", "3"})
            AddSong("Trio", std::string(name) + ".mp3", std::string("Song") + name, 20.0);
        ASSERT_TRUE(bus_.Running());
        ASSERT_NO_FATAL_FAILURE(Start(playerctld_, "playerctld", {}));
        ASSERT_NO_FATAL_FAILURE(Start(mpv_, "mpv",
                                      {"--no-config", "--idle=yes", "--ao=null", "--vo=null",
                                       "--no-terminal", QString("--script=") + kMprisPlugin,
                                       "--input-ipc-server=" + test::ToQ(Socket())}));
        sender_ = std::make_unique<TMprisClient>(
            QDBusConnection::connectToBus(bus_.Address(), "sender"), 3000);
        QDBusConnection bus("sender");
        ASSERT_TRUE(PumpUntil([&] {
            return bus.interface()->isServiceRegistered("org.mpris.MediaPlayer2.playerctld") &&
                   bus.interface()->isServiceRegistered("org.mpris.MediaPlayer2.mpv");
        }));

        form_ = ScannedForm();
        form_->Playback().OtherPlayers().Use(
            std::make_shared<TOtherAppCtrl>(*transport_, sender_.get()));
        FillFrom(*form_, "Trio");
        form_->SendListBtn->click();
        test::WaitForLibrary(*form_);
        QObject::connect(&form_->Playback().OtherPlayers(), &TOtherPlayers::Answered,
                         [this](bool) { ++answers_; });
    }
    void TearDown() override {
        // The window's worker ends before the connection its commands use.
        form_.reset();
        sender_.reset();
        QDBusConnection::disconnectFromBus("sender");
        QGuiApplication::setApplicationDisplayName(QString());
        for (QProcess* process : {&mpv_, &playerctld_}) {
            process->kill();
            process->waitForFinished();
        }
    }

    void Start(QProcess& process, const QString& program, const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus_.Address());
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted()) << program.toStdString();
    }

    std::filesystem::path Socket() const { return dir_ / "mpv.socket"; }
    QString Song(const char* name) const { return test::ToQ(Lib() / "Trio" / name); }
    QJsonValue Mpv(const char* property) {
        return MpvRequest(Socket(), {"get_property", property});
    }
    bool MpvDoes(const QJsonArray& command) { return !MpvRequest(Socket(), command).isUndefined(); }
    // mpv plays `song`, not paused.
    bool MpvPlays(const char* song) {
        return PumpUntil([&] { return Mpv("path") == Song(song) && Mpv("pause") == false; }, 5000);
    }

    // Gives a command through the window and waits until the players have answered it.
    void Give(const std::function<void()>& command) {
        const int before = answers_;
        command();
        ASSERT_TRUE(PumpUntil([&] { return answers_ > before; }));
    }
    void Choose(int row) {
        form_->PlayList().SelectRow(row);
        Give([this] { form_->Playback().PlaySelected(); });
    }

    test::TPrivateSessionBus bus_;
    // Ended (killed) with the test, after the window.
    QProcess playerctld_;
    QProcess mpv_;
    std::unique_ptr<IRemotePlayerTransport> transport_ = MakeNativeRemotePlayerTransport();
    std::unique_ptr<TMprisClient> sender_;
    std::unique_ptr<TMainForm> form_;
    int answers_ = 0;
};

TEST_F(SendModeTest, MpvDoesWhatEachCommandSaysAndTheWindowShowsIt) {
    ASSERT_EQ(form_->PlayFileList->count(), 4) << "*ALL* and three songs";
    EXPECT_EQ(sender_->Players().join(" ").toStdString(), "org.mpris.MediaPlayer2.mpv")
        << "playerctld only hands calls on to mpv";

    Choose(2);
    EXPECT_TRUE(MpvPlays("2.mp3"));
    // The window shows mpv's song: its caption, where it is, how long it is.
    EXPECT_TRUE(PumpUntil([&] {
        return form_->windowTitle() == "Song2/Artist/Album" && form_->PosBar->value() > 0 &&
               std::abs(form_->PosBar->maximum() - 20000) < 200;
    }));
    EXPECT_TRUE(form_->PosTime->text().endsWith("/0:20")) << form_->PosTime->text().toStdString();

    // The button follows mpv's own state, which a read made just before mpv took the command may
    // still give as it was, until the next read.
    Give([&] { form_->PauseBtn->click(); });
    EXPECT_EQ(Mpv("pause"), true);
    EXPECT_TRUE(PumpUntil([&] { return form_->PauseBtn->isChecked(); }));
    Give([&] { form_->PauseBtn->click(); });
    EXPECT_EQ(Mpv("pause"), false);
    EXPECT_TRUE(PumpUntil([&] { return !form_->PauseBtn->isChecked(); }));

    // Next and Prev move mpv's own list by one step each.
    ASSERT_TRUE(MpvDoes({"loadfile", Song("1.mp3"), "replace"}));
    ASSERT_TRUE(MpvDoes({"loadfile", Song("2.mp3"), "append"}));
    ASSERT_TRUE(MpvDoes({"loadfile", Song("3.mp3"), "append"}));
    ASSERT_TRUE(PumpUntil([&] { return Mpv("path") == Song("1.mp3"); }));
    Give([&] { form_->NextBtn->click(); });
    PumpFor(300);
    EXPECT_EQ(Mpv("playlist-pos"), 1);
    Give([&] { form_->PrevBtn->click(); });
    PumpFor(300);
    EXPECT_EQ(Mpv("playlist-pos"), 0);

    // A song sent to a paused mpv plays.
    Give([&] { form_->PauseBtn->click(); });
    ASSERT_EQ(Mpv("pause"), true);
    Choose(3);
    EXPECT_TRUE(MpvPlays("3.mp3"));

    // Stop empties mpv's list; Play then sends the chosen song again.
    Give([&] { form_->StopBtn->click(); });
    EXPECT_TRUE(PumpUntil([&] { return Mpv("playlist-count") == 0; }));
    Give([&] { form_->PlayBtn->click(); });
    EXPECT_TRUE(MpvPlays("3.mp3"));

    // mpv keeps one song at a time: "*ALL*" plays the first, and the window says so.
    Choose(0);
    EXPECT_TRUE(MpvPlays("1.mp3"));
    EXPECT_EQ(Mpv("playlist-count"), 1);
    EXPECT_EQ(form_->Desktop().NoticeLine().text(),
              "mpv takes one song at a time: only the first of the 3 songs went to it");

    Give([&] { form_->Playback().SetVolumePercent(30); });
    EXPECT_NEAR(Mpv("volume").toDouble(), 30, 0.01);

    // The pause button shows what mpv shows, whoever paused it.
    ASSERT_TRUE(MpvDoes({"set_property", "pause", true}));
    EXPECT_TRUE(PumpUntil([&] { return form_->PauseBtn->isChecked(); }, 5000));

    form_->SendListBtn->click();
    EXPECT_EQ(form_->windowTitle(), "pelbrisk - ver.050228") << "ours again, and nothing plays";
    EXPECT_FALSE(form_->PauseBtn->isChecked());
    EXPECT_EQ(form_->PosBar->value(), 0);
}

} // namespace
} // namespace pelbrisk
