// The bus daemon itself going away under the controller and the window, and a new daemon coming
// up on the same socket.

#include "DBusHelperClient.h"
#include "FaultTestSupport.h"
#include "MainButton.h"
#include "ScriptedHelperProcess.h"

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::ScriptedHelperProcess;
using Reply = ScriptedHelperProcess::Reply;

namespace {

constexpr int kWaitMs = 15000;
const QString kId = QStringLiteral("0123456789abcdef");
const QString kXpcPrefix = QStringLiteral("XPC 通信错误：");
const QString kInvalidated = QStringLiteral("⚠️ [app] XPC connection invalidated");

enum class Pending { Nothing, Status, Start };

} // namespace

Q_DECLARE_METATYPE(Pending)

class TestBusFaults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void busGoesAwayAndComesBack_data();
    void busGoesAwayAndComesBack();
};

void TestBusFaults::busGoesAwayAndComesBack_data() {
    QTest::addColumn<Pending>("pending");
    QTest::newRow("idle connection") << Pending::Nothing;
    QTest::newRow("status request in flight") << Pending::Status;
    QTest::newRow("start in flight") << Pending::Start;
}

void TestBusFaults::busGoesAwayAndComesBack() {
    QFETCH(Pending, pending);

    PrivateBus bus;
    QVERIFY(bus.isRunning());
    // Written as a system bus address is: no GUID, so a restarted daemon is reachable.
    const QString address = test::addressWithoutGuid(bus.address());
    auto helper = std::make_unique<ScriptedHelperProcess>(bus.address());
    QVERIFY(helper->start());
    QVERIFY(helper->setReply(QStringLiteral("GatewayStatus"),
                             Reply::answer(true, test::runningStatusJson(), true)));
    DBusHelperClient client(address);
    test::WarningCapture warnings;
    test::WindowRig rig(client);
    QVERIFY(rig.showAndSettle());
    GatewayManager& manager = rig.manager();
    manager.startStatusPolling(3600);
    manager.applyNatSetting();
    QTRY_VERIFY_WITH_TIMEOUT(manager.uiRunning(), kWaitMs);
    QVERIFY(helper->clearCalls());

    if (pending == Pending::Status) {
        QVERIFY(helper->setReply(QStringLiteral("GatewayStatus"),
                                 Reply::with(Reply::Behaviour::Answer, 60000)));
        manager.applyNatSetting();
        QVERIFY(helper->waitForCalls(2));
    } else if (pending == Pending::Start) {
        QVERIFY(helper->setReply(QStringLiteral("StartGateway"),
                                 Reply::with(Reply::Behaviour::Answer, 60000)));
        manager.setNetworkID(kId);
        manager.startGateway();
        QVERIFY(helper->waitForCalls(1));
    }

    bus.kill();
    QTRY_COMPARE_WITH_TIMEOUT(warnings.count(kInvalidated), 1, kWaitMs);
    QVERIFY(helper->waitForExit(kWaitMs)); // the helper goes with its bus
    QVERIFY(!client.hasConnection());
    if (pending == Pending::Nothing) {
        // Nothing was waiting: the loss alone shows nothing to the user.
        QTest::qWait(100);
        QVERIFY(!rig.banner().has_value());
        QVERIFY(manager.uiRunning());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(rig.banner().has_value(), kWaitMs);
        QVERIFY2(rig.banner()->startsWith(kXpcPrefix), qPrintable(*rig.banner()));
        QVERIFY(!manager.uiRunning());
        QVERIFY(!manager.isRunning());
        QVERIFY(!manager.currentStatus().has_value());
        QVERIFY(!manager.isBusy());
    }

    // With no bus at all every operation still completes, each with a transport error.
    manager.setNetworkID(kId);
    manager.startGateway();
    QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), kWaitMs);
    QVERIFY(manager.lastErrorMessage().value_or(QString()).startsWith(kXpcPrefix));
    manager.stopGateway();
    QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), kWaitMs);
    QVERIFY(manager.lastErrorMessage().value_or(QString()).startsWith(kXpcPrefix));
    manager.setLastErrorMessage(std::nullopt);
    manager.applyNatSetting();
    QTRY_VERIFY_WITH_TIMEOUT(manager.lastErrorMessage().has_value(), kWaitMs);
    QVERIFY(manager.lastErrorMessage()->startsWith(kXpcPrefix));

    // A new daemon on the same socket and a helper on it: the next operation reaches it.
    QVERIFY(bus.restart());
    QCOMPARE(test::addressWithoutGuid(bus.address()), address);
    helper = std::make_unique<ScriptedHelperProcess>(bus.address());
    QVERIFY(helper->start());
    QVERIFY(helper->setReply(QStringLiteral("GatewayStatus"),
                             Reply::answer(true, test::runningStatusJson(), true)));
    QTest::mouseClick(rig.view->mainButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(manager.uiRunning(), kWaitMs);
    QVERIFY(!rig.banner().has_value());
    QVERIFY(client.hasConnection());
    QCOMPARE(helper->calls().first().method, QStringLiteral("StartGateway"));
    QCOMPARE(warnings.count(kInvalidated), 1);
}

QTEST_MAIN(TestBusFaults)
#include "tst_BusFaults.moc"
