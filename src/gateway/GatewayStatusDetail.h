#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace fernpoint {

// One endpoint of the gateway and whether it is reachable.
struct EndpointStatus {
    QString address;
    bool ok = false;
};

// The parsed status snapshot; a new reply produces a new snapshot.
struct GatewayStatusDetail {
    bool isConnected = false;
    QString statusText = QStringLiteral("-");
    std::optional<QString> networkName;
    std::optional<QString> networkDesc;
    std::optional<QString> localMgmtCIDR;
    std::optional<std::int64_t> listenPort;
    std::optional<QString> coreState;
    std::optional<std::int64_t> peerCount;
    std::optional<QString> lastPolicyAt;
    bool natEnabled = false;
    QList<EndpointStatus> endpoints;
    QList<QString> remoteMgmtCIDRs;
};

} // namespace fernpoint
