// Playback control in the main window, on the null audio device: which entry plays next, what
// the end of a song starts, the transport buttons and their short-cuts, the bars, the caption of
// the song now playing, the notification icon and the hot keys' actions.
#include "app/GetLyrics.h"
#include "app/MainForm.h"
#include "app/MprisClient.h"
#include "app/OtherAppCtrl.h"
#include "app/PositionText.h"
#include "app/ShuffleOrder.h"
#include "app/TrayIcon.h"
#include "tests/app/FormTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <set>

namespace pelbrisk {
namespace {

using test::PumpFor;
using test::PumpUntil;
using test::RecordStarts;

// Stands in for Winamp: the window is always there and takes every message, or refuses them all.
class TRecordingTransport final : public IRemotePlayerTransport {
public:
    bool Accepts = true;
    struct TMessage {
        std::uint32_t Message;
        std::uintptr_t WParam;
        std::intptr_t LParam;
        bool operator==(const TMessage&) const = default;
    };
    std::vector<TMessage> Sent;

    TRemoteWindow FindWindowByClass(const std::string&) override { return 1; }
    std::intptr_t SendMessage(TRemoteWindow, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override {
        Sent.push_back({message, wParam, message == WM_COPYDATA ? 0 : lParam});
        return Accepts ? 1 : 0;
    }
    TDdeInstance DdeInitialize() override { return 0; }
    TDdeConversation DdeConnect(TDdeInstance, const std::string&, const std::string&) override {
        return 0;
    }
    bool DdeExecute(TDdeInstance, TDdeConversation, const std::vector<std::uint8_t>&, std::uint32_t,
                    std::uint32_t) override {
        return false;
    }
    void DdeDisconnect(TDdeInstance, TDdeConversation) override {}
    void DdeUninitialize(TDdeInstance) override {}
};

class PlaybackTest : public test::TFormFixture {
protected:
    void SetUp() override {
        AddSong("Trio", "1.mp3", "One");
        AddSong("Trio", "2.mp3", "Two");
        AddSong("Trio", "3.mp3", "Three");
        AddSong("Long", "long.mp3", "Long", 3.0);
    }
    void TearDown() override {
        PitchPercent = 100;
        QGuiApplication::setApplicationDisplayName(QString());
    }

    // A window in send mode on Trio whose other players are `players`; `answers` counts the
    // commands they have answered.
    std::unique_ptr<TMainForm> SendModeForm(TRecordingTransport& players, int& answers) {
        auto form = ScannedForm();
        form->Playback().OtherPlayers().Use(std::make_shared<TOtherAppCtrl>(players));
        FillFrom(*form, "Trio");
        form->SendListBtn->click();
        test::WaitForLibrary(*form);
        QObject::connect(&form->Playback().OtherPlayers(), &TOtherPlayers::Answered,
                         [&answers](bool) { ++answers; });
        return form;
    }

