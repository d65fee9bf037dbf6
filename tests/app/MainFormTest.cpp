// The main window on the offscreen platform: settings in and out, the folder tree, filling and
// steering the play list, dropped folders.
#include "app/MainForm.h"

#include "app/AudioFileInfo.h"
#include "app/CommandBox.h"
#include "app/FormControls.h"
#include "app/TrayIcon.h"
#include "info/TextConversion.h"
#include "tests/app/FormTestSupport.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <set>

namespace pelbrisk {
namespace {

namespace fs = std::filesystem;

using test::PumpFor;
using test::PumpUntil;
using test::TBoxAnswer;
using test::ToQ;

void Press(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
           const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(target, &press);
}

QStringList Captions(const QListWidget* list) {
    QStringList captions;
    for (int i = 0; i < list->count(); ++i)
        captions << list->item(i)->text();
    return captions;
}

QStringList Captions(const QTreeWidgetItem* parent) {
    QStringList captions;
    for (int i = 0; i < parent->childCount(); ++i)
        captions << parent->child(i)->text(0);
    return captions;
}

QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& caption) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == caption) return parent->child(i);
    return nullptr;
}

fs::path TaggedMp3(const std::string& title) {
    static const fs::path wav = test::MakeSignalWav(0.4, 44100, 2);
    return test::EncodeWithLame(wav, "-b 96 --add-id3v2 --tt " + title + " --ta Artist --tl Album");
}

// A library root with Jazz (two tagged songs, a picture), rock (only a sub-folder with a song)
// and an empty ambient folder.
class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(lib() / "Jazz");
        fs::create_directories(lib() / "rock" / "Live");
        fs::create_directories(lib() / "ambient");
        fs::copy_file(TaggedMp3("Alpha"), lib() / "Jazz" / "1 first.mp3");
        fs::copy_file(TaggedMp3("Beta"), lib() / "Jazz" / "2 second.MP3");
        std::ofstream(lib() / "Jazz" / "cover.jpg") << "picture";
        fs::copy_file(TaggedMp3("Gamma"), lib() / "rock" / "Live" / "live.mp3");
    }

    fs::path lib() const { return dir_ / "lib"; }
    QString Lib(const std::string& relative = "") const {
        return ToQ(relative.empty() ? lib() : lib() / relative);
    }
    QString SettingsPath() const { return ToQ(dir_ / "pelbrisk.ini"); }
    void WriteSettings(const std::string& text) const {
        std::ofstream(dir_ / "pelbrisk.ini") << text;
    }
    std::string ReadSettings() const {
        const auto bytes = test::ReadFileBytes(dir_ / "pelbrisk.ini");
        return std::string(bytes.begin(), bytes.end());
    }

    // A window on the library whose tree has been scanned.
    std::unique_ptr<TMainForm> ScannedForm() {
        WriteSettings("root = " + lib().string() + "\t\n");
        auto form = std::make_unique<TMainForm>(SettingsPath());
        form->Library().BuildTree();
        test::WaitForLibrary(*form);
        return form;
    }
    void SelectFolder(TMainForm& form, const QString& caption) {
        QTreeWidgetItem* root = form.Library().RootNodes().Items(0);
        QTreeWidgetItem* node = Child(root, caption);
        ASSERT_NE(node, nullptr) << caption.toStdString();
        form.DirTree->setCurrentItem(node);
    }

    test::TempDir dir_;
};

TEST_F(MainFormTest, WithoutSettingsFileTheDesignValuesStandAndTheFileIsWrittenAtOnce) {
    TMainForm form(SettingsPath());
    EXPECT_EQ(form.windowTitle(), "pelbrisk - ver.050228");
    EXPECT_DOUBLE_EQ(form.windowOpacity(), 1.0);
    EXPECT_NE(ReadSettings().find("root = \n"), std::string::npos)
        << "the file the empty window names is there to edit";
    EXPECT_TRUE(static_cast<TDirTreeView*>(form.DirTree)->EmptyText().contains(SettingsPath()));
    test::TBoxAnswer help(QMessageBox::Ok);
    form.CommandBox().ShowHelp();
    EXPECT_TRUE(help.Text().contains(SettingsPath())) << help.Text().toStdString();
    EXPECT_EQ(form.Desktop().ShowHotKey(), 0x604B);
    EXPECT_EQ(form.Desktop().VolumeUpHotKey(), 0);
    EXPECT_FALSE(form.RepeatAllBtn->isChecked());
    EXPECT_FALSE(form.RandomBtn->isChecked());
    EXPECT_FALSE(form.SendListBtn->isChecked());
    EXPECT_TRUE(form.RepeatAllBtn->isEnabled());
    EXPECT_EQ(form.VolBar->value(), 100);
    EXPECT_EQ(form.MP3Player->Volume(), 100);
    EXPECT_EQ(form.PitchBar->value(), 100);
    EXPECT_EQ(form.Library().RootNodes().Count(), 0);
    EXPECT_EQ(form.PlayList().CurrentIndex(), -1);
    EXPECT_FALSE(form.TreeBuilt());
    EXPECT_FALSE(form.LoadingPanel->isVisible());
}

