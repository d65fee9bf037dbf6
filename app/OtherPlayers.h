#pragma once

#include "app/PlayTarget.h"
#include "app/WorkerThread.h"

#include <QObject>
#include <functional>
#include <memory>

namespace pelbrisk {

class IRemotePlayerTransport;
class TMprisClient;
class TOtherAppCtrl;
class TPlayList;

// The other players as the play target, while the send toggle is down: every command goes to
// them on a worker of its own, in the order given, so that the window never waits on D-Bus.
class TOtherPlayers : public QObject, public IPlayTarget {
    Q_OBJECT

public:
    // `stopOwnPlayer` runs whenever an entry is handed on: pelbrisk's own player falls silent.
    TOtherPlayers(TPlayList& list, std::function<void()> stopOwnPlayer);
    ~TOtherPlayers() override;

    // Steers these players from now on (a test's stand-ins); commands already given go to the
    // ones before.
    void Use(std::shared_ptr<TOtherAppCtrl> players);

    void Play() override;
    void Stop() override;
    void Pause() override;
    void Next() override;
    void Prev() override;
    void SetVolume(int percent) override;
    void PlayEntry(QListWidgetItem& entry) override;
    bool Paused() const override;
    TWhatPlays WhatPlays() const override;

signals:
    // A command has reached the other players; `accepted` when one took it.
    void Answered(bool accepted);

private:
    // What a command that was taken does to the pause the players show.
    enum class TPause { Kept, Toggled, Ended };

    void Send(std::function<bool(TOtherAppCtrl&)> command, TPause pause);

    TPlayList& list_;
    std::function<void()> stopOwnPlayer_;
    std::unique_ptr<IRemotePlayerTransport> transport_;
    std::unique_ptr<TMprisClient> mpris_;
    std::shared_ptr<TOtherAppCtrl> players_;
    // The pause of what was last sent, as far as the players took it.
    bool paused_ = false;
    // Last: it ends, running what was given, before what its commands use goes.
    TWorkerThread worker_;
};

} // namespace pelbrisk
