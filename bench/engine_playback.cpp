// CPU cost of playing in real time: plays a file through the player on the null device (which
// consumes the sound at its real rate) and reports process CPU time per second of audio.
//
//   engine_playback FILE [SECONDS]
#include "bench/ProcessUsage.h"
#include "engine/MP3Player.h"
#include "platform/AudioDevice.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: engine_playback FILE [SECONDS]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    pelbrisk::TMP3Player player;
    player.SetAutoPlay(false);
    player.SetDeviceID(pelbrisk::NullAudioDeviceId());
    bool ended = false;
    player.OnEndPlay = [&](void*, pelbrisk::TMP3EndPlayReason) { ended = true; };
    try {
        player.SetFileName(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "engine_playback: %s\n", error.what());
        return 1;
    }
    const double cpuBefore = pelbrisk::bench::CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    player.Play();
    while (!ended &&
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() <
               seconds) {
        player.Messages().WaitForMessage(100);
        player.Messages().Pump();
    }
    const int32_t playedMs = player.Position();
    const double cpu = pelbrisk::bench::CpuSeconds() - cpuBefore;
    player.Stop();
    const double audioSeconds = playedMs / 1000.0;
    std::printf("played %.1f s of audio in real time, CPU %.3f s: %.2f ms CPU per second of "
                "audio (%.3f%% of one core)\n",
                audioSeconds, cpu, audioSeconds > 0 ? cpu * 1000 / audioSeconds : 0.0,
                audioSeconds > 0 ? cpu * 100 / audioSeconds : 0.0);
    return 0;
}
