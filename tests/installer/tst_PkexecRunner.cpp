#include "BundledHelperProgram.h"
#include "PkexecRunner.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace fernpoint;
using Kind = PrivilegedRunner::Outcome::Kind;

namespace {

bool writeScript(const QString& path, const QByteArray& body, bool executable = true) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n" + body) < 0)
        return false;
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                               (executable ? QFileDevice::ExeOwner : QFileDevice::Permissions()));
}

// A program only root can have put in place (the fake pkexec never runs it).
const QString kRootOwnedProgram = QStringLiteral("/usr/bin/env");

} // namespace

class tst_PkexecRunner final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    // The authorizer gets the program first, then its arguments; its exit status and standard
    // error come back.
    void exitStatusAndStandardError_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("standardError");
        QTest::newRow("success") << QByteArray("exit 0\n") << 0 << QString();
        QTest::newRow("install step failed")
            << QByteArray("printf 'cannot write: \\342\\234\\227\\n' >&2; exit 1\n") << 1
            << QStringLiteral("cannot write: \u2717\n");
        QTest::newRow("crashed") << QByteArray("kill -SEGV $$\n") << -1 << QString();
    }

    void exitStatusAndStandardError() {
        QFETCH(QByteArray, script);
        QFETCH(int, exitCode);
        QFETCH(QString, standardError);
        const QString pkexec = path(QString::fromLatin1(QTest::currentDataTag()));
        const QString arguments = path(QStringLiteral("arguments"));
        QVERIFY(
            writeScript(pkexec, "printf '%s\\n' \"$@\" > '" + arguments.toUtf8() + "'\n" + script));

        const auto outcome =
            PkexecRunner(pkexec).run(kRootOwnedProgram, {QStringLiteral("--install")});
        QCOMPARE(outcome.kind, Kind::Finished);
        QCOMPARE(outcome.exitCode, exitCode);
        QCOMPARE(outcome.standardError, standardError);
        QFile file(arguments);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), kRootOwnedProgram.toUtf8() + "\n--install\n");
    }

    // pkexec is taken by its absolute path only: PATH is the user's to change.
    void authorizerMissing_data() {
        QTest::addColumn<QString>("authorizer");
        QTest::newRow("no such file") << path(QStringLiteral("nothing-here/pkexec"));
        QTest::newRow("not executable") << path(QStringLiteral("plain-file"));
        QTest::newRow("a name, even one on PATH") << QStringLiteral("pkexec");
    }

    void authorizerMissing() {
        QFETCH(QString, authorizer);
        QVERIFY(writeScript(path(QStringLiteral("plain-file")), "exit 0\n", false));
        QTemporaryDir bin;
        QVERIFY(writeScript(bin.filePath(QStringLiteral("pkexec")), "exit 0\n"));
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8() + ':' + savedPath);
        const Kind kind = PkexecRunner(authorizer).run(kRootOwnedProgram, {}).kind;
        qputenv("PATH", savedPath);
        QCOMPARE(kind, Kind::AuthorizerMissing);
    }

    // Nobody is asked to run, as root, a program someone other than root could have put there
    // or could still swap. ABOVE is a folder of root's own; the program is ABOVE/bin/helper.
    void programOnlyRootControlsIsRun_data() {
        QTest::addColumn<QString>("setup"); // shell commands, run first
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("reason"); // empty: it is run
        const QString helper = QStringLiteral("ABOVE/bin/helper");
        QTest::newRow("root's own, below a sticky folder anyone may write to")
            << QStringLiteral("chmod 1777 ABOVE") << helper << QString();
        QTest::newRow("missing") << QString() << QStringLiteral("ABOVE/bin/nothing")
                                 << QStringLiteral("ABOVE/bin/nothing does not exist");
        QTest::newRow("another user's program")
            << QStringLiteral("chown nobody ABOVE/bin/helper") << helper
            << QStringLiteral("ABOVE/bin/helper belongs to user 65534, not root");
        QTest::newRow("a program others may change, sticky or not")
            << QStringLiteral("chmod 1777 ABOVE/bin/helper") << helper
            << QStringLiteral("group or others may write to ABOVE/bin/helper");
        QTest::newRow("in a folder anyone may write to")
            << QStringLiteral("chmod 0777 ABOVE/bin") << helper
            << QStringLiteral("group or others may write to ABOVE/bin");
        QTest::newRow("through a symbolic link")
            << QStringLiteral("ln -s bin ABOVE/link") << QStringLiteral("ABOVE/link/helper")
            << QStringLiteral("ABOVE/link is a symbolic link");
    }

    void programOnlyRootControlsIsRun() {
        QFETCH(QString, setup);
        QFETCH(QString, program);
        QFETCH(QString, reason);
        if (::geteuid() != 0)
            QSKIP("needs root, to build folders of root's own");
        QTemporaryDir above;
        const auto fill = [&](QString text) {
            return text.replace(QStringLiteral("ABOVE"), above.path());
        };
        QVERIFY(QDir(above.path()).mkpath(QStringLiteral("bin")));
        QVERIFY(writeScript(above.filePath(QStringLiteral("bin/helper")), "exit 0\n"));
        QVERIFY(QFile::setPermissions(above.filePath(QStringLiteral("bin/helper")),
                                      QFileDevice::Permissions(0x7555)));
        if (!setup.isEmpty())
            QCOMPARE(
                QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-ec"), fill(setup)}),
                0);
        const QString pkexec = path(QStringLiteral("pkexec"));
        QVERIFY(writeScript(pkexec, "exit 0\n"));

        const auto outcome = PkexecRunner(pkexec).run(fill(program), {});
        QCOMPARE(outcome.kind, reason.isEmpty() ? Kind::Finished : Kind::ProgramRefused);
        QCOMPARE(outcome.standardError, reason.isEmpty()
                                            ? QString()
                                            : QStringLiteral("refusing to run %1 as root: %2")
                                                  .arg(fill(program), fill(reason)));
    }

    void bundledHelperLocation_data() {
        QTest::addColumn<QStringList>("executables");
        QTest::addColumn<QString>("expected");
        const QString installed = QStringLiteral("libexec/fernpoint/fernpoint-helper");
        const QString buildTree = QStringLiteral("bin/fernpoint-helper");
        QTest::newRow("build tree") << QStringList{buildTree} << buildTree;
        QTest::newRow("installed wins") << QStringList{buildTree, installed} << installed;
        QTest::newRow("neither: names the installed place") << QStringList{} << installed;
    }

    void bundledHelperLocation() {
        QFETCH(QStringList, executables);
        QFETCH(QString, expected);
        QTemporaryDir prefix;
        QDir(prefix.path()).mkpath(QStringLiteral("bin"));
        QDir(prefix.path()).mkpath(QStringLiteral("libexec/fernpoint"));
        for (const QString& executable : executables)
            QVERIFY(writeScript(prefix.filePath(executable), "exit 0\n"));
        QCOMPARE(bundledHelperProgramPath(prefix.filePath(QStringLiteral("bin"))),
                 prefix.filePath(expected));
    }
};

QTEST_GUILESS_MAIN(tst_PkexecRunner)
#include "tst_PkexecRunner.moc"
