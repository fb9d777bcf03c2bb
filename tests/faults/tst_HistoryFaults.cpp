// The history store's process killed in the middle of a save, and a history file its user may not
// read. The store runs in a child process (fernpoint-history-probe), as nobody where a file must
// be unreadable, because the tests run as root, for whom permission bits alone refuse nothing.

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
constexpr auto kOwnerAll = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr auto kOthersEnter = QFileDevice::ReadOther | QFileDevice::ExeOther;

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

// The probe's output lines as nobody, or an empty list with the reason in `errors`.
QStringList runProbe(const QString& folder, QString& errors) {
    QProcess process;
    process.start(QStringLiteral("setpriv"),
                  {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                   QStringLiteral("--clear-groups"), QStringLiteral("--"),
                   QStringLiteral(FERNPOINT_HISTORY_PROBE), folder, kNewId});
    const bool ran = process.waitForFinished(30000) &&
                     process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    errors = process.errorString() + QLatin1Char(' ') +
             QString::fromUtf8(process.readAllStandardError());
    return ran ? QString::fromUtf8(process.readAllStandardOutput())
                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
               : QStringList();
}

} // namespace

class TestHistoryFaults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedDuringASave_data();
    void killedDuringASave();
    void unreadableFile();
};

void TestHistoryFaults::initTestCase() {
    if (::geteuid() != 0)
        QSKIP("switching users and mounting need root (CI runs these as root)");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv is missing");
}

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

void TestHistoryFaults::unreadableFile() {
    // A file its user may not read cannot be copied aside, but it can still be moved out of the
    // way of the next save, which then writes a file of the store's own.
    QTemporaryDir base;
    QString folder;
    QVERIFY(makeFolder(base, folder, kOwnerAll | kOthersEnter | QFileDevice::WriteOther));
    const QString file = folder + QStringLiteral("/networks.json");
    QVERIFY(writeFile(file, kStoredFile));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    QString errors;
    const QStringList lines = runProbe(folder, errors);
    QVERIFY2(!lines.isEmpty(), qPrintable(errors));
    // The probe's clock, formatted as the name of a copy kept aside (UTC).
    const QString kept = file + QStringLiteral(".corrupt-20240510-021320");
    QCOMPARE(lines, (QStringList{QStringLiteral("⚠️ [NetworkProfileStore] loadFromDisk failed: "
                                                "Permission denied (kept as ") +
                                     kept + QLatin1Char(')'),
                                 QStringLiteral("profiles 1")}));
    QCOMPARE(readFile(kept), kStoredFile);
    const DecodeResult saved = decodeProfiles(readFile(file));
    QVERIFY(saved.profiles && saved.profiles->size() == 1);
    QCOMPARE(saved.profiles->first().networkID, kNewId);
}

QTEST_GUILESS_MAIN(TestHistoryFaults)
#include "tst_HistoryFaults.moc"
