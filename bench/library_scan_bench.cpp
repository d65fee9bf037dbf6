// How long the window takes to scan a large folder tree, and to fill its play list from a folder
// of many tagged MP3 files, both with the file system's cache warm; and the longest time its
// thread went without turning its event loop meanwhile (a 1 ms timer ticks in that loop).
//
//   build/bench/library_scan_bench [folders] [files]     (defaults 5000 and 1000)
//
// It measures the window itself, so it needs the desktop program's build (PELBRISK_APP); a
// build without it gets a program that says so.
#if __has_include(<QApplication>)
#include "app/MainForm.h"

#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// An ID3v2.3 text frame with a Latin-1 value.
std::string TextFrame(const std::string& id, const std::string& text) {
    const uint32_t size = static_cast<uint32_t>(text.size() + 1);
    std::string frame = id;
    for (int shift = 24; shift >= 0; shift -= 8)
        frame += static_cast<char>((size >> shift) & 0xFF);
    frame += std::string(2, '\0') + '\0' + text;
    return frame;
}

// An ID3v2.3 tag, ten silent MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz) and an ID3v1 tag:
// everything the tag readers look at, and nothing more.
std::string TaggedMp3(int number) {
    const std::string title = "Song number " + std::to_string(number);
    const std::string frames = TextFrame("TIT2", title) + TextFrame("TPE1", "Bench Artist") +
                               TextFrame("TALB", "Bench Album");
    const uint32_t size = static_cast<uint32_t>(frames.size());
    std::string file = std::string("ID3\x03\x00\x00", 6);
    for (int shift = 21; shift >= 0; shift -= 7)
        file += static_cast<char>((size >> shift) & 0x7F);
    file += frames;
    for (int frame = 0; frame < 10; ++frame) {
        std::string audio(417, '\0');
        audio[0] = '\xFF';
        audio[1] = '\xFB';
        audio[2] = '\x90';
        audio[3] = '\x64';
        file += audio;
    }
    std::string v1(128, '\0');
    v1.replace(0, 3, "TAG");
    v1.replace(3, title.size(), title);
    v1.replace(33, 12, "Bench Artist");
    v1.replace(63, 11, "Bench Album");
    return file + v1;
}

// `folders` folders in all: artists holding 99 albums each.
void MakeFolderTree(const fs::path& root, int folders) {
    int made = 0;
    for (int artist = 0; made < folders; ++artist) {
        const fs::path artistPath = root / ("Artist " + std::to_string(artist));
        fs::create_directories(artistPath);
        ++made;
        for (int album = 0; album < 99 && made < folders; ++album, ++made)
            fs::create_directory(artistPath / ("Album " + std::to_string(album)));
    }
}

struct TRunTimes {
    double Total = 0;
    double LongestWait = 0;
};

// Starts the work from the event loop and turns the loop until the window is idle again.
template <typename Work>
TRunTimes TimeInEventLoop(pelbrisk::TMainForm& form, Work&& work) {
    TRunTimes times;
    auto last = Clock::now();
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        times.LongestWait = std::max(times.LongestWait, ms(now - last));
        last = now;
    });
    bool started = false;
    const auto start = Clock::now();
    QTimer::singleShot(0, [&] {
        last = Clock::now();
        work();
        started = true;
    });
    ticker.start();
    while (!started || form.LibraryJobs().Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto end = Clock::now();
    times.LongestWait = std::max(times.LongestWait, ms(end - last));
    times.Total = ms(end - start);
    return times;
}

struct TSummary {
    double Median, Low, High;
};

TSummary Summarise(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

template <typename Work>
void Report(const char* name, int runs, pelbrisk::TMainForm& form, Work&& work) {
    std::vector<double> totals, waits;
    for (int run = 0; run < runs; ++run) {
        const TRunTimes times = TimeInEventLoop(form, work);
        totals.push_back(times.Total);
        waits.push_back(times.LongestWait);
    }
    const TSummary total = Summarise(totals);
    const TSummary wait = Summarise(waits);
    std::printf("%s: done in %.1f ms (%.1f..%.1f); longest wait of the window's thread %.1f ms "
                "(%.1f..%.1f); median (range) of %d\n",
                name, total.Median, total.Low, total.High, wait.Median, wait.Low, wait.High, runs);
}

} // namespace

int main(int argc, char* argv[]) {
    const int folders = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int files = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    char pattern[] = "/tmp/pelbrisk-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path work = pattern;
    MakeFolderTree(work / "tree", folders);
    fs::create_directories(work / "songs");
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%04d track.mp3", i + 1);
        std::ofstream(work / "songs" / name, std::ios::binary) << TaggedMp3(i + 1);
    }

    {
        std::ofstream(work / "pelbrisk.ini") << "root = " << (work / "tree").string() << "\t\n";
        pelbrisk::TMainForm form(QString::fromStdString((work / "pelbrisk.ini").string()));
        form.show();
        TimeInEventLoop(form, [&] { form.Library().BuildTree(); }); // warms the cache
        int nodes = 0;
        for (QTreeWidgetItemIterator it(form.DirTree); *it; ++it)
            ++nodes;
        std::printf("tree:  %d folders (%d nodes with the root)\n", folders, nodes);
        Report("scan", 7, form, [&] { form.Library().ReloadTree(); });

        form.Library().AddRoot(pelbrisk::TFilePath(work.string()));
        TimeInEventLoop(form, [&] { form.Library().BuildTree(); });
        QTreeWidgetItem* songs = nullptr;
        for (QTreeWidgetItemIterator it(form.DirTree); *it; ++it)
            if ((*it)->text(0) == "songs") songs = *it;
        form.DirTree->setCurrentItem(songs);
        TimeInEventLoop(form, [&] {
            form.PlayList().Fill(form.Library().SelectedFolder(), false, false);
        }); // warms the cache
        std::printf("list:  %d tagged files; first %s\n", form.PlayFileList->count(),
                    form.PlayFileList->item(0)->text().toUtf8().constData());
        Report("fill", 7, form,
               [&] { form.PlayList().Fill(form.Library().SelectedFolder(), false, false); });
    }
    fs::remove_all(work);
    return 0;
}

#else
#include <cstdio>

int main() {
    std::puts("library_scan_bench: this build has no desktop program (PELBRISK_APP is OFF)");
    return 0;
}
#endif