    static void ShowActive(TMainForm& form, QWidget* focus) {
        form.show();
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        focus->setFocus();
        ASSERT_TRUE(PumpUntil([&] { return focus->hasFocus(); }));
    }
};

// The end of a song, the user's Next and Back, on a list of three: the entry each makes current
// (-1: none) from the one given, and whether it gives an entry to play.
TEST_F(PlaybackTest, StepsFollowTheRepeatRules) {
    auto form = ScannedForm();
    FillFrom(*form, "Trio");
    TPlayList& list = form->PlayList();
    enum TStep { SongEnds, Next, Back };
    struct TCase {
        bool Repeat;
        int From;
        TStep Step;
        int To;
        bool Plays;
    };
    const TCase cases[] = {
        {false, 0, SongEnds, 1, true}, {false, 2, SongEnds, -1, false},
        {true, 2, SongEnds, 0, true},  {false, -1, SongEnds, 0, true},
        {false, 1, Next, 2, true},     {false, 2, Next, 2, false},
        {true, 2, Next, 0, true},      {false, -1, Next, 0, true},
        {false, 2, Back, 1, true},     {false, 0, Back, 0, true},
        {true, 0, Back, 2, true},      {false, -1, Back, 0, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Step) + " from " + std::to_string(c.From) +
                     (c.Repeat ? " with repeat" : ""));
        form->RepeatAllBtn->setChecked(false);
        list.MakeCurrent(*form->PlayFileList->item(c.From < 0 ? 2 : c.From));
        if (c.From < 0) list.SelectNext(); // past the last: the list has ended
        ASSERT_EQ(list.CurrentIndex(), c.From);
        form->RepeatAllBtn->setChecked(c.Repeat);
        const QListWidgetItem* entry = c.Step == SongEnds ? list.SelectNext()
                                       : c.Step == Next   ? list.StepForward()
                                                          : list.StepBack();
        EXPECT_EQ(list.CurrentIndex(), c.To);
        EXPECT_EQ(entry, c.Plays ? form->PlayFileList->item(c.To) : nullptr);
        if (c.To < 0) {
            EXPECT_TRUE(form->PlayFileList->selectedItems().isEmpty());
        }
    }
}

TEST_F(PlaybackTest, SelectionCopesWithAListThatShrankBelowTheCurrentEntry) {
    auto form = ScannedForm();
    FillFrom(*form, "Trio");
    form->PlayList().MakeCurrent(*form->PlayFileList->item(2));
    delete form->PlayFileList->item(2);
    delete form->PlayFileList->item(1);
    EXPECT_EQ(form->PlayList().StepBack(), form->PlayFileList->item(0))
        << "back from past the end is the last entry left";
    form->PlayList().MakeCurrent(*form->PlayFileList->item(0));
    form->PlayFileList->addItem("extra");
    form->PlayList().SelectNext();
    delete form->PlayFileList->item(1);
    EXPECT_EQ(form->PlayList().SelectNext(), nullptr) << "past the end without repeat: none";
    form->PlayFileList->clear();
    EXPECT_EQ(form->PlayList().SelectNext(), nullptr);
    EXPECT_EQ(form->PlayList().StepBack(), nullptr);
    EXPECT_EQ(form->PlayList().CurrentIndex(), -1);
}

// Random play goes through every entry once per round, in a new order each round that does not
// begin with the song just heard; Back walks back through what played, and before that stays.
TEST(ShuffleOrder, EveryEntryOncePerRoundNeverTheLastOneFirst) {
    std::minstd_rand random(7);
    for (const int count : {1, 2, 3, 8}) {
        TShuffleOrder order;
        int current = -1;
        for (int round = 0; round < 6; ++round) {
            std::set<int> seen;
            for (int i = 0; i < count; ++i) {
                const int next = order.Next(current, count, random);
                if (i == 0 && count > 1) {
                    EXPECT_NE(next, current) << count << " round " << round;
                }
                seen.insert(next);
                current = next;
            }
            EXPECT_EQ(static_cast<int>(seen.size()), count) << count << " round " << round;
        }
    }
    TShuffleOrder order;
    EXPECT_EQ(order.Next(-1, 4, random, {0, 1, 3}), 2) << "only the one not skipped";
    EXPECT_EQ(order.Next(2, 4, random, {0, 1, 2, 3}), -1);
    order.Reset();
    const int first = order.Next(-1, 3, random);
    order.Played((first + 1) % 3);
    EXPECT_EQ(order.Next(first, 3, random), (first + 2) % 3) << "a chosen entry had its turn";
}

TEST_F(PlaybackTest, RandomPlaysEveryEntryOncePerRoundAndBackWalksBackThroughWhatPlayed) {
    auto form = ScannedForm();
    FillFrom(*form, "Trio");
    form->RandomBtn->setChecked(true);
    const auto current = [&] {
        return form->PlayFileList->item(form->PlayList().CurrentIndex())->text();
    };
    std::vector<QString> played{current()};
    for (int i = 0; i < 8; ++i) {
        ASSERT_NE(form->PlayList().StepForward(), nullptr);
        played.push_back(current());
    }
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(std::set<QString>(played.begin() + 3 * round, played.begin() + 3 * round + 3),
                  (std::set<QString>{"01-One", "02-Two", "03-Three"}))
            << "round " << round;

    // A deleted entry leaves the history; the others keep their songs.
    form->PlayFileList->setCurrentRow(0);
    QTest::keyClick(form->PlayFileList, Qt::Key_Delete);
    std::vector<QString> expected, walked;
    for (auto at = played.rbegin() + 1; at != played.rend(); ++at)
        if (*at != "01-One") expected.push_back(*at);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NE(form->PlayList().StepBack(), nullptr);
        walked.push_back(current());
    }
    EXPECT_EQ(walked, expected) << "Back retraces the random order";
    const QString first = current();
    EXPECT_NE(form->PlayList().StepBack(), nullptr);
    EXPECT_EQ(current(), first) << "past the history Back stays";
}

TEST_F(PlaybackTest, OnlyASuccessfulEndStartsTheNextEntry) {
    auto form = ScannedForm();
    FillFrom(*form, "Trio");
    form->MP3Player->OnEndPlay(nullptr, merStoped);
    form->MP3Player->OnEndPlay(nullptr, merFailure);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);

    form->MP3Player->OnEndPlay(nullptr, merSuccessful);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    EXPECT_EQ(form->MP3Player->FileName(), (Lib() / "Trio" / "2.mp3").string());
    form->Playback().StopBtnClick();
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1) << "a stop starts nothing";

    form->PlayFileList->clear();
    form->MP3Player->OnEndPlay(nullptr, merSuccessful);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1) << "an empty list starts nothing";
}

