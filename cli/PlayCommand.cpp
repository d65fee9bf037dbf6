#include "cli/Commands.h"
#include "cli/PlayerInput.h"
#include "engine/MP3Player.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace pelbrisk::cli {

namespace {

constexpr int32_t kSeekStepMs = 5000;

enum class TKey { None, Space, Left, Right, Next, Quit };

// The controlling terminal in raw mode for single keys, restored on exit. Keys come from the
// terminal rather than standard input, which may be the music itself.
class TKeyboard {
public:
    TKeyboard() {
        descriptor_ = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor_ < 0 || tcgetattr(descriptor_, &saved_) != 0) {
            Release();
            return;
        }
        termios raw = saved_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        tcsetattr(descriptor_, TCSANOW, &raw);
        restore_ = true;
    }
    ~TKeyboard() { Release(); }
    TKeyboard(const TKeyboard&) = delete;
    TKeyboard& operator=(const TKeyboard&) = delete;

    // Waits up to `milliseconds` for a key.
    TKey Read(int milliseconds) {
        if (descriptor_ < 0) {
            poll(nullptr, 0, milliseconds);
            return TKey::None;
        }
        pollfd waiting{descriptor_, POLLIN, 0};
        if (poll(&waiting, 1, milliseconds) <= 0) return TKey::None;
        char bytes[8] = {};
        const ssize_t count = read(descriptor_, bytes, sizeof bytes);
        if (count <= 0) return TKey::None;
        if (count >= 3 && bytes[0] == '\x1b' && bytes[1] == '[') {
            if (bytes[2] == 'C') return TKey::Right;
            if (bytes[2] == 'D') return TKey::Left;
            return TKey::None;
        }
        switch (bytes[0]) {
        case ' ':
            return TKey::Space;
        case 'n':
        case 'N':
            return TKey::Next;
        case 'q':
        case 'Q':
            return TKey::Quit;
        default:
            return TKey::None;
        }
    }

private:
    void Release() {
        if (restore_) tcsetattr(descriptor_, TCSANOW, &saved_);
        restore_ = false;
        if (descriptor_ >= 0) close(descriptor_);
        descriptor_ = -1;
    }

    int descriptor_ = -1;
    termios saved_{};
    bool restore_ = false;
};

std::string Clock(int32_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", milliseconds / 60000, milliseconds / 1000 % 60);
    return text;
}

void DrawStatus(TMP3Player& player, const std::string& title) {
    std::string line = title + "  " + Clock(player.Position());
    if (const int32_t duration = player.Duration(); duration > 0) line += " / " + Clock(duration);
    if (player.Status() == mpsPaused) line += "  [paused]";
    std::fprintf(stderr, "\r\x1b[K%s", line.c_str());
    std::fflush(stderr);
}

enum class TOutcome { Finished, Next, Quit, Failed };

TOutcome PlayOne(TMP3Player& player, TKeyboard& keyboard, const std::string& file) {
    TPlayEnd end;
    end.Watch(player);
    try {
        OpenInput(player, file);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pelbrisk-cli: %s: %s\n", file.c_str(), error.what());
        return TOutcome::Failed;
    }
    std::string title = file == "-" ? "(standard input)" : player.Info().Title();
    if (title.empty()) title = file.substr(file.find_last_of('/') + 1);
    while (!end.Ended) {
        DrawStatus(player, title);
        const TKey key = keyboard.Read(100);
        try {
            switch (key) {
            case TKey::Space:
                if (player.Status() == mpsPaused)
                    player.Resume();
                else
                    player.Pause();
                break;
            case TKey::Left:
            case TKey::Right:
                // Standard input cannot seek; the keys then do nothing.
                if (player.Commands() & CommandBit(mpcSeek))
                    player.Seek(std::max(0, player.Position() +
                                                (key == TKey::Left ? -kSeekStepMs : kSeekStepMs)));
                break;
            case TKey::Next:
            case TKey::Quit:
                player.Close();
                // The close's end of play belongs to this file; left queued, it would end the
                // next one as soon as that starts.
                player.Messages().Pump();
                std::fprintf(stderr, "\n");
                return key == TKey::Quit ? TOutcome::Quit : TOutcome::Next;
            case TKey::None:
                break;
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "\npelbrisk-cli: %s\n", error.what());
        }
        player.Messages().Pump();
    }
    std::fprintf(stderr, "\n");
    return end.Reason == merSuccessful ? TOutcome::Finished : TOutcome::Failed;
}

} // namespace

int RunPlay(const TArguments& arguments) {
    if (arguments.empty()) {
        std::fprintf(stderr, "usage: pelbrisk-cli play FILE...\n");
        return 2;
    }
    SetApplicationExceptionDisplay([](const std::exception_ptr& error) {
        std::fprintf(stderr, "\npelbrisk-cli: %s\n", ExceptionText(error).c_str());
    });
    TKeyboard keyboard;
    TMP3Player player;
    bool anyFailed = false;
    for (const std::string& file : arguments) {
        const TOutcome outcome = PlayOne(player, keyboard, file);
        if (outcome == TOutcome::Failed) anyFailed = true;
        if (outcome == TOutcome::Quit) break;
    }
    return anyFailed ? 1 : 0;
}

} // namespace pelbrisk::cli
