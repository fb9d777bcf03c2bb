#include "StatusJsonParser.h"

#include <QTest>

#include <functional>

using namespace fernpoint;

namespace {

QString optionalText(const std::optional<QString>& value) {
    return value ? QLatin1Char('"') + *value + QLatin1Char('"') : QStringLiteral("<absent>");
}

QString optionalNumber(const std::optional<std::int64_t>& value) {
    return value ? QString::number(*value) : QStringLiteral("<absent>");
}

// One readable line per snapshot, so that a failing row shows every field side by side.
QString dump(const GatewayStatusDetail& d) {
    QStringList endpoints;
    for (const EndpointStatus& e : d.endpoints)
        endpoints << e.address + (e.ok ? QStringLiteral(":ok") : QStringLiteral(":down"));
    return QStringLiteral("connected=%1 text=%2 name=%3 desc=%4 cidr=%5 port=%6 state=%7 "
                          "peers=%8 policy=%9 nat=%10 endpoints=[%11] mgmt=[%12]")
        .arg(d.isConnected ? QStringLiteral("true") : QStringLiteral("false"), d.statusText,
             optionalText(d.networkName), optionalText(d.networkDesc),
             optionalText(d.localMgmtCIDR), optionalNumber(d.listenPort), optionalText(d.coreState),
             optionalNumber(d.peerCount), optionalText(d.lastPolicyAt))
        .arg(d.natEnabled ? QStringLiteral("true") : QStringLiteral("false"),
             endpoints.join(QLatin1Char(',')), d.remoteMgmtCIDRs.join(QLatin1Char(',')));
}

QString snapshotWith(const std::function<void(GatewayStatusDetail&)>& change = {}) {
    GatewayStatusDetail detail;
    if (change)
        change(detail);
    return dump(detail);
}

QString dataJson(const char* data) {
    return QStringLiteral("{\"data\":") + QString::fromUtf8(data) + QLatin1Char('}');
}

} // namespace

class TestStatusJsonParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void topLevel_data();
    void topLevel();
    void snapshotFields_data();
    void snapshotFields();
    void policyTimeFollowsLocalZone();
};

using Kind = StatusParseOutcome::Kind;
Q_DECLARE_METATYPE(StatusParseOutcome::Kind)

void TestStatusJsonParser::topLevel_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("consoleLine"); // empty: none

    const QString parseError = QStringLiteral("❌ status JSON parse error: ");
    QTest::newRow("empty text") << QString() << Kind::Unparseable
                                << parseError + QStringLiteral("illegal value");
    QTest::newRow("bare number") << QStringLiteral("42") << Kind::Unparseable
                                 << parseError + QStringLiteral("illegal value");
    QTest::newRow("bare string") << QStringLiteral("\"ok\"") << Kind::Unparseable
                                 << parseError + QStringLiteral("illegal value");
    QTest::newRow("bare null") << QStringLiteral("null") << Kind::Unparseable
                               << parseError + QStringLiteral("illegal value");
    QTest::newRow("cut off") << QStringLiteral("{\"data\":{") << Kind::Unparseable
                             << parseError + QStringLiteral("unterminated object");
    QTest::newRow("trailing garbage")
        << QStringLiteral("{} x") << Kind::Unparseable
        << parseError + QStringLiteral("garbage at the end of the document");
    QTest::newRow("array") << QStringLiteral("[{\"data\":{}}]") << Kind::NotAnObject << QString();
    QTest::newRow("ok false with error")
        << QStringLiteral("{\"ok\":false,\"error\":\"core not found\",\"data\":{}}")
        << Kind::ReportedError << QStringLiteral("status error: core not found");
    QTest::newRow("ok false, empty error")
        << QStringLiteral("{\"ok\":false,\"error\":\"\"}") << Kind::ReportedError
        << QStringLiteral("status error: ");
    QTest::newRow("ok false, error not a string")
        << QStringLiteral("{\"ok\":false,\"error\":7,\"data\":{}}") << Kind::ReportedError
        << QString();
    QTest::newRow("ok false, no error")
        << QStringLiteral("{\"ok\":false}") << Kind::ReportedError << QString();
    QTest::newRow("ok true, error ignored")
        << QStringLiteral("{\"ok\":true,\"error\":\"x\",\"data\":{}}") << Kind::Snapshot
        << QString();
    QTest::newRow("ok as the string false is success")
        << QStringLiteral("{\"ok\":\"false\",\"data\":{}}") << Kind::Snapshot << QString();
    QTest::newRow("ok as the number 0 is success (strict booleans)")
        << QStringLiteral("{\"ok\":0,\"data\":{}}") << Kind::Snapshot << QString();
    QTest::newRow("ok null is success")
        << QStringLiteral("{\"ok\":null,\"data\":{}}") << Kind::Snapshot << QString();
    QTest::newRow("OK in capitals is an unknown key")
        << QStringLiteral("{\"OK\":false,\"data\":{}}") << Kind::Snapshot << QString();
    QTest::newRow("no data") << QStringLiteral("{\"ok\":true}") << Kind::NoData << QString();
    QTest::newRow("data is an array")
        << QStringLiteral("{\"data\":[]}") << Kind::NoData << QString();
    QTest::newRow("data is null") << QStringLiteral("{\"data\":null}") << Kind::NoData << QString();
    QTest::newRow("Data in capitals")
        << QStringLiteral("{\"Data\":{}}") << Kind::NoData << QString();
}

