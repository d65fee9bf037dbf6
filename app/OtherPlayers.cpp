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

void TOtherPlayers::Send(std::function<bool(TOtherAppCtrl&)> command) {
    worker_.Post([this, players = players_, command = std::move(command)] {
        const bool accepted = command(*players);
        QMetaObject::invokeMethod(
            this, [this, accepted] { emit Answered(accepted); }, Qt::QueuedConnection);
    });
}

void TOtherPlayers::Play() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppPlay(); });
}

void TOtherPlayers::Stop() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppStop(); });
}

void TOtherPlayers::Pause() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppPause(); });
}

void TOtherPlayers::Next() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppNext(); });
}

void TOtherPlayers::Prev() {
    Send([](TOtherAppCtrl& players) { return players.OtherAppPrev(); });
}

void TOtherPlayers::SetVolume(int percent) {
    Send([percent](TOtherAppCtrl& players) { return players.OtherAppSetVolume(percent); });
}

void TOtherPlayers::PlayEntry(QListWidgetItem& entry) {
    stopOwnPlayer_();
    list_.MakeCurrent(entry);
    std::string fileList;
    for (const TFilePath& file : list_.EntryFiles(entry))
        fileList += file.StdString() + "\r\n";
    Send([fileList](TOtherAppCtrl& players) { return players.OtherAppAddFiles(fileList); });
}

bool TOtherPlayers::Paused() const {
    return false;
}

} // namespace pelbrisk
