#include "cli/CommandLine.h"
#include "cli/TerminalText.h"
#include "info/StreamProbe.h"
#include "info/TextConversion.h"
#include "stream/Errors.h"
#include "stream/Stream.h"

#include <cstdio>
#include <memory>
#include <string>

namespace pelbrisk::cli {

namespace {

struct TInfoOptions {
    bool Json = false;
    bool WalkFrames = false;
    // Several files in JSON make one array, one object per element.
    bool JsonArray = false;
    int Shown = 0;
};

constexpr TKnownOption kInfoOptions[] = {{"--json"}, {"--frames"}, {"--tag-code-page", true}};

const char* const kModeNames[] = {"stereo", "joint stereo", "dual channel", "single channel"};

const char* VbrKindName(TMP3VbrHeaderKind kind) {
    switch (kind) {
    case TMP3VbrHeaderKind::Xing:
        return "Xing";
    case TMP3VbrHeaderKind::Info:
        return "Info";
    case TMP3VbrHeaderKind::Vbri:
        return "VBRI";
    default:
        return "none";
    }
}

// `id3v2Version` above 0 names the version read ("ID3v2.4").
std::string TagKinds(TMP3InfoType types, const char* separator, int id3v2Version = 0) {
    static constexpr std::pair<TMP3InfoType, const char*> kNames[] = {
        {mitMacBin, "MacBinary"}, {mitRiff, "RIFF"},      {mitID3V2, "ID3v2"},
        {mitID3V1, "ID3v1"},      {mitLyrics, "Lyrics3"}, {mitApe, "APE"}};
    std::string text;
    for (const auto& [type, name] : kNames) {
        if ((types & type) == 0) continue;
        if (!text.empty()) text += separator;
        text += name;
        if (type == mitID3V2 && id3v2Version > 0) text += "." + std::to_string(id3v2Version);
    }
    return text;
}

// Where the duration comes from, for the reader to judge it.
std::string DurationSource(const TMP3StreamProbe& probe) {
    // A LAME tag may time a song of no samples.
    const bool lameTag = probe.Values.Gapless.Begin > 0;
    if (probe.Values.TotalBytes > 0 || lameTag) {
        std::string source = std::string("the ") + VbrKindName(probe.VbrHeader.Kind) + " frame";
        if (lameTag) source += " and its LAME tag";
        return source;
    }
    if (probe.Duration > 0) return "the bit rate";
    return "nothing: unknown";
}

std::string VersionName(int32_t version) {
    return version == 3 ? "MPEG-2.5" : "MPEG-" + std::to_string(version);
}

std::string LayerName(int32_t layer) {
    static const char* const kRoman[] = {"", "I", "II", "III"};
    return std::string("Layer ") + kRoman[layer];
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Tags carry bytes of any code page; JSON must be UTF-8, so bytes that do not form UTF-8 become
// U+FFFD.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    size_t at = 0;
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const size_t length = Utf8SequenceLength(text, at);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += char(byte);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else if (length == 0) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(text, at, length);
        }
        at += length == 0 ? 1 : length;
    }
    return out + "\"";
}

std::string JsonLines(const TMP3InfoValues& lines) {
    std::string out = "[";
    for (size_t i = 0; i < lines.size(); ++i)
        out += (i ? "," : "") + JsonString(lines[i]);
    return out + "]";
}

std::string GainValueText(const TGainValue& value) {
    if (!value.Known) return "none";
    std::string text = GainText(value.Gain);
    if (value.Peak > 0) text += ", peak " + PeakText(value.Peak);
    return text;
}

std::string GainValueJson(const TGainValue& value) {
    if (!value.Known) return "null";
    return "{\"gain\":" + std::to_string(value.Gain) +
           ",\"peak\":" + (value.Peak > 0 ? std::to_string(value.Peak) : "null") + "}";
}

struct TFileReport {
    std::string Path;
    TMP3Info Info;
    TMP3StreamProbe Probe;
    TReplayGain Gain() const { return FirstKnownGain({Info.ReplayGain(), Probe.VbrHeader.Gain}); }
    bool Seekable = true;
    bool Audio = true; // false for a file of tags without MPEG audio behind them
};

std::string Title(const TFileReport& report) {
    const std::string title = report.Info.Title();
    return title.empty() ? BaseName(report.Path) : title;
}

void PrintTagValues(const TFileReport& report) {
    const TMP3Info& info = report.Info;
    std::printf("  title:         %s\n", TerminalText(Title(report)).c_str());
    std::printf("  artist:        %s\n", TerminalText(info.Artist()).c_str());
    std::printf("  album:         %s\n", TerminalText(info.Album()).c_str());
    const std::pair<const char*, const TMP3InfoValues*> lists[] = {
        {"ID3v2", &info.ID3v2Values()},
        {"ID3v1", &info.ID3v1Values()},
        {"RIFF", &info.RiffValues()},
        {"Lyrics3", &info.LyricsValues()},
        {"APE", &info.ApeValues()}};
    for (const auto& [name, lines] : lists)
        for (const std::string& line : *lines)
            std::printf("  %-8s %s\n", name, TerminalText(line).c_str());
}

