#include "cli/CommandLine.h"
#include "cli/PlayerInput.h"
#include "cli/TerminalText.h"
#include "engine/MP3Player.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace pelbrisk::cli {

namespace {

constexpr int32_t kSeekStepMs = 5000;
constexpr TKnownOption kPlayOptions[] = {{"--device", true}};

// Ctrl+C, SIGTERM and SIGHUP end play at the next look at the keys (at most 100 ms on), so that
// the sound stops and the terminal gets its mode back before the exit. A second one ends the
// process at once: a pipe that stalls may keep the stop waiting for its next bytes.
volatile std::sig_atomic_t stopSignal = 0;

void NoteStopSignal(int signal) {
    stopSignal = signal;
}

class TStopSignals {
public:
    TStopSignals() {
        struct sigaction action {};
        action.sa_handler = NoteStopSignal;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &action, &saved_[i]);
    }
    ~TStopSignals() {
        for (size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &saved_[i], nullptr);
    }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction saved_[std::size(kSignals)]{};
};

// Stop stands for a stop signal, which ends play like q.
enum class TKey { None, Space, Left, Right, Next, Quit, Stop };

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

    bool Present() const { return descriptor_ >= 0; }

    // Waits up to `milliseconds` for keys and returns every key that has arrived.
    std::vector<TKey> Read(int milliseconds) {
        std::vector<TKey> keys;
        if (descriptor_ < 0) return keys;
        pollfd waiting{descriptor_, POLLIN, 0};
        if (poll(&waiting, 1, milliseconds) <= 0) return keys;
        char bytes[256];
        const ssize_t count = read(descriptor_, bytes, sizeof bytes);
        for (ssize_t at = 0; at < count; ++at) {
            if (bytes[at] == '\x1b' && at + 2 < count && bytes[at + 1] == '[') {
                if (bytes[at + 2] == 'C') keys.push_back(TKey::Right);
                if (bytes[at + 2] == 'D') keys.push_back(TKey::Left);
                at += 2;
                continue;
            }
            switch (bytes[at]) {
            case ' ':
                keys.push_back(TKey::Space);
                break;
            case 'n':
            case 'N':
                keys.push_back(TKey::Next);
                break;
            case 'q':
            case 'Q':
                keys.push_back(TKey::Quit);
                break;
            default:
                break;
            }
        }
        return keys;
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

std::string StatusLine(TMP3Player& player, const std::string& title) {
    std::string line = title + "  " + Clock(player.Position());
    if (const int32_t duration = player.Duration(); duration > 0) line += " / " + Clock(duration);
    if (player.Status() == mpsPaused) line += "  [paused]";
    return line;
}

enum class TOutcome { Finished, Next, Quit, Failed, DeviceFailed, Interrupted };

std::string TitleOf(TMP3Player& player, const std::string& file) {
    std::string title = player.Info().Title();
    if (title.empty())
        title = file == "-" ? "(standard input)" : file.substr(file.find_last_of('/') + 1);
    return TerminalText(title);
}

// Plays files[current] and each later file that the player takes over without a gap, moving
// `current` along. A terminal gets a status line redrawn in place; a file or a pipe one line
// per file.
TOutcome PlayOne(TMP3Player& player, TKeyboard& keyboard, const std::vector<std::string>& files,
                 size_t& current, bool terminal) {
    TPlayEnd end;
    end.Watch(player);
    const char* const lineEnd = terminal ? "\n" : "";
    std::string title;
    player.OnNextSong = [&](void*) {
        ++current;
        title = TitleOf(player, files[current]);
        std::fprintf(stderr, "%s", lineEnd);
        if (!terminal) std::fprintf(stderr, "%s\n", StatusLine(player, title).c_str());
    };
    const std::string& file = files[current];
    try {
        OpenInput(player, file);
    } catch (const EAudioDeviceError& error) {
        // The file is fine; the device is not.
        std::fprintf(stderr, "pelbrisk-cli: %s\n", error.what());
        return TOutcome::DeviceFailed;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pelbrisk-cli: %s: %s\n", file.c_str(), error.what());
        return TOutcome::Failed;
    }
    title = TitleOf(player, file);
    // Standard input is no file to open by name: the files up to it follow without a gap.
    const auto firstAfter = files.begin() + static_cast<std::ptrdiff_t>(current) + 1;
    player.SetNextFileNames({firstAfter, std::find(firstAfter, files.end(), "-")});
    if (!terminal) std::fprintf(stderr, "%s\n", StatusLine(player, title).c_str());
    while (!end.Ended) {
        if (terminal) {
            // Reading the position may find the next song heard: its notice gives the line the
            // song's title before the line shows the song's time.
            player.Position();
            player.Messages().Pump();
            std::fprintf(stderr, "\r\x1b[K%s", StatusLine(player, title).c_str());
            std::fflush(stderr);
        }
        try {
            int32_t seekBy = 0;
            // Without a terminal no key comes: the player's messages are waited for instead, so
            // that the end of a song is taken up at once.
            std::vector<TKey> keys;
            if (stopSignal != 0)
                keys = {TKey::Stop};
            else if (keyboard.Present())
                keys = keyboard.Read(100);
            else
                player.Messages().WaitForMessage(100);
            for (const TKey key : keys) {
                switch (key) {
                case TKey::Space:
                    if (player.Status() == mpsPaused)
                        player.Resume();
                    else
                        player.Pause();
                    break;
                case TKey::Left:
                case TKey::Right:
                    // Every press counts: presses that arrive together make one longer seek.
                    seekBy += key == TKey::Left ? -kSeekStepMs : kSeekStepMs;
                    break;
                case TKey::Next:
                case TKey::Quit:
                case TKey::Stop:
                    player.Close();
                    // The close's end of play belongs to this file; left queued, it would end
                    // the next one as soon as that starts.
                    player.Messages().Pump();
                    std::fprintf(stderr, "%s", lineEnd);
                    return key == TKey::Quit   ? TOutcome::Quit
                           : key == TKey::Next ? TOutcome::Next
                                               : TOutcome::Interrupted;
                case TKey::None:
                    break;
                }
            }
            // Standard input cannot seek; the arrows then do nothing.
            if (seekBy != 0 && (player.Commands() & CommandBit(mpcSeek)))
                player.Seek(std::max(0, player.Position() + seekBy));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%spelbrisk-cli: %s\n", lineEnd, error.what());
        }
        player.Messages().Pump();
    }
    std::fprintf(stderr, "%s", lineEnd);
    return end.Reason == merSuccessful ? TOutcome::Finished : TOutcome::Failed;
}

// --device null|default|N, else PELBRISK_AUDIO; false (with the reason said) when the one that
// counts names no device.
bool ChooseDevice(const TCommandLine& line, int32_t& deviceId) {
    std::optional<int32_t> chosen;
    if (const auto device = line.Value("--device")) {
        chosen = AudioDeviceChoice(*device);
        if (!chosen)
            std::fprintf(stderr, "pelbrisk-cli: --device takes null, default or a number\n");
    } else {
        chosen = AudioDeviceFromEnvironment();
        if (!chosen)
            std::fprintf(stderr, "pelbrisk-cli: PELBRISK_AUDIO names no device (null, default or "
                                 "a number)\n");
    }
    deviceId = chosen.value_or(-1);
    return chosen.has_value();
}

} // namespace

