// The helper dying under the controller and the window: killed while a start or a status request
// waits for its answer, and crashing and coming back while the window polls.

#include "DBusHelperClient.h"
#include "FaultTestSupport.h"
#include "GatewayManager.h"
#include "MainButton.h"
#include "ScriptedHelperProcess.h"

#include <QLineEdit>

#include <QTest>

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::ScriptedHelperProcess;
using Reply = ScriptedHelperProcess::Reply;

namespace {

constexpr int kWaitMs = 15000;
const QString kId = QStringLiteral("0123456789abcdef");
const QString kXpcPrefix = QStringLiteral("XPC 通信错误：");

} // namespace

class TestHelperFaults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedWhileAnswerPending_data();
    void killedWhileAnswerPending();
    void crashedHelperComesBack();
};

void TestHelperFaults::killedWhileAnswerPending_data() {
    QTest::addColumn<QString>("method");
    QTest::newRow("during a start") << QStringLiteral("StartGateway");
    QTest::newRow("during a status request") << QStringLiteral("GatewayStatus");
}

void TestHelperFaults::killedWhileAnswerPending() {
    QFETCH(QString, method);

    PrivateBus bus;
    QVERIFY(bus.isRunning());
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"),
                            Reply::answer(true, test::runningStatusJson(), true)));
    DBusHelperClient client(bus.address());
    GatewayManager manager(client);
    manager.startStatusPolling(3600); // only the requests this test makes

    // A running gateway first, so that the failure has something to clear.
    manager.applyNatSetting();
    QTRY_VERIFY_WITH_TIMEOUT(manager.uiRunning(), kWaitMs);
    QVERIFY(manager.currentStatus().has_value());
    QVERIFY(manager.natEnabled());
    QVERIFY(helper.clearCalls());

    // The answer is held back until long after the helper is gone.
    QVERIFY(helper.setReply(method, Reply::with(Reply::Behaviour::Answer, 60000)));
    if (method == QLatin1StringView("StartGateway")) {
        manager.setNetworkID(kId);
        manager.startGateway();
        QVERIFY(manager.isBusy());
    } else {
        manager.applyNatSetting(); // its answer asks for the status once
    }
    QVERIFY(helper.waitForCalls(method == QLatin1StringView("StartGateway") ? 1 : 2));
    QCOMPARE(helper.calls().last().method, method);
    const QString firstSender = helper.calls().last().sender;

    QSignalSpy errorChanges(&manager, &GatewayManager::lastErrorMessageChanged);
    helper.kill();
    QTRY_VERIFY_WITH_TIMEOUT(errorChanges.count() > 0, kWaitMs);

    const QString line = manager.lastErrorMessage().value_or(QString());
    QVERIFY2(line.startsWith(kXpcPrefix) && line.size() > kXpcPrefix.size(), qPrintable(line));
    QVERIFY(!manager.isBusy());
    QVERIFY(!manager.isRunning());
    QVERIFY(!manager.uiRunning());
    QVERIFY(!manager.currentStatus().has_value());
    // Neither failure touches the last JSON text or the NAT choice.
    QCOMPARE(manager.lastStatusJSON(), test::runningStatusJson());
    QVERIFY(manager.natEnabled());
    QTest::qWait(200);
    QCOMPARE(errorChanges.count(), 1); // the failure is reported once

    // A new helper: the next operation opens a new connection and its status is applied again.
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"),
                            Reply::answer(true, test::runningStatusJson(), true)));
    manager.applyNatSetting();
    QTRY_VERIFY_WITH_TIMEOUT(manager.currentStatus().has_value(), kWaitMs);
    QVERIFY(manager.uiRunning());
    QVERIFY(manager.isRunning());
    const QList<ScriptedHelperProcess::Call> calls = helper.calls();
    QCOMPARE(calls.size(), 2);
    QVERIFY(calls.at(0).sender != firstSender);
    QCOMPARE(calls.at(1).sender, calls.at(0).sender);
    // A status answer does not clear the error line; only a start or a stop does.
    QCOMPARE(manager.lastErrorMessage(), std::optional(line));
}

void TestHelperFaults::crashedHelperComesBack() {
    PrivateBus bus;
    QVERIFY(bus.isRunning());
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"),
                            Reply::answer(true, test::runningStatusJson(), true)));
    DBusHelperClient client(bus.address());
    test::WarningCapture warnings;
    test::WindowRig rig(client);
    QVERIFY(rig.showAndSettle());
    rig.manager().startStatusPolling(0.2);

    QTRY_VERIFY_WITH_TIMEOUT(rig.manager().uiRunning(), kWaitMs);
    QVERIFY(!rig.banner().has_value());
    QTest::keyClicks(rig.view->networkIdField(), kId);

    // The next status request crashes the helper before it answers.
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"), Reply::with(Reply::Behaviour::Abort)));
    QVERIFY(helper.waitForExit(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(rig.banner().has_value(), kWaitMs);
    const QString line = *rig.banner();
    QVERIFY2(line.startsWith(kXpcPrefix), qPrintable(line));
    QCOMPARE(rig.manager().lastErrorMessage(), std::optional(line));
    QVERIFY(!rig.manager().currentStatus().has_value());
    QVERIFY(!rig.manager().uiRunning());
    QTRY_COMPARE_WITH_TIMEOUT(
        warnings.count(QStringLiteral("⚠️ [app] XPC connection interrupted")), 1, kWaitMs);

    // Polls with no helper fail too, and keep the banner.
    QTest::qWait(600);
    QCOMPARE(rig.banner().has_value(), true);

    // The name comes back: the next poll reconnects and its status is applied, while the banner
    // keeps the last error line.
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"),
                            Reply::answer(true, test::runningStatusJson(), true)));
    QTRY_VERIFY_WITH_TIMEOUT(rig.manager().currentStatus().has_value(), kWaitMs);
    QVERIFY(rig.manager().uiRunning());
    QTest::qWait(600); // a few more successful polls
    QVERIFY(rig.manager().currentStatus().has_value());
    QVERIFY(rig.banner().has_value());
    QVERIFY(rig.banner()->startsWith(kXpcPrefix));

    // A command clears it: the main button now disconnects.
    QVERIFY(rig.view->mainButton()->isEnabled());
    QTest::mouseClick(rig.view->mainButton(), Qt::LeftButton);
    QVERIFY(!rig.manager().lastErrorMessage().has_value());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->errorBanner()->isVisible(), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.manager().isBusy(), kWaitMs);
    bool stopSent = false;
    for (const ScriptedHelperProcess::Call& call : helper.calls())
        stopSent = stopSent || call.method == QLatin1StringView("StopGateway");
    QVERIFY(stopSent);
}

QTEST_MAIN(TestHelperFaults)
#include "tst_HelperFaults.moc"
