#include "tests/support/SoundServer.h"

#include "tests/support/Media.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace pelbrisk::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kStartLimit = 20s;
constexpr const char* kSinkName = "pelbrisk-test-sink";

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

// Each process is killed as it goes.
void TSoundServer::Kill() {
    server_.clear();
}

void TSoundServer::Freeze() {
    Signal(SIGSTOP);
}

void TSoundServer::Thaw() {
    Signal(SIGCONT);
}

void TSoundServer::Signal(int signal) const {
    for (const auto& process : server_)
        process->Signal(signal);
}

// The server, and a client of it, see only this server.
std::unique_ptr<TChildProcess> TSoundServer::Spawn(const std::vector<std::string>& command,
                                                   const std::string& log) const {
    return std::make_unique<TChildProcess>(
        command,
        std::vector<std::string>{"XDG_", "DBUS_SESSION_BUS_ADDRESS=", "PIPEWIRE_", "PULSE_",
                                 "ALSA_CONFIG_PATH="},
        std::vector<std::string>{
            "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
            "XDG_CONFIG_HOME=" + (SourceDir() / "tests/support/sound-server").string(),
            "XDG_STATE_HOME=" + (dir_ / "state").string(),
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir_ / "run" / "bus").string()},
        dir_ / log);
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
            if (RunTool("env -u PIPEWIRE_RUNTIME_DIR -u PIPEWIRE_REMOTE XDG_RUNTIME_DIR='" +
                        (dir_ / "run").string() + "' wpctl inspect @DEFAULT_AUDIO_SINK@")
                    .find(kSinkName) != std::string::npos)
                return true;
        } catch (const std::exception&) {
            // Not chosen yet.
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TSoundServer::TRecording::TRecording(const TSoundServer& server, const fs::path& wav)
    : recorder_(
          server.Spawn({"pw-record", "--target", kSinkName, "-P", "{ stream.capture.sink=true }",
                        "--rate", "44100", "--channels", "2", "--format", "s16", wav.string()},
                       "pw-record.log")) {}

TSoundServer::TRecording::~TRecording() {
    Stop();
}

// pw-record finishes its WAV header when interrupted.
void TSoundServer::TRecording::Stop() {
    recorder_->Signal(SIGINT);
    recorder_->Wait(5s);
}

double LoudSeconds(const fs::path& wav) {
    const std::vector<uint8_t> bytes = ReadFileBytes(wav);
    // In 10 ms steps, after the 44-byte header.
    constexpr size_t kStep = 441 * 4;
    int loud = 0;
    for (size_t at = 44; at + kStep <= bytes.size(); at += kStep) {
        int peak = 0;
        for (size_t sample = at; sample < at + kStep; sample += 4)
            peak = std::max(
                peak, std::abs(static_cast<int16_t>(bytes[sample] | (bytes[sample + 1] << 8))));
        if (peak > 2000) ++loud;
    }
    return loud * 0.01;
}

long ResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

} // namespace pelbrisk::test