TEST_F(MainFormTest, AppliesTheSettingsFile) {
    WriteSettings("window_left = -10\nwindow_top = 20\nwindow_width = 300\n"
                  "window_height = 200\nwindow_alpha = 256\nhotkey =\n"
                  "hotkey_volume_up = Ctrl+Alt+Up\nhotkey_volume_down = shift+f12\n"
                  "repeat_all = 2\nrandom = yes\n"
                  "volume = 30\nroot = /srv/Zeta\t/srv/alpha/\t\nroot = /srv/Mid\n"
                  "filelist_width = 200\n");
    TMainForm form(SettingsPath());
    const QSize screen = QGuiApplication::primaryScreen()->size();
    EXPECT_EQ(form.pos(), QPoint(screen.width() - 310, 20));
    EXPECT_EQ(form.size(), QSize(300, 200));
    EXPECT_EQ(form.WindowAlpha(), 255) << "256 would hide the window";
    EXPECT_DOUBLE_EQ(form.windowOpacity(), 1.0);
    EXPECT_EQ(form.Desktop().ShowHotKey(), 0);
    EXPECT_EQ(form.Desktop().VolumeUpHotKey(), 0xC026);
    EXPECT_EQ(form.Desktop().VolumeDownHotKey(), 0x207B);
    EXPECT_TRUE(form.RepeatAllBtn->isChecked());
    EXPECT_FALSE(form.RandomBtn->isChecked());
    EXPECT_EQ(form.MP3Player->Volume(), 30);
    EXPECT_EQ(form.VolBar->value(), 30);
    ASSERT_EQ(form.Library().RootNodes().Count(), 3);
    EXPECT_EQ(form.Library().RootNodes().Items(0)->text(0), "alpha");
    EXPECT_EQ(form.Library().RootNodes().Items(1)->text(0), "Mid");
    EXPECT_EQ(form.Library().RootNodes().Items(2)->text(0), "Zeta");
    EXPECT_EQ(RootPath(form.Library().RootNodes().Items(0)).Bytes(), "/srv/alpha/");
}

TEST_F(MainFormTest, SendListSettingLocksTheOrderToggles) {
    WriteSettings("sendlist = -1\nrepeat_all = -1\n");
    TMainForm form(SettingsPath());
    EXPECT_TRUE(form.SendListBtn->isChecked());
    EXPECT_TRUE(form.RepeatAllBtn->isChecked());
    EXPECT_FALSE(form.RepeatAllBtn->isEnabled());
    EXPECT_FALSE(form.RandomBtn->isEnabled());
}

// PELBRISK_AUDIO chooses the device; one that names none, or a code page the settings name that
// does not exist, is told in the notice line, or in the tray's message while the window is there,
// never in a box that waits for an answer.
TEST_F(MainFormTest, WhatIsWrongInTheEnvironmentOrSettingsIsToldWithoutABox) {
    struct TCase {
        const char* Audio;
        std::string Settings;
        QString Told;
    };
    const TCase cases[] = {
        {"null", "", ""},
        {"speakers", "", "PELBRISK_AUDIO"},
        {"null", "tag_code_page = nonesuch\n",
         SettingsPath() + ": tag_code_page: no code page \"nonesuch\"; reading ISO-8859-1"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Audio + c.Settings);
        qputenv("PELBRISK_AUDIO", c.Audio);
        WriteSettings(c.Settings);
        TMainForm form(SettingsPath());
        qputenv("PELBRISK_AUDIO", "null");
        EXPECT_EQ(form.MP3Player->DeviceID(),
                  c.Told == "PELBRISK_AUDIO" ? -1 : NullAudioDeviceId());
        EXPECT_EQ(form.Desktop().NoticeLine().isHidden(), c.Told.isEmpty());
        EXPECT_TRUE(form.Desktop().NoticeLine().text().contains(c.Told));
    }
    EXPECT_EQ(TagCodePage(), "") << "ISO-8859-1 stays";
    auto form = ScannedForm();
    form->Desktop().TrayAvailable = [] { return true; };
    form->Desktop().ApplicationEvents1Minimize();
    form->Desktop().ShowNotice("in the tray");
    EXPECT_TRUE(form->Desktop().NoticeLine().isHidden()) << "the tray's message, not a line";
}

