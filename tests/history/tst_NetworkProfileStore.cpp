#include "NetworkProfileCodec.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

using namespace fernpoint;
using fernpoint::test::TemporaryHome;

Q_DECLARE_METATYPE(fernpoint::NetworkProfile)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString kId = QStringLiteral("0123456789abcdef");
const QString kOtherId = QStringLiteral("fedcba9876543210");
const QString kSaveFailed = QStringLiteral("❌ [NetworkProfileStore] saveToDisk failed: ");
const QString kLoadFailed = QStringLiteral("⚠️ [NetworkProfileStore] loadFromDisk failed: ");
const QString kCreateFailed = QStringLiteral("❌ [NetworkProfileStore] create dir failed: ");

// Every line logged while it lives; anything but a plain warning is marked.
class LogCapture {
public:
    LogCapture() {
        s_lines = &lines;
        m_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context,
                                               const QString& message) {
            const bool plain = type == QtWarningMsg && qstrcmp(context.category, "default") == 0;
            s_lines->append(plain ? message : QStringLiteral("<unexpected> ") + message);
        });
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QStringList lines;

private:
    static inline QStringList* s_lines = nullptr;
    QtMessageHandler m_previous = nullptr;
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

} // namespace

class TestNetworkProfileStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void userStoreLivesInTheDataFolder();
    void upsert_data();
    void upsert();
    void mostRecent_data();
    void mostRecent();
    void readableFileIsRewrittenAtOnce();
    void unreadableFileIsKeptAside_data();
    void unreadableFileIsKeptAside();
    void somethingInTheWay_data();
    void somethingInTheWay();
    void slowSavesNeitherStallNorLoseTheLastChange();

private:
    std::unique_ptr<NetworkProfileStore> openStore() {
        return std::make_unique<NetworkProfileStore>(m_folder, [] { return kNow; });
    }
    QString filePath() const { return m_folder + QStringLiteral("/networks.json"); }

    static constexpr double kNow = 737000000.25; // 2024-05-10 02:13:20.25 UTC
    std::unique_ptr<TemporaryHome> m_home;
    QString m_folder;
};

void TestNetworkProfileStore::init() {
    m_home = std::make_unique<TemporaryHome>();
    m_folder = m_home->dataHome() + QStringLiteral("/FernPoint");
}

void TestNetworkProfileStore::userStoreLivesInTheDataFolder() {
    LogCapture log;
    NetworkProfileStore store;
    QCOMPARE(store.filePath(), m_folder + QStringLiteral("/networks.json"));
    QVERIFY(QFileInfo(m_folder).isDir());
    // A missing file stays missing until the first change.
    QVERIFY(!QFileInfo::exists(store.filePath()));
    QVERIFY(store.profiles().isEmpty());

    // The real clock counts from 2001: a recent time is well past 700 million seconds.
    const double before = NetworkProfileStore::currentTime();
    store.upsertProfile(kId, std::nullopt, std::nullopt);
    store.flush();
    QVERIFY(before > 700000000.0 && store.profiles().first().lastUsedAt >= before);
    QCOMPARE(decodeProfiles(readFile(store.filePath())).profiles, store.profiles());
    QVERIFY(log.lines.isEmpty());
}

