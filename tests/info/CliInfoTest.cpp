#include "tests/info/TagBytes.h"
#include "tests/support/Media.h"
#include "tests/support/Paths.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace pelbrisk {
namespace {

std::filesystem::path CliProgram() {
    return test::BinaryDir() / "cli" / "pelbrisk-cli";
}

struct CliRun {
    std::string Out;
    std::string Err;
    int Status = -1;
};

CliRun RunCli(const std::string& arguments, const test::TempDir& dir) {
    const std::string command = "'" + CliProgram().string() + "' " + arguments + " 2>'" +
                                (dir / "stderr").string() + "'; echo \"status=$?\"";
    CliRun run;
    run.Out = test::RunTool(command);
    const size_t status = run.Out.rfind("status=");
    run.Status = std::stoi(run.Out.substr(status + 7));
    run.Out.erase(status);
    const auto err = test::ReadFileBytes(dir / "stderr");
    run.Err.assign(err.begin(), err.end());
    return run;
}

#define REQUIRE_CLI()                                                                              \
    if (!std::filesystem::exists(CliProgram())) GTEST_SKIP() << "pelbrisk-cli is not built"

TEST(CliInfo, JsonDescribesEachFileAndNamesTheOnesThatAreNotMpegAudio) {
    REQUIRE_CLI();
    test::TempDir dir;
    const auto vbr = test::EncodeWithLame(test::MakeSignalWav(2, 22050, 1),
                                          "-V 4 --add-id3v2 --tt 'Cli Title' --ta 'Cli Artist'");
    test::WriteFileBytes(dir / "noise.mp3", std::vector<uint8_t>(5000, 0x33));
    const CliRun run = RunCli(
        "info --json --frames '" + vbr.string() + "' '" + (dir / "noise.mp3").string() + "'", dir);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err,
              "pelbrisk-cli: " + (dir / "noise.mp3").string() + ": unknown MPEG Audio format.\n");
    // Several files make one array with an element for each, a file that failed too.
    const auto shown = nlohmann::json::parse(run.Out);
    ASSERT_TRUE(shown.is_array());
    ASSERT_EQ(shown.size(), 2u);
    const nlohmann::json failed = {{"file", (dir / "noise.mp3").string()},
                                   {"error", "unknown MPEG Audio format."}};
    EXPECT_EQ(shown[1], failed);
    EXPECT_EQ(nlohmann::json::parse(
                  RunCli("info --json '" + (dir / "noise.mp3").string() + "'", dir).Out),
              failed);
    const auto& json = shown[0];
    EXPECT_EQ(json["file"], vbr.string());
    EXPECT_EQ(json["tags"], nlohmann::json::array({"ID3v2", "ID3v1"}));
    EXPECT_EQ(json["firstFrame"]["version"], "MPEG-2");
    EXPECT_EQ(json["firstFrame"]["layer"], 3);
    EXPECT_EQ(json["firstFrame"]["sampleRate"], 22050);
    EXPECT_EQ(json["firstFrame"]["mode"], "single channel");
    EXPECT_EQ(json["infoFrame"]["kind"], "Xing");
    // lame counts the audio frames alone, its information frame left out.
    EXPECT_EQ(json["infoFrame"]["frames"].get<int>(), json["audioFrames"].get<int>());
    const int frames = json["audioFrames"];
    const int song = frames * 576 - json["infoFrame"]["delay"].get<int>() -
                     json["infoFrame"]["padding"].get<int>();
    EXPECT_NEAR(json["durationMs"].get<int>(), song * 1000 / 22050, 1);
    EXPECT_EQ(json["title"], "Cli Title");
    EXPECT_EQ(json["artist"], "Cli Artist");
    EXPECT_EQ(json["audioStart"].get<int>(), json["firstFrame"]["offset"].get<int>() +
                                                 json["firstFrame"]["frameLength"].get<int>());
    EXPECT_TRUE(
        nlohmann::json::parse(RunCli("info --json '" + vbr.string() + "'", dir).Out).is_object())
        << "one file stays one object";
}

