// The window in everyday use: the keyboard stays with the command box, the tree keeps the
// user's place through collapses and reloads, play-list edits keep the current song, seeking and
// time from the keyboard, the folder menu plays, and a newcomer is told what to do.
#include "app/HelpText.h"
#include "app/MainForm.h"
#include "app/PositionText.h"
#include "tests/app/FormTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <fstream>
#include <tuple>
#include <vector>

namespace pelbrisk {
namespace {

namespace fs = std::filesystem;
using test::PumpFor;
using test::PumpUntil;
using test::ToQ;

QStringList Captions(const QTreeWidgetItem* parent) {
    QStringList captions;
    for (int i = 0; i < parent->childCount(); ++i)
        captions << parent->child(i)->text(0);
    return captions;
}

// lib: eight folders whose file-system order is not their sorted order; Beta/Inner; a hidden
// .cache/Secret with a song; Quartet with four songs; a folder with a very long name.
class WindowKeepsPlaceTest : public test::TFormFixture {
protected:
    void SetUp() override {
        for (const char* name : {"Zed", "Mike", "Hotel", "Echo", "Yankee", "Kilo", "Alpha", "Beta"})
            fs::create_directories(Lib() / name);
        fs::create_directories(Lib() / "Beta" / "Inner");
        fs::create_directories(Lib() / "Zed" / "Deep");
        AddSong(".cache/Secret", "s.mp3", "Secret");
        // Long enough that the next song is not yet handed over to when a test looks.
        for (const char* title : {"One", "Two", "Three", "Four"})
            AddSong("Quartet", std::string(title) + ".mp3", title, 5.0);
        fs::create_directories(Lib() / std::string(160, 'w'));
    }
    void TearDown() override {
        if (form_) form_->Playback().StopBtnClick();
    }

    // The window as the program shows it: its tree is scanned after the first paint.
    TMainForm& Shown() {
        std::ofstream(SettingsPath().toStdString())
            << "root = " << Lib().string() << "\t\nwindow_width = 360\nwindow_height = 300\n";
        form_ = std::make_unique<TMainForm>(SettingsPath());
        form_->show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        EXPECT_TRUE(PumpUntil([&] {
            return form_->TreeBuilt() && form_->Library().RootNodes().Items(0)->childCount() > 0 &&
                   !form_->LoadingPanel->isVisible();
        }));
        return *form_;
    }
    QTreeWidgetItem* Node(const QString& caption) { return Folder(*form_, caption); }

