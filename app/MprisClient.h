#pragma once

#include <QDBusConnection>
#include <QStringList>
#include <QVariant>
#include <string>
#include <vector>

namespace pelbrisk {

// Desktop media players reached through MPRIS on a D-Bus connection. Every request goes to every
// player on the bus except pelbrisk's own services: steering ourselves, or another pelbrisk that
// also sends, would bounce the command back and forth.
class TMprisClient {
public:
    explicit TMprisClient(QDBusConnection connection = QDBusConnection::sessionBus(),
                          int timeoutMs = 500);

    // Bus names of the players that requests go to, in the bus's order.
    QStringList Players() const;

    // Opens and plays the first path; a player offering a track list is given the others after it.
    bool OpenFiles(const std::vector<std::string>& paths);
    bool Play();
    // Pauses a playing player and resumes a paused one, as pelbrisk's pause button does.
    bool Pause();
    bool Stop();
    bool Next();
    bool Previous();
    bool SetVolume(int percent);

private:
    bool CallPlayer(const QString& service, const QString& interface, const QString& method,
                    const QVariantList& arguments = {}) const;
    QVariant PlayerProperty(const QString& service, const QString& interface,
                            const QString& name) const;
    bool CallEach(const QString& method);

    QDBusConnection connection_;
    int timeoutMs_;
};

} // namespace pelbrisk
