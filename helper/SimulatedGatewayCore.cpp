#include "SimulatedGatewayCore.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>

namespace fernpoint {
namespace {

// Stable pseudo-random bytes per network, so that the same Network ID always shows the same
// simulated network.
QByteArray networkBytes(const QString& networkId) {
    return QCryptographicHash::hash(networkId.toLower().toLatin1(), QCryptographicHash::Sha256);
}

int byteAt(const QByteArray& bytes, int index) {
    return static_cast<unsigned char>(bytes.at(index));
}

QLatin1StringView connectionWord(SimulatedGatewayCore::State state, bool connected) {
    if (connected)
        return QLatin1StringView("connected");
    return state == SimulatedGatewayCore::State::Stopped ? QLatin1StringView("disconnected")
                                                         : QLatin1StringView("connecting");
}

QLatin1StringView stateWord(SimulatedGatewayCore::State state) {
    switch (state) {
    case SimulatedGatewayCore::State::Stopped:
        return QLatin1StringView("stopped");
    case SimulatedGatewayCore::State::Starting:
        return QLatin1StringView("starting");
    case SimulatedGatewayCore::State::Running:
        return QLatin1StringView("running");
    }
    return QLatin1StringView("stopped");
}

} // namespace

SimulatedGatewayCore::SimulatedGatewayCore(int stepDelayMs, QObject* parent)
    : QObject(parent)
    , m_stepDelayMs(stepDelayMs) {
    m_runningTimer.setSingleShot(true);
    m_connectedTimer.setSingleShot(true);
    connect(&m_runningTimer, &QTimer::timeout, this, &SimulatedGatewayCore::onRunning);
    connect(&m_connectedTimer, &QTimer::timeout, this, &SimulatedGatewayCore::onConnected);
}

void SimulatedGatewayCore::start(const QString& networkId, bool natEnabled) {
    m_networkId = networkId;
    m_natEnabled = natEnabled;
    m_state = State::Starting;
    m_connected = false;
    m_lastPolicyAt = 0;
    m_runningTimer.start(m_stepDelayMs);
    m_connectedTimer.start(2 * m_stepDelayMs);
}

void SimulatedGatewayCore::stop() {
    m_runningTimer.stop();
    m_connectedTimer.stop();
    m_state = State::Stopped;
    m_connected = false;
    m_lastPolicyAt = 0;
    m_networkId.clear();
}

void SimulatedGatewayCore::onRunning() {
    m_state = State::Running;
}

void SimulatedGatewayCore::onConnected() {
    // The connection can only be up once the core runs, even with a zero delay.
    m_state = State::Running;
    m_connected = true;
    m_lastPolicyAt = QDateTime::currentSecsSinceEpoch();
}

QJsonObject SimulatedGatewayCore::statusData() const {
    QJsonObject data;
    data.insert(QStringLiteral("conn_state"), QString(connectionWord(m_state, m_connected)));
    data.insert(QStringLiteral("state"), QString(stateWord(m_state)));
    data.insert(QStringLiteral("Nat"), m_natEnabled);
    if (m_state == State::Stopped) {
        data.insert(QStringLiteral("endpoints"), QJsonArray());
        data.insert(QStringLiteral("mgmt_ips"), QJsonArray());
        return data;
    }

    // Every local user may read the status, so nothing in it reveals the Network ID: the name
    // comes from a hash of it.
    const QByteArray bytes = networkBytes(m_networkId);
    const QString name = QStringLiteral("fernnet-") + QString::fromLatin1(bytes.mid(12, 2).toHex());
    data.insert(QStringLiteral("network_name"), name);
    data.insert(QStringLiteral("network_desc"), QStringLiteral("Simulated network ") + name);
    data.insert(QStringLiteral("address_cidr"), QStringLiteral("10.%1.%2.%3/16")
                                                    .arg(byteAt(bytes, 0))
                                                    .arg(byteAt(bytes, 1))
                                                    .arg(byteAt(bytes, 2) % 253 + 1));
    data.insert(QStringLiteral("listen_port"),
                20000 + (byteAt(bytes, 3) << 4 | byteAt(bytes, 4) >> 4));

    QJsonArray endpoints;
    QJsonArray managementAddresses;
    int peers = 0;
    if (m_connected) {
        peers = 2 + byteAt(bytes, 5) % 5;
        // Documentation address ranges only; one of them is always unreachable so that the
        // application shows both kinds of row.
        const QString port = QString::number(9000 + byteAt(bytes, 6) % 1000);
        const auto endpoint = [](const QString& address, bool ok) {
            QJsonObject row;
            row.insert(QStringLiteral("endpoints"), address);
            row.insert(QStringLiteral("ok"), ok);
            return row;
        };
        endpoints.append(
            endpoint(QStringLiteral("203.0.113.%1:").arg(byteAt(bytes, 7) % 250 + 1) + port, true));
        endpoints.append(endpoint(
            QStringLiteral("198.51.100.%1:").arg(byteAt(bytes, 8) % 250 + 1) + port, false));
        endpoints.append(
            endpoint(QStringLiteral("[2001:db8::%1]:").arg(byteAt(bytes, 9), 0, 16) + port, true));
        managementAddresses.append(QStringLiteral("10.%1.0.0/24").arg(byteAt(bytes, 10)));
        managementAddresses.append(QStringLiteral("10.%1.8.0/24").arg(byteAt(bytes, 11)));
    }
    data.insert(QStringLiteral("peers"), peers);
    data.insert(QStringLiteral("last_policy_at"), m_lastPolicyAt);
    data.insert(QStringLiteral("endpoints"), endpoints);
    data.insert(QStringLiteral("mgmt_ips"), managementAddresses);
    return data;
}

} // namespace fernpoint
