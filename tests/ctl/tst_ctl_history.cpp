// fernpointctl history: the window's history file read as it is, newest first, and never
// changed, created or copied aside.

#include "CtlTestSupport.h"
#include "PrivateBus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace fernpoint::test;

namespace {

// Four entries in file order: a tie (the Office and the warehouse) keeps that order, and each
// way of making a title is used once.
const QByteArray kFourNetworks = R"([
  {"networkID":"aaaaaaaaaaaaaaaa","name":"Office","desc":"Berlin","lastUsedAt":100},
  {"networkID":"bbbbbbbbbbbbbbbb","name":"","desc":"Lab only","lastUsedAt":3600.75},
  {"networkID":"cccccccccccccccc","name":"仓库","desc":"","lastUsedAt":100},
  {"networkID":"dddddddddddddddd","name":"","desc":"","lastUsedAt":-86400}
])";

const QString kFourNetworksText =
    QStringLiteral("Network           Network ID        Last Used\n"
                   "Lab only          bbbbbbbbbbbbbbbb  2001-01-01 01:00:00\n"
                   "Office, Berlin    aaaaaaaaaaaaaaaa  2001-01-01 00:01:40\n"
                   "仓库              cccccccccccccccc  2001-01-01 00:01:40\n"
                   "dddddddddddddddd  dddddddddddddddd  2000-12-31 00:00:00\n");

enum class Setup { File, Missing, Folder };

// Everything below the folder: names, sizes and modification times.
QStringList snapshotOf(const QString& folder) {
    QStringList entries;
    for (const QFileInfo& info : QDir(folder).entryInfoList(
             QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
        entries << QStringLiteral("%1 %2 %3")
                       .arg(info.fileName())
                       .arg(info.size())
                       .arg(info.lastModified().toMSecsSinceEpoch());
    return entries;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestCtlHistory final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void history_data();
    void history();
};

void TestCtlHistory::history_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectedOut");
    QTest::addColumn<QString>("expectedErrAfterPath"); // after "Cannot read ... <path>: "

    QTest::newRow("newest first, ties in file order")
        << Setup::File << kFourNetworks << QString() << 0 << kFourNetworksText << QString();
    QTest::newRow("empty list") << Setup::File << QByteArray("[]") << QString() << 0
                                << QStringLiteral("No networks yet\n") << QString();
    QTest::newRow("no file") << Setup::Missing << QByteArray() << QString() << 0
                             << QStringLiteral("No networks yet\n") << QString();
    QTest::newRow("no file, in Chinese")
        << Setup::Missing << QByteArray() << QStringLiteral("zh_CN") << 0
        << QStringLiteral("暂无历史记录\n") << QString();
    QTest::newRow("not JSON") << Setup::File << QByteArray("[{\"networkID\":") << QString() << 1
                              << QString() << QStringLiteral("not JSON: ");
    QTest::newRow("an entry without its time")
        << Setup::File << QByteArray(R"([{"networkID":"aaaaaaaaaaaaaaaa","name":"","desc":""}])")
        << QString() << 1 << QString() << QString();
    QTest::newRow("a folder in its place")
        << Setup::Folder << QByteArray() << QString() << 1 << QString() << QString();
}

void TestCtlHistory::history() {
    QFETCH(Setup, setup);
    QFETCH(QByteArray, content);
    QFETCH(QString, language);
    QFETCH(int, exitCode);
    QFETCH(QString, expectedOut);
    QFETCH(QString, expectedErrAfterPath);

    TemporaryHome home;
    const QString folder = home.dataHome() + QStringLiteral("/FernPoint");
    const QString path = folder + QStringLiteral("/networks.json");
    if (setup == Setup::File) {
        QVERIFY(QDir().mkpath(folder));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        file.close();
        // An old time, so that a rewrite within the same second would still show.
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC),
                                 QFileDevice::FileModificationTime));
        file.close();
    } else if (setup == Setup::Folder) {
        QVERIFY(QDir().mkpath(path));
    }
    const auto before = snapshotOf(folder);

    QProcessEnvironment environment = ctlEnvironment();
    if (!language.isEmpty()) {
        environment.insert(QStringLiteral("LANGUAGE"), language);
        environment.insert(QStringLiteral("LANG"), language + QStringLiteral(".UTF-8"));
        environment.insert(QStringLiteral("LC_ALL"), language + QStringLiteral(".UTF-8"));
    }
    const CtlRun run = runCtl({QStringLiteral("history")}, environment);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.outText(), expectedOut);
    if (exitCode == 0) {
        QCOMPARE(run.errText(), QString());
    } else {
        const QString prefix = QStringLiteral("Cannot read the history file ") + path +
                               QStringLiteral(": ") + expectedErrAfterPath;
        QVERIFY2(run.errText().startsWith(prefix), qPrintable(run.errText()));
        QVERIFY2(run.errText().size() > prefix.size() + 1, "the line says why");
        QVERIFY(run.errIsOneLine());
    }

    // Read only: the same bytes and times, no copy aside, and no folder where there was none.
    QCOMPARE(snapshotOf(folder), before);
    QCOMPARE(QFileInfo::exists(folder), setup != Setup::Missing);
    if (setup == Setup::File) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
}

QTEST_GUILESS_MAIN(TestCtlHistory)
#include "tst_ctl_history.moc"
