#pragma once

#include "HelperClient.h"

#include <QList>
#include <QString>

#include <optional>

namespace fernpoint::test {

// A helper that never leaves the process. Commands succeed at once; each status request is
// answered with the next reply queued by the test, or left unanswered when none is queued (so
// the controller's own 5-second polling cannot slip an extra snapshot into a test).
class FakeHelperClient final : public HelperClient {
public:
    struct Call {
        QString name;
        QString networkID;
        bool flag = false;
    };

    QList<Call> calls;
    QList<GatewayStatus> queuedStatusReplies;
    int unansweredStatusRequests = 0;

    void ping(HelperCompletion<QString> completion) override {
        calls.append({QStringLiteral("ping"), {}, false});
        completion(QStringLiteral("pong"));
    }
    void startGateway(const QString& networkID, bool natEnabled,
                      HelperCompletion<Nothing> completion) override {
        calls.append({QStringLiteral("startGateway"), networkID, natEnabled});
        completion(Nothing{});
    }
    void stopGateway(HelperCompletion<Nothing> completion) override {
        calls.append({QStringLiteral("stopGateway"), {}, false});
        completion(Nothing{});
    }
    void setNat(bool enabled, HelperCompletion<Nothing> completion) override {
        calls.append({QStringLiteral("setNat"), {}, enabled});
        completion(Nothing{});
    }
    void gatewayStatus(HelperCompletion<GatewayStatus> completion) override {
        calls.append({QStringLiteral("gatewayStatus"), {}, false});
        if (queuedStatusReplies.isEmpty()) {
            ++unansweredStatusRequests;
            return;
        }
        completion(queuedStatusReplies.takeFirst());
    }
    void uninstall(HelperCompletion<Nothing> completion) override {
        calls.append({QStringLiteral("uninstall"), {}, false});
        completion(Nothing{});
    }

    int callCount(const QString& name) const {
        int count = 0;
        for (const Call& call : calls)
            count += call.name == name ? 1 : 0;
        return count;
    }
};

} // namespace fernpoint::test
