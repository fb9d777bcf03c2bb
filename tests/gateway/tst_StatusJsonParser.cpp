#include "StatusJsonParser.h"

#include <QTest>

using namespace fernpoint;
using namespace Qt::StringLiterals;
using Kind = StatusParseOutcome::Kind;
Q_DECLARE_METATYPE(StatusParseOutcome::Kind)

namespace {

// A snapshot as "field=value" entries, leaving out what a reply without any usable field shows:
// not connected, status text "-", NAT off, and nothing else.
QString dump(const GatewayStatusDetail& d) {
    QStringList out, endpoints;
    const auto add = [&out](const char* name, const auto& value, bool shown = true) {
        if (shown)
            out << QString::fromLatin1(name) + u'=' + u"%1"_s.arg(value);
    };
    const auto addOptional = [&add](const char* name, const auto& value) {
        if (value)
            add(name, *value);
    };
    add("connected", 1, d.isConnected);
    add("text", d.statusText, d.statusText != u"-"_s);
    addOptional("name", d.networkName);
    addOptional("desc", d.networkDesc);
    addOptional("cidr", d.localMgmtCIDR);
    addOptional("port", d.listenPort);
    addOptional("state", d.coreState);
    addOptional("peers", d.peerCount);
    addOptional("policy", d.lastPolicyAt);
    add("nat", 1, d.natEnabled);
    add("mgmt", d.remoteMgmtCIDRs.join(u','), !d.remoteMgmtCIDRs.isEmpty());
    for (const EndpointStatus& e : d.endpoints)
        endpoints << e.address + (e.ok ? u":ok"_s : u":down"_s);
    add("endpoints", endpoints.join(u','), !endpoints.isEmpty());
    return out.join(u"; "_s);
}

} // namespace

class TestStatusJsonParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // POSIX notation: eight hours east of UTC. Policy times are shown in the local zone.
    void initTestCase() { qputenv("TZ", "CST-8"); }

    void parse_data() {
        QTest::addColumn<QString>("json");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("line");   // the console line; empty: none
        QTest::addColumn<QString>("fields"); // of a snapshot

        const auto reply = [](const char* name, const char* json, Kind kind,
                              const char* line = "") {
            QTest::newRow(name) << QString::fromUtf8(json) << kind << QString::fromUtf8(line)
                                << QString();
        };
        reply("empty text", "", Kind::Unparseable, "❌ status JSON parse error: illegal value");
        reply("array", "[{\"data\":{}}]", Kind::NotAnObject);
        reply("ok false", R"({"ok":false,"error":"core not found","data":{}})", Kind::ReportedError,
              "status error: core not found");
        reply("data an array", R"({"ok":true,"data":[]})", Kind::NoData);

        const auto data = [](const char* name, const char* object, const char* fields = "") {
            QTest::newRow(name) << u"{\"ok\":0,\"data\":"_s + QString::fromUtf8(object) + u'}'
                                << Kind::Snapshot << QString() << QString::fromUtf8(fields);
        };
        // "ok" as the number 0 is no failure: only the boolean false is.
        data("empty data", "{}");
        data("full reply",
             R"({"conn_state":"connected","network_name":"Lab","network_desc":"Second floor",
             "address_cidr":"10.8.0.2/24","listen_port":20619,"state":"running","peers":3,
             "last_policy_at":86400,"Nat":true,"mgmt_ips":["10.8.0.1/24","10.9.0.1/24"],
             "endpoints":[{"endpoints":"198.51.100.7:20619","ok":true},{"endpoints":"[2001:db8::1]:1"}]})",
             R"(connected=1; text=connected; name=Lab; desc=Second floor; )"
             R"(cidr=10.8.0.2/24; port=20619; state=running; peers=3; )"
             R"(policy=1970-01-02 08:00:00; nat=1; mgmt=10.8.0.1/24,10.9.0.1/24; )"
             R"(endpoints=198.51.100.7:20619:ok,[2001:db8::1]:1:down)");
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
            "endpoints=b:2:ok");
        data("endpoints: one element not an object", R"({"endpoints":[{"endpoints":"a:1"},3]})");
        data("mgmt: one element not text", R"({"mgmt_ips":["a",1]})");
    }
    void parse() {
        QFETCH(QString, json);
        QFETCH(Kind, kind);
        QFETCH(QString, line);
        QFETCH(QString, fields);

        const StatusParseOutcome outcome = parseStatusJson(json);
        QCOMPARE(outcome.kind, kind);
        QCOMPARE(outcome.consoleLine.value_or(u"<none>"_s), line.isEmpty() ? u"<none>"_s : line);
        QCOMPARE(outcome.snapshot.has_value(), kind == Kind::Snapshot);
        if (outcome.snapshot)
            QCOMPARE(dump(*outcome.snapshot), fields);
    }
};

QTEST_GUILESS_MAIN(TestStatusJsonParser)
#include "tst_StatusJsonParser.moc"
