#include "AppDelegate.h"
#include "DBusInstanceSignal.h"
#include "HelperInstaller.h"
#include "Localizer.h"
#include "PrivateBus.h"
#include "TrayIcon.h"
#include "UiTestFakes.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace fernpoint;

namespace {

class RecordingSignal final : public InstanceSignal {
public:
    bool subscribe(std::function<void()> onSignal) override {
        handler = std::move(onSignal);
        return true;
    }
    bool send() override {
        ++sent;
        return true;
    }
    std::function<void()> handler;
    int sent = 0;
};

// Another process holding the lock, as a running first instance would.
class LockHolder {
public:
    explicit LockHolder(const QString& path) {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT, 0644);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            ::pause();
            ::_exit(0);
        }
        char ok = '0';
        (void)!::read(ready[0], &ok, 1);
        ::close(ready[0]);
        ::close(ready[1]);
        m_locked = ok == '1';
    }
    ~LockHolder() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool locked() const { return m_locked; }

private:
    pid_t m_pid = -1;
    bool m_locked = false;
};

struct DelegateRig {
    explicit DelegateRig(const QString& lockPath)
        : settings(dir.filePath(QStringLiteral("fernpoint.conf")), QSettings::IniFormat)
        , installer(probe, runner, settings, QStringLiteral("/nonexistent/fernpoint-helper"))
        , localizer(QLocale(QStringLiteral("en_US")))
        , delegate(instanceSignal, lockPath, installer, localizer, QIcon()) {
        settings.setValue(HelperInstaller::installedVersionKey,
                          QString(HelperInstaller::requiredHelperVersion));
        delegate.setLineWriter([this](const QString& line) { lines.append(line); });
    }

    QTemporaryDir dir;
    QSettings settings;
    test::FakeJobProbe probe;
    test::FakeRunner runner;
    HelperInstaller installer;
    Localizer localizer;
    RecordingSignal instanceSignal;
    AppDelegate delegate;
    QStringList lines;
};

} // namespace

class tst_AppDelegate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void launchAgainstTheLockFile_data();
    void launchAgainstTheLockFile();
    void helperCheckFailureLine();
    void closingHidesTheWindow();
    void trayTogglesTheWindow();
    void instanceSignalBringsTheWindowBack();
    void instanceSignalTravelsOverTheSessionBus();
};

void tst_AppDelegate::launchAgainstTheLockFile_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("terminates");
    QTest::newRow("no file") << QStringLiteral("none") << false;
    QTest::newRow("file left by a dead instance") << QStringLiteral("leftover") << false;
    QTest::newRow("held by a running instance") << QStringLiteral("held") << true;
    QTest::newRow("symbolic link: no guard") << QStringLiteral("symlink") << false;
    QTest::newRow("cannot be opened: no guard") << QStringLiteral("unopenable") << false;
}

void tst_AppDelegate::launchAgainstTheLockFile() {
    QFETCH(QString, situation);
    QFETCH(bool, terminates);
    QTemporaryDir locks;
    QString lockPath = locks.filePath(QStringLiteral("com.fernpoint.lock"));
    const QString target = locks.filePath(QStringLiteral("target"));
    std::unique_ptr<LockHolder> holder;
    if (situation == QLatin1StringView("leftover")) {
        QFile file(lockPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("stale");
    } else if (situation == QLatin1StringView("held")) {
        holder = std::make_unique<LockHolder>(lockPath);
        QVERIFY(holder->locked());
    } else if (situation == QLatin1StringView("symlink")) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
        file.close();
        QVERIFY(QFile::link(target, lockPath));
    } else if (situation == QLatin1StringView("unopenable")) {
        lockPath = locks.filePath(QStringLiteral("missing/folder/com.fernpoint.lock"));
    }

    DelegateRig rig(lockPath);
    const AppDelegate::LaunchOutcome outcome = rig.delegate.applicationDidFinishLaunching();

    QVERIFY(rig.instanceSignal.handler); // subscribed in every case, first
    if (terminates) {
        QCOMPARE(outcome, AppDelegate::LaunchOutcome::Terminate);
        QCOMPARE(rig.instanceSignal.sent, 1);
        QVERIFY(!rig.delegate.trayIcon());
        QCOMPARE(rig.probe.calls, 0);
        QVERIFY(rig.lines.isEmpty());
    } else {
        QCOMPARE(outcome, AppDelegate::LaunchOutcome::Continue);
        QCOMPARE(rig.instanceSignal.sent, 0);
        QVERIFY(rig.delegate.trayIcon());
        QCOMPARE(rig.lines, QStringList{QStringLiteral("Helper installed")});
        QCOMPARE(rig.runner.calls, 0);
    }
    if (situation == QLatin1StringView("symlink")) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
        QCOMPARE(QFile(target).permissions() & QFileDevice::WriteOther, QFileDevice::Permissions());
    }
    if (situation == QLatin1StringView("leftover")) {
        // Nothing is written to the lock file.
        QFile file(lockPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("stale"));
    }
}

