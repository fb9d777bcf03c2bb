#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace fernpoint {

class PendingAuthorizations;
class SimulatedGatewayCore;

// The object behind the generated adaptor: the six methods of the helper contract. Inputs are
// checked first; every call that changes something is then put to the authorizer with the
// caller's bus name and answered later (a delayed reply), so that the helper keeps serving others
// while polkit, or a person at an authentication dialog, decides. A person is asked only when the
// caller's message allows it (ALLOW_INTERACTIVE_AUTHORIZATION).
class HelperService final : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    // Removes the installation the running program belongs to; returns an empty text on success
    // or why it could not.
    using UninstallAction = std::function<QString()>;

    HelperService(SimulatedGatewayCore& core, PendingAuthorizations& authorizations,
                  UninstallAction uninstall, QObject* parent = nullptr);
    HelperService(const HelperService&) = delete;
    HelperService& operator=(const HelperService&) = delete;

    // Called by the adaptor. Return values of the authorized methods are ignored: they are
    // answered by a delayed reply.
    QStringList Ping();
    bool Uninstall(QStringList& message);
    bool StartGateway(const QString& networkID, bool natEnabled, QStringList& message);
    bool SetNat(bool enabled, QStringList& message);
    bool StopGateway(QStringList& message);
    bool GatewayStatus(QStringList& statusJSON, bool& isRunning);

Q_SIGNALS:
    // The helper was uninstalled and its answer is on its way; the program should end.
    void uninstalled();
    // The bus connection is gone; without it nobody can reach the helper.
    void busLost();

public Q_SLOTS:
    // Connected to the bus library's local Disconnected signal.
    void onBusDisconnected() { Q_EMIT busLost(); }

private:
    struct Answer {
        bool ok = false;
        QString message; // null: no message
    };

    // Checks the action for the current caller, then runs work and sends its answer.
    void authorizeThen(const QString& method, const QString& actionId,
                       const std::function<Answer()>& work);

    Answer startGateway(const QString& networkId, bool natEnabled);
    Answer setNat(bool enabled);
    Answer stopGateway();
    Answer uninstall();

    SimulatedGatewayCore& m_core;
    PendingAuthorizations& m_authorizations;
    UninstallAction m_uninstall;
};

} // namespace fernpoint
