#include "NetworkProfileCodec.h"
#include "NetworkProfileStore.h"
#include "UnixSignalWatcher.h"

#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <memory>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace fernpoint;
using namespace Qt::StringLiterals;
using Profiles = QList<NetworkProfile>;

namespace {

const QString kId = u"0123456789abcdef"_s;
const QString kOtherId = u"fedcba9876543210"_s;
constexpr double kNow = 737000000.25; // 2024-05-10 02:13:20.25 UTC
constexpr int kLongHistory = 100000;  // 11 MB: its save takes tens of milliseconds

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Root reads any file whatever its permission bits. Without these capabilities, dropped from the
// calling thread only, it is refused like any other user.
bool setReadOverride(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (syscall(SYS_capget, &header, caps) != 0)
        return false;
    const quint32 bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    caps[0].effective =
        on ? caps[0].effective | (caps[0].permitted & bits) : caps[0].effective & ~bits;
    return syscall(SYS_capset, &header, caps) == 0;
}

// This program run as `--saving-process <folder>`: saves one entry, prints "changing", then saves
// a long history, printing "saving" and "saved" around each save, and runs until SIGTERM or SIGINT
// ends it as they end the application.
int runSavingProcess(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    UnixSignalWatcher::exitEventLoopOnTermination();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    NetworkProfileStore store(
        QString::fromLocal8Bit(argv[2]), [] { return kNow; },
        [](const QString& path, const QByteArray& content) {
            std::puts("saving");
            const QString failure = replaceFileAtomically(path, content);
            std::puts(failure.isEmpty() ? "saved" : qPrintable(failure));
            return failure;
        });
    store.setProfiles({{kId, u"Lab"_s, QString(), 1.0}});
    store.flush();
    std::puts("changing");
    Profiles profiles;
    for (int i = 0; i < kLongHistory; ++i)
        profiles.append({u"%1"_s.arg(i, 16, 16, QChar(u'0')), u"Network %1"_s.arg(i),
                         u"Branch office number %1"_s.arg(i), kNow});
    store.setProfiles(profiles);
    return QCoreApplication::exec();
}

} // namespace

