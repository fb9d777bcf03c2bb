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
        start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral("-c"),
               QStringLiteral("import fcntl, sys\nf = open(sys.argv[1], 'a')\n"
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
    void helperCheckFailureLine();
    void windowShowsAndHides();
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
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    if (situation == QLatin1StringView("leftover")) {
        QVERIFY(write(lockPath, "stale"));
    } else if (situation == QLatin1StringView("held")) {
        holder = std::make_unique<LockHolder>(lockPath);
        QVERIFY(holder->locked());
    } else if (situation == QLatin1StringView("symlink")) {
        QVERIFY(write(target, "keep me") && QFile::link(target, lockPath));
    } else if (situation == QLatin1StringView("unopenable")) {
        lockPath = locks.filePath(QStringLiteral("missing/folder/com.fernpoint.lock"));
    }

    DelegateRig rig(lockPath);
    const AppDelegate::LaunchOutcome outcome = rig.delegate.applicationDidFinishLaunching();

    QVERIFY(rig.instanceSignal.handler); // subscribed in every case, first
    // A second instance signals the first and goes before checking the helper.
    QCOMPARE(outcome, terminates ? AppDelegate::LaunchOutcome::Terminate
                                 : AppDelegate::LaunchOutcome::Continue);
    QCOMPARE(rig.instanceSignal.sent, terminates ? 1 : 0);
    QCOMPARE(rig.delegate.trayIcon() != nullptr, !terminates);
    if (terminates)
        QCOMPARE(rig.probe.calls, 0);
    QCOMPARE(rig.lines,
             terminates ? QStringList() : QStringList{QStringLiteral("Helper installed")});
    // Nothing is written to the lock file, nor through a link planted in its place.
    QCOMPARE(read(situation == QLatin1StringView("symlink") ? target : lockPath),
             situation == QLatin1StringView("symlink")    ? QByteArray("keep me")
             : situation == QLatin1StringView("leftover") ? QByteArray("stale")
                                                          : QByteArray());
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
