// Soak: plays many short files one after the other through the player's end-of-song chain on
// the null device (real time), seeking, pausing and changing the pitch at random on the way, and
// reports resident memory and open descriptors at the start and at the end, and the CPU time per
// second of sound played. Flat memory and descriptors are the bar.
//
//   soak_bench [FILES=300] [SEED=1]
//
// The files (one to two seconds, several rates and bit rates) are made with sox and lame in a
// temporary folder first.
#include "bench/ProcessUsage.h"
#include "engine/MP3Player.h"
#include "platform/AudioDevice.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long ResidentKiB() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long OpenDescriptors() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// Ten distinct encodings, copied to `count` names so that every song is a file of its own.
std::vector<fs::path> MakeSongs(const fs::path& dir, int count) {
    const char* const kEncodings[] = {"-b 128", "-b 320", "-V 2", "-b 64 --resample 22.05",
                                      "-b 32 -m m --resample 16"};
    std::vector<fs::path> distinct;
    for (int i = 0; i < 10; ++i) {
        const double seconds = 1.0 + i * 0.1;
        const fs::path wav = dir / ("s" + std::to_string(i) + ".wav");
        const fs::path mp3 = dir / ("s" + std::to_string(i) + ".mp3");
        const std::string make = "sox -n -r 44100 -c 2 '" + wav.string() + "' synth " +
                                 std::to_string(seconds) + " pinknoise vol 0.3 && lame --quiet " +
                                 kEncodings[i % 5] + " '" + wav.string() + "' '" + mp3.string() +
                                 "'";
        if (std::system(make.c_str()) != 0) return {};
        distinct.push_back(mp3);
    }
    std::vector<fs::path> songs;
    for (int i = 0; i < count; ++i) {
        const fs::path song = dir / ("song" + std::to_string(i) + ".mp3");
        fs::copy_file(distinct[static_cast<size_t>(i) % distinct.size()], song);
        songs.push_back(song);
    }
    return songs;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 300;
    std::mt19937 random(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u);
    const fs::path dir = fs::temp_directory_path() / ("pelbrisk-soak-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::vector<fs::path> songs = MakeSongs(dir, count);
    if (songs.empty()) {
        std::fprintf(stderr, "soak_bench: sox and lame are needed to make the songs\n");
        return 1;
    }

    pelbrisk::TMP3Player player;
    player.SetDeviceID(pelbrisk::NullAudioDeviceId());
    size_t next = 0;
    int failures = 0;
    // The chain the window runs: the end of one song starts the next.
    player.OnEndPlay = [&](void*, pelbrisk::TMP3EndPlayReason reason) {
        if (reason == pelbrisk::merFailure) ++failures;
        if (reason != pelbrisk::merSuccessful || next >= songs.size()) return;
        player.SetFileName(songs[next++].string());
    };

    const long residentAtStart = ResidentKiB();
    const long descriptorsAtStart = OpenDescriptors();
    long residentAfterTen = 0;
    const double cpuAtStart = pelbrisk::bench::CpuSeconds();
    double playingSeconds = 0;
    int seeks = 0, pauses = 0, pitches = 0;
    player.SetFileName(songs[next++].string());
    auto lastAction = Clock::now();
    auto lastTick = Clock::now();
    std::uniform_int_distribution<int> actionGap(150, 600);
    int gap = actionGap(random);
    while (next < songs.size() || player.Status() != pelbrisk::mpsStopped) {
        player.Messages().WaitForMessage(20);
        player.Messages().Pump();
        const auto now = Clock::now();
        if (player.Status() == pelbrisk::mpsPlaying)
            playingSeconds += std::chrono::duration<double>(now - lastTick).count();
        lastTick = now;
        if (residentAfterTen == 0 && next > 10) residentAfterTen = ResidentKiB();
        if (now - lastAction < std::chrono::milliseconds(gap) ||
            player.Status() != pelbrisk::mpsPlaying)
            continue;
        lastAction = now;
        gap = actionGap(random);
        try {
            switch (random() % 3) {
            case 0:
                player.Seek(static_cast<int32_t>(
                    random() % static_cast<unsigned>(std::max(player.Duration(), 1))));
                ++seeks;
                break;
            case 1:
                player.Pause();
                for (int i = 0; i < 5; ++i) {
                    player.Messages().WaitForMessage(20);
                    player.Messages().Pump();
                }
                player.Resume();
                ++pauses;
                break;
            default: {
                // The pitch acts when the device opens again, as the window's pitch bar does it.
                pelbrisk::PitchPercent = 50 + static_cast<int32_t>(random() % 151);
                const int32_t at = player.Position();
                player.Stop();
                player.Play();
                player.Seek(at);
                ++pitches;
                break;
            }
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "soak_bench: %s\n", error.what());
            ++failures;
        }
    }
    const double cpu = pelbrisk::bench::CpuSeconds() - cpuAtStart;
    player.Close();
    player.Messages().Pump();
    const long residentAtEnd = ResidentKiB();
    const long descriptorsAtEnd = OpenDescriptors();
    fs::remove_all(dir);

    std::printf("songs %zu, seeks %d, pauses %d, pitch changes %d, failures %d\n", next, seeks,
                pauses, pitches, failures);
    std::printf("resident memory: start %ld KiB, after 10 songs %ld KiB, end %ld KiB\n",
                residentAtStart, residentAfterTen, residentAtEnd);
    std::printf("open descriptors: start %ld, end %ld\n", descriptorsAtStart, descriptorsAtEnd);
    std::printf("played %.1f s, CPU %.2f s: %.2f ms CPU per second played\n", playingSeconds, cpu,
                playingSeconds > 0 ? cpu * 1000 / playingSeconds : 0.0);
    return failures == 0 && descriptorsAtEnd == descriptorsAtStart ? 0 : 1;
}
