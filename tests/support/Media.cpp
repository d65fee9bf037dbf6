#include "tests/support/Media.h"

#include "tests/support/Paths.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace pelbrisk::test {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string RunTool(const std::string& commandLine) {
    std::string output;
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run: " + commandLine);
    std::array<char, 4096> chunk;
    size_t got;
    while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        output.append(chunk.data(), got);
    int status = pclose(pipe);
    if (status != 0)
        throw std::runtime_error("failed (" + std::to_string(status) + "): " + commandLine + "\n" +
                                 output);
    return output;
}

bool ToolAvailable(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

namespace {

std::string Quote(const fs::path& path) {
    std::string quoted = "'";
    for (char c : path.string())
        quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

fs::path CacheDir() {
    fs::path dir = BinaryDir() / "test-media";
    fs::create_directories(dir);
    return dir;
}

// Makes the file named by `key` once: the command writes {out}, which is renamed into place,
// so a concurrent maker never sees half a file.
fs::path Cached(const std::string& key, const std::string& extension,
                const std::function<std::string(const fs::path& out)>& command) {
    const fs::path target =
        CacheDir() / (std::to_string(std::hash<std::string>{}(key)) + extension);
    if (fs::exists(target)) return target;
    const fs::path partial = target.string() + ".part" + std::to_string(getpid()) + extension;
    RunTool(command(partial));
    fs::rename(partial, target);
    return target;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

fs::path MakeSignalWav(double seconds, int sampleRate, int channels) {
    const std::string arguments =
        "-r " + std::to_string(sampleRate) + " -c " + std::to_string(channels) +
        " -b 16 {out} synth " + std::to_string(seconds) +
        " sine 100-3000 sine 440 pinknoise brownnoise tremolo 2 50 " +
        (channels == 2 ? "remix 1,3v0.2 2,4v0.2" : "remix 1,2,3,4v0.2") + " gain -n -3";
    return Cached("sox " + arguments, ".wav", [&](const fs::path& out) {
        return "sox -n " + Replace(arguments, "{out}", Quote(out));
    });
}

fs::path MakeWithTool(const std::string& commandTemplate, const fs::path& input,
                      const std::string& extension) {
    return Cached(commandTemplate + "|" + input.string(), extension, [&](const fs::path& out) {
        return Replace(Replace(commandTemplate, "{in}", Quote(input)), "{out}", Quote(out));
    });
}

fs::path EncodeWithLame(const fs::path& wav, const std::string& lameArguments) {
    return MakeWithTool("lame --quiet " + lameArguments + " {in} {out}", wav, ".mp3");
}

fs::path EncodeWithTwolame(const fs::path& wav, const std::string& twolameArguments) {
    return MakeWithTool("twolame --quiet " + twolameArguments + " {in} {out}", wav, ".mp2");
}

} // namespace pelbrisk::test
