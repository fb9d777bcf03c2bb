// The helper as a machine runs it: installed by its own install step into a temporary root,
// started by a bus of the system type (default-deny policy plus the installed one) and asking
// the real polkit daemon, which reads the installed action and one rule that grants a test user.
// polkitd sees that action and rule through a private mount namespace, so nothing of the machine
// changes. Other users' calls come from this same program, started as them through setpriv.

#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <QCoreApplication>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <pwd.h>
#include <string_view>
#include <unistd.h>

using namespace fernpoint::test;

namespace {

const QString kPolkitd = QStringLiteral("/usr/lib/polkit-1/polkitd");
const QString kPolkitName = QStringLiteral("org.freedesktop.PolicyKit1");
const QString kPolkitPath = QStringLiteral("/org/freedesktop/PolicyKit1/Authority");
const QString kPolkitBusPolicy =
    QStringLiteral("/usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf");
const QString kGrantedUser = QStringLiteral("daemon");
const QString kOtherNetwork = QStringLiteral("fedcba9876543210");
// CTest reads this exit status as "skipped".
constexpr int kSkipped = 77;
bool g_skipped = false;

// ---- The other users' side: "<program> --client ADDRESS COMMAND ...", one line per answer. ----

QDBusMessage clientCall(const QString& spec) {
    // "Method:arg:arg", e.g. "StartGateway:0123456789abcdef:true".
    const QStringList parts = spec.split(u':');
    QVariantList arguments;
    for (const QString& part : parts.mid(1)) {
        if (part == QLatin1StringView("true") || part == QLatin1StringView("false"))
            arguments << QVariant(part == QLatin1StringView("true"));
        else
            arguments << QVariant(part);
    }
    QDBusMessage call = helperCall(parts.first(), arguments);
    // As the window and a terminal do: a person may be asked to authenticate.
    call.setInteractiveAuthorizationAllowed(true);
    return call;
}

void printLine(const QString& line) {
    std::cout << line.toStdString() << std::endl;
}

// "calls SPEC...": each call in turn on one connection: "<ms> ok|refused|error <text>".
int runCalls(QDBusConnection& bus, const QStringList& specs) {
    for (const QString& spec : specs) {
        QElapsedTimer clock;
        clock.start();
        const QDBusMessage reply = bus.call(clientCall(spec), QDBus::Block, 20000);
        const qint64 ms = clock.elapsed();
        QString outcome;
        if (reply.type() != QDBusMessage::ReplyMessage)
            outcome = QStringLiteral("error ") + reply.errorName() + u' ' + reply.errorMessage();
        else if (reply.signature() == QLatin1StringView("basb"))
            outcome = QStringLiteral("ok ") + reply.arguments().at(1).toStringList().value(0);
        else if (reply.signature() == QLatin1StringView("as"))
            outcome = QStringLiteral("ok ") + reply.arguments().at(0).toStringList().value(0);
        else if (reply.arguments().value(0).toBool())
            outcome = QStringLiteral("ok");
        else
            outcome =
                QStringLiteral("refused ") + reply.arguments().value(1).toStringList().value(0);
        printLine(QString::number(ms) + u' ' + outcome);
    }
    return 0;
}

// An authentication agent that never answers: polkit waits on it for as long as the checks of
// this process are pending, as it would for a person who never types a password.
class SilentAgent final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

bool registerSilentAgent(QDBusConnection& bus, SilentAgent& agent) {
    const QString path = QStringLiteral("/fernpoint/test/agent");
    if (!bus.registerVirtualObject(path, &agent))
        return false;
    QDBusArgument subject;
    subject.beginStructure();
    subject << QStringLiteral("unix-process");
    subject.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QDBusVariant>());
    const QList<std::pair<QString, QVariant>> details{
        {QStringLiteral("pid"), QVariant::fromValue(quint32(::getpid()))},
        {QStringLiteral("start-time"), QVariant::fromValue(quint64(0))},
        {QStringLiteral("uid"), QVariant::fromValue(qint32(::getuid()))}};
    for (const auto& [key, value] : details) {
        subject.beginMapEntry();
        subject << key << QDBusVariant(value);
        subject.endMapEntry();
    }
    subject.endMap();
    subject.endStructure();
    QDBusMessage call = QDBusMessage::createMethodCall(
        kPolkitName, kPolkitPath, QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
        QStringLiteral("RegisterAuthenticationAgent"));
    call << QVariant::fromValue(subject) << QStringLiteral("C") << path;
    const QDBusMessage reply = bus.call(call);
    if (reply.type() != QDBusMessage::ReplyMessage)
        printLine(QStringLiteral("agent refused: ") + reply.errorMessage());
    return reply.type() == QDBusMessage::ReplyMessage;
}

