#include "DBusHelperJobProbe.h"
#include "HelperInstaller.h"
#include "PkexecRunner.h"
#include "PrivateBus.h"
#include "ScriptedHelper.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace fernpoint;
using Outcome = PrivilegedRunner::Outcome;
using Kind = Outcome::Kind;

Q_DECLARE_METATYPE(Outcome)

namespace {

const QString kKey = HelperInstaller::installedVersionKey;
const QString kHelper = u"/opt/fernpoint/libexec/fernpoint/fernpoint-helper"_s;

// The job's presence and pkexec, faked: the scripted outcome comes once, then success; a success
// makes the job present.
struct FakeSystem final : HelperJobProbe, PrivilegedRunner {
    bool present = false;
    std::optional<Outcome> next;
    QList<QStringList> runs; // program, then arguments
    bool isHelperJobPresent() override { return present; }
    Outcome run(const QString& program, const QStringList& arguments) override {
        runs.append(QStringList{program} + arguments);
        const Outcome outcome = std::exchange(next, std::nullopt).value_or(Outcome{});
        present = present || (outcome.kind == Kind::Finished && outcome.exitCode == 0);
        return outcome;
    }
};

bool writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + body) > 0 &&
           file.setPermissions(QFileDevice::Permissions(0x7700));
}

} // namespace

