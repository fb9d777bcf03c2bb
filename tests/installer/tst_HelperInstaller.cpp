#include "HelperContract.h"
#include "HelperInstaller.h"
#include "HelperJobProbe.h"
#include "PrivilegedRunner.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace fernpoint;
using Outcome = PrivilegedRunner::Outcome;

Q_DECLARE_METATYPE(Outcome)

namespace {

const QString kRequired = contract::kVersion;
const QString kKey = QStringLiteral("fernpoint.helper.installedVersion");
const QString kHelper = QStringLiteral("/opt/fernpoint/libexec/fernpoint/fernpoint-helper");

struct FakeProbe final : HelperJobProbe {
    bool present = false;
    bool isHelperJobPresent() override { return present; }
};

// Answers with scripted outcomes (success when none is left); a success also makes the job
// present, as a real installation would.
struct FakeRunner final : PrivilegedRunner {
    explicit FakeRunner(FakeProbe& jobProbe)
        : probe(jobProbe) {}
    FakeProbe& probe;
    QList<Outcome> outcomes;
    QList<QStringList> runs; // program, then arguments

    Outcome run(const QString& program, const QStringList& arguments) override {
        runs.append(QStringList{program} + arguments);
        const Outcome outcome = outcomes.isEmpty() ? Outcome{} : outcomes.takeFirst();
        probe.present =
            probe.present || (outcome.kind == Outcome::Kind::Finished && outcome.exitCode == 0);
        return outcome;
    }
};

Outcome finished(int exitCode, const QString& standardError = QString()) {
    return {Outcome::Kind::Finished, exitCode, standardError};
}

} // namespace

class tst_HelperInstaller final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    FakeProbe m_probe;
    std::unique_ptr<FakeRunner> m_runner;
    std::unique_ptr<HelperInstaller> m_installer;

    // The error of one call, which must complete exactly once.
    std::optional<InstallError> ensure() {
        int completions = 0;
        std::optional<InstallError> result;
        m_installer->ensureHelperInstalled([&](const std::optional<InstallError>& error) {
            ++completions;
            result = error;
        });
        [&] { QCOMPARE(completions, 1); }();
        return result;
    }

    // The value as another process would read it from the file.
    QVariant storedOnDisk() const {
        m_settings->sync();
        return QSettings(m_settings->fileName(), QSettings::IniFormat).value(kKey);
    }

private Q_SLOTS:
    void init() {
        QFile::remove(m_dir.filePath(QStringLiteral("settings.ini")));
        m_settings = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")),
                                                 QSettings::IniFormat);
        m_probe = FakeProbe{};
        m_runner = std::make_unique<FakeRunner>(m_probe);
        m_installer = std::make_unique<HelperInstaller>(m_probe, *m_runner, *m_settings, kHelper);
    }

    // Only a present job with exactly the required version text is left alone.
    void versionRule_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("installs");
        QTest::newRow("present, same version") << true << QVariant(kRequired) << false;
        QTest::newRow("present, nothing stored") << true << QVariant() << true;
        QTest::newRow("present, older") << true << QVariant(QStringLiteral("1.0.3")) << true;
        QTest::newRow("present, same number other text")
            << true << QVariant(QStringLiteral("1.0.04")) << true;
        QTest::newRow("stored but job gone") << false << QVariant(kRequired) << true;
    }

    void versionRule() {
        QFETCH(bool, present);
        QFETCH(QVariant, stored);
        QFETCH(bool, installs);
        m_probe.present = present;
        if (stored.isValid())
            m_settings->setValue(kKey, stored);

        const std::optional<InstallError> error = ensure();
        QVERIFY2(!error, qPrintable(error ? error->localizedDescription : QString()));
        const QList<QStringList> expectedRuns{{kHelper, QStringLiteral("--install")}};
        QCOMPARE(m_runner->runs, installs ? expectedRuns : QList<QStringList>());
        QCOMPARE(storedOnDisk(), QVariant(kRequired));
        // A second call after a success asks nothing more.
        QVERIFY(!ensure());
        QCOMPARE(m_runner->runs.size(), installs ? 1 : 0);
    }

    void failures_data() {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("description");
        const QString osStatus = QStringLiteral("NSOSStatusErrorDomain");
        const QString installer = QStringLiteral("HelperInstaller");
        QTest::newRow("pkexec missing")
            << Outcome{Outcome::Kind::AuthorizerMissing, 0, {}} << osStatus << -60008
            << QStringLiteral("AuthorizationCreate 失败: -60008");
        QTest::newRow("prompt dismissed")
            << finished(126, QStringLiteral("Error executing command as another user: "
                                            "Request dismissed\n"))
            << osStatus << -60006 << QStringLiteral("AuthorizationCopyRights 失败: -60006");
        QTest::newRow("not authorized")
            << finished(127, QStringLiteral("Error executing command as another user: "
                                            "Not authorized\n"))
            << osStatus << -60005 << QStringLiteral("AuthorizationCopyRights 失败: -60005");
        QTest::newRow("install step failed with a description")
            << finished(1, QStringLiteral("\n  cannot create folder /etc/dbus-1: Not a "
                                          "directory  \nmore\n"))
            << installer << 1
            << QStringLiteral("cannot create folder /etc/dbus-1: Not a directory");
        QTest::newRow("install step failed silently")
            << finished(3) << installer << -1 << QStringLiteral("SMJobBless 失败");
        const QString refusal =
            QStringLiteral("refusing to run /x/fernpoint-helper as root: /x does not exist");
        QTest::newRow("helper program refused before asking")
            << Outcome{Outcome::Kind::ProgramRefused, 0, refusal} << installer << -2 << refusal;
    }

    // A failure keeps the stored version, and the next call asks again.
    void failures() {
        QFETCH(Outcome, outcome);
        QFETCH(QString, domain);
        QFETCH(int, code);
        QFETCH(QString, description);
        m_probe.present = true;
        m_settings->setValue(kKey, QStringLiteral("1.0.3"));
        m_runner->outcomes = {outcome};

        const std::optional<InstallError> error = ensure();
        QVERIFY(error);
        QCOMPARE(error->domain, domain);
        QCOMPARE(error->code, code);
        QCOMPARE(error->localizedDescription, description);
        QCOMPARE(storedOnDisk(), QVariant(QStringLiteral("1.0.3")));

        QVERIFY(!ensure());
        QCOMPARE(m_runner->runs.size(), 2);
        QCOMPARE(storedOnDisk(), QVariant(kRequired));
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstaller)
#include "tst_HelperInstaller.moc"
