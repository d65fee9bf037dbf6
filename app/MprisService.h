#pragma once

#include "app/FilePath.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <string>

namespace pelbrisk {

class TMprisPlayerAdaptor;

enum class TPlaybackState { Stopped, Playing, Paused };

struct TNowPlaying {
    std::string FilePath; // empty: nothing is loaded
    std::string Title;
    std::string Artist;
    std::string Album;
    std::int64_t LengthMs = 0;
    // 0 or empty where the tags give none.
    int TrackNumber = 0;
    int DiscNumber = 0;
    QString AlbumArtist;
    QString Genre;
    QString Created;
    TFilePath Art; // the cover as a file
};

// What the player can do as it stands, as MPRIS tells its clients.
struct TCapabilities {
    bool CanPlay = false;
    bool CanPause = false;
    bool CanGoNext = false;
    bool CanGoPrevious = false;
    bool CanSeek = false;

    bool operator==(const TCapabilities&) const = default;
};

// The pitch bar's range, in percent; MPRIS's playback rate is the pitch over 100.
inline constexpr int kLowestPitch = 20;
inline constexpr int kHighestPitch = 200;

// What the main window offers to remote controllers: its buttons and what it shows.
class IPlaybackControl {
public:
    virtual ~IPlaybackControl() = default;

    // Resumes a paused song, plays the open one, or with none open the play list's entry.
    virtual void PlayClick() = 0;
    // Resumes when paused, pauses when playing, nothing when stopped.
    virtual void PauseClick() = 0;
    virtual void StopClick() = 0;
    // To the next or previous entry: a paused or stopped player stays paused or stopped, and
    // one without a next entry stops.
    virtual void Next() = 0;
    virtual void Previous() = 0;
    // Moves within the song; false when the position did not move.
    virtual bool SeekTo(std::int64_t positionMs) = 0;
    // As the volume bar would: 0 to 100.
    virtual void SetVolumePercent(int percent) = 0;
    // As the pitch bar would: kLowestPitch to kHighestPitch.
    virtual int Pitch() const = 0;
    virtual void SetPitch(int percent) = 0;
    // As the show hot key does: back from the notification area, or to the front.
    virtual void ShowWindow() = 0;
    // Shows the file's folder in the play list and plays the file; the reason when it cannot
    // (no such file, no MPEG audio), empty when it plays.
    virtual QString OpenFile(const TFilePath& file) = 0;
    virtual bool RepeatAll() const = 0;
    virtual void SetRepeatAll(bool on) = 0;
    virtual bool Shuffle() const = 0;
    virtual void SetShuffle(bool on) = 0;
    // Closes the program as its window's close box does.
    virtual void Quit() = 0;

    virtual TPlaybackState PlaybackState() const = 0;
    virtual TCapabilities Capabilities() const = 0;
    virtual std::int64_t PositionMs() const = 0;
    virtual int VolumePercent() const = 0;
    virtual TNowPlaying NowPlaying() const = 0;
};

inline constexpr const char* kMprisServiceName = "org.mpris.MediaPlayer2.pelbrisk";

// pelbrisk as an MPRIS player, so that media keys, desktop widgets and other programs can steer
// it. Without a bus it stays silent and the program runs on without it.
class TMprisService : public QObject, protected QDBusContext {
    Q_OBJECT

public:
    explicit TMprisService(IPlaybackControl& control,
                           QDBusConnection connection = QDBusConnection::sessionBus());
    ~TMprisService() override;

    // Claims the bus name and publishes the player; false when there is no bus to publish on.
    bool Start();
    bool Started() const { return !serviceName_.isEmpty(); }
    QString ServiceName() const { return serviceName_; }

    // The window calls this when status, song, volume, pitch, the order toggles or what it can
    // do may have changed; listeners hear of what really did.
    void Refresh();
    // The window calls this after a jump in position that it made on its own.
    void NotifySeeked();

    // The values of the published properties, as D-Bus sees them.
    QString PlaybackStatusText() const;
    QString LoopStatusText() const;
    QVariantMap MetadataMap() const;
    double VolumeValue() const;
    double RateValue() const;
    IPlaybackControl& Control() const { return control_; }
    QString CurrentTrackId() const;
    // Answers the D-Bus call being handled with an error instead of its reply.
    void RefuseCall(QDBusError::ErrorType type, const QString& reason) const;

private:
    void AnnounceChange(const QString& interface, const QVariantMap& changed);

    IPlaybackControl& control_;
    QDBusConnection connection_;
    TMprisPlayerAdaptor* playerAdaptor_ = nullptr; // owned as a child
    QString serviceName_;
    QString lastStatus_;
    QVariantMap lastMetadata_;
    double lastVolume_ = -1;
    double lastRate_ = -1;
    TCapabilities lastCapabilities_;
    QString lastLoopStatus_;
    bool lastShuffle_ = false;
    // Track ids change whenever another file is loaded, as MPRIS asks of them.
    mutable std::string trackPath_;
    mutable unsigned trackNumber_ = 0;
};

} // namespace pelbrisk