void PrintText(const TFileReport& report, bool walked) {
    const TMP3Info& info = report.Info;
    const TMP3StreamProbe& probe = report.Probe;
    const std::string kinds = TagKinds(info.FoundTypes(), ", ", info.ID3v2Version());
    std::printf("%s\n", TerminalText(report.Path).c_str());
    std::printf("  tags:          %s\n", kinds.empty() ? "none" : kinds.c_str());
    if (!report.Audio) {
        std::printf("  audio data:    none found\n");
        PrintTagValues(report);
        return;
    }
    if (probe.Values.DataLength == TMP3Info::kUnknownLength)
        std::printf("  audio data:    from %d, length unknown\n", probe.Values.DataStart);
    else
        std::printf("  audio data:    from %d, %d bytes\n", probe.Values.DataStart,
                    probe.Values.DataLength);
    std::printf("  first frame:   %s %s, %d Hz, %s, %d kbit/s, %d bytes at %d\n",
                VersionName(probe.Format.MpegVersion).c_str(),
                LayerName(probe.Format.LayerNumber).c_str(), probe.Format.SampleRate,
                kModeNames[probe.Values.Header.Mode], probe.FirstFrameBitrate / 1000,
                probe.FirstFrameLength, probe.FirstFrameOffset);
    if (probe.VbrHeader.Kind == TMP3VbrHeaderKind::None)
        std::printf("  info frame:    none\n");
    else
        std::printf("  info frame:    %s, %d frames, %d bytes\n", VbrKindName(probe.VbrHeader.Kind),
                    probe.VbrHeader.Frames, probe.VbrHeader.Bytes);
    if (probe.VbrHeader.EncoderDelay >= 0)
        std::printf("  LAME tag:      %s, delay %d, padding %d samples\n",
                    TerminalText(probe.VbrHeader.Encoder).c_str(), probe.VbrHeader.EncoderDelay,
                    probe.VbrHeader.EncoderPadding);
    if (const TReplayGain gain = report.Gain(); gain.Known()) {
        std::printf("  track gain:    %s\n", GainValueText(gain.Track).c_str());
        std::printf("  album gain:    %s\n", GainValueText(gain.Album).c_str());
    }
    if (walked) std::printf("  audio frames:  %d\n", probe.WalkedFrames);
    std::printf("  duration:      %d ms (%d:%02d.%03d), from %s\n", probe.Duration,
                probe.Duration / 60000, probe.Duration / 1000 % 60, probe.Duration % 1000,
                DurationSource(probe).c_str());
    PrintTagValues(report);
}

std::string LameTagJson(const TMP3VbrHeader& header) {
    if (header.EncoderDelay < 0) return ",\"encoder\":null,\"delay\":null,\"padding\":null";
    return ",\"encoder\":" + JsonString(header.Encoder) +
           ",\"delay\":" + std::to_string(header.EncoderDelay) +
           ",\"padding\":" + std::to_string(header.EncoderPadding);
}

std::string TagValuesJson(const TFileReport& report) {
    const TMP3Info& info = report.Info;
    std::string out = ",\"title\":" + JsonString(Title(report));
    out += ",\"artist\":" + JsonString(info.Artist());
    out += ",\"album\":" + JsonString(info.Album());
    out += ",\"id3v2\":" + JsonLines(info.ID3v2Values());
    out += ",\"id3v1\":" + JsonLines(info.ID3v1Values());
    out += ",\"riff\":" + JsonLines(info.RiffValues());
    out += ",\"lyrics3\":" + JsonLines(info.LyricsValues());
    out += ",\"ape\":" + JsonLines(info.ApeValues());
    return out;
}

