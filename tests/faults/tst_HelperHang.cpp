// A helper that is stopped (SIGSTOP) answers nothing: the start waits for the bus's own reply
// timeout. Meanwhile the application's event loop must keep running, and the window responding.

#include "DBusHelperClient.h"
#include "FaultTestSupport.h"
#include "MainButton.h"
#include "ScriptedHelperProcess.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::ScriptedHelperProcess;
using Reply = ScriptedHelperProcess::Reply;

namespace {

const QString kId = QStringLiteral("0123456789abcdef");
const QString kXpcPrefix = QStringLiteral("XPC 通信错误：");
// libdbus's default reply timeout is 25 s; wait well past it.
constexpr int kBusTimeoutWaitMs = 60000;

} // namespace

class TestHelperHang final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stoppedHelperTimesOutWithoutFreezingTheWindow();
};

void TestHelperHang::stoppedHelperTimesOutWithoutFreezingTheWindow() {
    PrivateBus bus;
    QVERIFY(bus.isRunning());
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    const qint64 pid = test::processIdOf(bus.address(), helper.uniqueName());
    QVERIFY(pid > 0);
    DBusHelperClient client(bus.address());
    test::WindowRig rig(client);
    QVERIFY(rig.showAndSettle());
    rig.manager().startStatusPolling(3600); // only the start is in flight

    QVERIFY(::kill(static_cast<pid_t>(pid), SIGSTOP) == 0);
    // Resumes the helper whatever happens below, so that its own teardown can kill it.
    const auto resume = qScopeGuard([pid] { ::kill(static_cast<pid_t>(pid), SIGCONT); });

    QLineEdit* field = rig.view->networkIdField();
    QTest::keyClicks(field, kId);
    QVERIFY(rig.view->mainButton()->isEnabled());
    QElapsedTimer elapsed;
    elapsed.start();
    QTest::mouseClick(rig.view->mainButton(), Qt::LeftButton);
    QVERIFY(rig.manager().isBusy());
    QVERIFY(!rig.view->mainButton()->isEnabled());

    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(100);
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start();

    // While the start hangs, the window takes typing and redraws.
    QTest::qWait(3000);
    QVERIFY(rig.manager().isBusy());
    QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    field->setFocus();
    field->end(false);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->text(), kId.chopped(1));
    QTest::keyClick(field, 'f');
    QCOMPARE(field->text(), kId);
    rig.view->repaint();

    QTRY_VERIFY_WITH_TIMEOUT(!rig.manager().isBusy(), kBusTimeoutWaitMs);
    const qint64 waited = elapsed.elapsed();
    // The bus gave up, not something earlier: the wait is about the reply timeout.
    QVERIFY2(waited >= 20000, qPrintable(QString::number(waited)));
    // At 100 ms a tick, a loop that kept running counts about ten per second throughout.
    QVERIFY2(ticks >= waited / 100 / 2,
             qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(ticks).arg(waited)));
    const std::optional<QString> banner = rig.banner();
    QVERIFY(banner.has_value());
    QVERIFY2(banner->startsWith(kXpcPrefix) && banner->size() > kXpcPrefix.size(),
             qPrintable(*banner));
    QVERIFY(!rig.manager().uiRunning());
    QVERIFY(rig.view->mainButton()->isEnabled());

    // The helper wakes up and answers the stale call: that answer is dropped, the failure stays.
    QVERIFY(::kill(static_cast<pid_t>(pid), SIGCONT) == 0);
    QVERIFY(helper.waitForCalls(1));
    QSignalSpy busy(&rig.manager(), &GatewayManager::isBusyChanged);
    QTest::qWait(500);
    QCOMPARE(busy.count(), 0);
    QCOMPARE(rig.banner(), banner);

    // And the next start goes through on the same connection.
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"),
                            Reply::answer(true, test::runningStatusJson(), true)));
    QTest::mouseClick(rig.view->mainButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.manager().uiRunning(), 15000);
    QVERIFY(!rig.banner().has_value());
    QCOMPARE(helper.calls().size(), 3); // start, start, status
    QCOMPARE(helper.calls().at(1).sender, helper.calls().at(0).sender);
}

QTEST_MAIN(TestHelperHang)
#include "tst_HelperHang.moc"
