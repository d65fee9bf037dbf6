#pragma once

#include <filesystem>
#include <string>

namespace pelbrisk::test {

// The conformance bitstreams: $PELBRISK_VECTORS, else ../shared/vectors beside the repo.
std::filesystem::path VectorsDir();
// The standard's numeric tables as JSON: $PELBRISK_TABLES, else ../shared/tables.
std::filesystem::path TablesDir();
// Odd files from real libraries, with a README of what a sound reader does with each:
// $PELBRISK_WILD, else ../shared/wild.
std::filesystem::path WildDir();
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

// A fresh empty folder for one test, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace pelbrisk::test

// Skips the current test with a clear message when the conformance vectors are missing.
#define PELBRISK_REQUIRE_VECTORS()                                                                 \
    do {                                                                                           \
        if (!std::filesystem::is_directory(::pelbrisk::test::VectorsDir()))                        \
            GTEST_SKIP() << "conformance vectors not found at " << ::pelbrisk::test::VectorsDir()  \
                         << " (set PELBRISK_VECTORS to their folder)";                             \
    } while (0)

// Skips the current test with a clear message when the files from the wild are missing.
#define PELBRISK_REQUIRE_WILD()                                                                    \
    do {                                                                                           \
        if (!std::filesystem::is_directory(::pelbrisk::test::WildDir()))                           \
            GTEST_SKIP() << "files from the wild not found at " << ::pelbrisk::test::WildDir()     \
                         << " (set PELBRISK_WILD to their folder)";                                \
    } while (0)