// The file is rewritten in its own order: its comments and keys of other versions stay, and what
// the window does not hold (the code page) goes back as it came.
TEST_F(MainFormTest, WritesTheSettingsBackWhenDestroyed) {
    WriteSettings("# my music\nwindow_left = 40\nwindow_top = 50\nwindow_width = 333\n"
                  "window_height = 222\nwindow_alpha = 128\nhotkey = Alt+P\ncolour = red\n"
                  "filelist_width = 180\nroot = /srv/b\t~/a\t\ntag_code_page = KOI8-R\n"
                  "replay_gain = auto\nreplay_gain_preamp = -3.5\nvolume = 50\nvolume = 60\n");
    {
        TMainForm form(SettingsPath());
        EXPECT_EQ(TagCodePage(), "KOI8-R");
        EXPECT_EQ(RootPath(form.Library().RootNodes().Items(0)).Bytes(), qgetenv("HOME") + "/a")
            << "~ stands for the home folder";
        // Auto plays the album's gain in order and the track's in random play.
        EXPECT_EQ(form.MP3Player->ReplayGain().Mode, TReplayGainMode::Album);
        EXPECT_EQ(form.MP3Player->ReplayGain().Preamp, -3.5);
        form.RandomBtn->setChecked(true);
        EXPECT_EQ(form.MP3Player->ReplayGain().Mode, TReplayGainMode::Track);
        form.MP3Player->SetVolume(30);
        form.Library().AddRoot(TFilePath(QByteArray("/srv/c/")));
    }
    SetTagCodePage("");
    EXPECT_EQ(ReadSettings(), "# my music\n"
                              "window_left = 40\n"
                              "window_top = 50\n"
                              "window_width = 333\n"
                              "window_height = 222\n"
                              "window_alpha = 128\n"
                              "hotkey = Alt+P\n"
                              "colour = red\n"
                              "filelist_width = 180\n"
                              "root = /srv/b\t~/a\t/srv/c/\t\n"
                              "tag_code_page = KOI8-R\n"
                              "replay_gain = auto\n"
                              "replay_gain_preamp = -3.5\n"
                              "volume = 30\n"
                              "hotkey_volume_up = \n"
                              "hotkey_volume_down = \n"
                              "repeat_all = 0\n"
                              "random = -1\n"
                              "sendlist = 0\n"
                              "font = \n"
                              "folder = \n"
                              "song = \n"
                              "position = 0\n"
                              "resume = 0\n"
                              "replay_gain_preamp_untagged = 0\n"
                              "replay_gain_prevent_clipping = -1\n"
                              "cover_art = -1\n");
}

// A restart comes back where the user was: the selected folder, the play list and its song,
// waiting at its position, or with resume playing on from there.
TEST_F(MainFormTest, ARestartComesBackToTheFolderTheListAndTheSongWhereItWas) {
    fs::create_directories(lib() / "Album");
    const fs::path song = test::EncodeWithLame(test::MakeSignalWav(4.0, 44100, 2), "-b 64");
    for (const char* name : {"1 one.mp3", "2 two.mp3", "3 three.mp3"})
        fs::copy_file(song, lib() / "Album" / name);
    for (const bool resume : {false, true}) {
        SCOPED_TRACE(resume ? "resume" : "waiting");
        int left = 0;
        {
            auto form = ScannedForm();
            SelectFolder(*form, "Album");
            form->OpenFolder(false);
            test::WaitForLibrary(*form);
            form->Playback().NextBtnClick();
            ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->Position() >= 1500; }));
            form->PauseBtn->click();
            left = form->MP3Player->Position();
            SelectFolder(*form, "Jazz");
        }
        if (resume) WriteSettings(ReadSettings() + "resume = -1\n");
        TMainForm form(SettingsPath());
        form.Library().BuildTree();
        test::WaitForLibrary(form);
        ASSERT_NE(form.DirTree->currentItem(), nullptr);
        EXPECT_EQ(form.DirTree->currentItem()->text(0), "Jazz");
        EXPECT_EQ(Captions(form.PlayFileList), QStringList({"1 one", "2 two", "3 three"}));
        EXPECT_EQ(form.PlayList().CurrentIndex(), 1);
        EXPECT_TRUE(form.PlayFileList->item(1)->font().bold());
        EXPECT_TRUE(form.windowTitle().startsWith("2 two")) << form.windowTitle().toStdString();
        EXPECT_EQ(form.MP3Player->Status(), resume ? mpsPlaying : mpsStopped);
        if (!resume) {
            EXPECT_EQ(form.Playback().PositionMs(), left);
            form.PlayBtn->click();
        }
        EXPECT_GE(form.MP3Player->Position(), left - 100) << "on from where it was";
        form.Playback().StopBtnClick();
    }
}

// "~" in a root is the home folder, and the file keeps it so; a root that is not there is named
// in a notice, neither shown nor selected, kept in the file, and found by :reload once it is.
TEST_F(MainFormTest, RootsExpandTheHomeFolderAndAMissingOneIsToldNotShown) {
    const QByteArray home = qgetenv("HOME");
    const auto restore = qScopeGuard([&] { qputenv("HOME", home); });
    qputenv("HOME", QByteArray::fromStdString(dir_.Path().string()));
    const fs::path gone = dir_ / "Later";
    WriteSettings("root = " + gone.string() + "\t~/lib\t\n");
    TMainForm form(SettingsPath());
    form.Library().BuildTree();
    test::WaitForLibrary(form);
    ASSERT_EQ(form.Library().RootNodes().Count(), 1);
    EXPECT_EQ(form.Library().RootNodes().Items(0)->text(0), "lib");
    EXPECT_EQ(form.DirTree->currentItem(), form.Library().RootNodes().Items(0)->child(0));
    EXPECT_EQ(form.Desktop().LastNotice(), "music folder not found: " + ToQ(gone) +
                                               " (kept in the settings; :reload looks again)");
    ASSERT_TRUE(form.Settings().Save());
    EXPECT_NE(ReadSettings().find("root = " + gone.string() + "\t~/lib\t\n"), std::string::npos)
        << "as the file had them: " << ReadSettings();

    fs::create_directories(gone / "Inside");
    QTest::keyClicks(form.CommandEdit, ":reload");
    QTest::keyClick(form.CommandEdit, Qt::Key_Return);
    test::WaitForLibrary(form);
    ASSERT_EQ(form.Library().RootNodes().Count(), 2);
    EXPECT_EQ(Captions(form.Library().RootNodes().Items(0)), QStringList({"Inside"}));
}

