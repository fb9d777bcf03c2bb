#pragma once

// Pieces shared by the benchmark and the performance harness: a helper client whose status
// completion is kept so that the same answer can be delivered again and again, and a typical
// status answer (about 1 KB, ten endpoints).

#include "HelperClient.h"

#include <QString>

namespace fernpoint::bench {

class KeptStatusClient final : public HelperClient {
public:
    HelperCompletion<GatewayStatus> statusCompletion;

    void ping(HelperCompletion<QString> completion) override { completion(QString()); }
    void startGateway(const QString&, bool, HelperCompletion<Nothing> completion) override {
        completion(Nothing{});
    }
    void stopGateway(HelperCompletion<Nothing> completion) override { completion(Nothing{}); }
    void setNat(bool, HelperCompletion<Nothing> completion) override { completion(Nothing{}); }
    void gatewayStatus(HelperCompletion<GatewayStatus> completion) override {
        statusCompletion = std::move(completion);
    }
    void uninstall(HelperCompletion<Nothing> completion) override { completion(Nothing{}); }
};

inline QString typicalStatusJson() {
    QString endpoints;
    for (int i = 0; i < 10; ++i) {
        if (i > 0)
            endpoints += QLatin1Char(',');
        endpoints += QStringLiteral(R"({"endpoints":"198.51.100.%1:20619","ok":%2})")
                         .arg(i + 10)
                         .arg(i % 3 == 0 ? QStringLiteral("false") : QStringLiteral("true"));
    }
    return QStringLiteral(
               R"({"ok":true,"data":{"conn_state":"connected","network_name":"Head office",)"
               R"("network_desc":"Edge gateways of the head office, second floor",)"
               R"("address_cidr":"10.176.20.12/24","listen_port":20619,"state":"running",)"
               R"("peers":10,"last_policy_at":1715000000,"Nat":true,"endpoints":[)") +
           endpoints +
           QStringLiteral(R"(],"mgmt_ips":["10.176.20.1/24","10.176.21.1/24","10.176.22.1/24",)"
                          R"("10.176.23.1/24"]}})");
}

} // namespace fernpoint::bench
