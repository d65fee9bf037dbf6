#include "engine/SoundOut.h"

#include "stream/Errors.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace pelbrisk {
namespace {

using namespace std::chrono_literals;

uint32_t LittleEndian32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

uint64_t LittleEndian64(const std::vector<uint8_t>& bytes, size_t at) {
    return LittleEndian32(bytes, at) | uint64_t{LittleEndian32(bytes, at + 4)} << 32;
}

std::vector<uint8_t> Ramp(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

// Opens on the null device at a small rate, so buffers are small and play quickly.
void OpenOnNullDevice(TSoundOut& out, int32_t sampleRate = 8000) {
    out.SetSampleRate(sampleRate);
    out.SetChannels(2);
    out.SetBitsPerSample(16);
    out.SetDeviceID(NullAudioDeviceId());
    out.Open();
}

TEST(SoundOut, BufferSizeIsHalfASecondRoundedToFourBytes) {
    EXPECT_EQ(TSoundOut::BufferSizeFor(2, 16, 44100), 88200);
    EXPECT_EQ(TSoundOut::BufferSizeFor(1, 16, 22050), 22052);
    EXPECT_EQ(TSoundOut::BufferSizeFor(1, 8, 11025), 5512);
    EXPECT_EQ(TSoundOut::BufferSizeFor(1, 8, 11000), 5500);
    EXPECT_EQ(TSoundOut::BufferSizeFor(1, 8, 11001), 5500);
    EXPECT_EQ(TSoundOut::BufferSizeFor(1, 8, 11010), 5508);
}

TEST(SoundOut, VolumeWordHoldsLeftLowAndRightHigh) {
    EXPECT_EQ(TSoundOut::VolumeWord(100, -50), 65535u | (32768u << 16));
    EXPECT_EQ(TSoundOut::VolumeWord(100, 100), 0u | (65535u << 16));
    EXPECT_EQ(TSoundOut::VolumeWord(50, 0), 32768u | (32768u << 16));
    EXPECT_EQ(TSoundOut::VolumeWord(0, 0), 0u);
}

TEST(SoundOut, SettersIgnoreValuesOutOfRange) {
    TSoundOut out;
    EXPECT_EQ(out.Volume(), 100);
    out.SetVolume(101);
    out.SetVolume(-1);
    out.SetBalance(101);
    out.SetBalance(-101);
    out.SetSampleRate(0);
    out.SetChannels(3);
    out.SetBitsPerSample(24);
    EXPECT_EQ(out.Volume(), 100);
    EXPECT_EQ(out.Balance(), 0);
    EXPECT_EQ(out.SampleRate(), 44100);
    EXPECT_EQ(out.Channels(), 2);
    EXPECT_EQ(out.BitsPerSample(), 16);
    out.SetVolume(40);
    out.SetBalance(-100);
    EXPECT_EQ(out.Volume(), 40);
    EXPECT_EQ(out.Balance(), -100);
}

TEST(SoundOut, WaveFileHoldsTheHeaderAndExactlyThePcmWritten) {
    test::TempDir dir;
    TSoundOut out;
    out.SetSampleRate(22050);
    out.SetChannels(1);
    out.SetOutputFileName((dir / "out.wav").string());
    out.Open();
    out.Pause(); // no effect on a file
    out.Unpause();
    out.Reset();
    out.SetVolume(10);
    const std::vector<uint8_t> pcm = Ramp(10000);
    EXPECT_EQ(out.Write(pcm.data(), 10000), 10000);
    out.Flush();
    EXPECT_EQ(out.GetDoneBytes(), 10000);
    out.Close();
    const auto bytes = test::ReadFileBytes(dir / "out.wav");
    ASSERT_EQ(bytes.size(), 10044u);
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_EQ(LittleEndian32(bytes, 4), 10036u);
    EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(LittleEndian32(bytes, 16), 16u);
    EXPECT_EQ(bytes[20] | (bytes[21] << 8), 1);
    EXPECT_EQ(bytes[22] | (bytes[23] << 8), 1);
    EXPECT_EQ(LittleEndian32(bytes, 24), 22050u);
    EXPECT_EQ(LittleEndian32(bytes, 28), 44100u);
    EXPECT_EQ(bytes[32] | (bytes[33] << 8), 2);
    EXPECT_EQ(bytes[34] | (bytes[35] << 8), 16);
    EXPECT_EQ(std::memcmp(bytes.data() + 36, "data", 4), 0);
    EXPECT_EQ(LittleEndian32(bytes, 40), 10000u);
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), bytes.begin() + 44)) << "samples untouched";
}

