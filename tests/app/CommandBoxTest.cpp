// The command box, driven by real key presses: commands by prefix, the incremental search of
// the folder tree with its wrap-around and deep search, and every key of the box.
#include "app/MainForm.h"
#include "app/TreeNodeList.h"
#include "app/TreeSearch.h"
#include "tests/app/FormTestSupport.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <tuple>
#include <vector>

namespace pelbrisk {
namespace {

using test::PumpFor;
using test::PumpUntil;

// lib: Jazz (a song), Music (a song; Blues), Rock (a song; Live with a song), Roots.
class CommandBoxTest : public test::TFormFixture {
protected:
    void SetUp() override {
        AddSong("Jazz", "j.mp3", "JazzSong");
        AddSong("Music", "m.mp3", "MusicSong");
        std::filesystem::create_directories(Lib() / "Music" / "Blues");
        AddSong("Rock", "r.mp3", "RockSong");
        AddSong("Rock/Live", "l.mp3", "LiveSong");
        std::filesystem::create_directories(Lib() / "Roots");
        form_ = ScannedForm();
    }
    void TearDown() override { form_->Playback().StopBtnClick(); }

    TMainForm& Form() { return *form_; }
    QLineEdit* Box() { return form_->CommandEdit; }
    QTreeWidgetItem* Node(const QString& caption) { return Folder(*form_, caption); }
    QTreeWidgetItem* Live() { return test::ChildNamed(Node("Rock"), "Live"); }
    QTreeWidgetItem* Root() { return form_->Library().RootNodes().Items(0); }
    QTreeWidgetItem* Selected() { return form_->DirTree->currentItem(); }
    void Select(QTreeWidgetItem* node) { form_->DirTree->setCurrentItem(node); }
    void Type(const QString& text) {
        QTest::keyClicks(Box(), text);
        test::WaitForLibrary(*form_);
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(Box(), key, modifiers);
        test::WaitForLibrary(*form_);
    }
    // Types a command and runs it with Enter.
    void Command(const QString& text) {
        Type(text);
        Key(Qt::Key_Return);
    }

