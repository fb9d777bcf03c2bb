#pragma once

#include "HelperClient.h"
#include "HelperJobProbe.h"
#include "PrivilegedRunner.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace fernpoint::test {

// A helper that lives in the test: it records every call in a shared log and answers at once,
// or keeps the answer back (holdCommands) so the controller stays busy.
class FakeHelperClient final : public HelperClient {
public:
    explicit FakeHelperClient(std::shared_ptr<QStringList> log = std::make_shared<QStringList>())
        : m_log(std::move(log)) {}

    std::shared_ptr<QStringList> log() const { return m_log; }

    bool holdCommands = false;
    bool commandsFail = false;
    // What the core reports: "running" puts the controller into its running state.
    QString coreState = QStringLiteral("stopped");
    QString connState = QStringLiteral("disconnected");
    bool nat = false;
    std::function<void(HelperResult<Nothing>)> heldCompletion;

    void ping(HelperCompletion<QString> completion) override {
        m_log->append(QStringLiteral("ping"));
        completion(QStringLiteral("pong"));
    }
    void startGateway(const QString& networkID, bool natEnabled,
                      HelperCompletion<Nothing> completion) override {
        m_log->append(QStringLiteral("startGateway %1 %2").arg(networkID).arg(natEnabled));
        if (!commandsFail) {
            coreState = QStringLiteral("running");
            connState = QStringLiteral("connected");
        }
        answer(std::move(completion));
    }
    void stopGateway(HelperCompletion<Nothing> completion) override {
        m_log->append(QStringLiteral("stopGateway"));
        if (!commandsFail) {
            coreState = QStringLiteral("stopped");
            connState = QStringLiteral("disconnected");
        }
        answer(std::move(completion));
    }
    void setNat(bool enabled, HelperCompletion<Nothing> completion) override {
        m_log->append(QStringLiteral("setNat %1").arg(enabled));
        nat = enabled;
        answer(std::move(completion));
    }
    void gatewayStatus(HelperCompletion<GatewayStatus> completion) override {
        m_log->append(QStringLiteral("gatewayStatus"));
        const QString json =
            QStringLiteral(
                R"({"ok":true,"data":{"conn_state":"%1","state":"%2","Nat":%3,)"
                R"("network_name":"Fern Lab","network_desc":"Test bench","address_cidr":"10.8.0.2/24",)"
                R"("listen_port":51820,"peers":3,"last_policy_at":1700000000,)"
                R"("endpoints":[{"endpoints":"203.0.113.7:51820","ok":true},)"
                R"({"endpoints":"198.51.100.4:51820","ok":false}],"mgmt_ips":["10.8.0.1/24"]}})")
                .arg(connState, coreState, nat ? QStringLiteral("true") : QStringLiteral("false"));
        completion(GatewayStatus{true, json, coreState == QLatin1StringView("running")});
    }
    void uninstall(HelperCompletion<Nothing> completion) override {
        m_log->append(QStringLiteral("uninstall"));
        answer(std::move(completion));
    }

private:
    void answer(HelperCompletion<Nothing> completion) {
        if (holdCommands) {
            heldCompletion = std::move(completion);
            return;
        }
        if (commandsFail)
            completion(HelperClientError::helperFailed(QStringLiteral("core refused")));
        else
            completion(Nothing{});
    }

    std::shared_ptr<QStringList> m_log;
};

class FakeJobProbe final : public HelperJobProbe {
public:
    bool present = true;
    int calls = 0;
    bool isHelperJobPresent() override {
        ++calls;
        return present;
    }
};

// Stands in for pkexec: never runs anything, answers with a fixed outcome.
class FakeRunner final : public PrivilegedRunner {
public:
    Outcome outcome{Outcome::Kind::Finished, 1, QStringLiteral("install step refused")};
    int calls = 0;
    Outcome run(const QString&, const QStringList&) override {
        ++calls;
        return outcome;
    }
};

} // namespace fernpoint::test
