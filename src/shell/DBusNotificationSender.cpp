#include "DBusNotificationSender.h"

#include "ShellLogging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace fernpoint {

DBusNotificationSender::DBusNotificationSender(const QDBusConnection& connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection) {}

void DBusNotificationSender::show(const QString& summary, const QString& body) {
    if (m_callPending) {
        m_next = Text{summary, body};
        return;
    }
    send({summary, body});
}

void DBusNotificationSender::send(const Text& text) {
    if (!m_connection.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString appId = QStringLiteral("com.lunacore.fernpoint");
    notify << QStringLiteral("FernPoint") << m_shownId << appId << text.summary << text.body
           << QStringList() << QVariantMap{{QStringLiteral("desktop-entry"), appId}} << qint32(-1);
    m_callPending = true;
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                m_callPending = false;
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isError())
                    qCDebug(lcShell) << "notice not shown:" << reply.error().message();
                else
                    m_shownId = reply.value();
                if (std::optional<Text> next = std::exchange(m_next, std::nullopt))
                    send(*next);
            });
}

} // namespace fernpoint
