#include "platform/AudioDevice.h"

#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace pelbrisk {
namespace {

using namespace std::chrono_literals;

// Collects done notices from the device's thread.
class DoneLog {
public:
    TAudioDoneTarget Target() {
        return [this](uint32_t index, int32_t result) {
            std::lock_guard lock(mutex_);
            done_.push_back(index);
            results_.push_back(result);
            changed_.notify_all();
        };
    }
    bool WaitFor(size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return done_.size() >= count; });
    }
    std::vector<uint32_t> Done() {
        std::lock_guard lock(mutex_);
        return done_;
    }
    std::vector<int32_t> Results() {
        std::lock_guard lock(mutex_);
        return results_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> done_;
    std::vector<int32_t> results_;
};

std::vector<int16_t> Signal(size_t samples) {
    std::vector<int16_t> pcm(samples);
    for (size_t i = 0; i < samples; ++i)
        pcm[i] = static_cast<int16_t>(static_cast<uint16_t>((i * 2654435761u) >> 16));
    pcm[0] = -32768;
    pcm[1] = 32767;
    return pcm;
}

TAudioBuffer BufferOver(std::vector<int16_t>& pcm, uint32_t index) {
    TAudioBuffer buffer;
    buffer.Data = reinterpret_cast<uint8_t*>(pcm.data());
    buffer.Length = static_cast<uint32_t>(pcm.size() * 2);
    buffer.Index = index;
    return buffer;
}

TEST(AudioDevice, ScalingFollowsTheVolumeWordPerChannel) {
    std::vector<int16_t> pcm = {32767, 32767, -32768, -32768, 1000, -1000};
    TAudioFormat stereo{2, 44100, 16};
    ScaleSamples(reinterpret_cast<uint8_t*>(pcm.data()), 12, stereo, 0xFFFFFFFFu);
    EXPECT_EQ(pcm, (std::vector<int16_t>{32767, 32767, -32768, -32768, 1000, -1000}));
    ScaleSamples(reinterpret_cast<uint8_t*>(pcm.data()), 12, stereo, 32768u | (0u << 16));
    EXPECT_EQ(pcm, (std::vector<int16_t>{16383, 0, -16384, 0, 500, 0})) << "truncated toward zero";
    std::vector<uint8_t> eight = {255, 0, 128, 200};
    ScaleSamples(eight.data(), 4, TAudioFormat{1, 8000, 8}, 0u | (65535u << 16));
    EXPECT_EQ(eight, (std::vector<uint8_t>{128, 128, 128, 128})) << "mono follows the left half";
    // A song's gain multiplies the volume; what passes full scale is held at its ends.
    pcm = {20000, 20000, -20000, -20000, 1000, -1000};
    ScaleSamples(reinterpret_cast<uint8_t*>(pcm.data()), 12, stereo, 0xFFFFFFFFu, 2.0f);
    EXPECT_EQ(pcm, (std::vector<int16_t>{32767, 32767, -32768, -32768, 2000, -2000}));
    ScaleSamples(reinterpret_cast<uint8_t*>(pcm.data()), 12, stereo, 32768u | (65535u << 16), 0.5f);
    EXPECT_EQ(pcm, (std::vector<int16_t>{8191, 16383, -8192, -16384, 500, -1000}));
    eight = {255, 0, 140};
    ScaleSamples(eight.data(), 3, TAudioFormat{1, 8000, 8}, 0xFFFFFFFFu, 4.0f);
    EXPECT_EQ(eight, (std::vector<uint8_t>{255, 0, 176}));
}

TEST(AudioDevice, IdsBeyondTheNullDeviceAreRejected) {
    std::unique_ptr<TAudioDevice> device;
    DoneLog log;
    EXPECT_EQ(OpenAudioDevice(AudioDeviceCount(), TAudioFormat{}, log.Target(), device),
              kAudioBadDeviceId);
    EXPECT_EQ(OpenAudioDevice(-2, TAudioFormat{}, log.Target(), device), kAudioBadDeviceId);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(AudioErrorText(kAudioBadDeviceId), "bad device ID");
    EXPECT_EQ(AudioErrorText(12345), "");
    EXPECT_FALSE(AudioErrorText(-2).empty()) << "ALSA's own text for negative codes";
}

