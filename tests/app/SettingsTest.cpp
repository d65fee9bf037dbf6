#include "app/Settings.h"

#include "platform/SettingsLocation.h"
#include "tests/support/Paths.h"

#include <QFile>
#include <QScopeGuard>
#include <climits>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <utility>
#include <vector>

namespace pelbrisk {
namespace {

QString ToQ(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

std::vector<TFilePath> Paths(std::initializer_list<const char*> paths) {
    std::vector<TFilePath> list;
    for (const char* path : paths)
        list.emplace_back(QByteArray(path));
    return list;
}

TEST(ShortCutText, WritesModifiersInFixedOrderBeforeTheKeyName) {
    EXPECT_EQ(ShortCutToText(kDefaultShowHotKey), "Shift+Ctrl+K");
    EXPECT_EQ(ShortCutToText(0x8044), "Alt+D");
    EXPECT_EQ(ShortCutToText(0xE02E), "Shift+Ctrl+Alt+Del");
    EXPECT_EQ(ShortCutToText(0x4033), "Ctrl+3");
    EXPECT_EQ(ShortCutToText(0x70), "F1");
    EXPECT_EQ(ShortCutToText(0x7B), "F12");
    EXPECT_EQ(ShortCutToText(0x08), "BkSp");
    EXPECT_EQ(ShortCutToText(0x2D), "Ins");
    EXPECT_EQ(ShortCutToText(0x22), "PgDn");
}

TEST(ShortCutText, ValuesWithoutAKeyNameGiveAnEmptyText) {
    EXPECT_EQ(ShortCutToText(0), "");
    EXPECT_EQ(ShortCutToText(scCtrl), "");
    EXPECT_EQ(ShortCutToText(0x7C), ""); // F13 has no name in the table
    EXPECT_EQ(ShortCutToText(0x61), ""); // a lower-case letter code is no key
}

TEST(ShortCutText, ReadsPrefixesInAnyOrderAndCase) {
    EXPECT_EQ(TextToShortCut("Ctrl+Shift+K"), kDefaultShowHotKey);
    EXPECT_EQ(TextToShortCut("shift+ctrl+k"), kDefaultShowHotKey);
    EXPECT_EQ(TextToShortCut("^K"), 0x404B);
    EXPECT_EQ(TextToShortCut("alt+^shift+del"), 0xE02E);
    EXPECT_EQ(TextToShortCut("f12"), 0x7B);
    EXPECT_EQ(TextToShortCut("pgup"), 0x21);
    EXPECT_EQ(TextToShortCut("Space"), 0x20);
}

TEST(ShortCutText, TextThatNamesNoKeyGivesZero) {
    EXPECT_EQ(TextToShortCut(""), 0);
    EXPECT_EQ(TextToShortCut("Ctrl+"), 0);
    EXPECT_EQ(TextToShortCut("Ctrl+Shift"), 0);
    EXPECT_EQ(TextToShortCut("Ctrl+KK"), 0);
    EXPECT_EQ(TextToShortCut("F13"), 0);
    EXPECT_EQ(TextToShortCut("Meta+K"), 0);
    EXPECT_EQ(TextToShortCut(" Ctrl+K"), 0);
}

TEST(ShortCutText, EveryNamedKeyRoundTripsWithEveryModifier) {
    int named = 0;
    for (int key = 0; key <= 0xFF; ++key) {
        for (TShortCut modifiers : {0, 0x2000, 0x4000, 0x8000, 0xE000}) {
            const auto value = static_cast<TShortCut>(modifiers | key);
            const QString text = ShortCutToText(value);
            if (text.isEmpty()) continue;
            ++named;
            EXPECT_EQ(TextToShortCut(text), value) << text.toStdString();
        }
    }
    // 26 letters, 10 digits, 12 function keys and 15 named keys, each with 5 modifier sets.
    EXPECT_EQ(named, (26 + 10 + 12 + 15) * 5);
}

TEST(SettingsText, NoLinesLeaveTheDefaults) {
    TFormSettings settings;
    ApplySettingsText(settings, "");
    EXPECT_EQ(settings.WindowLeft, 0);
    EXPECT_EQ(settings.WindowTop, 0);
    EXPECT_EQ(settings.WindowWidth, 300);
    EXPECT_EQ(settings.WindowHeight, 300);
    EXPECT_EQ(settings.WindowAlpha, 255);
    EXPECT_FALSE(settings.Transparent());
    EXPECT_EQ(settings.ShowHotKey, 0x604B);
    EXPECT_EQ(settings.VolumeUpHotKey, 0);
    EXPECT_EQ(settings.VolumeDownHotKey, 0);
    EXPECT_FALSE(settings.RepeatAll);
    EXPECT_FALSE(settings.Random);
    EXPECT_FALSE(settings.SendList);
    EXPECT_EQ(settings.Volume, 100);
    EXPECT_TRUE(settings.Roots.empty());
    EXPECT_EQ(settings.FileListWidth, 0) << "half of the window";
    EXPECT_TRUE(settings.Font.isEmpty()) << "the desktop's";
    EXPECT_FALSE(settings.WindowSized);
    EXPECT_FALSE(settings.Resume);
}

TEST(SettingsText, ReadsEveryKey) {
    TFormSettings settings;
    ApplySettingsText(settings, "window_left = 12\n"
                                "window_top = 34\n"
                                "window_width = 456\n"
                                "window_height = 321\n"
                                "window_alpha = 200\n"
                                "hotkey = Alt+P\n"
                                "hotkey_volume_up = Ctrl+Up\n"
                                "hotkey_volume_down = Ctrl+Down\n"
                                "repeat_all = -1\n"
                                "random = 1\n"
                                "volume = 30\n"
                                "root = /music/a\t/music/b\t\n"
                                "filelist_width = 210\n"
                                "sendlist = -1\n"
                                "tag_code_page = Shift_JIS\n");
    EXPECT_EQ(settings.WindowLeft, 12);
    EXPECT_EQ(settings.WindowTop, 34);
    EXPECT_EQ(settings.WindowWidth, 456);
    EXPECT_EQ(settings.WindowHeight, 321);
    EXPECT_EQ(settings.WindowAlpha, 200);
    EXPECT_TRUE(settings.Transparent());
    EXPECT_EQ(settings.ShowHotKey, 0x8050);
    EXPECT_EQ(settings.VolumeUpHotKey, 0x4026);
    EXPECT_EQ(settings.VolumeDownHotKey, 0x4028);
    EXPECT_TRUE(settings.RepeatAll);
    EXPECT_TRUE(settings.Random);
    EXPECT_EQ(settings.Volume, 30);
    EXPECT_EQ(settings.Roots, Paths({"/music/a", "/music/b"}));
    EXPECT_EQ(settings.FileListWidth, 210);
    EXPECT_TRUE(settings.SendList);
    EXPECT_EQ(settings.TagCodePage, "Shift_JIS");
}

TEST(SettingsText, UnparsableNumbersTakeTheirFallbacks) {
    TFormSettings settings;
    settings.WindowLeft = 5;
    settings.WindowTop = 5;
    ApplySettingsText(settings, "window_left = x\nwindow_top = 1.5\nwindow_width = wide\n"
                                "window_height =\nwindow_alpha = opaque\nvolume = loud\n"
                                "filelist_width = 99999999999\n");
    EXPECT_EQ(settings.WindowLeft, 0);
    EXPECT_EQ(settings.WindowTop, 0);
    EXPECT_EQ(settings.WindowWidth, 100);
    EXPECT_EQ(settings.WindowHeight, 100);
    EXPECT_EQ(settings.WindowAlpha, 255);
    EXPECT_EQ(settings.Volume, 100);
    EXPECT_EQ(settings.FileListWidth, 100);
}

TEST(SettingsText, OpacityStaysWithinOneTo255SoTheWindowNeverVanishes) {
    const std::vector<std::pair<const char*, int>> cases{
        {"256", 255}, {"511", 255}, {"0", 1}, {"-1", 1}, {"128", 128}, {"255", 255}, {"x", 255}};
    for (const auto& [text, alpha] : cases) {
        TFormSettings settings;
        ApplySettingsText(settings, QString("window_alpha = ") + text);
        EXPECT_EQ(settings.WindowAlpha, alpha) << text;
        EXPECT_EQ(settings.Transparent(), alpha < 255) << text;
    }
}

TEST(SettingsText, BooleansAcceptNumbersAndWordsAndOtherwiseStayAsTheyWere) {
    TFormSettings settings;
    ApplySettingsText(settings, "repeat_all = yes");
    EXPECT_FALSE(settings.RepeatAll);
    ApplySettingsText(settings, "repeat_all = 2");
    EXPECT_TRUE(settings.RepeatAll);
    ApplySettingsText(settings, "repeat_all = no");
    EXPECT_TRUE(settings.RepeatAll);
    ApplySettingsText(settings, "repeat_all = FALSE");
    EXPECT_FALSE(settings.RepeatAll);
    ApplySettingsText(settings, "random = tRuE\nsendlist = -7");
    EXPECT_TRUE(settings.Random);
    EXPECT_TRUE(settings.SendList);
    ApplySettingsText(settings, "random = 0\nsendlist = \n");
    EXPECT_FALSE(settings.Random);
    EXPECT_TRUE(settings.SendList);
}

TEST(SettingsText, VolumeOutsideItsRangeKeepsThePlayersVolume) {
    TFormSettings settings;
    ApplySettingsText(settings, "volume = 30\nvolume = 101\nvolume = -1");
    EXPECT_EQ(settings.Volume, 30);
    ApplySettingsText(settings, "volume = 0");
    EXPECT_EQ(settings.Volume, 0);
}

TEST(SettingsText, KeysIgnoreCaseAndBlanksAndControlsAroundKeysAndValues) {
    TFormSettings settings;
    ApplySettingsText(settings, "  Window_Left\t=\t-10  \r\nWINDOW_TOP=7\r\n\tVolume =  55\t\r\n");
    EXPECT_EQ(settings.WindowLeft, -10);
    EXPECT_EQ(settings.WindowTop, 7);
    EXPECT_EQ(settings.Volume, 55);
}

TEST(SettingsText, SplitsAtTheFirstEqualsSign) {
    TFormSettings settings;
    ApplySettingsText(settings, "root = /music/a=b\t");
    EXPECT_EQ(settings.Roots, Paths({"/music/a=b"}));
}

TEST(SettingsText, IgnoresUnknownKeysAndLinesWithoutEquals) {
    TFormSettings settings;
    ApplySettingsText(settings, "[pelbrisk]\nwindow_left 50\ncolour = red\n= 4\nwindow_top = 9");
    EXPECT_EQ(settings.WindowLeft, 0);
    EXPECT_EQ(settings.WindowTop, 9);
}

TEST(SettingsText, TheLaterOfTwoLinesWins) {
    TFormSettings settings;
    ApplySettingsText(settings,
                      "window_width = 400\nwindow_width = 500\nhotkey = Alt+A\nhotkey = xyz");
    EXPECT_EQ(settings.WindowWidth, 500);
    EXPECT_EQ(settings.ShowHotKey, 0);
}

TEST(SettingsText, EveryRootLineAddsItsFoldersInFileOrderSkippingEmptyFields) {
    TFormSettings settings;
    ApplySettingsText(settings, "root = /z/Rock\t/a/Jazz\t\nroot = /m/Pop\nroot =\nroot = \t\n"
                                "root = /with space/x\t\t/after-empty\t");
    EXPECT_EQ(settings.Roots,
              Paths({"/z/Rock", "/a/Jazz", "/m/Pop", "/with space/x", "/after-empty"}));
}

TEST(SettingsText, EmptyHotKeyMeansNoneAndIsWrittenBackEmpty) {
    TFormSettings settings;
    ApplySettingsText(settings, "hotkey =");
    EXPECT_EQ(settings.ShowHotKey, 0);
    EXPECT_TRUE(SettingsText(settings).contains("\nhotkey = \n"));
}

TEST(SettingsText, WritesEveryLineInItsOrder) {
    TFormSettings settings;
    settings.WindowLeft = -3;
    settings.WindowAlpha = 128;
    settings.VolumeDownHotKey = 0x4028;
    settings.RepeatAll = true;
    settings.Volume = 30;
    settings.Roots = Paths({"/music/Jazz/", "/"});
    settings.SendList = true;
    settings.FileListWidth = 155;
    settings.Song = TFilePath(QByteArray("/music/Jazz/01 x.mp3"));
    settings.PositionMs = 6000;
    settings.ReplayGain = TReplayGainChoice::Off;
    settings.ReplayGainPreamp = 2.5;
    EXPECT_EQ(SettingsText(settings), "window_left = -3\n"
                                      "window_top = 0\n"
                                      "window_width = 300\n"
                                      "window_height = 300\n"
                                      "window_alpha = 128\n"
                                      "hotkey = Shift+Ctrl+K\n"
                                      "hotkey_volume_up = \n"
                                      "hotkey_volume_down = Ctrl+Down\n"
                                      "repeat_all = -1\n"
                                      "random = 0\n"
                                      "volume = 30\n"
                                      "root = /music/Jazz/\t/\t\n"
                                      "filelist_width = 155\n"
                                      "sendlist = -1\n"
                                      "tag_code_page = \n"
                                      "font = \n"
                                      "folder = \n"
                                      "song = /music/Jazz/01 x.mp3\n"
                                      "position = 6000\n"
                                      "resume = 0\n"
                                      "replay_gain = off\n"
                                      "replay_gain_preamp = 2.5\n"
                                      "replay_gain_preamp_untagged = 0\n"
                                      "replay_gain_prevent_clipping = -1\n"
                                      "cover_art = -1\n");
}

TEST(SettingsText, ReplayGainLines) {
    struct Case {
        const char* text;
        TReplayGainChoice choice;
        double preamp, untagged;
        bool preventClipping;
    };
    using enum TReplayGainChoice;
    const Case cases[] = {
        {"", Auto, 0, 0, true},
        {"replay_gain = ALBUM\nreplay_gain_preamp = -3.5\n", Album, -3.5, 0, true},
        {"replay_gain = track\nreplay_gain = loud\n", Track, 0, 0, true},
        {"replay_gain_preamp_untagged = -6\nreplay_gain_prevent_clipping = 0\n", Auto, 0, -6,
         false},
        {"replay_gain_preamp = 99\nreplay_gain_preamp_untagged = x\n", Auto, 0, 0, true},
    };
    for (const Case& c : cases) {
        TFormSettings settings;
        ApplySettingsText(settings, c.text);
        EXPECT_EQ(settings.ReplayGain, c.choice) << c.text;
        EXPECT_EQ(settings.ReplayGainPreamp, c.preamp) << c.text;
        EXPECT_EQ(settings.ReplayGainUntaggedPreamp, c.untagged) << c.text;
        EXPECT_EQ(settings.ReplayGainPreventClipping, c.preventClipping) << c.text;
    }
}

TEST(SettingsText, WrittenTextReadsBackToTheSameSettings) {
    TFormSettings written;
    written.WindowLeft = 700;
    written.WindowTop = -40;
    written.WindowWidth = 640;
    written.WindowHeight = 480;
    written.WindowAlpha = 1;
    written.ShowHotKey = 0x8044;
    written.VolumeUpHotKey = 0xE070;
    written.Random = true;
    written.Volume = 0;
    written.Roots = Paths({"/a b/c", "/日本語/音楽"});
    written.FileListWidth = 321;
    written.TagCodePage = "windows-1251";
    TFormSettings read;
    ApplySettingsText(read, SettingsText(written));
    EXPECT_EQ(SettingsText(read), SettingsText(written));
    EXPECT_EQ(read.Roots, written.Roots);
}

// A folder name may hold anything but "/" and the zero byte; written in the file it must neither
// split into several roots nor set another key.
TEST(SettingsText, EveryRootReadsBackByteForByte) {
    TFormSettings written;
    written.Roots = Paths({"/x\nvolume = 3", "/tab\there", " /lead", "/trail ", "\"/quoted\"",
                           "/back\\slash \"q\"", "/Caf\xE9", "/\xFF\xFE", "/日本語/音楽 ",
                           "/cr\r\x01", "/plain"});
    TFormSettings read;
    ApplySettingsText(read, SettingsText(written));
    EXPECT_EQ(read.Roots, written.Roots);
    EXPECT_EQ(read.Volume, 100) << "no root sets a key";
    // What needs no escape stands in the file as it always did, backslashes and all.
    TFormSettings plain;
    plain.Roots = Paths({"/music/a b/c\\d", "/日本語"});
    EXPECT_TRUE(SettingsText(plain).contains("root = /music/a b/c\\d\t/日本語\t\n"));
}

// A pelbrisk.ini already beside the program (a portable install) is used; a program folder that
// is merely writable (~/.local/bin, anything for root) is not, and the user's config folder is.
TEST(SettingsFile, BesideTheProgramOnlyWhenOneIsThereElseTheConfigFolder) {
    test::TempDir folder;
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray oldHome = qgetenv("HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_CONFIG_HOME", oldConfig);
        qputenv("HOME", oldHome);
    });
    const std::string portable = (folder / "portable").string();
    std::filesystem::create_directory(portable);
    std::ofstream(portable + "/pelbrisk.ini") << "volume = 1\n";
    struct TCase {
        std::string ProgramFolder;
        const char* ConfigHome;
        std::string Expected;
    };
    const TCase cases[] = {
        {portable, "/config/home", portable + "/pelbrisk.ini"},
        {folder.Path().string(), "/config/home", "/config/home/pelbrisk/pelbrisk.ini"},
        {"", "/config/home", "/config/home/pelbrisk/pelbrisk.ini"},
        {folder.Path().string(), "", "/home/someone/.config/pelbrisk/pelbrisk.ini"},
        {folder.Path().string(), "relative/config", "/home/someone/.config/pelbrisk/pelbrisk.ini"},
    };
    qputenv("HOME", "/home/someone");
    for (const TCase& c : cases) {
        qputenv("XDG_CONFIG_HOME", c.ConfigHome);
        EXPECT_EQ(SettingsFilePath(c.ProgramFolder), c.Expected) << c.ProgramFolder;
    }
}

TEST(SettingsFile, SavesIntoAFolderItMakesAndReadsBack) {
    test::TempDir folder;
    const QString path = ToQ(folder / "config" / "pelbrisk" / "pelbrisk.ini");
    TFormSettings written;
    written.Volume = 42;
    written.Roots = Paths({"/x"});
    QString error;
    ASSERT_TRUE(SaveSettingsFile(path, written, &error)) << error.toStdString();
    TFormSettings read;
    ASSERT_TRUE(LoadSettingsFile(path, read));
    EXPECT_EQ(read.Volume, 42);
    EXPECT_EQ(read.Roots, Paths({"/x"}));

    written.Roots.clear();
    ASSERT_TRUE(SaveSettingsFile(path, written, &error));
    TFormSettings replaced;
    ASSERT_TRUE(LoadSettingsFile(path, replaced));
    EXPECT_TRUE(replaced.Roots.empty()) << "the file is replaced as a whole";
}

TEST(SettingsFile, MissingFileLeavesTheSettingsAlone) {
    test::TempDir folder;
    TFormSettings settings;
    settings.Volume = 7;
    EXPECT_FALSE(LoadSettingsFile(ToQ(folder / "none.ini"), settings));
    EXPECT_EQ(settings.Volume, 7);
}

TEST(SettingsFile, ReportsAFileThatCannotBeWritten) {
    test::TempDir folder;
    std::filesystem::create_directory(folder / "taken.ini");
    QString error;
    EXPECT_FALSE(SaveSettingsFile(ToQ(folder / "taken.ini"), TFormSettings(), &error));
    EXPECT_TRUE(error.contains("taken.ini"));
}

TEST(ScreenFit, NegativeEdgesCountFromTheFarSide) {
    EXPECT_EQ(FitToScreen(QRect(-10, 20, 300, 200), QSize(1024, 768)), QRect(714, 20, 300, 200));
    EXPECT_EQ(FitToScreen(QRect(5, -1, 300, 200), QSize(1024, 768)), QRect(5, 567, 300, 200));
}

TEST(ScreenFit, EdgesBeyondTheScreenComeBackToZero) {
    EXPECT_EQ(FitToScreen(QRect(1025, 769, 300, 200), QSize(1024, 768)), QRect(0, 0, 300, 200));
    EXPECT_EQ(FitToScreen(QRect(1024, 768, 300, 200), QSize(1024, 768)),
              QRect(1024, 768, 300, 200));
    // A negative edge larger than the screen lands beyond the left edge and stays there.
    EXPECT_EQ(FitToScreen(QRect(-2000, 0, 300, 200), QSize(1024, 768)), QRect(-1276, 0, 300, 200));
    // The most negative edge a file can hold stays the most negative one.
    const QRect far =
        FitToScreen(QRect(QPoint(INT_MIN, INT_MIN), QSize(32767, 32767)), QSize(1024, 768));
    EXPECT_EQ(far.topLeft(), QPoint(INT_MIN, INT_MIN));
}

} // namespace
} // namespace pelbrisk

