// Two real application processes on private buses: the second wakes the first and exits. And the
// lock file against another user. The test runs in a mount namespace with a /tmp of its own, so
// the instances' lock file is never the machine's; that and acting as nobody need root.

#include "HelperContract.h"
#include "InstanceLock.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sched.h>
#include <sys/mount.h>

namespace {

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
    void initTestCase();
    void secondInstanceWakesTheFirstAndExits();
    void anotherUserCannotTakeTheLock_data();
    void anotherUserCannotTakeTheLock();
};

void tst_SingleInstance::initTestCase() {
    // The program's folder is mounted back in place: the build may lie below /tmp itself.
    const QByteArray programFolder =
        QFile::encodeName(QFileInfo(QStringLiteral(FERNPOINT_APP_PATH)).absolutePath());
    int folder = -1;
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        (folder = ::open(programFolder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC)) < 0 ||
        ::mount("fernpoint-tmp", "/tmp", "tmpfs", 0, "mode=1777") != 0 ||
        !QDir().mkpath(QFile::decodeName(programFolder)) ||
        ::mount(("/proc/self/fd/" + QByteArray::number(folder)).constData(),
                programFolder.constData(), nullptr, MS_BIND, nullptr) != 0) {
        std::puts("SKIP: needs root, for a /tmp of its own and to act as the user nobody");
        std::exit(77);
    }
    ::close(folder);
}

void tst_SingleInstance::secondInstanceWakesTheFirstAndExits() {
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

    // Asked to end, it ends as quitting does (the code after its event loop runs).
    ::kill(static_cast<pid_t>(first.process.processId()), SIGTERM);
    QVERIFY(first.process.waitForFinished(10000));
    QCOMPARE(first.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.process.exitCode(), 0);
}

// The lock file is this user's alone (0600). Another user's file at the path, or another user's
// read lock on an older readable file of ours, make the guard lock the same name in
// XDG_RUNTIME_DIR instead, with one warning.
void tst_SingleInstance::anotherUserCannotTakeTheLock_data() {
    QTest::addColumn<QString>("nobodyLocks"); // w: nobody's file, write-locked; r: read-locked
    QTest::newRow("no file yet") << QString();
    QTest::newRow("nobody's file, write-locked") << QStringLiteral("w");
    QTest::newRow("own readable file, read-locked by nobody") << QStringLiteral("r");
}

void tst_SingleInstance::anotherUserCannotTakeTheLock() {
    QFETCH(QString, nobodyLocks);
    QTemporaryDir shared; // like /tmp: anyone may create files, only their owner removes them
    QTemporaryDir runtime;
    QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0);
    const QString lockPath = shared.filePath(QStringLiteral("com.fernpoint.lock"));
    const QString fallback = runtime.filePath(QStringLiteral("com.fernpoint.lock"));
    QFile old(lockPath);
    if (nobodyLocks == QLatin1StringView("r"))
        QVERIFY(old.open(QIODevice::WriteOnly) &&
                old.setPermissions(QFileDevice::Permissions(0x6444)));
    old.close();
    QProcess nobody;
    if (!nobodyLocks.isEmpty()) {
        nobody.start(QStringLiteral("setpriv"),
                     {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                      QStringLiteral("--clear-groups"), QStringLiteral("/usr/bin/python3"),
                      QStringLiteral("-c"),
                      QStringLiteral("import fcntl, sys\nw = sys.argv[2] == 'w'\n"
                                     "f = open(sys.argv[1], 'a' if w else 'r')\n"
                                     "fcntl.lockf(f, fcntl.LOCK_EX if w else fcntl.LOCK_SH)\n"
                                     "print('locked', flush=True)\nsys.stdin.read()\n"),
                      lockPath, nobodyLocks});
        QVERIFY(nobody.waitForReadyRead(10000));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("%1 .*another.*; locking %2 instead")
                                                    .arg(QRegularExpression::escape(lockPath),
                                                         QRegularExpression::escape(fallback))));
    }

    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    fernpoint::InstanceLock lock(lockPath);
    QCOMPARE(lock.tryAcquire(), fernpoint::InstanceLock::Outcome::Acquired);
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    nobody.closeWriteChannel();
    nobody.waitForFinished(5000);

    QCOMPARE(lock.path(), nobodyLocks.isEmpty() ? lockPath : fallback);
    for (const QString& ours :
         {lock.path(), nobodyLocks == QLatin1StringView("w") ? QString() : lockPath}) {
        struct stat info = {};
        QVERIFY(ours.isEmpty() || (::stat(QFile::encodeName(ours).constData(), &info) == 0 &&
                                   info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0600));
    }
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