// "flood CONNECTIONS CALLS": CALLS starts on each of CONNECTIONS connections, one connection
// after the other, then "pending N,N,..." (calls left unanswered per connection), "refused N
// ERROR MESSAGE" (answered at once, and the first answer) and "ready"; then it keeps everything
// open until its standard input closes.
int runFlood(const QString& address, int connections, int calls) {
    SilentAgent agent;
    QDBusConnection agentBus = QDBusConnection::connectToBus(address, QStringLiteral("agent"));
    if (!registerSilentAgent(agentBus, agent))
        return 1;
    QStringList pendingCounts;
    int refused = 0;
    QString firstRefusal;
    std::vector<QDBusPendingCall> inFlight;
    for (int c = 0; c < connections; ++c) {
        QDBusConnection bus =
            QDBusConnection::connectToBus(address, QStringLiteral("flood%1").arg(c));
        const qsizetype first = qsizetype(inFlight.size());
        for (int i = 0; i < calls; ++i) {
            inFlight.push_back(bus.asyncCall(
                clientCall(QStringLiteral("StartGateway:%1:true").arg(kNetwork)), 120000));
        }
        // Answers come in order: once the ping is back, every call refused at once is too.
        bus.call(helperCall(QStringLiteral("Ping")), QDBus::Block, 20000);
        int pending = 0;
        for (auto it = inFlight.begin() + first; it != inFlight.end(); ++it) {
            if (!it->isFinished()) {
                ++pending;
                continue;
            }
            ++refused;
            if (firstRefusal.isEmpty()) {
                const QDBusMessage reply = it->reply();
                firstRefusal = reply.type() == QDBusMessage::ErrorMessage
                                   ? reply.errorName() + u' ' + reply.errorMessage()
                                   : QStringLiteral("answer ") +
                                         reply.arguments().value(1).toStringList().value(0);
            }
        }
        pendingCounts << QString::number(pending);
    }
    printLine(QStringLiteral("pending ") + pendingCounts.join(u','));
    printLine(QStringLiteral("refused %1 %2").arg(refused).arg(firstRefusal));
    printLine(QStringLiteral("ready"));
    std::string rest;
    while (std::getline(std::cin, rest)) {
    }
    return 0;
}

int runClient(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(2);
    const QString address = arguments.value(0);
    const QString command = arguments.value(1);
    if (command == QLatin1StringView("flood"))
        return runFlood(address, arguments.value(2).toInt(), arguments.value(3).toInt());
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("calls"));
    return runCalls(bus, arguments.mid(2));
}

// ---- The test itself, as root. ----

struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
};

std::optional<Account> account(const QString& name) {
    const passwd* entry = ::getpwnam(name.toLocal8Bit().constData());
    if (!entry)
        return std::nullopt;
    return Account{entry->pw_uid, entry->pw_gid};
}

} // namespace

