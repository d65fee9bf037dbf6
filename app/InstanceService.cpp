#include "app/InstanceService.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>

namespace pelbrisk {

namespace {

// A running window answers at once; one that does not within this long is taken for hung.
constexpr int kHandOverTimeoutMs = 5000;

} // namespace

TInstanceService::TInstanceService(QDBusConnection connection)
    : connection_(std::move(connection)) {}

TInstanceService::~TInstanceService() {
    if (!claimed_) return;
    connection_.unregisterService(kInstanceServiceName);
    connection_.unregisterObject(kInstanceObjectPath);
}

bool TInstanceService::Claim() {
    if (!connection_.isConnected()) return false;
    // The object is there before the name, so that no call finds the name without it.
    if (!connection_.registerObject(kInstanceObjectPath, this,
                                    QDBusConnection::ExportScriptableSlots))
        return false;
    if (!connection_.registerService(kInstanceServiceName)) {
        connection_.unregisterObject(kInstanceObjectPath);
        return false;
    }
    claimed_ = true;
    return true;
}

void TInstanceService::Activate(const QVariantMap&) {
    emit ActivateRequested();
}

void TInstanceService::Open(const QStringList& uris, const QVariantMap&) {
    emit OpenRequested(uris);
}

void TInstanceService::ActivateAction(const QString& name, const QVariantList&,
                                      const QVariantMap&) {
    // The desktop entry declares no actions.
    if (calledFromDBus())
        sendErrorReply(QDBusError::NotSupported, "pelbrisk has no action " + name);
}

bool HandToRunningInstance(const QStringList& uris, QDBusConnection connection, QString* error) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kInstanceServiceName, kInstanceObjectPath, kApplicationInterface,
        uris.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("Open"));
    if (uris.isEmpty())
        call << QVariantMap();
    else
        call << uris << QVariantMap();
    const QDBusMessage reply = connection.call(call, QDBus::Block, kHandOverTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    if (error) *error = reply.errorMessage();
    return false;
}

} // namespace pelbrisk
