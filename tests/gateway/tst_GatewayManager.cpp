#include "FakeHelperClient.h"
#include "GatewayManager.h"

#include <QTest>
#include <QTimer>

#include <memory>

using namespace fernpoint;
using namespace Qt::StringLiterals;

namespace {

const QString kValidId = u"0123456789abcdef"_s;
const QString kXpcLine = u"XPC 通信错误：The name is not activatable"_s;

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

HelperClientError failure(const QString& kind) {
    if (kind == u"helperFailed"_s)
        return HelperClientError::helperFailed(u"core binary missing"_s);
    return HelperClientError::xpcError(
        QDBusError(QDBusError::ServiceUnknown, u"The name is not activatable"_s));
}

} // namespace

class TestGatewayManager : public QObject {
    Q_OBJECT

    std::unique_ptr<test::FakeHelperClient> m_client;

    // A controller whose own 5 s poll cannot interfere, with NAT on.
    std::unique_ptr<GatewayManager> makeManager(const QString& networkID = kValidId) {
        auto manager = std::make_unique<GatewayManager>(*m_client);
        manager->startStatusPolling(3600.0);
        manager->setNetworkID(networkID);
        manager->setNatEnabled(true);
        return manager;
    }

private Q_SLOTS:
    void init() { m_client = std::make_unique<test::FakeHelperClient>(); }

    void startRefusesAShortId() {
        auto manager = makeManager(kValidId.left(15) + u' ');
        manager->startGateway();
        QCOMPARE(
            state(manager.get(), *m_client),
            u"busy=0 ui=0 running=0 status=0 nat=1 error=Network ID 必须是 16 位十六进制字符串 | "_s);
    }

    void answers_data() {
        QTest::addColumn<QString>("request"); // start, stop, nat, status (after a NAT change)
        QTest::addColumn<QString>("answer");  // helperFailed, xpcError, ok or the status JSON text
        QTest::addColumn<QString>("after");   // fields | sent

        const auto row = [](const char* name, const char* request, const QString& answer,
                            const QString& after) {
            QTest::newRow(name) << QString::fromLatin1(request) << answer << after;
        };
        const QString down =
            u"busy=0 ui=0 running=0 status=0 nat=1 error=%1 | startGateway "_s + kValidId + u" 1"_s;
        // Each row starts from a running gateway with NAT on and an old error line on screen.
        row("start", "start", u"ok"_s,
            u"busy=0 ui=1 running=1 status=1 nat=1 error=- | startGateway "_s + kValidId +
                u" 1 gatewayStatus"_s);
        row("start, helper failed", "start", u"helperFailed"_s, down.arg(u"core binary missing"_s));
        row("start, no answer", "start", u"xpcError"_s, down.arg(kXpcLine));
        row("stop", "stop", u"ok"_s,
            u"busy=0 ui=0 running=0 status=1 nat=1 error=- | stopGateway gatewayStatus"_s);
        row("stop, helper failed", "stop", u"helperFailed"_s,
            u"busy=0 ui=1 running=1 status=1 nat=1 error=core binary missing | stopGateway"_s);
        row("stop after the controller is gone", "gone", u"ok"_s, u"gone | stopGateway"_s);
        row("nat", "nat", u"ok"_s,
            u"busy=0 ui=1 running=1 status=1 nat=1 error=old | setNat 1 gatewayStatus"_s);
        row("nat, no answer", "nat", u"xpcError"_s,
            u"busy=0 ui=1 running=1 status=1 nat=1 error="_s + kXpcLine + u" | setNat 1"_s);
        // The reply's own "ok" flag is false in every row: only the JSON text counts.
        const QString asked = u" | setNat 1 gatewayStatus"_s;
        row("status, no answer", "status", u"xpcError"_s,
            u"busy=0 ui=0 running=0 status=0 nat=1 error="_s + kXpcLine + asked);
        row("status, no JSON text, helper running", "status", QString(),
            u"busy=0 ui=1 running=1 status=0 nat=1 error=old"_s + asked);
        row("status, ok false with data", "status",
            uR"({"ok":false,"error":"core crashed","data":{"state":"running"}})"_s,
            u"busy=0 ui=0 running=0 status=0 nat=1 error=old"_s + asked);
        row("status, empty data", "status", uR"({"data":{}})"_s,
            u"busy=0 ui=0 running=0 status=1 nat=0 error=old"_s + asked);
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

        auto manager = makeManager(u" \t"_s + kValidId + u'\n'); // sent trimmed
        manager->startGateway();
        QTRY_VERIFY(manager->isRunning() && !manager->isBusy());
        const QString previousText = manager->lastStatusJSON();
        m_client->holdCommands = m_client->holdStatus = true;
        m_client->calls.clear();
        manager->setLastErrorMessage(u"old"_s);
        if (request == u"status"_s) {
            manager->applyNatSetting();
            m_client->heldCommands.first()(Nothing{});
            QTRY_VERIFY(!m_client->heldStatus.isEmpty());
        } else if (request == u"start"_s) {
            manager->startGateway();
        } else if (request == u"nat"_s) {
            manager->applyNatSetting();
        } else {
            manager->stopGateway();
            if (request == u"gone"_s)
                manager.reset();
        }
        // Answered inside the call, yet applied afterwards as a unit of work of its own.
        const QString pending = state(manager.get(), *m_client);
        if (request != u"status"_s)
            m_client->heldCommands.first()(answer == u"ok"_s ? HelperResult<Nothing>(Nothing{})
                                                             : failure(answer));
        else if (answer.startsWith(u'{') || answer.isNull())
            m_client->heldStatus.first()(
                GatewayStatus{false, answer.isNull() ? std::nullopt : std::optional(answer), true});
        else
            m_client->heldStatus.first()(failure(answer));
        QCOMPARE(state(manager.get(), *m_client), pending);
        QCoreApplication::processEvents();
        QCOMPARE(state(manager.get(), *m_client), after);
        if (request == u"status"_s)
            QCOMPARE(manager->lastStatusJSON(), answer.startsWith(u'{') ? answer
                                                : answer.isNull()       ? QString()
                                                                        : previousText);
    }

    void pollsFromConstruction() {
        m_client->holdStatus = true;
        GatewayManager manager(*m_client);
        const auto* timer = manager.findChild<QTimer*>(u"statusPollTimer"_s);
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), 5000);
    }
};

QTEST_GUILESS_MAIN(TestGatewayManager)
#include "tst_GatewayManager.moc"
