// The player over arbitrary bytes: open, play the whole stream into a WAV file, then play it
// paused on the null device and seek around. Nothing may read outside its memory or hang.
#include "engine/MP3Player.h"
#include "platform/AudioDevice.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

pelbrisk::TMP3Player& Player() {
    static pelbrisk::TMP3Player* player = [] {
        pelbrisk::SetApplicationExceptionDisplay([](const std::exception_ptr&) {});
        auto* created = new pelbrisk::TMP3Player;
        created->SetAutoPlay(false);
        return created;
    }();
    return *player;
}

bool Open(pelbrisk::TMP3Player& player, const uint8_t* data, size_t size) {
    try {
        player.OpenStream(new pelbrisk::TMPMemoryStream(data, size),
                          pelbrisk::msoSeekable | pelbrisk::msoOwnsStream);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void PumpUntilStopped(pelbrisk::TMP3Player& player) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (player.Status() != pelbrisk::mpsStopped && std::chrono::steady_clock::now() < deadline) {
        player.Messages().WaitForMessage(5);
        player.Messages().Pump();
    }
    player.Messages().Pump();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelbrisk::TMP3Player& player = Player();
    static const std::string wav = "/tmp/pelbrisk-player-fuzz-" + std::to_string(getpid()) + ".wav";
    if (!Open(player, data, size)) return 0;
    player.Duration();
    player.SetOutputFileName(wav);
    player.Play();
    PumpUntilStopped(player);

    player.SetDeviceID(pelbrisk::NullAudioDeviceId());
    player.Play();
    player.Pause();
    for (size_t i = 0; i < 4 && i < size; ++i) {
        player.Seek(static_cast<int32_t>(data[i]) * 97);
        player.Position();
    }
    try {
        player.Close();
    } catch (const std::exception&) {
        // A failing output is reported, not fatal; the player is closed either way.
    }
    player.Messages().Pump();
    return 0;
}
