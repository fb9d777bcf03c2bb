#include "AppDelegate.h"
#include "ConsoleWriter.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "InstanceSignal.h"
#include "Localizer.h"
#include "TrayIcon.h"
#include "UiTestFakes.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

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
struct LockHolder : QProcess {
    explicit LockHolder(const QString& path) {
        if (!path.isEmpty())
            start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-c"),
                   QStringLiteral(
                       "import fcntl, sys\nf = open(sys.argv[1], 'a')\n"
                       "fcntl.lockf(f, fcntl.LOCK_EX)\nprint(flush=True)\nsys.stdin.read()"),
                   path});
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
        previousSink = ConsoleWriter::setSink([this](const QString& line) { lines.append(line); });
    }
    ~DelegateRig() { ConsoleWriter::setSink(previousSink); }

    QTemporaryDir dir;
    QSettings settings;
    test::FakeJobProbe probe;
    test::FakeRunner runner;
    HelperInstaller installer;
    Localizer localizer;
    RecordingSignal instanceSignal;
    AppDelegate delegate;
    QStringList lines;
    ConsoleWriter::Sink previousSink;
};

} // namespace

class tst_AppDelegate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void launchAgainstTheLockFile_data();
    void launchAgainstTheLockFile();
    void windowShowsAndHides();
};

void tst_AppDelegate::launchAgainstTheLockFile_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("line"); // printed by the helper check; empty: the launch ends
    const QString installed = QStringLiteral("Helper installed");
    QTest::newRow("no file") << QStringLiteral("none") << installed;
    QTest::newRow("file left by a dead instance") << QStringLiteral("stale") << installed;
    QTest::newRow("held by a running instance") << QStringLiteral("held") << QString();
    QTest::newRow("symbolic link: no guard") << QStringLiteral("keep me") << installed;
    QTest::newRow("cannot be opened: no guard") << QStringLiteral("unopenable") << installed;
    QTest::newRow("the install fails: the launch goes on")
        << QStringLiteral("none")
        << QStringLiteral("❌ Helper install failed: AuthorizationCopyRights 失败: -60005");
}

void tst_AppDelegate::launchAgainstTheLockFile() {
    QFETCH(QString, situation);
    QFETCH(QString, line);
    QTemporaryDir locks;
    QString lockPath = locks.filePath(QStringLiteral("com.fernpoint.lock"));
    const QString target = locks.filePath(QStringLiteral("target"));
    QFile planted(situation == u"keep me" ? target : lockPath); // a stale file, or a link's target
    if (situation == u"stale" || situation == u"keep me")
        QVERIFY(planted.open(QIODevice::WriteOnly) && planted.write(situation.toUtf8()) > 0);
    planted.close();
    if (situation == u"keep me")
        QVERIFY(QFile::link(target, lockPath));
    if (situation == u"unopenable")
        lockPath = locks.filePath(QStringLiteral("missing/folder/com.fernpoint.lock"));
    LockHolder holder(situation == u"held" ? lockPath : QString());
    QVERIFY(situation != u"held" || holder.locked());

    DelegateRig rig(lockPath);
    if (line.startsWith(u'❌')) {
        rig.probe.present = false;
        rig.runner.outcome = {PrivilegedRunner::Outcome::Kind::Finished, 127, QString()};
    }
    const bool terminates = line.isEmpty();
    QCOMPARE(rig.delegate.applicationDidFinishLaunching(),
             terminates ? AppDelegate::LaunchOutcome::Terminate
                        : AppDelegate::LaunchOutcome::Continue);
    QVERIFY(rig.instanceSignal.handler); // subscribed in every case, first
    // A second instance signals the first and goes before checking the helper.
    QCOMPARE(rig.instanceSignal.sent, terminates ? 1 : 0);
    QCOMPARE(rig.delegate.trayIcon() != nullptr, !terminates);
    QVERIFY(!terminates || rig.probe.calls == 0);
    QCOMPARE(rig.lines, terminates ? QStringList() : QStringList{line});
    // Nothing is written to the lock file, nor through a link planted in its place, whose target
    // keeps its mode too (a lock file of ours is made readable by its owner alone).
    QCOMPARE(bool(QFileInfo(planted.fileName()).permissions() & QFileDevice::ReadOther),
             situation == u"keep me");
    planted.open(QIODevice::ReadOnly);
    QCOMPARE(planted.readAll(),
             situation == u"stale" || situation == u"keep me" ? situation.toUtf8() : QByteArray());
}

void tst_AppDelegate::windowShowsAndHides() {
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
    // Ctrl+Q in the window quits.
    const QList<QAction*> actions = window->actions();
    QVERIFY(std::any_of(actions.begin(), actions.end(), [](QAction* action) {
        return action->shortcut() == QKeySequence(QKeySequence::Quit);
    }));

    // The tray's action and a click on the icon toggle it; its context menu does not.
    TrayIcon* tray = rig.delegate.trayIcon();
    QVERIFY(tray);
    tray->toggleAction().trigger();
    QVERIFY(!window->isVisible());
    Q_EMIT tray->systemTrayIcon().activated(QSystemTrayIcon::Trigger);
    QVERIFY(window->isVisible());
    Q_EMIT tray->systemTrayIcon().activated(QSystemTrayIcon::Context);
    QVERIFY(window->isVisible());
    tray->toggleAction().trigger();
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(tst_AppDelegate)
#include "tst_AppDelegate.moc"