void TestNetworkProfileStore::upsert_data() {
    QTest::addColumn<QList<NetworkProfile>>("initial");
    QTest::addColumn<QString>("id");
    QTest::addColumn<std::optional<QString>>("name");
    QTest::addColumn<std::optional<QString>>("desc");
    QTest::addColumn<QList<NetworkProfile>>("expected"); // empty: ignored, nothing changes

    const std::optional<QString> none;
    const auto text = [](const char* s) { return std::optional<QString>(QString::fromUtf8(s)); };
    const NetworkProfile lab{kId, QStringLiteral("Lab"), QStringLiteral("Second floor"), 100.0};
    const NetworkProfile other{kOtherId, QStringLiteral("Other"), QString(), 200.0};
    const QString accented = QStringLiteral("e\u0301").repeated(16);
    using List = QList<NetworkProfile>;

    QTest::newRow("new, blanks and line break trimmed")
        << List{} << QStringLiteral("  ") + kId + QStringLiteral("\n") << none << none
        << List{{kId, QString(), QString(), kNow}};
    QTest::newRow("new, name and description trimmed")
        << List{other} << kId << text(" Lab \t") << text("\nSecond floor\u3000")
        << List{other, {kId, QStringLiteral("Lab"), QStringLiteral("Second floor"), kNow}};
    QTest::newRow("existing, name absent keeps name and place")
        << List{lab, other} << kId << none << none << List{{kId, lab.name, lab.desc, kNow}, other};
    QTest::newRow("existing, blank name kept, new description replaces")
        << List{other, lab} << kId << text("   ") << text("Roof")
        << List{other, {kId, lab.name, QStringLiteral("Roof"), kNow}};
    QTest::newRow("existing, new name replaces, empty description kept")
        << List{lab} << QStringLiteral("\t") + kId << text("Lab 2") << text("")
        << List{{kId, QStringLiteral("Lab 2"), lab.desc, kNow}};
    QTest::newRow("upper and lower case are two networks")
        << List{lab} << kId.toUpper() << none << none
        << List{lab, {kId.toUpper(), QString(), QString(), kNow}};
    QTest::newRow("first of two equal IDs from the file is the one updated")
        << List{lab, other, lab} << kId << text("New") << none
        << List{{kId, QStringLiteral("New"), lab.desc, kNow}, other, lab};
    QTest::newRow("16 accented letters (32 code units) accepted")
        << List{} << accented << none << none << List{{accented, QString(), QString(), kNow}};
    QTest::newRow("15 ignored") << List{lab} << kId.left(15) << text("X") << none << List{};
    QTest::newRow("15 after trimming a no-break space ignored")
        << List{} << kId.left(15) + QStringLiteral("\u00A0") << none << none << List{};
}

void TestNetworkProfileStore::upsert() {
    QFETCH(QList<NetworkProfile>, initial);
    QFETCH(QString, id);
    QFETCH(std::optional<QString>, name);
    QFETCH(std::optional<QString>, desc);
    QFETCH(QList<NetworkProfile>, expected);

    QDir().mkpath(m_folder);
    if (!initial.isEmpty())
        writeFile(filePath(), encodeProfiles(initial));
    LogCapture log;
    auto store = openStore();
    QCOMPARE(store->profiles(), initial);
    const QByteArray fileBefore = readFile(filePath());
    QSignalSpy changed(store.get(), &NetworkProfileStore::profilesChanged);

    store->upsertProfile(id, name, desc);
    store->flush();

    const bool ignored = expected.isEmpty();
    QCOMPARE(store->profiles(), ignored ? initial : expected);
    QCOMPARE(changed.count(), ignored ? 0 : 1);
    QCOMPARE(readFile(filePath()), ignored ? fileBefore : encodeProfiles(expected));
    QCOMPARE(log.lines, QStringList());
}

void TestNetworkProfileStore::mostRecent_data() {
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<int>("mostRecent"); // index in stored order, -1: none
    QTest::addColumn<QList<int>>("newestFirst");

    QTest::newRow("empty") << QList<double>{} << -1 << QList<int>{};
    QTest::newRow("latest in the middle") << QList<double>{1, 9, 3} << 1 << QList<int>{1, 2, 0};
    QTest::newRow("tie: later in stored order wins, sorting keeps stored order")
        << QList<double>{4, 7, 2, 7} << 3 << QList<int>{1, 3, 0, 2};
}

