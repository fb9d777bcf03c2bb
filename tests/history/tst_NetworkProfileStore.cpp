#include "NetworkProfileCodec.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace fernpoint;
using fernpoint::test::TemporaryHome;

Q_DECLARE_METATYPE(fernpoint::NetworkProfile)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString kId = QStringLiteral("0123456789abcdef");
const QString kOtherId = QStringLiteral("fedcba9876543210");

// Every line the store logs, with its level, for as long as it lives.
class LogCapture {
public:
    LogCapture() {
        s_lines = &lines;
        m_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (type == QtWarningMsg && qstrcmp(context.category, "default") == 0)
                    s_lines->append(message);
                else
                    s_lines->append(QStringLiteral("<unexpected> ") + message);
            });
    }
    ~LogCapture() {
        qInstallMessageHandler(m_previous);
        s_lines = nullptr;
    }
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
    void cleanup();

    void userStoreLivesInTheDataFolder();
    void upsert_data();
    void upsert();
    void mostRecent_data();
    void mostRecent();
    void readableFileIsRewrittenAtOnce();
    void unreadableFileIsKeptAside_data();
    void unreadableFileIsKeptAside();
    void folderThatCannotBeCreated();
    void fileInTheWayOfTheFolder();
    void historyFileReplacedByAFolder();
    void changesNotifyThenSave();

private:
    std::unique_ptr<NetworkProfileStore> openStore() {
        return std::make_unique<NetworkProfileStore>(m_folder, [this] { return m_now; });
    }
    QString filePath() const { return m_folder + QStringLiteral("/networks.json"); }

    std::unique_ptr<TemporaryHome> m_home;
    QString m_folder;
    double m_now = 0.0;
};

void TestNetworkProfileStore::init() {
    m_home = std::make_unique<TemporaryHome>();
    m_folder = m_home->dataHome() + QStringLiteral("/FernPoint");
    m_now = 737000000.25; // 2024-05-10 02:13:20.25 UTC
}

void TestNetworkProfileStore::cleanup() {
    m_home.reset();
}

void TestNetworkProfileStore::userStoreLivesInTheDataFolder() {
    LogCapture log;
    NetworkProfileStore store;
    QCOMPARE(store.filePath(), m_home->dataHome() + QStringLiteral("/FernPoint/networks.json"));
    QVERIFY(QFileInfo(m_folder).isDir());
    // A missing file stays missing until the first change.
    QVERIFY(!QFileInfo::exists(store.filePath()));
    QVERIFY(store.profiles().isEmpty());
    QVERIFY(log.lines.isEmpty());

    const double before = NetworkProfileStore::currentTime();
    store.upsertProfile(kId, std::nullopt, std::nullopt);
    QCOMPARE(store.profiles().size(), 1);
    // The real clock counts from 2001: a recent time is well past 700 million seconds.
    QVERIFY(store.profiles().first().lastUsedAt >= before);
    QVERIFY(before > 700000000.0);
    QCOMPARE(decodeProfiles(readFile(store.filePath())).profiles, store.profiles());
}