// A line the user adds, changes or removes while the window runs is not overwritten: the window
// writes only what it changed itself, and :reload takes the file's changes on (a new root is
// scanned, a removed one goes).
TEST_F(MainFormTest, AnEditOfTheFileWhileTheWindowRunsIsKeptAndReloadTakesItOn) {
    fs::create_directories(dir_ / "more" / "Blues");
    auto form = ScannedForm();
    form->RandomBtn->setChecked(true);
    ASSERT_TRUE(form->Settings().Save());
    std::string text = ReadSettings();
    text.replace(text.find("volume = 100"), 12, "volume = 40");
    text += "root = " + (dir_ / "more").string() + "\n# kept\n";
    WriteSettings(text);

    form->RepeatAllBtn->setChecked(true);
    ASSERT_TRUE(form->Settings().Save());
    text = ReadSettings();
    for (const std::string& line :
         std::vector<std::string>{"volume = 40\n", "repeat_all = -1\n", "random = -1\n",
                                  "\t" + (dir_ / "more").string() + "\t", "# kept\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    EXPECT_EQ(form->VolBar->value(), 100) << "taken on only when asked";

    text.replace(text.find("root = " + lib().string() + "\t"), 7 + lib().string().size() + 1,
                 "root = ");
    text += "replay_gain = off\n";
    WriteSettings(text);
    QTest::keyClicks(form->CommandEdit, ":reload");
    QTest::keyClick(form->CommandEdit, Qt::Key_Return);
    test::WaitForLibrary(*form);
    EXPECT_EQ(form->VolBar->value(), 40);
    EXPECT_EQ(form->MP3Player->ReplayGain().Mode, TReplayGainMode::Off);
    ASSERT_EQ(form->Library().RootNodes().Count(), 1);
    EXPECT_EQ(Captions(form->Library().RootNodes().Items(0)), QStringList({"Blues"}));
    EXPECT_EQ(ReadSettings().find(lib().string() + "\t"), std::string::npos);
}

// A session that ends without the window's close (a log-out with the window in the tray) finds
// every change written already.
TEST_F(MainFormTest, ChangesAreWrittenSoonNotOnlyAtTheClose) {
    auto form = ScannedForm();
    fs::create_directories(dir_ / "dropped");
    form->Playback().DownVolumeClick();
    form->Library().DropFolders({QUrl::fromLocalFile(ToQ(dir_ / "dropped"))});
    EXPECT_TRUE(PumpUntil(
        [&] {
            const std::string now = ReadSettings();
            return now.find("volume = 90\n") != std::string::npos &&
                   now.find((dir_ / "dropped").string() + "\t") != std::string::npos;
        },
        5000))
        << ReadSettings();
}

TEST_F(MainFormTest, ShownWindowLaysOutItsControlsAndKeepsThePlayListWidth) {
    WriteSettings("window_width = 500\nwindow_height = 300\nfilelist_width = 170\n");
    int listWidth = 0;
    {
        TMainForm form(SettingsPath());
        form.show();
        ASSERT_TRUE(PumpUntil([&] { return form.TreeBuilt() && form.isEnabled(); }));
        EXPECT_EQ(form.PlayFileList->width(), 170);
        EXPECT_LT(form.DirTree->x(), form.PlayFileList->x());
        EXPECT_EQ(form.Panel6->y() + form.Panel6->height(), form.height());

        const int treeWidth = form.DirTree->width();
        form.resize(600, 300);
        listWidth = form.PlayFileList->width();
        EXPECT_GT(listWidth, 170) << "the tree and the list share what is added";
        EXPECT_GT(form.DirTree->width(), treeWidth);
        EXPECT_EQ(form.DirTree->width() + listWidth, treeWidth + 170 + 100);
        EXPECT_EQ(form.LoadingPanel->geometry(), QRect(100, (300 - form.LoadingPanel->height()) / 2,
                                                       400, form.LoadingPanel->height()));
        form.resize(601, 300);
        EXPECT_EQ(form.LoadingPanel->width(), 400);
        EXPECT_EQ(form.LoadingPanel->x(), 100);
        listWidth = form.PlayFileList->width();
    }
    EXPECT_NE(ReadSettings().find("filelist_width = " + std::to_string(listWidth) + "\n"),
              std::string::npos)
        << ReadSettings();
}

// A first start is centred and shows about twenty songs; the controls are sized by the font, the
// desktop's (larger on a high-density screen) or the one the settings name, so that no caption is
// cut; the play list has half of the width.
TEST_F(MainFormTest, TheFirstWindowIsCentredAndSizedByItsFont) {
    const QFont desktop = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(desktop); });
    QFont large = desktop;
    large.setPointSizeF(desktop.pointSizeF() * 2);
    QFont pixels = desktop;
    pixels.setPixelSize(20);
    struct TCase {
        QFont Desktop;
        std::string Settings;
        double Points;
    };
    const TCase cases[] = {
        {desktop, "", desktop.pointSizeF()},
        {large, "", large.pointSizeF()},
        {pixels, "", -1},
        {desktop, "font = DejaVu Sans, 15\n", 15},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Points);
        QApplication::setFont(c.Desktop);
        WriteSettings(c.Settings);
        TMainForm form(SettingsPath());
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        EXPECT_DOUBLE_EQ(form.font().pointSizeF(), c.Points);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        EXPECT_LE(std::abs(form.geometry().center().x() - screen.center().x()), 2);
        EXPECT_LE(std::abs(form.geometry().center().y() - screen.center().y()), 2);
        const int row = QFontMetrics(form.PlayFileList->font()).height();
        EXPECT_GE(form.PlayFileList->height(), 20 * row);
        EXPECT_NEAR(form.PlayFileList->width(), form.DirTree->width(), 2);
        for (const QWidget* control :
             std::initializer_list<const QWidget*>{form.PlayBtn, form.SendListBtn, form.Label1,
                                                   form.PosTime, form.PitchValue, form.CommandEdit})
            EXPECT_GE(control->height(), QFontMetrics(control->font()).height())
                << control->metaObject()->className();
        EXPECT_GE(form.PosTime->width(),
                  QFontMetrics(form.PosTime->font()).horizontalAdvance("0:00:00/0:00:00"));
    }
}

