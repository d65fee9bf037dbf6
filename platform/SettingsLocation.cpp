#include "platform/SettingsLocation.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace pelbrisk {

namespace {

std::string ConfigHome() {
    // Relative paths are to be ignored, as the base-directory rules say.
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    if (configured != nullptr && configured[0] == '/') return configured;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

} // namespace

std::string ProgramFolder() {
    char executable[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length <= 0) return {};
    const std::string path(executable, static_cast<size_t>(length));
    return path.substr(0, path.find_last_of('/'));
}

std::string SettingsFilePath(const std::string& programFolder) {
    // Only a file that is there counts: a writable program folder (~/.local/bin, or any folder
    // when run as root) is no place the user would look for settings.
    if (!programFolder.empty()) {
        const std::string beside = programFolder + "/pelbrisk.ini";
        if (::access(beside.c_str(), F_OK) == 0) return beside;
    }
    return ConfigHome() + "/pelbrisk/pelbrisk.ini";
}

} // namespace pelbrisk
