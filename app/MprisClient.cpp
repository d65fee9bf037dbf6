#include "app/MprisClient.h"

#include "app/FilePath.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QHash>
#include <QUrl>
#include <algorithm>

namespace pelbrisk {

namespace {

const QString kPlayerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kOwnPlayerPrefix = QStringLiteral("org.mpris.MediaPlayer2.pelbrisk");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kTrackListInterface = QStringLiteral("org.mpris.MediaPlayer2.TrackList");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kPlayerctld = QStringLiteral("org.mpris.MediaPlayer2.playerctld");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

// The name itself, or an instance of it ("<name>.instance42").
bool IsNameOrInstance(const QString& name, const QString& base) {
    return name == base || name.startsWith(base + QLatin1Char('.'));
}

bool IsOwnPlayer(const QString& name) {
    return IsNameOrInstance(name, kOwnPlayerPrefix);
}

// playerctld owns one player name and hands every call on to the player last active.
bool IsPlayerctld(const QString& name) {
    return IsNameOrInstance(name, kPlayerctld);
}

QVariantMap ToMap(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(value);
    return value.toMap();
}

QStringList ToStrings(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<QStringList>(value);
    return value.toStringList();
}

// The song's caption as the play list shows a song's: title, artist and album, each where known;
// a song without a title is named by its file.
QString CaptionOf(const QVariantMap& metadata) {
    QString title = metadata.value("xesam:title").toString();
    if (title.isEmpty()) title = QUrl(metadata.value("xesam:url").toString()).fileName();
    QStringList parts{title, ToStrings(metadata.value("xesam:artist")).join(", "),
                      metadata.value("xesam:album").toString()};
    parts.removeAll(QString());
    return parts.join(QLatin1Char('/'));
}

} // namespace

TMprisClient::TMprisClient(QDBusConnection connection, int timeoutMs)
    : connection_(std::move(connection)), timeoutMs_(timeoutMs) {}

QStringList TMprisClient::Players() const {
    QStringList players;
    const QDBusConnectionInterface* bus =
        connection_.isConnected() ? connection_.interface() : nullptr;
    if (bus == nullptr) return players;
    const QDBusReply<QStringList> names = bus->registeredServiceNames();
    if (!names.isValid()) return players;
    QList<std::pair<QString, QString>> ownedNames;
    QHash<QString, int> namesOfOwner;
    for (const QString& name : names.value()) {
        if (!name.startsWith(kPlayerPrefix)) continue;
        const QDBusReply<QString> owner = bus->serviceOwner(name);
        // A name without an owner has gone since the list was made.
        if (!owner.isValid()) continue;
        ownedNames.append({name, owner.value()});
        ++namesOfOwner[owner.value()];
    }
    for (const auto& [name, owner] : ownedNames) {
        // A service of this very connection is ours whatever it is called.
        if (IsOwnPlayer(name) || IsPlayerctld(name) || owner == connection_.baseService() ||
            namesOfOwner.value(owner) > 1)
            continue;
        players.append(name);
    }
    return players;
}

bool TMprisClient::CallPlayer(const QString& service, const QString& interface,
                              const QString& method, const QVariantList& arguments) const {
    QDBusMessage call = QDBusMessage::createMethodCall(service, kObjectPath, interface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = connection_.call(call, QDBus::Block, timeoutMs_);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QVariant TMprisClient::PlayerProperty(const QString& service, const QString& interface,
                                      const QString& name) const {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, kObjectPath, kPropertiesInterface, "Get");
    call.setArguments({interface, name});
    const QDBusMessage reply = connection_.call(call, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

QString TMprisClient::Identity(const QString& service) const {
    const QString identity = PlayerProperty(service, kRootInterface, "Identity").toString();
    return identity.isEmpty() ? service.mid(kPlayerPrefix.size()) : identity;
}

bool TMprisClient::CallEach(const QString& method) {
    bool accepted = false;
    for (const QString& player : Players())
        accepted = CallPlayer(player, kPlayerInterface, method) || accepted;
    return accepted;
}

bool TMprisClient::OpenFiles(const std::vector<std::string>& paths, QStringList* firstOnly) {
    if (paths.empty()) return false;
    bool accepted = false;
    for (const QString& player : Players()) {
        if (!CallPlayer(player, kPlayerInterface, "OpenUri", {FileUri(TFilePath(paths.front()))}))
            continue;
        accepted = true;
        if (paths.size() > 1 && PlayerProperty(player, kRootInterface, "HasTrackList").toBool() &&
            PlayerProperty(player, kTrackListInterface, "CanEditTracks").toBool()) {
            // Each further file goes to the end of the player's list as it stands after the last
            // add.
            for (std::size_t i = 1; i < paths.size(); ++i) {
                const QVariant tracks = PlayerProperty(player, kTrackListInterface, "Tracks");
                const auto trackIds = qdbus_cast<QList<QDBusObjectPath>>(tracks);
                const QDBusObjectPath after =
                    trackIds.isEmpty() ? QDBusObjectPath(kNoTrack) : trackIds.last();
                CallPlayer(player, kTrackListInterface, "AddTrack",
                           {FileUri(TFilePath(paths[i])), QVariant::fromValue(after), false});
            }
        } else if (paths.size() > 1 && firstOnly != nullptr) {
            firstOnly->append(Identity(player));
        }
        // A paused player opens the song paused.
        CallPlayer(player, kPlayerInterface, "Play");
    }
    return accepted;
}

bool TMprisClient::Play() {
    return CallEach("Play");
}
bool TMprisClient::Stop() {
    return CallEach("Stop");
}
bool TMprisClient::Next() {
    return CallEach("Next");
}
bool TMprisClient::Previous() {
    return CallEach("Previous");
}

bool TMprisClient::Pause() {
    bool accepted = false;
    for (const QString& player : Players()) {
        const bool paused =
            PlayerProperty(player, kPlayerInterface, "PlaybackStatus").toString() == "Paused";
        accepted = CallPlayer(player, kPlayerInterface, paused ? "Play" : "Pause") || accepted;
    }
    return accepted;
}

bool TMprisClient::SetVolume(int percent) {
    const double volume = std::clamp(percent, 0, 100) / 100.0;
    bool accepted = false;
    for (const QString& player : Players()) {
        accepted = CallPlayer(player, kPropertiesInterface, "Set",
                              {kPlayerInterface, QStringLiteral("Volume"),
                               QVariant::fromValue(QDBusVariant(volume))}) ||
                   accepted;
    }
    return accepted;
}

// A player's status alone does not tell whether it has a song: mpv-mpris 0.7 still says
// "Stopped" of a song loaded into an mpv that started idle, and goes on saying it while the song
// plays. A player that stopped for good names no song in its metadata.
std::optional<TOtherPlayerState> TMprisClient::State() const {
    std::optional<TOtherPlayerState> chosen;
    int chosenRank = -1;
    for (const QString& player : Players()) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(player, kObjectPath, kPropertiesInterface, "GetAll");
        call.setArguments({kPlayerInterface});
        const QDBusMessage reply = connection_.call(call, QDBus::Block, timeoutMs_);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) continue;
        const QVariantMap properties = ToMap(reply.arguments().first());
        const QVariantMap metadata = ToMap(properties.value("Metadata"));
        const QString status = properties.value("PlaybackStatus").toString();
        const QString title = CaptionOf(metadata);
        const int rank = status == "Playing" ? 3 : status == "Paused" ? 2 : title.isEmpty() ? 0 : 1;
        if (rank <= chosenRank) continue;
        chosenRank = rank;
        chosen = TOtherPlayerState();
        chosen->Paused = status == "Paused";
        if (rank == 0) continue;
        chosen->Title = title;
        chosen->LengthMs = metadata.value("mpris:length").toLongLong() / 1000;
        chosen->PositionMs = properties.value("Position").toLongLong() / 1000;
        if (rank == 3) break;
    }
    return chosen;
}

} // namespace pelbrisk
