#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

namespace fernpoint {

// A stand-in for the gateway core, so that the application can be run end to end on a machine
// without one. Starting walks through "starting"/"connecting" to "running"/"connected" on timers;
// everything it reports about a network derives from a hash of the Network ID, so runs are
// repeatable and the status never shows the ID itself.
class SimulatedGatewayCore final : public QObject {
    Q_OBJECT
public:
    enum class State { Stopped, Starting, Running };

    explicit SimulatedGatewayCore(int stepDelayMs, QObject* parent = nullptr);
    SimulatedGatewayCore(const SimulatedGatewayCore&) = delete;
    SimulatedGatewayCore& operator=(const SimulatedGatewayCore&) = delete;

    // The Network ID must already be validated.
    void start(const QString& networkId, bool natEnabled);
    void stop();
    void setNatEnabled(bool enabled) { m_natEnabled = enabled; }

    State state() const { return m_state; }
    bool isConnected() const { return m_connected; }

    // The "data" object of the status JSON.
    QJsonObject statusData() const;

private:
    void onRunning();
    void onConnected();

    int m_stepDelayMs;
    State m_state = State::Stopped;
    bool m_connected = false;
    bool m_natEnabled = false;
    QString m_networkId;
    qint64 m_lastPolicyAt = 0;
    QTimer m_runningTimer;
    QTimer m_connectedTimer;
};

} // namespace fernpoint
