#pragma once

#include "HelperClient.h"

#include <QList>
#include <QString>

#include <optional>

namespace fernpoint::test {

// An in-process helper client. Every operation is recorded with its completion, and the test
// completes them when and in the order it likes, or has them complete synchronously inside the
// call.
class FakeHelperClient final : public HelperClient {
public:
    struct StartCall {
        QString networkID;
        bool natEnabled = false;
        HelperCompletion<Nothing> completion;
    };
    struct NatCall {
        bool enabled = false;
        HelperCompletion<Nothing> completion;
    };

    QList<StartCall> starts;
    QList<HelperCompletion<Nothing>> stops;
    QList<NatCall> natCalls;
    QList<HelperCompletion<GatewayStatus>> statusCalls;

    // When set, commands and status requests complete inside the call with these results.
    std::optional<HelperResult<Nothing>> immediateCommandResult;
    std::optional<HelperResult<GatewayStatus>> immediateStatusResult;

    void reset() {
        starts.clear();
        stops.clear();
        natCalls.clear();
        statusCalls.clear();
        immediateCommandResult.reset();
        immediateStatusResult.reset();
    }

    void ping(HelperCompletion<QString> completion) override { completion(QString()); }
    void startGateway(const QString& networkID, bool natEnabled,
                      HelperCompletion<Nothing> completion) override {
        starts.append({networkID, natEnabled, completion});
        if (immediateCommandResult)
            completion(*immediateCommandResult);
    }
    void stopGateway(HelperCompletion<Nothing> completion) override {
        stops.append(completion);
        if (immediateCommandResult)
            completion(*immediateCommandResult);
    }
    void setNat(bool enabled, HelperCompletion<Nothing> completion) override {
        natCalls.append({enabled, completion});
        if (immediateCommandResult)
            completion(*immediateCommandResult);
    }
    void gatewayStatus(HelperCompletion<GatewayStatus> completion) override {
        statusCalls.append(completion);
        if (immediateStatusResult)
            completion(*immediateStatusResult);
    }
    void uninstall(HelperCompletion<Nothing> completion) override { completion(Nothing{}); }
};

} // namespace fernpoint::test
