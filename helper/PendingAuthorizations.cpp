#include "PendingAuthorizations.h"

#include "CallLog.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

namespace fernpoint {

PendingAuthorizations::PendingAuthorizations(const QDBusConnection& bus, Authorizer& authorizer,
                                             QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_authorizer(authorizer)
    , m_departures(QString(), bus, QDBusServiceWatcher::WatchForUnregistration) {
    connect(&m_departures, &QDBusServiceWatcher::serviceUnregistered, this,
            &PendingAuthorizations::onCallerGone);
}

PendingAuthorizations::Admission
PendingAuthorizations::check(const QString& method, const QString& caller, const QString& actionId,
                             bool interactive, const Result& result) {
    auto it = m_callers.find(caller);
    if (it == m_callers.end()) {
        // Watched before its user is asked for: a caller that leaves after that answer is seen
        // leaving, and one that left before has no user to answer with.
        m_departures.addWatchedService(caller);
        const QDBusReply<uint> uid = m_bus.interface()->serviceUid(caller);
        if (!uid.isValid()) {
            m_departures.removeWatchedService(caller);
            logCall(method, caller, QStringLiteral("nothing done: the caller is gone"));
            return Admission::CallerGone;
        }
        it = m_callers.insert(caller, Caller{uid.value(), 0, 0});
    }

    Caller& entry = it.value();
    const bool connectionBusy = entry.pending >= kPerConnection;
    if (connectionBusy || m_pendingPerUser.value(entry.uid) >= kPerUser) {
        // One line per caller, however many it sends; the count follows when it leaves.
        if (entry.turnedAway++ == 0) {
            logCall(method, describe(caller),
                    QStringLiteral("turned away: too many of its calls wait for authorization "
                                   "(further ones are counted, not logged)"));
        }
        return connectionBusy ? Admission::ConnectionBusy : Admission::UserBusy;
    }

    ++entry.pending;
    ++m_pendingPerUser[entry.uid];
    const QString checkId = QStringLiteral("fernpoint-helper-%1").arg(m_nextCheck++);
    m_checks.insert(checkId, Waiting{caller, result});
    // The decision may come before check() returns; nothing of this caller's entry is used after.
    m_authorizer.check({caller, actionId, interactive, checkId},
                       [this, checkId](bool allowed, const QString& reason) {
                           finish(checkId, allowed ? Outcome::Allowed : Outcome::Refused, reason);
                       });
    return Admission::Admitted;
}

QString PendingAuthorizations::describe(const QString& caller) const {
    const auto it = m_callers.constFind(caller);
    if (it == m_callers.constEnd())
        return caller;
    return QStringLiteral("%1 (uid %2)").arg(caller).arg(it->uid);
}

void PendingAuthorizations::finish(const QString& checkId, Outcome outcome, const QString& reason) {
    const auto it = m_checks.constFind(checkId);
    if (it == m_checks.constEnd())
        return; // its caller left: the decision comes too late to matter
    const Waiting waiting = it.value();
    m_checks.erase(it);
    waiting.result(outcome, reason);
    release(waiting.caller);
}

void PendingAuthorizations::release(const QString& caller) {
    const auto it = m_callers.find(caller);
    if (it == m_callers.end())
        return;
    --it->pending;
    if (--m_pendingPerUser[it->uid] <= 0)
        m_pendingPerUser.remove(it->uid);
    // A caller that was turned away stays known until it leaves, for the count of its log line.
    if (it->pending <= 0 && it->turnedAway == 0) {
        m_callers.erase(it);
        m_departures.removeWatchedService(caller);
    }
}

void PendingAuthorizations::onCallerGone(const QString& caller) {
    QList<Result> abandoned;
    for (auto it = m_checks.begin(); it != m_checks.end();) {
        if (it->caller != caller) {
            ++it;
            continue;
        }
        m_authorizer.cancel(it.key());
        abandoned.append(it->result);
        it = m_checks.erase(it);
    }
    for (const Result& result : std::as_const(abandoned))
        result(Outcome::CallerGone, QString());
    forget(caller);
}

void PendingAuthorizations::forget(const QString& caller) {
    const auto it = m_callers.constFind(caller);
    if (it == m_callers.constEnd())
        return;
    if (it->turnedAway > 1) {
        logLine(QStringLiteral("%1 left; %2 of its calls were turned away in all")
                    .arg(describe(caller))
                    .arg(it->turnedAway));
    }
    if (it->pending > 0 && (m_pendingPerUser[it->uid] -= it->pending) <= 0)
        m_pendingPerUser.remove(it->uid);
    m_callers.erase(it);
    m_departures.removeWatchedService(caller);
}

} // namespace fernpoint
