#pragma once

#include "Authorizer.h"

#include <QDBusConnection>
#include <QObject>

namespace fernpoint {

// Asks polkit on the bus the call came in on, with the caller's unique bus name as the subject:
// the name cannot be reused by another process while the call is in flight, unlike a PID.
// Anything but a clear "authorized" (polkit missing, an error, no answer in time) is a refusal.
class PolkitAuthorizer final : public QObject, public Authorizer {
    Q_OBJECT
public:
    PolkitAuthorizer(const QDBusConnection& bus, int timeoutMs, QObject* parent = nullptr);
    PolkitAuthorizer(const PolkitAuthorizer&) = delete;
    PolkitAuthorizer& operator=(const PolkitAuthorizer&) = delete;

    void check(const QString& callerBusName, const QString& actionId,
               const Decision& decision) override;

private:
    void cancel(const QString& cancellationId);

    QDBusConnection m_bus;
    int m_timeoutMs;
    quint64 m_nextCheck = 1;
};

} // namespace fernpoint
