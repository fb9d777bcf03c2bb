#include "HelperInstaller.h"
#include "HelperJobProbe.h"
#include "PrivilegedRunner.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(fernpoint::PrivilegedRunner::Outcome)

using namespace fernpoint;

namespace {

class FakeProbe final : public HelperJobProbe {
public:
    bool present = false;
    int calls = 0;
    bool isHelperJobPresent() override {
        ++calls;
        return present;
    }
};

// Answers with scripted outcomes; a successful run also makes the job present, as a real
// installation would.
class FakeRunner final : public PrivilegedRunner {
public:
    explicit FakeRunner(FakeProbe& probe)
        : m_probe(probe) {}
    QList<Outcome> outcomes; // consumed front to back; success when empty
    QList<QPair<QString, QStringList>> runs;

    Outcome run(const QString& program, const QStringList& arguments) override {
        runs.append({program, arguments});
        const Outcome outcome = outcomes.isEmpty() ? Outcome{} : outcomes.takeFirst();
        if (outcome.kind == Outcome::Kind::Finished && outcome.exitCode == 0)
            m_probe.present = true;
        return outcome;
    }

private:
    FakeProbe& m_probe;
};

PrivilegedRunner::Outcome finished(int exitCode, const QString& standardError = QString()) {
    return {PrivilegedRunner::Outcome::Kind::Finished, exitCode, standardError};
}

PrivilegedRunner::Outcome authorizerMissing() {
    return {PrivilegedRunner::Outcome::Kind::AuthorizerMissing, 0, QString()};
}

const QString kKey = QStringLiteral("fernpoint.helper.installedVersion");
const QString kHelper = QStringLiteral("/opt/fernpoint/libexec/fernpoint/fernpoint-helper");

struct Result {
    int completions = 0;
    std::optional<InstallError> error;
};

} // namespace

