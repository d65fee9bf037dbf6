#pragma once

#include "engine/MP3Player.h"

#include <string>

namespace pelbrisk::cli {

// Opens a command's input in the player: the named file, or standard input for "-", which a
// stop signal (see Signals.h) ends even while its writer sends nothing.
void OpenInput(TMP3Player& player, const std::string& input);

// How the player's current run ended, as its end-of-play event tells.
struct TPlayEnd {
    bool Ended = false;
    TMP3EndPlayReason Reason = merStoped;

    // Listens to the player's end of play from now on, instead of any earlier listener.
    void Watch(TMP3Player& player);
};

// A time as the commands show it: minutes and seconds, "1:05".
std::string Clock(int64_t milliseconds);

} // namespace pelbrisk::cli
