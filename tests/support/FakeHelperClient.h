#pragma once

#include "HelperClient.h"

#include <QStringList>

namespace fernpoint::test {

// A helper inside the test process. Every call is logged as one line ("startGateway <id> 1",
// "stopGateway", "setNat 0", "gatewayStatus", "ping", "uninstall"). Commands and status requests
// complete at once, or, while held, wait in heldCommands / heldStatus for the test to answer.
// Behind it runs a pretend core: a command that succeeds at once turns it on or off or sets its
// NAT, and a status answered at once describes it.
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

    qsizetype count(QStringView call) const { return calls.count(call.toString()); }

    void ping(HelperCompletion<QString> completion) override {
        calls << QStringLiteral("ping");
        completion(QStringLiteral("pong"));
    }
    void startGateway(const QString& id, bool nat, HelperCompletion<Nothing> completion) override {
        calls << QStringLiteral("startGateway %1 %2").arg(id).arg(nat);
        command(std::move(completion), nat, true);
    }
    void stopGateway(HelperCompletion<Nothing> completion) override {
        calls << QStringLiteral("stopGateway");
        command(std::move(completion), coreNat, false);
    }
    void setNat(bool enabled, HelperCompletion<Nothing> completion) override {
        calls << QStringLiteral("setNat %1").arg(enabled);
        command(std::move(completion), enabled, coreRunning);
    }
    void gatewayStatus(HelperCompletion<GatewayStatus> completion) override {
        calls << QStringLiteral("gatewayStatus");
        if (holdStatus)
            return heldStatus.append(std::move(completion));
        // While it runs, connected to a named network.
        completion(GatewayStatus{
            true,
            QStringLiteral(R"({"ok":true,"data":{"conn_state":"%1","state":"%2","Nat":%3,)"
                           R"("network_name":"Fern Lab"}})")
                .arg(coreRunning ? QStringLiteral("connected") : QStringLiteral("disconnected"),
                     coreRunning ? QStringLiteral("running") : QStringLiteral("stopped"),
                     coreNat ? QStringLiteral("true") : QStringLiteral("false")),
            coreRunning});
    }
    void uninstall(HelperCompletion<Nothing> completion) override {
        calls << QStringLiteral("uninstall");
        completion(Nothing{});
    }

private:
    // The core's NAT and running state become these once the command succeeds at once.
    void command(HelperCompletion<Nothing> completion, bool nat, bool running) {
        if (holdCommands)
            return heldCommands.append(std::move(completion));
        if (commandResult.isSuccess())
            coreNat = nat, coreRunning = running;
        completion(commandResult);
    }
};

} // namespace fernpoint::test
