#include "app/MprisService.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace pelbrisk {

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

QString FromBytes(const std::string& text) {
    return QString::fromLocal8Bit(text);
}

} // namespace

class TMprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

public:
    explicit TMprisRootAdaptor(TMprisService* service)
        : QDBusAbstractAdaptor(service), control_(service->Control()) {}

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("pelbrisk"); }
    QString DesktopEntry() const { return QStringLiteral("pelbrisk"); }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList SupportedMimeTypes() const { return {QStringLiteral("audio/mpeg")}; }

public slots:
    void Raise() { control_.ShowWindow(); }
    void Quit() { control_.Quit(); }

private:
    IPlaybackControl& control_;
};

class TMprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ MinimumRate)
    Q_PROPERTY(double MaximumRate READ MaximumRate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
    Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)

public:
    explicit TMprisPlayerAdaptor(TMprisService* service)
        : QDBusAbstractAdaptor(service), service_(*service), control_(service->Control()) {}

    QString PlaybackStatus() const { return service_.PlaybackStatusText(); }
    double Rate() const { return service_.RateValue(); }
    double MinimumRate() const { return kLowestPitch / 100.0; }
    double MaximumRate() const { return kHighestPitch / 100.0; }
    // The rate is the pitch bar's; 0 asks for a pause, a rate out of range is ignored.
    void SetRate(double rate) {
        if (rate == 0) {
            Pause();
            return;
        }
        if (!std::isfinite(rate) || rate < MinimumRate() || rate > MaximumRate()) return;
        control_.SetPitch(static_cast<int>(std::lround(rate * 100)));
        service_.Refresh();
    }
    QVariantMap Metadata() const { return service_.MetadataMap(); }
    double Volume() const { return service_.VolumeValue(); }
    void SetVolume(double volume) {
        if (!std::isfinite(volume)) return;
        control_.SetVolumePercent(
            static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
        service_.Refresh();
    }
    QString LoopStatus() const { return service_.LoopStatusText(); }
    // Repeat-all is the one repeat there is: a track repeat is not offered and changes nothing.
    void SetLoopStatus(const QString& status) {
        if (status == QLatin1String("None") || status == QLatin1String("Playlist"))
            control_.SetRepeatAll(status == QLatin1String("Playlist"));
        service_.Refresh();
    }
    bool Shuffle() const { return control_.Shuffle(); }
    void SetShuffle(bool on) {
        control_.SetShuffle(on);
        service_.Refresh();
    }
    qlonglong Position() const { return control_.PositionMs() * 1000; }
    bool CanGoNext() const { return control_.Capabilities().CanGoNext; }
    bool CanGoPrevious() const { return control_.Capabilities().CanGoPrevious; }
    bool CanPlay() const { return control_.Capabilities().CanPlay; }
    bool CanPause() const { return control_.Capabilities().CanPause; }
    bool CanSeek() const { return control_.Capabilities().CanSeek; }
    bool CanControl() const { return true; }

public slots:
    void Play() {
        switch (control_.PlaybackState()) {
        case TPlaybackState::Paused:
            control_.PauseClick();
            break;
        case TPlaybackState::Stopped:
            control_.PlayClick();
            break;
        case TPlaybackState::Playing:
            break;
        }
        service_.Refresh();
    }
    void Pause() {
        if (control_.PlaybackState() == TPlaybackState::Playing) control_.PauseClick();
        service_.Refresh();
    }
    void PlayPause() {
        if (control_.PlaybackState() == TPlaybackState::Stopped)
            control_.PlayClick();
        else
            control_.PauseClick();
        service_.Refresh();
    }
    void Stop() {
        control_.StopClick();
        service_.Refresh();
    }
    void Next() {
        control_.Next();
        service_.Refresh();
    }
    void Previous() {
        control_.Previous();
        service_.Refresh();
    }
    void Seek(qlonglong offsetUs) {
        if (!CanSeek()) return;
        const TNowPlaying song = control_.NowPlaying();
        const std::int64_t target =
            std::max<std::int64_t>(0, control_.PositionMs() + offsetUs / 1000);
        if (song.LengthMs > 0 && target > song.LengthMs) {
            // Past the end means the next song.
            Next();
            return;
        }
        // Listeners hear of a jump only when there was one.
        if (control_.SeekTo(target)) service_.NotifySeeked();
    }
    void SetPosition(const QDBusObjectPath& trackId, qlonglong positionUs) {
        const TNowPlaying song = control_.NowPlaying();
        if (!CanSeek() || trackId.path() != service_.CurrentTrackId()) return;
        if (positionUs < 0 || positionUs / 1000 > song.LengthMs) return;
        if (control_.SeekTo(positionUs / 1000)) service_.NotifySeeked();
    }
    void OpenUri(const QString& uri) {
        const std::optional<TFilePath> file = LocalFileOfUri(uri);
        if (!file) {
            service_.RefuseCall(QDBusError::NotSupported,
                                "only file: addresses are opened: " + uri);
            return;
        }
        const QString failure = control_.OpenFile(*file);
        if (!failure.isEmpty()) {
            service_.RefuseCall(QDBusError::InvalidArgs, failure);
            return;
        }
        service_.Refresh();
    }

signals:
    void Seeked(qlonglong positionUs);

private:
    TMprisService& service_;
    IPlaybackControl& control_;
};

TMprisService::TMprisService(IPlaybackControl& control, QDBusConnection connection)
    : control_(control), connection_(std::move(connection)) {}

TMprisService::~TMprisService() {
    if (!Started()) return;
    connection_.unregisterObject(kObjectPath);
    connection_.unregisterService(serviceName_);
}

