#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Byte builders for tag and stream tests.
namespace pelbrisk::test {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}
inline void Append(Bytes& to, const std::string& text) {
    to.insert(to.end(), text.begin(), text.end());
}

inline void AppendBigEndian(Bytes& to, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        to.push_back(uint8_t(value >> shift));
}

inline void AppendLittleEndian(Bytes& to, uint32_t value) {
    for (int shift = 0; shift <= 24; shift += 8)
        to.push_back(uint8_t(value >> shift));
}

// MPEG-1 Layer III frames at 128 kbit/s and 44.1 kHz: 417 bytes each, body filled with 0x55.
inline Bytes Mpeg1Frames(int count, uint8_t fourthByte = 0x64) {
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        Append(bytes, Bytes{0xFF, 0xFB, 0x90, fourthByte});
        bytes.resize(bytes.size() + 413, 0x55);
    }
    return bytes;
}

// One ID3v2.3 frame.
inline Bytes Id3v2Frame(const std::string& id, const Bytes& body) {
    Bytes frame;
    Append(frame, id);
    AppendBigEndian(frame, uint32_t(body.size()));
    Append(frame, Bytes{0, 0});
    Append(frame, body);
    return frame;
}

// One ID3v2.4 frame: its size written 7 bits to a byte, its format flags in the second byte.
inline Bytes Id3v24Frame(const std::string& id, const Bytes& body, uint8_t formatFlags = 0) {
    Bytes frame;
    Append(frame, id);
    const uint32_t size = uint32_t(body.size());
    for (int shift = 21; shift >= 0; shift -= 7)
        frame.push_back(uint8_t((size >> shift) & 0x7F));
    Append(frame, Bytes{0, formatFlags});
    Append(frame, body);
    return frame;
}

// One ID3v2.2 frame: a three-letter ID and a three-byte size.
inline Bytes Id3v22Frame(const std::string& id, const Bytes& body) {
    Bytes frame;
    Append(frame, id);
    for (int shift = 16; shift >= 0; shift -= 8)
        frame.push_back(uint8_t(body.size() >> shift));
    Append(frame, body);
    return frame;
}

inline Bytes Latin1TextFrame(const std::string& id, const std::string& text) {
    Bytes body{0};
    Append(body, text);
    return Id3v2Frame(id, body);
}

// An ID3v2 tag of `version` with `content` (frames, padding) behind its 10-byte header.
inline Bytes Id3v2Tag(const Bytes& content, uint8_t version = 3, uint8_t flags = 0) {
    Bytes tag{'I', 'D', '3', version, 0, flags};
    const uint32_t size = uint32_t(content.size());
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.push_back(uint8_t((size >> shift) & 0x7F));
    Append(tag, content);
    return tag;
}

// A text field of exactly `width` bytes, zero-filled.
inline Bytes Field(const std::string& text, size_t width) {
    Bytes field(text.begin(), text.end());
    field.resize(width, 0);
    return field;
}

inline Bytes Id3v1Tag(const std::string& title, const std::string& artist, const std::string& album,
                      uint8_t genre, uint8_t byte125 = 0, uint8_t track = 0) {
    Bytes tag;
    Append(tag, std::string("TAG"));
    Append(tag, Field(title, 30));
    Append(tag, Field(artist, 30));
    Append(tag, Field(album, 30));
    Append(tag, Field("2004", 4));
    Append(tag, Field("a comment", 28));
    tag.push_back(byte125);
    tag.push_back(track);
    tag.push_back(genre);
    return tag;
}

} // namespace pelbrisk::test
