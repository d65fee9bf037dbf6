#include "tests/support/SoundServer.h"

#include "tests/support/Media.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace pelbrisk::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kStartLimit = 20s;
constexpr const char* kSinkName = "pelbrisk-test-sink";

// The variables that would lead the server, or a client, anywhere but here.
bool RoutesElsewhere(const std::string& entry) {
    for (const char* name :
         {"XDG_RUNTIME_DIR=", "XDG_CONFIG_HOME=", "XDG_STATE_HOME=", "DBUS_SESSION_BUS_ADDRESS=",
          "PIPEWIRE_", "PULSE_", "ALSA_CONFIG_PATH="})
        if (entry.rfind(name, 0) == 0) return true;
    return false;
}

void EndProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGCONT);
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

std::string AlsaText(TSoundRoute route, const fs::path& runtime) {
    std::string text = "</usr/share/alsa/alsa.conf>\npcm.!default {\n";
    if (route == TSoundRoute::PipeWire)
        text += "  type pipewire\n  server \"" + (runtime / "pipewire-0").string() + "\"\n";
    else
        text += "  type pulse\n  server \"unix:" + (runtime / "pulse" / "native").string() + "\"\n";
    return text + "}\n";
}

} // namespace

TSoundServer::TSoundServer() {
    fs::create_directories(dir_ / "run");
    fs::permissions(dir_ / "run", fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(dir_ / "state");
    for (TSoundRoute route : {TSoundRoute::PipeWire, TSoundRoute::Pulse}) {
        const std::string name = route == TSoundRoute::PipeWire ? "pipewire" : "pulse";
        std::ofstream(dir_ / ("asound-" + name + ".conf")) << AlsaText(route, dir_ / "run");
        std::ofstream(dir_ / ("asound-" + name + "-unreachable.conf"))
            << AlsaText(route, dir_ / "nowhere");
    }
    if (!ToolAvailable("pipewire") || !ToolAvailable("wireplumber")) {
        problem_ = "PipeWire is not installed";
        return;
    }
    bus_ = Spawn({"dbus-daemon", "--session", "--nofork", "--nosyslog",
                  "--address=unix:path=" + (dir_ / "run" / "bus").string()},
                 "dbus.log");
    if (!WaitForPath(dir_ / "run" / "bus")) {
        problem_ = "the session bus did not start";
        return;
    }
    Start();
}

TSoundServer::~TSoundServer() {
    Kill();
    EndProcess(bus_);
}

fs::path TSoundServer::AlsaConfig(TSoundRoute route) const {
    return dir_ / (route == TSoundRoute::PipeWire ? "asound-pipewire.conf" : "asound-pulse.conf");
}

fs::path TSoundServer::UnreachableAlsaConfig(TSoundRoute route) const {
    return dir_ / (route == TSoundRoute::PipeWire ? "asound-pipewire-unreachable.conf"
                                                  : "asound-pulse-unreachable.conf");
}

bool TSoundServer::Start() {
    problem_.clear();
    fs::remove(dir_ / "run" / "pipewire-0");
    fs::remove(dir_ / "run" / "pulse" / "native");
    server_.push_back(Spawn({"pipewire"}, "pipewire.log"));
    if (!WaitForPath(dir_ / "run" / "pipewire-0")) {
        problem_ = "pipewire did not start; see " + (dir_ / "pipewire.log").string();
        return false;
    }
    server_.push_back(Spawn({"wireplumber"}, "wireplumber.log"));
    server_.push_back(Spawn({"pipewire-pulse"}, "pipewire-pulse.log"));
    if (!WaitForDefaultSink() || !WaitForPath(dir_ / "run" / "pulse" / "native"))
        problem_ = "the null sink did not become the default sink";
    return problem_.empty();
}

void TSoundServer::Kill() {
    Signal(SIGKILL);
    for (pid_t pid : server_)
        waitpid(pid, nullptr, 0);
    server_.clear();
}

void TSoundServer::Freeze() {
    Signal(SIGSTOP);
}

void TSoundServer::Thaw() {
    Signal(SIGCONT);
}

void TSoundServer::Signal(int signal) const {
    for (pid_t pid : server_)
        kill(pid, signal);
}

std::string TSoundServer::Environment() const {
    return "env -u PIPEWIRE_RUNTIME_DIR -u PIPEWIRE_REMOTE XDG_RUNTIME_DIR='" +
           (dir_ / "run").string() + "' ";
}

pid_t TSoundServer::Spawn(const std::vector<std::string>& command, const std::string& log) const {
    // Everything the child needs is made before the fork: after it, only system calls.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!RoutesElsewhere(*entry)) variables.emplace_back(*entry);
    variables.push_back("XDG_RUNTIME_DIR=" + (dir_ / "run").string());
    variables.push_back("XDG_CONFIG_HOME=" + (SourceDir() / "tests/support/sound-server").string());
    variables.push_back("XDG_STATE_HOME=" + (dir_ / "state").string());
    variables.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir_ / "run" / "bus").string());
    std::vector<char*> environment;
    for (std::string& variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    std::vector<std::string> words = command;
    std::vector<char*> arguments;
    for (std::string& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);
    const std::string logPath = (dir_ / log).string();
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid != 0) return pid;
    // Dies with the test, also when the test is killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int output = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (output >= 0) {
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
    }
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing >= 0) dup2(nothing, STDIN_FILENO);
    execvpe(arguments[0], arguments.data(), environment.data());
    _exit(127);
}

bool TSoundServer::WaitForPath(const fs::path& path) const {
    const auto limit = std::chrono::steady_clock::now() + kStartLimit;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// WirePlumber chooses the default sink a moment after it starts (about 0.3 s).
bool TSoundServer::WaitForDefaultSink() const {
    const auto limit = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < limit) {
        try {
            if (RunTool(Environment() + "wpctl inspect @DEFAULT_AUDIO_SINK@").find(kSinkName) !=
                std::string::npos)
                return true;
        } catch (const std::exception&) {
            // Not chosen yet.
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TSoundServer::TRecording::TRecording(const TSoundServer& server, const fs::path& wav) {
    pid_ = server.Spawn({"pw-record", "--target", kSinkName, "-P", "{ stream.capture.sink=true }",
                         "--rate", "44100", "--channels", "2", "--format", "s16", wav.string()},
                        "pw-record.log");
}

TSoundServer::TRecording::~TRecording() {
    Stop();
}

// pw-record finishes its WAV header when interrupted.
void TSoundServer::TRecording::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

TLoudness Loudness(const fs::path& wav) {
    const std::vector<uint8_t> bytes = ReadFileBytes(wav);
    TLoudness loudness;
    // In 10 ms steps of 44.1 kHz stereo 16-bit, after the 44-byte header.
    constexpr size_t kStep = 441 * 4;
    bool loud = false;
    for (size_t at = 44; at + kStep <= bytes.size(); at += kStep) {
        int peak = 0;
        for (size_t sample = at; sample < at + kStep; sample += 4)
            peak = std::max(
                peak, std::abs(static_cast<int16_t>(bytes[sample] | (bytes[sample + 1] << 8))));
        const bool nowLoud = peak > 2000;
        if (nowLoud) loudness.Seconds += 0.01;
        if (nowLoud && !loud) ++loudness.Stretches;
        loud = nowLoud;
    }
    return loudness;
}

long ResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

} // namespace pelbrisk::test
