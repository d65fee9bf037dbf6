#pragma once

#include <string>
#include <vector>

// The commands of pelbrisk-cli. Each takes the arguments that follow its name and returns the
// process's exit status; each lives in a file of its own and has one line in Main.cpp's table.
namespace pelbrisk::cli {

using TArguments = std::vector<std::string>;

// info [--json] [--frames] [--tag-code-page NAME] FILE...: the stream information of each file
// ("-" is standard input); tags without audio show too, and fail the run.
int RunInfo(const TArguments& arguments);
// decode FILE -o OUT.wav [--full-band] [--no-gapless]: the PCM of the play loop into a WAV file,
// at full speed.
int RunDecode(const TArguments& arguments);
// play [--device null|default|N] FILE...: plays through the chosen device (PELBRISK_AUDIO, else
// the default); space pause, arrows seek, n next, q quit.
int RunPlay(const TArguments& arguments);

} // namespace pelbrisk::cli
