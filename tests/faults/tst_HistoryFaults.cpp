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
    QTest::addColumn<int>("killAfterMs"); // after the save began; -1: the process quits by itself
    QTest::newRow("killed as the save begins") << 0;
    QTest::newRow("killed 3 ms into the save") << 3;
    QTest::newRow("killed 10 ms into the save") << 10;
    QTest::newRow("quits during the save") << -1;
}

void TestHistoryFaults::killedDuringASave() {
    // An 11 MB history: its save takes tens of milliseconds, and a kill lands inside it.
    constexpr int kEntries = 100000;
    QFETCH(int, killAfterMs);
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
    if (killAfterMs >= 0) {
        QThread::msleep(static_cast<unsigned long>(killAfterMs));
        ::kill(static_cast<pid_t>(probe.processId()), SIGKILL);
    }
    QVERIFY(probe.waitForFinished(30000));
    output += probe.readAllStandardOutput();
    // Killed while saving, or having quit only once the last change was on disk.
    QCOMPARE(output.endsWith("saved\n"), killAfterMs < 0);

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
