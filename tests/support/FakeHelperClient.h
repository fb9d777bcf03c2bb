#pragma once

#include "HelperClient.h"

#include <QList>
#include <QStringList>

#include <algorithm>

namespace fernpoint::test {

// A helper inside the test process. Every call is logged as one line ("startGateway <id> 1",
// "stopGateway", "setNat 0", "gatewayStatus", "ping", "uninstall"). Commands and status requests
// complete at once, or, while held, their completions wait in heldCommands / heldStatus for the
// test to call in any order. Behind it runs a pretend core: a start or stop that succeeds at once
// turns it on or off, such a setNat sets its NAT, and a status answered at once describes it.
class FakeHelperClient final : public HelperClient {
public:
    QStringList calls;
    bool holdCommands = false;
    bool holdStatus = false;
    HelperResult<Nothing> commandResult = Nothing{};
    QList<HelperCompletion<Nothing>> heldCommands;
    QList<HelperCompletion<GatewayStatus>> heldStatus;
    bool coreRunning = false;
    bool coreNat = false;

    qsizetype count(QStringView prefix) const {
        return std::count_if(calls.cbegin(), calls.cend(),
                             [prefix](const QString& call) { return call.startsWith(prefix); });
    }

    // The answer of the pretend core: connected with every field filled in while it runs.
    GatewayStatus coreStatus() const {
        const QString json =
            QStringLiteral(
                R"({"ok":true,"data":{"conn_state":"%1","state":"%2","Nat":%3,)"
                R"("network_name":"Fern Lab","network_desc":"Test bench","address_cidr":"10.8.0.2/24",)"
                R"("listen_port":20619,"peers":3,"last_policy_at":1700000000,)"
                R"("endpoints":[{"endpoints":"203.0.113.7:20619","ok":true},)"
                R"({"endpoints":"[2001:db8::7]:20619","ok":false}],"mgmt_ips":["10.8.0.1/24"]}})")
                .arg(coreRunning ? QStringLiteral("connected") : QStringLiteral("disconnected"),
                     coreRunning ? QStringLiteral("running") : QStringLiteral("stopped"),
                     coreNat ? QStringLiteral("true") : QStringLiteral("false"));
        return GatewayStatus{true, json, coreRunning};
    }

    void ping(HelperCompletion<QString> completion) override {
        calls.append(QStringLiteral("ping"));
        completion(QStringLiteral("pong"));
    }
    void startGateway(const QString& networkID, bool natEnabled,
                      HelperCompletion<Nothing> completion) override {
        calls.append(QStringLiteral("startGateway %1 %2").arg(networkID).arg(natEnabled));
        command(std::move(completion), [this, natEnabled] {
            coreRunning = true;
            coreNat = natEnabled;
        });
    }
    void stopGateway(HelperCompletion<Nothing> completion) override {
        calls.append(QStringLiteral("stopGateway"));
        command(std::move(completion), [this] { coreRunning = false; });
    }
    void setNat(bool enabled, HelperCompletion<Nothing> completion) override {
        calls.append(QStringLiteral("setNat %1").arg(enabled));
        command(std::move(completion), [this, enabled] { coreNat = enabled; });
    }
    void gatewayStatus(HelperCompletion<GatewayStatus> completion) override {
        calls.append(QStringLiteral("gatewayStatus"));
        if (holdStatus)
            heldStatus.append(std::move(completion));
        else
            completion(coreStatus());
    }
    void uninstall(HelperCompletion<Nothing> completion) override {
        calls.append(QStringLiteral("uninstall"));
        completion(Nothing{});
    }

private:
    template<typename Effect> void command(HelperCompletion<Nothing> completion, Effect effect) {
        if (holdCommands) {
            heldCommands.append(std::move(completion));
            return;
        }
        if (commandResult.isSuccess())
            effect();
        completion(commandResult);
    }
};

} // namespace fernpoint::test