void TestNetworkProfileStore::upsert_data() {
    QTest::addColumn<QList<NetworkProfile>>("initial");
    QTest::addColumn<QString>("id");
    QTest::addColumn<std::optional<QString>>("name");
    QTest::addColumn<std::optional<QString>>("desc");
    QTest::addColumn<QList<NetworkProfile>>("expected"); // empty together with "initial": ignored

    const double now = 737000000.25;
    const std::optional<QString> none;
    const auto text = [](const char* s) { return std::optional<QString>(QString::fromUtf8(s)); };
    const NetworkProfile lab{kId, QStringLiteral("Lab"), QStringLiteral("Second floor"), 100.0};
    const NetworkProfile other{kOtherId, QStringLiteral("Other"), QString(), 200.0};

    QTest::newRow("new, blanks and line break trimmed")
        << QList<NetworkProfile>{} << QStringLiteral("  ") + kId + QStringLiteral("\n") << none
        << none << QList<NetworkProfile>{{kId, QString(), QString(), now}};
    QTest::newRow("new, name and description trimmed")
        << QList<NetworkProfile>{other} << kId << text(" Lab \t") << text("\nSecond floor\u3000")
        << QList<NetworkProfile>{other,
                                 {kId, QStringLiteral("Lab"), QStringLiteral("Second floor"), now}};
    QTest::newRow("existing, name absent keeps name and place")
        << QList<NetworkProfile>{lab, other} << kId << none << none
        << QList<NetworkProfile>{{kId, lab.name, lab.desc, now}, other};
    QTest::newRow("existing, blank name kept, new description replaces")
        << QList<NetworkProfile>{other, lab} << kId << text("   ") << text("Roof")
        << QList<NetworkProfile>{other, {kId, lab.name, QStringLiteral("Roof"), now}};
    QTest::newRow("existing, new name replaces")
        << QList<NetworkProfile>{lab} << QStringLiteral("\t") + kId << text("Lab 2") << text("")
        << QList<NetworkProfile>{{kId, QStringLiteral("Lab 2"), lab.desc, now}};
    QTest::newRow("upper and lower case are two networks")
        << QList<NetworkProfile>{lab} << kId.toUpper() << none << none
        << QList<NetworkProfile>{lab, {kId.toUpper(), QString(), QString(), now}};
    QTest::newRow("first of two equal IDs from the file is the one updated")
        << QList<NetworkProfile>{lab, other, lab} << kId << text("New") << none
        << QList<NetworkProfile>{{kId, QStringLiteral("New"), lab.desc, now}, other, lab};
    QTest::newRow("16 non-hex characters accepted")
        << QList<NetworkProfile>{} << QStringLiteral("zzzzzzzzzzzzzzzz") << none << none
        << QList<NetworkProfile>{{QStringLiteral("zzzzzzzzzzzzzzzz"), QString(), QString(), now}};
    QTest::newRow("16 accented letters accepted")
        << QList<NetworkProfile>{} << QStringLiteral("e\u0301").repeated(16) << none << none
        << QList<NetworkProfile>{
               {QStringLiteral("e\u0301").repeated(16), QString(), QString(), now}};

    QTest::newRow("15 ignored") << QList<NetworkProfile>{lab} << kId.left(15) << text("X") << none
                                << QList<NetworkProfile>{};
    QTest::newRow("17 ignored") << QList<NetworkProfile>{lab} << kId + QStringLiteral("0") << none
                                << none << QList<NetworkProfile>{};
    QTest::newRow("15 after trimming a no-break space ignored")
        << QList<NetworkProfile>{} << kId.left(15) + QStringLiteral("\u00A0") << none << none
        << QList<NetworkProfile>{};
    QTest::newRow("empty ignored")
        << QList<NetworkProfile>{} << QString() << none << none << QList<NetworkProfile>{};
}

void TestNetworkProfileStore::upsert() {
    QFETCH(QList<NetworkProfile>, initial);
    QFETCH(QString, id);
    QFETCH(std::optional<QString>, name);
    QFETCH(std::optional<QString>, desc);
    QFETCH(QList<NetworkProfile>, expected);

    QVERIFY(QDir().mkpath(m_folder));
    if (!initial.isEmpty())
        writeFile(filePath(), encodeProfiles(initial));
    LogCapture log;
    auto store = openStore();
    QCOMPARE(store->profiles(), initial);
    const QByteArray fileBefore = readFile(filePath());
    QSignalSpy changed(store.get(), &NetworkProfileStore::profilesChanged);

    store->upsertProfile(id, name, desc);

    if (expected.isEmpty()) {
        QCOMPARE(store->profiles(), initial);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(readFile(filePath()), fileBefore);
        QCOMPARE(QFileInfo::exists(filePath()), !initial.isEmpty());
    } else {
        QCOMPARE(store->profiles(), expected);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(readFile(filePath()), encodeProfiles(expected));
    }
    QCOMPARE(log.lines, QStringList());
}

