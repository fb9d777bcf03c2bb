#include "DBusHelperJobProbe.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "PrivateBus.h"
#include "PrivilegedRunner.h"
#include "ScriptedHelperProcess.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace fernpoint;
using test::PrivateBus;
using test::ScriptedHelperProcess;

namespace {

const QString kService = QStringLiteral("usr/share/dbus-1/system-services/") + contract::kBusName +
                         QStringLiteral(".service");
const QString kProgram = QStringLiteral("usr/libexec/fernpoint/fernpoint-helper");

bool write(const QString& path, const QByteArray& content, QFile::Permissions permissions) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.setPermissions(permissions);
}

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
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("pings");
        const auto row = [](const char* fault, bool pings = false) {
            QTest::newRow(fault) << QString::fromLatin1(fault) << pings;
        };
        row("none", true);
        row("activation file is a symbolic link");
        row("activation file writable by its group");
        row("activation file starts another program");
        row("activation file names another service");
        row("program writable by others");
        row("program is not root's");
        row("program missing");
        row("copy in /usr/local wins on the bus");
        row("copy's unit wins with systemd");
        row("private system bus");
        row("helper of another version", true);
    }

    void recognition() {
        QFETCH(QString, fault);
        QFETCH(bool, pings);
        // The files the package installs, as root's, which the test's own user stands in for.
        QTemporaryDir tree;
        const QDir root(tree.path());
        const QFile::Permissions rw =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        const QByteArray name = QByteArray(contract::kBusName.data());
        QByteArray exec = "/usr/libexec/fernpoint/fernpoint-helper";
        if (fault == u"activation file starts another program")
            exec = "/usr/local/libexec/fernpoint/fernpoint-helper";
        const QByteArray activation =
            "[D-BUS Service]\nName=" +
            (fault == u"activation file names another service" ? name + ".old" : name) +
            "\nExec=" + exec + "\nUser=root\n";
        QVERIFY(
            write(root.filePath(kService), activation,
                  fault == u"activation file writable by its group" ? rw | QFile::WriteGroup : rw));
        if (fault == u"activation file is a symbolic link") {
            QVERIFY(QFile::rename(root.filePath(kService), root.filePath(QStringLiteral("s"))));
            QVERIFY(QFile::link(root.filePath(QStringLiteral("s")), root.filePath(kService)));
        }
        if (fault != u"program missing")
            QVERIFY(write(root.filePath(kProgram), "#!/bin/sh\n",
                          rw | QFile::ExeOwner |
                              (fault == u"program writable by others" ? QFile::WriteOther
                                                                      : QFile::Permissions())));
        if (fault == u"program is not root's") {
            if (::geteuid() != 0)
                QSKIP("only root can give a file to another user");
            QVERIFY(::chown(QFile::encodeName(root.filePath(kProgram)).constData(), 65534, 0) == 0);
        }
        if (fault == u"copy in /usr/local wins on the bus")
            QVERIFY(write(root.filePath(QStringLiteral("usr/local/") + kService.mid(4)), activation,
                          rw));
        if (fault == u"copy's unit wins with systemd") {
            const QString unit =
                root.filePath(QStringLiteral("etc/systemd/system/fernpoint-helper.service"));
            QVERIFY(QDir().mkpath(QFileInfo(unit).path()));
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), unit));
        }

        // The helper on a bus standing in for the machine's: present, answering Ping.
        PrivateBus bus;
        ScriptedHelperProcess helper(bus.address());
        QVERIFY(helper.start());
        if (fault == u"helper of another version")
            QVERIFY(helper.setReply(QStringLiteral("Ping"), ScriptedHelperProcess::Reply::answer(
                                                                true, QStringLiteral("1.0.3"))));
        // The machine's own bus as some sessions name it, or a private one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", fault == u"private system bus"
                                               ? bus.address().toUtf8()
                                               : "unix:path=/var/run/dbus/system_bus_socket");
        PackagedHelper::System system = PackagedHelper::System::current();
        system.root = tree.path();
        system.rootUid = ::geteuid();
        const auto disconnect = qScopeGuard([&] { QDBusConnection::disconnectFromBus(fault); });
        const QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), fault);
        DBusHelperJobProbe probe(connection, system);
        QSettings settings(tree.filePath(QStringLiteral("fernpoint.conf")), QSettings::IniFormat);
        NoPkexec runner;
        HelperInstaller installer(probe, runner, settings, QStringLiteral("/nonexistent/helper"));

        std::optional<InstallError> error;
        installer.ensureHelperInstalled([&](const std::optional<InstallError>& e) { error = e; });
        const bool recognised = fault == u"none";
        QCOMPARE(runner.runs, recognised ? 0 : 1);
        QCOMPARE(bool(error), !recognised);
        QCOMPARE(settings.value(HelperInstaller::installedVersionKey),
                 recognised ? QVariant(QString(contract::kVersion)) : QVariant());
        // The files are checked before Ping, which would start a helper that is not the package's.
        const QList<ScriptedHelperProcess::Call> calls = helper.calls();
        QCOMPARE(std::count_if(calls.begin(), calls.end(),
                               [](const auto& call) { return call.method == u"Ping"; }),
                 pings ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(tst_PackagedHelper)
#include "tst_PackagedHelper.moc"
