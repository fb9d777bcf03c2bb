#pragma once

#include "FakeHelperClient.h"
#include "GatewayManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <optional>

namespace fernpoint::test {

// The status text a helper sends for the given "data" object.
inline QString statusJson(const QJsonObject& data) {
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("data"), data}})
            .toJson(QJsonDocument::Compact));
}

// A connected gateway with every field filled in.
inline QJsonObject fullStatusData() {
    return QJsonObject{
        {QStringLiteral("conn_state"), QStringLiteral("connected")},
        {QStringLiteral("network_name"), QStringLiteral("Harbor Office")},
        {QStringLiteral("network_desc"), QStringLiteral("Branch uplink, second floor rack")},
        {QStringLiteral("address_cidr"), QStringLiteral("10.147.20.11/24")},
        {QStringLiteral("listen_port"), 9993},
        {QStringLiteral("state"), QStringLiteral("running")},
        {QStringLiteral("peers"), 7},
        {QStringLiteral("last_policy_at"), 86400},
        {QStringLiteral("Nat"), true},
        {QStringLiteral("endpoints"),
         QJsonArray{QJsonObject{{QStringLiteral("endpoints"), QStringLiteral("203.0.113.7:9993")},
                                {QStringLiteral("ok"), true}},
                    QJsonObject{{QStringLiteral("endpoints"),
                                 QStringLiteral("[2001:db8:85a3::8a2e:370:7334]:9993")},
                                {QStringLiteral("ok"), false}}}},
        {QStringLiteral("mgmt_ips"),
         QJsonArray{QStringLiteral("192.0.2.0/24"), QStringLiteral("2001:db8:1234:5678::/64")}},
    };
}

// Makes the controller ask for its status once (through a NAT command, which leaves the error
// line and the busy flag alone) and answers with the given reply. Returns when the controller has
// published the outcome.
inline bool publishStatus(GatewayManager& manager, FakeHelperClient& client,
                          const GatewayStatus& reply) {
    QSignalSpy published(&manager, &GatewayManager::currentStatusChanged);
    client.queuedStatusReplies.append(reply);
    manager.applyNatSetting();
    return published.wait(2000) || published.count() > 0;
}

inline bool publishStatus(GatewayManager& manager, FakeHelperClient& client,
                          const std::optional<QString>& json, bool running = false) {
    return publishStatus(manager, client, GatewayStatus{true, json, running});
}

inline bool publishData(GatewayManager& manager, FakeHelperClient& client,
                        const QJsonObject& data) {
    return publishStatus(manager, client, statusJson(data));
}

} // namespace fernpoint::test