void PrintJson(const TFileReport& report, bool walked) {
    const TMP3Info& info = report.Info;
    const TMP3StreamProbe& probe = report.Probe;
    std::string out = "{\"file\":" + JsonString(report.Path);
    out += ",\"tags\":[";
    const std::string kinds = TagKinds(info.FoundTypes(), "\",\"");
    if (!kinds.empty()) out += "\"" + kinds + "\"";
    out += "],\"id3v2Version\":";
    out +=
        info.ID3v2Version() > 0 ? JsonString("2." + std::to_string(info.ID3v2Version())) : "null";
    if (!report.Audio) {
        std::printf("%s,\"error\":%s%s}\n", out.c_str(), JsonString(kUnknownFormatText).c_str(),
                    TagValuesJson(report).c_str());
        return;
    }
    out += ",\"audioStart\":" + std::to_string(probe.Values.DataStart);
    out += ",\"audioLength\":";
    out += probe.Values.DataLength == TMP3Info::kUnknownLength
               ? "null"
               : std::to_string(probe.Values.DataLength);
    out += ",\"firstFrame\":{\"offset\":" + std::to_string(probe.FirstFrameOffset) +
           ",\"version\":" + JsonString(VersionName(probe.Format.MpegVersion)) +
           ",\"layer\":" + std::to_string(probe.Format.LayerNumber) +
           ",\"sampleRate\":" + std::to_string(probe.Format.SampleRate) +
           ",\"mode\":" + JsonString(kModeNames[probe.Values.Header.Mode]) +
           ",\"channels\":" + std::to_string(probe.Format.Channels) +
           ",\"bitrate\":" + std::to_string(probe.FirstFrameBitrate) +
           ",\"frameLength\":" + std::to_string(probe.FirstFrameLength) + "}";
    out += ",\"infoFrame\":";
    if (probe.VbrHeader.Kind == TMP3VbrHeaderKind::None)
        out += "null";
    else
        out += "{\"kind\":" + JsonString(VbrKindName(probe.VbrHeader.Kind)) +
               ",\"frames\":" + std::to_string(probe.VbrHeader.Frames) +
               ",\"bytes\":" + std::to_string(probe.VbrHeader.Bytes) +
               LameTagJson(probe.VbrHeader) + "}";
    if (walked) out += ",\"audioFrames\":" + std::to_string(probe.WalkedFrames);
    out += ",\"durationMs\":" + std::to_string(probe.Duration);
    const TReplayGain gain = report.Gain();
    out += ",\"replayGain\":{\"track\":" + GainValueJson(gain.Track) +
           ",\"album\":" + GainValueJson(gain.Album) + "}";
    out += TagValuesJson(report);
    std::printf("%s}\n", out.c_str());
}

void StartJsonElement(TInfoOptions& options) {
    if (options.JsonArray && options.Shown > 0) std::printf(",");
    ++options.Shown;
}

// False (with the reason on standard error) when the file cannot be read or is not MPEG audio.
bool ShowFile(const std::string& path, TInfoOptions& options) {
    auto report = std::make_unique<TFileReport>();
    report->Path = path;
    try {
        std::unique_ptr<TMPStream> stream;
        if (path == "-") {
            stream = std::make_unique<TMPPipeStream>(0, false);
            report->Seekable = false;
        } else {
            stream = std::make_unique<TMPFileStream>(path);
        }
        TMPStreamReader reader(TMP3Info::kFileReaderCapacity);
        reader.Attach(stream.get(), report->Seekable);
        report->Audio = ProbeStream(reader, report->Info, report->Probe, options.WalkFrames);
        report->Info.AttachReader(nullptr);
        // Tags with no audio behind them are still shown; the file stays a failure.
        if (!report->Audio && report->Info.FoundTypes() == 0) throw EMP3Error(kUnknownFormatText);
    } catch (const EMP3Error& error) {
        std::fflush(stdout);
        PrintError(path + ": " + error.what());
        // Whoever reads the JSON learns of the file too, in its place among the others.
        if (options.Json) {
            StartJsonElement(options);
            std::printf("{\"file\":%s,\"error\":%s}\n", JsonString(path).c_str(),
                        JsonString(error.what()).c_str());
        }
        return false;
    }
    if (options.Json) {
        StartJsonElement(options);
        PrintJson(*report, options.WalkFrames);
    } else {
        PrintText(*report, options.WalkFrames);
    }
    if (report->Audio) return true;
    std::fflush(stdout);
    PrintError(path + ": " + kUnknownFormatText);
    return false;
}

} // namespace

int RunInfo(const TArguments& arguments) {
    TCommandLine line;
    if (const auto status = ParseCommandLine(arguments, kInfoOptions, kInfoUsage, line))
        return *status;
    const std::vector<std::string>& files = line.Operands;
    if (files.empty()) return UsageError(kInfoUsage);
    TInfoOptions options;
    options.Json = line.Has("--json");
    options.WalkFrames = line.Has("--frames");
    // For this run, over the settings file's.
    if (const auto codePage = line.Value("--tag-code-page");
        codePage && !SetTagCodePage(*codePage)) {
        std::fprintf(stderr, "pelbrisk-cli info: no code page \"%s\"\n",
                     TerminalText(*codePage).c_str());
        return 2;
    }
    options.JsonArray = options.Json && files.size() > 1;
    if (options.JsonArray) std::printf("[\n");
    int status = 0;
    for (const std::string& file : files)
        if (!ShowFile(file, options)) status = 1;
    if (options.JsonArray) std::printf("]\n");
    return status;
}

} // namespace pelbrisk::cli
