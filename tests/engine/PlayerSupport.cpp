#include "tests/engine/PlayerSupport.h"

#include "decoder/CpuFeatures.h"
#include "decoder/DecoderState.h"
#include "info/FrameTables.h"
#include "info/MP3Info.h"
#include "info/StreamProbe.h"
#include "stream/Stream.h"
#include "stream/StreamReader.h"
#include "tests/support/Media.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace pelbrisk::test {

std::vector<uint8_t> DecodeFrameByFrame(const std::vector<uint8_t>& file, bool fullBand,
                                        bool gapless) {
    TMPMemoryStream stream(file);
    TMPStreamReader reader(65536);
    reader.Attach(&stream, true);
    TMP3Info info;
    info.AttachReader(&reader);
    TFirstFrame first;
    if (!info.LocateAudio(first)) return {};
    TMP3StreamValues values = FirstFrameValues(info, first);

    // The routines the player installs when it starts playing, so that both decode alike.
    SelectRoutines(FeaturesWithCapabilities(DetectProcessorFeatures(), kAllCpuCapabilities));
    auto decoder = std::make_unique<TMP3Decoder>();
    decoder->FullBand = fullBand;
    const int32_t options =
        StreamChannels(reader, first) == 2 ? kTwoChannelOutput : kMixToOneChannel;
    if (decoder->Open(first.Header, first.Length - PaddingSlotOf(first.Header), 0, 0, options,
                      24000) == 0)
        return {};
    TMP3DecoderFormat format;
    decoder->GetFormat(format);
    values.BytesPerFrame = format.SamplesPerFrame * format.BitsPerSample / 8;
    const int32_t sampleBytes = format.Channels * 2;
    CheckVbrHeader(reader, values);

    const TFrameWalk walk(first);
    const TMP3Gapless song = gapless ? values.Gapless : TMP3Gapless{};
    std::vector<uint8_t> pcm;
    std::vector<uint8_t> frame(5120);
    int32_t length = values.FrameLength; // the first frame, unless it was an information frame
    for (int64_t index = 0;; ++index) {
        TMP3FrameHeader header;
        if (length <= 0)
            length = walk.Next(reader, DataEndOf(values.DataStart, values.DataLength), header);
        if (length <= 0) break;
        const TDecodeResult result = decoder->Decode(reader.Data(), length, frame.data());
        if (result.Consumed <= 0)
            std::memset(frame.data(), 0, static_cast<size_t>(values.BytesPerFrame));
        const TMP3SampleSpan span =
            SongPartOfFrame(index, values.BytesPerFrame / sampleBytes, song);
        pcm.insert(pcm.end(), frame.begin() + span.From * sampleBytes,
                   frame.begin() + span.To * sampleBytes);
        reader.Skip(length);
        length = 0;
    }
    return pcm;
}

std::vector<size_t> FrameOffsets(const std::vector<uint8_t>& file) {
    std::vector<size_t> offsets;
    size_t position = 0;
    while (position + 4 <= file.size()) {
        TMP3FrameHeader header;
        const int32_t length = DecodeFrameHeader(file.data() + position, 0, header);
        if (length <= 0) break;
        offsets.push_back(position);
        position += static_cast<size_t>(length + PaddingSlotOf(header));
    }
    return offsets;
}

std::vector<uint8_t> WavPcm(const std::filesystem::path& wav) {
    const std::vector<uint8_t> bytes = ReadFileBytes(wav);
    auto word = [&](size_t at) {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
    };
    // The data chunk follows "fmt " and, in a file that might have grown past 4 GiB, a JUNK
    // chunk that holds the room for an RF64 header.
    size_t data = 12;
    while (data + 8 <= bytes.size() &&
           std::string(bytes.begin() + data, bytes.begin() + data + 4) != "data")
        data += 8 + word(data + 4);
    EXPECT_LE(data + 8, bytes.size()) << wav << " has no data chunk";
    if (data + 8 > bytes.size()) return {};
    EXPECT_EQ(word(4), bytes.size() - 8) << wav;
    EXPECT_EQ(word(data + 4), bytes.size() - data - 8) << wav;
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(data) + 8, bytes.end());
}

void PlayerLog::Attach(TMP3Player& player) {
    player.OnChangeStatus = [this, &player](void* sender) {
        EXPECT_EQ(sender, &player);
        Statuses.push_back(player.Status());
        Order.push_back('s');
    };
    player.OnEndPlay = [this](void*, TMP3EndPlayReason reason) {
        EndReasons.push_back(reason);
        Order.push_back('e');
    };
    player.OnChangePosition = [this](void*) {
        ++Positions;
        Order.push_back('p');
    };
}

ShownErrors::ShownErrors() {
    SetApplicationExceptionDisplay([this](const std::exception_ptr& error) {
        std::lock_guard lock(mutex_);
        texts_.push_back(ExceptionText(error));
    });
}

ShownErrors::~ShownErrors() {
    SetApplicationExceptionDisplay(nullptr);
}

std::vector<std::string> ShownErrors::Texts() {
    std::lock_guard lock(mutex_);
    return texts_;
}

bool PumpUntil(TMP3Player& player, const std::function<bool()>& condition,
               std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    player.Messages().Pump();
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        player.Messages().WaitForMessage(10);
        player.Messages().Pump();
    }
    return true;
}

void PumpFor(TMP3Player& player, std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) {
        player.Messages().WaitForMessage(5);
        player.Messages().Pump();
    }
}

std::vector<uint8_t> PlayToWav(const std::filesystem::path& mp3, const std::filesystem::path& wav) {
    TMP3Player player;
    player.SetAutoPlay(false);
    PlayerLog log;
    log.Attach(player);
    player.SetFileName(mp3.string());
    player.SetOutputFileName(wav.string());
    player.Play();
    EXPECT_TRUE(PumpUntil(player, [&] { return !log.EndReasons.empty(); })) << mp3;
    EXPECT_EQ(log.EndReasons, std::vector<TMP3EndPlayReason>{merSuccessful}) << mp3;
    return WavPcm(wav);
}

} // namespace pelbrisk::test
