// A library large enough that scanning it and filling the play list from it take a while: the
// window's thread keeps turning its event loop meanwhile, the result is what a scan on the spot
// gives, Esc gives the scan up, and keys typed during it still apply after it.
#include "app/AudioFileInfo.h"
#include "app/FolderScan.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/HungFolder.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <cstdio>

namespace pelbrisk {
namespace {

namespace fs = std::filesystem;
using test::ToQ;

// Each node's caption, indented by its depth, in the order the tree shows them.
void TreeOrder(const QTreeWidgetItem* node, const QString& indent, QStringList& order) {
    for (int i = 0; i < node->childCount(); ++i) {
        order << indent + node->child(i)->text(0);
        TreeOrder(node->child(i), indent + ' ', order);
    }
}

QStringList TreeOrder(const QTreeWidgetItem* node) {
    QStringList order;
    TreeOrder(node, "", order);
    return order;
}

QStringList Captions(const QListWidget* list) {
    QStringList captions;
    for (int row = 0; row < list->count(); ++row)
        captions << list->item(row)->text();
    return captions;
}

class LargeLibraryTest : public test::TFormFixture {};

TEST_F(LargeLibraryTest, ScanAndFillLeaveTheLoopTurningAndEndAsAScanOnTheSpot) {
    for (int artist = 0; artist < 20; ++artist)
        for (int album = 0; album < 99; ++album)
            fs::create_directories(Lib() / "many" / ("Artist " + std::to_string(artist)) /
                                   ("Album " + std::to_string(album)));
    const fs::path song = test::TaggedSong("Song");
    fs::create_directories(Lib() / "songs");
    for (int i = 0; i < 2000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%04d song.mp3", 2000 - i);
        fs::create_hard_link(song, Lib() / "songs" / name);
    }
    std::ofstream(dir_ / "pelbrisk.ini") << "root = " << Lib().string() << "\t\n";
    TMainForm form(SettingsPath());

    QTreeWidget reference;
    auto* referenceRoot = new TDirNode(&reference, QStringList{"lib"});
    ScanFolders(TFilePath(Lib().string()), referenceRoot);
    reference.sortItems(0, Qt::AscendingOrder);

    const test::TLoopTurns scan = test::MeasureLoopTurns(
        [&] { form.Library().BuildTree(); }, [&] { return !form.LibraryJobs().Busy(); });
    EXPECT_LT(scan.LongestGapMs, scan.WholeMs / 2) << scan.WholeMs << " ms in all";
    EXPECT_GE(scan.Turns, 3);
    EXPECT_EQ(TreeOrder(form.Library().RootNodes().Items(0)), TreeOrder(referenceRoot));
    ASSERT_NE(form.DirTree->currentItem(), nullptr);
    EXPECT_EQ(form.DirTree->currentItem()->text(0), "many") << "the first sub-folder is selected";

    form.DirTree->setCurrentItem(test::ChildNamed(form.Library().RootNodes().Items(0), "songs"));
    const test::TLoopTurns fill = test::MeasureLoopTurns(
        [&] { test::FillSelected(form, false); }, [&] { return !form.LibraryJobs().Busy(); });
    EXPECT_LT(fill.LongestGapMs, fill.WholeMs / 2) << fill.WholeMs << " ms in all";
    EXPECT_GE(fill.Turns, 3);
    const std::vector<TFilePath> files =
        ListFolderFiles(TFilePath((Lib() / "songs").string()), false, false);
    QStringList captions;
    for (std::size_t i = 0; i < files.size(); ++i)
        captions << FileCaption(files[i], static_cast<int>(i));
    EXPECT_EQ(Captions(form.PlayFileList), captions);
    EXPECT_EQ(form.PlayFileList->item(1999)->data(kEntryPathRole).toByteArray(),
              files[1999].Bytes());
    EXPECT_EQ(form.PlayFileList->currentRow(), 0);

    // The folder menu reads the same tags, also away from the window's thread.
    const test::TLoopTurns menu =
        test::MeasureLoopTurns([&] { form.Library().PopupFolderMenu(QPoint(), false); },
                               [&] { return form.DirFileListMenu->isVisible(); });
    EXPECT_GE(menu.Turns, 3) << "the loop turns while the menu's files are read";
    EXPECT_EQ(form.DirFileListMenu->actions().size(), 2000);
    form.DirFileListMenu->close();
}

TEST_F(LargeLibraryTest, EscGivesTheScanUpAndKeysTypedMeanwhileApplyAfterIt) {
    AddSong("Jazz", "j.mp3", "JazzSong");
    fs::create_directories(Lib() / "Rock");
    auto form = ScannedForm();
    form->show();
    // Its first paint scans once more, selecting the first folder.
    ASSERT_TRUE(test::PumpUntil([&] { return form->TreeBuilt(); }));
    test::WaitForLibrary(*form);
    fs::create_directories(Lib() / "Blues");

    form->Library().ReloadTree();
    EXPECT_TRUE(form->LoadingPanel->isVisible());
    QTest::keyClicks(form->CommandEdit, "ro");
    QTest::keyClick(form->CommandEdit, Qt::Key_Escape);
    test::WaitForLibrary(*form);

    QTreeWidgetItem* root = form->Library().RootNodes().Items(0);
    EXPECT_EQ(TreeOrder(root), QStringList({"Jazz", "Rock"})) << "the tree stays as it was";
    EXPECT_FALSE(form->LoadingPanel->isVisible());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(form->CommandEdit->text(), "ro");
    EXPECT_EQ(form->DirTree->currentItem(), test::ChildNamed(root, "Rock"))
        << "the typed search ran";

    form->Library().ReloadTree();
    test::WaitForLibrary(*form);
    EXPECT_EQ(TreeOrder(root), QStringList({"Blues", "Jazz", "Rock"}));
}

// Esc during a scan caught in a folder that does not answer (a dead network mount) gives the
// window back at once, other library work goes on, and the program ends without waiting.
TEST_F(LargeLibraryTest, EscLeavesAScanCaughtInAHungFolderBehind) {
    AddSong("Jazz", "j.mp3", "JazzSong");
    fs::create_directories(Lib() / "hung");
    auto form = ScannedForm();
    const test::THungFolder hung("hung", std::chrono::seconds(5));
    form->Library().ReloadTree();
    ASSERT_TRUE(test::PumpUntil([&] { return hung.Caught(); }, 5000));
    QTest::keyClick(form->CommandEdit, Qt::Key_Escape);
    EXPECT_TRUE(form->isEnabled());
    EXPECT_TRUE(form->LoadingPanel->isHidden());
    form->DirTree->setCurrentItem(test::ChildNamed(form->Library().RootNodes().Items(0), "Jazz"));
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying) << "while the old scan still hangs";
    ASSERT_TRUE(hung.Caught());
    QElapsedTimer closing;
    closing.start();
    form.reset();
    EXPECT_LT(closing.elapsed(), 1000);
}

// Keys typed during a scan wait for it, and reach the box also when another window was activated
// meanwhile. The disabled window has no focused control: the window system gives it the keys.
TEST_F(LargeLibraryTest, KeysTypedDuringAScanReachTheBoxAfterTheFocusMovedAway) {
    AddSong("Jazz", "j.mp3", "JazzSong");
    fs::create_directories(Lib() / "Rock");
    fs::create_directories(Lib() / "hung");
    auto form = ScannedForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    test::WaitForLibrary(*form);
    test::THungFolder hung("hung", std::chrono::seconds(5));
    form->Library().ReloadTree();
    ASSERT_TRUE(test::PumpUntil([&] { return hung.Caught(); }, 5000));
    QTest::keyClicks(form.get(), "ro");
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    hung.Release();
    test::WaitForLibrary(*form);
    EXPECT_EQ(form->CommandEdit->text(), "ro");
    EXPECT_EQ(form->DirTree->currentItem(),
              test::ChildNamed(form->Library().RootNodes().Items(0), "Rock"));
}

} // namespace
} // namespace pelbrisk