void TestStatusJsonParser::topLevel() {
    QFETCH(QString, json);
    QFETCH(Kind, kind);
    QFETCH(QString, consoleLine);

    const StatusParseOutcome outcome = parseStatusJson(json);
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(outcome.snapshot.has_value(), kind == Kind::Snapshot);
    QCOMPARE(outcome.consoleLine.value_or(QString()), consoleLine);
    QCOMPARE(outcome.consoleLine.has_value(), !consoleLine.isNull());
}

void TestStatusJsonParser::snapshotFields_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("expected");

    using D = GatewayStatusDetail;
    QTest::newRow("empty data: every default") << dataJson("{}") << snapshotWith();
    QTest::newRow("unknown keys ignored")
        << dataJson("{\"colour\":\"green\",\"peer\":3}") << snapshotWith();

    QTest::newRow("full reply")
        << dataJson(R"({"conn_state":"connected","network_name":"Lab",
        "network_desc":"Second floor","address_cidr":"10.8.0.2/24","listen_port":51820,
        "state":"running","peers":3,"last_policy_at":86400,"Nat":true,
        "endpoints":[{"endpoints":"198.51.100.7:51820","ok":true},{"endpoints":"[2001:db8::1]:51820","ok":false}],
        "mgmt_ips":["10.8.0.1/24","10.9.0.1/24"]})")
        << snapshotWith([](D& d) {
               d.isConnected = true;
               d.statusText = QStringLiteral("connected");
               d.networkName = QStringLiteral("Lab");
               d.networkDesc = QStringLiteral("Second floor");
               d.localMgmtCIDR = QStringLiteral("10.8.0.2/24");
               d.listenPort = 51820;
               d.coreState = QStringLiteral("running");
               d.peerCount = 3;
               d.lastPolicyAt = QStringLiteral("1970-01-02 00:00:00");
               d.natEnabled = true;
               d.endpoints = {{QStringLiteral("198.51.100.7:51820"), true},
                              {QStringLiteral("[2001:db8::1]:51820"), false}};
               d.remoteMgmtCIDRs = {QStringLiteral("10.8.0.1/24"), QStringLiteral("10.9.0.1/24")};
           });

    // Connection state: exact, case-sensitive, and only a string counts.
    QTest::newRow("Connected with a capital")
        << dataJson(R"({"conn_state":"Connected"})")
        << snapshotWith([](D& d) { d.statusText = QStringLiteral("Connected"); });
    QTest::newRow("conn_state a number") << dataJson(R"({"conn_state":1})") << snapshotWith();
    QTest::newRow("conn_state with blanks kept")
        << dataJson(R"({"conn_state":" connected"})")
        << snapshotWith([](D& d) { d.statusText = QStringLiteral(" connected"); });

    // Texts: taken as they are; empty is present; other types are missing.
    QTest::newRow("empty name is present")
        << dataJson(R"({"network_name":"","network_desc":"  x  "})") << snapshotWith([](D& d) {
               d.networkName = QString();
               d.networkDesc = QStringLiteral("  x  ");
           });
    QTest::newRow("texts of the wrong type")
        << dataJson(R"({"network_name":7,"network_desc":null,"address_cidr":["a"],"state":true})")
        << snapshotWith();

    // Integers: JSON numbers with an integral value, no range check, never a string.
    QTest::newRow("port written 8080.0")
        << dataJson(R"({"listen_port":8080.0})") << snapshotWith([](D& d) { d.listenPort = 8080; });
    QTest::newRow("port with a fraction")
        << dataJson(R"({"listen_port":8080.5})") << snapshotWith();
    QTest::newRow("port as a string of digits")
        << dataJson(R"({"listen_port":"8080"})") << snapshotWith();
    QTest::newRow("port as a boolean") << dataJson(R"({"listen_port":true})") << snapshotWith();
    QTest::newRow("negative and beyond 16 bits kept")
        << dataJson(R"({"listen_port":-1,"peers":70000})") << snapshotWith([](D& d) {
               d.listenPort = -1;
               d.peerCount = 70000;
           });
    QTest::newRow("peers in exponent form")
        << dataJson(R"({"peers":1e18})")
        << snapshotWith([](D& d) { d.peerCount = 1000000000000000000; });
    QTest::newRow("largest int64 exact") << dataJson(R"({"peers":9223372036854775807})")
                                         << snapshotWith([](D& d) { d.peerCount = INT64_MAX; });
    QTest::newRow("smallest int64 exact") << dataJson(R"({"peers":-9223372036854775808})")
                                          << snapshotWith([](D& d) { d.peerCount = INT64_MIN; });
    QTest::newRow("2^63 is beyond int64")
        << dataJson(R"({"peers":9223372036854775808})") << snapshotWith();
    QTest::newRow("2^63 as a double")
        << dataJson(R"({"peers":9.223372036854775808e18})") << snapshotWith();
    QTest::newRow("huge and tiny doubles")
        << dataJson(R"({"peers":1e300,"listen_port":-1e300})") << snapshotWith();
    QTest::newRow("tiny fraction") << dataJson(R"({"peers":1e-300})") << snapshotWith();

    // Booleans are strict: 0 and 1 are numbers.
    QTest::newRow("Nat 1 is not true") << dataJson(R"({"Nat":1})") << snapshotWith();
    QTest::newRow("Nat as a string") << dataJson(R"({"Nat":"true"})") << snapshotWith();
    QTest::newRow("nat in lower case is unknown") << dataJson(R"({"nat":true})") << snapshotWith();

    // Policy time: positive integers only, formatted in local time (UTC under test).
    QTest::newRow("policy one day")
        << dataJson(R"({"last_policy_at":86400.0})")
        << snapshotWith([](D& d) { d.lastPolicyAt = QStringLiteral("1970-01-02 00:00:00"); });
    QTest::newRow("policy recent")
        << dataJson(R"({"last_policy_at":1715000000})")
        << snapshotWith([](D& d) { d.lastPolicyAt = QStringLiteral("2024-05-06 12:53:20"); });
    QTest::newRow("policy 0") << dataJson(R"({"last_policy_at":0})") << snapshotWith();
    QTest::newRow("policy negative") << dataJson(R"({"last_policy_at":-86400})") << snapshotWith();
    QTest::newRow("policy fraction") << dataJson(R"({"last_policy_at":86400.5})") << snapshotWith();
    QTest::newRow("policy string") << dataJson(R"({"last_policy_at":"86400"})") << snapshotWith();
    QTest::newRow("policy beyond any date")
        << dataJson(R"({"last_policy_at":9223372036854775807})") << snapshotWith();

    // Endpoints: whole list or nothing; unusable elements skipped one by one.
    QTest::newRow("endpoint without ok is down")
        << dataJson(R"({"endpoints":[{"endpoints":"a:1"}]})") << snapshotWith([](D& d) {
               d.endpoints = {{QStringLiteral("a:1"), false}};
           });
    QTest::newRow("endpoint ok of the wrong type")
        << dataJson(R"({"endpoints":[{"endpoints":"a:1","ok":1},{"endpoints":"b:2","ok":"true"}]})")
        << snapshotWith([](D& d) {
               d.endpoints = {{QStringLiteral("a:1"), false}, {QStringLiteral("b:2"), false}};
           });
    QTest::newRow("singular key, empty and address-less elements skipped")
        << dataJson(
               R"({"endpoints":[{"endpoint":"x:1","ok":true},{},{"ok":true},{"endpoints":5,"ok":true},{"endpoints":"b:2","ok":true}]})")
        << snapshotWith([](D& d) {
               d.endpoints = {{QStringLiteral("b:2"), true}};
           });
    QTest::newRow("one element a number empties the list")
        << dataJson(R"({"endpoints":[{"endpoints":"a:1","ok":true},3]})") << snapshotWith();
    QTest::newRow("one element null empties the list")
        << dataJson(R"({"endpoints":[null,{"endpoints":"a:1","ok":true}]})") << snapshotWith();
    QTest::newRow("endpoints an object")
        << dataJson(R"({"endpoints":{"endpoints":"a:1"}})") << snapshotWith();
    QTest::newRow("endpoint address empty is kept")
        << dataJson(R"({"endpoints":[{"endpoints":"","ok":true}]})") << snapshotWith([](D& d) {
               d.endpoints = {{QString(), true}};
           });

    // Remote management list: strings only, in order, duplicates kept.
    QTest::newRow("mgmt order and duplicates")
        << dataJson(R"({"mgmt_ips":["b","a","b"]})") << snapshotWith([](D& d) {
               d.remoteMgmtCIDRs = {QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("b")};
           });
    QTest::newRow("one mgmt entry a number empties the list")
        << dataJson(R"({"mgmt_ips":["a",1]})") << snapshotWith();
    QTest::newRow("mgmt a string") << dataJson(R"({"mgmt_ips":"a"})") << snapshotWith();
}

void TestStatusJsonParser::snapshotFields() {
    QFETCH(QString, json);
    QFETCH(QString, expected);

    const StatusParseOutcome outcome = parseStatusJson(json);
    QCOMPARE(outcome.kind, Kind::Snapshot);
    QVERIFY(!outcome.consoleLine);
    QVERIFY(outcome.snapshot);
    QCOMPARE(dump(*outcome.snapshot), expected);
}

void TestStatusJsonParser::policyTimeFollowsLocalZone() {
    const QByteArray savedZone = qgetenv("TZ");
    // POSIX notation: eight hours east of UTC.
    qputenv("TZ", "CST-8");
    const QString formatted = formatPolicyTime(86400);
    qputenv("TZ", savedZone);
    QCOMPARE(formatted, QStringLiteral("1970-01-02 08:00:00"));
}

QTEST_GUILESS_MAIN(TestStatusJsonParser)
#include "tst_StatusJsonParser.moc"
