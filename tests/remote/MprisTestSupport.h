#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QThread>
#include <mutex>

namespace pelbrisk::test {

// Calls a method and keeps the event loop running until the answer comes, so that a service on
// this thread can answer it.
QDBusMessage CallAndWait(QDBusConnection& connection, const QString& service,
                         const QString& interface, const QString& method,
                         const QVariantList& arguments = {});
QVariant GetProperty(QDBusConnection& connection, const QString& service, const QString& interface,
                     const QString& name);

// A small desktop media player that speaks MPRIS (with an editable track list), on a
// connection and a thread of its own, recording what it was asked to do.
class TFakeMprisPlayer : public QDBusVirtualObject {
public:
    TFakeMprisPlayer(const QString& busAddress, const QString& serviceName);
    ~TFakeMprisPlayer() override;

    bool Registered() const { return registered_; }
    // Takes one more bus name on the same connection, as a proxy for several players would.
    bool AlsoOwn(const QString& serviceName);
    QStringList Calls() const;
    QStringList TrackUris() const;
    double Volume() const;
    QString Status() const;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QVariant Property(const QString& name) const;

    QDBusConnection connection_;
    QString serviceName_;
    QThread thread_;
    bool registered_ = false;
    mutable std::mutex mutex_;
    QStringList calls_;
    QStringList trackIds_;
    QStringList trackUris_;
    int nextTrack_ = 1;
    double volume_ = 1.0;
    QString status_ = "Stopped";
};

} // namespace pelbrisk::test