class tst_HelperInstaller final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    // Only a present job with exactly the required version text is left alone; a failure keeps
    // the stored version and tells why, and the next call asks again.
    void installsWhenNeeded_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("error"); // domain code description; empty: installed
        const QString current = contract::kVersion;
        const auto row = [](const char* name, bool present, const QString& stored, Kind kind,
                            int code, const char* text, const char* error) {
            QTest::newRow(name) << present << stored << Outcome{kind, code, QString::fromUtf8(text)}
                                << QString::fromUtf8(error);
        };
        row("present, same version", true, current, Kind::Finished, 0, "", "");
        row("present, newer", true, u"1.0.5"_s, Kind::Finished, 0, "", "");
        row("stored but job gone", false, current, Kind::Finished, 0, "", "");
        row("pkexec missing", true, {}, Kind::AuthorizerMissing, 0, "",
            "NSOSStatusErrorDomain -60008 AuthorizationCreate 失败: -60008");
        row("prompt dismissed", false, {}, Kind::Finished, 126,
            "Error executing command: Request dismissed\n",
            "NSOSStatusErrorDomain -60006 AuthorizationCopyRights 失败: -60006");
        row("not authorized", false, {}, Kind::Finished, 127,
            "Error executing command: Not authorized\n",
            "NSOSStatusErrorDomain -60005 AuthorizationCopyRights 失败: -60005");
        row("install step failed with a description", false, {}, Kind::Finished, 1,
            "\n  cannot create folder /etc/dbus-1: Not a directory  \nmore\n",
            "HelperInstaller 1 cannot create folder /etc/dbus-1: Not a directory");
    }

    void installsWhenNeeded() {
        QFETCH(bool, present);
        QFETCH(QString, stored);
        QFETCH(Outcome, outcome);
        QFETCH(QString, error);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QSettings settings(path, QSettings::IniFormat);
        if (!stored.isNull())
            settings.setValue(kKey, stored);
        FakeSystem runner;
        runner.present = present;
        runner.next = outcome;
        HelperInstaller installer(runner, runner, settings, kHelper);
        QStringList errors; // one per completion, which must come once
        for (int call = 0; call < 2; ++call)
            installer.ensureHelperInstalled([&](const std::optional<InstallError>& e) {
                errors << (e ? u"%1 %2 %3"_s.arg(e->domain).arg(e->code).arg(
                                   e->localizedDescription)
                             : QString());
            });
        QCOMPARE(errors, (QStringList{error, QString()}));
        const bool installs = !present || stored != contract::kVersion;
        QCOMPARE(runner.runs.value(0),
                 (installs ? QStringList{kHelper, u"--install"_s} : QStringList()));
        QCOMPARE(runner.runs.size(), (installs ? 1 : 0) + (error.isEmpty() ? 0 : 1));
        // As another process reads it from the file.
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(kKey),
                 QVariant(QString(contract::kVersion)));
    }

    // pkexec, by its absolute path only (PATH and the working folder are the user's), gets the
    // program, then its arguments (printed here to standard error); its exit status and standard
    // error come back. Nobody is asked to run, as root, a program someone other than root could
    // have put there or could still swap. ABOVE is a folder of root's own, holding the program
    // bin/helper.
    void pkexecRun_data() {
        QTest::addColumn<QString>("pkexec"); // its script, or missing or bare name
        QTest::addColumn<QString>("setup");  // shell commands, run first
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char* name, const char* pkexec, const char* setup,
                            const char* program, const char* outcome) {
            QTest::newRow(name) << QString::fromUtf8(pkexec) << QString::fromUtf8(setup)
                                << QString::fromUtf8(program) << QString::fromUtf8(outcome);
        };
        const char* helper = "ABOVE/bin/helper";
        row("install step failed", "printf '\\342\\234\\227\\n' >&2; exit 1", "", helper,
            "finished 1 ABOVE/bin/helper\n--install\n✗\n");
        row("pkexec missing", "missing", "", helper, "missing");
        row("pkexec by a bare name, on PATH and here", "bare name", "", helper, "missing");
        row("root's own, below a sticky folder anyone may write to", "exit 0", "chmod 1777 ABOVE",
            helper, "finished 0 ABOVE/bin/helper\n--install\n");
        row("program missing", "exit 0", "", "ABOVE/bin/nothing",
            "refused ABOVE/bin/nothing does not exist");
        row("another user's program", "exit 0", "chown nobody ABOVE/bin/helper", helper,
            "refused ABOVE/bin/helper belongs to user 65534, not root");
        row("a program others may change, sticky or not", "exit 0", "chmod 1777 ABOVE/bin/helper",
            helper, "refused group or others may write to ABOVE/bin/helper");
        row("in a folder anyone may write to", "exit 0", "chmod 0777 ABOVE/bin", helper,
            "refused group or others may write to ABOVE/bin");
        row("through a symbolic link", "exit 0", "ln -s bin ABOVE/link", "ABOVE/link/helper",
            "refused ABOVE/link is a symbolic link");
    }

    void pkexecRun() {
        QFETCH(QString, pkexec);
        QFETCH(QString, setup);
        QFETCH(QString, program);
        QFETCH(QString, outcome);
        if (::geteuid() != 0)
            QSKIP("needs root, to build folders of root's own");
        QTemporaryDir above;
        const auto fill = [&](QString text) { return text.replace(u"ABOVE"_s, above.path()); };
        const QString helper = above.filePath(u"bin/helper"_s);
        const QString script = m_dir.filePath(u"pkexec"_s);
        QVERIFY(QDir(above.path()).mkpath(u"bin"_s) && writeScript(helper, "") &&
                QFile::setPermissions(helper, QFileDevice::Permissions(0x7555)));
        QVERIFY(writeScript(script, "printf '%s\\n' \"$@\" >&2\n" + pkexec.toUtf8()));
        QCOMPARE(QProcess::execute(u"/bin/sh"_s, {u"-ec"_s, fill(setup)}), 0);
        // Where a bare name would be found: on PATH, and in the working folder.
        qputenv("PATH", m_dir.path().toUtf8() + ':' + qgetenv("PATH"));
        QDir::setCurrent(m_dir.path());
        const QString authorizer = pkexec == u"bare name" ? u"pkexec"_s
                                   : pkexec == u"missing" ? script + u'x'
                                                          : script;
        const Outcome result = PkexecRunner(authorizer).run(fill(program), {u"--install"_s});
        QCOMPARE(result.kind == Kind::AuthorizerMissing ? u"missing"_s
                 : result.kind == Kind::ProgramRefused
                     ? u"refused "_s + result.standardError.section(u" as root: "_s, 1)
                     : u"finished %1 %2"_s.arg(result.exitCode).arg(result.standardError),
                 fill(outcome));
    }

    // The job is present when its exact name is activatable or owned. A user whose settings lack
    // the helper's version starts the application: the package's own helper, recognised on a tree
    // laid out as the package lays it out, counts as installed; anything else leaves the install
    // step to ask for a password. The files are checked before Ping, which would start a helper
    // that is not the package's.
    void packagedHelper_data() {
        QTest::addColumn<QString>("breakage"); // run by sh in the tree
        QTest::addColumn<QString>("helper");   // owned, activatable, similar (name) or old
        QTest::addColumn<bool>("recognised");
        QTest::addColumn<int>("pings");
        const auto row = [](const char* name, const char* breakage, const char* helper = "owned",
                            bool recognised = false, int pings = 0) {
            QTest::newRow(name) << QString::fromLatin1(breakage) << QString::fromLatin1(helper)
                                << recognised << pings;
        };
        row("the package's own", "", "owned", true, 1);
        row("activatable, but its program is not there", "mkdir services && cp $S services/",
            "activatable");
        row("only a similar name owned", "", "similar");
        row("helper of another version", "", "old", false, 1);
        row("activation file is a symbolic link", "mv $S s && ln -s $PWD/s $S");
        row("activation file writable by its group", "chmod g+w $S");
        row("activation file names another service", "sed -i s/^Name=.*/\\&.old/ $S");
        row("program is not root's", "chown 65534 $P");
        row("copy in /usr/local wins on the bus",
            "mkdir -p usr/local/share/dbus-1/system-services && cp $S usr/local/${S#usr/}");
    }

    void packagedHelper() {
        QFETCH(QString, breakage);
        QFETCH(QString, helper);
        QFETCH(bool, recognised);
        QFETCH(int, pings);
        QTemporaryDir tree;
        // The package's activation file $S and program $P.
        const QString layout =
            u"cd %1; S=usr/share/dbus-1/system-services/%2.service; umask 022\n"
            "P=usr/libexec/fernpoint/fernpoint-helper; mkdir -p $(dirname $S) $(dirname $P)\n"
            "printf '[D-BUS Service]\\nName=%2\\nExec=/%s\\n' $P >$S\n"
            "printf '#!/bin/sh\\n' >$P && chmod 755 $P\n"_s.arg(tree.path(), contract::kBusName);
        QCOMPARE(QProcess::execute(u"sh"_s, {u"-ec"_s, layout + breakage}), 0);
        test::PrivateBus bus(tree.filePath(u"services"_s)); // activation files
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), name);
        test::ScriptedHelper scripted(bus.address());
        if (helper == u"old")
            scripted.setReply(u"Ping"_s, {QStringList{u"1.0.3"_s}});
        else if (helper != u"owned")
            scripted.releaseName();
        if (helper == u"similar")
            QVERIFY(connection.registerService(contract::kBusName + u".old"_s));
        PackagedHelper::System system; // the machine's own bus, not a private one
        system.root = tree.path();
        system.rootUid = ::geteuid();
        DBusHelperJobProbe probe(connection, system);
        QCOMPARE(probe.isHelperJobPresent(), helper != u"similar");
        QSettings settings(tree.filePath(u"fernpoint.conf"_s), QSettings::IniFormat);
        FakeSystem runner;
        runner.next = Outcome{Kind::Finished, 126, {}};
        HelperInstaller(probe, runner, settings, kHelper)
            .ensureHelperInstalled([](const std::optional<InstallError>&) {});
        QDBusConnection::disconnectFromBus(name);

        QCOMPARE(runner.runs.size(), recognised ? 0 : 1);
        QCOMPARE(settings.value(kKey),
                 recognised ? QVariant(QString(contract::kVersion)) : QVariant());
        QCOMPARE(scripted.calls().size(), pings);
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstaller)
#include "tst_HelperInstaller.moc"
