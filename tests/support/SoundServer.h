#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pelbrisk::test {

// How a test process's ALSA default reaches the server: PipeWire's own plugin, or the PulseAudio
// plugin talking to PipeWire's PulseAudio service.
enum class TSoundRoute { PipeWire, Pulse };

// A PipeWire of the test's own: dbus-daemon, pipewire, wireplumber and pipewire-pulse in a
// private runtime folder, playing into one null sink (tests/support/sound-server). The machine's
// own sound and ALSA's machine-wide default are left alone: a process reaches this server only
// through ALSA_CONFIG_PATH set to AlsaConfig(). Every process started is stopped by its id when
// the object goes, and dies with the test process if that ends first.
class TSoundServer {
public:
    TSoundServer();
    TSoundServer(const TSoundServer&) = delete;
    TSoundServer& operator=(const TSoundServer&) = delete;

    // Empty while the server runs with its sink as the default; else what went wrong.
    const std::string& Problem() const { return problem_; }
    // An ALSA configuration whose default device plays on this server by the route.
    std::filesystem::path AlsaConfig(TSoundRoute route) const;
    // The same, pointing at a server that is not there.
    std::filesystem::path UnreachableAlsaConfig(TSoundRoute route) const;

    // Ends the server's processes at once, as a crash would; Start brings them back.
    void Kill();
    bool Start();
    // Stops and continues the server's processes, as a server that hangs for a while.
    void Freeze();
    void Thaw();

    // Records the sink's monitor (what was played) into a WAV file until Stop.
    class TRecording {
    public:
        TRecording(const TSoundServer& server, const std::filesystem::path& wav);
        ~TRecording();
        TRecording(const TRecording&) = delete;
        TRecording& operator=(const TRecording&) = delete;
        void Stop();

    private:
        std::unique_ptr<TChildProcess> recorder_;
    };

private:
    std::unique_ptr<TChildProcess> Spawn(const std::vector<std::string>& command,
                                         const std::string& log) const;
    bool WaitForPath(const std::filesystem::path& path) const;
    bool WaitForDefaultSink() const;
    void Signal(int signal) const;

    TempDir dir_;
    std::string problem_;
    std::unique_ptr<TChildProcess> bus_;
    std::vector<std::unique_ptr<TChildProcess>> server_;
};

// Seconds of a recording (44.1 kHz stereo 16-bit) whose left channel is loud: how much of the
// songs the sink heard.
double LoudSeconds(const std::filesystem::path& wav);

// Kilobytes of memory a process holds now (VmRSS), or -1 when it has gone.
long ResidentKilobytes(pid_t pid);

} // namespace pelbrisk::test

#if defined(__SANITIZE_THREAD__)
// PipeWire's and PulseAudio's client libraries are not built for ThreadSanitizer, which takes
// their inner locking for races; the device layer's threads meet it through ALSA's file plugin.
#define PELBRISK_SKIP_UNDER_THREAD_SANITIZER()                                                     \
    GTEST_SKIP() << "the sound server's client libraries are not built for ThreadSanitizer"
#else
#define PELBRISK_SKIP_UNDER_THREAD_SANITIZER() (void)0
#endif

// Skips the current test with a clear message when PipeWire is not installed, and fails it when
// the server does not come up.
#define PELBRISK_REQUIRE_SOUND_SERVER(server)                                                      \
    do {                                                                                           \
        PELBRISK_SKIP_UNDER_THREAD_SANITIZER();                                                    \
        if (!::pelbrisk::test::ToolAvailable("pipewire") ||                                        \
            !::pelbrisk::test::ToolAvailable("wireplumber"))                                       \
            GTEST_SKIP() << "PipeWire and WirePlumber are not installed (scripts/setup does)";     \
        ASSERT_EQ((server).Problem(), "");                                                         \
    } while (0)