TEST_F(PlaybackTest, AListOfThreePlaysThroughInOrderAndStopsAfterTheLast) {
    auto form = ScannedForm();
    std::vector<int> started;
    RecordStarts(*form, started);
    form->DirTree->setCurrentItem(Folder(*form, "Trio"));
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    ASSERT_TRUE(PumpUntil([&] { return form->PlayList().CurrentIndex() == -1; }));
    PumpFor(300);
    EXPECT_EQ(started, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
    EXPECT_EQ(form->windowTitle(), "pelbrisk - ver.050228") << "the list's end ends the caption";
    EXPECT_EQ(form->Desktop().Tray().toolTip(), "pelbrisk");
}

// The play list's next entry is handed to the player while a song plays: it follows without
// the player stopping in between, and becomes the current entry, caption and all, once heard.
TEST_F(PlaybackTest, TheNextEntryFollowsWithoutAStopAndBecomesCurrentWhenHeard) {
    AddSong("Album", "1.mp3", "First", 2.5);
    AddSong("Album", "2.mp3", "Second", 2.5);
    AddSong("Album", "3.mp3", "Third", 2.5);
    auto form = ScannedForm();
    std::vector<int> started;
    RecordStarts(*form, started);
    int stops = 0;
    const auto original = form->MP3Player->OnChangeStatus;
    form->MP3Player->OnChangeStatus = [&](void* sender) {
        original(sender);
        if (form->MP3Player->Status() == mpsStopped && !started.empty()) ++stops;
    };
    form->DirTree->setCurrentItem(Folder(*form, "Album"));
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    const std::string second = (Lib() / "Album" / "2.mp3").string();
    ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->FileName() == second; }));
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0) << "opened while the first one plays out";
    EXPECT_EQ(form->windowTitle(), "First – Artist");
    ASSERT_TRUE(PumpUntil([&] { return form->PlayList().CurrentIndex() == 1; }));
    EXPECT_EQ(form->windowTitle(), "Second – Artist");
    ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->Status() == mpsStopped; }));
    EXPECT_EQ(started, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(stops, 1) << "only after the last song";
}

TEST_F(PlaybackTest, WithRepeatTheListWrapsToItsFirstEntry) {
    auto form = ScannedForm("repeat_all = -1\n");
    std::vector<int> started;
    RecordStarts(*form, started);
    form->DirTree->setCurrentItem(Folder(*form, "Trio"));
    form->OpenFolder(false);
    test::WaitForLibrary(*form);
    ASSERT_TRUE(PumpUntil([&] { return started.size() >= 5; }));
    form->Playback().StopBtnClick();
    EXPECT_EQ(std::vector<int>(started.begin(), started.begin() + 5),
              (std::vector<int>{0, 1, 2, 0, 1}));
}

// Next on the last entry and Back on the first keep the caption, the mark and MPRIS on what
// plays: Next leaves the last song playing (the list ends after it), Back starts the first again,
// and the Next after it goes on to the second.
TEST_F(PlaybackTest, NextOnTheLastAndBackOnTheFirstKeepNamingWhatPlays) {
    auto form = ScannedForm();
    FillFrom(*form, "Long");
    form->PlayFileList->addItem(form->PlayFileList->item(0)->clone());
    form->Playback().PlaySelected();
    ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->Position() >= 500; }));
    form->PrevBtn->click();
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);
    EXPECT_TRUE(form->PlayFileList->item(0)->isSelected());
    EXPECT_TRUE(form->PlayFileList->item(0)->font().bold());
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    EXPECT_LT(form->MP3Player->Position(), 500) << "started again";
    EXPECT_TRUE(PumpUntil([&] { return form->windowTitle() == "Long – Artist"; }));
    EXPECT_EQ(form->Desktop().PlaybackState(), TPlaybackState::Playing);
    form->NextBtn->click();
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1) << "not the first one again";

    form->NextBtn->click();
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
    EXPECT_TRUE(form->PlayFileList->item(1)->isSelected());
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying) << "the last song plays on";
    ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->Status() == mpsStopped; }));
    EXPECT_EQ(form->PlayList().CurrentIndex(), -1) << "and the list ends after it";
    EXPECT_EQ(form->windowTitle(), "pelbrisk - ver.050228");
}

TEST_F(PlaybackTest, TransportButtonsSteerThePlayer) {
    auto form = ScannedForm();
    FillFrom(*form, "Trio");
    form->PauseBtn->click();
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped) << "pause does nothing when stopped";
    form->PlayBtn->click();
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped) << "play with no file open does nothing";

    EXPECT_FALSE(form->PauseBtn->isChecked()) << "nor shows a pause";

    form->NextBtn->click();
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    form->PauseBtn->click();
    EXPECT_EQ(form->MP3Player->Status(), mpsPaused);
    EXPECT_TRUE(PumpUntil([&] { return form->PauseBtn->isChecked(); })) << "a pause shows";
    form->PlayBtn->click();
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying) << "play resumes a paused song";
    EXPECT_TRUE(PumpUntil([&] { return !form->PauseBtn->isChecked(); }));
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
    form->PauseBtn->click();
    EXPECT_EQ(form->MP3Player->Status(), mpsPaused);
    form->PauseBtn->click();
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    EXPECT_TRUE(PumpUntil([&] { return !form->PauseBtn->isChecked(); }));
    form->StopBtn->click();
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
    form->PlayBtn->click();
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying) << "play starts the open file again";
    form->PrevBtn->click();
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);
    EXPECT_EQ(form->MP3Player->FileName(), (Lib() / "Trio" / "1.mp3").string());
    form->Playback().StopBtnClick();
}

