#pragma once

#include <string>
#include <string_view>
#include <vector>

// The commands of pelbrisk-cli. Each takes the arguments that follow its name and returns the
// process's exit status; each lives in a file of its own and has one line in Main.cpp's table.
namespace pelbrisk::cli {

using TArguments = std::vector<std::string>;

// Each command's usage: the synopsis on the first line, then what it does and its options.
// `pelbrisk-cli COMMAND --help` prints it; a wrong command line gets the synopsis.
inline constexpr std::string_view kInfoUsage =
    "info [--json] [--frames] [--tag-code-page NAME] FILE...\n"
    "  Tags, ReplayGain, audio range, first frame, information frame and duration of each\n"
    "  file (\"-\" reads standard input).\n"
    "  --json    one JSON object per file; several files make one array, a file that\n"
    "            cannot be read an object with its \"file\" and \"error\"\n"
    "  --frames  walk every frame and count the audio frames\n"
    "  --tag-code-page NAME  read tag text that is not UTF-8 in this code page (default: the\n"
    "            tag_code_page setting of pelbrisk.ini, else ISO-8859-1)\n";
inline constexpr std::string_view kDecodeUsage =
    "decode FILE... -o OUT.wav|- [--full-band] [--no-gapless] [--replay-gain track|album]\n"
    "  Decodes to a WAV file at full speed (\"-o -\": to standard output). Several files of\n"
    "  one sample rate and channel count make one WAV, each song's first sample right after\n"
    "  the last one before, as play joins them. A WAV whose data passes 4 GiB gets an RF64\n"
    "  header; a file that cannot be written whole is removed. Ctrl+C stops, leaving the part\n"
    "  decoded with its header finished, and exits with 130.\n"
    "  --full-band   decode the top subband too\n"
    "  --no-gapless  keep the encoder's delay and padding (every frame whole)\n"
    "  --replay-gain track|album  apply the file's ReplayGain (the other gain when this one is\n"
    "                missing), lowered where its peak would clip\n";
inline constexpr std::string_view kPlayUsage =
    "play [--device null|default|N] FILE...\n"
    "  Plays each file (\"-\" reads standard input), one song straight after the other when\n"
    "  they share sample rate and channels: space pauses, left/right seek 5 s,\n"
    "  n skips to the next file, q quits; Ctrl+C stops and exits with 130; Ctrl+Z pauses and\n"
    "  suspends (fg plays on).\n"
    "  --device  null, default or the N-th ALSA playback device (wins over PELBRISK_AUDIO)\n";

// info: the stream information of each file.
int RunInfo(const TArguments& arguments);
// decode: the PCM of the play loop into a WAV file, at full speed.
int RunDecode(const TArguments& arguments);
// play: plays through the chosen device (PELBRISK_AUDIO, else the default).
int RunPlay(const TArguments& arguments);

} // namespace pelbrisk::cli