int RunPlay(const TArguments& arguments) {
    TCommandLine line;
    if (const auto status = ParseCommandLine(arguments, kPlayOptions, kPlayUsage, line))
        return *status;
    int32_t deviceId = -1;
    if (!ChooseDevice(line, deviceId)) return 2;
    if (line.Operands.empty()) return UsageError(kPlayUsage);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    // A failed device fails every file after it too: it is said once, and play ends.
    bool deviceFailed = false;
    SetApplicationExceptionDisplay([terminal, &deviceFailed](const std::exception_ptr& error) {
        deviceFailed = deviceFailed || IsAudioDeviceError(error);
        std::fprintf(stderr, "%spelbrisk-cli: %s\n", terminal ? "\n" : "",
                     ExceptionText(error).c_str());
    });
    SetAudioNoticeDisplay([terminal](const std::string& text) {
        std::fprintf(stderr, "%spelbrisk-cli: %s\n", terminal ? "\r\x1b[K" : "", text.c_str());
    });
    TStopSignals stopSignals;
    TKeyboard keyboard;
    TMP3Player player;
    player.SetDeviceID(deviceId);
    bool anyFailed = false;
    for (size_t current = 0; current < line.Operands.size(); ++current) {
        const TOutcome outcome = PlayOne(player, keyboard, line.Operands, current, terminal);
        if (outcome == TOutcome::Failed || outcome == TOutcome::DeviceFailed) anyFailed = true;
        if (outcome == TOutcome::Quit || outcome == TOutcome::DeviceFailed || deviceFailed) break;
        // The shell's convention for a program ended by a signal.
        if (outcome == TOutcome::Interrupted) return 128 + stopSignal;
    }
    return anyFailed ? 1 : 0;
}

} // namespace pelbrisk::cli
