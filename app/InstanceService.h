#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace pelbrisk {

// The session-bus name that the one running pelbrisk owns, and the object that takes the files
// of a later launch, through the interface that desktops use to hand files to a running program.
inline constexpr const char* kInstanceServiceName = "org.pelbrisk.Player";
inline constexpr const char* kInstanceObjectPath = "/org/pelbrisk/Player";
inline constexpr const char* kApplicationInterface = "org.freedesktop.Application";

class TInstanceService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit TInstanceService(QDBusConnection connection = QDBusConnection::sessionBus());
    ~TInstanceService() override;

    // Publishes the object and claims the name: true when this process is now the instance the
    // others hand their files to; false when another owns it, or there is no bus.
    bool Claim();
    bool Connected() const { return connection_.isConnected(); }

public slots:
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
    Q_SCRIPTABLE void ActivateAction(const QString& name, const QVariantList& parameters,
                                     const QVariantMap& platformData);

signals:
    // Another launch asked for the window, or for these files and folders to be played.
    void ActivateRequested();
    void OpenRequested(const QStringList& uris);

private:
    QDBusConnection connection_;
    bool claimed_ = false;
};

// Hands `uris` to the instance that owns the name (with none it only brings its window
// forward); false with the reason when no instance took them within a few seconds.
bool HandToRunningInstance(const QStringList& uris, QDBusConnection connection, QString* error);

} // namespace pelbrisk
