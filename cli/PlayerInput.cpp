#include "cli/PlayerInput.h"

#include "cli/Signals.h"
#include "stream/Stream.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace pelbrisk::cli {

namespace {

// Standard input whose wait for more bytes a stop signal ends, as the end of the music: a pipe
// that stalls would otherwise hold the open, or the stop that waits for the reader, until its
// writer sends again.
class TStoppableInput final : public TMPPipeStream {
public:
    TStoppableInput() : TMPPipeStream(STDIN_FILENO, false) {}

    int32_t Read(void* destination, int32_t count) override {
        pollfd waits[] = {{STDIN_FILENO, POLLIN, 0}, {StopWakeDescriptor(), POLLIN, 0}};
        while (poll(waits, 2, -1) < 0 && errno == EINTR) {
        }
        if (waits[1].revents != 0) return 0;
        return TMPPipeStream::Read(destination, count);
    }
};

} // namespace

void OpenInput(TMP3Player& player, const std::string& input) {
    if (input == "-")
        player.OpenStream(new TStoppableInput, msoOwnsStream);
    else
        player.SetFileName(input);
}

void TPlayEnd::Watch(TMP3Player& player) {
    player.OnEndPlay = [this](void*, TMP3EndPlayReason reason) {
        Ended = true;
        Reason = reason;
    };
}

std::string Clock(int64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(milliseconds / 60000),
                  static_cast<long long>(milliseconds / 1000 % 60));
    return text;
}

} // namespace pelbrisk::cli
