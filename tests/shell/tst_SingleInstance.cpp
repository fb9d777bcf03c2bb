// Two real application processes on private buses: the second wakes the first and exits. They
// use the machine's real lock file, so this test never runs alongside another that does.

#include "HelperContract.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kLockPath = QStringLiteral("/tmp/com.fernpoint.lock");

// True when some process holds the lock: a FernPoint of this machine is running.
bool lockHeldByAnotherProcess() {
    const int fd = ::open(QFile::encodeName(kLockPath).constData(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

// One application process with everything it printed so far.
struct AppProcess {
    explicit AppProcess(const QProcessEnvironment& environment) {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(FERNPOINT_APP_PATH), {});
    }
    ~AppProcess() {
        process.kill();
        process.waitForFinished(5000);
    }
    QString out() { return m_out += QString::fromUtf8(process.readAllStandardOutput()); }
    QString err() { return m_err += QString::fromUtf8(process.readAllStandardError()); }

    QProcess process;

private:
    QString m_out;
    QString m_err;
};

} // namespace

class tst_SingleInstance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondInstanceWakesTheFirstAndExits();
};

void tst_SingleInstance::secondInstanceWakesTheFirstAndExits() {
    if (lockHeldByAnotherProcess())
        QSKIP("FernPoint runs on this machine; its lock file is in use");
    // The helper counts as installed: its name is owned on the (private) system bus and the
    // installed version is recorded, so the application never tries to install it.
    fernpoint::test::TemporaryHome home;
    QVERIFY(QDir().mkpath(home.configHome() + QStringLiteral("/FernPoint")));
    QFile config(home.configHome() + QStringLiteral("/FernPoint/fernpoint.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[General]\nfernpoint.helper.installedVersion=" +
                 QByteArray(fernpoint::contract::kVersion.data()) + "\n");
    config.close();
    fernpoint::test::PrivateBus systemBus;
    fernpoint::test::PrivateBus sessionBus;
    QVERIFY(systemBus.isRunning() && sessionBus.isRunning());
    const QString owner = QStringLiteral("helper-owner");
    const auto disconnect = qScopeGuard([&owner] { QDBusConnection::disconnectFromBus(owner); });
    QVERIFY(QDBusConnection::connectToBus(systemBus.address(), owner)
                .registerService(fernpoint::contract::kBusName));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus.address());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus.address());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("fernpoint.shell.debug=true"));

    AppProcess first(environment);
    QTRY_VERIFY_WITH_TIMEOUT(first.out().contains(QStringLiteral("Helper installed")), 15000);
    QVERIFY(!first.err().contains(QStringLiteral("brought to front")));

    AppProcess second(environment);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(second.process.waitForFinished(10000));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY2(!second.out().contains(QStringLiteral("Helper")), qPrintable(second.out()));

    QTRY_VERIFY_WITH_TIMEOUT(first.err().contains(QStringLiteral("main window brought to front")),
                             5000);
    QCOMPARE(first.process.state(), QProcess::Running);
    QCOMPARE(first.out().count(QStringLiteral("Helper installed")), 1);
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