TEST_F(PlaybackTest, InSendModeTheButtonsAndTheVolumeGoToTheOtherPlayers) {
    TRecordingTransport winamp;
    int answers = 0;
    auto form = SendModeForm(winamp, answers);

    form->PlayBtn->click();
    form->StopBtn->click();
    form->PauseBtn->click();
    form->NextBtn->click();
    form->PrevBtn->click();
    form->VolBar->setValue(50);
    form->Playback().VolBarScroll(scrEndScroll, 50);
    ASSERT_TRUE(test::PumpUntil([&] { return answers == 6; }));
    using M = TRecordingTransport::TMessage;
    EXPECT_EQ(winamp.Sent, (std::vector<M>{{WM_USER, 0, 102},
                                           {WM_COMMAND, 40047, 0},
                                           {WM_COMMAND, 40046, 0},
                                           {WM_COMMAND, 40048, 0},
                                           {WM_COMMAND, 40044, 0},
                                           {WM_USER, 128, 122}}));
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
    EXPECT_EQ(form->MP3Player->Volume(), 100) << "the built-in player is left alone";
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0) << "next and prev do not move the list";
}

TEST_F(PlaybackTest, InSendModeACommandNoPlayerTookIsSaid) {
    TRecordingTransport winamp;
    int answers = 0;
    auto form = SendModeForm(winamp, answers);
    EXPECT_TRUE(form->SendListBtn->toolTip().contains("MPRIS")) << "what it steers here";
    const std::vector<std::pair<const char*, std::function<void()>>> commands{
        {"Play", [&] { form->PlayBtn->click(); }},
        {"Stop", [&] { form->StopBtn->click(); }},
        {"Pause", [&] { form->PauseBtn->click(); }},
        {"Next", [&] { form->NextBtn->click(); }},
        {"Prev", [&] { form->PrevBtn->click(); }},
        {"Volume", [&] { form->Playback().VolBarScroll(scrEndScroll, 40); }},
        {"Enter", [&] { form->Playback().PlaySelected(); }},
    };
    // Refused, the notice stays; the first command taken again takes it back.
    for (const bool accepted : {false, true}) {
        winamp.Accepts = accepted;
        for (const auto& [name, command] : commands) {
            SCOPED_TRACE(std::string(name) + (accepted ? " accepted" : " refused"));
            const int before = answers;
            command();
            ASSERT_TRUE(PumpUntil([&] { return answers > before; }));
            EXPECT_EQ(form->Desktop().NoticeLine().text().isEmpty(), accepted);
        }
    }
    form->Desktop().ShowNotice("another notice");
    form->PlayBtn->click();
    ASSERT_TRUE(PumpUntil([&] { return answers == 15; }));
    EXPECT_EQ(form->Desktop().NoticeLine().text(), "another notice") << "only its own goes";
}

// In send mode the pause button shows the pause the other players took, and ours again after.
TEST_F(PlaybackTest, InSendModeThePauseButtonFollowsWhatWasSent) {
    TRecordingTransport winamp;
    int answers = 0;
    auto form = SendModeForm(winamp, answers);
    // the button clicked, whether the pause button shows down after the players' answer
    const std::vector<std::pair<QToolButton*, bool>> steps{
        {form->PauseBtn, true}, {form->PauseBtn, false}, {form->PauseBtn, true},
        {form->NextBtn, true},  {form->PlayBtn, false},  {form->PauseBtn, true},
        {form->StopBtn, false}, {form->PauseBtn, true},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const int before = answers;
        steps[i].first->click();
        ASSERT_TRUE(PumpUntil([&] { return answers > before; }));
        EXPECT_EQ(form->PauseBtn->isChecked(), steps[i].second) << i;
    }
    form->SendListBtn->click();
    test::WaitForLibrary(*form);
    EXPECT_FALSE(form->PauseBtn->isChecked()) << "our own player is not paused";
}

