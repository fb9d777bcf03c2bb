// The history store's process killed in the middle of a save. The store runs in a child process
// (fernpoint-history-probe).

#include "NetworkProfileCodec.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

using namespace fernpoint;

namespace {

const QByteArray kStoredFile =
    R"([{"desc":"","lastUsedAt":1,"name":"Lab","networkID":"0123456789abcdef"}])";

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestHistoryFaults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedDuringASave_data();
    void killedDuringASave();
};

void TestHistoryFaults::killedDuringASave_data() {
    QTest::addColumn<int>("signalNumber"); // SIGKILL ends it at once; the others as quitting does
    QTest::addColumn<int>("afterMs");      // after the save began
    QTest::newRow("killed as the save begins") << SIGKILL << 0;
    QTest::newRow("killed 3 ms into the save") << SIGKILL << 3;
    QTest::newRow("killed 10 ms into the save") << SIGKILL << 10;
    QTest::newRow("SIGTERM during the save") << SIGTERM << 0;
    QTest::newRow("SIGINT during the save") << SIGINT << 0;
}

void TestHistoryFaults::killedDuringASave() {
    // An 11 MB history: its save takes tens of milliseconds, and a signal lands inside it.
    constexpr int kEntries = 100000;
    QFETCH(int, signalNumber);
    QFETCH(int, afterMs);
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("FernPoint"));
    const QString file = folder + QStringLiteral("/networks.json");
    QVERIFY(QDir().mkpath(folder) && writeFile(file, kStoredFile));

    QProcess probe;
    probe.start(QStringLiteral(FERNPOINT_HISTORY_PROBE),
                {folder, QStringLiteral("--replace-with"), QString::number(kEntries)});
    QByteArray output;
    while (!output.contains("changing\nsaving\n") && probe.waitForReadyRead(30000))
        output += probe.readAllStandardOutput();
    QVERIFY2(output.endsWith("changing\nsaving\n"), output.constData());
    QThread::msleep(static_cast<unsigned long>(afterMs));
    ::kill(static_cast<pid_t>(probe.processId()), signalNumber);
    QVERIFY(probe.waitForFinished(30000));
    output += probe.readAllStandardOutput();
    // Killed while saving, or ended normally only once the last change was on disk.
    const bool endsNormally = signalNumber != SIGKILL;
    QCOMPARE(output.endsWith("saved\n"), endsNormally);
    QCOMPARE(probe.exitStatus() == QProcess::NormalExit, endsNormally);

    // The old file or the whole new one, never a mix or a part.
    const QByteArray content = readFile(file);
    if (content == kStoredFile)
        return;
    const DecodeResult decoded = decodeProfiles(content);
    QVERIFY2(decoded.profiles, qPrintable(decoded.errorDescription));
    QCOMPARE(decoded.profiles->size(), kEntries);
}

QTEST_GUILESS_MAIN(TestHistoryFaults)
#include "tst_HistoryFaults.moc"