bool TMprisService::Start() {
    if (Started()) return true;
    if (!connection_.isConnected()) return false;
    new TMprisRootAdaptor(this);
    playerAdaptor_ = new TMprisPlayerAdaptor(this);
    if (!connection_.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    // A second pelbrisk takes an instance name, as MPRIS asks of players that run more than once.
    QString name = QString::fromLatin1(kMprisServiceName);
    if (!connection_.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(::getpid());
        if (!connection_.registerService(name)) {
            connection_.unregisterObject(kObjectPath);
            return false;
        }
    }
    serviceName_ = name;
    lastStatus_ = PlaybackStatusText();
    lastMetadata_ = MetadataMap();
    lastVolume_ = VolumeValue();
    lastRate_ = RateValue();
    lastCapabilities_ = control_.Capabilities();
    lastLoopStatus_ = LoopStatusText();
    lastShuffle_ = control_.Shuffle();
    return true;
}

QString TMprisService::PlaybackStatusText() const {
    switch (control_.PlaybackState()) {
    case TPlaybackState::Playing:
        return QStringLiteral("Playing");
    case TPlaybackState::Paused:
        return QStringLiteral("Paused");
    case TPlaybackState::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

void TMprisService::RefuseCall(QDBusError::ErrorType type, const QString& reason) const {
    // The call's context belongs to the object the adaptors are exported on.
    if (calledFromDBus()) sendErrorReply(type, reason);
}

QString TMprisService::LoopStatusText() const {
    return control_.RepeatAll() ? QStringLiteral("Playlist") : QStringLiteral("None");
}

QString TMprisService::CurrentTrackId() const {
    const TNowPlaying song = control_.NowPlaying();
    if (song.FilePath.empty()) return kNoTrack;
    if (song.FilePath != trackPath_) {
        trackPath_ = song.FilePath;
        ++trackNumber_;
    }
    return QStringLiteral("/org/pelbrisk/track/%1").arg(trackNumber_);
}

QVariantMap TMprisService::MetadataMap() const {
    QVariantMap metadata;
    metadata.insert("mpris:trackid", QVariant::fromValue(QDBusObjectPath(CurrentTrackId())));
    const TNowPlaying song = control_.NowPlaying();
    if (song.FilePath.empty()) return metadata;
    metadata.insert("mpris:length", qlonglong(song.LengthMs) * 1000);
    metadata.insert("xesam:title", FromBytes(song.Title));
    // An untagged song has no artist and no album, rather than empty ones.
    if (!song.Artist.empty()) metadata.insert("xesam:artist", QStringList{FromBytes(song.Artist)});
    if (!song.Album.empty()) metadata.insert("xesam:album", FromBytes(song.Album));
    metadata.insert("xesam:url", FileUri(TFilePath(song.FilePath)));
    if (!song.Art.IsEmpty()) metadata.insert("mpris:artUrl", FileUri(song.Art));
    if (song.TrackNumber > 0) metadata.insert("xesam:trackNumber", song.TrackNumber);
    if (song.DiscNumber > 0) metadata.insert("xesam:discNumber", song.DiscNumber);
    if (!song.AlbumArtist.isEmpty())
        metadata.insert("xesam:albumArtist", QStringList{song.AlbumArtist});
    if (!song.Genre.isEmpty()) metadata.insert("xesam:genre", QStringList{song.Genre});
    if (!song.Created.isEmpty()) metadata.insert("xesam:contentCreated", song.Created);
    return metadata;
}

double TMprisService::VolumeValue() const {
    return std::clamp(control_.VolumePercent(), 0, 100) / 100.0;
}

double TMprisService::RateValue() const {
    return control_.Pitch() / 100.0;
}

void TMprisService::Refresh() {
    if (!Started()) return;
    QVariantMap changed;
    const QString status = PlaybackStatusText();
    if (status != lastStatus_) changed.insert("PlaybackStatus", lastStatus_ = status);
    const QVariantMap metadata = MetadataMap();
    if (metadata != lastMetadata_) changed.insert("Metadata", lastMetadata_ = metadata);
    const double volume = VolumeValue();
    if (volume != lastVolume_) changed.insert("Volume", lastVolume_ = volume);
    const QString loopStatus = LoopStatusText();
    if (loopStatus != lastLoopStatus_) changed.insert("LoopStatus", lastLoopStatus_ = loopStatus);
    const bool shuffle = control_.Shuffle();
    if (shuffle != lastShuffle_) changed.insert("Shuffle", lastShuffle_ = shuffle);
    const double rate = RateValue();
    if (rate != lastRate_) changed.insert("Rate", lastRate_ = rate);
    const TCapabilities can = control_.Capabilities();
    const std::pair<const char*, bool TCapabilities::*> abilities[] = {
        {"CanPlay", &TCapabilities::CanPlay},
        {"CanPause", &TCapabilities::CanPause},
        {"CanGoNext", &TCapabilities::CanGoNext},
        {"CanGoPrevious", &TCapabilities::CanGoPrevious},
        {"CanSeek", &TCapabilities::CanSeek}};
    for (const auto& [name, ability] : abilities)
        if (can.*ability != lastCapabilities_.*ability) changed.insert(name, can.*ability);
    lastCapabilities_ = can;
    if (!changed.isEmpty()) AnnounceChange(kPlayerInterface, changed);
}

void TMprisService::NotifySeeked() {
    if (Started()) emit playerAdaptor_->Seeked(qlonglong(control_.PositionMs()) * 1000);
}

void TMprisService::AnnounceChange(const QString& interface, const QVariantMap& changed) {
    QDBusMessage signal = QDBusMessage::createSignal(
        kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"), "PropertiesChanged");
    signal.setArguments({interface, changed, QStringList()});
    connection_.send(signal);
}

} // namespace pelbrisk

#include "MprisService.moc"
