#include "app/Playback.h"

#include "app/AudioFileInfo.h"
#include "app/PlayList.h"
#include "app/PositionText.h"
#include "platform/AudioDevice.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidgetItem>
#include <QPointer>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace pelbrisk {

namespace {
constexpr int kVolumeStep = 10;
constexpr int kNormalPitch = 100;
} // namespace

TPlayback::TPlayback(TMP3Player& player, TPlayList& list, TControls controls)
    : player_(player), list_(list), controls_(controls),
      ownPlayer_(player, list,
                 {.Notice = [this](const QString& text) { emit Notice(text); },
                  .Stopped = [this] { ShowWhatPlays(); }}),
      otherPlayers_(list, [this] { ReportErrors([this] { player_.Stop(); }); }) {
    player_.OnChangeStatus = [this](void*) { MP3PlayerChangeStatus(); };
    player_.OnChangePosition = [this](void*) { MP3PlayerChangePosition(); };
    player_.OnEndPlay = [this](void*, TMP3EndPlayReason reason) { MP3PlayerEndPlay(reason); };
    player_.OnNextSong = [this](void*) { MP3PlayerNextSong(); };
    connect(&list_, &TPlayList::PlayRequested, this, &TPlayback::PlaySelected);
    // A refill replaces what plays.
    connect(&list_, &TPlayList::AboutToRefill, this, [this] {
        if (player_.Status() != mpsStopped) ReportErrors([this] { player_.Stop(); });
    });
    // The entry that waits to be played may have changed.
    connect(&list_, &TPlayList::Changed, this, &TPlayback::ShowWhatPlays);
    connect(&otherPlayers_, &TOtherPlayers::Answered, this, [this] {
        if (SendMode()) ShowPauseState();
    });
    connect(&otherPlayers_, &TOtherPlayers::Notice, this, &TPlayback::Notice);
    connect(&otherPlayers_, &TOtherPlayers::StateRead, this, [this] {
        if (SendMode()) ShowTarget();
    });
    ConnectBar(controls_.PitchBar, &TPlayback::PitchBarScroll);
    ConnectBar(controls_.PosBar, &TPlayback::PosBarScroll);
    ConnectBar(controls_.VolBar, &TPlayback::VolBarScroll);
}

void TPlayback::UseAudioDeviceOfEnvironment() {
    const QPointer<TPlayback> self(this);
    SetAudioNoticeDisplay([self](const std::string& text) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, text] {
                if (self) emit self->Notice(QString::fromStdString(text));
            },
            Qt::QueuedConnection);
    });
    if (const std::optional<int32_t> device = AudioDeviceFromEnvironment())
        player_.SetDeviceID(*device);
    else
        emit Notice("PELBRISK_AUDIO names no sound device (null, default or a number): "
                    "playing on the default device");
}

void TPlayback::ConnectBar(QScrollBar& bar, void (TPlayback::*scroll)(TScrollCode, int)) {
    // The slider's position has moved when an action is announced; its value follows after.
    connect(&bar, &QAbstractSlider::actionTriggered, this, [this, &bar, scroll](int action) {
        if (action == QAbstractSlider::SliderNoAction) return;
        if (action == QAbstractSlider::SliderMove && bar.isSliderDown())
            (this->*scroll)(scrTrack, bar.sliderPosition());
        else
            (this->*scroll)(scrEndScroll, bar.sliderPosition());
    });
    connect(&bar, &QAbstractSlider::sliderReleased, this,
            [this, &bar, scroll] { (this->*scroll)(scrEndScroll, bar.sliderPosition()); });
}

bool TPlayback::SendMode() const {
    return controls_.SendListBtn.isChecked();
}

IPlayTarget& TPlayback::Target() {
    if (SendMode()) return otherPlayers_;
    return ownPlayer_;
}

void TPlayback::ShowPauseState() {
    controls_.PauseBtn.setChecked(Target().Paused());
}

// The pause, the song's caption and its position, of the target the buttons act on.
void TPlayback::ShowTarget() {
    ShowPauseState();
    ShowPosition();
    ShowWhatPlays();
}

void TPlayback::ShowWhatPlays() {
    const TWhatPlays now = Target().WhatPlays();
    QString caption;
    if (now.State != TWhatPlays::TState::Nothing) {
        if (now.File.IsEmpty()) {
            caption = now.Title;
        } else {
            if (now.File != captionFile_) {
                captionFile_ = now.File;
                captionText_ = SongCaption(now.File);
            }
            caption = captionText_;
        }
    }
    const bool paused = now.State == TWhatPlays::TState::Paused;
    if (caption == nowPlaying_ && paused == nowPaused_) return;
    nowPlaying_ = caption;
    nowPaused_ = paused;
    emit NowPlayingChanged(nowPlaying_, nowPaused_);
}

