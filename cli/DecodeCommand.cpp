#include "cli/CommandLine.h"
#include "cli/PlayerInput.h"
#include "cli/Signals.h"
#include "cli/TerminalText.h"
#include "decoder/DecoderState.h"
#include "engine/MP3Player.h"
#include "info/ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pelbrisk::cli {

namespace {

constexpr TKnownOption kDecodeOptions[] = {
    {"-o", true}, {"--full-band"}, {"--no-gapless"}, {"--replay-gain", true}};

// Whether two paths name one plain file: the same path, a symbolic link to it or a hard link.
bool SameFile(const std::string& first, const std::string& second) {
    struct stat a {};
    struct stat b {};
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && S_ISREG(a.st_mode) &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void DrawProgress(int32_t position, int32_t duration) {
    constexpr int kWidth = 40;
    if (duration <= 0) {
        std::fprintf(stderr, "\r%s decoded", Clock(position).c_str());
    } else {
        const int percent = static_cast<int>(static_cast<int64_t>(position) * 100 / duration);
        const int filled = std::min(kWidth, percent * kWidth / 100);
        std::fprintf(
            stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
            std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), std::min(percent, 100));
    }
    std::fflush(stderr);
}

// How long the PCM in a WAV file that the sound output finished plays, counted from the file's
// size: the header is the plain one, or has room for RF64 sizes behind "WAVE" (a JUNK chunk, which
// became ds64 where the data passed 4 GiB).
int64_t WavMilliseconds(const std::string& path) {
    uint8_t header[kWavHeaderBytes + kDs64ChunkBytes]{};
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(header), sizeof header);
    const bool roomy =
        std::memcmp(header + 12, "JUNK", 4) == 0 || std::memcmp(header + 12, "ds64", 4) == 0;
    const int32_t room = roomy ? kDs64ChunkBytes : 0;
    const uint32_t bytesPerSecond = LittleEndian32(header + room + 28);
    std::error_code error;
    const auto size = static_cast<int64_t>(std::filesystem::file_size(path, error));
    if (error || bytesPerSecond == 0) return 0;
    return std::max<int64_t>(0, size - kWavHeaderBytes - room) * 1000 / bytesPerSecond;
}

} // namespace

int RunDecode(const TArguments& arguments) {
    TCommandLine line;
    if (const auto status = ParseCommandLine(arguments, kDecodeOptions, kDecodeUsage, line))
        return *status;
    if (line.Operands.empty() || !line.Has("-o")) return UsageError(kDecodeUsage);
    const std::vector<std::string>& inputs = line.Operands;
    // The songs after the first are opened by name while the one before ends.
    if (std::find(inputs.begin() + 1, inputs.end(), "-") != inputs.end()) {
        std::fprintf(stderr, "pelbrisk-cli: standard input (\"-\") can only be the first input\n");
        return 2;
    }
    TReplayGainSettings replayGain;
    if (const auto mode = line.Value("--replay-gain")) {
        if (*mode == "track")
            replayGain.Mode = TReplayGainMode::Track;
        else if (*mode == "album")
            replayGain.Mode = TReplayGainMode::Album;
        else
            return UsageError(kDecodeUsage);
    }
    std::string output = *line.Value("-o");
    if (output == "-") {
        if (isatty(STDOUT_FILENO)) {
            std::fprintf(stderr, "pelbrisk-cli: not writing WAV data to a terminal\n");
            return 2;
        }
        output = "/dev/stdout";
    }
    // The output is created afresh: were it the input, the song would be gone before a frame
    // of it was read.
    for (const std::string& input : inputs) {
        if (!SameFile(input == "-" ? "/dev/stdin" : input, output)) continue;
        PrintError("'" + input + "' and '" + output + "' are the same file");
        return 1;
    }
    const bool showProgress = isatty(STDERR_FILENO) != 0;
    bool failed = false;
    SetApplicationExceptionDisplay([&failed, showProgress](const std::exception_ptr& error) {
        PrintError(ExceptionText(error), showProgress ? "\n" : "");
        failed = true;
    });
    ProcessDecoder().FullBand = line.Has("--full-band");

    TStopSignals stopSignals;
    TMP3Player player;
    player.SetAutoPlay(false);
    player.SetGapless(!line.Has("--no-gapless"));
    player.SetReplayGain(replayGain);
    TPlayEnd end;
    end.Watch(player);
    // Each song follows the one before in the same WAV data, as play joins them on the device.
    size_t current = 0;
    player.OnNextSong = [&current](void*) { ++current; };
    try {
        OpenInput(player, inputs[0]);
    } catch (const std::exception& error) {
        // Standard input that a stop signal ended has written nothing yet.
        if (StopSignal() != 0) return 128 + StopSignal();
        PrintError(inputs[0] + ": " + error.what());
        return 1;
    }
    player.SetNextFileNames({inputs.begin() + 1, inputs.end()});
    try {
        player.SetOutputFileName(output);
        player.Play();
    } catch (const std::exception& error) {
        PrintError(error.what()); // names the output
        return 1;
    }
    // A short wait: a stop signal is looked at between two.
    while (!end.Ended && StopSignal() == 0) {
        player.Messages().WaitForMessage(50);
        player.Messages().Pump();
        if (showProgress && !end.Ended) DrawProgress(player.Position(), player.Duration());
    }
    if (showProgress) std::fprintf(stderr, "\n");
    if (const int signal = StopSignal(); signal != 0) {
        // The WAV keeps what was decoded, its header finished to that, as other decoders leave
        // it, and the message says it is cut short. A file that failed is removed as below.
        try {
            player.Close();
        } catch (const std::exception& error) {
            PrintError(error.what());
            failed = true;
        }
        player.Messages().Pump();
        // A pipe or a device (-o -) gets no header to finish and just stops.
        if (!failed && output != "/dev/stdout" && std::filesystem::is_regular_file(output))
            PrintError("interrupted: " + output + " holds the first " +
                       Clock(WavMilliseconds(output)));
        if (!failed) return 128 + signal;
    }
    if (end.Reason == merSuccessful && !failed && current + 1 == inputs.size()) return 0;
    if (end.Reason == merSuccessful && !failed) {
        // A song that cannot follow in the same data leaves a WAV that is not the album.
        PrintError(inputs[current + 1] + " cannot follow " + inputs[current] +
                   " in one WAV: " + player.NextRefusal());
        if (output != "/dev/stdout") std::remove(output.c_str());
    }
    // The sound output removes a WAV file it could not write whole, rather than leave one
    // whose header passes a part of the song for all of it.
    struct stat status {};
    if (stat(output.c_str(), &status) != 0 && errno == ENOENT)
        PrintError("removed the unfinished " + output);
    return 1;
}

} // namespace pelbrisk::cli
