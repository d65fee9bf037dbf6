#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pelbrisk::test {

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Runs a shell command line; throws std::runtime_error with its output when it fails.
std::string RunTool(const std::string& commandLine);
bool ToolAvailable(const std::string& program);

// Test media are made once per build tree with sox, lame, twolame or ffmpeg and cached under
// <build>/test-media, keyed by the command that makes them, so that parallel test programs
// share them. Each call returns the path of the finished file.

// A music-like two- or one-channel signal (sweeps, a tone, pink and brown noise, tremolo).
std::filesystem::path MakeSignalWav(double seconds, int sampleRate, int channels);
// `lame <lameArguments> wav out.mp3`, e.g. "-b 128" or "-V 2" or "-m m --resample 22.05".
std::filesystem::path EncodeWithLame(const std::filesystem::path& wav,
                                     const std::string& lameArguments);
// `twolame <twolameArguments> wav out.mp2`, e.g. "-b 192 -m j".
std::filesystem::path EncodeWithTwolame(const std::filesystem::path& wav,
                                        const std::string& twolameArguments);
// Any tool: `commandTemplate` with {in} and {out} replaced by the paths; `extension` names the
// output's kind (".mp3", ".wav", ...).
std::filesystem::path MakeWithTool(const std::string& commandTemplate,
                                   const std::filesystem::path& input,
                                   const std::string& extension);

} // namespace pelbrisk::test
