#pragma once

#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "HelperJobProbe.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"
#include "PrivilegedRunner.h"

#include <QtTest>
#include <QtWidgets>

namespace fernpoint::test {

// Stand in for the bus look-up of a running helper job (it is there) and for pkexec (never run).
struct FakeJobProbe final : HelperJobProbe {
    int calls = 0;
    bool isHelperJobPresent() override { return ++calls > 0; }
};
struct FakeRunner final : PrivilegedRunner {
    Outcome run(const QString&, const QStringList&) override {
        return {Outcome::Kind::AuthorizerMissing, 0, QString()};
    }
};

// Makes the manager ask for its status once (through a NAT command, which leaves the error line
// and the busy flag alone) and answers with the given reply; returns once it is published. The
// manager's own polls are held and never answered.
inline bool publishStatus(GatewayManager& manager, FakeHelperClient& client,
                          const std::optional<QString>& json, bool running = false) {
    QSignalSpy published(&manager, &GatewayManager::currentStatusChanged);
    client.holdStatus = true;
    client.heldStatus.clear();
    manager.applyNatSetting();
    if (!QTest::qWaitFor([&] { return !client.heldStatus.isEmpty(); }, 2000))
        return false;
    client.heldStatus.takeFirst()(GatewayStatus{true, json, running});
    return published.wait(2000) || published.count() > 0;
}

// The same with a status whose "data" object is given.
inline bool publishData(GatewayManager& manager, FakeHelperClient& client,
                        const QJsonObject& data) {
    const QJsonObject reply{{QStringLiteral("ok"), true}, {QStringLiteral("data"), data}};
    return publishStatus(manager, client,
                         QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)));
}

} // namespace fernpoint::test
