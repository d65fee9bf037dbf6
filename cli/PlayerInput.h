#pragma once

#include "engine/MP3Player.h"

#include <string>

namespace pelbrisk::cli {

// Opens a command's input in the player: the named file, or standard input for "-".
void OpenInput(TMP3Player& player, const std::string& input);

// How the player's current run ended, as its end-of-play event tells.
struct TPlayEnd {
    bool Ended = false;
    TMP3EndPlayReason Reason = merStoped;

    // Listens to the player's end of play from now on, instead of any earlier listener.
    void Watch(TMP3Player& player);
};

} // namespace pelbrisk::cli
