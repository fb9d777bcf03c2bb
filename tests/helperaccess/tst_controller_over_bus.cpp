// The gateway controller on the real helper client, against the scripted helper on a private
// bus: what the user sees when the helper accepts or refuses a connect.

#include "DBusHelperClient.h"
#include "GatewayManager.h"
#include "PrivateBus.h"
#include "ScriptedHelperProcess.h"

#include <QTest>

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::ScriptedHelperProcess;
using Reply = ScriptedHelperProcess::Reply;

Q_DECLARE_METATYPE(Reply)

namespace {

constexpr int kWaitMs = 15000;
const QString kRunningStatus =
    QStringLiteral(R"({"ok":true,"data":{"conn_state":"connected","network_name":"Head office",)"
                   R"("state":"running","Nat":true,"peers":2}})");

} // namespace

class TestControllerOverBus final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void connect_data();
    void connect();
};

void TestControllerOverBus::connect_data() {
    QTest::addColumn<Reply>("startReply");
    QTest::addColumn<QString>("errorLine"); // null when no error is expected

    QTest::newRow("accepted") << Reply::answer(true) << QString();
    QTest::newRow("refused without a message")
        << Reply::answer(false) << QStringLiteral("unknown error");
    QTest::newRow("refused with a message")
        << Reply::answer(false, QStringLiteral("core binary missing"))
        << QStringLiteral("core binary missing");
}

void TestControllerOverBus::connect() {
    QFETCH(Reply, startReply);
    QFETCH(QString, errorLine);

    PrivateBus bus;
    QVERIFY(bus.isRunning());
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("StartGateway"), startReply));
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"),
                            Reply::answer(true, kRunningStatus, true)));
    DBusHelperClient client(bus.address());
    GatewayManager manager(client);

    manager.setNetworkID(QStringLiteral(" \t0123456789abcdef\n"));
    manager.startGateway();
    QVERIFY(manager.isBusy());
    QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), kWaitMs);
    QCOMPARE(helper.calls().at(0).method, QStringLiteral("StartGateway"));
    QCOMPARE(helper.calls().at(0).arguments,
             (QVariantList{QStringLiteral("0123456789abcdef"), false}));

    if (errorLine.isNull()) {
        // The accepted start is followed at once by a status request, whose answer is applied.
        QTRY_VERIFY_WITH_TIMEOUT(manager.currentStatus().has_value(), kWaitMs);
        QCOMPARE(helper.calls().size(), 2);
        QCOMPARE(manager.currentStatus()->networkName,
                 std::optional(QStringLiteral("Head office")));
        QVERIFY(manager.isRunning() && manager.uiRunning() && manager.natEnabled());
        QCOMPARE(manager.lastStatusJSON(), kRunningStatus);
        QVERIFY(!manager.lastErrorMessage().has_value());
    } else {
        QCOMPARE(manager.lastErrorMessage(), std::optional(errorLine));
        QTest::qWait(100);
        QCOMPARE(helper.calls().size(), 1); // no status request after a refusal
        QVERIFY(!manager.uiRunning() && !manager.isRunning());
    }
}

QTEST_GUILESS_MAIN(TestControllerOverBus)
#include "tst_controller_over_bus.moc"
