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

namespace pelbrisk {

namespace {
constexpr int kVolumeStep = 10;
constexpr int kNormalPitch = 100;
} // namespace

TPlayback::TPlayback(TMP3Player& player, TPlayList& list, TControls controls)
    : player_(player), list_(list), controls_(controls),
      ownPlayer_(player, list,
                 {.Notice = [this](const QString& text) { emit Notice(text); },
                  .Stopped = [this] { NothingPlays(); }}),
      otherPlayers_(list, [this] { ReportErrors([this] { player_.Stop(); }); }) {
    player_.OnChangeStatus = [this](void*) { MP3PlayerChangeStatus(); };
    player_.OnChangePosition = [this](void*) { MP3PlayerChangePosition(); };
    player_.OnEndPlay = [this](void*, TMP3EndPlayReason reason) { MP3PlayerEndPlay(reason); };
    connect(&list_, &TPlayList::PlayRequested, this, &TPlayback::PlaySelected);
    // A refill replaces what plays.
    connect(&list_, &TPlayList::AboutToRefill, this, [this] {
        if (player_.Status() != mpsStopped) ReportErrors([this] { player_.Stop(); });
    });
    connect(&otherPlayers_, &TOtherPlayers::Answered, this, [this](bool accepted) {
        if (SendMode()) ShowPauseState();
        if (!accepted) emit Notice("No MPRIS player took the command (is one running?)");
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

void TPlayback::NothingPlays() {
    nowPlaying_.clear();
    emit NowPlayingChanged(nowPlaying_);
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
    QListWidgetItem* entry = forward ? list_.SelectNext() : list_.SelectPrev();
    if (entry)
        ownPlayer_.Cue(*entry, status == mpsPaused);
    else if (status == mpsPaused)
        StopBtnClick();
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
    list_.FillWithFiles(std::move(files), [this] {
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
    ShowPauseState();
}

// ---- Bars --------------------------------------------------------------------------------

void TPlayback::PosBarScroll(TScrollCode code, int position) {
    if (code == scrTrack) {
        seekTracking_ = true;
    } else if (code == scrEndScroll) {
        seekTracking_ = false;
        if (SeekTo(position)) emit Seeked();
    }
}

void TPlayback::SeekBy(int deltaMs) {
    if (SendMode()) return;
    const qint64 target =
        std::clamp<qint64>(qint64{player_.Position()} + deltaMs, 0, player_.Duration());
    if (SeekTo(target)) emit Seeked();
}

bool TPlayback::SeekTo(std::int64_t positionMs) {
    // Without an open stream there is nothing to seek in.
    if (positionMs < 0 || positionMs > INT32_MAX || !(player_.Commands() & CommandBit(mpcSeek)))
        return false;
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
    if (player_.Status() != mpsPlaying) return;
    const int current = list_.CurrentIndex();
    const QListWidgetItem* entry = current >= 0 ? list_.Entry(current) : nullptr;
    if (!entry) return;
    nowPlaying_ = ItemLongCaption(entry);
    emit NowPlayingChanged(nowPlaying_);
}

void TPlayback::MP3PlayerChangePosition() {
    if (seekTracking_) return;
    controls_.PosBar.setMaximum(player_.Duration());
    controls_.PosBar.setValue(player_.Position());
    const QString time = PositionText(player_.Position(), player_.Duration());
    controls_.PosTime.setText(time);
    controls_.PosBar.setToolTip("Seek " + time);
}

void TPlayback::MP3PlayerEndPlay(TMP3EndPlayReason reason) {
    if (reason != merSuccessful) return;
    if (list_.Count() > 0 && list_.SelectNext())
        PlaySelected();
    else
        NothingPlays();
}

} // namespace pelbrisk