void TestNetworkProfileStore::mostRecent() {
    QFETCH(QList<double>, times);
    QFETCH(int, mostRecent);
    QFETCH(QList<int>, newestFirst);

    QList<NetworkProfile> profiles;
    for (qsizetype i = 0; i < times.size(); ++i)
        profiles.append({QStringLiteral("%1").arg(i, 16, 10, QLatin1Char('0')), QString::number(i),
                         QString(), times.at(i)});
    auto store = openStore();
    store->setProfiles(profiles);

    QCOMPARE(store->mostRecentProfile(),
             mostRecent < 0 ? std::nullopt : std::optional(profiles.at(mostRecent)));
    QList<int> order;
    for (const NetworkProfile& p : store->sortedByMostRecent())
        order.append(p.name.toInt());
    QCOMPARE(order, newestFirst);
    QCOMPARE(store->profiles(), profiles); // sorting never touches the stored order
}

void TestNetworkProfileStore::readableFileIsRewrittenAtOnce() {
    QDir().mkpath(m_folder);
    writeFile(filePath(),
              "[\n {\"networkID\": \"0123456789abcdef\", \"name\": \"Lab\", \"desc\": \"\",\n"
              "  \"lastUsedAt\": 244855963.33333334, \"extra\": [1, 2]}\n]\n");
    LogCapture log;
    auto store = openStore();
    store->flush();
    QCOMPARE(store->profiles(),
             (QList<NetworkProfile>{{kId, QStringLiteral("Lab"), QString(), 244855963.33333334}}));
    QCOMPARE(readFile(filePath()),
             QByteArray("[{\"desc\":\"\",\"lastUsedAt\":244855963.33333334,"
                        "\"name\":\"Lab\",\"networkID\":\"0123456789abcdef\"}]"));
    QCOMPARE(log.lines, QStringList());
}

void TestNetworkProfileStore::unreadableFileIsKeptAside_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("copiesAlready"); // earlier copies with the same time stamp

    QTest::newRow("empty file") << QByteArray() << QStringLiteral("not JSON: illegal value") << 0;
    QTest::newRow("a copy of that second exists")
        << QByteArray("{\"oops") << QStringLiteral("not JSON: unterminated string") << 1;
    QTest::newRow("two copies of that second exist")
        << QByteArray("x") << QStringLiteral("not JSON: illegal value") << 2;
}

void TestNetworkProfileStore::unreadableFileIsKeptAside() {
    QFETCH(QByteArray, content);
    QFETCH(QString, description);
    QFETCH(int, copiesAlready);

    QDir().mkpath(m_folder);
    writeFile(filePath(), content);
    // The clock's time, in UTC (the tests run in UTC).
    const QString base = filePath() + QStringLiteral(".corrupt-20240510-021320");
    const QStringList earlier{base, base + QStringLiteral("-2")};
    for (int i = 0; i < copiesAlready; ++i)
        writeFile(earlier.at(i), "earlier");
    const QString kept =
        copiesAlready == 0 ? base : base + QStringLiteral("-%1").arg(copiesAlready + 1);

    LogCapture log;
    auto store = openStore();
    QCOMPARE(log.lines, QStringList{kLoadFailed + description + QStringLiteral(" (kept as ") +
                                    kept + QLatin1Char(')')});
    QVERIFY(store->profiles().isEmpty());
    QCOMPARE(readFile(kept), content);
    QCOMPARE(readFile(filePath()), content); // untouched until the next change
    for (int i = 0; i < copiesAlready; ++i)
        QCOMPARE(readFile(earlier.at(i)), QByteArray("earlier"));

    store->upsertProfile(kOtherId, std::nullopt, std::nullopt);
    store->flush();
    QCOMPARE(decodeProfiles(readFile(filePath())).profiles,
             (QList<NetworkProfile>{{kOtherId, QString(), QString(), kNow}}));
    QCOMPARE(readFile(kept), content);
    QCOMPARE(log.lines.size(), 1);
}