class tst_HelperOnRealPolkit final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QTemporaryDir m_rules;
    QTemporaryDir m_publicDir;
    QString m_client;
    Account m_nobody;
    Account m_granted;
    std::unique_ptr<PrivateBus> m_bus;
    QProcess m_polkit;
    QDBusConnection m_connection{QString()};

    void skip(const QString& why) {
        g_skipped = true;
        QSKIP(qPrintable(why));
    }

    QProcess* startClient(const Account& user, const QStringList& arguments) {
        auto* process = new QProcess(this);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStandardPaths::findExecutable(QStringLiteral("setpriv")),
                       QStringList{QStringLiteral("--reuid=%1").arg(user.uid),
                                   QStringLiteral("--regid=%1").arg(user.gid),
                                   QStringLiteral("--clear-groups"), m_client,
                                   QStringLiteral("--client"), m_bus->address()} +
                           arguments);
        return process;
    }

    // The lines a client printed, once it has ended.
    QStringList runClient(const Account& user, const QStringList& arguments) {
        std::unique_ptr<QProcess> process(startClient(user, arguments));
        process->closeWriteChannel();
        process->waitForFinished(30000);
        return QString::fromUtf8(process->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    QStringList calls(const Account& user, const QStringList& specs) {
        return runClient(user, QStringList{QStringLiteral("calls")} + specs);
    }

private Q_SLOTS:
    void initTestCase() {
        if (::geteuid() != 0)
            skip(QStringLiteral("needs root: it runs callers as other users (setpriv) and "
                                "polkitd in a private mount namespace"));
        if (!QFile::exists(kPolkitd))
            skip(kPolkitd + QStringLiteral(" is missing (scripts/setup-debian.sh installs "
                                           "polkitd)"));
        const auto nobody = account(QStringLiteral("nobody"));
        const auto granted = account(kGrantedUser);
        if (!nobody || !granted)
            skip(QStringLiteral("the accounts nobody and %1 are needed").arg(kGrantedUser));
        m_nobody = *nobody;
        m_granted = *granted;
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")});
        if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit ||
            probe.exitCode() != 0) {
            skip(QStringLiteral("no private mount namespace for polkitd here (unshare -m: %1)")
                     .arg(QString::fromLocal8Bit(probe.readAllStandardError()).trimmed() +
                          probe.errorString()));
        }

        // The installed files must be readable by polkitd's own user.
        const auto everyoneReads = QFileDevice::Permissions(0x7755);
        for (const QTemporaryDir* dir : {&m_root, &m_rules, &m_publicDir})
            QVERIFY(QFile::setPermissions(dir->path(), everyoneReads));
        QProcess install;
        install.start(helperProgram(),
                      {QStringLiteral("--install"), QStringLiteral("--root"), m_root.path()});
        QVERIFY(install.waitForFinished(30000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
        QFile rule(m_rules.filePath(QStringLiteral("50-fernpoint-test.rules")));
        QVERIFY(rule.open(QIODevice::WriteOnly));
        rule.write(QStringLiteral("polkit.addRule(function(action, subject) {\n"
                                  "  if (action.id == \"com.lunacore.sdwan.fernpoint.helper."
                                  "control\" && subject.user == \"%1\")\n"
                                  "    return polkit.Result.YES;\n"
                                  "});\n")
                       .arg(kGrantedUser)
                       .toUtf8());
        rule.close();
        QVERIFY(rule.setPermissions(QFileDevice::Permissions(0x6444)));
        m_client = m_publicDir.filePath(QStringLiteral("client"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), m_client));
        QVERIFY(QFile::setPermissions(m_client, everyoneReads));

        m_bus = std::make_unique<PrivateBus>(PrivateBus::Options{
            {m_root.path() + QStringLiteral("/usr/local/share/dbus-1/system-services")},
            {m_root.path() + QStringLiteral("/etc/dbus-1/system.d/%1.conf").arg(kHelperName),
             kPolkitBusPolicy},
            true});
        QVERIFY(m_bus->isRunning());
        m_connection = QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("root"));

        m_polkit.setProcessEnvironment(environmentFor(m_bus->address()));
        m_polkit.start(
            QStringLiteral("unshare"),
            {QStringLiteral("-m"), QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
             QStringLiteral("mount --bind \"$1\" /usr/share/polkit-1/actions && "
                            "mount --bind \"$2\" /etc/polkit-1/rules.d && exec %1")
                 .arg(kPolkitd),
             QStringLiteral("sh"), m_root.path() + QStringLiteral("/usr/share/polkit-1/actions"),
             m_rules.path()});
        if (!waitForOwner(m_connection, kPolkitName)) {
            m_polkit.kill();
            m_polkit.waitForFinished();
            skip(QStringLiteral("polkitd did not come up: ") +
                 QString::fromLocal8Bit(m_polkit.readAllStandardError()).simplified());
        }
        // The helper is activated by the bus on the first call, from the installed files.
        QCOMPARE(ping(m_connection), kVersion);
    }

    void cleanupTestCase() {
        if (m_polkit.state() != QProcess::NotRunning) {
            m_polkit.terminate();
            m_polkit.waitForFinished(5000);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("root"));
        m_bus.reset(); // the activated helper ends with its bus
    }

    // root is authorized by polkit itself: it puts the gateway in a known state.
    void init() { QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok); }

    void otherUsersReadButChangeNothing() {
        QVERIFY(callOk(m_connection, QStringLiteral("SetNat"), {false}).ok);
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, false}).ok);
        const QString networkName = callStatus(m_connection).value("network_name");

        const QStringList answers =
            calls(m_nobody, {QStringLiteral("StartGateway:%1:true").arg(kOtherNetwork),
                             QStringLiteral("SetNat:true"), QStringLiteral("StopGateway"),
                             QStringLiteral("Uninstall"), QStringLiteral("Ping"),
                             QStringLiteral("GatewayStatus")});
        QCOMPARE(answers.size(), 6);
        for (const QString& answer : answers.mid(0, 4))
            QVERIFY2(answer.section(u' ', 1).startsWith(QLatin1StringView("refused not "
                                                                          "authorized: ")),
                     qPrintable(answer));
        QCOMPARE(answers.at(4).section(u' ', 1), QStringLiteral("ok ") + kVersion.first());
        QVERIFY2(answers.at(5).contains(QLatin1StringView("\"network_name\"")),
                 qPrintable(answers.at(5)));

        const StatusAnswer after = callStatus(m_connection);
        QVERIFY(after.value("state") != QLatin1StringView("stopped"));
        QCOMPARE(after.value("network_name"), networkName);
        QCOMPARE(after.data().value(QStringLiteral("Nat")), QJsonValue(false));
        QVERIFY(QFile::exists(m_root.path() + QStringLiteral("/usr/local/libexec/fernpoint/"
                                                             "fernpoint-helper")));
    }

    // The rule grants the control action only: the granted user may not uninstall.
    void grantedUserControlsTheGateway() {
        const QStringList answers =
            calls(m_granted, {QStringLiteral("SetNat:true"), QStringLiteral("GatewayStatus"),
                              QStringLiteral("StartGateway:%1:false").arg(kNetwork),
                              QStringLiteral("Uninstall"), QStringLiteral("StopGateway"),
                              QStringLiteral("GatewayStatus")});
        QCOMPARE(answers.size(), 6);
        const auto status = [&](int index) {
            return QJsonDocument::fromJson(answers.at(index).section(u' ', 2).toUtf8())
                .object()
                .value(QStringLiteral("data"))
                .toObject();
        };
        QCOMPARE(answers.at(0).section(u' ', 1), QStringLiteral("ok"));
        QCOMPARE(status(1).value(QStringLiteral("Nat")), QJsonValue(true));
        QCOMPARE(answers.at(2).section(u' ', 1), QStringLiteral("ok"));
        QVERIFY2(answers.at(3).section(u' ', 1).startsWith(QLatin1StringView("refused not "
                                                                             "authorized: ")),
                 qPrintable(answers.at(3)));
        QCOMPARE(answers.at(4).section(u' ', 1), QStringLiteral("ok"));
        QCOMPARE(status(5).value(QStringLiteral("state")), QJsonValue(QStringLiteral("stopped")));
    }

    // Checks polkit never answers (an agent that never replies) pile up from one user; another
    // user's call is still served at once, and the pile goes when its connections go.
    void floodOfUnansweredChecksHoldsNobodyElseUp() {
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true}).ok);
        std::unique_ptr<QProcess> flood(startClient(
            m_nobody, {QStringLiteral("flood"), QStringLiteral("5"), QStringLiteral("100")}));
        QStringList report;
        const QDeadlineTimer deadline(30000);
        while (!report.contains(QStringLiteral("ready")) && !deadline.hasExpired() &&
               (flood->waitForReadyRead(100) || flood->state() != QProcess::NotRunning))
            report += QString::fromUtf8(flood->readAll()).split(u'\n', Qt::SkipEmptyParts);
        qInfo().noquote() << "flood:" << report.join(QStringLiteral(" | "));
        QVERIFY2(report.contains(QStringLiteral("ready")), qPrintable(report.join(u'\n')));

        const QStringList stop = calls(m_granted, {QStringLiteral("StopGateway")});
        qInfo().noquote() << "the granted user's StopGateway during the flood:" << stop;
        QCOMPARE(stop.size(), 1);
        QCOMPARE(stop.first().section(u' ', 1), QStringLiteral("ok"));
        QVERIFY2(stop.first().section(u' ', 0, 0).toInt() < 1000, qPrintable(stop.first()));

        QCOMPARE(report.value(0), QStringLiteral("pending 4,4,4,4,0"));
        QVERIFY2(report.value(1).startsWith(
                     QLatin1StringView("refused 484 org.freedesktop.DBus.Error.LimitsExceeded ")),
                 qPrintable(report.value(1)));

        flood->closeWriteChannel();
        QVERIFY(flood->waitForFinished(10000));
        // The helper forgot the departed connections' checks: a new one may wait again.
        QCOMPARE(
            runClient(m_nobody, {QStringLiteral("flood"), QStringLiteral("1"), QStringLiteral("6")})
                .value(0),
            QStringLiteral("pending 4"));
    }
};

int main(int argc, char* argv[]) {
    if (argc > 1 && std::string_view(argv[1]) == "--client")
        return runClient(argc, argv);
    QCoreApplication app(argc, argv);
    tst_HelperOnRealPolkit test;
    const int status = QTest::qExec(&test, argc, argv);
    return status == 0 && g_skipped ? kSkipped : status;
}

#include "tst_HelperOnRealPolkit.moc"
