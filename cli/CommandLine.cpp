#include "cli/CommandLine.h"

#include "cli/TerminalText.h"

#include <algorithm>
#include <cstdio>

namespace pelbrisk::cli {

namespace {

std::string_view Synopsis(std::string_view usage) {
    return usage.substr(0, usage.find('\n'));
}

std::string_view CommandName(std::string_view usage) {
    return usage.substr(0, usage.find(' '));
}

int OptionError(std::string_view usage, const std::string& message) {
    std::fprintf(stderr, "pelbrisk-cli %.*s: %s\n", int(CommandName(usage).size()),
                 CommandName(usage).data(), TerminalText(message).c_str());
    return UsageError(usage);
}

} // namespace

bool TCommandLine::Has(std::string_view name) const {
    return std::any_of(Options.begin(), Options.end(),
                       [name](const auto& option) { return option.first == name; });
}

std::optional<std::string> TCommandLine::Value(std::string_view name) const {
    std::optional<std::string> value;
    for (const auto& [given, text] : Options)
        if (given == name) value = text;
    return value;
}

std::optional<int> ParseCommandLine(const TArguments& arguments,
                                    std::span<const TKnownOption> options, std::string_view usage,
                                    TCommandLine& line) {
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            line.Operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            std::printf("usage: pelbrisk-cli %.*s", int(usage.size()), usage.data());
            return 0;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const auto option =
            std::find_if(options.begin(), options.end(),
                         [&](const TKnownOption& known) { return known.Name == name; });
        if (option == options.end()) return OptionError(usage, "unknown option " + argument);
        if (!option->TakesValue) {
            if (equals != std::string::npos) return OptionError(usage, name + " takes no value");
            line.Options.emplace_back(name, "");
        } else if (equals != std::string::npos) {
            line.Options.emplace_back(name, argument.substr(equals + 1));
        } else if (i + 1 < arguments.size()) {
            line.Options.emplace_back(name, arguments[++i]);
        } else {
            return OptionError(usage, name + " needs a value");
        }
    }
    return std::nullopt;
}

int UsageError(std::string_view usage) {
    const std::string_view synopsis = Synopsis(usage);
    std::fprintf(stderr, "usage: pelbrisk-cli %.*s\n(pelbrisk-cli %.*s --help tells more)\n",
                 int(synopsis.size()), synopsis.data(), int(CommandName(usage).size()),
                 CommandName(usage).data());
    return 2;
}

} // namespace pelbrisk::cli