TEST(SoundOut, ClosingWithWritesStillQueuedKeepsEveryByteAndAValidHeader) {
    test::TempDir dir;
    for (int round = 0; round < 5; ++round) {
        TSoundOut out;
        out.SetSampleRate(8000);
        out.SetOutputFileName((dir / "queued.wav").string());
        out.Open();
        const int32_t size = out.BufferSize();
        const std::vector<uint8_t> pcm = Ramp(static_cast<size_t>(size) * 3 + 1234);
        int32_t written = 0;
        while (written < static_cast<int32_t>(pcm.size())) {
            const int32_t taken =
                out.Write(pcm.data() + written, static_cast<int32_t>(pcm.size()) - written);
            if (taken == 0) std::this_thread::yield();
            written += taken;
        }
        out.Close(); // three buffers may still wait for the writer, one is partly filled
        EXPECT_FALSE(out.Active());
        const auto bytes = test::ReadFileBytes(dir / "queued.wav");
        ASSERT_EQ(bytes.size(), pcm.size() + 44);
        EXPECT_EQ(LittleEndian32(bytes, 4), bytes.size() - 8);
        EXPECT_EQ(LittleEndian32(bytes, 40), pcm.size());
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), bytes.begin() + 44));
    }
}

TEST(SoundOut, FreeRoomAndPartialWritesFollowTheFourBuffers) {
    TSoundOut out;
    EXPECT_EQ(out.FreePercent(), 0) << "closed";
    OpenOnNullDevice(out);
    out.Pause(); // nothing plays, so nothing comes back
    const int32_t size = out.BufferSize();
    EXPECT_EQ(size, 16000);
    EXPECT_EQ(out.FreePercent(), 100);
    const std::vector<uint8_t> pcm = Ramp(static_cast<size_t>(size) * 5);
    EXPECT_EQ(out.Write(pcm.data(), size), size);
    EXPECT_EQ(out.Queued(), 1);
    EXPECT_EQ(out.FreePercent(), 75);
    EXPECT_EQ(out.Write(pcm.data(), size / 2), size / 2);
    EXPECT_EQ(out.FreePercent(), 62);
    EXPECT_EQ(out.Write(pcm.data(), size * 4), size * 2 + size / 2) << "only the room left";
    EXPECT_EQ(out.FreePercent(), 0);
    EXPECT_FALSE(out.CanWrite());
    EXPECT_EQ(out.Write(pcm.data(), 100), 0);
    out.Reset();
    out.WaitDone();
    EXPECT_EQ(out.Queued(), 0);
    EXPECT_EQ(out.FreePercent(), 100);
    out.Close();
}

TEST(SoundOut, FreeEventIsSetOnceABufferComesBackOrAtOnceWhenThereIsRoom) {
    TSoundOut out;
    OpenOnNullDevice(out, 32000);
    TMPSimpleEvent free;
    out.SetFreeEvent(&free);
    EXPECT_EQ(free.WaitFor(0), kWaitSignalled) << "room already: set immediately";
    free.ResetEvent();
    const std::vector<uint8_t> pcm = Ramp(static_cast<size_t>(out.BufferSize()) * 4);
    out.Pause();
    ASSERT_EQ(out.Write(pcm.data(), static_cast<int32_t>(pcm.size())),
              static_cast<int32_t>(pcm.size()));
    out.SetFreeEvent(&free);
    EXPECT_EQ(free.WaitFor(100), kWaitTimeout) << "paused and full: no room";
    out.Unpause();
    EXPECT_EQ(free.WaitFor(20000), kWaitSignalled);
    out.Reset();
    out.Close();
}

