#pragma once

#include "app/FilePath.h"
#include "app/OtherPlayers.h"
#include "app/OwnPlayer.h"
#include "engine/MP3Player.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class QAbstractButton;
class QLabel;
class QScrollBar;

namespace pelbrisk {

class TPlayList;

// What a scroll bar reports to its handler: the thumb is being dragged, a scroll action has
// ended (a click, a page step, a released drag, a wheel turn), or anything else.
enum TScrollCode { scrTrack, scrEndScroll, scrOther };

// How far a seek key moves, and the position bar's page step.
inline constexpr int kSeekStepMs = 5000;

// Playback: the transport buttons and their short-cuts, the position, volume and pitch bars,
// opening a folder to play it, and what follows the end of a song. The buttons and the volume act
// on one play target: pelbrisk's own player, or the other players while the send toggle is down.
class TPlayback : public QObject {
    Q_OBJECT

public:
    struct TControls {
        QAbstractButton& PauseBtn;
        QAbstractButton& SendListBtn;
        QScrollBar& PosBar;
        QLabel& PosTime;
        QScrollBar& VolBar;
        QScrollBar& PitchBar;
        QLabel& PitchValue;
    };

    TPlayback(TMP3Player& player, TPlayList& list, TControls controls);

    // Plays on the device PELBRISK_AUDIO names; what is wrong with it is told as a notice.
    void UseAudioDeviceOfEnvironment();

    IPlayTarget& Target();
    TOtherPlayers& OtherPlayers() { return otherPlayers_; }
    bool SendMode() const;

    void PlayBtnClick();
    void StopBtnClick();
    void PauseBtnClick();
    void PrevBtnClick();
    void NextBtnClick();
    void UpVolumeClick();
    void DownVolumeClick();
    // The tray's item: starts a stopped player, else pauses or resumes.
    void PlayPauseClick();
    // Play, and with no song open the play list's selected entry (or its first).
    void PlayOrStart();
    // To the next or previous entry; a paused or stopped player stays paused or stopped (the
    // entry waits to be played), and a paused one without a next entry stops.
    void StepKeepingState(bool forward);
    // Where the user was: `files` into the play list, `song` current and waiting at `positionMs`
    // (with `resume` playing from there).
    void Restore(const std::vector<TFilePath>& files, const TFilePath& song, int positionMs,
                 bool resume);

    void PlaySelected();
    // Lists the folder into the play list and plays its first entry (in send mode only lists).
    void OpenFolder(const TFilePath& folder, bool recursive);
    // Makes `files` the play list and plays the first (in send mode only lists them).
    void OpenFiles(std::vector<TFilePath> files);
    // Lists the folder and plays `file` once it shows; `shown` runs then.
    void PlayFileOfFolder(const TFilePath& folder, const TFilePath& file,
                          std::function<void()> shown = {});
    // The send toggle changed: the buttons act on the other target from now on.
    void SendModeChanged();

    void PosBarScroll(TScrollCode code, int position);
    void VolBarScroll(TScrollCode code, int position);
    void PitchBarScroll(TScrollCode code, int position);
    void PitClick();
    void SetPitch(int percent);
    // Moves the pitch bar, and so the pitch.
    void MovePitchBar(int percent);
    bool SeekTracking() const { return seekTracking_; }
    // Moves the playing position by `deltaMs` (negative: back), within the song.
    void SeekBy(int deltaMs);
    // False when the position did not move (nothing to seek in, or there already). A song that
    // waits to be played starts there.
    bool SeekTo(std::int64_t positionMs);
    // Where the song stands, or where a song that waits will start.
    int PositionMs() const;
    // A song is open (it plays, is paused, or stopped where it was).
    bool SongOpen() const;
    // As the volume bar would: 0 to 100.
    void SetVolumePercent(int percent);
    int VolumePercent() const;

    const QString& NowPlayingText() const { return nowPlaying_; }
    // What the play target plays, is paused in or waits with is shown again.
    void ShowWhatPlays();

signals:
    // The caption of the song that plays, is paused or waits (SongCaption); empty when there is
    // none.
    void NowPlayingChanged(const QString& text, bool paused);
    // Something the user is told without a question.
    void Notice(const QString& text);
    // What MPRIS publishes may have changed: status, song, volume, pitch.
    void StateChanged();
    // The position jumped at the user's wish.
    void Seeked();

private:
    void ConnectBar(QScrollBar& bar, void (TPlayback::*scroll)(TScrollCode, int));
    void ShowPauseState();
    void ShowPosition();
    void ShowTarget();
    void MP3PlayerChangeStatus();
    void MP3PlayerChangePosition();
    void MP3PlayerEndPlay(TMP3EndPlayReason reason);
    void MP3PlayerNextSong();
    // Gives the player the play list's next entry, to follow the song without a gap.
    void HandNextEntry();

    TMP3Player& player_;
    TPlayList& list_;
    TControls controls_;
    TOwnPlayer ownPlayer_;
    TOtherPlayers otherPlayers_;
    bool seekTracking_ = false;
    QString nowPlaying_;
    bool nowPaused_ = false;
    // The caption of the file last shown, read once per file.
    TFilePath captionFile_;
    QString captionText_;
};

} // namespace pelbrisk