void TestNetworkProfileStore::mostRecent_data() {
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<int>("mostRecent"); // index in stored order, -1: none
    QTest::addColumn<QList<int>>("newestFirst");

    QTest::newRow("empty") << QList<double>{} << -1 << QList<int>{};
    QTest::newRow("one") << QList<double>{5} << 0 << QList<int>{0};
    QTest::newRow("latest in the middle") << QList<double>{1, 9, 3} << 1 << QList<int>{1, 2, 0};
    QTest::newRow("tie: later in stored order wins")
        << QList<double>{4, 7, 2, 7} << 3 << QList<int>{1, 3, 0, 2};
    QTest::newRow("all equal") << QList<double>{1, 1, 1} << 2 << QList<int>{0, 1, 2};
    QTest::newRow("fractions and negatives")
        << QList<double>{-1.5, 0.25, 0.125} << 1 << QList<int>{1, 2, 0};
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

    if (mostRecent < 0)
        QCOMPARE(store->mostRecentProfile(), std::nullopt);
    else
        QCOMPARE(store->mostRecentProfile(),
                 std::optional<NetworkProfile>(profiles.at(mostRecent)));
    QList<int> order;
    for (const NetworkProfile& p : store->sortedByMostRecent())
        order.append(p.name.toInt());
    QCOMPARE(order, newestFirst);
    QCOMPARE(store->profiles(), profiles); // sorting never touches the stored order
}

void TestNetworkProfileStore::readableFileIsRewrittenAtOnce() {
    QVERIFY(QDir().mkpath(m_folder));
    writeFile(filePath(),
              "[\n {\"networkID\": \"0123456789abcdef\", \"name\": \"Lab\", \"desc\": \"\",\n"
              "  \"lastUsedAt\": 244855963.33333334, \"extra\": [1, 2]}\n]\n");
    LogCapture log;
    auto store = openStore();
    const QList<NetworkProfile> expected{
        {kId, QStringLiteral("Lab"), QString(), 244855963.33333334}};
    QCOMPARE(store->profiles(), expected);
    QCOMPARE(readFile(filePath()),
             QByteArray("[{\"desc\":\"\",\"lastUsedAt\":244855963.33333334,"
                        "\"name\":\"Lab\",\"networkID\":\"0123456789abcdef\"}]"));
    QCOMPARE(log.lines, QStringList());
}

void TestNetworkProfileStore::unreadableFileIsKeptAside_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("copiesAlready"); // earlier copies with the same time stamp

    QTest::newRow("not JSON") << QByteArray("{\"oops")
                              << QStringLiteral("not JSON: unterminated string") << 0;
    QTest::newRow("desc missing")
        << QByteArray(R"([{"networkID":"0123456789abcdef","name":"Lab","lastUsedAt":1}])")
        << QStringLiteral("entry 0: member \"desc\" is missing") << 0;
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("not JSON: illegal value") << 0;
    QTest::newRow("a copy of that second exists")
        << QByteArray("x") << QStringLiteral("not JSON: illegal value") << 1;
    QTest::newRow("two copies of that second exist")
        << QByteArray("x") << QStringLiteral("not JSON: illegal value") << 2;
}

void TestNetworkProfileStore::unreadableFileIsKeptAside() {
    QFETCH(QByteArray, content);
    QFETCH(QString, description);
    QFETCH(int, copiesAlready);

    QVERIFY(QDir().mkpath(m_folder));
    writeFile(filePath(), content);
    // 737000000.25 s after 2001 is 2024-05-10 02:13:20 UTC (the tests run in UTC).
    const QString base = filePath() + QStringLiteral(".corrupt-20240510-021320");
    QStringList earlier{base, base + QStringLiteral("-2")};
    for (int i = 0; i < copiesAlready; ++i)
        writeFile(earlier.at(i), "earlier");
    const QString kept =
        copiesAlready == 0 ? base : base + QStringLiteral("-%1").arg(copiesAlready + 1);

    LogCapture log;
    auto store = openStore();
    QCOMPARE(log.lines,
             QStringList{QStringLiteral("⚠️ [NetworkProfileStore] loadFromDisk failed: ") +
                         description + QStringLiteral(" (kept as ") + kept + QLatin1Char(')')});
    QVERIFY(store->profiles().isEmpty());
    QCOMPARE(readFile(kept), content);
    QCOMPARE(readFile(filePath()), content); // untouched until the next change
    for (int i = 0; i < copiesAlready; ++i)
        QCOMPARE(readFile(earlier.at(i)), QByteArray("earlier"));

    store->upsertProfile(kOtherId, std::nullopt, std::nullopt);
    const QList<NetworkProfile> onlyNew{{kOtherId, QString(), QString(), m_now}};
    QCOMPARE(decodeProfiles(readFile(filePath())).profiles, onlyNew);
    QCOMPARE(readFile(kept), content);
    QCOMPARE(log.lines.size(), 1);
}