TEST(SoundOut, PlaysInRealTimeWithPositionNoticesWhileSoundIsQueued) {
    TSoundOut out;
    std::atomic<int> notices{0};
    out.SetOnPosition([&](void* sender) {
        EXPECT_EQ(sender, &out);
        ++notices;
    });
    out.SetNotifyInterval(100);
    const auto opened = std::chrono::steady_clock::now();
    OpenOnNullDevice(out, 8000); // 32,000 bytes a second, 16,000 per buffer
    const std::vector<uint8_t> pcm = Ramp(32000);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(out.Write(pcm.data(), 32000), 32000);
    out.WaitDone();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LE(elapsed, 5s) << "a busy machine delays the done notices, but not by seconds";
    const int32_t done = out.GetDoneBytes();
    EXPECT_EQ(done, 32000);
    EXPECT_EQ(out.GetDoneBytes(), 0) << "counted since the previous call";
    out.Thread().WaitForIdle(); // the last done notice may still be on its way
    const int settled = notices;
    EXPECT_GE(settled, 3);
    // More than the interval lies between two notices, and between the open and the first.
    EXPECT_LE(settled, (std::chrono::steady_clock::now() - opened) / 100ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(notices, settled) << "no notices once the ring is empty";
    out.Close();
}

TEST(SoundOut, FlushWaitsForTheOutputThreadOnlyWhenItHandsABufferOver) {
    TSoundOut out;
    // The first position notice holds the output thread until the test lets it go, so whether
    // Flush waits for that thread is seen without depending on how long anything takes.
    std::mutex mutex;
    std::condition_variable changed;
    bool hold = true;
    bool holding = false;
    bool release = false;
    out.SetNotifyInterval(100);
    out.SetOnPosition([&](void*) {
        std::unique_lock lock(mutex);
        if (!hold) return;
        hold = false;
        holding = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    OpenOnNullDevice(out, 8000);
    const std::vector<uint8_t> pcm = Ramp(static_cast<size_t>(out.BufferSize()));
    ASSERT_EQ(out.Write(pcm.data(), out.BufferSize()), out.BufferSize());
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return holding; }));
    }

    auto idle = std::async(std::launch::async, [&] { out.Flush(); });
    EXPECT_EQ(idle.wait_for(5s), std::future_status::ready) << "nothing to hand over";

    ASSERT_EQ(out.Write(pcm.data(), 100), 100);
    auto handOver = std::async(std::launch::async, [&] { out.Flush(); });
    EXPECT_EQ(handOver.wait_for(300ms), std::future_status::timeout)
        << "returned while the output thread was still busy";
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    EXPECT_EQ(handOver.wait_for(5s), std::future_status::ready);
    out.Reset();
    out.Close();
}

TEST(SoundOut, ResetDropsQueuedSoundAndRestartsTheCount) {
    TSoundOut out;
    OpenOnNullDevice(out, 8000);
    const std::vector<uint8_t> pcm = Ramp(64000);
    const auto written = std::chrono::steady_clock::now();
    ASSERT_EQ(out.Write(pcm.data(), 64000), 64000); // two seconds
    std::this_thread::sleep_for(50ms);
    EXPECT_GT(out.GetDoneBytes(), 0);
    out.Reset();
    out.WaitDone();
    // Played rather than dropped, the queued sound would last until two seconds after the write.
    EXPECT_LT(std::chrono::steady_clock::now(), written + 2s) << "dropped, not played";
    EXPECT_EQ(out.GetDoneBytes(), 0);
    out.Close();
}

TEST(SoundOut, PauseHoldsThePositionUntilUnpause) {
    TSoundOut out;
    OpenOnNullDevice(out, 8000);
    const std::vector<uint8_t> pcm = Ramp(32000);
    ASSERT_EQ(out.Write(pcm.data(), 32000), 32000);
    std::this_thread::sleep_for(150ms);
    out.Pause();
    const int32_t before = out.GetDoneBytes();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(out.GetDoneBytes(), 0) << "nothing plays while paused";
    EXPECT_GT(before, 0);
    out.Unpause();
    out.WaitDone();
    EXPECT_EQ(before + out.GetDoneBytes(), 32000);
    out.Close();
}

TEST(SoundOut, PitchScalesTheDeviceRateButNotTheBufferSize) {
    TSoundOut out;
    PitchPercent = 150;
    out.SetDeviceID(NullAudioDeviceId());
    out.Open();
    PitchPercent = 100;
    EXPECT_EQ(out.DeviceFormat().SamplesPerSecond, 66150);
    EXPECT_EQ(out.BufferSize(), 88200);
    out.Close();
}