    std::unique_ptr<TMainForm> form_;
};

TEST_F(WindowKeepsPlaceTest, TheKeyboardStaysWithTheBoxAtStartAfterScansTypingAndDialogs) {
    TMainForm& form = Shown();
    EXPECT_TRUE(PumpUntil([&] { return form.CommandEdit->hasFocus(); })) << "at start";

    // Each key goes where the keyboard is at the time, as a user's keys do.
    form.PlayFileList->setFocus();
    for (const char key : {'z', 'e'}) {
        QTest::keyClick(QApplication::focusWidget(), key);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(PumpUntil([&] { return form.CommandEdit->text() == "ze"; }))
        << "letters typed in the play list go to the box";
    EXPECT_TRUE(form.CommandEdit->hasFocus());
    EXPECT_EQ(form.DirTree->currentItem(), Node("Zed"));
    form.CommandEdit->clear();

    const std::vector<std::pair<const char*, QWidget*>> scans{{"the box", form.CommandEdit},
                                                              {"the list", form.PlayFileList}};
    for (const auto& [name, control] : scans) {
        control->setFocus();
        ASSERT_TRUE(PumpUntil([&] { return control->hasFocus(); }));
        form.Library().ReloadTree();
        test::WaitForLibrary(form);
        EXPECT_TRUE(PumpUntil([&] { return control->hasFocus(); })) << "after a reload: " << name;
    }

    form.DirTree->setCurrentItem(form.Library().RootNodes().Items(0));
    form.CommandEdit->setFocus();
    {
        test::TBoxAnswer answer(QMessageBox::No);
        form.Library().RemoveRoot(form.Library().RootNodes().Items(0));
        // It names the folder and says what removing does not do.
        const QString root = test::ToQ(Lib());
        EXPECT_TRUE(answer.Text().contains(root) &&
                    answer.Text().endsWith("No file on disk is touched."))
            << answer.Text().toStdString();
    }
    EXPECT_TRUE(PumpUntil([&] { return form.CommandEdit->hasFocus(); })) << "after a dialog";
}

TEST_F(WindowKeepsPlaceTest, TheTreeIsSortedBeforeSelectingAndAReloadKeepsThePlace) {
    TMainForm& form = Shown();
    QTreeWidgetItem* root = form.Library().RootNodes().Items(0);
    EXPECT_EQ(form.DirTree->currentItem(), root->child(0));
    EXPECT_EQ(form.DirTree->currentItem()->text(0), "Alpha") << "the first folder once sorted";
    EXPECT_FALSE(Captions(root).contains(".cache")) << "hidden folders are left out";
    EXPECT_EQ(test::ChildNamed(root, "Quartet") != nullptr, true);

    form.DirTree->expandItem(Node("Zed"));
    form.DirTree->expandItem(Node("Beta"));
    form.DirTree->setCurrentItem(test::ChildNamed(Node("Beta"), "Inner"));
    fs::create_directories(Lib() / "Beta" / "Anew");
    form.Library().ReloadTree();
    test::WaitForLibrary(form);
    ASSERT_NE(form.DirTree->currentItem(), nullptr);
    EXPECT_EQ(NodeFolderPath(form.DirTree->currentItem()).Display(),
              ToQ(Lib() / "Beta" / "Inner") + "/");
    EXPECT_TRUE(Node("Zed")->isExpanded());
    EXPECT_TRUE(Node("Beta")->isExpanded());
    EXPECT_FALSE(Node("Mike")->isExpanded());
    EXPECT_EQ(Captions(Node("Beta")), QStringList({"Anew", "Inner"})) << "and reads anew";

    // Collapsing an ancestor of the selection stays collapsed and takes the selection.
    form.DirTree->collapseItem(root);
    PumpFor(50);
    EXPECT_FALSE(root->isExpanded());
    EXPECT_EQ(form.DirTree->currentItem(), root);
    form.DirTree->expandItem(root);
    form.DirTree->setCurrentItem(Node("Mike"));
    form.DirTree->collapseItem(Node("Zed"));
    EXPECT_FALSE(Node("Zed")->isExpanded());
    EXPECT_EQ(form.DirTree->currentItem(), Node("Mike")) << "a collapse elsewhere changes nothing";

    // A long folder name is read by scrolling sideways.
    EXPECT_GT(form.DirTree->horizontalScrollBar()->maximum(), 0);
    form.RandomBtn->setChecked(false);
    form.DirTree->setCurrentItem(root);
    test::FillSelected(form, true);
    test::WaitForLibrary(form);
    EXPECT_EQ(form.PlayFileList->count(), 4) << "a recursive list leaves hidden folders out too";
}

TEST_F(WindowKeepsPlaceTest, DeletingOrKeepingEntriesKeepsTheCurrentSongCurrent) {
    // current row, key, selected row, current after (-1: none), entries left
    const std::vector<std::tuple<int, Qt::Key, int, int, int>> cases{
        {2, Qt::Key_Delete, 0, 1, 3}, {2, Qt::Key_Delete, 2, -1, 3}, {1, Qt::Key_Delete, 3, 1, 3},
        {2, Qt::Key_Insert, 2, 0, 1}, {2, Qt::Key_Insert, 1, -1, 1},
    };
    form_ = ScannedForm();
    for (const auto& [current, key, selected, after, left] : cases) {
        FillFrom(*form_, "Quartet");
        while (form_->PlayList().CurrentIndex() < current)
            form_->PlayList().SelectNext();
        const QString playing = form_->PlayFileList->item(current)->text();
        form_->PlayFileList->setCurrentRow(selected);
        QTest::keyClick(form_->PlayFileList, key);
        ASSERT_EQ(form_->PlayFileList->count(), left);
        EXPECT_EQ(form_->PlayList().CurrentIndex(), after)
            << current << " " << key << " " << selected;
        if (after >= 0) {
            EXPECT_EQ(form_->PlayFileList->item(after)->text(), playing);
        }
    }
}

TEST(PositionText, ShowsElapsedAndTotalAsAClock) {
    const std::vector<std::tuple<qint64, qint64, QString>> cases{
        {0, 0, "0:00/0:00"},
        {5999, 65000, "0:05/1:05"},
        {-20, 600000, "0:00/10:00"},
        {3725000, 7200000, "1:02:05/2:00:00"},
    };
    for (const auto& [elapsed, total, text] : cases)
        EXPECT_EQ(PositionText(elapsed, total), text) << elapsed << " " << total;
}

TEST_F(WindowKeepsPlaceTest, SeekKeysAndThePositionBarStepFiveSecondsAndTheTimeShows) {
    AddSong("Long", "long.mp3", "Long", 12.0);
    TMainForm& form = Shown();
    form.DirTree->setCurrentItem(Node("Long"));
    form.OpenFolder(false);
    test::WaitForLibrary(form);
    ASSERT_TRUE(PumpUntil([&] { return form.MP3Player->Position() > 0; }));
    QTest::keyClick(form.CommandEdit, Qt::Key_Right, Qt::AltModifier);
    EXPECT_GE(form.MP3Player->Position(), 5000) << "Alt+Right";
    EXPECT_LT(form.MP3Player->Position(), 7000);
    QTest::keyClick(form.CommandEdit, Qt::Key_Left, Qt::AltModifier);
    EXPECT_LT(form.MP3Player->Position(), 3000) << "Alt+Left";
    QTest::keyClick(form.CommandEdit, Qt::Key_Left, Qt::AltModifier);
    EXPECT_GE(form.MP3Player->Position(), 0) << "not before the start";
    EXPECT_EQ(form.MP3Player->Status(), mpsPlaying);

    ASSERT_TRUE(PumpUntil([&] { return form.PosBar->value() < 3000; })) << "the bar follows";
    form.PosBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_GE(form.MP3Player->Position(), 5000) << "a click on the bar's arrow";
    EXPECT_LT(form.MP3Player->Position(), 7000);
    // The song plays on meanwhile: a loaded machine may show a second or two more.
    const QRegularExpression shown("^0:0[5-8]/0:12$");
    EXPECT_TRUE(PumpUntil([&] { return shown.match(form.PosTime->text()).hasMatch(); }))
        << form.PosTime->text().toStdString();
}

TEST_F(WindowKeepsPlaceTest, EnterInTheFolderMenuPlaysThatSongAndALongMenuScrollsInOneColumn) {
    TMainForm& form = Shown();
    form.DirTree->setCurrentItem(Node("Quartet"));
    QTest::keyClick(form.CommandEdit, Qt::Key_Tab);
    ASSERT_TRUE(PumpUntil([&] { return form.DirFileListMenu->isVisible(); }));
    // The menu acts on the folder it lists, wherever the tree's selection went meanwhile.
    form.DirTree->setCurrentItem(Node("Zed"));
    QTest::keyClick(form.DirFileListMenu, Qt::Key_Down);
    QTest::keyClick(form.DirFileListMenu, Qt::Key_Down);
    QTest::keyClick(form.DirFileListMenu, Qt::Key_Return);
    EXPECT_TRUE(PumpUntil([&] { return form.MP3Player->Status() == mpsPlaying; }));
    EXPECT_EQ(form.MP3Player->FileName(), (Lib() / "Quartet" / "One.mp3").string())
        << "the second of Four, One, Three, Two";
    EXPECT_EQ(form.PlayList().CurrentIndex(), 1);
    form.Playback().StopBtnClick();

    fs::create_directories(Lib() / "Many");
    for (int i = 0; i < 400; ++i)
        std::ofstream(Lib() / "Many" / ("song " + std::to_string(1000 + i) + ".mp3"));
    form.Library().ReloadTree();
    test::WaitForLibrary(form);
    form.DirTree->setCurrentItem(Node("Many"));
    QTest::keyClick(form.CommandEdit, Qt::Key_Tab);
    ASSERT_TRUE(PumpUntil([&] { return form.DirFileListMenu->isVisible(); }));
    const QList<QAction*> items = form.DirFileListMenu->actions();
    ASSERT_EQ(items.size(), 400);
    EXPECT_EQ(form.DirFileListMenu->actionGeometry(items.first()).x(),
              form.DirFileListMenu->actionGeometry(items.last()).x());
    EXPECT_LE(form.DirFileListMenu->width(), form.screen()->geometry().width() / 2);
    form.DirFileListMenu->close();
}

TEST(Newcomer, TheEmptyWindowSaysHowToAddMusicAndHelpAndUnknownCommandsAnswer) {
    test::TempDir dir;
    TMainForm form(ToQ(dir / "pelbrisk.ini"));
    form.resize(360, 300);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QImage tree = form.DirTree->viewport()->grab().toImage();
    int inked = 0;
    for (int y = 0; y < tree.height(); ++y)
        for (int x = 0; x < tree.width(); ++x)
            inked += qGray(tree.pixel(x, y)) < 200;
    EXPECT_GT(inked, 100) << "the empty tree carries a text";
    EXPECT_TRUE(form.CommandEdit->placeholderText().contains(":help"));

    const std::vector<std::pair<QString, QString>> commands{
        {":help", ":reload"}, {":h", "Alt+Left"}, {"HELP:", "drop"}};
    for (const auto& [typed, shown] : commands) {
        test::TBoxAnswer answer(QMessageBox::Ok);
        QTest::keyClicks(form.CommandEdit, typed);
        QTest::keyClick(form.CommandEdit, Qt::Key_Return);
        EXPECT_TRUE(answer.Text().contains(shown, Qt::CaseInsensitive)) << typed.toStdString();
    }
    QTest::keyClicks(form.CommandEdit, ":xyz");
    QTest::keyClick(form.CommandEdit, Qt::Key_Return);
    EXPECT_EQ(form.CommandEdit->text(), "");
    EXPECT_TRUE(form.CommandEdit->placeholderText().contains(":xyz")) << "says it is unknown";
    QTest::keyClicks(form.CommandEdit, "a");
    EXPECT_TRUE(form.CommandEdit->placeholderText().contains(":help")) << "until the next typing";
}

} // namespace
} // namespace pelbrisk
