#include "app/OtherPlayers.h"

#include "app/OtherAppCtrl.h"
#include "app/PlayList.h"

namespace pelbrisk {

namespace {
const QString kNoPlayerTookIt = "No MPRIS player took the command (is one running?)";
} // namespace

TOtherPlayers::TOtherPlayers(TPlayList& list, std::function<void()> stopOwnPlayer)
    : list_(list), stopOwnPlayer_(std::move(stopOwnPlayer)),
      transport_(MakeNativeRemotePlayerTransport()), mpris_(std::make_unique<TMprisClient>()),
      players_(std::make_shared<TOtherAppCtrl>(*transport_, mpris_.get())) {
    connect(&watch_, &QTimer::timeout, this, &TOtherPlayers::ReadState);
}

TOtherPlayers::~TOtherPlayers() = default;

void TOtherPlayers::Use(std::shared_ptr<TOtherAppCtrl> players) {
    players_ = std::move(players);
}

void TOtherPlayers::Watch(bool on, int intervalMs) {
    watching_ = on;
    state_.reset();
    if (on) {
        watch_.start(intervalMs);
        ReadState();
    } else {
        watch_.stop();
    }
}

void TOtherPlayers::ReadState() {
    if (!watching_ || reading_) return;
    reading_ = true;
    worker_.Post([this, players = players_, given = commandsGiven_] {
        std::optional<TOtherPlayerState> state = players->OtherAppState();
        QMetaObject::invokeMethod(
            this,
            [this, state = std::move(state), given] {
                reading_ = false;
                if (!watching_) return;
                // A command given meanwhile may have changed what the players show.
                if (given != commandsGiven_) {
                    ReadState();
                    return;
                }
                state_ = state;
                if (state_) paused_ = state_->Paused;
                emit StateRead();
            },
            Qt::QueuedConnection);
    });
}

void TOtherPlayers::Send(std::function<TAnswer(TOtherAppCtrl&)> command, TPause pause) {
    ++commandsGiven_;
    worker_.Post([this, players = players_, command = std::move(command), pause] {
        const TAnswer answer = command(*players);
        QMetaObject::invokeMethod(
            this, [this, answer, pause] { Answer(answer, pause); }, Qt::QueuedConnection);
    });
}

void TOtherPlayers::Send(bool (TOtherAppCtrl::*command)(), TPause pause) {
    Send([command](TOtherAppCtrl& players) { return TAnswer((players.*command)()); }, pause);
}

void TOtherPlayers::Answer(const TAnswer& answer, TPause pause) {
    if (answer.Accepted && pause != TPause::Kept) paused_ = pause == TPause::Toggled && !paused_;
    emit Answered(answer.Accepted);
    if (!answer.Accepted) {
        emit Notice(kNoPlayerTookIt);
    } else if (!answer.FirstOnly.isEmpty()) {
        const bool one = answer.FirstOnly.size() == 1;
        emit Notice(QString("%1 %2 one song at a time: only the first of the %3 songs went to %4")
                        .arg(answer.FirstOnly.join(", "), one ? "takes" : "take")
                        .arg(answer.Files)
                        .arg(one ? "it" : "them"));
    } else {
        emit NoticeOver(kNoPlayerTookIt);
    }
    ReadState();
}

void TOtherPlayers::Play() {
    QListWidgetItem* entry = list_.SelectedEntry();
    if (stopped_ && entry != nullptr) {
        PlayEntry(*entry);
        return;
    }
    Send(&TOtherAppCtrl::OtherAppPlay, TPause::Ended);
}

void TOtherPlayers::Stop() {
    stopped_ = true;
    Send(&TOtherAppCtrl::OtherAppStop, TPause::Ended);
}

void TOtherPlayers::Pause() {
    Send(&TOtherAppCtrl::OtherAppPause, TPause::Toggled);
}

// A player keeps its pause across tracks (MPRIS asks so of Next and Previous).
void TOtherPlayers::Next() {
    Send(&TOtherAppCtrl::OtherAppNext, TPause::Kept);
}

void TOtherPlayers::Prev() {
    Send(&TOtherAppCtrl::OtherAppPrev, TPause::Kept);
}

void TOtherPlayers::SetVolume(int percent) {
    Send([percent](TOtherAppCtrl& players) { return TAnswer(players.OtherAppSetVolume(percent)); },
         TPause::Kept);
}

void TOtherPlayers::PlayEntry(QListWidgetItem& entry) {
    stopOwnPlayer_();
    stopped_ = false;
    list_.MakeCurrent(entry);
    std::string fileList;
    const std::vector<TFilePath> files = list_.EntryFiles(entry);
    for (const TFilePath& file : files)
        fileList += file.StdString() + "\r\n";
    Send(
        [fileList, files = static_cast<int>(files.size())](TOtherAppCtrl& players) {
            QStringList firstOnly;
            TAnswer answer(players.OtherAppAddFiles(fileList, &firstOnly), files);
            answer.FirstOnly = std::move(firstOnly);
            return answer;
        },
        TPause::Ended);
}

bool TOtherPlayers::Paused() const {
    return paused_;
}

std::int64_t TOtherPlayers::PositionMs() const {
    return state_ ? state_->PositionMs : 0;
}

std::int64_t TOtherPlayers::LengthMs() const {
    return state_ ? state_->LengthMs : 0;
}

// The other players tell their song's title, not its file.
TWhatPlays TOtherPlayers::WhatPlays() const {
    if (!state_ || state_->Title.isEmpty()) return {};
    return {.State = Paused() ? TWhatPlays::TState::Paused : TWhatPlays::TState::Playing,
            .File = {},
            .Title = state_->Title};
}

} // namespace pelbrisk
