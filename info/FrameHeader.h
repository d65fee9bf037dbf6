#pragma once

#include <cstdint>

namespace pelbrisk {

// The thirteen fields of a 4-byte MPEG audio frame header, as coded in the stream.
struct TMP3FrameHeader {
    int32_t SyncKind = 0; // 0 none, 1 MPEG-1/MPEG-2 (12-bit sync), 2 MPEG-2.5 (11-bit sync)
    int32_t Id = 0;       // 1 MPEG-1 tables, 0 low-sampling-frequency tables
    int32_t Layer = 0;    // as coded: 3 Layer I, 2 Layer II, 1 Layer III, 0 reserved
    int32_t ProtectionBit = 0;
    int32_t BitrateIndex = 0;
    int32_t SamplingIndex = 0;
    int32_t Padding = 0;
    int32_t PrivateBit = 0;
    int32_t Mode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int32_t ModeExtension = 0;
    int32_t RightsFlag = 0;
    int32_t NotCopyFlag = 0;
    int32_t Emphasis = 0;
};

// Frame length without the padding slot; 0 or less when the bytes are no usable header.
// At least 4 bytes must be readable at `bytes`; `available` only feeds the free-format search.
int32_t DecodeFrameHeader(const uint8_t* bytes, uint32_t available, TMP3FrameHeader& header);
int32_t DecodeFrameHeaderBitrate(const uint8_t* bytes, uint32_t available, TMP3FrameHeader& header,
                                 int32_t& bitrate);
int32_t FindFreeFormatLength(const uint8_t* bytes, uint32_t available);
int32_t FindFrameSync(const uint8_t* buffer, int32_t count, TMP3FrameHeader& header,
                      int32_t& bitrate, int32_t& offset);

} // namespace pelbrisk
