#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <utility>

#include <sys/stat.h>
#include <unistd.h>

using namespace fernpoint::test;

namespace {

const QString kProgram = QStringLiteral("/usr/local/libexec/fernpoint/fernpoint-helper");
const QString kServices = QStringLiteral("/usr/local/share/dbus-1/system-services");
const QString kActivation = kServices + QLatin1Char('/') + kHelperName + QStringLiteral(".service");
const QString kBusPolicy = QStringLiteral("/etc/dbus-1/system.d/%1.conf").arg(kHelperName);
const QString kPolkitAction =
    QStringLiteral("/usr/share/polkit-1/actions/%1.policy").arg(kHelperName);
const QString kUnit = QStringLiteral("/etc/systemd/system/fernpoint-helper.service");
const QStringList kInstalledFiles = [] {
    QStringList files{kProgram, kActivation, kBusPolicy, kPolkitAction, kUnit};
    files.sort();
    return files;
}();

struct Run {
    int exitCode = -1;
    QString standardError;
    // The single line the installer shows its user.
    bool errIsOneLine() const {
        return standardError.size() > 1 && standardError.endsWith(u'\n') &&
               standardError.count(u'\n') == 1;
    }
};

// The helper with these arguments, as root or (prefix) as another user.
Run runHelper(const QStringList& arguments, const QStringList& prefix = {},
              const QString& program = helperProgram()) {
    QProcess process;
    process.setProcessEnvironment(
        environmentFor(QStringLiteral("unix:path=/nonexistent/fernpoint-bus")));
    const QStringList command = prefix + QStringList{program} + arguments;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

Run install(const QString& root) {
    return runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root});
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool overwrite(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) >= 0;
}

mode_t modeOf(const QString& path) {
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Every file below a folder, relative to it.
QStringList filesBelow(const QString& root) {
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(root.size());
    files.sort();
    return files;
}

// A world-readable copy of the helper for runs as another user (the build tree may be private).
QString publicCopyOfHelper(QTemporaryDir& dir) {
    const auto everyoneReads = QFileDevice::Permissions(0x7555);
    QFile::setPermissions(dir.path(), everyoneReads);
    const QString copy = dir.filePath(QStringLiteral("fernpoint-helper"));
    QFile::copy(helperProgram(), copy);
    QFile::setPermissions(copy, everyoneReads);
    return copy;
}

const QStringList kAsNobody{QStandardPaths::findExecutable(QStringLiteral("setpriv")),
                            QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                            QStringLiteral("--clear-groups")};

} // namespace

