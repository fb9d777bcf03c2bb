#include "HelperContract.h"
#include "PrivateBus.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString kHelper = QStringLiteral(FERNPOINT_HELPER_PROGRAM);
const QString kProgram = u"/usr/local/libexec/fernpoint/fernpoint-helper"_s;
const QString kUnit = u"/etc/systemd/system/fernpoint-helper.service"_s;
const QString kName = fernpoint::contract::kBusName;
const QStringList kInstalledFiles{
    u"/etc/dbus-1/system.d/%1.conf"_s.arg(kName), kUnit, kProgram,
    u"/usr/local/share/dbus-1/system-services/%1.service"_s.arg(kName),
    u"/usr/share/polkit-1/actions/%1.policy"_s.arg(kName)}; // sorted
const QStringList kAsNobody{u"setpriv"_s, u"--reuid=nobody"_s, u"--regid=nogroup"_s,
                            u"--clear-groups"_s};

// Exit status and standard error of a command; a bus that cannot be reached.
std::pair<int, QString> run(const QStringList& command) {
    QProcess process;
    process.setProcessEnvironment(
        fernpoint::test::systemBusEnvironment(u"unix:path=/nonexistent/fernpoint-bus"_s));
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, {}};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

} // namespace

class tst_HelperInstallStep final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The system locations need root. Below another root, root goes only through
    // folders nobody else can change, and nobody follows a symbolic link:
    // whatever another user planted there, nothing is written through it. Any
    // user may install into a folder of its own. A failed install leaves
    // everything as it was: no temporary file, no file half-replaced. The setup
    // runs as root, then as nobody; ROOT is the root, ABOVE the folder above it,
    // HELPER the program.
    void whereTheStepMayWrite_data() {
        QTest::addColumn<QString>("arguments"); // after "nobody:", run as nobody
        QTest::addColumn<QString>("setupAsRoot");
        QTest::addColumn<QString>("setupAsNobody");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const char* arguments, const QString& setupAsRoot,
                            const char* setupAsNobody, int exitCode, const char* error) {
            QTest::newRow(name) << QString::fromLatin1(arguments) << setupAsRoot
                                << QString::fromLatin1(setupAsNobody) << exitCode
                                << QString::fromLatin1(error);
        };
        const char* intoRoot = "--install --root ROOT";
        row("system locations, as nobody", "nobody: --install", {}, "", 1, "not running as root");
        row("relative root", "--install --root=some/where", {}, "", 2, "absolute");
        row("over an earlier installation", intoRoot,
            u"HELPER --install --root ROOT && find ROOT -type f -exec truncate -s0 {} +"_s, "", 0,
            "");
        row("own folder, as nobody", "nobody: --install --root ROOT", u"chown nobody ROOT"_s, "", 0,
            "");
        row("link in its own folder, as nobody", "nobody: --install --root ROOT",
            u"chown nobody ROOT"_s, "ln -s ABOVE/elsewhere ROOT/etc", 1,
            "ROOT/etc: it is a symbolic link");
        row("another user's folder below the root", intoRoot,
            u"mkdir ROOT/etc && chown nobody ROOT/etc"_s, "ln -s ABOVE/elsewhere ROOT/etc/dbus-1",
            1, "ROOT/etc: it belongs to user");
        row("a folder below the root anyone may write to, even sticky", intoRoot,
            u"mkdir ROOT/usr && chmod 1777 ROOT/usr"_s, "ln -s ABOVE/elsewhere ROOT/usr/local", 1,
            "ROOT/usr: group or others may write to it");
        row("a folder above the root anyone may write to", intoRoot, u"chmod 0777 ABOVE"_s, "", 1,
            "ABOVE: group or others may write to it");
        row("a folder where the unit must go, over an installation", intoRoot,
            u"HELPER --install --root ROOT && echo old >ROOT%1 && rm ROOT%2 && mkdir ROOT%2"_s.arg(
                kProgram, kUnit),
            "", 1, "");
    }

    void whereTheStepMayWrite() {
        QFETCH(QString, arguments);
        QFETCH(QString, setupAsRoot);
        QFETCH(QString, setupAsNobody);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        QTemporaryDir above;
        // A world-readable copy of the helper for runs as nobody (the build tree
        // may be private).
        const QString program = above.filePath(u"fernpoint-helper"_s);
        const QString elsewhere = above.filePath(u"elsewhere"_s);
        const auto fill = [&](QString text) {
            return text.replace(u"ROOT"_s, above.filePath(u"root"_s))
                .replace(u"ABOVE"_s, above.path())
                .replace(u"HELPER"_s, program);
        };
        const auto setUp = [&](const QStringList& as, const QString& script) {
            return run(as + QStringList{u"/bin/sh"_s, u"-ec"_s, fill(script)}).first;
        };
        const QString prepare = u"mkdir ROOT && mkdir -m 777 ABOVE/elsewhere && cp %1 HELPER && "
                                "chmod 555 HELPER ABOVE; "_s;
        QCOMPARE(setUp({}, prepare.arg(kHelper) + setupAsRoot), 0);
        if (!setupAsNobody.isEmpty())
            QCOMPARE(setUp(kAsNobody, setupAsNobody), 0);
        const QStringList before = filesBelow(above.path(), true);

        QStringList command = arguments.startsWith(u"nobody: ") ? kAsNobody : QStringList();
        command << program << fill(arguments.remove(u"nobody: "_s)).split(u' ');
        const auto [status, standardError] = run(command);
        QCOMPARE(status, exitCode);
        QVERIFY(filesBelow(elsewhere).isEmpty());
        if (exitCode == 0) {
            // Every file is in place, with the right modes; the unit starts the
            // program where it was put. Uninstalling removes ours only, and again
            // finds nothing.
            const QString root = fill(u"ROOT"_s);
            QCOMPARE(filesBelow(root), kInstalledFiles);
            QCOMPARE(readAll(root + kProgram), readAll(kHelper));
            for (const QString& file : kInstalledFiles) {
                struct stat info = {};
                QVERIFY(::stat(QFile::encodeName(root + file).constData(), &info) == 0);
                QCOMPARE(info.st_mode & 07777, mode_t(file == kProgram ? 0755 : 0644));
            }
            QVERIFY(readAll(root + kUnit)
                        .contains(u"\nExecStart=%1\n"_s.arg(root + kProgram).toUtf8()));
            const QString unrelated = u"/etc/dbus-1/system.d/other.conf"_s;
            QVERIFY(QFile(root + unrelated).open(QIODevice::WriteOnly));
            command.replaceInStrings(u"--install"_s, u"--uninstall"_s);
            for (int round = 0; round < 2; ++round) {
                QCOMPARE(run(command).first, 0);
                QCOMPARE(filesBelow(root), QStringList{unrelated});
            }
        } else {
            QVERIFY2(standardError.size() > 1 &&
                         standardError.indexOf(u'\n') == standardError.size() - 1 &&
                         standardError.contains(fill(error)),
                     qPrintable(standardError));
            QCOMPARE(filesBelow(above.path(), true), before);
        }
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstallStep)
#include "tst_HelperInstallStep.moc"
