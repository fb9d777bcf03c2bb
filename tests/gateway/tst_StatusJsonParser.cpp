#include "StatusJsonParser.h"

#include <QTest>

using namespace fernpoint;

namespace {

// A snapshot as "field=value" entries, so that a failing row shows every field side by side.
QStringList dump(const GatewayStatusDetail& d) {
    const auto text = [](const std::optional<QString>& value) {
        return value ? QLatin1Char('"') + *value + QLatin1Char('"') : QStringLiteral("<absent>");
    };
    const auto number = [](const std::optional<std::int64_t>& value) {
        return value ? QString::number(*value) : QStringLiteral("<absent>");
    };
    const auto flag = [](bool value) {
        return value ? QStringLiteral("true") : QStringLiteral("false");
    };
    QStringList endpoints;
    for (const EndpointStatus& e : d.endpoints)
        endpoints << e.address + (e.ok ? QStringLiteral(":ok") : QStringLiteral(":down"));
    return {QStringLiteral("connected=") + flag(d.isConnected),
            QStringLiteral("text=") + text(d.statusText),
            QStringLiteral("name=") + text(d.networkName),
            QStringLiteral("desc=") + text(d.networkDesc),
            QStringLiteral("cidr=") + text(d.localMgmtCIDR),
            QStringLiteral("port=") + number(d.listenPort),
            QStringLiteral("state=") + text(d.coreState),
            QStringLiteral("peers=") + number(d.peerCount),
            QStringLiteral("policy=") + text(d.lastPolicyAt),
            QStringLiteral("nat=") + flag(d.natEnabled),
            QStringLiteral("endpoints=[") + endpoints.join(QLatin1Char(',')) + QLatin1Char(']'),
            QStringLiteral("mgmt=[") + d.remoteMgmtCIDRs.join(QLatin1Char(',')) + QLatin1Char(']')};
}

// An empty snapshot with the given entries ("port=8080; peers=3") in place of its own.
QStringList defaultsWith(const QString& changes) {
    QStringList fields = dump(GatewayStatusDetail());
    for (const QString& change : changes.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        const QString key = change.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
        for (QString& field : fields)
            if (field.startsWith(key))
                field = change;
    }
    return fields;
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
    QTest::newRow("cut off") << QStringLiteral("{\"data\":{") << Kind::Unparseable
                             << parseError + QStringLiteral("unterminated object");
    QTest::newRow("array") << QStringLiteral("[{\"data\":{}}]") << Kind::NotAnObject << QString();
    QTest::newRow("ok false with error")
        << QStringLiteral("{\"ok\":false,\"error\":\"core not found\",\"data\":{}}")
        << Kind::ReportedError << QStringLiteral("status error: core not found");
    QTest::newRow("ok false, error not a string")
        << QStringLiteral("{\"ok\":false,\"error\":7,\"data\":{}}") << Kind::ReportedError
        << QString();
    QTest::newRow("ok as the number 0 is success (strict booleans)")
        << QStringLiteral("{\"ok\":0,\"data\":{}}") << Kind::Snapshot << QString();
    QTest::newRow("no data") << QStringLiteral("{\"ok\":true}") << Kind::NoData << QString();
    QTest::newRow("data is an array")
        << QStringLiteral("{\"data\":[]}") << Kind::NoData << QString();
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
    QTest::addColumn<QStringList>("expected");

    const auto row = [](const char* name, const char* data, const char* changes = "") {
        QTest::newRow(name) << QStringLiteral("{\"data\":") + QString::fromUtf8(data) +
                                   QLatin1Char('}')
                            << defaultsWith(QString::fromUtf8(changes));
    };
    row("empty data: every default", "{}");
    row("full reply",
        R"({"conn_state":"connected","network_name":"Lab","network_desc":"Second floor",
        "address_cidr":"10.8.0.2/24","listen_port":20619,"state":"running","peers":3,
        "last_policy_at":86400,"Nat":true,"endpoints":[{"endpoints":"198.51.100.7:20619","ok":true},
        {"endpoints":"[2001:db8::1]:20619","ok":false}],"mgmt_ips":["10.8.0.1/24","10.9.0.1/24"]})",
        R"(connected=true; text="connected"; name="Lab"; desc="Second floor"; cidr="10.8.0.2/24"; )"
        R"(port=20619; state="running"; peers=3; policy="1970-01-02 00:00:00"; nat=true; )"
        R"(endpoints=[198.51.100.7:20619:ok,[2001:db8::1]:20619:down]; mgmt=[10.8.0.1/24,10.9.0.1/24])");

    // Connection state: exact, case-sensitive, and only a string counts.
    row("Connected with a capital", R"({"conn_state":"Connected"})", R"(text="Connected")");

    // Texts: taken as they are; empty is present; other types are missing.
    row("empty name is present", R"({"network_name":"","network_desc":"  x  "})",
        R"(name=""; desc="  x  ")");
    row("texts of the wrong type",
        R"({"network_name":7,"network_desc":null,"address_cidr":["a"],"state":true})");

    // Integers: JSON numbers with an integral value, no range check, never a string.
    row("port written 8080.0", R"({"listen_port":8080.0})", "port=8080");
    row("port with a fraction", R"({"listen_port":8080.5})");
    row("port as a string of digits", R"({"listen_port":"8080"})");
    row("largest int64 exact", R"({"peers":9223372036854775807})", "peers=9223372036854775807");
    row("2^63 is beyond int64", R"({"peers":9223372036854775808})");

    // Booleans are strict: 0 and 1 are numbers.
    row("Nat 1 is not true", R"({"Nat":1})");

    // Policy time: positive integers only, formatted in local time (UTC under test).
    row("policy one day", R"({"last_policy_at":86400.0})", R"(policy="1970-01-02 00:00:00")");
    row("policy 0", R"({"last_policy_at":0})");
    row("policy beyond any date", R"({"last_policy_at":9223372036854775807})");

    // Endpoints: whole list or nothing; unusable elements skipped one by one.
    row("endpoint without ok is down", R"({"endpoints":[{"endpoints":"a:1"}]})",
        "endpoints=[a:1:down]");
    row("singular key, empty and address-less elements skipped",
        R"({"endpoints":[{"endpoint":"x:1","ok":true},{},{"ok":true},{"endpoints":5,"ok":true},
        {"endpoints":"b:2","ok":true}]})",
        "endpoints=[b:2:ok]");
    row("one element a number empties the list",
        R"({"endpoints":[{"endpoints":"a:1","ok":true},3]})");

    // Remote management list: strings only, in order, duplicates kept.
    row("mgmt order and duplicates", R"({"mgmt_ips":["b","a","b"]})", "mgmt=[b,a,b]");
    row("one mgmt entry a number empties the list", R"({"mgmt_ips":["a",1]})");
}

void TestStatusJsonParser::snapshotFields() {
    QFETCH(QString, json);
    QFETCH(QStringList, expected);

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