TEST(CliInfo, TextShowsTagLinesAndFallsBackToTheFileName) {
    REQUIRE_CLI();
    test::TempDir dir;
    test::Bytes file = test::Mpeg1Frames(4);
    test::Append(file, test::Id3v1Tag("", "Text Artist", "", 13));
    test::WriteFileBytes(dir / "plain.mp3", file);
    const CliRun run = RunCli("info '" + (dir / "plain.mp3").string() + "'", dir);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "");
    EXPECT_NE(run.Out.find("MPEG-1 Layer III, 44100 Hz, joint stereo, 128 kbit/s, 417 bytes at 0"),
              std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("title:         plain.mp3"), std::string::npos);
    EXPECT_NE(run.Out.find("ID3v1    GENRE=Pop"), std::string::npos);
    EXPECT_NE(run.Out.find("duration:      112 ms (0:00.112), from the bit rate"),
              std::string::npos)
        << "(4 x 417 + 128) bytes at 128 kbit/s";

    // lame's constant-bit-rate file: its Info frame and LAME tag time the song alone.
    const auto cbr = test::EncodeWithLame(test::MakeSignalWav(8.0, 44100, 2), "-b 128");
    const CliRun lame = RunCli("info '" + cbr.string() + "'", dir);
    EXPECT_NE(lame.Out.find("info frame:    Info, "), std::string::npos) << lame.Out;
    EXPECT_NE(lame.Out.find("delay 576"), std::string::npos) << lame.Out;
    EXPECT_NE(lame.Out.find("duration:      8000 ms (0:08.000), from the Info frame and its LAME "
                            "tag"),
              std::string::npos)
        << lame.Out;

    const CliRun usage = RunCli("info", dir);
    EXPECT_EQ(usage.Status, 2);
    EXPECT_EQ(RunCli("bogus", dir).Status, 2);
}

// A tag's control characters (ESC [2J, which clears the screen, a C1 CSI, a bell) never reach
// the terminal from info or from play's status line, which takes the title from the stream's own
// tag on standard input too; nor do those of a file's name from an error that quotes it.
TEST(CliInfo, TagTextReachesTheTerminalWithoutControlCharacters) {
    REQUIRE_CLI();
    test::TempDir dir;
    test::Bytes file = test::Id3v2Tag(test::Latin1TextFrame("TIT2", "A\x1b[2J\x9b\x07Z"));
    test::Append(file, test::Mpeg1Frames(8));
    const std::string path = (dir / "tagged.mp3").string();
    test::WriteFileBytes(path, file);
    const std::string missing = (dir / "A\x1b[2J\x9b\x07Z.mp3").string();
    const std::pair<std::string, int> runs[] = {
        {"info '" + path + "'", 0},
        {"play --device null '" + path + "' </dev/null", 0},
        {"play --device null - <'" + path + "'", 0},
        {"decode '" + missing + "' -o '" + (dir / "out.wav").string() + "'", 1}};
    for (const auto& [arguments, status] : runs) {
        const CliRun run = RunCli(arguments, dir);
        EXPECT_EQ(run.Status, status) << arguments;
        const std::string all = run.Out + run.Err;
        EXPECT_NE(all.find("A\uFFFD[2J\uFFFD\uFFFDZ"), std::string::npos)
            << arguments << ": " << all;
        EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](char c) {
            return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7F;
        })) << all;
        EXPECT_EQ(all.find("\xC2\x9B"), std::string::npos) << all;
    }
}

TEST(CliInfo, NamesTheId3v2VersionRead) {
    REQUIRE_CLI();
    test::TempDir dir;
    const test::Bytes title{0, 'T', 'i'};
    const std::pair<int, test::Bytes> tags[] = {
        {2, test::Id3v2Tag(test::Id3v22Frame("TT2", title), 2)},
        {3, test::Id3v2Tag(test::Id3v2Frame("TIT2", title), 3)},
        {4, test::Id3v2Tag(test::Id3v24Frame("TIT2", title), 4)}};
    for (const auto& [version, tag] : tags) {
        test::Bytes file = tag;
        test::Append(file, test::Mpeg1Frames(4));
        const std::string path = (dir / "tagged.mp3").string();
        test::WriteFileBytes(path, file);
        const std::string name = "2." + std::to_string(version);
        const CliRun text = RunCli("info '" + path + "'", dir);
        EXPECT_NE(text.Out.find("tags:          ID3v" + name + "\n"), std::string::npos)
            << text.Out;
        EXPECT_EQ(
            nlohmann::json::parse(RunCli("info --json '" + path + "'", dir).Out)["id3v2Version"],
            name);
    }
}