TEST_F(MainFormTest, FirstPaintScansTheRootsAndSelectsTheOnlyRootsFirstChild) {
    WriteSettings("root = " + lib().string() + "/\t\n");
    TMainForm form(SettingsPath());
    form.show();
    QTreeWidgetItem* root = form.Library().RootNodes().Items(0);
    // The scan is queued behind the first paint: enabled alone may come before it has begun.
    ASSERT_TRUE(PumpUntil([&] { return form.isEnabled() && root->childCount() > 0; }));
    EXPECT_TRUE(form.TreeBuilt());
    EXPECT_EQ(root->text(0), "lib");
    EXPECT_EQ(Captions(root), QStringList({"ambient", "Jazz", "rock"}));
    EXPECT_EQ(Captions(Child(root, "rock")), QStringList({"Live"}));
    ASSERT_NE(form.DirTree->currentItem(), nullptr);
    EXPECT_EQ(form.DirTree->currentItem()->parent(), root);
    EXPECT_FALSE(form.LoadingPanel->isVisible());
    EXPECT_EQ(NodeFolderPath(Child(Child(root, "rock"), "Live")).Display(), Lib("rock/Live") + "/");
}

TEST_F(MainFormTest, TwoRootsAreScannedWithoutChoosingASelection) {
    fs::create_directories(dir_ / "other" / "Inner");
    WriteSettings("root = " + lib().string() + "\t" + (dir_ / "other").string() + "\t\n");
    TMainForm form(SettingsPath());
    form.Library().BuildTree();
    test::WaitForLibrary(form);
    EXPECT_EQ(form.DirTree->currentItem(), nullptr);
    EXPECT_EQ(form.DirTree->topLevelItemCount(), 2);
    EXPECT_EQ(form.DirTree->topLevelItem(0)->text(0), "lib");
    EXPECT_EQ(Captions(form.DirTree->topLevelItem(1)), QStringList({"Inner"}));
}

TEST_F(MainFormTest, ReloadReadsTheFoldersAgain) {
    auto form = ScannedForm();
    fs::create_directories(lib() / "Blues");
    form->Library().BuildTree();
    test::WaitForLibrary(*form);
    EXPECT_EQ(Child(form->Library().RootNodes().Items(0), "Blues"), nullptr)
        << "a scanned root is not scanned again";
    form->Library().ReloadTree();
    test::WaitForLibrary(*form);
    EXPECT_EQ(Captions(form->Library().RootNodes().Items(0)),
              QStringList({"ambient", "Blues", "Jazz", "rock"}));
    EXPECT_TRUE(form->isEnabled());
}

TEST_F(MainFormTest, RemoveRootAsksAndOnlyRemovesOnYes) {
    auto form = ScannedForm();
    QTreeWidgetItem* root = form->Library().RootNodes().Items(0);
    {
        TBoxAnswer answer(QMessageBox::No);
        form->Library().RemoveRoot(root);
        EXPECT_EQ(answer.Text(), "Remove the music folder \"lib\" (" + Lib() +
                                     ") from pelbrisk?\n\nNo file on disk is touched.");
    }
    EXPECT_EQ(form->Library().RootNodes().Count(), 1);

    QTreeWidgetItem* jazz = Child(root, "Jazz");
    form->Library().RemoveRoot(jazz);
    EXPECT_EQ(Child(root, "Jazz"), jazz) << "a sub-folder is not removed, and nothing is asked";

    {
        TBoxAnswer answer(QMessageBox::Yes);
        form->Library().RemoveRoot(root);
        EXPECT_TRUE(answer.Text().contains("No file on disk is touched."));
    }
    EXPECT_TRUE(fs::exists(lib() / "Jazz" / "1 first.mp3"));
    EXPECT_EQ(form->Library().RootNodes().Count(), 0);
    EXPECT_EQ(form->DirTree->topLevelItemCount(), 0);
}

