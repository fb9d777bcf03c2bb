// The shell: the launch against the lock file and the window's showing and hiding in the process,
// and the lock file against another user (acting as nobody needs root).
#include "AppDelegate.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "InstanceLock.h"
#include "InstanceSignal.h"
#include "Localizer.h"
#include "TrayIcon.h"
#include "UiTestRig.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>
#include <unistd.h>

using namespace fernpoint;

namespace {

struct RecordingSignal final : InstanceSignal {
    std::function<void()> handler;
    int sent = 0;
    bool subscribe(std::function<void()> onSignal) override { return bool(handler = onSignal); }
    bool send() override { return ++sent > 0; }
};

// Another process holding a lock on path (w: exclusive, r: shared), as this user or as nobody.
struct LockHolder : QProcess {
    LockHolder(const QString& path, const QString& mode, bool asNobody = false) {
        QStringList argv{u"/usr/bin/python3"_qs, u"-c"_qs,
                         u"import fcntl, sys; w = sys.argv[2] == 'w'; "
                         "f = open(sys.argv[1], 'a' if w else 'r'); "
                         "fcntl.lockf(f, fcntl.LOCK_EX if w else fcntl.LOCK_SH); "
                         "print(flush=True); sys.stdin.read()"_qs,
                         path, mode};
        if (asNobody)
            argv = QStringList{u"setpriv"_qs, u"--reuid=nobody"_qs, u"--regid=nogroup"_qs,
                               u"--clear-groups"_qs} +
                   argv;
        const QString program = argv.takeFirst();
        if (!path.isEmpty())
            start(program, argv);
    }
    ~LockHolder() override {
        closeWriteChannel();
        waitForFinished();
    }
    bool locked() { return waitForReadyRead(10000); }
};

struct DelegateRig {
    explicit DelegateRig(const QString& lockPath)
        : settings(dir.filePath(QStringLiteral("fernpoint.conf")), QSettings::IniFormat)
        , installer(probe, runner, settings, QStringLiteral("/nonexistent/fernpoint-helper"))
        , localizer(QLocale(QStringLiteral("en_US")))
        , delegate(instanceSignal, lockPath, installer, localizer, QIcon()) {
        settings.setValue(HelperInstaller::installedVersionKey, QString(contract::kVersion));
    }

    QTemporaryDir dir;
    QSettings settings;
    test::FakeJobProbe probe;
    test::FakeRunner runner;
    HelperInstaller installer;
    Localizer localizer;
    RecordingSignal instanceSignal;
    AppDelegate delegate;
};

} // namespace