// Insert (keep only this entry) and Delete drop entries with no other way back: Ctrl+Z brings
// back the list as it was before each, with the playing entry marked, even where the edit took
// that entry away.
TEST_F(PlaybackTest, CtrlZBringsBackWhatInsertAndDeleteDropped) {
    auto form = ScannedForm();
    FillFrom(*form, "Trio");
    QListWidget& list = *form->PlayFileList;
    const auto texts = [&] {
        QStringList all;
        for (int row = 0; row < list.count(); ++row)
            all << list.item(row)->text();
        return all;
    };
    const QStringList whole = texts();
    struct TCase {
        const char* Name;
        std::vector<std::pair<int, Qt::Key>> Edits;
    };
    const TCase cases[] = {
        {"delete another", {{0, Qt::Key_Delete}}},
        {"delete the playing one", {{1, Qt::Key_Delete}}},
        {"keep another", {{2, Qt::Key_Insert}}},
        {"two deletes", {{2, Qt::Key_Delete}, {1, Qt::Key_Delete}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        form->PlayList().MakeCurrent(*list.item(1));
        for (const auto& [row, key] : c.Edits) {
            list.setCurrentRow(row);
            QTest::keyClick(&list, key);
        }
        EXPECT_LT(list.count(), whole.size());
        for (std::size_t i = 0; i < c.Edits.size(); ++i)
            QTest::keyClick(&list, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(texts(), whole);
        EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
        EXPECT_TRUE(list.item(1)->font().bold());
        EXPECT_EQ(list.currentRow(), c.Edits.front().first) << "the cursor where it was";
    }
    EXPECT_FALSE(form->PlayList().Undo()) << "nothing more to undo";
}

// "*ALL*" hands on the files the list holds when it is chosen, not those it was filled with.
TEST_F(PlaybackTest, AllHandsOnTheEntriesTheListHoldsNow) {
    auto form = ScannedForm();
    TRecordingTransport winamp;
    form->Playback().OtherPlayers().Use(std::make_shared<TOtherAppCtrl>(winamp));
    form->SendListBtn->setChecked(true);
    FillFrom(*form, "Trio");
    form->PlayFileList->setCurrentRow(2);
    QTest::keyClick(form->PlayFileList, Qt::Key_Delete);
    form->PlayFileList->setCurrentRow(0);
    int answers = 0;
    QObject::connect(&form->Playback().OtherPlayers(), &TOtherPlayers::Answered,
                     [&](bool) { ++answers; });
    form->Playback().PlaySelected();
    ASSERT_TRUE(PumpUntil([&] { return answers == 1; }));
    EXPECT_EQ(std::count_if(winamp.Sent.begin(), winamp.Sent.end(),
                            [](const auto& sent) { return sent.Message == WM_COPYDATA; }),
              2);
}

TEST_F(PlaybackTest, MenuItemsCarryTheirCaptionsAndShortCuts) {
    auto form = ScannedForm();
    QStringList items;
    for (const QAction* item : form->GetLyricsMenu->actions())
        items << (item->isSeparator() ? "-" : item->text() + " " + item->shortcut().toString());
    EXPECT_EQ(items, QStringList({"DarkLyrics Alt+D", "LyricsFreak Alt+3", "-", "Play Ctrl+P",
                                  "Stop Ctrl+S", "Pause Ctrl+E", "Next Ctrl+N", "Prev Ctrl+B",
                                  "Volume + Ctrl+U", "Volume - Ctrl+D", "Open Dir Ctrl+O"}));
}

TEST_F(PlaybackTest, ShortCutsWorkFromTheCommandBoxAndThePlayList) {
    auto form = ScannedForm();
    FillFrom(*form, "Trio");
    ShowActive(*form, form->CommandEdit);

    QTest::keyClick(form->CommandEdit, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    QTest::keyClick(form->CommandEdit, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(form->MP3Player->Status(), mpsPaused) << "Ctrl+E pauses, not the caret's end";
    QTest::keyClick(form->CommandEdit, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(form->VolBar->value(), 90);
    QTest::keyClick(form->CommandEdit, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(form->VolBar->value(), 100);
    EXPECT_TRUE(form->CommandEdit->text().isEmpty()) << "nothing was typed";

    form->PlayFileList->setFocus();
    ASSERT_TRUE(PumpUntil([&] { return form->PlayFileList->hasFocus(); }));
    QTest::keyClick(form->PlayFileList, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    QTest::keyClick(form->PlayFileList, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
    QTest::keyClick(form->PlayFileList, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    form->Playback().StopBtnClick();
}

TEST_F(PlaybackTest, VolumeMovesInTenPointStepsAndStopsAtTheEnds) {
    auto form = ScannedForm();
    form->VolBar->setValue(95);
    form->Playback().UpVolumeClick();
    EXPECT_EQ(form->VolBar->value(), 100);
    EXPECT_EQ(form->MP3Player->Volume(), 100);
    form->Playback().UpVolumeClick();
    EXPECT_EQ(form->MP3Player->Volume(), 100);

    form->VolBar->setValue(45);
    form->Playback().DownVolumeClick();
    EXPECT_EQ(form->MP3Player->Volume(), 35);
    form->VolBar->setValue(5);
    form->DownVolume->trigger();
    EXPECT_EQ(form->VolBar->value(), 0);
    EXPECT_EQ(form->MP3Player->Volume(), 0);

    form->VolBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(form->MP3Player->Volume(), 10) << "a page click on the bar is an ended scroll";
}

TEST_F(PlaybackTest, PitchRestartsAPlayingOrPausedSongWhereItStood) {
    auto form = ScannedForm();
    form->PitchBar->setValue(150);
    form->Playback().PitchBarScroll(scrEndScroll, 150);
    EXPECT_EQ(PitchPercent.load(), 150);
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped) << "stopped: only the setting changes";

    FillFrom(*form, "Long");
    form->Playback().PlaySelected();
    ASSERT_TRUE(PumpUntil([&] { return form->MP3Player->Position() >= 800; }));
    form->Playback().PauseBtnClick();
    const int paused = form->MP3Player->Position();
    form->PitchBar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(PitchPercent.load(), 149);
    EXPECT_EQ(form->MP3Player->Status(), mpsPaused);
    EXPECT_NEAR(form->MP3Player->Position(), paused, 250);

    form->Playback().PauseBtnClick();
    form->Playback().SetPitch(80);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    EXPECT_EQ(PitchPercent.load(), 80);
    EXPECT_GE(form->MP3Player->Position(), paused - 100) << "not from the start";

    QTest::mouseClick(form->Pit, Qt::LeftButton);
    EXPECT_EQ(PitchPercent.load(), 100);
    EXPECT_EQ(form->PitchBar->value(), 100);
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    form->Playback().StopBtnClick();
}

TEST_F(PlaybackTest, PositionBarFollowsThePlayerExceptWhileDragged) {
    auto form = ScannedForm();
    FillFrom(*form, "Long");
    form->Playback().PlaySelected();
    ASSERT_TRUE(PumpUntil([&] { return form->PosBar->value() > 0; }));
    EXPECT_NEAR(form->PosBar->maximum(), 3050, 150) << "the song's length, encoder delay and all";

    form->PosBar->setSliderDown(true);
    form->PosBar->setSliderPosition(2500);
    EXPECT_TRUE(form->Playback().SeekTracking());
    EXPECT_EQ(form->PosTime->text(), PositionText(2500, form->PosBar->maximum()))
        << "the time follows the drag";
    const int held = form->PosBar->value();
    PumpFor(900);
    EXPECT_EQ(form->PosBar->value(), held) << "position notices wait for the drag's end";
    EXPECT_LT(form->MP3Player->Position(), 2400) << "no seek while dragging";

    form->PosBar->setSliderDown(false);
    EXPECT_FALSE(form->Playback().SeekTracking());
    EXPECT_GE(form->MP3Player->Position(), 2400) << "seeks where the drag ended";

    // A click in the bar goes to the clicked point, not a page (5 s) towards it.
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->Playback().SeekTo(2000);
    const QRect bar = form->PosBar->rect();
    QTest::mouseClick(form->PosBar, Qt::LeftButton, {}, QPoint(bar.width() / 3, bar.height() / 2));
    EXPECT_NEAR(form->MP3Player->Position(), form->PosBar->maximum() / 3, 400);
    form->Playback().StopBtnClick();

    form->Playback().PosBarScroll(scrEndScroll, 1000);
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped) << "a stopped player is not started";
}

TEST_F(PlaybackTest, DraggingThePositionBarWithNothingOpenIsNoError) {
    auto form = ScannedForm();
    test::TBoxAnswer noBox(QMessageBox::Ok);
    form->PosBar->setMaximum(5000);
    form->PosBar->setSliderDown(true);
    form->PosBar->setSliderPosition(2500);
    form->PosBar->setSliderDown(false);
    form->Playback().SeekTo(100);
    PumpFor(100);
    EXPECT_EQ(noBox.Text(), "") << "nothing to seek in, nothing to report";
    EXPECT_FALSE(form->Playback().SeekTracking());
    EXPECT_EQ(form->MP3Player->Status(), mpsStopped);
}

// The caption and the icon's tip name the song that plays, is paused or waits ("Title – Artist"),
// the tip says when it is paused, and Stop gives back the program's caption.
TEST_F(PlaybackTest, CaptionAndTipNameWhatPlaysIsPausedOrWaits) {
    auto form = ScannedForm();
    FillFrom(*form, "Trio");
    EXPECT_EQ(form->windowTitle(), "pelbrisk - ver.050228");
    struct TStep {
        const char* Name;
        std::function<void()> Act;
        QString Caption;
        QString Tip;
    };
    const QString program = "pelbrisk - ver.050228";
    const TStep steps[] = {
        {"play",
         [&] {
             form->PlayFileList->setCurrentRow(1);
             form->Playback().PlaySelected();
         },
         "Two – Artist", "Two – Artist"},
        {"pause", [&] { form->PauseBtn->click(); }, "Two – Artist", "paused: Two – Artist"},
        {"next while paused", [&] { form->Desktop().Next(); }, "Three – Artist",
         "paused: Three – Artist"},
        {"stop", [&] { form->StopBtn->click(); }, program, "pelbrisk"},
        {"previous while stopped", [&] { form->Desktop().Previous(); }, "Two – Artist",
         "Two – Artist"},
        {"play", [&] { form->PlayBtn->click(); }, "Two – Artist", "Two – Artist"},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Name);
        step.Act();
        EXPECT_TRUE(PumpUntil([&] {
            return form->windowTitle() == step.Caption &&
                   form->Desktop().Tray().toolTip() == step.Tip;
        })) << form->windowTitle().toStdString();
        EXPECT_EQ(QGuiApplication::applicationDisplayName(), step.Caption);
        EXPECT_EQ(form->Desktop().Tray().toolTip(), step.Tip);
    }
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    form->Playback().StopBtnClick();
}

TEST(TrayTip, HoldsTheFirst63BytesOnACharacterBoundary) {
    EXPECT_EQ(TrayTipText(""), "");
    const QString hundred(100, 'x');
    EXPECT_EQ(TrayTipText(hundred), QString(63, 'x'));
    EXPECT_EQ(TrayTipText(QString(63, 'y')), QString(63, 'y'));
    EXPECT_EQ(TrayTipText(hundred, true), "paused: " + QString(55, 'x')) << "the pause is kept";
    // 62 single bytes and a three-byte character: that character does not fit whole.
    const QString wide = QString(62, 'a') + QString::fromUtf8("曲") + "zz";
    EXPECT_EQ(TrayTipText(wide), QString(62, 'a'));
    const QString fits = QString(60, 'a') + QString::fromUtf8("曲") + "zz";
    EXPECT_EQ(TrayTipText(fits), QString(60, 'a') + QString::fromUtf8("曲"));
}

TEST_F(PlaybackTest, MinimisingOrAClickOnTheIconHidesAndEveryClickRestores) {
    auto form = ScannedForm();
    form->Desktop().TrayAvailable = [] { return true; };
    form->Desktop().SetNowPlaying(QString(100, 's'), false);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->Desktop().Tray().toolTip(), QString(63, 's'));

    // Minimised by Esc, by the title bar or by a click on the icon, brought back by a click, the
    // menu or the hot key.
    const std::vector<std::function<void()>> hides{
        [&] { QTest::keyClick(form->CommandEdit, Qt::Key_Escape); },
        [&] { form->showMinimized(); },
        [&] { emit form->Desktop().Tray().activated(QSystemTrayIcon::Trigger); },
    };
    const std::vector<std::function<void()>> restores{
        [&] { emit form->Desktop().Tray().activated(QSystemTrayIcon::Trigger); },
        [&] { form->Desktop().Tray().ShowHideItem->trigger(); },
        [&] { form->Desktop().WMHotKey(form->Desktop().ShowHotKey()); },
        [&] { emit form->Desktop().Tray().activated(QSystemTrayIcon::Trigger); },
    };
    for (size_t i = 0; i < restores.size(); ++i) {
        SCOPED_TRACE(i);
        hides[i % hides.size()]();
        ASSERT_TRUE(PumpUntil([&] { return form->isHidden(); }));
        EXPECT_TRUE(form->Desktop().InTray());
        emit form->Desktop().Tray().activated(QSystemTrayIcon::Context);
        emit form->Desktop().Tray().activated(QSystemTrayIcon::DoubleClick);
        EXPECT_TRUE(form->Desktop().InTray()) << "the menu's button and a double click's second";
        restores[i]();
        PumpFor(50);
        EXPECT_FALSE(form->Desktop().InTray());
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(form->isMinimized());
        EXPECT_TRUE(form->Desktop().Tray().isVisible()) << "the icon stays for its menu";
    }
    form->Desktop().Tray().ShowHideItem->trigger();
    EXPECT_TRUE(form->Desktop().InTray()) << "Hide from the menu";
    EXPECT_TRUE(form->isHidden());

    form->Desktop().Tray().QuitItem->trigger();
    EXPECT_FALSE(form->Desktop().Tray().isVisible()) << "closing removes the icon";
}

TEST(ProgramIcon, HasAPictureForEverySizeATrayAsksFor) {
    const QIcon icon = ProgramIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int side : {16, 22, 24, 32, 48}) {
        SCOPED_TRACE(side);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(side, side)));
        // Not one colour: the picture is drawn, not an empty slot.
        const QImage picture = icon.pixmap(side, side).toImage();
        std::set<QRgb> colours;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                colours.insert(picture.pixel(x, y));
        EXPECT_GT(colours.size(), 3u);
    }
}

TEST_F(PlaybackTest, TheIconsMenuSteersThePlayer) {
    auto form = ScannedForm();
    FillFrom(*form, "Long");
    QMenu* menu = form->Desktop().Tray().contextMenu();
    ASSERT_NE(menu, nullptr);
    QStringList captions;
    for (const QAction* item : menu->actions())
        if (!item->isSeparator()) captions << item->text();
    EXPECT_EQ(captions, (QStringList{"Show", "Play/Pause", "Next", "Back", "Quit"}));

    form->Playback().PlaySelected();
    ASSERT_EQ(form->MP3Player->Status(), mpsPlaying);
    form->Desktop().Tray().PlayPauseItem->trigger();
    EXPECT_EQ(form->MP3Player->Status(), mpsPaused);
    form->Desktop().Tray().PlayPauseItem->trigger();
    EXPECT_EQ(form->MP3Player->Status(), mpsPlaying);
    FillFrom(*form, "Trio");
    form->Desktop().Tray().NextItem->trigger();
    EXPECT_EQ(form->PlayList().CurrentIndex(), 1);
    form->Desktop().Tray().BackItem->trigger();
    EXPECT_EQ(form->PlayList().CurrentIndex(), 0);
    form->Playback().StopBtnClick();
}

TEST_F(PlaybackTest, WithoutANotificationAreaTheWindowMinimisesNormally) {
    auto form = ScannedForm();
    form->Desktop().TrayAvailable = [] { return false; };
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QTest::keyClick(form->CommandEdit, Qt::Key_Escape);
    PumpFor(100);
    EXPECT_FALSE(form->Desktop().InTray());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->isHidden());
    EXPECT_FALSE(form->Desktop().Tray().isVisible());
}

TEST_F(PlaybackTest, HotKeysStepTheVolumeByTheirIds) {
    auto form = ScannedForm("hotkey_volume_up = Ctrl+Alt+Up\nhotkey_volume_down = Ctrl+Alt+Down\n");
    form->VolBar->setValue(50);
    form->Desktop().WMHotKey(form->Desktop().VolumeUpHotKey());
    EXPECT_EQ(form->MP3Player->Volume(), 60);
    form->Desktop().WMHotKey(form->Desktop().VolumeDownHotKey());
    form->Desktop().WMHotKey(form->Desktop().VolumeDownHotKey());
    EXPECT_EQ(form->MP3Player->Volume(), 40);
    form->Desktop().WMHotKey(0x1234);
    EXPECT_EQ(form->MP3Player->Volume(), 40) << "an unknown id does nothing";
}

TEST_F(PlaybackTest, LyricsItemsOpenTheSelectedSongsAddresses) {
    // The desktop's opener is stood in for by a script that notes what it was given.
    test::TempDir bin;
    const auto opened = bin / "opened.txt";
    {
        std::ofstream script(bin / "xdg-open");
        script << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << opened.string() << "'\n";
    }
    std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin.Path().string()) + ":" + path);

    std::filesystem::create_directories(Lib() / "Bare");
    std::filesystem::copy_file(test::EncodeWithLame(test::MakeSignalWav(0.4, 44100, 2), "-b 96"),
                               Lib() / "Bare" / "untagged.mp3");
    auto form = ScannedForm();
    form->LyricsSiteAItem->trigger();
    FillFrom(*form, "Trio");
    form->LyricsSiteAItem->trigger();
    form->LyricsSiteBItem->trigger();
    // Without an artist and an album there is no page to open: the user is told instead.
    FillFrom(*form, "Bare");
    form->LyricsSiteAItem->trigger();
    EXPECT_EQ(form->Desktop().LastNotice(), kNoLyricsSiteAAddress);
    // "*ALL*" is no one song.
    form->SendListBtn->click();
    test::WaitForLibrary(*form);
    for (const int row : {0, 1}) {
        form->PlayList().SelectRow(row);
        EXPECT_EQ(form->LyricsSiteAItem->isEnabled(), row == 1);
        EXPECT_EQ(form->LyricsSiteBItem->isEnabled(), row == 1);
    }
    qputenv("PATH", path);
    ASSERT_TRUE(PumpUntil([&] {
        if (!std::filesystem::exists(opened)) return false;
        const auto bytes = test::ReadFileBytes(opened);
        return std::count(bytes.begin(), bytes.end(), '\n') == 2;
    }));
    // Each address opens on its own, so they may be noted in either order.
    const auto bytes = test::ReadFileBytes(opened);
    QStringList addresses = QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()))
                                .split('\n', Qt::SkipEmptyParts);
    addresses.sort();
    EXPECT_EQ(addresses,
              QStringList({"http://www.darklyrics.com/lyrics/artist/album.html",
                           "http://www.lyricsfreak.com/search.php?searchstr=Artist&category=artist&"
                           "x=0&y=0"}));
}

} // namespace
} // namespace pelbrisk