void TestNetworkProfileStore::somethingInTheWay_data() {
    QTest::addColumn<QString>("blocker"); // under the home folder
    QTest::addColumn<QString>("folder");  // the store's, under the home folder
    QTest::addColumn<QStringList>("lines");

    const QString notAFolder = kSaveFailed + QStringLiteral("Not a directory");
    QTest::newRow("a file where a parent folder should be")
        << QStringLiteral("blocker") << QStringLiteral("blocker/share/FernPoint")
        << QStringList{kCreateFailed + QStringLiteral("%1/blocker/share: Not a directory"),
                       notAFolder, notAFolder};
    QTest::newRow("a file where the folder should be")
        << QStringLiteral(".local/share/FernPoint") << QStringLiteral(".local/share/FernPoint")
        << QStringList{notAFolder, notAFolder};
    // A folder cannot be overwritten by a save, so nothing is copied aside.
    const QString isAFolder = kSaveFailed + QStringLiteral("Filename refers to a directory");
    QTest::newRow("a folder where the file should be")
        << QStringLiteral(".local/share/FernPoint/networks.json")
        << QStringLiteral(".local/share/FernPoint")
        << QStringList{kLoadFailed + QStringLiteral("file to open is a directory"), isAFolder,
                       isAFolder};
}

void TestNetworkProfileStore::somethingInTheWay() {
    // Refused for root too. Whatever is in the way is left alone, and each change tries again.
    QFETCH(QString, blocker);
    QFETCH(QString, folder);
    QFETCH(QStringList, lines);
    const QDir home(m_home->path());
    const bool blockerIsFolder = blocker.endsWith(QStringLiteral(".json"));
    QVERIFY(home.mkpath(blockerIsFolder ? blocker : QStringLiteral(".local/share")));
    if (!blockerIsFolder)
        writeFile(home.filePath(blocker), "in the way");

    LogCapture log;
    NetworkProfileStore store(home.filePath(folder), [] { return kNow; });
    // One failure line per change (flushed one by one; unflushed changes may share a save).
    for (const QString& id : {kId, kOtherId}) {
        store.upsertProfile(id, std::nullopt, std::nullopt);
        store.flush();
    }
    QCOMPARE(store.profiles().size(), 2); // memory stays the master copy
    QCOMPARE(log.lines, lines.replaceInStrings(QStringLiteral("%1"), m_home->path()));
    if (blockerIsFolder)
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    else
        QCOMPARE(readFile(home.filePath(blocker)), QByteArray("in the way"));
}

void TestNetworkProfileStore::slowSavesNeitherStallNorLoseTheLastChange() {
    // Every save takes 2 s, as on a stalled network home folder.
    QAtomicInt saves;
    auto store = std::make_unique<NetworkProfileStore>(
        m_folder, [] { return kNow; },
        [&saves](const QString& path, const QByteArray& content) {
            saves.ref();
            QThread::sleep(2);
            return replaceFileAtomically(path, content);
        });
    QSignalSpy changed(store.get(), &NetworkProfileStore::profilesChanged);
    const QList<NetworkProfile> two{{kId, QString(), QString(), 1.0},
                                    {kOtherId, QString(), QString(), 2.0}};
    // Each change returns at once and the event loop goes on answering while the file waits.
    const std::function<void()> changes[] = {
        [&] { store->setProfiles(two); }, [&] { store->removeAt(5); }, [&] { store->removeAt(-1); },
        [&] { store->removeAt(0); },
        [&] { store->upsertProfile(kId, QStringLiteral("Lab"), std::nullopt); }};
    for (const auto& change : changes) {
        QElapsedTimer clock;
        clock.start();
        change();
        bool answered = false;
        QTimer::singleShot(0, this, [&answered] { answered = true; });
        QVERIFY(QTest::qWaitFor([&answered] { return answered; }, 1000));
        QVERIFY2(clock.elapsed() < 50, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(saves.loadRelaxed(), 1); // the later changes come while it saves
    }
    QCOMPARE(changed.count(), 3); // out-of-range removals change nothing

    // Going away waits for the last change; the ones in between were never written.
    store.reset();
    const QList<NetworkProfile> last{two.at(1), {kId, QStringLiteral("Lab"), QString(), kNow}};
    QCOMPARE(readFile(filePath()), encodeProfiles(last));
    QCOMPARE(saves.loadRelaxed(), 2);
}

QTEST_GUILESS_MAIN(TestNetworkProfileStore)
#include "tst_NetworkProfileStore.moc"
