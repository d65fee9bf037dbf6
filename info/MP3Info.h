#pragma once

#include "info/FrameSearch.h"
#include "info/ReplayGain.h"
#include "info/TagPicture.h"
#include "stream/StreamReader.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelbrisk {

// The tag kinds a stream may carry, as bits of one byte.
using TMP3InfoType = uint8_t;
inline constexpr TMP3InfoType mitID3V1 = 1 << 0;
inline constexpr TMP3InfoType mitID3V2 = 1 << 1;
inline constexpr TMP3InfoType mitRiff = 1 << 2;
inline constexpr TMP3InfoType mitMacBin = 1 << 3;
inline constexpr TMP3InfoType mitLyrics = 1 << 4;
inline constexpr TMP3InfoType mitApe = 1 << 5;

// "name=value" lines of one tag kind, in the order read.
using TMP3InfoValues = std::vector<std::string>;

// The value of the first line whose name equals `name` (ASCII letters compared without regard to
// case); empty when there is none.
std::string InfoValue(const TMP3InfoValues& lines, std::string_view name);

// Where the MPEG audio data of a stream lies and what its tags and wrappers say: MacBinary and
// RIFF wrappers and ID3v2 tags (version 2.2 to 2.4, any number in a row) at the head, an ID3v1,
// a Lyrics3 and an APE tag at the tail; the APE tag's bytes are no audio data. Text comes out as
// UTF-8; text that declares no encoding is read in the tag code page (TextConversion.h).
//
// The player and the stream probe attach their own reader and call LocateAudio, which leaves
// AudioStart/AudioLength as the audio range from the first frame on; a play-list entry calls
// LoadFromFile, which reads the same way.
// The readers never raise on bad input: a tag that does not fit is not read (lines it added
// before the fault stay). Reading with no reader attached is an assertion failure.
class TMP3Info {
public:
    static constexpr int32_t kUnknownLength = INT32_MAX;
    static constexpr int32_t kFileReaderCapacity = 65536;

    TMP3Info() = default;

    // Forgets the reader, the file name, the found tags and their lines.
    void Clear();
    // With a reader: Clear, then bind it. With nullptr: forget the reader, keep the rest.
    void AttachReader(TMPStreamReader* reader);

    // MacBinary, RIFF and ID3v2 from the head on; true when audio data follows them.
    bool ReadHeadTags();
    // Moves AudioStart (and shortens a known AudioLength) to the first frame from the head on,
    // as FindFirstFrame in FrameSearch.h finds it.
    bool FindFirstFrame();
    bool FindFirstFrame(TFirstFrame& first);
    // The tags at the head, those at the tail of a seekable stream, then the first frame behind
    // the head tags, where it leaves the head. The tags' lines stay when no frame is found.
    bool LocateAudio(TFirstFrame& first);
    // RIFF INFO, ID3v1, Lyrics3 and APE at the end; false when the stream cannot seek.
    bool ReadTailTags();
    // Reads a file on its own; raises EMP3Error ("unknown MPEG Audio format." when it is not
    // MPEG audio, the system's text when it cannot be opened), leaving the object cleared.
    void LoadFromFile(const std::string& fileName);

    // The longest of the ID3v1, ID3v2, RIFF and APE values whose kind is in NeedInfoType; the
    // earlier kind wins a tie. An empty Title falls back to the file's name.
    std::string Title() const;
    std::string Artist() const;
    std::string Album() const;

    TMPStreamReader* Reader() const { return reader_; }
    TMP3InfoType FoundTypes() const { return foundTypes_; }
    // The major version of the ID3v2 tag found (2, 3 or 4 for 2.2 to 2.4); 0 without one.
    int32_t ID3v2Version() const { return id3v2Version_; }
    const std::string& FileName() const { return fileName_; }
    int32_t AudioStart() const { return audioStart_; }
    int32_t AudioLength() const { return audioLength_; }
    int32_t MacDataStart() const { return macDataStart_; }
    int32_t MacDataLength() const { return macDataLength_; }
    int32_t MacDataEnd() const { return macDataEnd_; }
    int32_t MacResourceLength() const { return macResourceLength_; }
    int32_t RiffDataStart() const { return riffDataStart_; }
    int32_t RiffDataLength() const { return riffDataLength_; }
    int32_t ID3v1Position() const { return id3v1Position_; }
    int32_t LyricsStart() const { return lyricsStart_; }
    int32_t ApeStart() const { return apeStart_; }
    const TMP3InfoValues& RiffValues() const { return riffValues_; }
    const TMP3InfoValues& ID3v1Values() const { return id3v1Values_; }
    const TMP3InfoValues& ID3v2Values() const { return id3v2Values_; }
    const TMP3InfoValues& LyricsValues() const { return lyricsValues_; }
    const TMP3InfoValues& ApeValues() const { return apeValues_; }
    // The gains the tags give: ID3v2's TXXX:REPLAYGAIN_* first, then APE's, then RVA2. The LAME
    // tag's come with the information frame (TMP3VbrHeader).
    TReplayGain ReplayGain() const;
    // With `want` (off by default), the tags' front cover is read as well: ID3v2's APIC (or
    // PIC), else APEv2's "Cover Art (Front)"; empty when there is none or it is damaged.
    void SetWantPicture(bool want) { wantPicture_ = want; }
    const TTagPicture& Picture() const { return picture_; }
    TMP3InfoType NeedInfoType() const { return needInfoType_; }
    void SetNeedInfoType(TMP3InfoType types) { needInfoType_ = types; }

private:
    bool ReadMacBinary();
    bool ReadRiff();
    bool FindRiffChunk(std::string_view name, std::string_view formType);
    bool ReadId3v2();
    bool SkipId3v2Headers(uint8_t version, uint8_t flags, int32_t size);
    bool ReadRiffInfo();
    bool ReadId3v1();
    bool ReadLyrics3();
    bool ReadLyrics3v1(int32_t marker);
    bool ReadLyrics3v2(int32_t marker);
    bool ReadApe(int64_t end);
    bool ReadBytes(int64_t count, std::string& text);
    bool SkipLong(int64_t count);
    std::string BestValue(const char* id3v1Name, const char* id3v2Name, const char* riffName,
                          const char* apeName) const;

    TMPStreamReader* reader_ = nullptr;
    TMP3InfoType foundTypes_ = 0;
    int32_t id3v2Version_ = 0;
    std::string fileName_;
    int32_t audioStart_ = 0;
    int32_t audioLength_ = kUnknownLength;
    int32_t macDataStart_ = 0;
    int32_t macDataLength_ = 0;
    int32_t macDataEnd_ = 0;
    int32_t macResourceLength_ = 0;
    int32_t riffDataStart_ = 0;
    int32_t riffDataLength_ = kUnknownLength;
    int32_t id3v1Position_ = 0;
    int32_t lyricsStart_ = 0;
    int32_t apeStart_ = 0;
    TMP3InfoValues riffValues_;
    TMP3InfoValues id3v1Values_;
    TMP3InfoValues id3v2Values_;
    TMP3InfoValues lyricsValues_;
    TMP3InfoValues apeValues_;
    TReplayGain rva2Gain_;
    bool wantPicture_ = false;
    TTagPicture picture_;
    TMP3InfoType needInfoType_ = mitID3V1 | mitID3V2 | mitRiff | mitApe;
};

} // namespace pelbrisk