TEST_F(MainFormTest, OpeningAFolderWithoutMp3DoesNothingUnlessRecursive) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    const QStringList jazz = Captions(form->PlayFileList);

    SelectFolder(*form, "rock");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    EXPECT_EQ(Captions(form->PlayFileList), jazz);

    test::FillSelected(*form, true);
    test::WaitForLibrary(*form);
    EXPECT_EQ(Captions(form->PlayFileList), QStringList({"01-Gamma"}));
}

// A folder or a file whose name is no UTF-8 (made on a Latin-1 system) shows readably and plays.
TEST_F(MainFormTest, NamesThatAreNoUtf8ShowReadablyListAndPlay) {
    const fs::path cafe = lib() / std::string("Caf\xE9");
    fs::create_directories(cafe);
    const fs::path song = cafe / std::string("\xE9t\xE9.mp3");
    fs::copy_file(test::EncodeWithLame(test::MakeSignalWav(0.4, 44100, 2), "-b 96"), song);
    auto form = ScannedForm();
    QTreeWidgetItem* node = Child(form->Library().RootNodes().Items(0), "Café");
    ASSERT_NE(node, nullptr)
        << Captions(form->Library().RootNodes().Items(0)).join(",").toStdString();
    form->DirTree->setCurrentItem(node);
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    EXPECT_EQ(Captions(form->PlayFileList), QStringList({"01-été"}));
    EXPECT_EQ(form->MP3Player->FileName(), song.string());
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    form->Playback().StopBtnClick();
}

TEST_F(MainFormTest, FillingListsTheFolderSongsCaptionedFromTheirTags) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    EXPECT_EQ(Captions(form->PlayFileList), QStringList({"01-Alpha", "02-Beta"}));
    EXPECT_EQ(form->PlayFileList->item(1)->data(kEntryPathRole).toString(),
              Lib("Jazz/2 second.MP3"));
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);
    EXPECT_TRUE(form->PlayFileList->item(0)->isSelected());
    EXPECT_EQ(form->PlayFileList->currentRow(), 0);
}

TEST_F(MainFormTest, SendModeListsEveryFileAfterAnAllEntry) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    form->SendListBtn->setChecked(true);
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    EXPECT_EQ(Captions(form->PlayFileList),
              QStringList({"*ALL*", "01-Alpha", "02-Beta", "03-cover.jpg"}));
    QStringList all;
    for (const TFilePath& file : form->PlayList().EntryFiles(*form->PlayFileList->item(0)))
        all << file.Display();
    EXPECT_EQ(all, QStringList(
                       {Lib("Jazz/1 first.mp3"), Lib("Jazz/2 second.MP3"), Lib("Jazz/cover.jpg")}));
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);
    EXPECT_TRUE(form->PlayFileList->item(0)->isSelected());
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped)
        << "send mode hands the list on instead of playing it";
}

TEST_F(MainFormTest, SendModeHandsTheEntryOnInsteadOfPlayingIt) {
    auto form = ScannedForm();
    form->SendListBtn->setChecked(true);
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    TBoxAnswer noBox(QMessageBox::Ok);
    Press(form->PlayFileList, Qt::Key_Return);
    Press(form->PlayFileList, Qt::Key_F3);
    QCoreApplication::processEvents();
    EXPECT_EQ(noBox.Text(), "") << "no error, although no other player runs here";
    EXPECT_EQ(form->PlayList().CurrentIndex(), 2);
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
    EXPECT_EQ(form->MP3Player->FileName(), "");
}

TEST_F(MainFormTest, SendToggleRefillsAndLocksTheOrderToggles) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    form->SendListBtn->click();
    test::WaitForLibrary(*form);
    EXPECT_EQ(form->PlayFileList->count(), 4);
    EXPECT_FALSE(form->RandomBtn->isEnabled());
    form->SendListBtn->click();
    test::WaitForLibrary(*form);
    EXPECT_EQ(form->PlayFileList->count(), 2);
    EXPECT_TRUE(form->RandomBtn->isEnabled());
}

TEST_F(MainFormTest, SelectNextFollowsTheRepeatAndRandomToggles) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    EXPECT_EQ(form->PlayList().SelectNext(), form->PlayFileList->item(1));
    EXPECT_EQ(form->PlayList().SelectNext(), nullptr);
    EXPECT_EQ(form->PlayList().CurrentIndex(), -1);
    EXPECT_TRUE(form->PlayFileList->selectedItems().isEmpty());
    EXPECT_EQ(form->PlayList().SelectNext(), form->PlayFileList->item(0));

    form->RepeatAllBtn->setChecked(true);
    form->PlayList().SelectNext();
    EXPECT_EQ(form->PlayList().SelectNext(), form->PlayFileList->item(0))
        << "repeat wraps to the first";

    form->RandomBtn->setChecked(true);
    std::set<int> drawn;
    for (int i = 0; i < 60; ++i) {
        ASSERT_NE(form->PlayList().SelectNext(), nullptr);
        drawn.insert(form->PlayList().CurrentIndex());
    }
    EXPECT_EQ(drawn, (std::set<int>{0, 1}));
}

