#include "cli/Commands.h"
#include "cli/SettingsFile.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct TCommand {
    const char* Name;
    int (*Run)(const pelbrisk::cli::TArguments&);
    const char* Usage;
};

constexpr TCommand kCommands[] = {
    {"info", pelbrisk::cli::RunInfo,
     "info [--json] [--frames] [--tag-code-page NAME] FILE...   tags, audio range, first "
     "frame, duration"},
    {"decode", pelbrisk::cli::RunDecode,
     "decode FILE -o OUT.wav|- [--full-band] [--no-gapless]   decode to a WAV file or standard "
     "output (--no-gapless keeps the encoder's delay and padding)"},
    {"play", pelbrisk::cli::RunPlay,
     "play [--device null|default|N] FILE...   play (space pause, left/right seek, n next, q "
     "quit)"},
};

int ShowUsage(std::FILE* to) {
    std::fprintf(to, "usage: pelbrisk-cli <command> [arguments] | --version\n\ncommands:\n");
    for (const TCommand& command : kCommands)
        std::fprintf(to, "  %s\n", command.Usage);
    return to == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return ShowUsage(stderr);
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") return ShowUsage(stdout);
    if (name == "--version") {
        std::printf("pelbrisk-cli %s\n", PELBRISK_VERSION);
        return 0;
    }
    for (const TCommand& command : kCommands) {
        if (name != command.Name) continue;
        pelbrisk::cli::ApplyTagCodePageSetting();
        return command.Run(pelbrisk::cli::TArguments(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "pelbrisk-cli: unknown command \"%s\"\n\n", name.c_str());
    return ShowUsage(stderr);
}