namespace pelbrisk {
namespace {

// Whatever a damaged or hand-edited file holds, the values stay within what the window can use.
TEST(SettingsText, GarbageKeepsEveryValueInRange) {
    std::mt19937 random(20050228);
    const QStringList keys{"window_alpha", "volume", "hotkey", "root", "random", "x"};
    for (int round = 0; round < 2000; ++round) {
        QString text;
        const int lines = static_cast<int>(random() % 6);
        for (int line = 0; line < lines; ++line) {
            text += keys[static_cast<int>(random() % keys.size())];
            QByteArray bytes;
            for (int i = static_cast<int>(random() % 24); i > 0; --i)
                bytes += static_cast<char>(random() % 256);
            text += (random() % 2 ? " = " : "") + QString::fromLatin1(bytes) + '\n';
        }
        TFormSettings settings;
        ApplySettingsText(settings, text);
        ASSERT_GE(settings.WindowAlpha, 0);
        ASSERT_LE(settings.WindowAlpha, 255);
        ASSERT_GE(settings.Volume, 0);
        ASSERT_LE(settings.Volume, 100);
        for (const TFilePath& root : settings.Roots)
            ASSERT_FALSE(root.IsEmpty());
        // A short-cut read from any text writes back as a text that reads the same.
        ASSERT_EQ(TextToShortCut(ShortCutToText(settings.ShowHotKey)), settings.ShowHotKey);
    }
}

} // namespace
} // namespace pelbrisk