class TestNetworkProfileStore : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString filePath() const { return m_dir->filePath(u"networks.json"_s); }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // One network used again, one ID refused, one new; then the file is read back.
    void upsertAndTheFileItWrites() {
        // A time needing all 17 digits of a double: written as the shortest text that reads back.
        const auto clock = [] { return 244855963.33333334; };
        NetworkProfileStore store(m_dir->path(), clock);
        store.setProfiles({{kId, u"Lab"_s, u"Second floor"_s, 100.0}, {kOtherId, u"O"_s, {}, 2.0}});
        QSignalSpy changed(&store, &NetworkProfileStore::profilesChanged);
        store.upsertProfile(kId, u"   "_s, u"Roof"_s);               // a blank name keeps its own
        store.upsertProfile(kId.left(15) + u"\u00A0"_s, u"X"_s, {}); // 15 after trimming
        store.upsertProfile(u"  0000ffff0000ffff\n"_s,
                            u" a\"b\\c\x01\x1f\b\f\n\r\t 网络 \U0001F600\t"_s,
                            u"\nSecond floor\u3000"_s);
        store.flush();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(readFile(filePath()),
                 R"([{"desc":"Roof","lastUsedAt":244855963.33333334,"name":"Lab",)"
                 R"("networkID":"0123456789abcdef"},{"desc":"","lastUsedAt":2,"name":"O",)"
                 R"("networkID":"fedcba9876543210"},{"desc":"Second floor","lastUsedAt":)"
                 "244855963.33333334,\"name\":\"a\\\"b\\\\c\\u0001\\u001f\\b\\f\\n\\r\\t 网络 😀\","
                 R"("networkID":"0000ffff0000ffff"}])");
        QCOMPARE(NetworkProfileStore(m_dir->path(), clock).profiles(), store.profiles());
    }

    void newestFirst() {
        // Forty entries used at three times: an unstable sort would mix up the equal ones.
        Profiles profiles;
        QStringList expected, sorted;
        for (int i = 0; i < 40; ++i)
            profiles.append({kId, QString::number(i), QString(), double(i % 3)});
        for (int time = 2; time >= 0; --time)
            for (int i = time; i < 40; i += 3)
                expected << QString::number(i);
        NetworkProfileStore store(m_dir->path(), [] { return kNow; });
        store.setProfiles(profiles);
        for (const NetworkProfile& p : store.sortedByMostRecent())
            sorted << p.name;
        QCOMPARE(sorted, expected);
        // Of the entries used last, the later in stored order.
        QCOMPARE(store.mostRecentProfile()->name, u"38"_s);
    }

    void unreadableFileKeptAside_data() {
        QTest::addColumn<bool>("readable"); // for its user; root is refused too
        QTest::addColumn<QString>("keptAs");
        // Two copies were made earlier that second.
        QTest::newRow("an entry without a description") << true << u"-3"_s;
        // It cannot be copied, but it can still be moved out of the way of the next save.
        QTest::newRow("unreadable") << false << QString();
    }
    void unreadableFileKeptAside() {
        QFETCH(bool, readable);
        QFETCH(QString, keptAs);
        const QString copy = filePath() + u".corrupt-20240510-021320"_s; // the clock's time in UTC
        const QByteArray content = R"([{"networkID":"0123456789abcdef","name":"","lastUsedAt":1}])";
        QVERIFY(writeFile(filePath(), content));
        QVERIFY(!readable || (writeFile(copy, "x") && writeFile(copy + u"-2"_s, "x")));
        QVERIFY(readable || (QFile::setPermissions(filePath(), {}) && setReadOverride(false)));
        NetworkProfileStore store(m_dir->path(), [] { return kNow; });
        QVERIFY(setReadOverride(true));
        store.upsertProfile(kId, std::nullopt, std::nullopt);
        store.flush();
        QCOMPARE(readFile(copy + keptAs), content);
        QCOMPARE(readFile(filePath()), encodeProfiles(store.profiles()));
    }

    void changesNeverWaitForASlowSave() {
        // The first save hangs, as on a stalled network home folder, until the test lets it go.
        QSemaphore hanging;
        QAtomicInt saves;
        auto store = std::make_unique<NetworkProfileStore>(
            m_dir->path(), [] { return kNow; },
            [&](const QString& path, const QByteArray& content) {
                if (saves.fetchAndAddRelaxed(1) == 0)
                    hanging.tryAcquire(1, 5000);
                return replaceFileAtomically(path, content);
            });
        QSignalSpy changed(store.get(), &NetworkProfileStore::profilesChanged);
        const Profiles two{{kId, QString(), QString(), 1.0}, {kOtherId, QString(), QString(), 2.0}};
        store->setProfiles(two);
        QTRY_COMPARE(saves.loadRelaxed(), 1);
        // Made while it hangs: each returns at once, and only the last one is written.
        store->removeAt(2);
        store->removeAt(-1);
        store->removeAt(0);
        store->upsertProfile(kId, u"Lab"_s, std::nullopt);
        QCOMPARE(saves.loadRelaxed(), 1);
        QCOMPARE(changed.count(), 3); // out-of-range removals change nothing
        hanging.release();
        store.reset(); // going away waits for the last change
        QCOMPARE(readFile(filePath()),
                 encodeProfiles({two.at(1), {kId, u"Lab"_s, QString(), kNow}}));
        QCOMPARE(saves.loadRelaxed(), 2);
    }

    void killedDuringASave_data() {
        QTest::addColumn<int>("signalNumber"); // SIGKILL ends it at once; the others as quitting
        QTest::addColumn<int>("afterMs");      // after the save began
        QTest::newRow("killed as the save begins") << SIGKILL << 0;
        QTest::newRow("killed 10 ms into the save") << SIGKILL << 10;
        QTest::newRow("SIGTERM during the save") << SIGTERM << 0;
        QTest::newRow("SIGINT during the save") << SIGINT << 0;
    }
    void killedDuringASave() {
        QFETCH(int, signalNumber);
        QFETCH(int, afterMs);
        QProcess process;
        process.start(QCoreApplication::applicationFilePath(),
                      {u"--saving-process"_s, m_dir->path()});
        QByteArray output;
        while (!output.endsWith("changing\nsaving\n") && process.waitForReadyRead(30000))
            output += process.readAllStandardOutput();
        QVERIFY2(output.endsWith("changing\nsaving\n"), output.constData());
        QThread::msleep(static_cast<unsigned long>(afterMs));
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(30000));
        output += process.readAllStandardOutput();
        // Killed while saving, or ended normally only once the last change was on disk.
        const bool endsNormally = signalNumber != SIGKILL;
        QCOMPARE(output.endsWith("saved\n"), endsNormally);
        QCOMPARE(process.exitStatus() == QProcess::NormalExit, endsNormally);
        // The old file or the whole new one, never a mix or a part.
        const DecodeResult decoded = decodeProfiles(readFile(filePath()));
        QVERIFY2(decoded.profiles, qPrintable(decoded.errorDescription));
        const qsizetype entries = decoded.profiles->size();
        QVERIFY2(entries == kLongHistory || (entries == 1 && !endsNormally),
                 qPrintable(QString::number(entries)));
    }
};

int main(int argc, char* argv[]) {
    if (argc == 3 && qstrcmp(argv[1], "--saving-process") == 0)
        return runSavingProcess(argc, argv);
    QCoreApplication application(argc, argv);
    TestNetworkProfileStore test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_NetworkProfileStore.moc"
