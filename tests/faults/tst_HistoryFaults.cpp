// The history store's process killed in the middle of a save. The store runs in a child process
// (fernpoint-history-probe).

#include "NetworkProfileCodec.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

using namespace fernpoint;

class TestHistoryFaults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedDuringASave_data() {
        QTest::addColumn<int>("signalNumber"); // SIGKILL ends it at once; the others as quitting
        QTest::addColumn<int>("afterMs");      // after the save began
        QTest::newRow("killed as the save begins") << SIGKILL << 0;
        QTest::newRow("killed 10 ms into the save") << SIGKILL << 10;
        QTest::newRow("SIGTERM during the save") << SIGTERM << 0;
        QTest::newRow("SIGINT during the save") << SIGINT << 0;
    }
    void killedDuringASave() {
        // An 11 MB history: its save takes tens of milliseconds, and a signal lands inside it.
        constexpr int kEntries = 100000;
        QFETCH(int, signalNumber);
        QFETCH(int, afterMs);
        QTemporaryDir folder;
        QProcess probe;
        probe.start(QStringLiteral(FERNPOINT_HISTORY_PROBE),
                    {folder.path(), QString::number(kEntries)});
        QByteArray output;
        while (!output.endsWith("changing\nsaving\n") && probe.waitForReadyRead(30000))
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
        QFile file(folder.filePath(QStringLiteral("networks.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const DecodeResult decoded = decodeProfiles(file.readAll());
        QVERIFY2(decoded.profiles, qPrintable(decoded.errorDescription));
        const qsizetype entries = decoded.profiles->size();
        QVERIFY2(entries == kEntries || (entries == 1 && !endsNormally),
                 qPrintable(QString::number(entries)));
    }
};

QTEST_GUILESS_MAIN(TestHistoryFaults)
#include "tst_HistoryFaults.moc"