    std::unique_ptr<TMainForm> form_;
};

TEST_F(CommandBoxTest, TypingSearchesTheSiblingsAndWrapsAround) {
    Select(Node("Music"));
    Type("ro");
    EXPECT_EQ(Selected(), Node("Rock"));
    Key(Qt::Key_Insert);
    EXPECT_EQ(Box()->text(), "");
    EXPECT_EQ(Selected(), Node("Rock")) << "clearing keeps the folder";
    Type("z");
    EXPECT_EQ(Selected(), Node("Jazz")) << "the walk wraps past the last sibling";
    Type("q");
    EXPECT_EQ(Selected(), Node("Jazz")) << "no match: the selection stays";
    Key(Qt::Key_Insert);
    Type("ZZ");
    EXPECT_EQ(Selected(), Node("Jazz")) << "letters match without regard to case";
}

TEST_F(CommandBoxTest, ASlashSearchesTheWholeTree) {
    Select(Node("Jazz"));
    Type("/live");
    EXPECT_EQ(Selected(), Live());
    Key(Qt::Key_Insert);
    Select(Node("Jazz"));
    Type("live");
    EXPECT_EQ(Selected(), Node("Jazz")) << "without the slash only siblings are searched";
    Key(Qt::Key_Insert);
    Type("b/l");
    EXPECT_EQ(Selected(), Node("Music")->child(0)) << "the slash may stand anywhere";
}

// What the box says of a search, by the text typed from Jazz: the folder found, or "no match"
// (and then Enter does nothing). Accents and case do not count, nor letters written as two.
TEST_F(CommandBoxTest, ASearchFoldsAccentsAndSaysWhenNothingMatches) {
    std::filesystem::create_directories(Lib() / "Music" / "Sigur Rós" / "Ágætis byrjun");
    std::filesystem::create_directories(Lib() / "Straße");
    Command(":reload");
    const std::vector<std::pair<QString, QString>> cases{
        {"/agaetis", "Ágætis byrjun"},
        {"/GAETIS BYR", "Ágætis byrjun"},
        {"/ros", "Sigur Rós"},
        {"strasse", "Straße"},
        {"STRAßE", "Straße"},
        {"/zzz", ""},
        {"live", ""},
        {"jaz", "Jazz"},
    };
    QLabel* said = Box()->findChild<QLabel*>();
    ASSERT_NE(said, nullptr);
    for (const auto& [typed, found] : cases) {
        SCOPED_TRACE(typed.toStdString());
        Select(Node("Jazz"));
        Type(typed);
        EXPECT_EQ(Form().CommandBox().NoMatch(), found.isEmpty());
        EXPECT_EQ(said->isVisibleTo(&Form()) && said->text() == "no match", found.isEmpty());
        if (!found.isEmpty()) {
            EXPECT_EQ(Selected()->text(0), found);
        } else {
            EXPECT_EQ(Selected(), Node("Jazz")) << "the selection stays";
            Key(Qt::Key_Return);
            EXPECT_EQ(Box()->text(), typed) << "Enter does nothing";
            EXPECT_EQ(Form().PlayFileList->count(), 0);
        }
        Key(Qt::Key_Insert);
        EXPECT_FALSE(said->isVisibleTo(&Form()));
    }
}

// Folders a search opened only to show a candidate close again when it moves on.
TEST_F(CommandBoxTest, FoldersOpenedForACandidateCloseWhenTheSearchMovesOn) {
    Select(Node("Jazz"));
    Type("/liv");
    ASSERT_EQ(Selected(), Live());
    EXPECT_TRUE(Node("Rock")->isExpanded());
    for (int i = 0; i < 3; ++i)
        Key(Qt::Key_Backspace);
    Type("bl");
    EXPECT_EQ(Selected(), Node("Music")->child(0));
    EXPECT_FALSE(Node("Rock")->isExpanded());
    EXPECT_TRUE(Node("Music")->isExpanded());
    Key(Qt::Key_Return);
    EXPECT_TRUE(Node("Music")->isExpanded()) << "what the search ended on stays open";
}

TEST_F(CommandBoxTest, UpAndDownStepAndWrapWithAnEmptyBox) {
    Select(Node("Jazz"));
    Key(Qt::Key_Up);
    EXPECT_EQ(Selected(), Node("Roots")) << "up from the first sibling gives the last";
    Key(Qt::Key_Down);
    EXPECT_EQ(Selected(), Node("Jazz"));
    Key(Qt::Key_PageDown);
    EXPECT_EQ(Selected(), Node("Music"));
    Key(Qt::Key_PageUp);
    EXPECT_EQ(Selected(), Node("Jazz"));

    Select(Root());
    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Selected(), Node("Roots")) << "Ctrl+Up on the first node gives the tree's last";
    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Selected(), Live()) << "back in the full order: the deepest last child";
    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Selected(), Node("Rock"));
    Key(Qt::Key_Down, Qt::ControlModifier);
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Selected(), Node("Roots")) << "forward leaves a branch for the next sibling up";
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Selected(), Root()) << "from the last node back to the first";

    form_->DirTree->setCurrentItem(nullptr);
    Key(Qt::Key_Down);
    EXPECT_EQ(Selected(), Root()) << "without a selection the first node";
}

TEST_F(CommandBoxTest, UpAndDownWithTextFindTheNextMatch) {
    Select(Node("Rock"));
    Type("ro");
    ASSERT_EQ(Selected(), Node("Rock"));
    Key(Qt::Key_Down);
    EXPECT_EQ(Selected(), Node("Roots"));
    Key(Qt::Key_Down);
    EXPECT_EQ(Selected(), Node("Rock")) << "wraps to the only other match";
    Key(Qt::Key_Up);
    EXPECT_EQ(Selected(), Node("Roots"));

    Key(Qt::Key_Insert);
    Type("live");
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Selected(), Live()) << "Ctrl searches the whole tree";
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Selected(), Live()) << "no other match: back where the walk began";
}

TEST_F(CommandBoxTest, AKeyPressedInTheTreeActsOnceInTheBox) {
    Root()->setExpanded(true);
    Select(Node("Jazz"));
    QTest::keyClick(form_->DirTree, Qt::Key_Down);
    test::WaitForLibrary(*form_);
    QCoreApplication::processEvents();
    EXPECT_EQ(Selected(), Node("Music")) << "one folder on, not two";
}

