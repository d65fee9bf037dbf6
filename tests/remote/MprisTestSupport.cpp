#include "MprisTestSupport.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>

namespace pelbrisk::test {

namespace {
const QString kPath = "/org/mpris/MediaPlayer2";
}

QDBusMessage CallAndWait(QDBusConnection& connection, const QString& service,
                         const QString& interface, const QString& method,
                         const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, kPath, interface, method);
    call.setArguments(arguments);
    QDBusPendingCall pending = connection.asyncCall(call, 5000);
    QElapsedTimer waited;
    waited.start();
    while (!pending.isFinished() && waited.elapsed() < 6000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return pending.reply();
}

QVariant GetProperty(QDBusConnection& connection, const QString& service, const QString& interface,
                     const QString& name) {
    const QDBusMessage reply = CallAndWait(connection, service, "org.freedesktop.DBus.Properties",
                                           "Get", {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

TFakeMprisPlayer::TFakeMprisPlayer(const QString& busAddress, const QString& serviceName)
    : connection_(QDBusConnection::connectToBus(busAddress, serviceName)),
      serviceName_(serviceName) {
    thread_.start();
    moveToThread(&thread_);
    registered_ =
        connection_.registerVirtualObject(kPath, this) && connection_.registerService(serviceName);
}

TFakeMprisPlayer::~TFakeMprisPlayer() {
    connection_.unregisterService(serviceName_);
    connection_.unregisterObject(kPath);
    thread_.quit();
    thread_.wait();
    QDBusConnection::disconnectFromBus(serviceName_);
}

bool TFakeMprisPlayer::AlsoOwn(const QString& serviceName) {
    return connection_.registerService(serviceName);
}

QStringList TFakeMprisPlayer::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

QStringList TFakeMprisPlayer::TrackUris() const {
    std::lock_guard lock(mutex_);
    return trackUris_;
}

double TFakeMprisPlayer::Volume() const {
    std::lock_guard lock(mutex_);
    return volume_;
}

QString TFakeMprisPlayer::Status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

QString TFakeMprisPlayer::introspect(const QString&) const {
    return {};
}

QVariant TFakeMprisPlayer::Property(const QString& name) const {
    if (name == "PlaybackStatus") return status_;
    if (name == "Volume") return volume_;
    if (name == "HasTrackList" || name == "CanEditTracks") return true;
    if (name == "Tracks") {
        QList<QDBusObjectPath> ids;
        for (const QString& id : trackIds_)
            ids.append(QDBusObjectPath(id));
        return QVariant::fromValue(ids);
    }
    return {};
}

bool TFakeMprisPlayer::handleMessage(const QDBusMessage& message,
                                     const QDBusConnection& connection) {
    std::lock_guard lock(mutex_);
    const QString member = message.member();
    const QVariantList args = message.arguments();
    QVariantList reply;
    if (message.interface() == "org.freedesktop.DBus.Properties" && member == "Get") {
        const QVariant value = Property(args.value(1).toString());
        if (!value.isValid()) return false;
        reply = {QVariant::fromValue(QDBusVariant(value))};
    } else if (message.interface() == "org.freedesktop.DBus.Properties" && member == "Set") {
        if (args.value(1).toString() != "Volume") return false;
        volume_ = args.value(2).value<QDBusVariant>().variant().toDouble();
        calls_.append("Set Volume");
    } else if (member == "OpenUri") {
        calls_.append("OpenUri " + args.value(0).toString());
        trackIds_ = {QString("/fake/track/%1").arg(nextTrack_++)};
        trackUris_ = {args.value(0).toString()};
        status_ = "Playing";
    } else if (member == "AddTrack") {
        const QString after = args.value(1).value<QDBusObjectPath>().path();
        const qsizetype at = trackIds_.indexOf(after) + 1; // NoTrack puts it first
        trackIds_.insert(at, QString("/fake/track/%1").arg(nextTrack_++));
        trackUris_.insert(at, args.value(0).toString());
        calls_.append("AddTrack " + args.value(0).toString());
    } else if (member == "Play" || member == "Pause" || member == "Stop" || member == "Next" ||
               member == "Previous") {
        calls_.append(member);
        if (member == "Play") status_ = "Playing";
        if (member == "Pause") status_ = "Paused";
        if (member == "Stop") status_ = "Stopped";
    } else {
        return false;
    }
    connection.send(message.createReply(reply));
    return true;
}

} // namespace pelbrisk::test
