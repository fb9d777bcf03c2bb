#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kLockPath = QStringLiteral("/tmp/com.fernpoint.lock");
const QString kHelperName = QStringLiteral("com.lunacore.sdwan.fernpoint.helper");

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
class AppProcess {
public:
    explicit AppProcess(const QProcessEnvironment& environment) {
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(FERNPOINT_APP_PATH), {});
    }
    ~AppProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QString out() {
        m_out += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_out;
    }
    QString err() {
        m_err += QString::fromUtf8(m_process.readAllStandardError());
        return m_err;
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QString m_out;
    QString m_err;
};

} // namespace

class tst_SingleInstance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void secondInstanceWakesTheFirstAndExits();
    void leftoverLockFileDoesNotBlock();
    void symbolicLinkAtTheLockPathIsLeftAlone();
    void cleanupTestCase();

private:
    std::unique_ptr<fernpoint::test::TemporaryHome> m_home;
    std::unique_ptr<fernpoint::test::PrivateBus> m_systemBus;
    std::unique_ptr<fernpoint::test::PrivateBus> m_sessionBus;
    QProcessEnvironment m_environment;
};

void tst_SingleInstance::initTestCase() {
    if (lockHeldByAnotherProcess())
        QSKIP("FernPoint runs on this machine; its lock file is in use");
    m_home = std::make_unique<fernpoint::test::TemporaryHome>();
    // The helper counts as installed: its name is owned on the (private) system bus and the
    // installed version is recorded, so the application never tries to install it.
    QDir().mkpath(m_home->configHome() + QStringLiteral("/FernPoint"));
    QFile config(m_home->configHome() + QStringLiteral("/FernPoint/fernpoint.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[General]\nfernpoint.helper.installedVersion=1.0.4\n");
    config.close();

    m_systemBus = std::make_unique<fernpoint::test::PrivateBus>();
    m_sessionBus = std::make_unique<fernpoint::test::PrivateBus>();
    QVERIFY(m_systemBus->isRunning());
    QVERIFY(m_sessionBus->isRunning());
    QDBusConnection owner =
        QDBusConnection::connectToBus(m_systemBus->address(), QStringLiteral("helper-owner"));
    QVERIFY(owner.registerService(kHelperName));

    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_systemBus->address());
    m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_sessionBus->address());
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                         QStringLiteral("fernpoint.shell.debug=true"));
}

void tst_SingleInstance::cleanupTestCase() {
    QDBusConnection::disconnectFromBus(QStringLiteral("helper-owner"));
}

void tst_SingleInstance::secondInstanceWakesTheFirstAndExits() {
    AppProcess first(m_environment);
    QTRY_VERIFY_WITH_TIMEOUT(first.out().contains(QStringLiteral("Helper installed")), 15000);
    QVERIFY(!first.err().contains(QStringLiteral("brought to front")));

    AppProcess second(m_environment);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(second.process().waitForFinished(10000));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process().exitCode(), 0);
    QVERIFY2(!second.out().contains(QStringLiteral("Helper")), qPrintable(second.out()));

    QTRY_VERIFY_WITH_TIMEOUT(first.err().contains(QStringLiteral("main window brought to front")),
                             5000);
    QCOMPARE(first.process().state(), QProcess::Running);
    QCOMPARE(first.out().count(QStringLiteral("Helper installed")), 1);
}

void tst_SingleInstance::leftoverLockFileDoesNotBlock() {
    // The previous test killed its instance; the file stays, the lock went with the process.
    {
        AppProcess crashed(m_environment);
        QTRY_VERIFY_WITH_TIMEOUT(crashed.out().contains(QStringLiteral("Helper installed")), 15000);
        ::kill(static_cast<pid_t>(crashed.process().processId()), SIGKILL);
        QVERIFY(crashed.process().waitForFinished(5000));
    }
    QVERIFY(QFileInfo::exists(kLockPath));

    AppProcess next(m_environment);
    QTRY_VERIFY_WITH_TIMEOUT(next.out().contains(QStringLiteral("Helper installed")), 15000);
    QCOMPARE(next.process().state(), QProcess::Running);
}

void tst_SingleInstance::symbolicLinkAtTheLockPathIsLeftAlone() {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target"));
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    QFile::remove(kLockPath);
    QVERIFY(QFile::link(target, kLockPath));
    const QDateTime modified = QFileInfo(target).lastModified();

    {
        // Without a guard the launch goes on.
        AppProcess app(m_environment);
        QTRY_VERIFY_WITH_TIMEOUT(app.out().contains(QStringLiteral("Helper installed")), 15000);
    }
    QFile::remove(kLockPath);

    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
    QCOMPARE(QFileInfo(target).lastModified(), modified);
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
