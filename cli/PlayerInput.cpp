#include "cli/PlayerInput.h"

#include "stream/Stream.h"

#include <unistd.h>

namespace pelbrisk::cli {

void OpenInput(TMP3Player& player, const std::string& input) {
    if (input == "-")
        player.OpenStream(new TMPPipeStream(STDIN_FILENO, false), msoOwnsStream);
    else
        player.SetFileName(input);
}

void TPlayEnd::Watch(TMP3Player& player) {
    player.OnEndPlay = [this](void*, TMP3EndPlayReason reason) {
        Ended = true;
        Reason = reason;
    };
}

} // namespace pelbrisk::cli
