// Files that cannot be played are named without stopping anyone and passed over; a failing sound
// device still stops play behind its error box, which belongs to the main window even while that
// is hidden in the notification area.
#include "app/MainForm.h"
#include "app/TrayIcon.h"
#include "tests/app/FormTestSupport.h"

#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTest>
#include <QToolButton>
#include <vector>

namespace pelbrisk {
namespace {

using test::PumpFor;
using test::PumpUntil;
using test::RecordStarts;

class BadFileTest : public test::TFormFixture {
protected:
    void SetUp() override {
        AddSong("Mixed", "1 a.mp3", "A");
        std::ofstream(Lib() / "Mixed" / "2 x.mp3").flush(); // no bytes at all
        std::ofstream(Lib() / "Mixed" / "3 y.mp3") << "a text file, not audio";
        AddSong("Mixed", "4 d.mp3", "D");
        std::filesystem::create_directories(Lib() / "Bad");
        std::ofstream(Lib() / "Bad" / "1.mp3") << "text";
        std::ofstream(Lib() / "Bad" / "2.mp3").flush();
    }
    void TearDown() override { QGuiApplication::setApplicationDisplayName(QString()); }
};

TEST_F(BadFileTest, AFolderWithBadFilesPlaysItsGoodFilesWithoutABox) {
    auto form = ScannedForm();
    std::vector<int> started;
    RecordStarts(*form, started);
    test::TBoxAnswer noBox(QMessageBox::Ok);
    form->DirTree->setCurrentItem(Folder(*form, "Mixed"));
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    ASSERT_TRUE(PumpUntil([&] { return form->PlayList().CurrentIndex() == -1; }));
    PumpFor(200);
    EXPECT_EQ(noBox.Text(), "");
    EXPECT_EQ(started, (std::vector<int>{0, 3}));
    const QString bothBad = "2 x.mp3: empty file; 3 y.mp3: unknown MPEG Audio format.";
    EXPECT_EQ(form->Desktop().LastNotice(), bothBad);
    EXPECT_EQ(form->Desktop().NoticeLine().text(), bothBad);
    EXPECT_TRUE(form->Desktop().NoticeLine().isVisibleTo(form.get()));
    form->layout()->activate();
    EXPECT_LT(form->NoticeLine->y(), form->Panel6->y()) << "above the buttons";
    EXPECT_EQ(form->windowTitle(), "pelbrisk - ver.050228");

    // A good song clears the line; Next from it steps over both bad files to the last good one.
    form->PlayFileList->setCurrentRow(0);
    form->Playback().PlaySelected();
    EXPECT_TRUE(form->Desktop().NoticeLine().isHidden());
    form->Playback().NextBtnClick();
    EXPECT_EQ(form->PlayList().CurrentIndex(), 3);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    EXPECT_EQ(form->Desktop().LastNotice(), bothBad);
    form->Playback().StopBtnClick();
}

TEST_F(BadFileTest, AListOfBadFilesStopsAfterOneRoundWhateverTheOrder) {
    struct TCase {
        const char* Settings;
        const char* Name;
    };
    for (const TCase& order : {TCase{"repeat_all = -1\n", "repeat"},
                               TCase{"random = -1\n", "random"}, TCase{"", "in order"}}) {
        SCOPED_TRACE(order.Name);
        auto form = ScannedForm(order.Settings);
        form->Desktop().TrayAvailable = [] { return true; };
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->showMinimized();
        ASSERT_TRUE(PumpUntil([&] { return form->isHidden(); }));
        test::TBoxAnswer noBox(QMessageBox::Ok);
        form->DirTree->setCurrentItem(Folder(*form, "Bad"));
        form->OpenFolder(false);
        test::WaitForLibrary(*form);
        PumpFor(100);
        EXPECT_EQ(noBox.Text(), "");
        EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
        const QString told = form->Desktop().LastNotice();
        EXPECT_TRUE(told.contains("1.mp3: unknown MPEG Audio format.") &&
                    told.contains("2.mp3: empty file"))
            << told.toStdString();
        EXPECT_TRUE(form->Desktop().NoticeLine().isHidden()) << "in the tray: its message";
    }
}

// In random order the retries after a bad file draw among the entries not tried yet: one good file
// among many bad ones is always found.
TEST_F(BadFileTest, ARandomRetryGivesEveryRemainingEntryItsChance) {
    std::filesystem::create_directories(Lib() / "OneGood");
    for (int i = 0; i < 7; ++i)
        std::ofstream(Lib() / "OneGood" / ("bad " + std::to_string(i) + ".mp3")) << "text";
    std::filesystem::copy_file(Lib() / "Mixed" / "1 a.mp3", Lib() / "OneGood" / "good.mp3");
    auto form = ScannedForm("random = -1\n");
    form->DirTree->setCurrentItem(Folder(*form, "OneGood"));
    for (int round = 0; round < 20; ++round) {
        form->OpenFolder(false);
        test::WaitForLibrary(*form);
        ASSERT_EQ(form->MP3Player->Status(), mpsPlaying) << "round " << round;
        form->Playback().StopBtnClick();
    }
}

TEST_F(BadFileTest, ADeviceFailureStopsPlayBehindABoxOfTheHiddenWindowAndTheProgramGoesOn) {
    auto form = ScannedForm();
    form->Desktop().TrayAvailable = [] { return true; };
    FillFrom(*form, "Mixed");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QTest::keyClick(form->CommandEdit, Qt::Key_Escape);
    ASSERT_TRUE(PumpUntil([&] { return form->isHidden(); }));
    form->MP3Player->SetDeviceID(1000);

    // The program's own loop runs, as it does for the user: closing the only box shown must not
    // end it.
    QPointer<QWidget> boxOwner;
    const test::TBoxAnswer answer(QMessageBox::Ok,
                                  [&](QMessageBox& box) { boxOwner = box.parentWidget(); });
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        form->Playback().PlaySelected();
        QTimer::singleShot(300, &context, [] { QCoreApplication::exit(7); });
    });
    EXPECT_EQ(QApplication::exec(), 7) << "the program ended with its box";
    EXPECT_EQ(boxOwner.data(), form.get());
    EXPECT_FALSE(answer.Text().isEmpty());
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0) << "a device failure is not passed over";
    EXPECT_EQ(form->Desktop().LastNotice(), "");
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
}

} // namespace
} // namespace pelbrisk