void tst_AppDelegate::helperCheckFailureLine() {
    QTemporaryDir locks;
    DelegateRig rig(locks.filePath(QStringLiteral("lock")));
    rig.probe.present = false;
    rig.runner.outcome = {PrivilegedRunner::Outcome::Kind::Finished, 127, QString()};
    QCOMPARE(rig.delegate.applicationDidFinishLaunching(), AppDelegate::LaunchOutcome::Continue);
    QCOMPARE(rig.lines, QStringList{QStringLiteral(
                            "❌ Helper install failed: AuthorizationCopyRights 失败: -60005")});
    QVERIFY(rig.delegate.trayIcon()); // the launch goes on
}

void tst_AppDelegate::closingHidesTheWindow() {
    QTemporaryDir locks;
    DelegateRig rig(locks.filePath(QStringLiteral("lock")));
    auto* window = new QWidget;
    QPointer<QWidget> guard(window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    rig.delegate.setMainWindow(window);
    window->show();
    QVERIFY(!window->close());
    QVERIFY(!window->isVisible());
    QCoreApplication::processEvents();
    QVERIFY(guard); // hidden, not destroyed
    rig.delegate.bringMainWindowToFront();
    QVERIFY(window->isVisible());

    // Ctrl+Q in the window quits.
    const QList<QAction*> actions = window->actions();
    const auto quit = std::find_if(actions.begin(), actions.end(), [](QAction* action) {
        return action->shortcut() == QKeySequence(QKeySequence::Quit);
    });
    QVERIFY(quit != actions.end());
    delete window;
}

void tst_AppDelegate::trayTogglesTheWindow() {
    QTemporaryDir locks;
    DelegateRig rig(locks.filePath(QStringLiteral("lock")));
    QWidget window;
    rig.delegate.setMainWindow(&window);
    // Nothing to toggle before the launch created the icon; with no window nothing happens.
    rig.delegate.applicationDidFinishLaunching();
    TrayIcon* tray = rig.delegate.trayIcon();
    QVERIFY(tray);
    QVERIFY(tray->systemTrayIcon().icon().isMask() || tray->systemTrayIcon().icon().isNull());

    tray->toggleAction().trigger();
    QVERIFY(window.isVisible());
    tray->toggleAction().trigger();
    QVERIFY(!window.isVisible());
    // A click on the icon itself does the same.
    Q_EMIT tray->systemTrayIcon().activated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible());
    Q_EMIT tray->systemTrayIcon().activated(QSystemTrayIcon::Context);
    QVERIFY(window.isVisible());
    Q_EMIT tray->systemTrayIcon().activated(QSystemTrayIcon::Trigger);
    QVERIFY(!window.isVisible());
    QCOMPARE(tray->quitAction().text(), QStringLiteral("Quit FernPoint"));
}

void tst_AppDelegate::instanceSignalBringsTheWindowBack() {
    QTemporaryDir locks;
    DelegateRig rig(locks.filePath(QStringLiteral("lock")));
    rig.delegate.applicationDidFinishLaunching();
    rig.instanceSignal.handler(); // no window yet: nothing happens
    QWidget window;
    rig.delegate.setMainWindow(&window);
    window.show();
    window.close();
    QVERIFY(!window.isVisible());
    rig.instanceSignal.handler();
    QVERIFY(window.isVisible());
}

void tst_AppDelegate::instanceSignalTravelsOverTheSessionBus() {
    test::PrivateBus bus;
    QVERIFY(bus.isRunning());
    int received = 0;
    {
        const QDBusConnection first =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("first"));
        const QDBusConnection second =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("second"));
        DBusInstanceSignal running(first);
        DBusInstanceSignal starting(second);
        QVERIFY(running.subscribe([&received] { ++received; }));
        QVERIFY(starting.send());
        QTRY_COMPARE(received, 1);
        // A signal of another interface or member is not ours.
        QDBusMessage other = QDBusMessage::createSignal(QStringLiteral("/com/fernpoint"),
                                                        QStringLiteral("com.fernpoint"),
                                                        QStringLiteral("somethingElse"));
        QVERIFY(QDBusConnection(second).send(other));
        QVERIFY(starting.send());
        QTRY_COMPARE(received, 2);
        QTest::qWait(100);
        QCOMPARE(received, 2);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("first"));
    QDBusConnection::disconnectFromBus(QStringLiteral("second"));
}

QTEST_MAIN(tst_AppDelegate)
#include "tst_AppDelegate.moc"