TEST_F(MainFormTest, InsertKeepsOnlyTheSelectedEntry) {
    auto form = ScannedForm();
    form->SendListBtn->setChecked(true);
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    form->PlayFileList->setCurrentRow(2);
    Press(form->PlayFileList, Qt::Key_Insert);
    EXPECT_EQ(Captions(form->PlayFileList), QStringList({"02-Beta"}));

    form->PlayFileList->clearSelection();
    Press(form->PlayFileList, Qt::Key_Insert);
    EXPECT_EQ(form->PlayFileList->count(), 1);
}

TEST_F(MainFormTest, DeleteSelectsTheNeighbourAndLeavesCaptionsAndIndexAlone) {
    auto form = ScannedForm();
    form->SendListBtn->setChecked(true);
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    ASSERT_EQ(form->PlayFileList->count(), 4);

    form->PlayFileList->setCurrentRow(1);
    Press(form->PlayFileList, Qt::Key_Delete);
    EXPECT_EQ(Captions(form->PlayFileList), QStringList({"*ALL*", "02-Beta", "03-cover.jpg"}));
    EXPECT_EQ(form->PlayFileList->selectedItems().value(0)->text(), "02-Beta");
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);

    form->PlayFileList->setCurrentRow(2);
    Press(form->PlayFileList, Qt::Key_Delete);
    EXPECT_EQ(form->PlayFileList->selectedItems().value(0)->text(), "02-Beta")
        << "deleting the last entry selects the new last one";

    form->PlayFileList->setCurrentRow(0);
    Press(form->PlayFileList, Qt::Key_Delete);
    Press(form->PlayFileList, Qt::Key_Delete);
    EXPECT_EQ(form->PlayFileList->count(), 0);
    EXPECT_TRUE(form->PlayFileList->selectedItems().isEmpty());
    Press(form->PlayFileList, Qt::Key_Delete);
    EXPECT_EQ(form->PlayFileList->count(), 0);
}

// The folder's cover is read with the song's tags away from the window's thread, shows beside
// the song once read, and goes when nothing plays.
TEST_F(MainFormTest, TheCoverOfTheSongPlayingShowsOnceRead) {
    QImage cover(40, 20, QImage::Format_RGB32);
    cover.fill(Qt::red);
    ASSERT_TRUE(cover.save(Lib("Jazz/cover.jpg"), "JPG"));
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    Press(form->PlayFileList, Qt::Key_F1);
    // Held, so that the short song cannot end before a slow machine has read its cover.
    form->Playback().PauseBtnClick();
    ASSERT_EQ(form->MP3Player->Status(), mpsPaused);
    ASSERT_TRUE(PumpUntil([&] { return !form->CoverArt->isHidden(); }));
    const QImage shown = form->CoverArt->pixmap().toImage();
    EXPECT_EQ(shown.size(), QSize(96, 48));
    EXPECT_GT(qRed(shown.pixel(48, 24)), 200);
    form->Playback().StopBtnClick();
    EXPECT_TRUE(PumpUntil([&] { return form->CoverArt->isHidden(); }));
}

TEST_F(MainFormTest, FunctionKeysPlayTheEntryAtTheirNumber) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    Press(form->PlayFileList, Qt::Key_F3);
    EXPECT_EQ(form->PlayFileList->currentRow(), 0);
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped) << "F3 on two entries does nothing";

    Press(form->PlayFileList, Qt::Key_F2);
    EXPECT_EQ(form->PlayFileList->currentRow(), 1);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
    EXPECT_EQ(form->MP3Player->FileName(), (lib() / "Jazz" / "2 second.MP3").string());
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    EXPECT_TRUE(PumpUntil([&] { return form->windowTitle() == "Beta – Artist"; }));

    Press(form->PlayFileList, Qt::Key_F1);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);
    EXPECT_EQ(form->MP3Player->FileName(), (lib() / "Jazz" / "1 first.mp3").string());
    form->MP3Player->Stop();
}

TEST_F(MainFormTest, EnterPlaysAndBackspaceGoesToTheCommandBox) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    test::FillSelected(*form, false);
    test::WaitForLibrary(*form);
    form->PlayFileList->setCurrentRow(1);
    Press(form->PlayFileList, Qt::Key_Return);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    form->MP3Player->Stop();

    form->PlayFileList->setFocus();
    Press(form->PlayFileList, Qt::Key_Backspace);
    EXPECT_EQ(form->focusWidget(), form->CommandEdit);
}

