#include "HelperTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

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

// The helper with these arguments, as root or (prefix) as another user; with no program, the
// prefix itself is the command.
Run runHelper(const QStringList& arguments, const QStringList& prefix = {},
              const QString& program = helperProgram()) {
    QProcess process;
    process.setProcessEnvironment(
        environmentFor(QStringLiteral("unix:path=/nonexistent/fernpoint-bus")));
    QStringList command = prefix;
    if (!program.isEmpty())
        command << program;
    command << arguments;
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

        // The unit is hardened: systemd's own exposure score of it stays at 2.5 or lower.
        QProcess analyze;
        analyze.start(
            QStringLiteral("systemd-analyze"),
            {QStringLiteral("security"), QStringLiteral("--offline=yes"), root.path() + kUnit});
        QVERIFY2(analyze.waitForFinished(30000),
                 "systemd-analyze is missing (scripts/setup-debian.sh installs systemd)");
        const QString report = QString::fromUtf8(analyze.readAllStandardOutput());
        bool isNumber = false;
        const double exposure = report
                                    .section(QLatin1StringView("Overall exposure level for "
                                                               "fernpoint-helper.service: "),
                                             1)
                                    .section(u' ', 0, 0)
                                    .toDouble(&isNumber);
        QVERIFY2(isNumber && exposure <= 2.5, qPrintable(report.right(300)));
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

    // The system locations need root. Below another root, root goes only through folders nobody
    // else can change, and nobody follows a symbolic link: whatever another user planted there,
    // nothing is written through it. Any user may install into a folder of its own. The setup
    // runs as root, then as nobody; ROOT is the root, ABOVE the folder above it.
    void whereTheStepMayWrite_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setupAsRoot");
        QTest::addColumn<QString>("setupAsNobody");
        QTest::addColumn<bool>("stepAsNobody");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        const QString install = QStringLiteral("--install");
        const QStringList intoRoot{install, QStringLiteral("--root"), QStringLiteral("ROOT")};
        const QString plantLink = QStringLiteral("ln -s ABOVE/elsewhere ");
        QTest::newRow("system locations, as nobody")
            << QStringList{install} << QString() << QString() << true << 1
            << QStringLiteral("not running as root");
        QTest::newRow("//usr/.., as nobody")
            << QStringList{install, QStringLiteral("--root=//usr/..")} << QString() << QString()
            << true << 1 << QStringLiteral("not running as root");
        QTest::newRow("relative root")
            << QStringList{install, QStringLiteral("--root=some/where")} << QString() << QString()
            << false << 2 << QStringLiteral("absolute");
        QTest::newRow("line break in root")
            << QStringList{install, QStringLiteral("--root=/tmp/a\nExec=/bin/sh")} << QString()
            << QString() << false << 2 << QStringLiteral("may only contain");
        QTest::newRow("own folder, as nobody") << intoRoot << QStringLiteral("chown nobody ROOT")
                                               << QString() << true << 0 << QString();
        QTest::newRow("link in its own folder, as nobody")
            << intoRoot << QStringLiteral("chown nobody ROOT")
            << plantLink + QStringLiteral("ROOT/etc") << true << 1
            << QStringLiteral("ROOT/etc: it is a symbolic link");
        QTest::newRow("another user's folder below the root")
            << intoRoot << QStringLiteral("mkdir ROOT/etc && chown nobody ROOT/etc")
            << plantLink + QStringLiteral("ROOT/etc/dbus-1") << false << 1
            << QStringLiteral("ROOT/etc: it belongs to user");
        QTest::newRow("a folder below the root anyone may write to, even sticky")
            << intoRoot << QStringLiteral("mkdir ROOT/usr && chmod 1777 ROOT/usr")
            << plantLink + QStringLiteral("ROOT/usr/local") << false << 1
            << QStringLiteral("ROOT/usr: group or others may write to it");
        QTest::newRow("the root belongs to another user")
            << intoRoot << QStringLiteral("chown nobody ROOT")
            << plantLink + QStringLiteral("ROOT/etc") << false << 1
            << QStringLiteral("ROOT: it belongs to user");
        QTest::newRow("a folder above the root anyone may write to")
            << intoRoot << QStringLiteral("chmod 0777 ABOVE") << QString() << false << 1
            << QStringLiteral("ABOVE: group or others may write to it");
    }

    void whereTheStepMayWrite() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, setupAsRoot);
        QFETCH(QString, setupAsNobody);
        QFETCH(bool, stepAsNobody);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        QTemporaryDir above;
        const QString program = publicCopyOfHelper(above);
        const QString root = above.filePath(QStringLiteral("root"));
        const QString elsewhere = above.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(root) && QDir().mkpath(elsewhere));
        QVERIFY(QFile::setPermissions(elsewhere, QFileDevice::Permissions(0x7777)));
        const auto fill = [&](QString text) {
            return text.replace(QStringLiteral("ROOT"), root)
                .replace(QStringLiteral("ABOVE"), above.path());
        };
        arguments.replaceInStrings(QStringLiteral("ROOT"), root);
        const QStringList shell{QStringLiteral("/bin/sh"), QStringLiteral("-ec")};
        if (!setupAsRoot.isEmpty())
            QCOMPARE(runHelper({fill(setupAsRoot)}, shell, {}).exitCode, 0);
        if (!setupAsNobody.isEmpty())
            QCOMPARE(runHelper({fill(setupAsNobody)}, kAsNobody + shell, {}).exitCode, 0);

        const Run run = runHelper(arguments, stepAsNobody ? kAsNobody : QStringList(), program);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(filesBelow(elsewhere).isEmpty());
        if (exitCode == 0) {
            QCOMPARE(filesBelow(root), kInstalledFiles);
            return;
        }
        QVERIFY2(run.errIsOneLine(), qPrintable(run.standardError));
        QVERIFY2(run.standardError.contains(fill(error)), qPrintable(run.standardError));
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstallStep)
#include "tst_HelperInstallStep.moc"
