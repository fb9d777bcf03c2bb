#include "HelperService.h"

#include "CallLog.h"
#include "HelperBuildInfo.h"
#include "NetworkIdRule.h"
#include "PendingAuthorizations.h"
#include "SimulatedGatewayCore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonDocument>
#include <QJsonObject>

namespace fernpoint {
namespace {

QStringList optionalText(const QString& text) {
    return text.isNull() ? QStringList() : QStringList{text};
}

QString outcomeText(bool ok, const QString& message) {
    if (ok)
        return message.isNull() ? QStringLiteral("ok") : QStringLiteral("ok: ") + message;
    return QStringLiteral("refused: ") + message;
}

} // namespace

HelperService::HelperService(SimulatedGatewayCore& core, PendingAuthorizations& authorizations,
                             UninstallAction uninstall, QObject* parent)
    : QObject(parent)
    , m_core(core)
    , m_authorizations(authorizations)
    , m_uninstall(std::move(uninstall)) {}

QStringList HelperService::Ping() {
    logReadCall(QStringLiteral("Ping"), message().service(), QStringLiteral("ok"));
    return {QString(contract::kVersion)};
}

bool HelperService::GatewayStatus(QStringList& statusJSON, bool& isRunning) {
    QJsonObject status;
    status.insert(QStringLiteral("ok"), true);
    status.insert(QStringLiteral("data"), m_core.statusData());
    statusJSON = {QString::fromUtf8(QJsonDocument(status).toJson(QJsonDocument::Compact))};
    isRunning = m_core.isConnected();
    logReadCall(QStringLiteral("GatewayStatus"), message().service(),
                isRunning ? QStringLiteral("ok, connected") : QStringLiteral("ok, not connected"));
    return true;
}

bool HelperService::StartGateway(const QString& networkID, bool natEnabled, QStringList& message) {
    const QString method = QStringLiteral("StartGateway");
    if (!isValidNetworkId(networkID)) {
        // Refused before anyone is asked: nothing of the text goes further, not even the log.
        message = {invalidNetworkIdMessage()};
        logCall(method, this->message().service(), outcomeText(false, message.first()));
        return false;
    }
    authorizeThen(method, build::kControlAction,
                  [this, networkID, natEnabled]() { return startGateway(networkID, natEnabled); });
    return false;
}

bool HelperService::SetNat(bool enabled, QStringList& /*message*/) {
    authorizeThen(QStringLiteral("SetNat"), build::kControlAction,
                  [this, enabled]() { return setNat(enabled); });
    return false;
}

bool HelperService::StopGateway(QStringList& /*message*/) {
    authorizeThen(QStringLiteral("StopGateway"), build::kControlAction,
                  [this]() { return stopGateway(); });
    return false;
}

bool HelperService::Uninstall(QStringList& /*message*/) {
    authorizeThen(QStringLiteral("Uninstall"), build::kUninstallAction,
                  [this]() { return uninstall(); });
    return false;
}

void HelperService::authorizeThen(const QString& method, const QString& actionId,
                                  const std::function<Answer()>& work) {
    setDelayedReply(true);
    const QDBusMessage request = message();
    QDBusConnection bus = connection();
    const QString caller = request.service();
    using Outcome = PendingAuthorizations::Outcome;
    const auto admission = m_authorizations.check(
        method, caller, actionId, request.isInteractiveAuthorizationAllowed(),
        [this, bus, request, method, caller, work](Outcome outcome, const QString& reason) mutable {
            const QString who = m_authorizations.describe(caller);
            if (outcome == Outcome::CallerGone) {
                logCall(method, who,
                        QStringLiteral("nothing done: the caller left before it was authorized"));
                return;
            }
            const Answer answer = outcome == Outcome::Allowed
                                      ? work()
                                      : Answer{false, QStringLiteral("not authorized: ") + reason};
            bus.send(
                request.createReply({QVariant(answer.ok), QVariant(optionalText(answer.message))}));
            logCall(method, who, outcomeText(answer.ok, answer.message));
            if (answer.ok && method == QLatin1StringView("Uninstall"))
                Q_EMIT uninstalled();
        });
    switch (admission) {
    case PendingAuthorizations::Admission::Admitted:
        return;
    case PendingAuthorizations::Admission::CallerGone: // answered for a caller without a bus name
        bus.send(request.createErrorReply(QDBusError::AccessDenied,
                                          QStringLiteral("the caller cannot be identified")));
        return;
    case PendingAuthorizations::Admission::ConnectionBusy:
        bus.send(request.createErrorReply(
            QDBusError::LimitsExceeded,
            QStringLiteral("too many calls of this connection are waiting for authorization (at "
                           "most %1); try again once they are answered")
                .arg(PendingAuthorizations::kPerConnection)));
        return;
    case PendingAuthorizations::Admission::UserBusy:
        bus.send(request.createErrorReply(
            QDBusError::LimitsExceeded,
            QStringLiteral("too many calls of this user are waiting for authorization (at most "
                           "%1); try again once they are answered")
                .arg(PendingAuthorizations::kPerUser)));
        return;
    }
}

HelperService::Answer HelperService::startGateway(const QString& networkId, bool natEnabled) {
    if (m_core.state() != SimulatedGatewayCore::State::Stopped) {
        return {false, QStringLiteral("the gateway is already running; disconnect first")};
    }
    m_core.start(networkId, natEnabled);
    return {true, QString()};
}

HelperService::Answer HelperService::setNat(bool enabled) {
    if (m_core.state() != SimulatedGatewayCore::State::Stopped)
        return {false, QStringLiteral("NAT cannot be changed while the gateway is running; "
                                      "disconnect first")};
    m_core.setNatEnabled(enabled);
    return {true, QString()};
}

HelperService::Answer HelperService::stopGateway() {
    m_core.stop();
    return {true, QString()};
}

HelperService::Answer HelperService::uninstall() {
    m_core.stop();
    const QString problem = m_uninstall();
    if (!problem.isEmpty())
        return {false, problem};
    return {true, QString()};
}

} // namespace fernpoint