TEST(CommandBoxEmptyTree, SearchAndStepFindNothing) {
    test::TempDir dir;
    TMainForm form(test::ToQ(dir / "pelbrisk.ini"));
    EXPECT_EQ(StepNode(*form.DirTree, nullptr, false, true), nullptr);
    EXPECT_EQ(SearchNode(*form.DirTree, "x", true, false, false, nullptr), nullptr);
    QTest::keyClicks(form.CommandEdit, "abc");
    QTest::keyClick(form.CommandEdit, Qt::Key_Down);
    QTest::keyClick(form.CommandEdit, Qt::Key_Return);
    EXPECT_EQ(form.DirTree->currentItem(), nullptr);
}

TEST_F(CommandBoxTest, EnterOpensTheSelectedFolderAndStepsIntoIt) {
    Select(Node("Jazz"));
    Type("ro");
    Key(Qt::Key_Return);
    EXPECT_EQ(Box()->text(), "");
    ASSERT_EQ(Form().PlayFileList->count(), 1);
    EXPECT_EQ(Form().PlayFileList->item(0)->text(), "01-RockSong");
    EXPECT_EQ(Form().MP3Player->Status(), mpsPlaying);
    EXPECT_EQ(Selected(), Live()) << "the opened folder's first child is selected";

    Key(Qt::Key_Return);
    EXPECT_EQ(Form().PlayFileList->item(0)->text(), "01-LiveSong");
    EXPECT_EQ(Selected(), Live()) << "a folder without children stays selected";

    Select(Node("Roots"));
    Key(Qt::Key_Return);
    EXPECT_EQ(Form().PlayFileList->item(0)->text(), "01-LiveSong") << "no songs: nothing opens";

    Form().DirTree->setCurrentItem(nullptr);
    Key(Qt::Key_Return);
    EXPECT_EQ(Selected(), Root()) << "without a selection Enter selects the first root";
}

TEST_F(CommandBoxTest, RightOpensOnlyFromAnEmptyBox) {
    Select(Node("Jazz"));
    Type("jaz");
    Box()->setCursorPosition(0);
    Key(Qt::Key_Right);
    EXPECT_EQ(Box()->text(), "jaz");
    EXPECT_EQ(Box()->cursorPosition(), 1) << "the caret still moves";
    EXPECT_EQ(Form().PlayFileList->count(), 0);

    Key(Qt::Key_Insert);
    Key(Qt::Key_Right);
    ASSERT_EQ(Form().PlayFileList->count(), 1);
    EXPECT_EQ(Form().PlayFileList->item(0)->text(), "01-JazzSong");
}

