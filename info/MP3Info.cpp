#include "info/MP3Info.h"

#include "info/ApeTag.h"
#include "info/ByteOrder.h"
#include "info/FrameHeader.h"
#include "info/FrameTables.h"
#include "info/Genres.h"
#include "info/Id3v2Tag.h"
#include "info/TextConversion.h"
#include "stream/Errors.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace pelbrisk {

namespace {

constexpr int32_t kMacBinaryHeaderBytes = 128;
constexpr int32_t kId3v1Bytes = 128;
constexpr int32_t kId3v2HeaderBytes = 10; // and of version 2.4's footer
constexpr uint8_t kUnsynchronisationFlag = 0x80;
constexpr uint8_t kId3v2ExtendedHeaderFlag = 0x40;
constexpr uint8_t kId3v22CompressionFlag = 0x40;
constexpr uint8_t kId3v24FooterFlag = 0x10;
constexpr int32_t kLyricsMarkerBytes = 9;
constexpr int32_t kLyrics3v1Reach = 5100;
constexpr int32_t kLyricsSizeBytes = 6;
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";

// Unsigned 32-bit numbers of the formats are read as signed, as the readers compare them.
int32_t Signed(uint32_t value) {
    return static_cast<int32_t>(value);
}

bool StartsWith(const uint8_t* bytes, std::string_view magic) {
    return std::memcmp(bytes, magic.data(), magic.size()) == 0;
}

// A number written in decimal characters; 0 when they are not one.
int32_t DecimalNumber(const uint8_t* bytes, size_t count) {
    int32_t value = 0;
    for (size_t at = 0; at < count; ++at) {
        if (bytes[at] < '0' || bytes[at] > '9') return 0;
        value = value * 10 + (bytes[at] - '0');
    }
    return value;
}

int64_t RoundedUpToEven(int64_t value) {
    return value + (value & 1);
}

// Four capital letters or digits, as every frame of versions 2.3 and 2.4 is named.
bool IsId3v2FrameId(const uint8_t* bytes) {
    return std::all_of(bytes, bytes + 4,
                       [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

bool NamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

} // namespace

std::string InfoValue(const TMP3InfoValues& lines, std::string_view name) {
    for (const std::string& line : lines) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        if (NamesEqual(std::string_view(line).substr(0, equals), name))
            return line.substr(equals + 1);
    }
    return {};
}

void TMP3Info::Clear() {
    reader_ = nullptr;
    foundTypes_ = 0;
    id3v2Version_ = 0;
    fileName_.clear();
    audioStart_ = 0;
    audioLength_ = kUnknownLength;
    riffDataStart_ = 0;
    riffDataLength_ = kUnknownLength;
    riffValues_.clear();
    id3v1Values_.clear();
    id3v2Values_.clear();
    lyricsValues_.clear();
    apeValues_.clear();
    rva2Gain_ = TReplayGain{};
    picture_ = TTagPicture{};
}

void TMP3Info::AttachReader(TMPStreamReader* reader) {
    if (reader != nullptr) Clear();
    reader_ = reader;
}

bool TMP3Info::SkipLong(int64_t count) {
    // No stream holds 2 GiB; a skip that far can only end at the stream's end.
    if (count > INT32_MAX) {
        if (reader_->Seekable()) reader_->Seek(0, msoFromEnd);
        return false;
    }
    return reader_->Skip(static_cast<int32_t>(count));
}

bool TMP3Info::ReadBytes(int64_t count, std::string& text) {
    while (count > 0) {
        const int32_t piece = static_cast<int32_t>(std::min<int64_t>(count, reader_->Capacity()));
        if (!reader_->Require(piece)) return false;
        text.append(reinterpret_cast<const char*>(reader_->Data()), static_cast<size_t>(piece));
        if (!reader_->Skip(piece)) return false;
        count -= piece;
    }
    return true;
}

TReplayGain TMP3Info::ReplayGain() const {
    return FirstKnownGain(
        {GainFromLines(id3v2Values_, "TXXX:"), GainFromLines(apeValues_, ""), rva2Gain_});
}

bool TMP3Info::ReadHeadTags() {
    MP3Assert(reader_ != nullptr);
    if (ReadMacBinary()) foundTypes_ |= mitMacBin;
    if (ReadRiff()) foundTypes_ |= mitRiff;
    // Taggers that do not know each other's tags put a new one in front of the old.
    while (ReadId3v2())
        foundTypes_ |= mitID3V2;
    return reader_->Require(1);
}

bool TMP3Info::ReadMacBinary() {
    if (!reader_->Require(kMacBinaryHeaderBytes)) return false;
    const uint8_t* header = reader_->Data();
    if (header[0] != 0 || header[74] != 0 || header[82] != 0) return false;
    if (header[1] < 1 || header[1] > 31) return false;
    const int32_t dataLength = Signed(BigEndian32(header + 83));
    const int32_t resourceLength = Signed(BigEndian32(header + 87));
    if (dataLength < 0 || resourceLength < 0) return false;
    // The data fork's end must be a 32-bit offset like every other.
    const int64_t dataStart = int64_t(reader_->Position()) + kMacBinaryHeaderBytes;
    if (dataStart + dataLength > INT32_MAX) return false;
    reader_->Skip(kMacBinaryHeaderBytes);
    macDataStart_ = reader_->Position();
    macDataLength_ = dataLength;
    macDataEnd_ = macDataStart_ + dataLength;
    macResourceLength_ = resourceLength;
    audioStart_ = macDataStart_;
    audioLength_ = dataLength;
    return true;
}

bool TMP3Info::FindRiffChunk(std::string_view name, std::string_view formType) {
    while (reader_->Require(8)) {
        const int32_t size = Signed(LittleEndian32(reader_->Data() + 4));
        if (size < 1) return false;
        if (StartsWith(reader_->Data(), name)) {
            if (formType.empty()) return true;
            if (reader_->Require(12) && StartsWith(reader_->Data() + 8, formType)) return true;
        }
        if (!SkipLong(RoundedUpToEven(int64_t(size) + 8))) return false;
    }
    return false;
}

bool TMP3Info::ReadRiff() {
    if (!reader_->Require(12) || !StartsWith(reader_->Data(), "RIFF")) return false;
    reader_->Skip(12);
    if (!FindRiffChunk("data", {})) return false;
    if (!reader_->Require(8)) return false;
    const int32_t size = Signed(LittleEndian32(reader_->Data() + 4));
    if (size <= 0 || !StartsWith(reader_->Data(), "data")) return false;
    riffDataLength_ = size;
    reader_->Skip(8);
    riffDataStart_ = reader_->Position();
    audioStart_ = riffDataStart_;
    audioLength_ = riffDataLength_;
    return true;
}

bool TMP3Info::ReadId3v2() {
    if (!reader_->Require(kId3v2HeaderBytes)) return false;
    const uint8_t* header = reader_->Data();
    if (!StartsWith(header, "ID3")) return false;
    // The size bytes are taken whole, their top bits included.
    const int32_t size = (header[6] << 21) + (header[7] << 14) + (header[8] << 7) + header[9];
    if (size <= 0) return false;
    const uint8_t version = header[3];
    const uint8_t flags = header[5];
    const int64_t tagEnd = int64_t(reader_->Position()) + kId3v2HeaderBytes + size;
    const bool footer = version == 4 && (flags & kId3v24FooterFlag) != 0;
    const int32_t tagBytes = kId3v2HeaderBytes + size + (footer ? kId3v2HeaderBytes : 0);
    // Version 2.2's compression was never defined: such a tag cannot be read.
    const bool readable =
        (version == 2 && (flags & kId3v22CompressionFlag) == 0) || version == 3 || version == 4;
    if (readable && SkipId3v2Headers(version, flags, size)) {
        TId3v2Frames frames(*reader_, tagEnd, version, (flags & kUnsynchronisationFlag) != 0);
        frames.WantPicture(wantPicture_);
        frames.Read(id3v2Values_);
        KeepBetterPicture(picture_, std::move(frames.Picture()));
        rva2Gain_ = FirstKnownGain({rva2Gain_, frames.Rva2()});
    }
    // The tag ends where its header says, whatever its frames were: the lines that could be
    // read stay, and the audio is looked for behind it. A tag that runs past the stream's end
    // leaves nothing behind it.
    const int64_t end = tagEnd + (footer ? kId3v2HeaderBytes : 0);
    if (reader_->Position() <= end && SkipLong(end - reader_->Position())) {
        audioStart_ = reader_->Position();
        if (audioLength_ != kUnknownLength) audioLength_ -= tagBytes;
    }
    id3v2Version_ = version;
    return true;
}

// Passes the tag header and an extended header; false when the frames cannot be found.
bool TMP3Info::SkipId3v2Headers(uint8_t version, uint8_t flags, int32_t size) {
    if (version == 2 || (flags & kId3v2ExtendedHeaderFlag) == 0 ||
        !reader_->Require(kId3v2HeaderBytes + 4) || IsId3v2FrameId(reader_->Data() + 10))
        // Some taggers flag an extended header and write none: a frame follows the header.
        return reader_->Skip(kId3v2HeaderBytes);
    const uint8_t* extended = reader_->Data() + kId3v2HeaderBytes;
    // Version 2.4 counts the size field in, 2.3 does not.
    const int64_t extendedBytes =
        version == 4 ? Id3v2SyncSafe(extended) : 4 + int64_t(Signed(BigEndian32(extended)));
    const int64_t smallest = version == 4 ? 6 : 4;
    if (extendedBytes < smallest || extendedBytes > size) return false;
    return SkipLong(kId3v2HeaderBytes + extendedBytes);
}

bool TMP3Info::FindFirstFrame() {
    TFirstFrame first;
    return FindFirstFrame(first);
}

bool TMP3Info::FindFirstFrame(TFirstFrame& first) {
    MP3Assert(reader_ != nullptr);
    const int64_t dataEnd =
        audioLength_ == kUnknownLength ? INT32_MAX : int64_t(audioStart_) + audioLength_;
    if (!pelbrisk::FindFirstFrame(*reader_, dataEnd, first)) return false;
    if (audioLength_ != kUnknownLength) audioLength_ -= reader_->Position() - audioStart_;
    audioStart_ = reader_->Position();
    return true;
}

bool TMP3Info::LocateAudio(TFirstFrame& first) {
    MP3Assert(reader_ != nullptr);
    ReadHeadTags();
    if (reader_->Seekable()) {
        ReadTailTags();
        reader_->Seek(audioStart_, msoFromBeginning);
    }
    return FindFirstFrame(first);
}

bool TMP3Info::ReadTailTags() {
    MP3Assert(reader_ != nullptr);
    if (!reader_->Seekable()) return false;
    if (audioLength_ == kUnknownLength) audioLength_ = reader_->Size() - audioStart_;
    if ((foundTypes_ & mitRiff) != 0) {
        const int64_t listStart = RoundedUpToEven(int64_t(riffDataStart_) + riffDataLength_);
        try {
            if (listStart <= INT32_MAX) {
                reader_->Seek(static_cast<int32_t>(listStart), msoFromBeginning);
                if (FindRiffChunk("LIST", "INFO")) ReadRiffInfo();
            }
        } catch (const EMP3Error&) {
            // A damaged INFO list must not cost the tags behind it.
        }
    }
    if (ReadId3v1()) foundTypes_ |= mitID3V1;
    // An APE tag sits right before the ID3v1 tag, or before a Lyrics3 tag there.
    int64_t end = (foundTypes_ & mitMacBin) != 0 ? macDataEnd_ : reader_->Size();
    if ((foundTypes_ & mitID3V1) != 0) end = id3v1Position_;
    ReadApe(end);
    if (ReadLyrics3()) foundTypes_ |= mitLyrics;
    if ((foundTypes_ & (mitApe | mitLyrics)) == mitLyrics) ReadApe(lyricsStart_);
    return true;
}

bool TMP3Info::ReadApe(int64_t end) {
    // ID3v2's picture comes first; APE's stands in for a missing one.
    TTagPicture apePicture;
    const int64_t start =
        ReadApeTag(*reader_, end, apeValues_, wantPicture_ ? &apePicture : nullptr);
    if (picture_.Empty()) picture_ = std::move(apePicture);
    if (start < 0) return false;
    foundTypes_ |= mitApe;
    apeStart_ = static_cast<int32_t>(start);
    if (apeStart_ >= audioStart_) audioLength_ = std::min(audioLength_, apeStart_ - audioStart_);
    return true;
}

bool TMP3Info::ReadRiffInfo() {
    if (!reader_->Require(8) || !StartsWith(reader_->Data(), "LIST")) return false;
    const int32_t size = Signed(LittleEndian32(reader_->Data() + 4));
    if (size < 0) return false;
    if (!reader_->Require(12) || !StartsWith(reader_->Data() + 8, "INFO")) return false;
    const int64_t listEnd = int64_t(reader_->Position()) + size + 8;
    if (!reader_->Skip(12)) return false;
    while (reader_->Position() < listEnd) {
        if (!reader_->Require(8)) return false;
        const std::string id = FixedFieldText(reader_->Data(), 4);
        const int32_t size = Signed(LittleEndian32(reader_->Data() + 4));
        if (!reader_->Skip(8) || size < 0) return false;
        if (id == "IID3") return true;
        if (size > reader_->Capacity() || !reader_->Require(size)) return false;
        const std::string text = TagFieldText(reader_->Data(), static_cast<size_t>(size));
        if (!id.empty() && !text.empty()) riffValues_.push_back(id + "=" + text);
        if (!SkipLong(RoundedUpToEven(size))) return false;
    }
    return true;
}

bool TMP3Info::ReadId3v1() {
    MP3Assert(reader_->Seekable());
    const int64_t end = (foundTypes_ & mitMacBin) != 0 ? macDataEnd_ : reader_->Size();
    const int64_t position = end - kId3v1Bytes;
    if (position < 0 || position > reader_->Size()) return false;
    reader_->Seek(static_cast<int32_t>(position), msoFromBeginning);
    if (!reader_->Require(kId3v1Bytes)) return false;
    const uint8_t* tag = reader_->Data();
    if (!StartsWith(tag, "TAG")) return false;
    id3v1Values_.push_back("TITLE=" + TagFieldText(tag + 3, 30));
    id3v1Values_.push_back("ARTIST=" + TagFieldText(tag + 33, 30));
    id3v1Values_.push_back("ALBUM=" + TagFieldText(tag + 63, 30));
    id3v1Values_.push_back("YEAR=" + TagFieldText(tag + 93, 4));
    id3v1Values_.push_back("COMMENT=" + TagFieldText(tag + 97, 30));
    id3v1Values_.push_back(std::string("GENRE=") + GenreName(tag[127]));
    id3v1Values_.push_back("GENREIDX=" + std::to_string(tag[127]));
    // ID3v1.1: a zero in the comment's second-last byte makes its last byte the track.
    if (tag[125] == 0) id3v1Values_.push_back("TRACK=" + std::to_string(tag[126]));
    id3v1Position_ = static_cast<int32_t>(position);
    return reader_->Skip(kId3v1Bytes);
}

bool TMP3Info::ReadLyrics3() {
    MP3Assert(reader_->Seekable());
    int32_t end = reader_->Size();
    if ((foundTypes_ & mitApe) != 0)
        end = apeStart_;
    else if ((foundTypes_ & mitID3V1) != 0)
        end = id3v1Position_;
    else if ((foundTypes_ & mitMacBin) != 0)
        end = macDataEnd_;
    const int32_t marker = end - kLyricsMarkerBytes;
    if (marker < 0 || marker > reader_->Size()) return false;
    reader_->Seek(marker, msoFromBeginning);
    if (!reader_->Require(kLyricsMarkerBytes)) return false;
    if (StartsWith(reader_->Data(), "LYRICSEND")) return ReadLyrics3v1(marker);
    if (StartsWith(reader_->Data(), "LYRICS200")) return ReadLyrics3v2(marker);
    return false;
}

bool TMP3Info::ReadLyrics3v1(int32_t marker) {
    const int32_t start = std::max(marker - kLyrics3v1Reach, 0);
    reader_->Seek(start, msoFromBeginning);
    std::string text;
    if (!ReadBytes(marker - start, text)) return false;
    const size_t begin = text.find(kLyricsBegin);
    if (begin == std::string::npos) return false;
    lyricsValues_.push_back(
        "LYRICS=" + TagTextToUtf8(std::string_view(text).substr(begin + kLyricsBegin.size())));
    lyricsStart_ = start + static_cast<int32_t>(begin);
    return true;
}

bool TMP3Info::ReadLyrics3v2(int32_t marker) {
    const int32_t sizeField = marker - kLyricsSizeBytes;
    if (sizeField < 0) return false;
    reader_->Seek(sizeField, msoFromBeginning);
    if (!reader_->Require(kLyricsSizeBytes)) return false;
    const int32_t size = DecimalNumber(reader_->Data(), kLyricsSizeBytes);
    if (size <= 0) return false;
    const int32_t start = sizeField - size;
    if (start < 0) return false;
    lyricsStart_ = start;
    reader_->Seek(start, msoFromBeginning);
    if (!reader_->Require(int32_t(kLyricsBegin.size())) ||
        !StartsWith(reader_->Data(), kLyricsBegin))
        return false;
    reader_->Skip(int32_t(kLyricsBegin.size()));
    while (reader_->Position() < sizeField) {
        if (!reader_->Require(8)) return false;
        const std::string id = FixedFieldText(reader_->Data(), 3);
        const int32_t length = DecimalNumber(reader_->Data() + 3, 5);
        if (length <= 0 || !reader_->Skip(8)) return false;
        if (int64_t(reader_->Position()) + length > sizeField) return false;
        std::string value;
        if (!ReadBytes(length, value)) return false;
        lyricsValues_.push_back(id + "=" + TagTextToUtf8(value));
    }
    return true;
}

void TMP3Info::LoadFromFile(const std::string& fileName) {
    TMPStreamReader reader(kFileReaderCapacity);
    try {
        TMPFileStream stream(fileName);
        reader.Attach(&stream, true);
        AttachReader(&reader);
        fileName_ = fileName;
        TFirstFrame first;
        if (!LocateAudio(first)) throw EMP3Error(kUnknownFormatText);
        reader.Detach();
    } catch (...) {
        Clear();
        throw;
    }
    // The reader dies here; keeping its address would leave a dangling one behind.
    reader_ = nullptr;
}

std::string TMP3Info::BestValue(const char* id3v1Name, const char* id3v2Name, const char* riffName,
                                const char* apeName) const {
    std::string best;
    auto consider = [&](TMP3InfoType type, const TMP3InfoValues& lines, const char* name) {
        if ((needInfoType_ & type) == 0) return;
        std::string candidate = InfoValue(lines, name);
        if (candidate.size() > best.size()) best = std::move(candidate);
    };
    consider(mitID3V1, id3v1Values_, id3v1Name);
    consider(mitID3V2, id3v2Values_, id3v2Name);
    consider(mitRiff, riffValues_, riffName);
    consider(mitApe, apeValues_, apeName);
    return best;
}

std::string TMP3Info::Title() const {
    std::string title = BestValue("TITLE", "TIT2", "INAM", "Title");
    if (!title.empty()) return title;
    const size_t slash = fileName_.find_last_of('/');
    return slash == std::string::npos ? fileName_ : fileName_.substr(slash + 1);
}

std::string TMP3Info::Artist() const {
    return BestValue("ARTIST", "TPE1", "IART", "Artist");
}

std::string TMP3Info::Album() const {
    return BestValue("ALBUM", "TALB", "IPRD", "Album");
}

} // namespace pelbrisk
