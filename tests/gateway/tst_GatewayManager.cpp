#include "FakeHelperClient.h"
#include "GatewayManager.h"

#include <QTest>
#include <QTimer>

#include <memory>

using namespace fernpoint;
using namespace Qt::StringLiterals;

namespace {

const QString kValidId = u"0123456789abcdef"_s;

// The controller's fields in one line, then every call the helper received.
QString state(const GatewayManager* m, const test::FakeHelperClient& client) {
    const QString calls = u" | "_s + client.calls.join(u' ');
    if (!m)
        return u"gone"_s + calls;
    return u"busy=%1 ui=%2 running=%3 status=%4 nat=%5 error=%6"_s.arg(int(m->isBusy()))
               .arg(int(m->uiRunning()))
               .arg(int(m->isRunning()))
               .arg(int(m->currentStatus().has_value()))
               .arg(int(m->natEnabled()))
               .arg(m->lastErrorMessage().value_or(u"-"_s)) +
           calls;
}

} // namespace

class TestGatewayManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startRefusesAShortId() {
        test::FakeHelperClient client;
        GatewayManager manager(client);
        manager.setNetworkID(kValidId.left(15) + u' ');
        manager.startGateway();
        QCOMPARE(
            state(&manager, client),
            u"busy=0 ui=0 running=0 status=0 nat=0 error=Network ID 必须是 16 位十六进制字符串 | "_s);
    }

    void answers_data() {
        QTest::addColumn<QString>("request"); // start, stop, gone (stop, then the controller
                                              // goes), nat, status (after a NAT change)
        QTest::addColumn<QString>("answer");  // ok, failed, or the status JSON text (null: none)
        QTest::addColumn<QString>("after");   // fields | calls

        const auto row = [](const char* name, const char* request, const QString& answer,
                            const QString& after) {
            QTest::newRow(name) << QString::fromLatin1(request) << answer << after;
        };
        const QString started = u" | startGateway "_s + kValidId + u" 1"_s;
        const QString asked = u" | setNat 1 gatewayStatus"_s;
        // Each row starts from a running gateway with NAT on and an old error line on screen.
        row("start", "start", u"ok"_s,
            u"busy=0 ui=1 running=1 status=1 nat=1 error=-"_s + started + u" gatewayStatus"_s);
        row("start, failed", "start", u"failed"_s,
            u"busy=0 ui=0 running=0 status=0 nat=1 error=core binary missing"_s + started);
        row("stop", "stop", u"ok"_s,
            u"busy=0 ui=0 running=0 status=1 nat=1 error=- | stopGateway gatewayStatus"_s);
        row("stop, failed", "stop", u"failed"_s,
            u"busy=0 ui=1 running=1 status=1 nat=1 error=core binary missing | stopGateway"_s);
        row("stop answered after the controller is gone", "gone", u"ok"_s, u"gone | stopGateway"_s);
        row("nat, failed", "nat", u"failed"_s,
            u"busy=0 ui=1 running=1 status=1 nat=1 error=core binary missing | setNat 1"_s);
        // The reply's own "ok" flag is false in every row: only the JSON text counts.
        row("status, failed", "status", u"failed"_s,
            u"busy=0 ui=0 running=0 status=0 nat=1 error=core binary missing"_s + asked);
        row("status, no JSON text, helper running", "status", QString(),
            u"busy=0 ui=1 running=1 status=0 nat=1 error=old"_s + asked);
        row("status, ok false with data", "status",
            uR"({"ok":false,"error":"core crashed","data":{"state":"running"}})"_s,
            u"busy=0 ui=0 running=0 status=0 nat=1 error=old"_s + asked);
        row("status, starting, not yet connected", "status",
            uR"({"data":{"state":"starting","conn_state":"connecting","Nat":true}})"_s,
            u"busy=0 ui=1 running=0 status=1 nat=1 error=old"_s + asked);
        row("status, connected, state Running in capitals", "status",
            uR"({"data":{"state":"Running","conn_state":"connected"}})"_s,
            u"busy=0 ui=0 running=1 status=1 nat=0 error=old"_s + asked);
    }
    void answers() {
        QFETCH(QString, request);
        QFETCH(QString, answer);
        QFETCH(QString, after);

        test::FakeHelperClient client;
        auto manager = std::make_unique<GatewayManager>(client);
        const auto* timer = manager->findChild<QTimer*>(u"statusPollTimer"_s);
        QVERIFY(timer && timer->isActive() && timer->interval() == 5000); // polls from the start
        manager->startStatusPolling(3600.0);                // and now keeps out of the way
        manager->setNetworkID(u" \t"_s + kValidId + u'\n'); // sent trimmed
        manager->setNatEnabled(true);
        manager->startGateway();
        QTRY_VERIFY(manager->isRunning() && !manager->isBusy());
        const QString previousText = manager->lastStatusJSON();
        client.holdCommands = client.holdStatus = true;
        client.calls.clear();
        manager->setLastErrorMessage(u"old"_s);
        if (request == u"start"_s)
            manager->startGateway();
        else if (request == u"stop"_s || request == u"gone"_s)
            manager->stopGateway();
        else
            manager->applyNatSetting();
        if (request == u"gone"_s)
            manager.reset();
        if (request == u"status"_s) {
            client.heldCommands.takeFirst()(Nothing{});
            QTRY_VERIFY(!client.heldStatus.isEmpty());
        }
        // Answered inside the call, yet applied afterwards as a unit of work of its own.
        const QString pending = state(manager.get(), client);
        const auto failure = HelperClientError::helperFailed(u"core binary missing"_s);
        if (request != u"status"_s)
            client.heldCommands.first()(answer == u"ok"_s ? HelperResult<Nothing>(Nothing{})
                                                          : failure);
        else if (answer == u"failed"_s)
            client.heldStatus.first()(failure);
        else
            client.heldStatus.first()(
                GatewayStatus{false, answer.isNull() ? std::nullopt : std::optional(answer), true});
        QCOMPARE(state(manager.get(), client), pending);
        QCoreApplication::processEvents();
        QCOMPARE(state(manager.get(), client), after);
        if (request == u"status"_s)
            QCOMPARE(manager->lastStatusJSON(), answer == u"failed"_s ? previousText : answer);
    }
};

QTEST_GUILESS_MAIN(TestGatewayManager)
#include "tst_GatewayManager.moc"
