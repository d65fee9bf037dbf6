#include "tests/support/Paths.h"

#include <cstdlib>
#include <stdexcept>

namespace pelbrisk::test {

namespace {
std::filesystem::path FromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return std::filesystem::path(value && *value ? value : fallback);
}
} // namespace

std::filesystem::path VectorsDir() {
    return FromEnvironment("PELBRISK_VECTORS", PELBRISK_DEFAULT_VECTORS);
}
std::filesystem::path TablesDir() {
    return FromEnvironment("PELBRISK_TABLES", PELBRISK_DEFAULT_TABLES);
}
std::filesystem::path WildDir() {
    const std::string beside = (SourceDir().parent_path() / "shared" / "wild").string();
    return FromEnvironment("PELBRISK_WILD", beside.c_str());
}
std::filesystem::path SourceDir() {
    return PELBRISK_SOURCE_DIR;
}
std::filesystem::path BinaryDir() {
    return PELBRISK_BINARY_DIR;
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pelbrisk-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace pelbrisk::test
