#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <sys/stat.h>
#include <unistd.h>

using namespace fernpoint::test;

namespace {

const QString kProgram = QStringLiteral("/usr/local/libexec/fernpoint/fernpoint-helper");
const QString kActivation = QStringLiteral(
    "/usr/local/share/dbus-1/system-services/com.lunacore.sdwan.fernpoint.helper.service");
const QString kBusPolicy =
    QStringLiteral("/etc/dbus-1/system.d/com.lunacore.sdwan.fernpoint.helper.conf");
const QString kPolkitAction =
    QStringLiteral("/usr/share/polkit-1/actions/com.lunacore.sdwan.fernpoint.helper.policy");
const QString kUnit = QStringLiteral("/etc/systemd/system/fernpoint-helper.service");

struct Run {
    int exitCode = -1;
    QString standardError;
};

Run runHelper(const QStringList& arguments, const QStringList& prefix = {},
              const QString& program = helperProgram()) {
    QProcess process;
    process.setProcessEnvironment(
        environmentFor(QStringLiteral("unix:path=/nonexistent/fernpoint-bus")));
    if (prefix.isEmpty())
        process.start(program, arguments);
    else
        process.start(prefix.first(), prefix.mid(1) + QStringList{program} + arguments);
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardError())};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString& path) {
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
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

QStringList installedFiles() {
    QStringList files{kProgram, kActivation, kBusPolicy, kPolkitAction, kUnit};
    files.sort();
    return files;
}

// The single line the installer shows its user.
bool isOneLine(const QString& text) {
    return text.endsWith(QLatin1Char('\n')) && text.count(QLatin1Char('\n')) == 1 &&
           text.size() > 1;
}

// A world-readable copy of the helper for runs as another user (the build tree may be private).
QString publicCopyOfHelper(QTemporaryDir& dir) {
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                          QFileDevice::ExeGroup);
    const QString copy = dir.filePath(QStringLiteral("fernpoint-helper"));
    QFile::copy(helperProgram(), copy);
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                    QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                    QFileDevice::ExeGroup);
    return copy;
}

QStringList asNobody() {
    return {QStandardPaths::findExecutable(QStringLiteral("setpriv")),
            QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
            QStringLiteral("--clear-groups")};
}

} // namespace

