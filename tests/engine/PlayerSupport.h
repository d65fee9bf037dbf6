#pragma once

#include "engine/MP3Player.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pelbrisk::test {

// Decodes a whole MPEG audio file frame by frame with a decoder of its own, by the rules of the
// play loop: from the first audio frame, through the frame walk the player takes, in the output
// channels it chooses, undecodable frames as one frame of silence.
// `fullBand` decodes every subband, as `pelbrisk-cli decode --full-band` does; `gapless` keeps
// only the song within the samples that the file's LAME tag marks, as the player plays by default.
std::vector<uint8_t> DecodeFrameByFrame(const std::vector<uint8_t>& file, bool fullBand = false,
                                        bool gapless = false);
inline std::vector<uint8_t> DecodeSong(const std::vector<uint8_t>& file) {
    return DecodeFrameByFrame(file, false, true);
}

// File offsets of the frames of a clean stream that begins with a frame.
std::vector<size_t> FrameOffsets(const std::vector<uint8_t>& file);

// The PCM of a WAV file the sound output wrote; fails the test when its sizes do not match.
std::vector<uint8_t> WavPcm(const std::filesystem::path& wav);

// What a player told its host, in order.
struct PlayerLog {
    void Attach(TMP3Player& player);
    std::vector<TMP3PlayerStatus> Statuses;
    std::vector<TMP3EndPlayReason> EndReasons;
    std::vector<char> Order; // 's' status, 'e' end of play, 'p' position
    int Positions = 0;
};

// Collects what the application would show, while it lives.
class ShownErrors {
public:
    ShownErrors();
    ~ShownErrors();
    ShownErrors(const ShownErrors&) = delete;
    ShownErrors& operator=(const ShownErrors&) = delete;
    std::vector<std::string> Texts();

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

// Pumps the player's messages on this thread, as a host's user-interface loop does, until the
// condition holds or the time runs out; returns the condition.
bool PumpUntil(TMP3Player& player, const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(20));
void PumpFor(TMP3Player& player, std::chrono::milliseconds duration);

// Plays the file into a WAV file as fast as it decodes and returns that WAV's PCM.
std::vector<uint8_t> PlayToWav(const std::filesystem::path& mp3, const std::filesystem::path& wav);

} // namespace pelbrisk::test
