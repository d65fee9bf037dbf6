#include "cli/Commands.h"
#include "cli/PlayerInput.h"
#include "decoder/DecoderState.h"
#include "engine/MP3Player.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <unistd.h>

namespace pelbrisk::cli {

namespace {

struct TDecodeOptions {
    std::string Input;
    std::string Output;
    bool FullBand = false;
    bool Gapless = true;
};

bool ParseDecodeOptions(const TArguments& arguments, TDecodeOptions& options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-o" && i + 1 < arguments.size()) {
            options.Output = arguments[++i];
        } else if (argument == "--full-band") {
            options.FullBand = true;
        } else if (argument == "--no-gapless") {
            options.Gapless = false;
        } else if (options.Input.empty() && (argument == "-" || argument[0] != '-')) {
            options.Input = argument;
        } else {
            return false;
        }
    }
    return !options.Input.empty() && !options.Output.empty();
}

void DrawProgress(int32_t position, int32_t duration) {
    constexpr int kWidth = 40;
    if (duration <= 0) {
        std::fprintf(stderr, "\r%d:%02d decoded", position / 60000, position / 1000 % 60);
    } else {
        const int percent = static_cast<int>(static_cast<int64_t>(position) * 100 / duration);
        const int filled = std::min(kWidth, percent * kWidth / 100);
        std::fprintf(
            stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
            std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), std::min(percent, 100));
    }
    std::fflush(stderr);
}

} // namespace

int RunDecode(const TArguments& arguments) {
    TDecodeOptions options;
    if (!ParseDecodeOptions(arguments, options)) {
        std::fprintf(stderr, "usage: pelbrisk-cli decode FILE -o OUT.wav|- [--full-band] "
                             "[--no-gapless]\n");
        return 2;
    }
    if (options.Output == "-") {
        if (isatty(STDOUT_FILENO)) {
            std::fprintf(stderr, "pelbrisk-cli: not writing WAV data to a terminal\n");
            return 2;
        }
        options.Output = "/dev/stdout";
    }
    const bool showProgress = isatty(STDERR_FILENO) != 0;
    bool failed = false;
    SetApplicationExceptionDisplay([&failed, showProgress](const std::exception_ptr& error) {
        std::fprintf(stderr, "%spelbrisk-cli: %s\n", showProgress ? "\n" : "",
                     ExceptionText(error).c_str());
        failed = true;
    });
    ProcessDecoder().FullBand = options.FullBand;

    TMP3Player player;
    player.SetAutoPlay(false);
    player.SetGapless(options.Gapless);
    TPlayEnd end;
    end.Watch(player);
    try {
        OpenInput(player, options.Input);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pelbrisk-cli: %s: %s\n", options.Input.c_str(), error.what());
        return 1;
    }
    try {
        player.SetOutputFileName(options.Output);
        player.Play();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pelbrisk-cli: %s\n", error.what()); // names the output
        return 1;
    }
    const int32_t duration = player.Duration();
    while (!end.Ended) {
        player.Messages().WaitForMessage(200);
        player.Messages().Pump();
        if (showProgress && !end.Ended) DrawProgress(player.Position(), duration);
    }
    if (showProgress) std::fprintf(stderr, "\n");
    return end.Reason == merSuccessful && !failed ? 0 : 1;
}

} // namespace pelbrisk::cli
