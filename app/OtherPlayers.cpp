#include "app/OtherPlayers.h"

#include "app/MprisClient.h"
#include "app/OtherAppCtrl.h"
#include "app/PlayList.h"

namespace pelbrisk {

TOtherPlayers::TOtherPlayers(TPlayList& list, std::function<void()> stopOwnPlayer)
    : list_(list), stopOwnPlayer_(std::move(stopOwnPlayer)),
      transport_(MakeNativeRemotePlayerTransport()), mpris_(std::make_unique<TMprisClient>()),
      players_(std::make_shared<TOtherAppCtrl>(*transport_, mpris_.get())) {}

TOtherPlayers::~TOtherPlayers() = default;

void TOtherPlayers::Use(std::shared_ptr<TOtherAppCtrl> players) {
    players_ = std::move(players);
}

void TOtherPlayers::Send(std::function<bool(TOtherAppCtrl&)> command, TPause pause) {
    worker_.Post([this, players = players_, command = std::move(command), pause] {
        const bool accepted = command(*players);
        QMetaObject::invokeMethod(
            this,
            [this, accepted, pause] {
                if (accepted && pause != TPause::Kept)
                    paused_ = pause == TPause::Toggled && !paused_;
                emit Answered(accepted);
            },
            Qt::QueuedConnection);
    });
}

void TOtherPlayers::Play() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppPlay(); }, TPause::Ended);
}

void TOtherPlayers::Stop() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppStop(); }, TPause::Ended);
}

void TOtherPlayers::Pause() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppPause(); }, TPause::Toggled);
}

// A player keeps its pause across tracks (MPRIS asks so of Next and Previous).
void TOtherPlayers::Next() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppNext(); }, TPause::Kept);
}

void TOtherPlayers::Prev() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppPrev(); }, TPause::Kept);
}

void TOtherPlayers::SetVolume(int percent) {
    Send([percent](TOtherAppCtrl& players) { return players.OtherAppSetVolume(percent); },
         TPause::Kept);
}

void TOtherPlayers::PlayEntry(QListWidgetItem& entry) {
    stopOwnPlayer_();
    list_.MakeCurrent(entry);
    std::string fileList;
    for (const TFilePath& file : list_.EntryFiles(entry))
        fileList += file.StdString() + "\r\n";
    // The players start what they were given.
    Send([fileList](TOtherAppCtrl& players) { return players.OtherAppAddFiles(fileList); },
         TPause::Ended);
}

bool TOtherPlayers::Paused() const {
    return paused_;
}

TWhatPlays TOtherPlayers::WhatPlays() const {
    // Which song the other players play, they have not told.
    return {};
}

} // namespace pelbrisk
