// The history store where the file system refuses it for root too: a folder on a read-only
// mount, a folder or a file the store's user may not write or read. The store runs in a child
// process (fernpoint-history-probe), as nobody or inside a mount namespace of its own, because
// the tests run as root, for whom permission bits alone refuse nothing.

#include "NetworkProfileCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace fernpoint;

namespace {

const QString kStoredId = QStringLiteral("0123456789abcdef");
const QString kNewId = QStringLiteral("fedcba9876543210");
const QByteArray kStoredFile =
    R"([{"desc":"","lastUsedAt":1,"name":"Lab","networkID":"0123456789abcdef"}])";
// The probe's clock, formatted as the name of a copy kept aside (UTC).
const QString kCorruptSuffix = QStringLiteral(".corrupt-20240510-021320");

enum class RunAs { Nobody, ReadOnlyMount };

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

struct ProbeRun {
    bool started = false;
    int exitCode = -1;
    QStringList lines;
    QString errors;
};

ProbeRun runProbe(RunAs runAs, const QString& folder, const QString& id) {
    const QString probe = QStringLiteral(FERNPOINT_HISTORY_PROBE);
    QProcess process;
    if (runAs == RunAs::Nobody) {
        process.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups"), QStringLiteral("--"), probe, folder, id});
    } else {
        // The bind mount exists only in the probe's own mount namespace and goes with it.
        const QString script =
            QStringLiteral("mount --bind \"$1\" \"$1\" && "
                           "mount -o remount,bind,ro \"$1\" && exec \"$2\" \"$1\" "
                           "\"$3\"");
        process.start(QStringLiteral("unshare"),
                      {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                       QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                       script, QStringLiteral("sh"), folder, probe, id});
    }
    ProbeRun run;
    run.started = process.waitForStarted(10000);
    if (!run.started || !process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput())
                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

Q_DECLARE_METATYPE(RunAs)

class TestHistoryFaults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void refusedSave_data();
    void refusedSave();
    void unreadableFile_data();
    void unreadableFile();

private:
    // A folder for the history, reachable by nobody, under a fresh temporary folder.
    bool makeFolder(QTemporaryDir& base, QString& folder, QFileDevice::Permissions permissions);
};

void TestHistoryFaults::initTestCase() {
    if (::geteuid() != 0)
        QSKIP("switching users and mounting need root (CI runs these as root)");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv is missing");
}

bool TestHistoryFaults::makeFolder(QTemporaryDir& base, QString& folder,
                                   QFileDevice::Permissions permissions) {
    if (!base.isValid())
        return false;
    const QFileDevice::Permissions traversable = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                 QFileDevice::ExeOther;
    folder = base.filePath(QStringLiteral("FernPoint"));
    return QFile::setPermissions(base.path(), traversable) && QDir().mkdir(folder) &&
           QFile::setPermissions(folder, permissions);
}

void TestHistoryFaults::refusedSave_data() {
    QTest::addColumn<RunAs>("runAs");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("reason"); // of a save when there is no file yet

    QTest::newRow("read-only mount, as root, file present")
        << RunAs::ReadOnlyMount << true << QString();
    QTest::newRow("read-only mount, as root, no file yet")
        << RunAs::ReadOnlyMount << false << QStringLiteral("Read-only file system");
    QTest::newRow("folder of another user, as nobody, file present")
        << RunAs::Nobody << true << QString();
    QTest::newRow("folder of another user, as nobody, no file yet")
        << RunAs::Nobody << false << QStringLiteral("Permission denied");
}

void TestHistoryFaults::refusedSave() {
    QFETCH(RunAs, runAs);
    QFETCH(bool, fileExists);
    QFETCH(QString, reason);

    QTemporaryDir base;
    QString folder;
    QVERIFY(makeFolder(base, folder,
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                           QFileDevice::ReadOther | QFileDevice::ExeOther));
    const QString file = folder + QStringLiteral("/networks.json");
    if (fileExists) {
        QVERIFY(writeFile(file, kStoredFile));
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadOther));
    }

    const ProbeRun run = runProbe(runAs, folder, kNewId);
    if (runAs == RunAs::ReadOnlyMount && run.exitCode != 0 && run.lines.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no mount namespace here: ") + run.errors));
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));

    // Every save fails and says why; the store keeps what it has in memory. A stored file still
    // loads (and its rewrite at load fails like any save).
    const QString failed = QStringLiteral("❌ [NetworkProfileStore] saveToDisk failed: ");
    const QString line = fileExists ? failed + QStringLiteral("Existing file ") + file +
                                          QStringLiteral(" is not writable")
                                    : failed;
    QVERIFY2(run.lines.size() == (fileExists ? 3 : 2),
             qPrintable(run.lines.join(QLatin1Char('|'))));
    for (qsizetype i = 0; i + 1 < run.lines.size(); ++i) {
        if (fileExists)
            QCOMPARE(run.lines.at(i), line);
        else
            QVERIFY2(run.lines.at(i).startsWith(line) && run.lines.at(i).contains(reason),
                     qPrintable(run.lines.at(i)));
    }
    QCOMPARE(run.lines.last(), QStringLiteral("profiles %1").arg(fileExists ? 2 : 1));
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
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther;
    if (folderWritable)
        permissions |= QFileDevice::WriteOther;
    QVERIFY(makeFolder(base, folder, permissions));
    const QString file = folder + QStringLiteral("/networks.json");
    QVERIFY(writeFile(file, kStoredFile));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    const ProbeRun run = runProbe(RunAs::Nobody, folder, kNewId);
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    const QString loadFailed =
        QStringLiteral("⚠️ [NetworkProfileStore] loadFromDisk failed: Permission denied");
    const QString kept = file + kCorruptSuffix;

    if (folderWritable) {
        // It cannot be copied (it cannot be read), but it can still be moved out of the way of
        // the next save, which then writes a file of the store's own.
        QCOMPARE(run.lines,
                 (QStringList{loadFailed + QStringLiteral(" (kept as ") + kept + QLatin1Char(')'),
                              QStringLiteral("profiles 1")}));
        QCOMPARE(readFile(kept), kStoredFile);
        const DecodeResult saved = decodeProfiles(readFile(file));
        QVERIFY(saved.profiles.has_value());
        QCOMPARE(saved.profiles->size(), 1);
        QCOMPARE(saved.profiles->first().networkID, kNewId);
        return;
    }
    // Neither copied nor moved: the line says nothing was kept, and the save fails too, so the
    // file stays as it was.
    QCOMPARE(run.lines.size(), 3);
    QCOMPARE(run.lines.at(0), loadFailed);
    QVERIFY2(
        run.lines.at(1).startsWith(QStringLiteral("❌ [NetworkProfileStore] saveToDisk failed: ")),
        qPrintable(run.lines.at(1)));
    QCOMPARE(run.lines.at(2), QStringLiteral("profiles 1"));
    QCOMPARE(readFile(file), kStoredFile);
    QVERIFY(!QFileInfo::exists(kept));
}

QTEST_GUILESS_MAIN(TestHistoryFaults)
#include "tst_HistoryFaults.moc"
