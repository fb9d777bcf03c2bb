#include "BundledHelperProgram.h"
#include "PkexecRunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace fernpoint;

namespace {

bool writeScript(const QString& path, const QByteArray& body, bool executable = true) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\n" + body);
    file.close();
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (executable)
        permissions |= QFileDevice::ExeOwner;
    return file.setPermissions(permissions);
}

} // namespace

class tst_PkexecRunner final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void exitStatusAndStandardError_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("standardError");
        QTest::newRow("success") << QByteArray("exit 0\n") << 0 << QString();
        QTest::newRow("dismissed") << QByteArray("echo 'Request dismissed' >&2; exit 126\n") << 126
                                   << QStringLiteral("Request dismissed\n");
        QTest::newRow("not authorized") << QByteArray("exit 127\n") << 127 << QString();
        QTest::newRow("install step failed")
            << QByteArray("printf 'cannot write: \\342\\234\\227\\n' >&2; exit 1\n") << 1
            << QStringLiteral("cannot write: \u2717\n");
        QTest::newRow("crashed") << QByteArray("kill -SEGV $$\n") << -1 << QString();
    }

    void exitStatusAndStandardError() {
        QFETCH(QByteArray, script);
        QFETCH(int, exitCode);
        QFETCH(QString, standardError);
        const QString pkexec =
            path(QStringLiteral("pkexec-") + QString::fromLatin1(QTest::currentDataTag())
                                                 .replace(QLatin1Char(' '), QLatin1Char('-')));
        QVERIFY(writeScript(pkexec, script));

        PkexecRunner runner(pkexec);
        const PrivilegedRunner::Outcome outcome =
            runner.run(QStringLiteral("/opt/helper"), {QStringLiteral("--install")});
        QCOMPARE(outcome.kind, PrivilegedRunner::Outcome::Kind::Finished);
        QCOMPARE(outcome.exitCode, exitCode);
        QCOMPARE(outcome.standardError, standardError);
    }

    // pkexec gets the program first, then its arguments, and runs it: the program's own exit
    // status and standard error come back through.
    void programAndArgumentsReachTheProgram() {
        const QString argsFile = path(QStringLiteral("args.txt"));
        QVERIFY(writeScript(path(QStringLiteral("pass-through")), "exec \"$@\"\n"));
        QVERIFY(writeScript(path(QStringLiteral("helper")),
                            "printf '%s\\n' \"$0\" \"$@\" > '" + argsFile.toUtf8() +
                                "'\necho 'no room left' >&2\nexit 4\n"));
        PkexecRunner runner(path(QStringLiteral("pass-through")));
        const auto outcome =
            runner.run(path(QStringLiteral("helper")), {QStringLiteral("--install")});
        QCOMPARE(outcome.exitCode, 4);
        QCOMPARE(outcome.standardError, QStringLiteral("no room left\n"));
        QFile args(argsFile);
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(args.readAll()),
                 path(QStringLiteral("helper")) + QStringLiteral("\n--install\n"));
    }

    void authorizerMissing_data() {
        QTest::addColumn<QString>("authorizer");
        QTest::newRow("no such file") << path(QStringLiteral("nothing-here/pkexec"));
        QTest::newRow("a folder") << m_dir.path();
        QTest::newRow("not executable") << path(QStringLiteral("plain-file"));
        QTest::newRow("not on PATH") << QStringLiteral("fernpoint-no-such-authorizer");
    }

    void authorizerMissing() {
        QFETCH(QString, authorizer);
        QVERIFY(writeScript(path(QStringLiteral("plain-file")), "exit 0\n", false));
        PkexecRunner runner(authorizer);
        QCOMPARE(runner.run(QStringLiteral("/opt/helper"), {}).kind,
                 PrivilegedRunner::Outcome::Kind::AuthorizerMissing);
    }

    void findsPkexecOnPath() {
        QTemporaryDir bin;
        QVERIFY(writeScript(bin.filePath(QStringLiteral("pkexec")), "exit 126\n"));
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8() + ':' + savedPath);
        PkexecRunner runner;
        const auto outcome = runner.run(QStringLiteral("/opt/helper"), {});
        qputenv("PATH", savedPath);
        QCOMPARE(outcome.kind, PrivilegedRunner::Outcome::Kind::Finished);
        QCOMPARE(outcome.exitCode, 126);
    }

    void bundledHelperLocation_data() {
        QTest::addColumn<QStringList>("executables");
        QTest::addColumn<QString>("expected");
        QTest::newRow("installed layout")
            << QStringList{QStringLiteral("libexec/fernpoint/fernpoint-helper")}
            << QStringLiteral("libexec/fernpoint/fernpoint-helper");
        QTest::newRow("build tree") << QStringList{QStringLiteral("bin/fernpoint-helper")}
                                    << QStringLiteral("bin/fernpoint-helper");
        QTest::newRow("installed wins")
            << QStringList{QStringLiteral("bin/fernpoint-helper"),
                           QStringLiteral("libexec/fernpoint/fernpoint-helper")}
            << QStringLiteral("libexec/fernpoint/fernpoint-helper");
        QTest::newRow("neither: names the installed place")
            << QStringList{} << QStringLiteral("libexec/fernpoint/fernpoint-helper");
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
