#include "cli/SettingsFile.h"

#include "cli/TerminalText.h"
#include "info/TextConversion.h"
#include "platform/SettingsLocation.h"

#include <cstdio>
#include <fstream>
#include <strings.h>

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

} // namespace

void ApplyTagCodePageSetting() {
    const std::string path = SettingsFilePath(ProgramFolder());
    std::ifstream file(path);
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
                     TerminalText(path).c_str(), TerminalText(codePage).c_str());
}

} // namespace pelbrisk::cli
