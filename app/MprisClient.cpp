#include "app/MprisClient.h"

#include "app/FilePath.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
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
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

bool IsOwnPlayer(const QString& name) {
    return name == kOwnPlayerPrefix || name.startsWith(kOwnPlayerPrefix + QLatin1Char('.'));
}

} // namespace

TMprisClient::TMprisClient(QDBusConnection connection, int timeoutMs)
    : connection_(std::move(connection)), timeoutMs_(timeoutMs) {}

QStringList TMprisClient::Players() const {
    QStringList players;
    if (!connection_.isConnected() || connection_.interface() == nullptr) return players;
    const QDBusReply<QStringList> names = connection_.interface()->registeredServiceNames();
    if (!names.isValid()) return players;
    for (const QString& name : names.value()) {
        if (!name.startsWith(kPlayerPrefix) || IsOwnPlayer(name)) continue;
        // A service of this very connection is ours whatever it is called.
        const QDBusReply<QString> owner = connection_.interface()->serviceOwner(name);
        if (owner.isValid() && owner.value() == connection_.baseService()) continue;
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

bool TMprisClient::CallEach(const QString& method) {
    bool accepted = false;
    for (const QString& player : Players())
        accepted = CallPlayer(player, kPlayerInterface, method) || accepted;
    return accepted;
}

bool TMprisClient::OpenFiles(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    bool accepted = false;
    for (const QString& player : Players()) {
        if (!CallPlayer(player, kPlayerInterface, "OpenUri", {FileUri(TFilePath(paths.front()))}))
            continue;
        accepted = true;
        if (!PlayerProperty(player, kRootInterface, "HasTrackList").toBool() ||
            !PlayerProperty(player, kTrackListInterface, "CanEditTracks").toBool())
            continue;
        // Each further file goes to the end of the player's list as it stands after the last add.
        for (std::size_t i = 1; i < paths.size(); ++i) {
            const QVariant tracks = PlayerProperty(player, kTrackListInterface, "Tracks");
            const auto trackIds = qdbus_cast<QList<QDBusObjectPath>>(tracks);
            const QDBusObjectPath after =
                trackIds.isEmpty() ? QDBusObjectPath(kNoTrack) : trackIds.last();
            CallPlayer(player, kTrackListInterface, "AddTrack",
                       {FileUri(TFilePath(paths[i])), QVariant::fromValue(after), false});
        }
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

} // namespace pelbrisk