// ---- Transport ---------------------------------------------------------------------------

void TPlayback::PlayBtnClick() {
    Target().Play();
    ShowPauseState();
}

void TPlayback::StopBtnClick() {
    Target().Stop();
    ShowPauseState();
}

void TPlayback::PauseBtnClick() {
    Target().Pause();
    ShowPauseState();
}

void TPlayback::PrevBtnClick() {
    Target().Prev();
}

void TPlayback::NextBtnClick() {
    Target().Next();
}

void TPlayback::PlayOrStart() {
    if (SendMode() || SongOpen()) {
        PlayBtnClick();
        return;
    }
    if (!list_.SelectedEntry()) list_.SelectNext();
    PlaySelected();
}

void TPlayback::StepKeepingState(bool forward) {
    const TMP3PlayerStatus status = player_.Status();
    if (SendMode() || status == mpsPlaying) {
        if (forward)
            NextBtnClick();
        else
            PrevBtnClick();
        return;
    }
    QListWidgetItem* entry = forward ? list_.StepForward() : list_.StepBack();
    if (entry)
        ownPlayer_.Cue(*entry, status == mpsPaused);
    else if (status == mpsPaused)
        StopBtnClick();
}

void TPlayback::Restore(const std::vector<TFilePath>& files, const TFilePath& song, int positionMs,
                        bool resume) {
    if (files.empty()) return;
    list_.FillWith(files, SendMode(), [this, song, positionMs, resume] {
        QListWidgetItem* entry = song.IsEmpty() ? nullptr : list_.EntryOf(song);
        if (!entry) return;
        list_.SelectRow(list_.Row(*entry));
        if (SendMode()) return;
        ownPlayer_.CueAt(*entry, positionMs);
        if (resume) ownPlayer_.Play();
        ShowPosition();
    });
}

bool TPlayback::SongOpen() const {
    return player_.Commands() & CommandBit(mpcClose);
}

void TPlayback::PlayPauseClick() {
    if (player_.Status() == mpsStopped && !SendMode())
        PlayBtnClick();
    else
        PauseBtnClick();
}

void TPlayback::UpVolumeClick() {
    controls_.VolBar.setValue(controls_.VolBar.value() + kVolumeStep);
    VolBarScroll(scrEndScroll, controls_.VolBar.value());
}

void TPlayback::DownVolumeClick() {
    controls_.VolBar.setValue(controls_.VolBar.value() - kVolumeStep);
    VolBarScroll(scrEndScroll, controls_.VolBar.value());
}

void TPlayback::SetVolumePercent(int percent) {
    controls_.VolBar.setValue(percent);
    VolBarScroll(scrEndScroll, controls_.VolBar.value());
}

int TPlayback::VolumePercent() const {
    return controls_.VolBar.value();
}

// ---- Choosing what plays -------------------------------------------------------------------

void TPlayback::PlaySelected() {
    if (QListWidgetItem* entry = list_.SelectedEntry()) Target().PlayEntry(*entry);
}

void TPlayback::OpenFolder(const TFilePath& folder, bool recursive) {
    list_.Fill(folder, recursive, SendMode(), [this] {
        if (!SendMode()) PlaySelected();
    });
}

void TPlayback::OpenFiles(std::vector<TFilePath> files) {
    list_.FillWith(files, SendMode(), [this] {
        if (!SendMode()) PlaySelected();
    });
}

void TPlayback::PlayFileOfFolder(const TFilePath& folder, const TFilePath& file,
                                 std::function<void()> shown) {
    list_.Fill(folder, false, SendMode(), [this, file, shown] {
        if (QListWidgetItem* entry = list_.EntryOf(file)) {
            list_.SelectRow(list_.Row(*entry));
            PlaySelected();
        }
        if (shown) shown();
    });
}

void TPlayback::SendModeChanged() {
    otherPlayers_.Watch(SendMode());
    ShowTarget();
}

// ---- Bars --------------------------------------------------------------------------------

void TPlayback::PosBarScroll(TScrollCode code, int position) {
    if (code == scrTrack) {
        seekTracking_ = true;
        // The time follows the drag, so that the user sees where the song will go on.
        controls_.PosTime.setText(PositionText(position, controls_.PosBar.maximum()));
    } else if (code == scrEndScroll) {
        seekTracking_ = false;
        // The other players' songs are shown, not sought in.
        if (!SendMode() && SeekTo(position)) emit Seeked();
    }
}

