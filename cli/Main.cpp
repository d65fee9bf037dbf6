#include "cli/Commands.h"
#include "cli/SettingsFile.h"
#include "cli/TerminalText.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace {

struct TCommand {
    const char* Name;
    int (*Run)(const pelbrisk::cli::TArguments&);
    std::string_view Usage;
};

constexpr TCommand kCommands[] = {
    {"info", pelbrisk::cli::RunInfo, pelbrisk::cli::kInfoUsage},
    {"decode", pelbrisk::cli::RunDecode, pelbrisk::cli::kDecodeUsage},
    {"play", pelbrisk::cli::RunPlay, pelbrisk::cli::kPlayUsage},
};

// The help tells each command whole; after a wrong command line the synopses are enough.
int ShowUsage(std::FILE* to) {
    std::fprintf(to, "usage: pelbrisk-cli <command> [arguments] | --version\n\ncommands:\n");
    for (const TCommand& command : kCommands) {
        std::string_view text = command.Usage;
        do {
            const size_t lineEnd = text.find('\n') + 1;
            std::fprintf(to, "  %.*s", int(lineEnd), text.data());
            text.remove_prefix(lineEnd);
        } while (to == stdout && !text.empty());
    }
    if (to == stdout) std::fprintf(to, "\n'pelbrisk-cli <command> --help' tells one command.\n");
    return to == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    // Past a file-size limit a write fails with its error, which the commands report, instead
    // of the signal ending the process with a half-written file.
    std::signal(SIGXFSZ, SIG_IGN);
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
    std::fprintf(stderr, "pelbrisk-cli: unknown command \"%s\"\n\n",
                 pelbrisk::cli::TerminalText(name).c_str());
    return ShowUsage(stderr);
}