TEST_F(CommandBoxTest, CtrlShiftEnterOpensRecursivelyAndShiftEnterPlaysTheListEntry) {
    Select(Node("Rock"));
    Key(Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
    QStringList captions;
    for (int i = 0; i < Form().PlayFileList->count(); ++i)
        captions << Form().PlayFileList->item(i)->text();
    EXPECT_EQ(captions, QStringList({"01-LiveSong", "02-RockSong"}));

    Key(Qt::Key_Down, Qt::ShiftModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form().PlayFileList->currentRow(), 1) << "Shift+Down moves the list's selection";
    EXPECT_EQ(Selected(), Live()) << "and not the tree's";
    Key(Qt::Key_Return, Qt::ShiftModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form().PlayList().CurrentIndex(), 1);
    EXPECT_EQ(Form().MP3Player->FileName(), (Lib() / "Rock" / "r.mp3").string());

    Key(Qt::Key_F1, Qt::ShiftModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form().MP3Player->FileName(), (Lib() / "Rock" / "Live" / "l.mp3").string());

    // The line editor's own Shift keys select, cut and paste in the box and leave the list alone.
    QGuiApplication::clipboard()->setText("pasted");
    const std::vector<std::tuple<QString, int, Qt::Key, QString, QString>> editing{
        // text, cursor, key, text after, selection after
        {"abc", 3, Qt::Key_Home, "abc", "abc"},      {"abc", 0, Qt::Key_End, "abc", "abc"},
        {"abc", 3, Qt::Key_Left, "abc", "c"},        {"abc", 1, Qt::Key_Right, "abc", "b"},
        {"abc", 3, Qt::Key_Insert, "abcpasted", ""},
    };
    for (const auto& [text, cursor, key, after, selected] : editing) {
        Box()->setText(text);
        Box()->setCursorPosition(cursor);
        Key(key, Qt::ShiftModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(Box()->text(), after) << key;
        EXPECT_EQ(Box()->selectedText(), selected) << key;
        EXPECT_EQ(Form().PlayFileList->count(), 2) << key;
    }
    Box()->setText("cut me");
    Box()->selectAll();
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "cut me") << "Shift+Delete cuts";
    EXPECT_EQ(Form().PlayFileList->count(), 2) << "and deletes no list entry";
    EXPECT_EQ(Form().Library().RootNodes().Count(), 1) << "and asks nothing about the tree";
}

TEST_F(CommandBoxTest, CommandsMatchByPrefixInTableOrder) {
    Select(Node("Jazz"));
    Key(Qt::Key_Return); // opens Jazz and plays it
    ASSERT_EQ(Form().MP3Player->Status(), mpsPlaying);

    Command(":pa");
    EXPECT_EQ(Form().MP3Player->Status(), mpsPaused) << "pa is pause";
    EXPECT_EQ(Box()->text(), "");
    Command(":st");
    EXPECT_EQ(Form().MP3Player->Status(), mpsStopped);
    Command("P:");
    EXPECT_EQ(Form().MP3Player->Status(), mpsPlaying) << "p is play, the colon anywhere";
    Command(":play ");
    EXPECT_EQ(Form().MP3Player->Status(), mpsPlaying) << "a trailing blank matches nothing";
    EXPECT_EQ(Box()->text(), "");
    Command(":xyz");
    EXPECT_EQ(Box()->text(), "");
    EXPECT_EQ(Form().MP3Player->Status(), mpsPlaying);

    Form().VolBar->setValue(50);
    Command(":-");
    EXPECT_EQ(Form().MP3Player->Volume(), 40);
    Command(":+");
    Command(":+v");
    EXPECT_EQ(Form().MP3Player->Volume(), 60);

    Command(":e");
    EXPECT_TRUE(Node("Rock")->isExpanded()) << "e is expand, before exit";
    Command(":c");
    EXPECT_FALSE(Node("Rock")->isExpanded());
    EXPECT_FALSE(Root()->isExpanded());
}

// A folder opened from outside the library, and a saved one that was not there at the start, are
// each saved once when added.
TEST_F(CommandBoxTest, AddingAShownOrMissingFolderSavesItOnce) {
    const auto later = dir_ / "Later";
    form_ = ScannedForm("root = " + later.string() + "\n");
    const auto outside = dir_ / "Outside";
    std::filesystem::create_directories(outside);
    std::filesystem::create_directories(later);
    Form().Library().ShowFolderAddingRoot(TFilePath(outside.string()));
    test::WaitForLibrary(Form());
    for (const auto& folder : {outside, later}) {
        Command(":add " + test::ToQ(folder));
        const std::vector<TFilePath> saved = Form().Library().RootPaths();
        EXPECT_EQ(std::count_if(saved.begin(), saved.end(),
                                [&](const TFilePath& root) {
                                    return ExpandedRoot(root).Cleaned() ==
                                           TFilePath(folder.string()).Cleaned();
                                }),
                  1)
            << folder;
    }
}

// :add takes a folder typed after it ("~" is the home folder) or chosen in a dialog; what cannot be
// added is told. :repeat, :random and :send turn their toggles, which show plainly when they are
// down; :pitch sets the pitch, or puts it back to 100%.
TEST_F(CommandBoxTest, AddAndTheToggleAndPitchCommands) {
    const QByteArray home = qgetenv("HOME");
    const auto restore = qScopeGuard([&] { qputenv("HOME", home); });
    qputenv("HOME", QByteArray::fromStdString(dir_.Path().string()));
    std::filesystem::create_directories(dir_ / "Tunes" / "Inner");
    std::filesystem::create_directories(dir_ / "Chosen" / "Deep");
    struct TCase {
        QString Command;
        QString Chosen;
        QString Root;
        QString Told;
    };
    const TCase cases[] = {
        {":add ~/Tunes", "", "Tunes", ""},
        {":add Tunes", "", "", test::ToQ(dir_ / "Tunes") + " is a music folder already"},
        {":add /no/such", "", "", "no such folder: /no/such"},
        {":add", test::ToQ(dir_ / "Chosen"), "Chosen", ""},
        {":add", "", "", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Command.toStdString() + " " + c.Chosen.toStdString());
        Form().Desktop().ShowNotice(QString());
        const int roots = Form().Library().RootNodes().Count();
        QTimer chooser;
        chooser.setSingleShot(true);
        QObject::connect(&chooser, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr) << "a folder chooser";
            if (c.Chosen.isEmpty()) return dialog->reject();
            dialog->setDirectory(c.Chosen);
            // QFileDialog keeps its own accept() protected; the dialog's is the same call.
            static_cast<QDialog*>(dialog)->accept();
        });
        if (c.Command == ":add") chooser.start(50);
        Command(c.Command);
        EXPECT_EQ(Form().Library().RootNodes().Count(), roots + !c.Root.isEmpty());
        if (!c.Root.isEmpty()) {
            ASSERT_NE(Selected(), nullptr);
            EXPECT_EQ(Selected()->text(0), c.Root) << "the new folder is selected";
            EXPECT_EQ(Selected()->childCount(), 1) << "and scanned";
            EXPECT_TRUE(Selected()->isExpanded()) << "its folders show";
        }
        EXPECT_EQ(Form().Desktop().LastNotice(), c.Told);
    }

    const std::vector<std::pair<QString, QToolButton*>> toggles{
        {":repeat", Form().RepeatAllBtn}, {":ra", Form().RandomBtn}, {":send", Form().SendListBtn}};
    for (const auto& [command, toggle] : toggles) {
        const QImage up = toggle->grab().toImage();
        Command(command);
        EXPECT_TRUE(toggle->isChecked()) << command.toStdString();
        const QImage down = toggle->grab().toImage();
        const QColor highlight = toggle->palette().color(QPalette::Highlight);
        int marked = 0;
        for (int y = 0; y < down.height(); ++y)
            for (int x = 0; x < down.width(); ++x)
                marked += down.pixelColor(x, y) == highlight && up.pixelColor(x, y) != highlight;
        EXPECT_GT(marked, down.width() * down.height() / 3) << "down shows plainly";
    }
    Command(":repeat");
    EXPECT_TRUE(Form().RepeatAllBtn->isChecked()) << "while sending, repeat waits";
    EXPECT_TRUE(Form().Desktop().LastNotice().contains(":send"));
    Command(":send");
    Command(":repeat");
    EXPECT_FALSE(Form().RepeatAllBtn->isChecked());

    Command(":pitch 115");
    EXPECT_EQ(Form().PitchBar->value(), 115);
    EXPECT_EQ(Form().PitchValue->text(), "115%");
    Command(":pi");
    EXPECT_EQ(PitchPercent.load(), 100);
    EXPECT_EQ(Form().PitchValue->text(), "100%");
}