TEST_F(MainFormTest, OpenFolderPlaysTheListThroughAndStopsAfterTheLast) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    EXPECT_TRUE(PumpUntil([&] { return form->PlayList().CurrentIndex() == 1; }));
    EXPECT_TRUE(PumpUntil([&] { return form->windowTitle() == "Beta – Artist"; }));
    EXPECT_TRUE(PumpUntil([&] { return form->PlayList().CurrentIndex() == -1; }));
    EXPECT_TRUE(form->PlayFileList->selectedItems().isEmpty());
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
}

TEST_F(MainFormTest, KeysInTheTreeGoOnToTheCommandBox) {
    auto form = ScannedForm();
    Press(form->DirTree, Qt::Key_J, Qt::NoModifier, "j");
    Press(form->DirTree, Qt::Key_A, Qt::NoModifier, "a");
    QCoreApplication::processEvents();
    EXPECT_EQ(form->CommandEdit->text(), "ja");
}

TEST_F(MainFormTest, TreeMenuShowsTheSelectedFoldersSongs) {
    auto form = ScannedForm();
    SelectFolder(*form, "Jazz");
    form->Library().PopupFolderMenu(QPoint(), false);
    ASSERT_TRUE(PumpUntil([&] { return form->DirFileListMenu->isVisible(); }));
    QStringList items;
    for (const QAction* action : form->DirFileListMenu->actions())
        items << action->text();
    EXPECT_EQ(items, QStringList({"01-Alpha", "02-Beta"}));

    form->DirFileListMenu->close();
    SelectFolder(*form, "ambient");
    form->Library().PopupFolderMenu(QPoint(), false);
    test::WaitForLibrary(*form);
    EXPECT_TRUE(form->DirFileListMenu->actions().isEmpty());
}

// xdg-open stands in for the desktop's file manager: one that opens, one that finds none, and
// none at all; what goes wrong is told in the notice line.
TEST_F(MainFormTest, OpenDirShowsTheSelectedFolderInTheFileManagerOrSaysWhyNot) {
    auto form = ScannedForm();
    QAction* openDir = form->OpenDirectory;
    EXPECT_EQ(openDir->text(), "Open Dir");
    EXPECT_EQ(openDir->shortcut(), QKeySequence("Ctrl+O"));
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    const fs::path bin = dir_ / "bin";
    const fs::path opened = dir_ / "opened";
    fs::create_directories(bin);
    // The opener's shell waits for it a moment; only xdg-open is to be missing.
    fs::create_symlink(QStandardPaths::findExecutable("sleep").toStdString(), bin / "sleep");
    struct TCase {
        std::optional<std::string> Opener;
        QString Told;
    };
    const TCase cases[] = {
        {"echo \"$1\" >>" + opened.string() + "; exit 0", ""},
        {"exit 3", "no file manager opened " + Lib("Jazz") + "/ (xdg-open gave 3)"},
        {std::nullopt, "no file manager to open " + Lib("Jazz") + "/: xdg-open is not installed"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Told.toStdString());
        fs::remove(bin / "xdg-open");
        if (c.Opener) {
            std::ofstream(bin / "xdg-open") << "#!/bin/sh\n" << *c.Opener << "\n";
            fs::permissions(bin / "xdg-open", fs::perms::owner_all);
        }
        qputenv("PATH", QByteArray::fromStdString(bin.string()));
        form->Desktop().ShowNotice(QString());
        form->DirTree->setCurrentItem(nullptr);
        openDir->trigger();
        SelectFolder(*form, "Jazz");
        openDir->trigger();
        if (c.Told.isEmpty()) {
            ASSERT_TRUE(PumpUntil([&] { return fs::exists(opened); }));
            PumpFor(300);
            EXPECT_EQ(test::ReadFileBytes(opened).size(), Lib("Jazz").size() + 2)
                << "the folder only, not the empty selection before";
        } else {
            EXPECT_TRUE(PumpUntil([&] { return form->Desktop().LastNotice() == c.Told; }))
                << form->Desktop().LastNotice().toStdString();
        }
    }
}

TEST_F(MainFormTest, DroppedFoldersBecomeRootsAndFilesAreIgnored) {
    auto form = ScannedForm();
    fs::create_directories(dir_ / "dropped" / "Inside");

    const auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        // A drop reaches the widget that accepted the drag when it entered.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &event);
        test::WaitForLibrary(*form);
    };
    drop({QUrl::fromLocalFile(Lib("Jazz/1 first.mp3")), QUrl("https://example.org/")});
    EXPECT_EQ(form->Library().RootNodes().Count(), 1);

    drop({QUrl::fromLocalFile(ToQ(dir_ / "dropped")), QUrl::fromLocalFile(Lib("Jazz/cover.jpg"))});
    ASSERT_EQ(form->Library().RootNodes().Count(), 2);
    EXPECT_EQ(form->Library().RootNodes().Items(0)->text(0), "dropped");
    EXPECT_EQ(Captions(form->Library().RootNodes().Items(0)), QStringList({"Inside"}));

    drop({QUrl::fromLocalFile(ToQ(dir_ / "dropped"))});
    EXPECT_EQ(form->Library().RootNodes().Count(), 3)
        << "the same folder dropped twice is two roots";
    EXPECT_EQ(Captions(form->Library().RootNodes().Items(1)), QStringList({"Inside"}));
}

} // namespace
} // namespace pelbrisk
