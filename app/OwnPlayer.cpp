#include "app/OwnPlayer.h"

#include "app/FolderScan.h"
#include "app/PlayList.h"
#include "engine/MP3Player.h"

#include <QFile>
#include <QFileInfo>
#include <QListWidgetItem>
#include <QStringList>
#include <algorithm>
#include <set>
#include <utility>

namespace pelbrisk {

void ReportErrors(const std::function<void()>& operation) {
    try {
        operation();
    } catch (...) {
        ShowApplicationException(std::current_exception());
    }
}

TOwnPlayer::TOwnPlayer(TMP3Player& player, TPlayList& list, THooks hooks)
    : player_(player), list_(list), hooks_(std::move(hooks)) {}

void TOwnPlayer::Play() {
    ReportErrors([this] {
        if (player_.Status() == mpsPaused) {
            player_.Resume();
            return;
        }
        const int startAt = std::exchange(startAtMs_, 0);
        player_.Play();
        if (startAt > 0) player_.Seek(startAt);
    });
}

void TOwnPlayer::Stop() {
    cued_ = false;
    startAtMs_ = 0;
    ReportErrors([this] { player_.Stop(); });
    hooks_.Stopped();
}

void TOwnPlayer::Pause() {
    ReportErrors([this] {
        if (player_.Status() == mpsPaused)
            player_.Resume();
        else if (player_.Status() == mpsPlaying)
            player_.Pause();
    });
}

void TOwnPlayer::Next() {
    if (QListWidgetItem* entry = list_.StepForward()) PlayEntry(*entry);
}

void TOwnPlayer::Prev() {
    if (QListWidgetItem* entry = list_.StepBack()) PlayEntry(*entry);
}

void TOwnPlayer::SetVolume(int percent) {
    player_.SetVolume(percent);
}

bool TOwnPlayer::Paused() const {
    return player_.Status() == mpsPaused;
}

TWhatPlays TOwnPlayer::WhatPlays() const {
    const bool open = player_.Commands() & CommandBit(mpcClose);
    TWhatPlays now{.State = TWhatPlays::TState::Nothing,
                   .File = TFilePath(player_.HeardFileName()),
                   .Title = {}};
    if (player_.Status() == mpsPlaying)
        now.State = TWhatPlays::TState::Playing;
    else if (player_.Status() == mpsPaused)
        now.State = TWhatPlays::TState::Paused;
    else if (cued_ && open)
        now.State = TWhatPlays::TState::Cued;
    return now;
}

// A song that waits to be played is where it will start.
std::int64_t TOwnPlayer::PositionMs() const {
    if (startAtMs_ > 0 && player_.Status() == mpsStopped) return startAtMs_;
    return player_.Position();
}

std::int64_t TOwnPlayer::LengthMs() const {
    return player_.Duration();
}

void TOwnPlayer::PlayEntry(QListWidgetItem& chosen) {
    // A file that cannot be played is named and passed over for the next entry by the same
    // rules as at the end of a song, until every entry has failed once. What was told about
    // earlier songs is over; the failures on the way to this one are told together.
    std::set<int> failed;
    QStringList failures;
    bool playing = false;
    for (const QListWidgetItem* entry = &chosen; entry != nullptr;) {
        list_.MakeCurrent(*entry);
        const TFilePath path = list_.EntryPath(*entry);
        const QString failure = OpenFile(path, true);
        if (failure.isEmpty()) {
            playing = true;
            break;
        }
        failures << DisplayName(path.FileName()) + ": " + failure;
        failed.insert(list_.Row(*entry));
        if (static_cast<int>(failed.size()) >= list_.Count()) break;
        entry = list_.SelectNextUntried(failed);
    }
    hooks_.Notice(failures.join("; "));
    if (!playing) hooks_.Stopped();
}

void TOwnPlayer::Cue(QListWidgetItem& entry, bool paused) {
    list_.MakeCurrent(entry);
    const TFilePath path = list_.EntryPath(entry);
    const QString failure = OpenFile(path, paused);
    if (!failure.isEmpty())
        NoticeFailure(path, failure);
    else if (paused)
        ReportErrors([this] { player_.Pause(); });
    else
        cued_ = true;
}

void TOwnPlayer::CueAt(QListWidgetItem& entry, int positionMs) {
    Cue(entry, false);
    if (cued_) MoveCued(positionMs);
}

bool TOwnPlayer::MoveCued(int positionMs) {
    if (!cued_ || player_.Status() != mpsStopped) return false;
    startAtMs_ = std::clamp(positionMs, 0, std::max(player_.Duration(), 0));
    return true;
}

void TOwnPlayer::NoticeFailure(const TFilePath& path, const QString& failure) {
    hooks_.Notice(DisplayName(path.FileName()) + ": " + failure);
}

QString TOwnPlayer::OpenFile(const TFilePath& path, bool play) {
    cued_ = false;
    startAtMs_ = 0;
    try {
        player_.Stop();
        // Closed first, so that after a failure an open stream can only be this file's.
        player_.Close();
        player_.SetFileName(path.StdString());
        if (play) player_.Play();
        return {};
    } catch (...) {
        if (player_.Commands() & CommandBit(mpcClose)) {
            ShowApplicationException(std::current_exception());
            return {};
        }
        // "no MPEG audio" says less than this about a file that holds nothing.
        if (IsRegularFile(path) && QFileInfo(QFile::decodeName(path.Bytes())).size() == 0)
            return "empty file";
        return QString::fromLocal8Bit(ExceptionText(std::current_exception()));
    }
}

} // namespace pelbrisk
