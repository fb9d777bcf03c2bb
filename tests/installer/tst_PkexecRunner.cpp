#include "BundledHelperProgram.h"
#include "PkexecRunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
            PkexecRunner(pkexec).run(QStringLiteral("/opt/helper"), {QStringLiteral("--install")});
        QCOMPARE(outcome.kind, Kind::Finished);
        QCOMPARE(outcome.exitCode, exitCode);
        QCOMPARE(outcome.standardError, standardError);
        QFile file(arguments);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("/opt/helper\n--install\n"));
    }

    void authorizerMissing_data() {
        QTest::addColumn<QString>("authorizer");
        QTest::newRow("no such file") << path(QStringLiteral("nothing-here/pkexec"));
        QTest::newRow("not executable") << path(QStringLiteral("plain-file"));
        QTest::newRow("not on PATH") << QStringLiteral("fernpoint-no-such-authorizer");
    }

    void authorizerMissing() {
        QFETCH(QString, authorizer);
        QVERIFY(writeScript(path(QStringLiteral("plain-file")), "exit 0\n", false));
        QCOMPARE(PkexecRunner(authorizer).run(QStringLiteral("/opt/helper"), {}).kind,
                 Kind::AuthorizerMissing);
    }

    void findsPkexecOnPath() {
        QTemporaryDir bin;
        QVERIFY(writeScript(bin.filePath(QStringLiteral("pkexec")), "exit 126\n"));
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8() + ':' + savedPath);
        const auto outcome = PkexecRunner().run(QStringLiteral("/opt/helper"), {});
        qputenv("PATH", savedPath);
        QCOMPARE(outcome.kind, Kind::Finished);
        QCOMPARE(outcome.exitCode, 126);
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
