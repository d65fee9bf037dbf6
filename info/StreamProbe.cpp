#include "info/StreamProbe.h"

#include "stream/Errors.h"

namespace pelbrisk {

namespace {

int32_t CountFrames(TMPStreamReader& reader, const TMP3StreamValues& values,
                    const TFrameWalk& walk) {
    int32_t frames = 0;
    TMP3FrameHeader header;
    while (const int32_t length =
               walk.Next(reader, DataEndOf(values.DataStart, values.DataLength), header)) {
        reader.Skip(length);
        ++frames;
    }
    return frames;
}

} // namespace

TMP3StreamValues FirstFrameValues(const TMP3Info& info, const TFirstFrame& first) {
    TMP3StreamValues values;
    values.Header = first.Header;
    values.FrameLength = first.Length;
    values.Bitrate = first.Bitrate;
    values.DataStart = info.AudioStart();
    values.DataLength = info.AudioLength();
    return values;
}

int64_t DataEndOf(int32_t dataStart, int32_t dataLength) {
    return dataLength == INT32_MAX ? INT32_MAX : int64_t(dataStart) + dataLength;
}

bool ProbeStream(TMPStreamReader& reader, TMP3Info& info, TMP3StreamProbe& probe, bool walkFrames) {
    probe = TMP3StreamProbe();
    info.AttachReader(&reader);
    TFirstFrame first;
    if (!info.LocateAudio(first)) return false;
    TMP3StreamValues& values = probe.Values;
    values = FirstFrameValues(info, first);
    probe.Format = DescribeFrame(values.Header);
    values.BytesPerFrame = probe.Format.BytesPerFrame;
    probe.FirstFrameOffset = values.DataStart;
    probe.FirstFrameLength = values.FrameLength;
    probe.FirstFrameBitrate = values.Bitrate;
    probe.FreeFormatLength = first.FreeFormatLength;
    try {
        probe.VbrHeader = CheckVbrHeader(reader, values);
    } catch (const EMP3Error&) {
        return false;
    }
    probe.Duration = StreamDuration(probe.Format.SampleRate, probe.Format.Channels,
                                    values.TotalBytes, values.Bitrate, values.DataLength);
    if (walkFrames) probe.WalkedFrames = CountFrames(reader, values, TFrameWalk(first));
    return true;
}

} // namespace pelbrisk