// Tags with no audio behind them are shown, and the file still fails.
TEST(CliInfo, TagsWithoutAudioAreShownAndTheFileFails) {
    REQUIRE_CLI();
    test::TempDir dir;
    test::Bytes file = test::Id3v2Tag(test::Latin1TextFrame("TIT2", "Only Tags"));
    test::Append(file, test::Id3v1Tag("Old", "", "", 0));
    test::WriteFileBytes(dir / "tags.mp3", file);
    const std::string path = (dir / "tags.mp3").string();
    const CliRun text = RunCli("info '" + path + "'", dir);
    EXPECT_EQ(text.Status, 1);
    EXPECT_EQ(text.Out, path + "\n  tags:          ID3v2.3, ID3v1\n  audio data:    none found\n"
                               "  title:         Only Tags\n  artist:        \n"
                               "  album:         \n  ID3v2    TIT2=Only Tags\n"
                               "  ID3v1    TITLE=Old\n  ID3v1    ARTIST=\n  ID3v1    ALBUM=\n"
                               "  ID3v1    YEAR=2004\n  ID3v1    COMMENT=a comment\n"
                               "  ID3v1    GENRE=Blues\n  ID3v1    GENREIDX=0\n"
                               "  ID3v1    TRACK=0\n");
    EXPECT_EQ(text.Err, "pelbrisk-cli: " + path + ": unknown MPEG Audio format.\n");
    const CliRun json = RunCli("info --json '" + path + "'", dir);
    EXPECT_EQ(json.Status, 1);
    const auto object = nlohmann::json::parse(json.Out);
    EXPECT_EQ(object["error"], "unknown MPEG Audio format.");
    EXPECT_EQ(object["title"], "Only Tags");
    EXPECT_FALSE(object.contains("firstFrame"));
}

// The settings file's tag_code_page, found as the window finds its own (one beside the program,
// else the user's config folder), and --tag-code-page for one run over it.
TEST(CliInfo, TagCodePageComesFromTheSettingsFileOrTheOption) {
    REQUIRE_CLI();
    test::TempDir dir;
    test::Bytes file = test::Mpeg1Frames(3);
    test::Append(file, test::Id3v1Tag("\xCC\xF3\xE7\xFB\xEA\xE0", "", "", 0));
    test::WriteFileBytes(dir / "song.mp3", file);
    const std::string song = "'" + (dir / "song.mp3").string() + "'";
    // A copy of the program whose folder holds a settings file.
    std::filesystem::copy_file(CliProgram(), dir / "pelbrisk-cli");
    const test::Bytes settings({'t', 'a', 'g', '_', 'c', 'o', 'd', 'e', '_', 'p', 'a', 'g',
                                'e', ' ', '=', ' ', 'c', 'p', '1', '2', '5', '1', '\n'});
    test::WriteFileBytes(dir / "pelbrisk.ini", settings);
    std::filesystem::create_directories(dir / "config" / "pelbrisk");
    test::WriteFileBytes(dir / "config" / "pelbrisk" / "pelbrisk.ini", settings);
    // The user's own settings play no part, but where a case names the test's config folder.
    const std::string none = "XDG_CONFIG_HOME=" + (dir / "none").string() + " ";
    const std::string config = "XDG_CONFIG_HOME=" + (dir / "config").string() + " ";
    struct Case {
        std::string Command;
        std::string Title;
        int Status;
    };
    const Case cases[] = {
        {none + CliProgram().string() + " info " + song,
         "\xC3\x8C\xC3\xB3\xC3\xA7\xC3\xBB\xC3\xAA\xC3\xA0", 0},
        {config + CliProgram().string() + " info " + song,
         "\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0", 0},
        {none + (dir / "pelbrisk-cli").string() + " info " + song,
         "\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0", 0},
        {none + CliProgram().string() + " info --tag-code-page windows-1251 " + song,
         "\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0", 0},
        {none + CliProgram().string() + " info --tag-code-page nonesuch " + song, "", 2},
    };
    for (const Case& c : cases) {
        const std::string out = test::RunTool(c.Command + " 2>/dev/null; echo \"status=$?\"");
        EXPECT_NE(out.find("status=" + std::to_string(c.Status)), std::string::npos) << c.Command;
        if (c.Status == 0) {
            EXPECT_NE(out.find("title:         " + c.Title + "\n"), std::string::npos) << out;
        }
    }
}

} // namespace
} // namespace pelbrisk
