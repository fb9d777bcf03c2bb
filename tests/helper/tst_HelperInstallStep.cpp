#include "HelperContract.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kHelper = QStringLiteral(FERNPOINT_HELPER_PROGRAM);
const QString kProgram = QStringLiteral("/usr/local/libexec/fernpoint/fernpoint-helper");
const QString kUnit = QStringLiteral("/etc/systemd/system/fernpoint-helper.service");
const QStringList kInstalledFiles = [] {
    const QString name = fernpoint::contract::kBusName;
    QStringList files{
        QStringLiteral("/etc/dbus-1/system.d/%1.conf").arg(name), kUnit, kProgram,
        QStringLiteral("/usr/local/share/dbus-1/system-services/%1.service").arg(name),
        QStringLiteral("/usr/share/polkit-1/actions/%1.policy").arg(name)};
    files.sort();
    return files;
}();
const QStringList kAsNobody{QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                            QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups")};

// Exit status and standard error of a command; a bus that cannot be reached.
std::pair<int, QString> run(const QStringList& command) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                       QStringLiteral("unix:path=/nonexistent/fernpoint-bus"));
    process.setProcessEnvironment(environment);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, {}};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

int install(const QString& root, const QString& mode = QStringLiteral("--install")) {
    return run({kHelper, mode, QStringLiteral("--root"), root}).first;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool overwrite(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) >= 0;
}

// Every file below a folder, relative to it; with contents, a hash of each.
QStringList filesBelow(const QString& root, bool withContents = false) {
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files << path.mid(root.size()) +
                     (withContents ? QString::number(qHash(readAll(path))) : QString());
    }
    files.sort();
    return files;
}

bool isOneLine(const QString& text) {
    return text.size() > 1 && text.indexOf(u'\n') == text.size() - 1;
}

} // namespace

class tst_HelperInstallStep final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Over an earlier installation, every file is replaced, with the right modes; the unit starts
    // the program where it was put. Uninstalling removes ours only, and again finds nothing.
    void installAndUninstall() {
        QTemporaryDir root;
        QCOMPARE(install(root.path()), 0);
        for (const QString& file : kInstalledFiles)
            QVERIFY(overwrite(root.path() + file, "old"));
        QCOMPARE(install(root.path()), 0);
        QCOMPARE(filesBelow(root.path()), kInstalledFiles);
        QCOMPARE(readAll(root.path() + kProgram), readAll(kHelper));
        for (const QString& file : kInstalledFiles) {
            struct stat info = {};
            QCOMPARE(::lstat(QFile::encodeName(root.path() + file).constData(), &info), 0);
            QCOMPARE(info.st_mode & 07777, mode_t(file == kProgram ? 0755 : 0644));
        }
        const QString unit = QString::fromUtf8(readAll(root.path() + kUnit));
        QVERIFY(unit.contains(QStringLiteral("\nExecStart=%1\n").arg(root.path() + kProgram)));

        const QString unrelated = QStringLiteral("/etc/dbus-1/system.d/other.conf");
        QVERIFY(overwrite(root.path() + unrelated, {}));
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(install(root.path(), QStringLiteral("--uninstall")), 0);
            QCOMPARE(filesBelow(root.path()), QStringList{unrelated});
        }
    }

    // A failed install leaves everything as it was: no temporary file, no file half-replaced.
    void failureChangesNothing_data() {
        QTest::addColumn<QString>("blocker"); // created below the root
        QTest::addColumn<bool>("installedBefore");
        QTest::newRow("a file where a folder must go") << QStringLiteral("/etc/dbus-1") << false;
        QTest::newRow("a folder where the unit must go, over an installation") << kUnit << true;
    }

    void failureChangesNothing() {
        QFETCH(QString, blocker);
        QFETCH(bool, installedBefore);
        QTemporaryDir parent;
        const QString root = parent.filePath(QStringLiteral("root"));
        QVERIFY(QDir().mkpath(QFileInfo(root + blocker).path()));
        if (installedBefore) {
            QCOMPARE(install(root), 0);
            QVERIFY(overwrite(root + kProgram, "old helper") && QFile::remove(root + blocker));
            QVERIFY(QDir().mkpath(root + blocker));
        } else {
            QVERIFY(QDir(root + blocker).removeRecursively() && overwrite(root + blocker, {}));
        }
        const QStringList before = filesBelow(parent.path(), true);
        const auto [exitCode, error] =
            run({kHelper, QStringLiteral("--install"), QStringLiteral("--root"), root});
        QVERIFY(exitCode > 0);
        QVERIFY2(isOneLine(error), qPrintable(error));
        QCOMPARE(filesBelow(parent.path(), true), before);
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
        QTest::newRow("relative root")
            << QStringList{install, QStringLiteral("--root=some/where")} << QString() << QString()
            << false << 2 << QStringLiteral("absolute");
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
        const auto fill = [&](QString text) {
            return text.replace(QStringLiteral("ROOT"), above.filePath(QStringLiteral("root")))
                .replace(QStringLiteral("ABOVE"), above.path());
        };
        // A world-readable copy of the helper for runs as nobody (the build tree may be private).
        const QString program = above.filePath(QStringLiteral("fernpoint-helper"));
        const QString elsewhere = above.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QFile::copy(kHelper, program) && QDir().mkpath(fill(QStringLiteral("ROOT"))) &&
                QDir().mkpath(elsewhere));
        QVERIFY(QFile::setPermissions(program, QFileDevice::Permissions(0x7555)) &&
                QFile::setPermissions(above.path(), QFileDevice::Permissions(0x7555)) &&
                QFile::setPermissions(elsewhere, QFileDevice::Permissions(0x7777)));
        const QStringList shell{QStringLiteral("/bin/sh"), QStringLiteral("-ec")};
        if (!setupAsRoot.isEmpty())
            QCOMPARE(run(shell + QStringList{fill(setupAsRoot)}).first, 0);
        if (!setupAsNobody.isEmpty())
            QCOMPARE(run(kAsNobody + shell + QStringList{fill(setupAsNobody)}).first, 0);

        QStringList command = stepAsNobody ? kAsNobody : QStringList();
        command << program
                << arguments.replaceInStrings(QStringLiteral("ROOT"), fill(QStringLiteral("ROOT")));
        const auto [status, standardError] = run(command);
        QCOMPARE(status, exitCode);
        QVERIFY(filesBelow(elsewhere).isEmpty());
        if (exitCode == 0)
            QCOMPARE(filesBelow(fill(QStringLiteral("ROOT"))), kInstalledFiles);
        else
            QVERIFY2(isOneLine(standardError) && standardError.contains(fill(error)),
                     qPrintable(standardError));
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstallStep)
#include "tst_HelperInstallStep.moc"