TEST(NullAudioDevice, PlaysEachBufferInRealTimeAndReportsItDoneInOrder) {
    DoneLog log;
    std::unique_ptr<TAudioDevice> device;
    ASSERT_EQ(OpenAudioDevice(NullAudioDeviceId(), TAudioFormat{1, 8000, 16}, log.Target(), device),
              kAudioNoError);
    std::vector<int16_t> first = Signal(2000), second = Signal(2000); // 0.25 s each
    TAudioBuffer a = BufferOver(first, 0), b = BufferOver(second, 1);
    EXPECT_EQ(device->Write(a), kAudioUnprepared);
    ASSERT_EQ(device->Prepare(a), kAudioNoError);
    ASSERT_EQ(device->Prepare(b), kAudioNoError);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(device->Write(a), kAudioNoError);
    ASSERT_EQ(device->Write(b), kAudioNoError);
    EXPECT_EQ(device->Unprepare(a), kAudioStillPlaying);
    ASSERT_TRUE(log.WaitFor(1, 20s));
    const auto firstDone = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(log.WaitFor(2, 20s));
    const auto secondDone = std::chrono::steady_clock::now() - start;
    // Never early; late only by what a busy machine makes the clock thread wait.
    EXPECT_GE(firstDone, 250ms);
    EXPECT_LE(firstDone, 1250ms);
    EXPECT_GE(secondDone, 500ms);
    EXPECT_LE(secondDone, 2500ms);
    EXPECT_EQ(log.Done(), (std::vector<uint32_t>{0, 1}));
    uint64_t position = 0;
    device->GetPositionBytes(position);
    EXPECT_EQ(position, 8000u);
    EXPECT_EQ(device->Unprepare(a), kAudioNoError);
    device->Close();
}

TEST(NullAudioDevice, PauseStopsTheClockAndResetReturnsEverythingAtOnce) {
    DoneLog log;
    std::unique_ptr<TAudioDevice> device;
    ASSERT_EQ(OpenAudioDevice(NullAudioDeviceId(), TAudioFormat{2, 8000, 16}, log.Target(), device),
              kAudioNoError);
    std::vector<int16_t> pcm = Signal(16000); // 1 s
    TAudioBuffer buffer = BufferOver(pcm, 5);
    device->Prepare(buffer);
    device->Write(buffer);
    const auto written = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(100ms);
    const auto playing = std::chrono::duration<double>(std::chrono::steady_clock::now() - written);
    device->Pause();
    uint64_t paused = 0, later = 0;
    device->GetPositionBytes(paused);
    std::this_thread::sleep_for(150ms);
    device->GetPositionBytes(later);
    EXPECT_EQ(paused, later);
    // The sound starts with the write, however late the clock thread gets to run.
    EXPECT_GE(static_cast<double>(paused), std::min(playing.count(), 1.0) * 32000 - 1);
    EXPECT_EQ(device->Reset(), kAudioNoError);
    EXPECT_EQ(log.Done(), std::vector<uint32_t>{5}) << "dropped buffers come back at once";
    device->GetPositionBytes(later);
    EXPECT_EQ(later, 0u);
    uint32_t volume = 0;
    device->SetVolume(0x12345678u);
    device->GetVolume(volume);
    EXPECT_EQ(volume, 0x12345678u);
    device->Close();
}

// ALSA reads its configuration from ALSA_CONFIG_PATH when it first needs it; this test's own
// configuration routes the default PCM through the file plugin into a raw file.
class AlsaFilePlugin : public ::testing::Test {
protected:
    void SetUp() override { Route(Raw().string()); }
    void Route(const std::string& target) {
        std::ofstream file(dir_ / "asound.conf");
        file << "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" << target
             << "\"\n  format \"raw\"\n}\n";
    }
    std::filesystem::path Raw() const { return dir_ / "alsa.raw"; }
    int32_t Open(std::unique_ptr<TAudioDevice>& device, TAudioDoneTarget done) {
        setenv("ALSA_CONFIG_PATH", (dir_ / "asound.conf").c_str(), 1);
        const int32_t opened = OpenAlsaAudioDevice(-1, TAudioFormat{2, 44100, 16}, done, device);
        unsetenv("ALSA_CONFIG_PATH");
        return opened;
    }

    test::TempDir dir_;
};

TEST_F(AlsaFilePlugin, BytesReachingAlsaAreThePcmScaledByTheVolumeWord) {
    DoneLog log;
    std::unique_ptr<TAudioDevice> device;
    const int32_t opened = Open(device, log.Target());
    ASSERT_EQ(opened, kAudioNoError) << AudioErrorText(opened);
    const uint32_t volume = 16384u | (49151u << 16);
    device->SetVolume(volume);
    std::vector<int16_t> first = Signal(44100), second = Signal(30000);
    TAudioBuffer a = BufferOver(first, 0), b = BufferOver(second, 1);
    device->Prepare(a);
    device->Prepare(b);
    ASSERT_EQ(device->Write(a), kAudioNoError);
    ASSERT_EQ(device->Write(b), kAudioNoError);
    ASSERT_TRUE(log.WaitFor(2, 10s));
    EXPECT_EQ(log.Done(), (std::vector<uint32_t>{0, 1}));
    uint64_t played = 0;
    device->GetPositionBytes(played);
    EXPECT_EQ(played, (first.size() + second.size()) * 2);
    device->Close();

    std::vector<int16_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    ScaleSamples(reinterpret_cast<uint8_t*>(expected.data()),
                 static_cast<uint32_t>(expected.size() * 2), TAudioFormat{2, 44100, 16}, volume);
    const auto bytes = test::ReadFileBytes(Raw());
    ASSERT_EQ(bytes.size(), expected.size() * 2);
    EXPECT_EQ(std::memcmp(bytes.data(), expected.data(), bytes.size()), 0);
    EXPECT_NE(expected, first) << "the scaling changed the samples";
}

