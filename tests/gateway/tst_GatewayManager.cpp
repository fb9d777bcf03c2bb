#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "StatusJsonParser.h"

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
    return QString::asprintf("busy=%d ui=%d running=%d status=%d nat=%d error=", m->isBusy(),
                             m->uiRunning(), m->isRunning(), m->currentStatus().has_value(),
                             m->natEnabled()) +
           m->lastErrorMessage().value_or(u"-"_s) + calls;
}

// The console line of a reply without a snapshot, or the snapshot as "field=value" entries,
// leaving out what a reply without any usable field shows: not connected, status text "-", NAT
// off, and nothing else.
QString describe(const StatusParseOutcome& outcome) {
    if (!outcome.snapshot || outcome.kind != StatusParseOutcome::Kind::Snapshot)
        return u"no snapshot: "_s + outcome.consoleLine.value_or(QString());
    const GatewayStatusDetail& d = *outcome.snapshot;
    QStringList out;
    const auto add = [&out](const char* name, const auto& value) {
        if (value)
            out << QString::fromLatin1(name) + u'=' + u"%1"_s.arg(*value);
    };
    const auto flag = [](bool on) { return on ? std::optional(1) : std::nullopt; };
    add("connected", flag(d.isConnected));
    add("text", d.statusText != u"-"_s ? std::optional(d.statusText) : std::nullopt);
    add("name", d.networkName);
    add("desc", d.networkDesc);
    add("port", d.listenPort);
    add("state", d.coreState);
    add("peers", d.peerCount);
    add("policy", d.lastPolicyAt);
    add("nat", flag(d.natEnabled));
    add("mgmt",
        d.remoteMgmtCIDRs.isEmpty() ? std::nullopt : std::optional(d.remoteMgmtCIDRs.join(u',')));
    for (const EndpointStatus& e : d.endpoints)
        out << u"endpoint="_s + e.address + (e.ok ? u":ok"_s : u":down"_s);
    return out.join(u"; "_s);
}

} // namespace

class TestGatewayManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statusJson_data() {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("outcome");

        const auto reply = [](const char* name, const char* json, const char* outcome) {
            QTest::newRow(name) << QString::fromUtf8(json) << QString::fromUtf8(outcome);
        };
        reply("empty text", "", "no snapshot: ❌ status JSON parse error: illegal value");
        reply("data an array", R"({"ok":true,"data":[]})", "no snapshot: ");

        // "ok" as the number 0 is no failure: only the boolean false is.
        const auto data = [](const char* name, const char* object, const char* fields = "") {
            QTest::newRow(name) << u"{\"ok\":0,\"data\":"_s + QString::fromUtf8(object) + u'}'
                                << QString::fromUtf8(fields);
        };
        data("empty data", "{}");
        data("texts: as they are, empty is present, other types absent",
             R"({"conn_state":"Connected","network_name":"","network_desc":null,"state":true})",
             "text=Connected; name=");
        data("integers: written as a double", R"({"listen_port":8080.0})", "port=8080");
        data("integers: a fraction, a string", R"({"listen_port":8080.5,"peers":"3"})");
        data("booleans are strict", R"({"Nat":1})");
        data("policy time 0", R"({"last_policy_at":0})");
        data(
            "endpoints: unusable elements skipped",
            R"({"endpoints":[{"endpoint":"x:1","ok":true},{},{"endpoints":5},{"endpoints":"b:2","ok":true}]})",
            "endpoint=b:2:ok");
        data("endpoints: one element not an object", R"({"endpoints":[{"endpoints":"a:1"},3]})");
        data("mgmt: one element not text", R"({"mgmt_ips":["a",1]})");
    }
    void statusJson() {
        QFETCH(QString, json);
        QFETCH(QString, outcome);
        QCOMPARE(describe(parseStatusJson(json)), outcome);
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
        const QString asked = u" | setNat 1 gatewayStatus"_s;
        // Each row starts from a running gateway with NAT on and an old error line on screen.
        row("start, failed", "start", u"failed"_s,
            u"busy=0 ui=0 running=0 status=0 nat=1 error=core binary missing | startGateway "_s +
                kValidId + u" 1"_s);
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
        manager->startStatusPolling(3600.0);             // and now keeps out of the way
        manager->setNetworkID(kValidId.left(15) + u' '); // refused before anything is sent
        manager->startGateway();
        QCOMPARE(
            state(manager.get(), client),
            u"busy=0 ui=0 running=0 status=0 nat=0 error=Network ID 必须是 16 位十六进制字符串 | "_s);
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
