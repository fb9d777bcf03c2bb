#include "StatusJsonParser.h"

#include <QTest>

using namespace fernpoint;
using namespace Qt::StringLiterals;

namespace {

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
    add("cidr", d.localMgmtCIDR);
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

class TestStatusJsonParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("outcome");

        const auto reply = [](const char* name, const char* json, const char* outcome) {
            QTest::newRow(name) << QString::fromUtf8(json) << QString::fromUtf8(outcome);
        };
        reply("empty text", "", "no snapshot: ❌ status JSON parse error: illegal value");
        reply("array", "[{\"data\":{}}]", "no snapshot: ");
        reply("ok false", R"({"ok":false,"error":"core not found","data":{}})",
              "no snapshot: status error: core not found");
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
    void parse() {
        QFETCH(QString, json);
        QFETCH(QString, outcome);
        QCOMPARE(describe(parseStatusJson(json)), outcome);
    }
};

QTEST_GUILESS_MAIN(TestStatusJsonParser)
#include "tst_StatusJsonParser.moc"