void TestNetworkProfileStore::folderThatCannotBeCreated() {
    // A plain file where a parent folder should be: refused for root too.
    const QString blocker = m_home->path() + QStringLiteral("/blocker");
    writeFile(blocker, "not a folder");
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", (blocker + QStringLiteral("/share")).toUtf8());

    LogCapture log;
    NetworkProfileStore store;
    qputenv("XDG_DATA_HOME", savedDataHome);
    QCOMPARE(log.lines, QStringList{QStringLiteral("❌ [NetworkProfileStore] create dir failed: ") +
                                    blocker + QStringLiteral("/share: Not a directory")});

    store.upsertProfile(kId, QStringLiteral("Lab"), std::nullopt);
    QCOMPARE(store.profiles().size(), 1);
    QCOMPARE(log.lines.size(), 2);
    QCOMPARE(log.lines.at(1),
             QStringLiteral("❌ [NetworkProfileStore] saveToDisk failed: Not a directory"));
}

void TestNetworkProfileStore::fileInTheWayOfTheFolder() {
    QVERIFY(QDir().mkpath(m_home->dataHome()));
    writeFile(m_folder, "in the way");

    LogCapture log;
    auto store = openStore();
    QCOMPARE(log.lines,
             QStringList()); // something exists there: no folder is made, nothing to load

    store->upsertProfile(kId, std::nullopt, std::nullopt);
    store->upsertProfile(kOtherId, std::nullopt, std::nullopt);
    QCOMPARE(store->profiles().size(), 2); // memory stays the master copy
    const QString failed =
        QStringLiteral("❌ [NetworkProfileStore] saveToDisk failed: Not a directory");
    QCOMPARE(log.lines, (QStringList{failed, failed})); // each change tries again
    QCOMPARE(readFile(m_folder), QByteArray("in the way"));
}

void TestNetworkProfileStore::historyFileReplacedByAFolder() {
    QVERIFY(QDir().mkpath(filePath()));
    LogCapture log;
    auto store = openStore();
    // A folder cannot be overwritten by a save, so nothing is copied aside.
    QCOMPARE(log.lines,
             QStringList{QStringLiteral(
                 "⚠️ [NetworkProfileStore] loadFromDisk failed: file to open is a directory")});

    store->upsertProfile(kId, std::nullopt, std::nullopt);
    QCOMPARE(store->profiles().size(), 1);
    QCOMPARE(log.lines.size(), 2);
    QCOMPARE(log.lines.at(1),
             QStringLiteral(
                 "❌ [NetworkProfileStore] saveToDisk failed: Filename refers to a directory"));
    QVERIFY(QFileInfo(filePath()).isDir());
    QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestNetworkProfileStore::changesNotifyThenSave() {
    auto store = openStore();
    const QList<NetworkProfile> two{{kId, QString(), QString(), 1.0},
                                    {kOtherId, QString(), QString(), 2.0}};

    QStringList seenOnNotify;
    connect(store.get(), &NetworkProfileStore::profilesChanged, this, [&] {
        seenOnNotify << QString::fromUtf8(QFileInfo::exists(filePath()) ? readFile(filePath())
                                                                        : "<none>");
    });
    store->setProfiles(two);
    QCOMPARE(readFile(filePath()), encodeProfiles(two));
    store->removeAt(5);
    store->removeAt(-1);
    store->removeAt(0);
    QCOMPARE(store->profiles(), QList<NetworkProfile>{two.at(1)});
    store->removeAt(0);
    QCOMPARE(readFile(filePath()), QByteArray("[]"));

    // Observers hear of each change before the file follows it; out-of-range removals are no
    // changes.
    QCOMPARE(seenOnNotify,
             (QStringList{QStringLiteral("<none>"), QString::fromUtf8(encodeProfiles(two)),
                          QString::fromUtf8(encodeProfiles({two.at(1)}))}));
}

QTEST_GUILESS_MAIN(TestNetworkProfileStore)
#include "tst_NetworkProfileStore.moc"
