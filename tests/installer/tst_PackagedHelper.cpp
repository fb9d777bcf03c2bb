#include "DBusHelperJobProbe.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "PrivateBus.h"
#include "PrivilegedRunner.h"
#include "ScriptedHelperProcess.h"

#include <QDBusConnection>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace fernpoint;
using test::PrivateBus;
using test::ScriptedHelperProcess;

namespace {

const QString kServiceFolder = QStringLiteral("usr/share/dbus-1/system-services");
const QString kProgram = QStringLiteral("usr/libexec/fernpoint/fernpoint-helper");

struct NoPkexec final : PrivilegedRunner {
    int runs = 0;
    Outcome run(const QString&, const QStringList&) override {
        ++runs;
        return {Outcome::Kind::Finished, 126, QString()};
    }
};

} // namespace

// A user whose settings lack the helper's version starts the application: the package's own
// helper, recognised on a tree of files laid out as the package lays them out, is counted as
// installed; anything else leaves the install step to ask for a password, as before.
class tst_PackagedHelper final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void recognition_data() {
        QTest::addColumn<QString>("breakage"); // run by sh in the tree
        QTest::addColumn<QString>("pingAnswer");
        QTest::addColumn<bool>("privateBus");
        const QString version = contract::kVersion;
        const auto row = [&](const char* name, const char* breakage, bool privateBus = false) {
            QTest::newRow(name) << QString::fromLatin1(breakage) << version << privateBus;
        };
        row("the package's own", "");
        row("activation file is a symbolic link", "mv $S s && ln -s $PWD/s $S");
        row("activation file writable by its group", "chmod g+w $S");
        row("activation file starts another program", "sed -i s,Exec=/usr,Exec=/usr/local, $S");
        row("activation file names another service", "sed -i s/^Name=.*/\\&.old/ $S");
        row("program writable by others", "chmod o+w $P");
        row("program is not root's", "chown 65534 $P");
        row("program missing", "rm $P");
        row("copy in /usr/local wins on the bus",
            "mkdir -p usr/local/share/dbus-1/system-services && cp $S usr/local/${S#usr/}");
        row("copy's unit wins with systemd", "mkdir -p etc/systemd/system && ln -s /dev/null "
                                             "etc/systemd/system/fernpoint-helper.service");
        row("private system bus", "", true);
        QTest::newRow("helper of another version") << QString() << QStringLiteral("1.0.3") << false;
    }

    void recognition() {
        QFETCH(QString, breakage);
        QFETCH(QString, pingAnswer);
        QFETCH(bool, privateBus);
        if (breakage.startsWith(u"chown") && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        // The files the package installs, as root's, which the test's own user stands in for.
        QTemporaryDir tree;
        const QString service =
            kServiceFolder + QLatin1Char('/') + contract::kBusName + QStringLiteral(".service");
        QProcess shell;
        shell.setWorkingDirectory(tree.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("S"), service);
        environment.insert(QStringLiteral("P"), kProgram);
        shell.setProcessEnvironment(environment);
        shell.start(QStringLiteral("sh"),
                    {QStringLiteral("-ec"),
                     QStringLiteral("umask 022; mkdir -p $(dirname $S) $(dirname $P)\n"
                                    "printf '[D-BUS Service]\\nName=%1\\nExec=/%2\\n' >$S\n"
                                    "printf '#!/bin/sh\\n' >$P && chmod 755 $P\n")
                             .arg(contract::kBusName, kProgram) +
                         breakage,
                     QStringLiteral("sh")});
        QVERIFY(shell.waitForFinished());
        QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());

        // The helper on a bus standing in for the machine's: present, answering Ping.
        PrivateBus bus;
        ScriptedHelperProcess helper(bus.address());
        QVERIFY(helper.start());
        QVERIFY(helper.setReply(QStringLiteral("Ping"),
                                ScriptedHelperProcess::Reply::answer(true, pingAnswer)));
        // The machine's own bus as some sessions name it, or a private one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS",
                privateBus ? bus.address().toUtf8() : "unix:path=/var/run/dbus/system_bus_socket");
        PackagedHelper::System system = PackagedHelper::System::current();
        system.root = tree.path();
        system.rootUid = ::geteuid();
        const QString connectionName = QString::fromLatin1(QTest::currentDataTag());
        const auto disconnect =
            qScopeGuard([&] { QDBusConnection::disconnectFromBus(connectionName); });
        DBusHelperJobProbe probe(QDBusConnection::connectToBus(bus.address(), connectionName),
                                 system);
        QSettings settings(tree.filePath(QStringLiteral("fernpoint.conf")), QSettings::IniFormat);
        NoPkexec runner;
        HelperInstaller(probe, runner, settings, QStringLiteral("/nonexistent/helper"))
            .ensureHelperInstalled([](const std::optional<InstallError>&) {});

        const bool recognised = QTest::currentDataTag() == QByteArrayView("the package's own");
        QCOMPARE(runner.runs, recognised ? 0 : 1);
        QCOMPARE(settings.value(HelperInstaller::installedVersionKey),
                 recognised ? QVariant(pingAnswer) : QVariant());
        // The files are checked before Ping, which would start a helper that is not the package's.
        const QList<ScriptedHelperProcess::Call> calls = helper.calls();
        QCOMPARE(std::count_if(calls.begin(), calls.end(),
                               [](const auto& call) { return call.method == u"Ping"; }),
                 recognised || pingAnswer != contract::kVersion ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(tst_PackagedHelper)
#include "tst_PackagedHelper.moc"