TEST_F(CommandBoxTest, AColonAloneReloadsTheTree) {
    std::filesystem::create_directories(Lib() / "Blues");
    Command(":");
    EXPECT_NE(Node("Blues"), nullptr);
    EXPECT_EQ(Box()->text(), "");
}

TEST_F(CommandBoxTest, ExiAndQuitCloseTheWindow) {
    Form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
    Type("exi");
    Key(Qt::Key_Return);
    EXPECT_TRUE(Form().isVisible()) << "no colon, no command";
    Key(Qt::Key_Insert);
    Command(":exi");
    EXPECT_FALSE(Form().isVisible());

    Form().show();
    Command(":quit");
    EXPECT_FALSE(Form().isVisible());
    Form().show();
    Command(":by");
    EXPECT_FALSE(Form().isVisible());
}

TEST_F(CommandBoxTest, BackspaceAndLeftGoToTheParentOnlyFromAnEmptyBox) {
    Select(Live());
    Type("x");
    Key(Qt::Key_Left);
    EXPECT_EQ(Selected(), Live()) << "with text Left only moves the caret";
    EXPECT_EQ(Box()->cursorPosition(), 0);
    Key(Qt::Key_End);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Box()->text(), "") << "the box's own editing still runs";
    EXPECT_EQ(Selected(), Live());
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Selected(), Node("Rock"));
    Key(Qt::Key_Left);
    EXPECT_EQ(Selected(), Root());
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Selected(), nullptr) << "at a root the selection is cleared";
    EXPECT_TRUE(Form().DirTree->selectedItems().isEmpty());
}

