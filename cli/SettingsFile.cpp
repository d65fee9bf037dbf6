#include "cli/SettingsFile.h"

#include "info/TextConversion.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <strings.h>
#include <unistd.h>

namespace pelbrisk::cli {

namespace {

std::string Trimmed(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

std::string ConfigHome() {
    // Relative paths are to be ignored, as the base-directory rules say.
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    if (configured != nullptr && configured[0] == '/') return configured;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

} // namespace

std::string SettingsFilePath() {
    char executable[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length > 0) {
        const std::string path(executable, static_cast<size_t>(length));
        const std::string folder = path.substr(0, path.find_last_of('/'));
        if (access(folder.c_str(), W_OK) == 0) return folder + "/pelbrisk.ini";
    }
    return ConfigHome() + "/pelbrisk/pelbrisk.ini";
}

void ApplyTagCodePageSetting() {
    std::ifstream file(SettingsFilePath());
    std::string line;
    std::string codePage;
    bool given = false;
    while (std::getline(file, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        if (strcasecmp(Trimmed(line.substr(0, equals)).c_str(), "tag_code_page") != 0) continue;
        codePage = Trimmed(line.substr(equals + 1));
        given = true;
    }
    if (given && !SetTagCodePage(codePage))
        std::fprintf(stderr,
                     "pelbrisk-cli: %s: tag_code_page: no code page \"%s\"; reading ISO-8859-1\n",
                     SettingsFilePath().c_str(), codePage.c_str());
}

} // namespace pelbrisk::cli
