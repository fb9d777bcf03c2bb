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

class TestCtlHistory final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void history_data();
    void history();
};

void TestCtlHistory::history_data() {
    QTest::addColumn<QByteArray>("content"); // none: no file
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectedOut");

    QTest::newRow("newest first, ties in file order")
        << kFourNetworks << QString() << 0 << kFourNetworksText;
    QTest::newRow("no file, in Chinese")
        << QByteArray() << QStringLiteral("zh_CN") << 0 << QStringLiteral("暂无历史记录\n");
    QTest::newRow("not JSON") << QByteArray("[{\"networkID\":") << QString() << 1 << QString();
}

void TestCtlHistory::history() {
    QFETCH(QByteArray, content);
    QFETCH(QString, language);
    QFETCH(int, exitCode);
    QFETCH(QString, expectedOut);

    TemporaryHome home;
    const QString folder = home.dataHome() + QStringLiteral("/FernPoint");
    const QString path = folder + QStringLiteral("/networks.json");
    if (!content.isEmpty()) {
        QVERIFY(QDir().mkpath(folder));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        QVERIFY(file.flush());
        // An old time, so that a rewrite within the same second would still show.
        QVERIFY(file.setFileTime(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC),
                                 QFileDevice::FileModificationTime));
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
        const QString prefix =
            QStringLiteral("Cannot read the history file ") + path + QStringLiteral(": not JSON: ");
        QVERIFY2(run.errText().startsWith(prefix) && run.errIsOneLine(), qPrintable(run.errText()));
    }

    // Read only: the same bytes and times, no copy aside, and no folder where there was none.
    QCOMPARE(snapshotOf(folder), before);
    QCOMPARE(QFileInfo::exists(folder), !content.isEmpty());
    QFile file(path);
    QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), content);
}

QTEST_GUILESS_MAIN(TestCtlHistory)
#include "tst_ctl_history.moc"
