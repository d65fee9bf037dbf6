#pragma once

// What the window's playback and command-box tests share: a library of tagged songs on disk, a
// window on it, and ways to wait for the player and to drive the window with real key presses.
#include "app/MainForm.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace pelbrisk::test {

inline QString ToQ(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

inline bool PumpUntil(const std::function<bool()>& done, int milliseconds = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline void PumpFor(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Turns the event loop until the window's folder scans and play-list fills are done.
inline void WaitForLibrary(TMainForm& form) {
    ASSERT_TRUE(PumpUntil([&] { return !form.LibraryJobs().Busy(); }, 60000));
}

// Lists the tree's selected folder into the play list, as opening it does, without playing it.
inline void FillSelected(TMainForm& form, bool recursive) {
    form.PlayList().Fill(form.Library().SelectedFolder(), recursive, form.Playback().SendMode());
}

// How the event loop fared while some work ran: how long it went at most without turning, how
// often it turned, and how long the work took.
struct TLoopTurns {
    double LongestGapMs = 0;
    int Turns = 0;
    double WholeMs = 0;
};

// Starts `work` from the event loop and turns the loop until `done`, with a 5 ms timer in it.
inline TLoopTurns MeasureLoopTurns(const std::function<void()>& work,
                                   const std::function<bool()>& done) {
    TLoopTurns turns;
    QElapsedTimer whole;
    QElapsedTimer sinceTurn;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        turns.LongestGapMs = std::max(turns.LongestGapMs, sinceTurn.nsecsElapsed() / 1e6);
        ++turns.Turns;
        sinceTurn.restart();
    });
    bool started = false;
    QTimer::singleShot(0, [&] {
        whole.start();
        sinceTurn.start();
        ticker.start(5);
        work();
        started = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return started && done(); }, 60000));
    turns.LongestGapMs = std::max(turns.LongestGapMs, sinceTurn.nsecsElapsed() / 1e6);
    turns.WholeMs = whole.nsecsElapsed() / 1e6;
    return turns;
}

// A song of `seconds` with title, artist "Artist" and album "Album" in an ID3v2 tag.
inline std::filesystem::path TaggedSong(const std::string& title, double seconds = 0.4) {
    const std::filesystem::path wav = MakeSignalWav(seconds, 44100, 2);
    return EncodeWithLame(wav, "-b 96 --add-id3v2 --tt " + title + " --ta Artist --tl Album");
}

// Records the play-list index of every song as it starts playing.
inline void RecordStarts(TMainForm& form, std::vector<int>& started) {
    const auto original = form.MP3Player->OnChangeStatus;
    form.MP3Player->OnChangeStatus = [&form, &started, original](void* sender) {
        original(sender);
        if (form.MP3Player->Status() == mpsPlaying)
            started.push_back(form.PlayList().CurrentIndex());
    };
    // A song that follows the one before without a gap starts without a change of status.
    const auto nextSong = form.MP3Player->OnNextSong;
    form.MP3Player->OnNextSong = [&form, &started, nextSong](void* sender) {
        nextSong(sender);
        if (form.MP3Player->Status() == mpsPlaying)
            started.push_back(form.PlayList().CurrentIndex());
    };
}

inline QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& caption) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == caption) return parent->child(i);
    return nullptr;
}

// Answers the next message box with `button`, or with Enter for NoButton (whatever the box's
// default is), and remembers its text; `meanwhile` runs while the box waits for the answer. Its
// timers go with it.
class TBoxAnswer {
public:
    explicit TBoxAnswer(QMessageBox::StandardButton button,
                        std::function<void(QMessageBox&)> meanwhile = {})
        : button_(button), meanwhile_(std::move(meanwhile)) {
        waited_.start();
        QTimer::singleShot(0, &context_, [this] { Answer(); });
    }
    const QString& Text() const { return text_; }

private:
    void Answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        // Not open yet: the question may still be on its way, slowly on a loaded machine or under
        // a sanitizer. Or open above a window that library work holds disabled, and the box with
        // it: a user clicks once it takes clicks again. A box left unanswered would hold the test
        // for good.
        if (!box || (meanwhileDone_ && !box->isEnabled())) {
            if (waited_.elapsed() < 20000) QTimer::singleShot(10, &context_, [this] { Answer(); });
            return;
        }
        if (!meanwhileDone_) {
            text_ = box->text();
            meanwhileDone_ = true;
            if (meanwhile_) meanwhile_(*box);
            if (!box->isEnabled()) return Answer();
        }
        if (button_ == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Return);
        else if (QAbstractButton* answer = box->button(button_))
            answer->click();
        else
            box->reject();
    }

    QObject context_;
    QMessageBox::StandardButton button_;
    std::function<void(QMessageBox&)> meanwhile_;
    QString text_;
    bool meanwhileDone_ = false;
    QElapsedTimer waited_;
};

// A settings file naming one library root, and windows made on it.
class TFormFixture : public ::testing::Test {
protected:
    std::filesystem::path Lib() const { return dir_ / "lib"; }
    QString SettingsPath() const { return ToQ(dir_ / "pelbrisk.ini"); }

    void AddSong(const std::string& folder, const std::string& file, const std::string& title,
                 double seconds = 0.4) {
        std::filesystem::create_directories(Lib() / folder);
        std::filesystem::copy_file(TaggedSong(title, seconds), Lib() / folder / file);
    }

    std::unique_ptr<TMainForm> ScannedForm(const std::string& moreSettings = "") {
        std::ofstream(dir_ / "pelbrisk.ini") << "root = " << Lib().string() << "\t\n"
                                             << moreSettings;
        auto form = std::make_unique<TMainForm>(SettingsPath());
        form->Library().BuildTree();
        WaitForLibrary(*form);
        return form;
    }

    QTreeWidgetItem* Folder(TMainForm& form, const QString& caption) {
        return ChildNamed(form.Library().RootNodes().Items(0), caption);
    }

    // Opens the folder into the play list without playing it.
    void FillFrom(TMainForm& form, const QString& caption) {
        form.DirTree->setCurrentItem(Folder(form, caption));
        form.PlayFileList->clear();
        test::FillSelected(form, false);
        WaitForLibrary(form);
        ASSERT_GT(form.PlayFileList->count(), 0) << caption.toStdString();
    }

    TempDir dir_;
};

// A session bus of the test's own, ended with the object.
class TPrivateSessionBus {
public:
    TPrivateSessionBus() {
        std::istringstream output(test::RunTool(
            "dbus-daemon --session --fork --nosyslog --print-address=1 --print-pid=1"));
        std::string pid;
        std::getline(output, address_);
        std::getline(output, pid);
        if (!pid.empty()) pid_ = static_cast<pid_t>(std::stol(pid));
    }
    ~TPrivateSessionBus() {
        // It forked away from us: not a child to reap.
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    QString Address() const { return QString::fromStdString(address_); }
    bool Running() const { return pid_ > 0 && !address_.empty(); }

private:
    std::string address_;
    pid_t pid_ = 0;
};

} // namespace pelbrisk::test
