#include "PolkitAuthorizer.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QMap>

#include <algorithm>

namespace fernpoint {
namespace {

const QString kPolkitService = QStringLiteral("org.freedesktop.PolicyKit1");
const QString kPolkitPath = QStringLiteral("/org/freedesktop/PolicyKit1/Authority");
const QString kPolkitInterface = QStringLiteral("org.freedesktop.PolicyKit1.Authority");
constexpr uint kNoUserInteraction = 0;
constexpr uint kAllowUserInteraction = 1;

QDBusArgument systemBusNameSubject(const QString& busName) {
    QDBusArgument subject;
    subject.beginStructure();
    subject << QStringLiteral("system-bus-name");
    subject.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QDBusVariant>());
    subject.beginMapEntry();
    subject << QStringLiteral("name") << QDBusVariant(busName);
    subject.endMapEntry();
    subject.endMap();
    subject.endStructure();
    return subject;
}

QDBusArgument noDetails() {
    QDBusArgument details;
    details.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
    details.endMap();
    return details;
}

} // namespace

PolkitAuthorizer::PolkitAuthorizer(const QDBusConnection& bus, int interactiveWaitMs,
                                   QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_interactiveWaitMs(interactiveWaitMs) {}

void PolkitAuthorizer::check(const Request& request, const Decision& decision) {
    if (!request.callerBusName.startsWith(QLatin1Char(':'))) {
        // Only a unique name identifies one connection; refuse anything else outright.
        decision(false, QStringLiteral("the caller has no unique bus name"));
        return;
    }
    const QString actionId = request.actionId;
    const QString cancellationId = request.checkId;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kPolkitService, kPolkitPath, kPolkitInterface, QStringLiteral("CheckAuthorization"));
    call << QVariant::fromValue(systemBusNameSubject(request.callerBusName)) << actionId
         << QVariant::fromValue(noDetails())
         << (request.interactive ? kAllowUserInteraction : kNoUserInteraction) << cancellationId;
    const int waitMs = request.interactive ? m_interactiveWaitMs
                                           : std::min(m_interactiveWaitMs, kPlainCheckWaitMs);

    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, waitMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, decision, cancellationId, actionId]() {
                watcher->deleteLater();
                const QDBusMessage reply = watcher->reply();
                if (reply.type() != QDBusMessage::ReplyMessage) {
                    const QDBusError error = watcher->error();
                    if (error.type() == QDBusError::NoReply ||
                        error.type() == QDBusError::Timeout ||
                        error.type() == QDBusError::TimedOut) {
                        cancel(cancellationId);
                        decision(false, QStringLiteral("polkit did not answer in time"));
                    } else {
                        decision(false, QStringLiteral("polkit could not check the call (%1: %2)")
                                            .arg(error.name(), error.message()));
                    }
                    return;
                }
                if (reply.signature() != QLatin1StringView("(bba{ss})") ||
                    reply.arguments().size() != 1) {
                    decision(false, QStringLiteral("polkit gave an answer of the wrong shape"));
                    return;
                }
                bool authorized = false;
                bool challenge = false;
                QMap<QString, QString> details;
                const QDBusArgument result = reply.arguments().at(0).value<QDBusArgument>();
                result.beginStructure();
                result >> authorized >> challenge >> details;
                result.endStructure();
                if (authorized) {
                    decision(true, QString());
                } else if (challenge) {
                    decision(
                        false,
                        QStringLiteral("%1 needs an administrator's authentication").arg(actionId));
                } else {
                    decision(false, QStringLiteral("polkit refused %1").arg(actionId));
                }
            });
}

void PolkitAuthorizer::cancel(const QString& checkId) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kPolkitService, kPolkitPath, kPolkitInterface, QStringLiteral("CancelCheckAuthorization"));
    call << checkId;
    m_bus.send(call);
}

} // namespace fernpoint
