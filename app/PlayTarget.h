#pragma once

#include "app/FilePath.h"

#include <QString>
#include <cstdint>

class QListWidgetItem;

namespace pelbrisk {

// What a play target plays, as the caption, the icon's tip and MPRIS tell it.
struct TWhatPlays {
    enum class TState { Nothing, Cued, Playing, Paused };
    TState State = TState::Nothing;
    // The song's file, where the target knows it; else the title the target tells.
    TFilePath File;
    QString Title;
};

// What the transport buttons, the volume and a chosen play-list entry act on: pelbrisk's own
// player, or in send mode the other players on the desktop.
class IPlayTarget {
public:
    virtual ~IPlayTarget() = default;

    virtual void Play() = 0;
    virtual void Stop() = 0;
    // Pauses what plays, resumes what is paused.
    virtual void Pause() = 0;
    virtual void Next() = 0;
    virtual void Prev() = 0;
    // 0 to 100.
    virtual void SetVolume(int percent) = 0;
    // Plays what the chosen play-list entry stands for.
    virtual void PlayEntry(QListWidgetItem& entry) = 0;
    // Whether the pause button shows down.
    virtual bool Paused() const = 0;
    // Where the song is and how long it is, in milliseconds.
    virtual std::int64_t PositionMs() const = 0;
    virtual std::int64_t LengthMs() const = 0;
    // The song that plays, is paused or waits to be played.
    virtual TWhatPlays WhatPlays() const = 0;
};

} // namespace pelbrisk
