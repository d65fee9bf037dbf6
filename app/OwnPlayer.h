#pragma once

#include "app/FilePath.h"
#include "app/PlayTarget.h"

#include <QString>
#include <functional>

namespace pelbrisk {

class TMP3Player;
class TPlayList;

// Runs a player operation; its failure goes to the standard error box and the window goes on.
void ReportErrors(const std::function<void()>& operation);

// pelbrisk's own player as the play target: Next and Prev step through the play list, and a file
// that cannot be played is named and passed over for the next entry. A song may wait to be played
// (cued), also at a position of its own.
class TOwnPlayer final : public IPlayTarget {
public:
    struct THooks {
        // Tells the user something that needs no answer; empty: what was told is over.
        std::function<void(const QString&)> Notice;
        // Nothing plays any more.
        std::function<void()> Stopped;
    };

    TOwnPlayer(TMP3Player& player, TPlayList& list, THooks hooks);

    void Play() override;
    void Stop() override;
    void Pause() override;
    void Next() override;
    void Prev() override;
    void SetVolume(int percent) override;
    void PlayEntry(QListWidgetItem& entry) override;
    bool Paused() const override;
    std::int64_t PositionMs() const override;
    std::int64_t LengthMs() const override;
    TWhatPlays WhatPlays() const override;
    // Opens the entry's file without playing it, or with `paused` plays and pauses it at once.
    void Cue(QListWidgetItem& entry, bool paused);
    // Opens the entry's file to wait at `positionMs`, where Play starts it.
    void CueAt(QListWidgetItem& entry, int positionMs);
    // Moves where a song that waits will start; false when none waits.
    bool MoveCued(int positionMs);

private:
    // Opens the file and with `play` plays it; the text of its own failure (it cannot be opened,
    // or is no MPEG audio), or empty when it is open or when the sound device failed, which the
    // error box has shown.
    QString OpenFile(const TFilePath& path, bool play);
    void NoticeFailure(const TFilePath& path, const QString& failure);

    TMP3Player& player_;
    TPlayList& list_;
    THooks hooks_;
    // A song waits to be played, and where.
    bool cued_ = false;
    int startAtMs_ = 0;
};

} // namespace pelbrisk