class tst_HelperInstallStep final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Checked after a reinstall over an earlier installation, which replaces every file.
    void installPutsEveryFileInPlace() {
        QTemporaryDir root;
        QCOMPARE(install(root.path()).exitCode, 0);
        for (const QString& file : kInstalledFiles)
            QVERIFY(overwrite(root.path() + file, "old"));
        const Run run = install(root.path());
        QVERIFY2(run.exitCode == 0, qPrintable(run.standardError));
        QCOMPARE(filesBelow(root.path()), kInstalledFiles);
        QCOMPARE(readAll(root.path() + kProgram), readAll(helperProgram()));
        for (const QString& file : kInstalledFiles)
            QCOMPARE(modeOf(root.path() + file), mode_t(file == kProgram ? 0755 : 0644));
        // The unit starts the program where it was put, with authorization on.
        const QString unit = QString::fromUtf8(readAll(root.path() + kUnit));
        QVERIFY(unit.contains(QStringLiteral("\nExecStart=%1\n").arg(root.path() + kProgram)));
        QVERIFY(!unit.contains(QLatin1StringView("--no-authorization")));
    }

    // The bus policy as a system-like bus enforces it: only root owns the name, everyone may
    // call the helper's interface and the standard ones on it, and nothing else on the helper.
    void busPolicyIsEnforced() {
        QTemporaryDir root;
        QCOMPARE(install(root.path()).exitCode, 0);
        QVERIFY(!readAll(root.path() + kBusPolicy).contains("=\"*\""));
        PrivateBus bus(PrivateBus::Options{{}, {root.path() + kBusPolicy}, true});
        QVERIFY(bus.isRunning());
        QTemporaryDir publicDir;
        const QString helper = publicCopyOfHelper(publicDir);

        QProcess nobodyHelper;
        nobodyHelper.setProcessEnvironment(environmentFor(bus.address()));
        nobodyHelper.start(kAsNobody.first(),
                           kAsNobody.mid(1) +
                               QStringList{helper, QStringLiteral("--no-authorization")});
        QVERIFY(nobodyHelper.waitForFinished(10000));
        QCOMPARE(nobodyHelper.exitCode(), 1);
        QVERIFY(nobodyHelper.readAllStandardError().contains("cannot own"));

        HelperProcess rootHelper(bus.address(), {QStringLiteral("--no-authorization")});
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("policy"));
        QVERIFY(waitForOwner(connection, kHelperName));
        const auto sendAsNobody = [&](const QString& member) {
            QProcess send;
            send.start(kAsNobody.first(),
                       kAsNobody.mid(1) +
                           QStringList{QStandardPaths::findExecutable(QStringLiteral("dbus-send")),
                                       QStringLiteral("--bus=") + bus.address(),
                                       QStringLiteral("--print-reply"),
                                       QStringLiteral("--dest=") + kHelperName, kHelperPath,
                                       member});
            send.waitForFinished(10000);
            return QString::fromUtf8(send.readAllStandardOutput() + send.readAllStandardError());
        };
        const QList<std::pair<QString, QString>> sends{
            {kHelperInterface + QStringLiteral(".Ping"), kVersion.first()},
            {QStringLiteral("org.freedesktop.DBus.Introspectable.Introspect"),
             QStringLiteral("method return")},
            {QStringLiteral("com.example.Other.Ping"), QStringLiteral("AccessDenied")}};
        for (const auto& [member, expected] : sends)
            QVERIFY2(sendAsNobody(member).contains(expected), qPrintable(member));
        QDBusConnection::disconnectFromBus(QStringLiteral("policy"));
    }

    // The installed activation file, unchanged, lets a bus start the installed program on the
    // first call. Authorization stays on: reading calls work, changing calls are refused because
    // this bus has no polkit.
    void installedHelperIsActivatedOnFirstCall() {
        QTemporaryDir root;
        QCOMPARE(install(root.path()).exitCode, 0);
        PrivateBus bus(PrivateBus::Options{{root.path() + kServices}, {}, false});
        QVERIFY(bus.isRunning());
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("activation"));
        QVERIFY(!connection.interface()->isServiceRegistered(kHelperName).value());

        QCOMPARE(ping(connection), kVersion);
        const QString exe = QStringLiteral("/proc/%1/exe")
                                .arg(connection.interface()->servicePid(kHelperName).value());
        QCOMPARE(QFileInfo(exe).symLinkTarget(), root.path() + kProgram);
        const OkAnswer start = callOk(connection, QStringLiteral("StartGateway"), {kNetwork, true});
        QVERIFY(start.transportOk && !start.ok);
        QVERIFY(start.message.value(0).startsWith(QLatin1StringView("not authorized: ")));

        QDBusConnection::disconnectFromBus(QStringLiteral("activation"));
        // The activated helper ends with its bus.
        bus.kill();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(exe).symLinkTarget() != root.path() + kProgram, 5000);
    }

    // A failed install leaves everything as it was: no temporary file, no file half-replaced.
    void failureChangesNothing_data() {
        QTest::addColumn<QString>("blocker"); // created below the root
        QTest::addColumn<bool>("blockerIsFolder");
        QTest::addColumn<bool>("installedBefore");
        QTest::newRow("a file where a folder must go")
            << QStringLiteral("/etc/dbus-1") << false << false;
        QTest::newRow("a file where the root must be") << QString() << false << false;
        QTest::newRow("a folder where the program must go") << kProgram << true << false;
        QTest::newRow("a folder where the unit must go, over an installation")
            << kUnit << true << true;
    }

    void failureChangesNothing() {
        QFETCH(QString, blocker);
        QFETCH(bool, blockerIsFolder);
        QFETCH(bool, installedBefore);
        QTemporaryDir parent;
        const QString root = parent.filePath(QStringLiteral("root"));
        QVERIFY(QDir().mkpath(root + QFileInfo(blocker).path()));
        if (installedBefore) {
            QCOMPARE(install(root).exitCode, 0);
            QVERIFY(overwrite(root + kProgram, "old helper"));
            QVERIFY(QFile::remove(root + blocker));
        }
        if (blocker.isEmpty())
            QVERIFY(QDir(root).removeRecursively());
        if (blockerIsFolder)
            QVERIFY(QDir().mkpath(root + blocker));
        else
            QVERIFY(overwrite(root + blocker, {}));
        const auto contents = [&] {
            QStringList files = filesBelow(parent.path());
            for (QString& file : files)
                file += QString::number(qHash(readAll(parent.path() + file)));
            return files;
        };
        const QStringList before = contents();
        const Run run = install(root);
        QVERIFY(run.exitCode > 0);
        QVERIFY2(run.errIsOneLine(), qPrintable(run.standardError));
        QCOMPARE(contents(), before);
    }

    void uninstallRemovesEverything() {
        QTemporaryDir root;
        QCOMPARE(install(root.path()).exitCode, 0);
        const QString unrelated = QStringLiteral("/etc/dbus-1/system.d/other.conf");
        QVERIFY(overwrite(root.path() + unrelated, {}));
        const QStringList uninstall{QStringLiteral("--uninstall"), QStringLiteral("--root"),
                                    root.path()};
        const Run run = runHelper(uninstall);
        QVERIFY2(run.exitCode == 0, qPrintable(run.standardError));
        QCOMPARE(filesBelow(root.path()), QStringList{unrelated});
        QCOMPARE(runHelper(uninstall).exitCode, 0); // nothing left to remove is no failure
    }

    // The system locations need root; any user may install into a folder of its own; a root
    // that could not be written into the files safely is refused.
    void whereTheStepMayWrite_data() {
        QTest::addColumn<QStringList>("arguments"); // ROOT: a folder anyone may write into
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<int>("exitCode");
        const QString install = QStringLiteral("--install");
        QTest::newRow("install") << QStringList{install} << true << 1;
        QTest::newRow("install into //usr/..")
            << QStringList{install, QStringLiteral("--root=//usr/..")} << true << 1;
        QTest::newRow("own folder")
            << QStringList{install, QStringLiteral("--root"), QStringLiteral("ROOT")} << true << 0;
        QTest::newRow("relative root")
            << QStringList{install, QStringLiteral("--root=some/where")} << false << 2;
        QTest::newRow("line break in root")
            << QStringList{install, QStringLiteral("--root=/tmp/a\nExec=/bin/sh")} << false << 2;
    }

    void whereTheStepMayWrite() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, asNobody);
        QFETCH(int, exitCode);
        QTemporaryDir publicDir;
        const QString program = asNobody ? publicCopyOfHelper(publicDir) : helperProgram();
        const QString root = publicDir.filePath(QStringLiteral("root"));
        QVERIFY(QDir().mkpath(root));
        QVERIFY(QFile::setPermissions(root, QFileDevice::Permissions(0x7777)));
        arguments.replaceInStrings(QStringLiteral("ROOT"), root);

        const Run run = runHelper(arguments, asNobody ? kAsNobody : QStringList(), program);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 0) {
            QCOMPARE(filesBelow(root), kInstalledFiles);
            return;
        }
        QVERIFY2(run.errIsOneLine(), qPrintable(run.standardError));
        if (asNobody)
            QVERIFY(run.standardError.contains(u"not running as root"));
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstallStep)
#include "tst_HelperInstallStep.moc"