class tst_HelperInstaller final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    FakeProbe m_probe;
    std::unique_ptr<FakeRunner> m_runner;
    std::unique_ptr<HelperInstaller> m_installer;

    Result ensure() {
        Result result;
        m_installer->ensureHelperInstalled([&result](const std::optional<InstallError>& error) {
            ++result.completions;
            result.error = error;
        });
        return result;
    }

    // The value as another process would read it from the file.
    QVariant storedOnDisk() const {
        m_settings->sync();
        return QSettings(m_settings->fileName(), QSettings::IniFormat).value(kKey);
    }

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        QFile::remove(m_dir.filePath(QStringLiteral("settings.ini")));
        m_settings = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")),
                                                 QSettings::IniFormat);
        m_probe = FakeProbe{};
        m_runner = std::make_unique<FakeRunner>(m_probe);
        m_installer = std::make_unique<HelperInstaller>(m_probe, *m_runner, *m_settings, kHelper);
    }

    void presentWithRequiredVersionAsksNothing() {
        m_probe.present = true;
        m_settings->setValue(kKey, QStringLiteral("1.0.4"));
        m_settings->sync();
        const QByteArray before = [this] {
            QFile file(m_settings->fileName());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();

        const Result result = ensure();
        QCOMPARE(result.completions, 1);
        QVERIFY(!result.error);
        QVERIFY(m_runner->runs.isEmpty());
        m_settings->sync();
        QFile after(m_settings->fileName());
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
    }

    void installRuns_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("present, nothing stored") << true << QVariant();
        QTest::newRow("present, older") << true << QVariant(QStringLiteral("1.0.3"));
        QTest::newRow("present, newer") << true << QVariant(QStringLiteral("1.0.5"));
        QTest::newRow("present, same number other text")
            << true << QVariant(QStringLiteral("1.0.04"));
        QTest::newRow("present, trailing space") << true << QVariant(QStringLiteral("1.0.4 "));
        QTest::newRow("present, empty") << true << QVariant(QString());
        QTest::newRow("stored but job gone") << false << QVariant(QStringLiteral("1.0.4"));
        QTest::newRow("nothing at all") << false << QVariant();
    }

    void installRuns() {
        QFETCH(bool, present);
        QFETCH(QVariant, stored);
        m_probe.present = present;
        if (stored.isValid())
            m_settings->setValue(kKey, stored);

        const Result result = ensure();
        QCOMPARE(result.completions, 1);
        QVERIFY2(!result.error,
                 qPrintable(result.error ? result.error->localizedDescription : QString()));
        QCOMPARE(m_runner->runs.size(), 1);
        QCOMPARE(m_runner->runs.first().first, kHelper);
        QCOMPARE(m_runner->runs.first().second, QStringList{QStringLiteral("--install")});
        QCOMPARE(storedOnDisk(), QVariant(QStringLiteral("1.0.4")));
    }

    void failures_data() {
        QTest::addColumn<PrivilegedRunner::Outcome>("outcome");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("description");
        QTest::newRow("pkexec missing")
            << authorizerMissing() << QStringLiteral("NSOSStatusErrorDomain") << -60008
            << QStringLiteral("AuthorizationCreate 失败: -60008");
        QTest::newRow("prompt dismissed")
            << finished(126, QStringLiteral(
                                 "Error executing command as another user: Request dismissed\n"))
            << QStringLiteral("NSOSStatusErrorDomain") << -60006
            << QStringLiteral("AuthorizationCopyRights 失败: -60006");
        QTest::newRow("not authorized")
            << finished(127,
                        QStringLiteral("Error executing command as another user: Not authorized\n"))
            << QStringLiteral("NSOSStatusErrorDomain") << -60005
            << QStringLiteral("AuthorizationCopyRights 失败: -60005");
        QTest::newRow("install step failed with a description")
            << finished(1, QStringLiteral(
                               "\n  cannot create folder /etc/dbus-1: Not a directory  \nmore\n"))
            << QStringLiteral("HelperInstaller") << 1
            << QStringLiteral("cannot create folder /etc/dbus-1: Not a directory");
        QTest::newRow("install step failed silently")
            << finished(3) << QStringLiteral("HelperInstaller") << -1
            << QStringLiteral("SMJobBless 失败");
        QTest::newRow("only blank lines on stderr")
            << finished(2, QStringLiteral(" \n\t\n")) << QStringLiteral("HelperInstaller") << -1
            << QStringLiteral("SMJobBless 失败");
    }

    void failures() {
        QFETCH(PrivilegedRunner::Outcome, outcome);
        QFETCH(QString, domain);
        QFETCH(int, code);
        QFETCH(QString, description);
        m_probe.present = true;
        m_settings->setValue(kKey, QStringLiteral("1.0.3"));
        m_runner->outcomes = {outcome};

        const Result result = ensure();
        QCOMPARE(result.completions, 1);
        QVERIFY(result.error);
        QCOMPARE(result.error->domain, domain);
        QCOMPARE(result.error->code, code);
        QCOMPARE(result.error->localizedDescription, description);
        QCOMPARE(storedOnDisk(), QVariant(QStringLiteral("1.0.3")));
    }

    void secondCallAfterSuccessAsksNothing() {
        QVERIFY(!ensure().error);
        const Result second = ensure();
        QCOMPARE(second.completions, 1);
        QVERIFY(!second.error);
        QCOMPARE(m_runner->runs.size(), 1);
    }

    void secondCallAfterFailureAsksAgain() {
        m_runner->outcomes = {finished(126)};
        QVERIFY(ensure().error);
        QVERIFY(!storedOnDisk().isValid());
        const Result second = ensure();
        QVERIFY(!second.error);
        QCOMPARE(m_runner->runs.size(), 2);
        QCOMPARE(storedOnDisk(), QVariant(QStringLiteral("1.0.4")));
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstaller)
#include "tst_HelperInstaller.moc"
