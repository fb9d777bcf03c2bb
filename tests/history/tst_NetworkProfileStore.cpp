#include "NetworkProfileCodec.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace fernpoint;
using namespace Qt::StringLiterals;
using Profiles = QList<NetworkProfile>;
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString kId = u"0123456789abcdef"_s;
const QString kOtherId = u"fedcba9876543210"_s;
const QString kSaveFailed = u"❌ [NetworkProfileStore] saveToDisk failed: "_s;
const QString kLoadFailed = u"⚠️ [NetworkProfileStore] loadFromDisk failed: "_s;
constexpr double kNow = 737000000.25; // 2024-05-10 02:13:20.25 UTC

// Every line logged by the test in progress.
QStringList g_log;
void captureLog(QtMsgType, const QMessageLogContext&, const QString& message) {
    g_log << message;
}

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

} // namespace

class TestNetworkProfileStore : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TemporaryHome> m_home;
    QString m_folder;
    QString filePath() const { return m_folder + u"/networks.json"_s; }

private Q_SLOTS:
    void initTestCase() { qInstallMessageHandler(captureLog); }
    void init() {
        g_log.clear();
        m_home = std::make_unique<test::TemporaryHome>();
        m_folder = m_home->dataHome() + u"/FernPoint"_s;
    }

    void upsert_data() {
        QTest::addColumn<Profiles>("initial");
        QTest::addColumn<QString>("id");
        QTest::addColumn<std::optional<QString>>("name");
        QTest::addColumn<std::optional<QString>>("desc");
        QTest::addColumn<Profiles>("expected"); // empty: ignored, nothing changes

        const std::optional<QString> none;
        const NetworkProfile lab{kId, u"Lab"_s, u"Second floor"_s, 100.0};
        const NetworkProfile other{kOtherId, u"Other"_s, QString(), 200.0};
        QTest::newRow("new, ID, name and description trimmed")
            << Profiles{other} << u"  "_s + kId + u'\n' << std::optional(u" Lab \t"_s)
            << std::optional(u"\nSecond floor\u3000"_s)
            << Profiles{other, {kId, u"Lab"_s, u"Second floor"_s, kNow}};
        QTest::newRow("existing, nothing given: keeps name and place")
            << Profiles{lab, other} << kId << none << none
            << Profiles{{kId, lab.name, lab.desc, kNow}, other};
        QTest::newRow("existing, blank name kept, new description replaces")
            << Profiles{other, lab} << kId << std::optional(u"   "_s) << std::optional(u"Roof"_s)
            << Profiles{other, {kId, lab.name, u"Roof"_s, kNow}};
        QTest::newRow("15 after trimming a no-break space: ignored")
            << Profiles{lab} << kId.left(15) + u"\u00A0"_s << std::optional(u"X"_s) << none
            << Profiles{};
    }
    void upsert() {
        QFETCH(Profiles, initial);
        QFETCH(QString, id);
        QFETCH(std::optional<QString>, name);
        QFETCH(std::optional<QString>, desc);
        QFETCH(Profiles, expected);

        NetworkProfileStore store(m_folder, [] { return kNow; });
        store.setProfiles(initial);
        QSignalSpy changed(&store, &NetworkProfileStore::profilesChanged);
        store.upsertProfile(id, name, desc);
        store.flush();
        const bool ignored = expected.isEmpty();
        QCOMPARE(store.profiles(), ignored ? initial : expected);
        QCOMPARE(changed.count(), ignored ? 0 : 1);
        QCOMPARE(readFile(filePath()), encodeProfiles(ignored ? initial : expected));
        QCOMPARE(g_log, QStringList());
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
        NetworkProfileStore store(m_folder, [] { return kNow; });
        store.setProfiles(profiles);
        for (const NetworkProfile& p : store.sortedByMostRecent())
            sorted << p.name;
        QCOMPARE(sorted, expected);
        // Of the entries used last, the later in stored order.
        QCOMPARE(store.mostRecentProfile()->name, u"38"_s);
        store.setProfiles({});
        QVERIFY(!store.mostRecentProfile());
        // The clock counts seconds from 2001, as other writers of the file do.
        QVERIFY(qAbs(NetworkProfileStore::currentTime() + 978307200.0 -
                     QDateTime::currentSecsSinceEpoch()) < 60);
    }

    void troubleOnDisk_data() {
        QTest::addColumn<QString>("blocker");   // under the home folder; a folder if it ends in /
        QTest::addColumn<QString>("folder");    // the store's, under the home folder
        QTest::addColumn<bool>("readable");     // the blocker, for its user
        QTest::addColumn<QString>("kept");      // where the blocker is kept aside, if anywhere
        QTest::addColumn<QStringList>("lines"); // %1: the home folder

        const QString store = u".local/share/FernPoint"_s;
        const QString file = store + u"/networks.json"_s;
        const QString copy = file + u".corrupt-20240510-021320"_s; // the clock's time, in UTC
        const QString kept = u" (kept as %1/"_s;
        const QString notAFolder = kSaveFailed + u"Not a directory"_s;
        const QString isAFolder = kSaveFailed + u"Filename refers to a directory"_s;
        QTest::newRow("not a list of entries, two copies of that second exist")
            << file << store << true << copy + u"-3"_s
            << QStringList{kLoadFailed + u"entry 0 is not an object"_s + kept + copy + u"-3)"_s};
        // It cannot be copied, but it can still be moved out of the way of the next save.
        QTest::newRow("unreadable for its user")
            << file << store << false << copy
            << QStringList{kLoadFailed + u"Permission denied"_s + kept + copy + u')'};
        // Left alone, and each change tries again; memory stays the master copy.
        QTest::newRow("a file where a parent folder should be")
            << u"blocker"_s << u"blocker/share/FernPoint"_s << true << QString()
            << QStringList{
                   u"❌ [NetworkProfileStore] create dir failed: %1/blocker/share: Not a directory"_s,
                   notAFolder, notAFolder};
        // A folder cannot be overwritten by a save, so nothing is copied aside.
        QTest::newRow("a folder where the file should be")
            << file + u'/' << store << true << QString()
            << QStringList{kLoadFailed + u"file to open is a directory"_s, isAFolder, isAFolder};
    }
    void troubleOnDisk() {
        // Refused for root too.
        QFETCH(QString, blocker);
        QFETCH(QString, folder);
        QFETCH(bool, readable);
        QFETCH(QString, kept);
        QFETCH(QStringList, lines);
        const QDir home(m_home->path());
        const QString blockerPath = home.filePath(blocker);
        const QByteArray content = "[1]";
        if (blocker.endsWith(u'/'))
            QVERIFY(home.mkpath(blocker));
        else
            QVERIFY(home.mkpath(QFileInfo(blockerPath).path()) && writeFile(blockerPath, content));
        if (kept.endsWith(u"-3"_s)) // two copies were made earlier that second
            for (const QString& earlier : {kept.chopped(2), kept.chopped(1) + u'2'})
                QVERIFY(writeFile(home.filePath(earlier), "earlier"));
        QVERIFY(readable || (QFile::setPermissions(blockerPath, {}) && setReadOverride(false)));
        NetworkProfileStore store(home.filePath(folder), [] { return kNow; });
        QVERIFY(setReadOverride(true));
        for (const QString& id : {kId, kOtherId}) { // flushed one by one: one line each
            store.upsertProfile(id, std::nullopt, std::nullopt);
            store.flush();
        }
        QCOMPARE(store.profiles().size(), 2);
        QCOMPARE(g_log, lines.replaceInStrings(u"%1"_s, home.path()));
        if (!blocker.endsWith(u'/'))
            QCOMPARE(readFile(kept.isEmpty() ? blockerPath : home.filePath(kept)), content);
        if (!kept.isEmpty())
            QCOMPARE(readFile(blockerPath), encodeProfiles(store.profiles()));
    }

    void changesNeverWaitForASlowSave() {
        // The first save hangs, as on a stalled network home folder, until the test lets it go.
        QSemaphore hanging;
        QAtomicInt saves;
        auto store = std::make_unique<NetworkProfileStore>(
            m_folder, [] { return kNow; },
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
};

QTEST_GUILESS_MAIN(TestNetworkProfileStore)
#include "tst_NetworkProfileStore.moc"
