// The window on a real sound server: the test's own PipeWire as ALSA's default device, as
// desktops have it. Songs play through without a box; a server that dies or cannot be reached is
// said once, in words, and the window goes on.
#include "app/MainForm.h"
#include "tests/app/FormTestSupport.h"
#include "tests/support/SoundServer.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <unistd.h>

namespace pelbrisk {
namespace {

using test::PumpFor;
using test::PumpUntil;
using test::RecordStarts;

// Answers every box that opens while it lives, and keeps their texts.
class TBoxWatch {
public:
    TBoxWatch() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts_.push_back(box->text());
                box->accept();
            }
        });
        timer_.start(10);
    }
    const QStringList& Texts() const { return texts_; }
    std::string All() const { return texts_.join('\n').toStdString(); }

private:
    QTimer timer_;
    QStringList texts_;
};

class SoundServerWindowTest : public test::TFormFixture {
protected:
    void SetUp() override {
        AddSong("Album", "1 a.mp3", "A", 1.0);
        AddSong("Album", "2 b.mp3", "B", 1.0);
        AddSong("Album", "3 c.mp3", "C", 1.0);
        AddSong("Long", "1 long.mp3", "Long", 20.0);
        AddSong("Long", "2 short.mp3", "Short", 1.0);
    }
    void TearDown() override {
        unsetenv("ALSA_CONFIG_PATH");
        qputenv("PELBRISK_AUDIO", "null");
        QGuiApplication::setApplicationDisplayName(QString());
    }

    // A window whose default sound device is reached through `alsaConfig`.
    std::unique_ptr<TMainForm> FormPlayingOn(const std::filesystem::path& alsaConfig,
                                             const char* audio = "default") {
        setenv("ALSA_CONFIG_PATH", alsaConfig.c_str(), 1);
        qputenv("PELBRISK_AUDIO", audio);
        return ScannedForm();
    }

    test::TSoundServer server_;
};

// Each song used to end in "the sound device stopped playing", a box, and the end of the list.
TEST_F(SoundServerWindowTest, AFolderOfShortSongsPlaysThroughWithoutABox) {
    PELBRISK_REQUIRE_SOUND_SERVER(server_);
    auto form = FormPlayingOn(server_.AlsaConfig(test::TSoundRoute::PipeWire));
    std::vector<int> started;
    RecordStarts(*form, started);
    TBoxWatch boxes;
    form->DirTree->setCurrentItem(Folder(*form, "Album"));
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    ASSERT_TRUE(PumpUntil(
        [&] { return started.size() == 3 && form->MP3Player->Status() == mpsStopped; }, 30000));
    EXPECT_EQ(boxes.All(), "");
    EXPECT_EQ(started, (std::vector<int>{0, 1, 2}));
}

// A dead server used to freeze the window while the program grew by about 250 MB a second.
TEST_F(SoundServerWindowTest, AKilledServerIsOneBoxWithinTwoSecondsAndPlayWorksWhenItIsBack) {
    PELBRISK_REQUIRE_SOUND_SERVER(server_);
    auto form = FormPlayingOn(server_.AlsaConfig(test::TSoundRoute::PipeWire));
    FillFrom(*form, "Long");
    TBoxWatch boxes;
    form->PlayFileList->setCurrentRow(0);
    form->Playback().PlaySelected();
    ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->Position() > 500; }));
    const long before = test::ResidentKilobytes(getpid());
    server_.Kill();
    QElapsedTimer sinceKill;
    sinceKill.start();
    ASSERT_TRUE(PumpUntil([&] { return !boxes.Texts().empty(); }, 5000));
    EXPECT_LT(sinceKill.elapsed(), 2000);
    PumpFor(1000);
    EXPECT_EQ(boxes.All().rfind("lost the sound server while playing: start it again, then play "
                                "again (TSoundOut.WaveWrite)",
                                0),
              0u)
        << boxes.All();
    ASSERT_EQ(boxes.Texts().size(), 1) << boxes.All();
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
    EXPECT_LT(test::ResidentKilobytes(getpid()) - before, 16384) << "kilobytes grown";
    QTest::keyClicks(form->CommandEdit, ":he");
    EXPECT_EQ(form->CommandEdit->text(), ":he") << "the window takes keys";

    ASSERT_TRUE(server_.Start()) << server_.Problem();
    std::vector<int> started;
    RecordStarts(*form, started);
    form->PlayFileList->setCurrentRow(1);
    form->Playback().PlaySelected();
    ASSERT_TRUE(PumpUntil(
        [&] { return !started.empty() && form->MP3Player->Status() == mpsStopped; }, 20000));
    EXPECT_EQ(started, std::vector<int>{1});
    EXPECT_EQ(boxes.Texts().size(), 1) << boxes.All();
}

// What used to read "Host is down(TSoundOut.Open:WaveOutOpen)" or "bad device ID(...)".
TEST_F(SoundServerWindowTest, AnOpenFailureSaysWhatFailedInWords) {
    struct TCase {
        std::filesystem::path AlsaConfig;
        const char* Audio;
        std::string Said;
    };
    const TCase cases[] = {
        {server_.UnreachableAlsaConfig(test::TSoundRoute::PipeWire), "default",
         "cannot reach the sound server: start it (PipeWire or PulseAudio), or choose another "
         "sound device (TSoundOut.Open:WaveOutOpen)"},
        {server_.UnreachableAlsaConfig(test::TSoundRoute::Pulse), "99",
         "sound device 99 was not found: choose null, default or a number from 0 to " +
             std::to_string(NullAudioDeviceId()) +
             " with PELBRISK_AUDIO "
             "(TSoundOut.Open:WaveOutOpen)"},
    };
    for (const TCase& failure : cases) {
        SCOPED_TRACE(failure.Audio);
        auto form = FormPlayingOn(failure.AlsaConfig, failure.Audio);
        FillFrom(*form, "Album");
        TBoxWatch boxes;
        form->PlayFileList->setCurrentRow(0);
        form->Playback().PlaySelected();
        PumpFor(300);
        EXPECT_EQ(boxes.All(), failure.Said);
        EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
    }
}

} // namespace
} // namespace pelbrisk
