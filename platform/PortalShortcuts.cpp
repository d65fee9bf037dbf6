#include "platform/PortalShortcuts.h"

#include "platform/HotKeys.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QList>
#include <QPair>
#include <utility>

// After every Qt header: Xlib's macros (None, Bool, Status) would break them.
#include <X11/Xlib.h>

namespace pelbrisk {

namespace {

const QString kPortalService = "org.freedesktop.portal.Desktop";
const QString kPortalPath = "/org/freedesktop/portal/desktop";
const QString kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
const QString kRequestInterface = "org.freedesktop.portal.Request";
const QString kSessionInterface = "org.freedesktop.portal.Session";

// a(sa{sv}): each shortcut's id and its properties.
using TShortcutList = QList<QPair<QString, QVariantMap>>;

const char* const kResponseSlot = SLOT(OnResponse(uint, QVariantMap));
const char* const kActivatedSlot = SLOT(OnActivated(QDBusMessage));

} // namespace

QString PortalTrigger(std::uint16_t shortCut) {
    const unsigned long keysym = VirtualKeyToKeysym(static_cast<std::uint8_t>(shortCut & 0xFF));
    const char* name = keysym != NoSymbol ? XKeysymToString(keysym) : nullptr;
    if (name == nullptr) return {};
    QString trigger;
    if (shortCut & kShortCutCtrl) trigger += "CTRL+";
    if (shortCut & kShortCutAlt) trigger += "ALT+";
    if (shortCut & kShortCutShift) trigger += "SHIFT+";
    return trigger + QString::fromLatin1(name);
}

TPortalShortcuts::TPortalShortcuts(const QDBusConnection& connection, TActivation onActivate)
    : connection_(connection), onActivate_(std::move(onActivate)) {
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<TShortcutList>();
    // The whole message: a slot typed with the D-Bus types is refused until QtDBus has
    // registered them, which may not have happened yet.
    connection_.connect(kPortalService, kPortalPath, kShortcutsInterface, "Activated", this,
                        kActivatedSlot);
}

TPortalShortcuts::~TPortalShortcuts() {
    connection_.disconnect(kPortalService, kPortalPath, kShortcutsInterface, "Activated", this,
                           kActivatedSlot);
    StopListening();
    CloseSession();
}

void TPortalShortcuts::Bind(const std::vector<TPortalShortcut>& shortcuts) {
    wanted_ = shortcuts;
    if (step_ != TStep::Idle) {
        // The answer under way is for the old set; it is followed by a fresh start.
        restart_ = true;
        return;
    }
    // Asking again for what was refused would only put the portal's dialog up again.
    if (wanted_ == requested_ && state_ != TState::Idle) return;
    Start();
}

void TPortalShortcuts::Start() {
    restart_ = false;
    CloseSession();
    requested_ = wanted_;
    boundIds_.clear();
    if (requested_.empty()) {
        SetState(TState::Idle);
        return;
    }
    SetState(TState::Binding);
    const QString token = NextToken();
    QVariantMap options{{"handle_token", token}, {"session_handle_token", NextToken()}};
    Call(TStep::CreatingSession, "CreateSession", {options}, token);
}

QString TPortalShortcuts::NextToken() {
    return QString("pelbrisk%1").arg(++tokenCount_);
}

void TPortalShortcuts::Call(TStep step, const QString& method, const QVariantList& arguments,
                            const QString& token) {
    step_ = step;
    // The answer comes as a signal on a request object whose path follows from our name and the
    // token; listening starts before the call so that a quick answer is not missed.
    QString sender = connection_.baseService().mid(1);
    sender.replace('.', '_');
    ListenForResponse(kPortalPath + "/request/" + sender + "/" + token);

    QDBusMessage message =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, kShortcutsInterface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(message), this);
    const QString expected = requestPath_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, expected](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                // Already answered, or overtaken by a later call.
                if (requestPath_ != expected || step_ == TStep::Idle) return;
                const QDBusPendingReply<QDBusObjectPath> reply = *call;
                if (reply.isError()) {
                    StopListening();
                    step_ = TStep::Idle;
                    if (restart_)
                        Start();
                    else
                        SetState(TState::Unavailable);
                    return;
                }
                // Portals older than the token scheme choose the path themselves.
                if (reply.value().path() != requestPath_) ListenForResponse(reply.value().path());
            });
}

void TPortalShortcuts::ListenForResponse(const QString& requestPath) {
    StopListening();
    requestPath_ = requestPath;
    connection_.connect(kPortalService, requestPath_, kRequestInterface, "Response", this,
                        kResponseSlot);
}

void TPortalShortcuts::StopListening() {
    if (requestPath_.isEmpty()) return;
    connection_.disconnect(kPortalService, requestPath_, kRequestInterface, "Response", this,
                           kResponseSlot);
    requestPath_.clear();
}

void TPortalShortcuts::OnResponse(uint response, const QVariantMap& results) {
    StopListening();
    const TStep step = std::exchange(step_, TStep::Idle);
    if (step == TStep::CreatingSession && response == 0) {
        // Older portals send the handle as a string, newer ones may send an object path.
        const QVariant handle = results.value("session_handle");
        session_ = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                        : handle.toString();
    }
    if (restart_) {
        Start();
        return;
    }
    // 1: the user cancelled the dialog; 2: the portal ended the interaction otherwise.
    if (response != 0) {
        CloseSession();
        SetState(TState::Refused);
        return;
    }
    if (step == TStep::CreatingSession) {
        if (session_.isEmpty()) {
            SetState(TState::Unavailable);
            return;
        }
        TShortcutList shortcuts;
        for (const TPortalShortcut& shortcut : requested_) {
            QVariantMap properties{{"description", shortcut.description}};
            const QString trigger = PortalTrigger(shortcut.shortCut);
            if (!trigger.isEmpty()) properties.insert("preferred_trigger", trigger);
            shortcuts.append({shortcut.id, properties});
        }
        const QString token = NextToken();
        Call(TStep::BindingShortcuts, "BindShortcuts",
             {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts),
              QString(), QVariantMap{{"handle_token", token}}},
             token);
        return;
    }
    // The user may have bound only some of them, or none: then nothing is bound.
    TShortcutList bound;
    if (results.contains("shortcuts")) {
        results.value("shortcuts").value<QDBusArgument>() >> bound;
        for (const auto& shortcut : bound)
            boundIds_.append(shortcut.first);
    } else {
        // A portal that names nothing has taken what it was asked for.
        for (const TPortalShortcut& shortcut : requested_)
            boundIds_.append(shortcut.id);
    }
    if (boundIds_.isEmpty()) {
        CloseSession();
        SetState(TState::Refused);
        return;
    }
    SetState(TState::Bound);
}

void TPortalShortcuts::OnActivated(const QDBusMessage& message) {
    // (session handle, shortcut id, timestamp, options)
    const QVariantList args = message.arguments();
    const QString session = args.value(0).value<QDBusObjectPath>().path();
    const QString id = args.value(1).toString();
    if (state_ != TState::Bound || session != session_ || !boundIds_.contains(id)) return;
    onActivate_(id);
}

void TPortalShortcuts::SetState(TState state) {
    state_ = state;
    emit StateChanged(state);
}

void TPortalShortcuts::CloseSession() {
    if (session_.isEmpty()) return;
    // Fire and forget: nothing waits for the portal to confirm.
    connection_.send(
        QDBusMessage::createMethodCall(kPortalService, session_, kSessionInterface, "Close"));
    session_.clear();
}

} // namespace pelbrisk