class tst_Shell : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("needs root, to act as the user nobody");
    }

    // The launch goes on, with the helper check, unless a running instance holds the lock.
    void launchAgainstTheLockFile_data() {
        QTest::addColumn<QString>("situation");
        QTest::newRow("no file") << u"none"_qs;
        QTest::newRow("file left by a dead instance") << u"stale"_qs;
        QTest::newRow("held by a running instance") << u"held"_qs;
        QTest::newRow("symbolic link: no guard") << u"keep me"_qs;
        QTest::newRow("cannot be opened: no guard") << u"unopenable"_qs;
    }

    void launchAgainstTheLockFile() {
        QFETCH(QString, situation);
        QTemporaryDir locks;
        QString lockPath = locks.filePath(QStringLiteral("com.fernpoint.lock"));
        const QString target = locks.filePath(QStringLiteral("target"));
        QFile planted(situation == u"keep me" ? target
                                              : lockPath); // a stale file, or a link's target
        if (situation == u"stale" || situation == u"keep me")
            QVERIFY(planted.open(QIODevice::WriteOnly) && planted.write(situation.toUtf8()) > 0);
        planted.close();
        if (situation == u"keep me")
            QVERIFY(QFile::link(target, lockPath));
        if (situation == u"unopenable")
            lockPath = locks.filePath(QStringLiteral("missing/folder/com.fernpoint.lock"));
        LockHolder holder(situation == u"held" ? lockPath : QString(), QStringLiteral("w"));
        QVERIFY(situation != u"held" || holder.locked());

        DelegateRig rig(lockPath);
        const bool terminates = situation == u"held";
        QCOMPARE(rig.delegate.applicationDidFinishLaunching(),
                 terminates ? AppDelegate::LaunchOutcome::Terminate
                            : AppDelegate::LaunchOutcome::Continue);
        // A second instance signals the first and goes before checking the helper.
        QCOMPARE(rig.instanceSignal.sent, terminates ? 1 : 0);
        QCOMPARE(rig.probe.calls, terminates ? 0 : 1);
        // Nothing is written to the lock file, nor through a link planted in its place, whose
        // target keeps its mode too (a lock file of ours is made readable by its owner alone).
        QCOMPARE(bool(QFileInfo(planted.fileName()).permissions() & QFileDevice::ReadOther),
                 situation == u"keep me");
        planted.open(QIODevice::ReadOnly);
        QCOMPARE(planted.readAll(), situation == u"stale" || situation == u"keep me"
                                        ? situation.toUtf8()
                                        : QByteArray());
    }

    void windowShowsAndHides() {
        QTemporaryDir locks;
        DelegateRig rig(locks.filePath(QStringLiteral("lock")));
        rig.delegate.applicationDidFinishLaunching();
        rig.instanceSignal.handler(); // no window yet: nothing happens
        auto* window = new QWidget;
        const std::unique_ptr<QWidget> owner(window);
        QPointer<QWidget> guard(window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        rig.delegate.setMainWindow(window);
        window->show();
        QVERIFY(!window->close());
        QVERIFY(!window->isVisible());
        QCoreApplication::processEvents();
        QVERIFY(guard);               // hidden, not destroyed
        rig.instanceSignal.handler(); // another instance starting brings it back
        QVERIFY(window->isVisible());
    }

    // The lock file is this user's alone (0600). Another user's file at the path, or another user's
    // read lock on an older readable file of ours, make the guard lock the same name in
    // XDG_RUNTIME_DIR instead.
    void anotherUserCannotTakeTheLock_data() {
        QTest::addColumn<QString>("nobodyLocks"); // w: nobody's file, write-locked; r: read-locked
        QTest::newRow("no file yet") << QString();
        QTest::newRow("nobody's file, write-locked") << QStringLiteral("w");
        QTest::newRow("own readable file, read-locked by nobody") << QStringLiteral("r");
    }

    void anotherUserCannotTakeTheLock() {
        QFETCH(QString, nobodyLocks);
        QTemporaryDir shared; // like /tmp: anyone may create files, only their owner removes them
        QTemporaryDir runtime;
        QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0);
        const QString lockPath = shared.filePath(QStringLiteral("com.fernpoint.lock"));
        const QString fallback = runtime.filePath(QStringLiteral("com.fernpoint.lock"));
        QFile old(lockPath);
        if (nobodyLocks == u"r")
            QVERIFY(old.open(QIODevice::WriteOnly) &&
                    old.setPermissions(QFileDevice::Permissions(0x6444)));
        old.close();
        LockHolder nobody(nobodyLocks.isEmpty() ? QString() : lockPath, nobodyLocks, true);
        QVERIFY(nobodyLocks.isEmpty() || nobody.locked());

        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        InstanceLock lock(lockPath);
        QCOMPARE(lock.tryAcquire(), InstanceLock::Outcome::Acquired);
        qputenv("XDG_RUNTIME_DIR", savedRuntime);

        QCOMPARE(lock.path(), nobodyLocks.isEmpty() ? lockPath : fallback);
        for (const QString& ours : {lock.path(), nobodyLocks == u"w" ? QString() : lockPath}) {
            struct stat info = {};
            QVERIFY(ours.isEmpty() ||
                    (::stat(QFile::encodeName(ours).constData(), &info) == 0 &&
                     info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0600));
        }
    }
};

QTEST_MAIN(tst_Shell)
#include "tst_Shell.moc"