class tst_HelperInstallStep final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void installPutsEveryFileInPlace() {
        QTemporaryDir root;
        const Run run =
            runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()});
        QVERIFY2(run.exitCode == 0, qPrintable(run.standardError));
        QCOMPARE(filesBelow(root.path()), installedFiles());

        QCOMPARE(readAll(root.path() + kProgram), readAll(helperProgram()));
        QCOMPARE(modeOf(root.path() + kProgram), mode_t(0755));
        for (const QString& file : {kActivation, kBusPolicy, kPolkitAction, kUnit}) {
            QCOMPARE(modeOf(root.path() + file), mode_t(0644));
            QCOMPARE(QFileInfo(root.path() + file).ownerId(), ::geteuid());
        }
        QCOMPARE(modeOf(root.path() + QStringLiteral("/usr/local/libexec/fernpoint")),
                 mode_t(0755));

        // The files name the program where it was put, so this installation runs its own copy.
        const QString program = root.path() + kProgram;
        QCOMPARE(QString::fromUtf8(readAll(root.path() + kActivation)),
                 QStringLiteral("# D-Bus system bus activation of the FernPoint gateway helper.\n"
                                "[D-BUS Service]\n"
                                "Name=com.lunacore.sdwan.fernpoint.helper\n"
                                "Exec=%1\n"
                                "User=root\n"
                                "SystemdService=fernpoint-helper.service\n")
                     .arg(program));
        const QString unit = QString::fromUtf8(readAll(root.path() + kUnit));
        QVERIFY(unit.contains(QStringLiteral("\nType=dbus\n")));
        QVERIFY(unit.contains(QStringLiteral("\nBusName=com.lunacore.sdwan.fernpoint.helper\n")));
        QVERIFY(unit.contains(QStringLiteral("\nExecStart=%1\n").arg(program)));
        QVERIFY(!unit.contains(QLatin1StringView("--no-authorization")));
    }

    void busPolicyNamesOnlyTheHelper() {
        QTemporaryDir root;
        QCOMPARE(runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
        const QByteArray policy = readAll(root.path() + kBusPolicy);
        QVERIFY(!policy.contains("send_destination=\"*\""));

        const QStringList sendInterfaces = {QStringLiteral("com.lunacore.sdwan.fernpoint.Helper"),
                                            QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                            QStringLiteral("org.freedesktop.DBus.Peer"),
                                            QStringLiteral("org.freedesktop.DBus.Properties")};
        QStringList seenInterfaces;
        int owns = 0;
        QString context;
        QXmlStreamReader xml(policy);
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            const auto attributes = xml.attributes();
            if (xml.name() == QLatin1StringView("policy")) {
                context = attributes.hasAttribute(QStringLiteral("user"))
                              ? QStringLiteral("user=") +
                                    attributes.value(QStringLiteral("user")).toString()
                              : QStringLiteral("context=") +
                                    attributes.value(QStringLiteral("context")).toString();
                continue;
            }
            if (xml.name() == QLatin1StringView("busconfig") ||
                xml.name() == QLatin1StringView("deny"))
                continue;
            QCOMPARE(xml.name(), QLatin1StringView("allow"));
            for (const auto& attribute : attributes)
                QVERIFY2(attribute.value() != QLatin1StringView("*"),
                         qPrintable(attribute.name().toString()));
            if (attributes.hasAttribute(QStringLiteral("own"))) {
                ++owns;
                QCOMPARE(context, QStringLiteral("user=root"));
                QCOMPARE(attributes.value(QStringLiteral("own")), kHelperName);
                QCOMPARE(attributes.size(), 1);
            } else {
                QCOMPARE(context, QStringLiteral("context=default"));
                QCOMPARE(attributes.value(QStringLiteral("send_destination")), kHelperName);
                QVERIFY(
                    sendInterfaces.contains(attributes.value(QStringLiteral("send_interface"))));
                seenInterfaces << attributes.value(QStringLiteral("send_interface")).toString();
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(owns, 1);
        seenInterfaces.sort();
        QStringList expected = sendInterfaces;
        expected.sort();
        QCOMPARE(seenInterfaces, expected);
    }

    void polkitActionsHaveTheirDefaults() {
        QTemporaryDir root;
        QCOMPARE(runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
        QMap<QString, QStringList> defaults; // action -> any, inactive, active
        QXmlStreamReader xml(readAll(root.path() + kPolkitAction));
        QString action;
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            if (xml.name() == QLatin1StringView("action"))
                action = xml.attributes().value(QStringLiteral("id")).toString();
            else if (xml.name().startsWith(QLatin1StringView("allow_")))
                defaults[action] << xml.name().toString() + QLatin1Char('=') +
                                        xml.readElementText();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(defaults.keys(),
                 (QStringList{QStringLiteral("com.lunacore.sdwan.fernpoint.helper.control"),
                              QStringLiteral("com.lunacore.sdwan.fernpoint.helper.uninstall")}));
        QCOMPARE(defaults.value(QStringLiteral("com.lunacore.sdwan.fernpoint.helper.control")),
                 (QStringList{QStringLiteral("allow_any=auth_admin"),
                              QStringLiteral("allow_inactive=auth_admin"),
                              QStringLiteral("allow_active=yes")}));
        QCOMPARE(defaults.value(QStringLiteral("com.lunacore.sdwan.fernpoint.helper.uninstall")),
                 (QStringList{QStringLiteral("allow_any=auth_admin"),
                              QStringLiteral("allow_inactive=auth_admin"),
                              QStringLiteral("allow_active=auth_admin")}));
    }

    // The bus policy as a system-like bus enforces it: only root owns the name, everyone may
    // call the helper's interface, and nothing else on the helper.
    void busPolicyIsEnforced() {
        QTemporaryDir root;
        QCOMPARE(runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
        PrivateBus bus(PrivateBus::Options{{}, {root.path() + kBusPolicy}, true});
        QVERIFY(bus.isRunning());
        QTemporaryDir publicDir;
        const QString helper = publicCopyOfHelper(publicDir);

        QProcess asNobodyHelper;
        asNobodyHelper.setProcessEnvironment(environmentFor(bus.address()));
        asNobodyHelper.start(asNobody().first(),
                             asNobody().mid(1) +
                                 QStringList{helper, QStringLiteral("--no-authorization")});
        QVERIFY(asNobodyHelper.waitForFinished(10000));
        QCOMPARE(asNobodyHelper.exitCode(), 1);
        QVERIFY(QString::fromUtf8(asNobodyHelper.readAllStandardError())
                    .contains(QLatin1StringView("cannot own")));

        HelperProcess rootHelper(bus.address(), {QStringLiteral("--no-authorization")});
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("policy"));
        QVERIFY(waitForOwner(connection, kHelperName));

        const auto sendAsNobody = [&](const QString& member) {
            QProcess send;
            send.start(asNobody().first(),
                       asNobody().mid(1) +
                           QStringList{QStandardPaths::findExecutable(QStringLiteral("dbus-send")),
                                       QStringLiteral("--bus=") + bus.address(),
                                       QStringLiteral("--print-reply"),
                                       QStringLiteral("--dest=") + kHelperName, kHelperPath,
                                       member});
            send.waitForFinished(10000);
            return QString::fromUtf8(send.readAllStandardOutput() + send.readAllStandardError());
        };
        QVERIFY(sendAsNobody(kHelperInterface + QStringLiteral(".Ping"))
                    .contains(QLatin1StringView("1.0.4")));
        QVERIFY(sendAsNobody(QStringLiteral("org.freedesktop.DBus.Peer.Ping"))
                    .contains(QLatin1StringView("method return")));
        QVERIFY(sendAsNobody(QStringLiteral("com.example.Other.Ping"))
                    .contains(QLatin1StringView("AccessDenied")));
        QDBusConnection::disconnectFromBus(QStringLiteral("policy"));
    }

    // The installed activation file, unchanged, lets a bus start the installed program on the
    // first call. Authorization stays on: reading calls work, changing calls are refused because
    // this bus has no polkit.
    void installedHelperIsActivatedOnFirstCall() {
        QTemporaryDir root;
        QCOMPARE(runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
        PrivateBus bus(PrivateBus::Options{
            {root.path() + QStringLiteral("/usr/local/share/dbus-1/system-services")}, {}, false});
        QVERIFY(bus.isRunning());
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("activation"));
        QVERIFY(!connection.interface()->isServiceRegistered(kHelperName).value());

        QCOMPARE(ping(connection), QStringList{QStringLiteral("1.0.4")});
        const uint pid = connection.interface()->servicePid(kHelperName).value();
        QVERIFY(pid > 0);
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget(),
                 root.path() + kProgram);

        const OkAnswer start = callOk(connection, QStringLiteral("StartGateway"),
                                      {QStringLiteral("0123456789abcdef"), true});
        QVERIFY(start.transportOk);
        QVERIFY(!start.ok);
        QVERIFY(start.message.value(0).startsWith(QLatin1StringView("not authorized: ")));
        QCOMPARE(callStatus(connection).data().value(QStringLiteral("state")).toString(),
                 QStringLiteral("stopped"));

        QDBusConnection::disconnectFromBus(QStringLiteral("activation"));
        // The activated helper ends with its bus.
        bus.kill();
        QTRY_VERIFY_WITH_TIMEOUT(
            !QFileInfo::exists(QStringLiteral("/proc/%1/exe").arg(pid)) ||
                QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() !=
                    root.path() + kProgram,
            5000);
    }

    void reinstallReplacesEveryFile() {
        QTemporaryDir root;
        QCOMPARE(runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
        const QByteArray policy = readAll(root.path() + kBusPolicy);
        for (const QString& file : installedFiles()) {
            QFile damaged(root.path() + file);
            QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
            damaged.write("old");
        }
        QCOMPARE(runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
        QCOMPARE(readAll(root.path() + kBusPolicy), policy);
        QCOMPARE(readAll(root.path() + kProgram), readAll(helperProgram()));
        QCOMPARE(filesBelow(root.path()), installedFiles());
    }

    void failureLeavesNoTemporaryFile_data() {
        QTest::addColumn<QString>("blocker"); // created below the root
        QTest::addColumn<bool>("blockerIsFolder");
        QTest::newRow("a file where a folder must go") << QStringLiteral("/etc/dbus-1") << false;
        QTest::newRow("a file where the root must be") << QString() << false;
        QTest::newRow("a folder where a file must go") << kPolkitAction << true;
        QTest::newRow("a folder where the program must go") << kProgram << true;
    }

    void failureLeavesNoTemporaryFile() {
        QFETCH(QString, blocker);
        QFETCH(bool, blockerIsFolder);
        QTemporaryDir parent;
        const QString root = parent.filePath(QStringLiteral("root"));
        QVERIFY(QDir().mkpath(root + QFileInfo(blocker).path()));
        if (blocker.isEmpty())
            QVERIFY(QDir(root).removeRecursively());
        if (blockerIsFolder) {
            QVERIFY(QDir().mkpath(root + blocker));
        } else {
            QFile file(root + blocker);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QStringList before = filesBelow(parent.path());

        const Run run = runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root});
        QVERIFY(run.exitCode > 0);
        QVERIFY2(isOneLine(run.standardError), qPrintable(run.standardError));
        QCOMPARE(filesBelow(parent.path()), before);
    }

    // A failing install over an earlier one leaves the earlier one as it was.
    void failedReinstallKeepsTheOldInstallation() {
        QTemporaryDir root;
        QCOMPARE(runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
        QFile old(root.path() + kProgram);
        QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        old.write("old helper");
        old.close();
        QVERIFY(QFile::remove(root.path() + kUnit));
        QVERIFY(QDir().mkpath(root.path() + kUnit));

        const Run run =
            runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()});
        QVERIFY(run.exitCode > 0);
        QVERIFY(run.standardError.contains(QLatin1StringView("fernpoint-helper.service")));
        QCOMPARE(readAll(root.path() + kProgram), QByteArray("old helper"));
        QVERIFY(QDir(root.path() + kUnit).exists());
    }

    void uninstallRemovesEverything() {
        QTemporaryDir root;
        QCOMPARE(runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
        QFile unrelated(root.path() + QStringLiteral("/etc/dbus-1/system.d/other.conf"));
        QVERIFY(unrelated.open(QIODevice::WriteOnly));
        unrelated.close();

        const Run run =
            runHelper({QStringLiteral("--uninstall"), QStringLiteral("--root"), root.path()});
        QVERIFY2(run.exitCode == 0, qPrintable(run.standardError));
        QCOMPARE(filesBelow(root.path()),
                 QStringList{QStringLiteral("/etc/dbus-1/system.d/other.conf")});
        QVERIFY(!QFileInfo::exists(root.path() + QStringLiteral("/usr/local/libexec/fernpoint")));
        // Nothing left to remove is not a failure.
        QCOMPARE(runHelper({QStringLiteral("--uninstall"), QStringLiteral("--root"), root.path()})
                     .exitCode,
                 0);
    }

    void refusesTheSystemLocationsUnlessRoot_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("install") << QStringList{QStringLiteral("--install")};
        QTest::newRow("install into /") << QStringList{
            QStringLiteral("--install"), QStringLiteral("--root"), QStringLiteral("/")};
        QTest::newRow("install into //usr/..")
            << QStringList{QStringLiteral("--install"), QStringLiteral("--root=//usr/..")};
        QTest::newRow("uninstall") << QStringList{QStringLiteral("--uninstall")};
    }

    void refusesTheSystemLocationsUnlessRoot() {
        QFETCH(QStringList, arguments);
        QTemporaryDir publicDir;
        const Run run = runHelper(arguments, asNobody(), publicCopyOfHelper(publicDir));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(isOneLine(run.standardError), qPrintable(run.standardError));
        QVERIFY(run.standardError.contains(QLatin1StringView("not running as root")));
    }

    // The refusal is about the system locations, not about the user: a folder of its own works.
    void anyUserMayInstallIntoItsOwnRoot() {
        QTemporaryDir publicDir;
        const QString helper = publicCopyOfHelper(publicDir);
        const QString root = publicDir.filePath(QStringLiteral("root"));
        QVERIFY(QDir().mkpath(root));
        QVERIFY(QFile::setPermissions(root, QFileDevice::Permissions(0x7777)));
        const Run run = runHelper({QStringLiteral("--install"), QStringLiteral("--root"), root},
                                  asNobody(), helper);
        QVERIFY2(run.exitCode == 0, qPrintable(run.standardError));
        QCOMPARE(filesBelow(root), installedFiles());
    }

    void refusesUnusableRoots_data() {
        QTest::addColumn<QString>("root");
        QTest::newRow("relative") << QStringLiteral("some/where");
        QTest::newRow("space") << QStringLiteral("/tmp/a b");
        QTest::newRow("line break") << QStringLiteral("/tmp/a\nExec=/bin/sh");
        QTest::newRow("empty") << QString();
    }

    void refusesUnusableRoots() {
        QFETCH(QString, root);
        const Run run = runHelper({QStringLiteral("--install"), QStringLiteral("--root=") + root});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(isOneLine(run.standardError), qPrintable(run.standardError));
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstallStep)
#include "tst_HelperInstallStep.moc"