TEST_F(AlsaFilePlugin, NothingIsFedWhilePausedAndResetReturnsTheQueuedBuffers) {
    DoneLog log;
    std::unique_ptr<TAudioDevice> device;
    ASSERT_EQ(Open(device, log.Target()), kAudioNoError);
    std::vector<int16_t> first = Signal(8820), second = Signal(8820);
    TAudioBuffer a = BufferOver(first, 0), b = BufferOver(second, 1);
    device->Prepare(a);
    device->Prepare(b);
    ASSERT_EQ(device->Pause(), kAudioNoError);
    device->Write(a);
    EXPECT_FALSE(log.WaitFor(1, 200ms)) << "a paused device plays nothing";
    EXPECT_EQ(device->Unprepare(a), kAudioStillPlaying);
    ASSERT_EQ(device->Restart(), kAudioNoError);
    ASSERT_TRUE(log.WaitFor(1, 5s));
    ASSERT_EQ(device->Pause(), kAudioNoError);
    device->Write(b);
    ASSERT_EQ(device->Reset(), kAudioNoError);
    EXPECT_EQ(log.Done(), (std::vector<uint32_t>{0, 1})) << "dropped at once by the reset";
    uint64_t played = 1;
    device->GetPositionBytes(played);
    EXPECT_EQ(played, 0u);
    device->Close();
    EXPECT_EQ(test::ReadFileBytes(Raw()).size(), first.size() * 2) << "only the played buffer";
}

// A full disk under the file plugin fails every write with EIO: the device fails for good, gives
// back what it held with that error and refuses every later write.
TEST_F(AlsaFilePlugin, AFailingWriteFailsTheDeviceAndReturnsItsBuffersWithTheError) {
    Route("/dev/full");
    DoneLog log;
    std::unique_ptr<TAudioDevice> device;
    ASSERT_EQ(Open(device, log.Target()), kAudioNoError);
    std::vector<int16_t> first = Signal(88200), second = Signal(88200);
    TAudioBuffer a = BufferOver(first, 0), b = BufferOver(second, 1);
    device->Prepare(a);
    device->Prepare(b);
    ASSERT_EQ(device->Write(a), kAudioNoError);
    ASSERT_TRUE(log.WaitFor(1, 2s));
    EXPECT_EQ(log.Results(), std::vector<int32_t>{-EIO});
    EXPECT_EQ(device->Write(b), -EIO);
    EXPECT_EQ(device->Unprepare(a), kAudioNoError) << "nothing is left queued";
    EXPECT_EQ(device->Reset(), kAudioNoError);
    device->Close();
}

// ALSA reads a configuration file again only when it looks changed, so each case has its own.
TEST(AlsaConfiguration, AnUnknownCardOrABrokenDefaultFailsTheOpen) {
    test::TempDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"card.conf", "pcm.!default { type hw card 7 }\n"},
        {"asym.conf", "pcm.!default { type asym }\n"}};
    std::vector<int32_t> results;
    for (const auto& [name, text] : cases) {
        std::ofstream(dir / name) << text;
        setenv("ALSA_CONFIG_PATH", (dir / name).c_str(), 1);
        DoneLog log;
        std::unique_ptr<TAudioDevice> device;
        results.push_back(OpenAlsaAudioDevice(-1, TAudioFormat{}, log.Target(), device));
        EXPECT_EQ(device, nullptr) << name;
        unsetenv("ALSA_CONFIG_PATH");
    }
    EXPECT_EQ(results, (std::vector<int32_t>{-ENOENT, -EINVAL}));
}

TEST(AudioDevice, ChoicesNameTheNullDeviceTheDefaultOrANumber) {
    EXPECT_EQ(AudioDeviceChoice("null"), NullAudioDeviceId());
    EXPECT_EQ(AudioDeviceChoice("default"), -1);
    EXPECT_EQ(AudioDeviceChoice("0"), 0);
    EXPECT_EQ(AudioDeviceChoice("12"), 12);
    for (const char* bad : {"", "-1", "1x", "Null", " 1"})
        EXPECT_EQ(AudioDeviceChoice(bad), std::nullopt) << bad;
    setenv("PELBRISK_AUDIO", "null", 1);
    EXPECT_EQ(AudioDeviceFromEnvironment(), NullAudioDeviceId());
    setenv("PELBRISK_AUDIO", "", 1);
    EXPECT_EQ(AudioDeviceFromEnvironment(), -1);
    setenv("PELBRISK_AUDIO", "speakers", 1);
    EXPECT_EQ(AudioDeviceFromEnvironment(), std::nullopt);
    unsetenv("PELBRISK_AUDIO");
    EXPECT_EQ(AudioDeviceFromEnvironment(), -1);
}

} // namespace
} // namespace pelbrisk