void TPlayback::SeekBy(int deltaMs) {
    if (SendMode()) return;
    const qint64 target =
        std::clamp<qint64>(qint64{player_.Position()} + deltaMs, 0, player_.Duration());
    if (SeekTo(target)) emit Seeked();
}

int TPlayback::PositionMs() const {
    return static_cast<int>(ownPlayer_.PositionMs());
}

bool TPlayback::SeekTo(std::int64_t positionMs) {
    if (positionMs < 0 || positionMs > INT32_MAX) return false;
    if (!SendMode() && ownPlayer_.MoveCued(static_cast<int>(positionMs))) {
        ShowPosition();
        return true;
    }
    // Without an open stream there is nothing to seek in.
    if (!(player_.Commands() & CommandBit(mpcSeek))) return false;
    const auto target = static_cast<int32_t>(positionMs);
    if (target == player_.Position()) return false;
    ReportErrors([&] { player_.Seek(target); });
    return true;
}

void TPlayback::VolBarScroll(TScrollCode code, int position) {
    if (code != scrEndScroll) return;
    Target().SetVolume(position);
    emit StateChanged();
}

void TPlayback::PitchBarScroll(TScrollCode code, int position) {
    if (code == scrEndScroll) SetPitch(position);
}

void TPlayback::PitClick() {
    MovePitchBar(kNormalPitch);
}

void TPlayback::MovePitchBar(int percent) {
    controls_.PitchBar.setValue(percent);
    SetPitch(controls_.PitchBar.value());
}

void TPlayback::SetPitch(int percent) {
    controls_.PitchValue.setText(QString::number(percent) + '%');
    const TMP3PlayerStatus status = player_.Status();
    const int32_t position = player_.Position();
    ReportErrors([&] {
        if (status != mpsStopped) player_.Stop();
        PitchPercent = percent;
        if (status == mpsStopped) return;
        player_.Play();
        player_.Seek(position);
        if (status == mpsPaused) player_.Pause();
    });
    emit StateChanged();
}

// ---- Player events -----------------------------------------------------------------------

void TPlayback::MP3PlayerChangeStatus() {
    emit StateChanged();
    ShowPauseState();
    ShowWhatPlays();
    if (player_.Status() == mpsPlaying) HandNextEntry();
}

void TPlayback::MP3PlayerChangePosition() {
    ShowPosition();
}

void TPlayback::ShowPosition() {
    if (seekTracking_) return;
    const IPlayTarget& target = Target();
    const std::int64_t position = target.PositionMs();
    const std::int64_t length = target.LengthMs();
    controls_.PosBar.setMaximum(static_cast<int>(std::clamp<std::int64_t>(length, 0, INT_MAX)));
    controls_.PosBar.setValue(static_cast<int>(std::clamp<std::int64_t>(position, 0, INT_MAX)));
    const QString time = PositionText(position, length);
    controls_.PosTime.setText(time);
    controls_.PosBar.setToolTip("Seek " + time);
}

void TPlayback::HandNextEntry() {
    // While a song plays out behind the one handed over to, the list's current entry is not the
    // open file; what follows that file is handed once it is heard.
    const int current = list_.CurrentIndex();
    const QListWidgetItem* entry = current >= 0 ? list_.Entry(current) : nullptr;
    if (!entry || list_.EntryPath(*entry).StdString() != player_.FileName()) return;
    const QListWidgetItem* next = list_.NextEntry();
    player_.SetNextFileNames({next ? list_.EntryPath(*next).StdString() : std::string()});
}

// The entry handed over is the list's next one, unless the list changed meanwhile: then the
// list's next entry is played as at the end of a song.
void TPlayback::MP3PlayerNextSong() {
    QListWidgetItem* entry = list_.SelectNext();
    if (!entry || list_.EntryPath(*entry).StdString() != player_.FileName()) {
        if (entry && player_.Status() != mpsStopped) PlaySelected();
        return;
    }
    list_.MakeCurrent(*entry);
    HandNextEntry();
    // Heard as the play ended: the end of play that follows goes on from this entry.
    if (player_.Status() == mpsStopped) return;
    ShowWhatPlays();
    emit StateChanged();
}

void TPlayback::MP3PlayerEndPlay(TMP3EndPlayReason reason) {
    if (reason != merSuccessful) return;
    if (list_.Count() > 0 && list_.SelectNext()) PlaySelected();
    ShowWhatPlays();
}

} // namespace pelbrisk
