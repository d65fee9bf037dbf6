#include "app/OwnPlayer.h"

#include "app/AudioFileInfo.h"
#include "app/PlayList.h"
#include "engine/MP3Player.h"

#include <QListWidgetItem>
#include <set>

namespace pelbrisk {

void ReportErrors(const std::function<void()>& operation) {
    try {
        operation();
    } catch (...) {
        ShowApplicationException(std::current_exception());
    }
}

TOwnPlayer::TOwnPlayer(TMP3Player& player, TPlayList& list, THooks hooks)
    : player_(player), list_(list), hooks_(std::move(hooks)) {}

void TOwnPlayer::Play() {
    ReportErrors([this] {
        if (player_.Status() == mpsPaused)
            player_.Resume();
        else
            player_.Play();
    });
}

void TOwnPlayer::Stop() {
    ReportErrors([this] { player_.Stop(); });
    hooks_.Stopped();
}

void TOwnPlayer::Pause() {
    ReportErrors([this] {
        if (player_.Status() == mpsPaused)
            player_.Resume();
        else if (player_.Status() == mpsPlaying)
            player_.Pause();
    });
}

void TOwnPlayer::Next() {
    list_.SelectNext();
    PlaySelected();
}

void TOwnPlayer::Prev() {
    list_.SelectPrev();
    PlaySelected();
}

void TOwnPlayer::PlaySelected() {
    if (QListWidgetItem* entry = list_.SelectedEntry()) PlayEntry(*entry);
}

void TOwnPlayer::SetVolume(int percent) {
    player_.SetVolume(percent);
}

bool TOwnPlayer::Paused() const {
    return player_.Status() == mpsPaused;
}

QString TOwnPlayer::Title() const {
    const int current = list_.CurrentIndex();
    const QListWidgetItem* entry = current >= 0 ? list_.Entry(current) : nullptr;
    if (player_.Status() == mpsStopped || entry == nullptr) return {};
    return ItemLongCaption(entry);
}

std::int64_t TOwnPlayer::PositionMs() const {
    return player_.Position();
}

std::int64_t TOwnPlayer::LengthMs() const {
    return player_.Duration();
}

void TOwnPlayer::PlayEntry(QListWidgetItem& chosen) {
    // A file that cannot be played is named and passed over for the next entry by the same
    // rules as at the end of a song, until every entry has failed once.
    std::set<int> failed;
    for (const QListWidgetItem* entry = &chosen; entry != nullptr;) {
        list_.MakeCurrent(*entry);
        const TFilePath path = list_.EntryPath(*entry);
        const QString failure = OpenFile(path, true);
        if (failure.isEmpty()) return;
        NoticeFailure(path, failure);
        failed.insert(list_.Row(*entry));
        if (static_cast<int>(failed.size()) >= list_.Count()) break;
        entry = list_.SelectNextUntried(failed);
    }
    hooks_.Stopped();
}

void TOwnPlayer::Cue(QListWidgetItem& entry, bool paused) {
    list_.MakeCurrent(entry);
    const TFilePath path = list_.EntryPath(entry);
    const QString failure = OpenFile(path, paused);
    if (!failure.isEmpty())
        NoticeFailure(path, failure);
    else if (paused)
        ReportErrors([this] { player_.Pause(); });
}

void TOwnPlayer::NoticeFailure(const TFilePath& path, const QString& failure) {
    hooks_.Notice(DisplayName(path.FileName()) + ": " + failure);
}

QString TOwnPlayer::OpenFile(const TFilePath& path, bool play) {
    try {
        player_.Stop();
        // Closed first, so that after a failure an open stream can only be this file's.
        player_.Close();
        player_.SetFileName(path.StdString());
        if (play) player_.Play();
        return {};
    } catch (...) {
        if (player_.Commands() & CommandBit(mpcClose)) {
            ShowApplicationException(std::current_exception());
            return {};
        }
        return QString::fromLocal8Bit(ExceptionText(std::current_exception()));
    }
}

} // namespace pelbrisk
