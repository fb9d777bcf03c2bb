#pragma once

#include "Authorizer.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

namespace fernpoint {

// The authorization checks in flight, per caller. One bus connection may have a few of them
// waiting and one user a few more; a call over that is turned away at once, so that nobody can
// fill the helper's pending calls (the bus allows 128) and lock everyone else out. When a caller's
// connection goes away its checks are cancelled and forgotten: nothing is ever done for a caller
// that is gone.
class PendingAuthorizations final : public QObject {
    Q_OBJECT
public:
    static constexpr int kPerConnection = 4;
    static constexpr int kPerUser = 16;

    enum class Outcome { Allowed, Refused, CallerGone };
    // reason: why not, for a refusal.
    using Result = std::function<void(Outcome outcome, const QString& reason)>;
    enum class Admission { Admitted, ConnectionBusy, UserBusy, CallerGone };

    PendingAuthorizations(const QDBusConnection& bus, Authorizer& authorizer,
                          QObject* parent = nullptr);
    PendingAuthorizations(const PendingAuthorizations&) = delete;
    PendingAuthorizations& operator=(const PendingAuthorizations&) = delete;

    // Starts a check of actionId for the caller's unique bus name. When admitted, result is called
    // exactly once (maybe before this returns); otherwise never. method only names the call in
    // the log lines of callers turned away.
    Admission check(const QString& method, const QString& caller, const QString& actionId,
                    bool interactive, const Result& result);

    // The caller as log lines name it: its bus name and, while it has checks in flight, its user.
    QString describe(const QString& caller) const;

private Q_SLOTS:
    void onCallerGone(const QString& caller);

private:
    struct Caller {
        uint uid = 0;
        int pending = 0;
        int turnedAway = 0;
    };
    struct Waiting {
        QString caller;
        Result result;
    };

    void finish(const QString& checkId, Outcome outcome, const QString& reason);
    void release(const QString& caller);
    void forget(const QString& caller);

    QDBusConnection m_bus;
    Authorizer& m_authorizer;
    QDBusServiceWatcher m_departures;
    QHash<QString, Caller> m_callers;
    QHash<uint, int> m_pendingPerUser;
    QHash<QString, Waiting> m_checks;
    quint64 m_nextCheck = 1;
};

} // namespace fernpoint
