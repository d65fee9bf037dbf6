#pragma once

#include "app/MprisClient.h"
#include "app/PlayTarget.h"
#include "app/WorkerThread.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace pelbrisk {

class IRemotePlayerTransport;
class TOtherAppCtrl;
class TPlayList;

// The other players as the play target, while the send toggle is down: every command goes to
// them on a worker of its own, in the order given, so that the window never waits on D-Bus. What
// they play is read there too, for the window to show.
class TOtherPlayers : public QObject, public IPlayTarget {
    Q_OBJECT

public:
    // `stopOwnPlayer` runs whenever an entry is handed on: pelbrisk's own player falls silent.
    TOtherPlayers(TPlayList& list, std::function<void()> stopOwnPlayer);
    ~TOtherPlayers() override;

    // Steers these players from now on (a test's stand-ins); commands already given go to the
    // ones before.
    void Use(std::shared_ptr<TOtherAppCtrl> players);
    // While `on`, what the players play is read every `intervalMs` and after every command.
    void Watch(bool on, int intervalMs = 500);

    // After a Stop, Play hands the selected entry on again: a player may empty its list on Stop.
    void Play() override;
    void Stop() override;
    void Pause() override;
    void Next() override;
    void Prev() override;
    void SetVolume(int percent) override;
    // The entry's files, played at once even where the player was paused.
    void PlayEntry(QListWidgetItem& entry) override;
    // As the players last showed it, or as the last command taken left it.
    bool Paused() const override;
    std::int64_t PositionMs() const override;
    std::int64_t LengthMs() const override;
    TWhatPlays WhatPlays() const override;

signals:
    // A command has reached the other players; `accepted` when one took it.
    void Answered(bool accepted);
    // Something the user is told about the players without a question; `NoticeOver` says that
    // it no longer holds.
    void Notice(const QString& text);
    void NoticeOver(const QString& text);
    // What the players show was read anew.
    void StateRead();

private:
    // What a command that was taken does to the pause the players show.
    enum class TPause { Kept, Toggled, Ended };
    struct TAnswer {
        explicit TAnswer(bool accepted, int files = 0) : Accepted(accepted), Files(files) {}
        bool Accepted;
        // Names of the players that took only the first of `Files` files.
        QStringList FirstOnly;
        int Files = 0;
    };

    void Send(std::function<TAnswer(TOtherAppCtrl&)> command, TPause pause);
    void Send(bool (TOtherAppCtrl::*command)(), TPause pause);
    void Answer(const TAnswer& answer, TPause pause);
    void ReadState();

    TPlayList& list_;
    std::function<void()> stopOwnPlayer_;
    std::unique_ptr<IRemotePlayerTransport> transport_;
    std::unique_ptr<TMprisClient> mpris_;
    std::shared_ptr<TOtherAppCtrl> players_;
    // The pause of what was last sent, as far as the players took it or showed it.
    bool paused_ = false;
    bool stopped_ = false;
    // What the players showed when last read; none when no MPRIS player answered.
    std::optional<TOtherPlayerState> state_;
    QTimer watch_;
    bool watching_ = false;
    bool reading_ = false;
    // Counts the commands given, so that a reading taken before the last one is not shown.
    unsigned commandsGiven_ = 0;
    // Last: it ends, running what was given, before what its commands use goes.
    TWorkerThread worker_;
};

} // namespace pelbrisk
