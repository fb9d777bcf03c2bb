#include "DBusHelperClient.h"
#include "PrivateBus.h"
#include "ScriptedHelper.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace fernpoint;
using namespace fernpoint::test;

namespace {

QString quoted(const std::optional<QString>& text) {
    return text ? u'"' + *text + u'"' : u"null"_s;
}

// A result as one line: ok, ok <ok> <json> <running>, refused "message" or xpc <error>.
template<typename T> QString describe(const HelperResult<T>& result) {
    if (!result.isSuccess() && result.error().kind() == HelperClientError::Kind::HelperFailed)
        return u"refused "_s + quoted(result.error().message());
    if (!result.isSuccess())
        return u"xpc "_s + result.error().underlying().name();
    if constexpr (std::is_same_v<T, Nothing>)
        return u"ok"_s;
    else
        return u"ok %1 %2 %3"_s.arg(int(result.value().ok))
            .arg(quoted(result.value().statusJSON))
            .arg(int(result.value().isRunning));
}

// SetNat(false), or GatewayStatus; *line is set by its completion, which must come once, later.
void start(HelperClient& client, const QString& method, QString* line) {
    auto done = [line, calls = std::make_shared<int>(0)](const auto& result) {
        *line = ++*calls == 1 ? describe(result) : u"twice"_s;
    };
    method == u"SetNat" ? client.setNat(false, done) : client.gatewayStatus(done);
    if (!line->isEmpty())
        *line = u"completed inside the call"_s;
}

QString statusOnce(HelperClient& client) {
    QString line;
    start(client, u"GatewayStatus"_s, &line);
    return QTest::qWaitFor([&] { return !line.isEmpty(); }, 15000) ? line : u"none"_s;
}

} // namespace

class TestDBusHelperClient final : public QObject {
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<DBusHelperClient> m_client;

private Q_SLOTS:
    void init() {
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->isRunning());
        m_client = std::make_unique<DBusHelperClient>(m_bus->address());
    }
    void cleanup() { m_client.reset(), m_bus.reset(); }

    // A command and the status reach their methods, and each answer reads as it should.
    void answers_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("reply");
        QTest::addColumn<QString>("expected");
        const QString badShape = u"xpc org.freedesktop.DBus.Error.InvalidSignature"_s;
        const QString json = uR"({"network_name":"总部 ネット"})"_s;
        QTest::newRow("refused, null")
            << u"SetNat"_s << ScriptedHelper::answer(false) << uR"(refused "unknown error")"_s;
        QTest::newRow("extra argument")
            << u"SetNat"_s << (ScriptedHelper::answer(true) << 1) << badShape;
        QTest::newRow("status not ok, running")
            << u"GatewayStatus"_s << ScriptedHelper::status(false, json, true)
            << u"ok 0 \"%1\" 1"_s.arg(json);
        QTest::newRow("status with two texts")
            << u"GatewayStatus"_s << QVariantList{true, QStringList{json, json}, false} << badShape;
    }

    void answers() {
        QFETCH(QString, method);
        QFETCH(QVariantList, reply);
        QFETCH(QString, expected);
        ScriptedHelper helper(m_bus->address());
        helper.setReply(method, reply);
        QString line;
        start(*m_client, method, &line);
        QVERIFY(QTest::qWaitFor([&] { return !line.isEmpty(); }, 15000));
        QTest::qWait(20);
        QCOMPARE(line, expected);
        QCOMPARE(helper.calls().size(), 1);
        QCOMPARE(helper.calls().at(0).arguments, QVariantList(method == u"SetNat", false));
    }

    // The helper goes while a call waits for its answer: the client notices at once and drops its
    // connection (an answer already on its way still arrives); the next helper is reached over a
    // fresh connection.
    void helperGoesMidCall_data() {
        QTest::addColumn<bool>("crashes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("crashes") << true << u"xpc org.freedesktop.DBus.Error.NoReply"_s;
        QTest::newRow("releases its name") << false << uR"(refused "late")"_s;
    }

    void helperGoesMidCall() {
        QFETCH(bool, crashes);
        QFETCH(QString, expected);
        QSignalSpy interrupted(m_client.get(), &DBusHelperClient::interrupted);
        auto helper = std::make_unique<ScriptedHelper>(m_bus->address());
        helper->setReply(u"SetNat"_s, ScriptedHelper::answer(false, u"late"_s), 800);
        QCOMPARE(statusOnce(*m_client), u"ok 1 null 0"_s);
        QString line;
        start(*m_client, u"SetNat"_s, &line);
        QTRY_COMPARE(helper->calls().size(), 2);
        const QString firstSender = helper->calls().at(0).sender;
        QCOMPARE(helper->calls().at(1).sender, firstSender);
        crashes ? helper->crash() : helper->releaseName();
        QTRY_COMPARE(interrupted.size(), 1);
        QVERIFY(!m_client->hasConnection());
        QTRY_COMPARE(line, expected);

        QCOMPARE(statusOnce(*m_client), u"xpc org.freedesktop.DBus.Error.ServiceUnknown"_s);
        helper = std::make_unique<ScriptedHelper>(m_bus->address());
        QCOMPARE(statusOnce(*m_client), u"ok 1 null 0"_s);
        QVERIFY(helper->calls().at(0).sender != firstSender);
        QCOMPARE(interrupted.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDBusHelperClient)
#include "tst_dbushelperclient.moc"