TEST_F(CommandBoxTest, TabShowsTheFoldersSongsAtTheNode) {
    Form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
    Select(Node("Rock"));
    Key(Qt::Key_Tab);
    ASSERT_TRUE(PumpUntil([&] { return Form().DirFileListMenu->isVisible(); }));
    EXPECT_EQ(Box()->text(), "") << "the tab character is not typed";
    QStringList items;
    for (const QAction* item : Form().DirFileListMenu->actions())
        items << item->text();
    EXPECT_EQ(items, QStringList({"01-RockSong"}));
    const QRect caption = Form().DirTree->visualItemRect(Node("Rock"));
    EXPECT_EQ(Form().DirFileListMenu->pos(),
              Form().DirTree->viewport()->mapToGlobal(caption.bottomLeft()));
    Form().DirFileListMenu->close();

    Form().DirTree->setCurrentItem(nullptr);
    Key(Qt::Key_Tab);
    PumpFor(50);
    EXPECT_FALSE(Form().DirFileListMenu->isVisible()) << "no folder, no menu";
}

TEST_F(CommandBoxTest, TabsKeepTheFocusAndPauseMovesItToThePlayList) {
    Form().show();
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
    Box()->setFocus();
    ASSERT_TRUE(PumpUntil([&] { return Box()->hasFocus(); }));
    Form().DirTree->setCurrentItem(nullptr); // no menu to take the focus
    Key(Qt::Key_Tab);
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    PumpFor(50);
    EXPECT_TRUE(Box()->hasFocus()) << "tabs are keys of the box, not focus moves";
    Key(Qt::Key_Pause);
    EXPECT_TRUE(PumpUntil([&] { return Form().PlayFileList->hasFocus(); }));
}

TEST_F(CommandBoxTest, DeleteAsksToRemoveOnlyARoot) {
    Select(Node("Jazz"));
    Key(Qt::Key_Delete);
    EXPECT_NE(Node("Jazz"), nullptr) << "a sub-folder is not removed";
    Select(Root());
    {
        test::TBoxAnswer answer(QMessageBox::No);
        Key(Qt::Key_Delete);
        EXPECT_TRUE(answer.Text().contains("\"lib\"")) << answer.Text().toStdString();
    }
    EXPECT_EQ(Form().Library().RootNodes().Count(), 1);
    {
        test::TBoxAnswer enter(QMessageBox::NoButton);
        Key(Qt::Key_Delete);
        EXPECT_TRUE(enter.Text().contains("No file on disk is touched."));
    }
    EXPECT_EQ(Form().Library().RootNodes().Count(), 1) << "Enter answers No";

    // A Delete that erases a typed character asks nothing: "demx", Left, Delete gives "dem".
    {
        test::TBoxAnswer answer(QMessageBox::Yes);
        Type("demx");
        Key(Qt::Key_Left);
        Key(Qt::Key_Delete);
        EXPECT_EQ(Box()->text(), "dem");
        Box()->selectAll();
        Key(Qt::Key_Delete);
        EXPECT_EQ(Box()->text(), "");
        PumpFor(100);
        EXPECT_EQ(answer.Text(), "") << "no question while there was text to delete";
    }
    EXPECT_EQ(Form().Library().RootNodes().Count(), 1);
    {
        test::TBoxAnswer answer(QMessageBox::Yes);
        Key(Qt::Key_Delete);
    }
    EXPECT_EQ(Form().Library().RootNodes().Count(), 0);
}

} // namespace
} // namespace pelbrisk
