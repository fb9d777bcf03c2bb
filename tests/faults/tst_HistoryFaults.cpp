// The history store where the file system refuses it for root too: a folder on a read-only
// mount, a folder or a file the store's user may not write or read. The store runs in a child
// process (fernpoint-history-probe), as nobody or inside a mount namespace of its own, because
// the tests run as root, for whom permission bits alone refuse nothing. And the store's process
// killed in the middle of a save.

#include "NetworkProfileCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include <unistd.h>

using namespace fernpoint;

namespace {

const QString kNewId = QStringLiteral("fedcba9876543210");
const QByteArray kStoredFile =
    R"([{"desc":"","lastUsedAt":1,"name":"Lab","networkID":"0123456789abcdef"}])";
const QString kSaveFailed = QStringLiteral("❌ [NetworkProfileStore] saveToDisk failed: ");
constexpr auto kOwnerAll = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr auto kOthersEnter = QFileDevice::ReadOther | QFileDevice::ExeOther;

enum class RunAs { Nobody, ReadOnlyMount };

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The history folder "FernPoint" under a fresh temporary folder that nobody may enter.
bool makeFolder(QTemporaryDir& base, QString& folder, QFileDevice::Permissions permissions) {
    folder = base.filePath(QStringLiteral("FernPoint"));
    return base.isValid() && QFile::setPermissions(base.path(), kOwnerAll | kOthersEnter) &&
           QDir().mkdir(folder) && QFile::setPermissions(folder, permissions);
}

// The probe's output lines, or an empty list with the reason in `errors`.
QStringList runProbe(RunAs runAs, const QString& folder, QString& errors) {
    const QString probe = QStringLiteral(FERNPOINT_HISTORY_PROBE);
    QProcess process;
    if (runAs == RunAs::Nobody) {
        process.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups"), QStringLiteral("--"), probe, folder,
                       kNewId});
    } else {
        // The bind mount exists only in the probe's own mount namespace and goes with it.
        process.start(QStringLiteral("unshare"),
                      {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                       QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral(R"(mount --bind "$1" "$1" && )"
                                      R"(mount -o remount,bind,ro "$1" && exec "$2" "$1" "$3")"),
                       QStringLiteral("sh"), folder, probe, kNewId});
    }
    const bool ran = process.waitForFinished(30000) &&
                     process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    errors = process.errorString() + QLatin1Char(' ') +
             QString::fromUtf8(process.readAllStandardError());
    return ran ? QString::fromUtf8(process.readAllStandardOutput())
                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
               : QStringList();
}

} // namespace

Q_DECLARE_METATYPE(RunAs)

class TestHistoryFaults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedDuringASave_data();
    void killedDuringASave();
    void refusedSave_data();
    void refusedSave();
    void unreadableFile_data();
    void unreadableFile();
};

void TestHistoryFaults::initTestCase() {
    if (::geteuid() != 0)
        QSKIP("switching users and mounting need root (CI runs these as root)");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv is missing");
}

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

void TestHistoryFaults::refusedSave_data() {
    QTest::addColumn<RunAs>("runAs");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("reason"); // %1: the file

    QTest::newRow("read-only mount, as root, file present")
        << RunAs::ReadOnlyMount << true << QStringLiteral("Existing file %1 is not writable");
    QTest::newRow("folder of another user, as nobody, no file yet")
        << RunAs::Nobody << false << QStringLiteral("Permission denied");
}

void TestHistoryFaults::refusedSave() {
    QFETCH(RunAs, runAs);
    QFETCH(bool, fileExists);
    QFETCH(QString, reason);

    QTemporaryDir base;
    QString folder;
    QVERIFY(makeFolder(base, folder, kOwnerAll | kOthersEnter));
    const QString file = folder + QStringLiteral("/networks.json");
    if (fileExists) {
        QVERIFY(writeFile(file, kStoredFile));
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadOther));
    }

    QString errors;
    const QStringList lines = runProbe(runAs, folder, errors);
    if (runAs == RunAs::ReadOnlyMount && lines.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no mount namespace here: ") + errors));
    // Every save fails and says why; the store keeps what it has in memory. A stored file still
    // loads (and its rewrite at load fails like any save).
    QVERIFY2(lines.size() == (fileExists ? 3 : 2),
             qPrintable(lines.join(QLatin1Char('|')) + errors));
    for (const QString& line : lines.first(lines.size() - 1))
        QVERIFY2(line.startsWith(kSaveFailed) &&
                     line.contains(QString(reason).replace(QStringLiteral("%1"), file)),
                 qPrintable(line));
    QCOMPARE(lines.last(), QStringLiteral("profiles %1").arg(fileExists ? 2 : 1));
    if (fileExists)
        QCOMPARE(readFile(file), kStoredFile);
    // No temporary file is left behind either.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             fileExists ? QStringList{QStringLiteral("networks.json")} : QStringList());
}

void TestHistoryFaults::unreadableFile_data() {
    QTest::addColumn<bool>("folderWritable");
    QTest::newRow("moved aside, then a new file") << true;
    QTest::newRow("folder not writable either: left in place") << false;
}

void TestHistoryFaults::unreadableFile() {
    QFETCH(bool, folderWritable);

    QTemporaryDir base;
    QString folder;
    QVERIFY(
        makeFolder(base, folder,
                   kOwnerAll | kOthersEnter |
                       (folderWritable ? QFileDevice::WriteOther : QFileDevice::Permissions())));
    const QString file = folder + QStringLiteral("/networks.json");
    QVERIFY(writeFile(file, kStoredFile));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    QString errors;
    const QStringList lines = runProbe(RunAs::Nobody, folder, errors);
    QVERIFY2(!lines.isEmpty(), qPrintable(errors));
    const QString loadFailed =
        QStringLiteral("⚠️ [NetworkProfileStore] loadFromDisk failed: Permission denied");
    // The probe's clock, formatted as the name of a copy kept aside (UTC).
    const QString kept = file + QStringLiteral(".corrupt-20240510-021320");

    if (folderWritable) {
        // It cannot be copied (it cannot be read), but it can still be moved out of the way of
        // the next save, which then writes a file of the store's own.
        QCOMPARE(lines,
                 (QStringList{loadFailed + QStringLiteral(" (kept as ") + kept + QLatin1Char(')'),
                              QStringLiteral("profiles 1")}));
        QCOMPARE(readFile(kept), kStoredFile);
        const DecodeResult saved = decodeProfiles(readFile(file));
        QVERIFY(saved.profiles.has_value() && saved.profiles->size() == 1);
        QCOMPARE(saved.profiles->first().networkID, kNewId);
        return;
    }
    // Neither copied nor moved: the line says nothing was kept, and the save fails too, so the
    // file stays as it was.
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0), loadFailed);
    QVERIFY2(lines.at(1).startsWith(kSaveFailed), qPrintable(lines.at(1)));
    QCOMPARE(lines.at(2), QStringLiteral("profiles 1"));
    QCOMPARE(readFile(file), kStoredFile);
    QVERIFY(!QFileInfo::exists(kept));
}

QTEST_GUILESS_MAIN(TestHistoryFaults)
#include "tst_HistoryFaults.moc"