TEST(SoundOut, DeviceErrorsCarryTheSystemTextAndTheContext) {
    TSoundOut out;
    out.SetDeviceID(1000);
    try {
        out.Open();
        FAIL() << "no such device";
    } catch (const EMP3Error& error) {
        EXPECT_STREQ(error.what(), "bad device ID(TSoundOut.Open:WaveOutOpen)");
    }
    EXPECT_FALSE(out.Active());
    test::TempDir dir;
    out.SetOutputFileName((dir / "missing" / "out.wav").string());
    EXPECT_THROW(out.Open(), EMP3Error);
    EXPECT_FALSE(out.Active());
}

constexpr uint64_t kFiveGiB = uint64_t{5} << 30;

// Sizes past 32 bits never wrap: with room for it the header becomes RF64, without it the sizes
// say "to the end of the file", as a pipe's do.
TEST(SoundOut, WaveHeaderSizesNeverWrap) {
    struct Case {
        uint64_t Data;
        bool Room;
        const char* Kind;
        uint32_t Riff;
        const char* Chunk; // the one behind "WAVE"
        uint32_t DataSize;
    };
    const Case cases[] = {
        {10000, false, "RIFF", 10036, "fmt ", 10000},
        {10000, true, "RIFF", 10072, "JUNK", 10000},
        {kStreamedWavSize, false, "RIFF", kStreamedWavSize, "fmt ", kStreamedWavSize},
        {0xFFFFFFF0u, false, "RIFF", kStreamedWavSize, "fmt ", 0xFFFFFFF0u},
        {kFiveGiB, false, "RIFF", kStreamedWavSize, "fmt ", kStreamedWavSize},
        {kFiveGiB, true, "RF64", kStreamedWavSize, "ds64", kStreamedWavSize},
    };
    for (const Case& wave : cases) {
        SCOPED_TRACE(wave.Data);
        const auto header = WaveFileHeader(TAudioFormat{}, wave.Data, wave.Room);
        ASSERT_EQ(header.size(), wave.Room ? 80u : 44u);
        EXPECT_EQ(std::string(header.begin(), header.begin() + 4), wave.Kind);
        EXPECT_EQ(LittleEndian32(header, 4), wave.Riff);
        EXPECT_EQ(std::string(header.begin() + 12, header.begin() + 16), wave.Chunk);
        EXPECT_EQ(std::string(header.end() - 8, header.end() - 4), "data");
        EXPECT_EQ(LittleEndian32(header, header.size() - 4), wave.DataSize);
    }
    const auto rf64 = WaveFileHeader(TAudioFormat{}, kFiveGiB, true);
    EXPECT_EQ(LittleEndian64(rf64, 20), kFiveGiB + 72);
    EXPECT_EQ(LittleEndian64(rf64, 28), kFiveGiB);
    EXPECT_EQ(LittleEndian64(rf64, 36), kFiveGiB / 4) << "sample frames";
}

// ffmpeg and sox take the lengths from the RF64 header: here the header of 5 GiB of PCM over a
// few bytes, as neither reads the data to learn its length. A file of unknown length gets the
// room from the start and reads as plain WAV while it stays small.
TEST(SoundOut, FfmpegAndSoxReadTheRf64Header) {
    if (!test::ToolAvailable("ffprobe") || !test::ToolAvailable("sox"))
        GTEST_SKIP() << "ffprobe and sox read the files";
    test::TempDir dir;
    auto big = WaveFileHeader(TAudioFormat{}, kFiveGiB, true);
    big.resize(big.size() + 4096);
    test::WriteFileBytes(dir / "big.wav", big);
    TSoundOut out;
    out.SetExpectedFileBytes(-1);
    out.SetOutputFileName((dir / "small.wav").string());
    out.Open();
    const std::vector<uint8_t> pcm = Ramp(10000);
    EXPECT_EQ(out.Write(pcm.data(), 10000), 10000);
    out.Close();
    EXPECT_EQ(std::filesystem::file_size(dir / "small.wav"), 10080u);
    for (const auto& [name, samples] : {std::pair{"big.wav", kFiveGiB / 4}, {"small.wav", 2500}}) {
        const std::string quoted = "'" + (dir / name).string() + "'";
        EXPECT_EQ(test::RunTool("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 " +
                                quoted),
                  std::to_string(samples) + "\n");
        EXPECT_EQ(test::RunTool("sox --i -s " + quoted), std::to_string(samples) + "\n");
    }
}

} // namespace
} // namespace pelbrisk
