#pragma once

#include "Authorizer.h"

#include <QDBusConnection>
#include <QObject>

namespace fernpoint {

// Asks polkit on the bus the call came in on, with the caller's unique bus name as the subject:
// the name cannot be reused by another process while the call is in flight, unlike a PID.
// Anything but a clear "authorized" (polkit missing, an error, a challenge, no answer in time) is
// a refusal.
class PolkitAuthorizer final : public QObject, public Authorizer {
    Q_OBJECT
public:
    // The longest wait for a check without a person involved: below the 25 s a D-Bus client
    // waits for a reply by default, so that nothing happens after such a caller gave up.
    static constexpr int kPlainCheckWaitMs = 20000;

    // interactiveWaitMs: the longest wait for a check on which a person may be asked.
    PolkitAuthorizer(const QDBusConnection& bus, int interactiveWaitMs, QObject* parent = nullptr);
    PolkitAuthorizer(const PolkitAuthorizer&) = delete;
    PolkitAuthorizer& operator=(const PolkitAuthorizer&) = delete;

    void check(const Request& request, const Decision& decision) override;
    void cancel(const QString& checkId) override;

private:
    QDBusConnection m_bus;
    int m_interactiveWaitMs;
};

} // namespace fernpoint
