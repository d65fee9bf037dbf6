#pragma once

#include "cli/Commands.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelbrisk::cli {

// One option of a command: its name and whether the argument after it is its value.
struct TKnownOption {
    std::string_view Name;
    bool TakesValue = false;
};

// A command line split into the options given and the operands (the files).
struct TCommandLine {
    std::vector<std::pair<std::string, std::string>> Options;
    std::vector<std::string> Operands;

    bool Has(std::string_view name) const;
    // The value of the last `name` given; nothing when it was not given.
    std::optional<std::string> Value(std::string_view name) const;
};

// Splits `arguments` by the command's `options`. "-h" and "--help" print the command's `usage`
// on standard output; "--" ends the options; "-" is an operand (standard input); "--name=value"
// gives a value too. Returns the exit status when the command ends here: 0 after the help, 2
// after naming an unknown option or a missing value on standard error.
std::optional<int> ParseCommandLine(const TArguments& arguments,
                                    std::span<const TKnownOption> options, std::string_view usage,
                                    TCommandLine& line);

// For a command line that lacks what the command needs: its synopsis on standard error; 2.
int UsageError(std::string_view usage);

} // namespace pelbrisk::cli
