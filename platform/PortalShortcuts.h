#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <vector>

class QDBusMessage;

namespace pelbrisk {

// A short-cut value in the notation of the desktop's shortcut triggers ("CTRL+SHIFT+k"); empty
// when the key has no name there.
QString PortalTrigger(std::uint16_t shortCut);

// One system-wide hot key as the desktop is asked to bind it.
struct TPortalShortcut {
    QString id;
    QString description;
    std::uint16_t shortCut = 0;

    bool operator==(const TPortalShortcut&) const = default;
};

// System-wide hot keys granted by the desktop's GlobalShortcuts portal (xdg-desktop-portal), the
// way to them on Wayland, where X11 key grabs only see X clients that have the focus. Every call
// to the portal is asynchronous: its answers come through the event loop of this thread.
class TPortalShortcuts : public QObject {
    Q_OBJECT

public:
    enum class TState {
        Idle,        // nothing asked for
        Binding,     // waiting for the portal (or the user, in its dialog)
        Bound,       // the portal delivers the hot keys of BoundIds
        Refused,     // the user or the portal said no, or bound none
        Unavailable, // no portal, or one without global shortcuts
    };
    using TActivation = std::function<void(const QString& id)>;

    TPortalShortcuts(const QDBusConnection& connection, TActivation onActivate);
    ~TPortalShortcuts() override;
    TPortalShortcuts(const TPortalShortcuts&) = delete;
    TPortalShortcuts& operator=(const TPortalShortcuts&) = delete;

    // Binds these hot keys in place of any bound before. The portal binds a session only once,
    // so a changed set closes the session and binds in a new one; the same set again does
    // nothing.
    void Bind(const std::vector<TPortalShortcut>& shortcuts);

    TState State() const { return state_; }
    // The ids the portal reported as bound; the others are not the portal's to deliver.
    const QStringList& BoundIds() const { return boundIds_; }
    const QDBusConnection& Connection() const { return connection_; }

signals:
    void StateChanged(TState state);

private slots:
    void OnResponse(uint response, const QVariantMap& results);
    void OnActivated(const QDBusMessage& message);

private:
    enum class TStep { Idle, CreatingSession, BindingShortcuts };

    void Start();
    void Call(TStep step, const QString& method, const QVariantList& arguments,
              const QString& token);
    void ListenForResponse(const QString& requestPath);
    void StopListening();
    void SetState(TState state);
    void CloseSession();
    QString NextToken();

    QDBusConnection connection_;
    TActivation onActivate_;
    std::vector<TPortalShortcut> wanted_;
    std::vector<TPortalShortcut> requested_;
    TState state_ = TState::Idle;
    TStep step_ = TStep::Idle;
    QString requestPath_;
    QString session_;
    QStringList boundIds_;
    bool restart_ = false;
    int tokenCount_ = 0;
};

} // namespace pelbrisk
