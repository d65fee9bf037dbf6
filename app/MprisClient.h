#pragma once

#include <QDBusConnection>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelbrisk {

// What another player shows of its song, read from its MPRIS properties.
struct TOtherPlayerState {
    // "title/artist/album", of what is there; empty when the player has no song.
    QString Title;
    std::int64_t PositionMs = 0;
    std::int64_t LengthMs = 0;
    bool Paused = false;
};

// Desktop media players reached through MPRIS on a D-Bus connection. Every request goes once to
// every player on the bus, except pelbrisk's own services (steering ourselves, or another pelbrisk
// that also sends, would bounce the command back and forth) and proxies, which forward it to a
// player that gets it anyway: playerctld, and any name whose owner owns another player's name.
class TMprisClient {
public:
    explicit TMprisClient(QDBusConnection connection = QDBusConnection::sessionBus(),
                          int timeoutMs = 500);

    // Bus names of the players that requests go to, in the bus's order.
    QStringList Players() const;

    // Opens the first path and plays it, paused or not; a player offering an editable track list
    // gets the others after it. `firstOnly`, if given, receives the names of the players that
    // took only the first of several paths.
    bool OpenFiles(const std::vector<std::string>& paths, QStringList* firstOnly = nullptr);
    bool Play();
    // Pauses a playing player and resumes a paused one, as pelbrisk's pause button does.
    bool Pause();
    bool Stop();
    bool Next();
    bool Previous();
    bool SetVolume(int percent);
    // What the first playing player shows, else the first paused one, else the first that has a
    // song, else the first one; none when no player answers.
    std::optional<TOtherPlayerState> State() const;

private:
    bool CallPlayer(const QString& service, const QString& interface, const QString& method,
                    const QVariantList& arguments = {}) const;
    QVariant PlayerProperty(const QString& service, const QString& interface,
                            const QString& name) const;
    bool CallEach(const QString& method);
    // The name a player gives itself, for the user.
    QString Identity(const QString& service) const;

    QDBusConnection connection_;
    int timeoutMs_;
};

} // namespace pelbrisk
