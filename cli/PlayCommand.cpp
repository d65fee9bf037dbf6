#include "cli/CommandLine.h"
#include "cli/PlayerInput.h"
#include "cli/Signals.h"
#include "cli/TerminalText.h"
#include "engine/MP3Player.h"

#include <algorithm>
#include <atomic>
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

// Ctrl+Z (SIGTSTP) and SIGCONT, taken up at the next look at the keys like a stop signal.
std::atomic<bool> suspendAsked{false};
std::atomic<bool> continued{false};

void NoteSuspension(int signal) {
    (signal == SIGTSTP ? suspendAsked : continued) = true;
}

// Stop stands for a stop signal, which ends play like q.
enum class TKey { None, Space, Left, Right, Next, Quit, Stop };

// The controlling terminal in raw mode for single keys, restored on exit and while the process
// is stopped. Keys come from the terminal rather than standard input, which may be the music
// itself.
class TKeyboard {
public:
    TKeyboard() {
        descriptor_ = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor_ >= 0 && tcgetattr(descriptor_, &saved_) == 0)
            Resume();
        else
            Release();
    }
    ~TKeyboard() { Release(); }
    TKeyboard(const TKeyboard&) = delete;
    TKeyboard& operator=(const TKeyboard&) = delete;

    // Keys come while the terminal is ours: raw, and the process in its foreground.
    bool Listening() const { return raw_; }

    // Gives the terminal back the mode it had.
    void Suspend() {
        if (raw_) tcsetattr(descriptor_, TCSANOW, &saved_);
        raw_ = false;
    }

    // Raw mode, unless the process runs in the background: touching the terminal, or reading
    // it, would stop the process there. `again` sets it even where it was set before: a shell
    // sets its own mode while a job is stopped.
    void Resume(bool again = false) {
        if ((raw_ && !again) || descriptor_ < 0 || tcgetpgrp(descriptor_) != getpgrp()) return;
        termios raw = saved_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        raw_ = tcsetattr(descriptor_, TCSANOW, &raw) == 0;
    }

    // Waits up to `milliseconds` for keys, or a stop signal, and returns every key that has
    // arrived.
    std::vector<TKey> Read(int milliseconds) {
        std::vector<TKey> keys;
        pollfd waits[] = {{descriptor_, POLLIN, 0}, {StopWakeDescriptor(), POLLIN, 0}};
        if (poll(waits, 2, milliseconds) <= 0 || waits[0].revents == 0) return keys;
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
        Suspend();
        if (descriptor_ >= 0) close(descriptor_);
        descriptor_ = -1;
    }

    int descriptor_ = -1;
    termios saved_{};
    bool raw_ = false;
};

// Ctrl+Z: the terminal gets its mode back and the sound pauses before the process stops, so that
// neither the device nor its stall watch takes the time stopped for a failure. It plays on when
// continued; in the background without the keys.
void Suspend(TMP3Player& player, TKeyboard& keyboard) {
    const bool playing = player.Status() == mpsPlaying;
    if (playing) player.Pause();
    keyboard.Suspend();
    SuspendHere();
    keyboard.Resume();
    if (playing) player.Resume();
}

std::string StatusLine(TMP3Player& player, const std::string& title) {
    std::string line = title + "  " + Clock(player.Position());
    if (const int32_t duration = player.Duration(); duration > 0) line += " / " + Clock(duration);
    if (player.Status() == mpsPaused) line += "  [paused]";
    return line;
}

enum class TOutcome { Finished, Next, Quit, Failed, DeviceFailed, Interrupted };

// The title of `file`, which the player has open or has gone on from without a gap: after songs
// shorter than what the output holds, it may have opened a later one already.
std::string TitleOf(TMP3Player& player, const std::string& file) {
    std::string title;
    if (file == "-" || file == player.FileName()) {
        title = player.Info().Title();
    } else {
        TMP3Info tags;
        try {
            TMP3Player::ReadFileInfo(file, tags);
            title = tags.Title();
        } catch (const std::exception&) {
            // It played a moment ago; gone now, it shows by its name.
        }
    }
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
        PrintError(error.what());
        return TOutcome::DeviceFailed;
    } catch (const std::exception& error) {
        // Standard input that a stop signal ended is no bad file.
        if (StopSignal() != 0) return TOutcome::Interrupted;
        PrintError(file + ": " + error.what());
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
            if (suspendAsked.exchange(false)) Suspend(player, keyboard);
            // The terminal is taken again when play comes to the foreground (fg after bg need
            // not continue it) and after any stop (SIGSTOP too).
            keyboard.Resume(continued.exchange(false));
            int32_t seekBy = 0;
            // Without a terminal no key comes: the player's messages are waited for instead, so
            // that the end of a song is taken up at once.
            std::vector<TKey> keys;
            if (StopSignal() != 0)
                keys = {TKey::Stop};
            else if (keyboard.Listening())
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
            PrintError(error.what(), lineEnd);
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
        PrintError(ExceptionText(error), terminal ? "\n" : "");
    });
    SetAudioNoticeDisplay(
        [terminal](const std::string& text) { PrintError(text, terminal ? "\r\x1b[K" : ""); });
    TStopSignals stopSignals;
    TSignalHandlers suspension({SIGTSTP, SIGCONT}, NoteSuspension);
    TKeyboard keyboard;
    TMP3Player player;
    player.SetDeviceID(deviceId);
    bool anyFailed = false;
    for (size_t current = 0; current < line.Operands.size(); ++current) {
        const TOutcome outcome = PlayOne(player, keyboard, line.Operands, current, terminal);
        if (outcome == TOutcome::Failed || outcome == TOutcome::DeviceFailed) anyFailed = true;
        if (outcome == TOutcome::Quit || outcome == TOutcome::DeviceFailed || deviceFailed) break;
        // The shell's convention for a program ended by a signal.
        if (outcome == TOutcome::Interrupted) return 128 + StopSignal();
    }
    return anyFailed ? 1 : 0;
}

} // namespace pelbrisk::cli
