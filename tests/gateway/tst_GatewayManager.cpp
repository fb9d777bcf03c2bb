#include "ConsoleWriter.h"
#include "FakeHelperClient.h"
#include "GatewayManager.h"

#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <thread>

using namespace fernpoint;
using namespace Qt::StringLiterals;
using namespace std::string_view_literals;
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString kValidId = u"0123456789abcdef"_s;
const QString kXpcLine = u"XPC 通信错误：The name is not activatable"_s;
const QString kFails = u"<the request fails>"_s;

// The controller's fields in one line, then the names of the fields it announced since the last
// call, in the order it announced them.
class Observer {
public:
    explicit Observer(GatewayManager& m)
        : m_manager(m) {
        const auto watch = [this](auto signal, const char* name) {
            QObject::connect(&m_manager, signal, &m_context,
                             [this, name] { m_names << QLatin1String(name); });
        };
        watch(&GatewayManager::uiRunningChanged, "uiRunning");
        watch(&GatewayManager::networkIDChanged, "networkID");
        watch(&GatewayManager::natEnabledChanged, "natEnabled");
        watch(&GatewayManager::isRunningChanged, "isRunning");
        watch(&GatewayManager::lastStatusJSONChanged, "lastStatusJSON");
        watch(&GatewayManager::currentStatusChanged, "currentStatus");
        watch(&GatewayManager::lastErrorMessageChanged, "lastErrorMessage");
        watch(&GatewayManager::isBusyChanged, "isBusy");
    }
    QString take() {
        const GatewayManager& m = m_manager;
        const QStringList names = std::exchange(m_names, {});
        return u"busy=%1 ui=%2 running=%3 status=%4 nat=%5 error=%6 |"_s.arg(int(m.isBusy()))
                   .arg(int(m.uiRunning()))
                   .arg(int(m.isRunning()))
                   .arg(int(m.currentStatus().has_value()))
                   .arg(int(m.natEnabled()))
                   .arg(m.lastErrorMessage().value_or(u"-"_s)) +
               (names.isEmpty() ? QString() : u' ' + names.join(u' '));
    }

private:
    GatewayManager& m_manager;
    QObject m_context;
    QStringList m_names;
};

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
        Observer observer(*manager);
        manager->startGateway();
        QCOMPARE(observer.take(), u"busy=0 ui=0 running=0 status=0 nat=1 error=Network ID 必须是 "
                                  u"16 位十六进制字符串 | lastErrorMessage"_s);
        QCOMPARE(m_client->calls, QStringList());
        QCOMPARE(manager->networkID(), kValidId.left(15) + u' '); // the field keeps what was typed
    }

    void commandOutcomes_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("result"); // success, helperFailed, xpcError
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("statusRequests");

        const auto row = [](const char* command, const char* result, const QString& after,
                            int requests) {
            QTest::addRow("%s, %s", command, result)
                << QString::fromLatin1(command)
                << (command == "start"sv  ? u"startGateway "_s + kValidId + u" 1"_s
                    : command == "stop"sv ? u"stopGateway"_s
                                          : u"setNat 1"_s)
                << QString::fromLatin1(result) << after << requests;
        };
        const QString down = u"busy=0 ui=0 running=0 status=0 nat=1 error=%1 | isBusy isRunning "
                             u"uiRunning currentStatus lastErrorMessage"_s;
        const QString upWith = u"busy=0 ui=1 running=1 status=1 nat=1 error="_s;
        // Each command starts from a running gateway with an old error line on screen.
        row("start", "success", upWith + u"- | isBusy"_s, 1);
        row("start", "helperFailed", down.arg(u"core binary missing"_s), 0);
        row("start", "xpcError", down.arg(kXpcLine), 0);
        row("stop", "success",
            u"busy=0 ui=0 running=0 status=1 nat=1 error=- | isBusy isRunning uiRunning"_s, 1);
        row("stop", "helperFailed", upWith + u"core binary missing | isBusy lastErrorMessage"_s, 0);
        row("nat", "success", upWith + u"old |"_s, 1);
        row("nat", "xpcError", upWith + kXpcLine + u" | lastErrorMessage"_s, 0);
    }
    void commandOutcomes() {
        QFETCH(QString, command);
        QFETCH(QString, call);
        QFETCH(QString, result);
        QFETCH(QString, after);
        QFETCH(int, statusRequests);

        auto manager = makeManager();
        manager->startGateway();
        QTRY_VERIFY(manager->isRunning() && !manager->isBusy());
        m_client->holdCommands = m_client->holdStatus = true;
        manager->setLastErrorMessage(u"old"_s);
        manager->setNetworkID(u" \t"_s + kValidId + u'\n'); // sent trimmed
        m_client->calls.clear();
        Observer observer(*manager);
        if (command == u"start"_s)
            manager->startGateway();
        else if (command == u"stop"_s)
            manager->stopGateway();
        else
            manager->applyNatSetting();
        QCOMPARE(m_client->calls, QStringList{call});
        if (command != u"nat"_s)
            QCOMPARE(observer.take(),
                     u"busy=1 ui=1 running=1 status=1 nat=1 error=- | isBusy lastErrorMessage"_s);
        m_client->heldCommands.first()(result == u"success"_s ? HelperResult<Nothing>(Nothing{})
                                                              : failure(result));
        QCoreApplication::processEvents();
        QCOMPARE(observer.take(), after);
        QCOMPARE(m_client->heldStatus.size(), statusRequests);
    }

    void statusOutcomes_data() {
        QTest::addColumn<std::optional<QString>>("json"); // kFails: the request fails
        QTest::addColumn<bool>("replyRunning");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("console");

        // Before each row: a snapshot with NAT on, and the error line "old". The reply's own
        // "ok" flag is false in every row: only the JSON text counts.
        const auto row = [](const char* name, const std::optional<QString>& json, bool running,
                            const char* fields, const char* console = "") {
            const QString cleared = u" | lastStatusJSON currentStatus isRunning uiRunning"_s;
            const bool snapshot = QByteArray(fields).contains("status=1");
            QTest::newRow(name) << json << running
                                << u"busy=0 "_s + QLatin1String(fields) + u" error=old"_s +
                                       cleared + (snapshot ? u" natEnabled"_s : QString())
                                << QString::fromUtf8(console);
        };
        row("no JSON text, helper running", std::nullopt, true, "ui=1 running=1 status=0 nat=1");
        row("ok false with data",
            uR"({"ok":false,"error":"core crashed","data":{"state":"running"}})"_s, true,
            "ui=0 running=0 status=0 nat=1", "status error: core crashed");
        row("empty data", uR"({"data":{}})"_s, true, "ui=0 running=0 status=1 nat=0");
        row("starting, not yet connected",
            uR"({"data":{"state":"starting","conn_state":"connecting","Nat":true}})"_s, false,
            "ui=1 running=0 status=1 nat=1");
        row("connected, state Running in capitals",
            uR"({"data":{"state":"Running","conn_state":"connected"}})"_s, false,
            "ui=0 running=1 status=1 nat=0");
        QTest::newRow("request failed: the text stays")
            << std::optional(kFails) << true
            << u"busy=0 ui=0 running=0 status=0 nat=1 error=%1 | lastErrorMessage currentStatus "
               u"isRunning uiRunning"_s.arg(kXpcLine)
            << QString();
    }
    void statusOutcomes() {
        QFETCH(std::optional<QString>, json);
        QFETCH(bool, replyRunning);
        QFETCH(QString, after);
        QFETCH(QString, console);

        const QString previous = uR"({"data":{"Nat":true}})"_s;
        auto manager = makeManager();
        m_client->holdStatus = true;
        manager->applyNatSetting(); // its success asks for the status
        QTRY_COMPARE(m_client->heldStatus.size(), 1);
        m_client->heldStatus.takeFirst()(GatewayStatus{true, previous, false});
        QTRY_VERIFY(manager->currentStatus());
        manager->setLastErrorMessage(u"old"_s);
        manager->applyNatSetting();
        QTRY_COMPARE(m_client->heldStatus.size(), 1);

        QStringList lines;
        const auto sink = ConsoleWriter::setSink([&lines](const QString& line) { lines << line; });
        Observer observer(*manager);
        if (json == kFails)
            m_client->heldStatus.first()(failure(u"xpcError"_s));
        else
            m_client->heldStatus.first()(GatewayStatus{false, json, replyRunning});
        QCoreApplication::processEvents();
        ConsoleWriter::setSink(sink);

        QCOMPARE(observer.take(), after);
        QCOMPARE(manager->lastStatusJSON(), json == kFails ? previous : json.value_or(QString()));
        QCOMPARE(lines, console.isEmpty() ? QStringList() : QStringList{console});
    }

    void answersAreAppliedLaterOnTheMainThread() {
        auto manager = makeManager();
        m_client->commandResult = failure(u"xpcError"_s);
        Observer observer(*manager);
        // Answered inside the call, yet applied afterwards as a unit of work of its own.
        manager->startGateway();
        QCOMPARE(observer.take(),
                 u"busy=1 ui=0 running=0 status=0 nat=1 error=- | isBusy lastErrorMessage"_s);
        QCoreApplication::processEvents();
        QCOMPARE(manager->lastErrorMessage(), kXpcLine);

        // Answered on another thread, applied on the main thread.
        m_client->holdCommands = true;
        manager->stopGateway();
        QThread* appliedOn = nullptr;
        connect(
            manager.get(), &GatewayManager::isBusyChanged, this,
            [&appliedOn] { appliedOn = QThread::currentThread(); }, Qt::DirectConnection);
        std::thread([completion = m_client->heldCommands.first()] {
            completion(Nothing{});
        }).join();
        QCOMPARE(appliedOn, nullptr);
        QTRY_COMPARE(appliedOn, QThread::currentThread());
    }

    void answersForADestroyedControllerDoNothing() {
        m_client->holdCommands = m_client->holdStatus = true;
        {
            auto manager = makeManager();
            manager->startStatusPolling(0.001);
            QTRY_VERIFY(!m_client->heldStatus.isEmpty());
            manager->startGateway();
            manager->stopGateway();
            manager->applyNatSetting();
            m_client->heldStatus.first()(GatewayStatus{true, u"not json"_s, true});
        }
        QStringList lines;
        const auto sink = ConsoleWriter::setSink([&lines](const QString& line) { lines << line; });
        for (const auto& completion : std::as_const(m_client->heldCommands))
            completion(Nothing{});
        const qsizetype calls = m_client->calls.size();
        QTest::qWait(20);
        ConsoleWriter::setSink(sink);
        QCOMPARE(m_client->calls.size(), calls); // neither an answer nor a timer asked again
        QCOMPARE(lines, QStringList());          // the status answer was dropped unparsed
    }

    void pollsFromConstruction() {
        m_client->holdStatus = true;
        GatewayManager manager(*m_client);
        const auto* timer = manager.findChild<QTimer*>(u"statusPollTimer"_s);
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(m_client->calls.isEmpty()); // the first request one period later

        // A restart replaces the timer, and the new one repeats.
        manager.startStatusPolling(0.05);
        manager.startStatusPolling(0.05);
        QCOMPARE(manager.findChildren<QTimer*>().size(), 1);
        QTRY_VERIFY(m_client->heldStatus.size() >= 2);
    }
};

QTEST_GUILESS_MAIN(TestGatewayManager)
#include "tst_GatewayManager.moc"
