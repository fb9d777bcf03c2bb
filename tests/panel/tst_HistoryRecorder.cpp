#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "HistoryRecorder.h"
#include "NetworkProfileStore.h"
#include "PanelTestSupport.h"
#include "PrivateBus.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace fernpoint;
using fernpoint::test::FakeHelperClient;

namespace {

const QString kId = QStringLiteral("8056c2e21c000001");

struct Recording {
    Recording()
        : store(home.dataHome() + QStringLiteral("/FernPoint"), [this] { return now += 1.0; }) {}

    fernpoint::test::TemporaryHome home;
    double now = 1000.0;
    NetworkProfileStore store;
    FakeHelperClient client;
    GatewayManager manager{client};

    bool publish(const QJsonObject& data) {
        return fernpoint::test::publishData(manager, client, data);
    }
    QJsonArray file() const {
        QFile file(store.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).array();
    }
};

QJsonObject named(const QString& name, const QString& desc) {
    return QJsonObject{{QStringLiteral("conn_state"), QStringLiteral("connected")},
                       {QStringLiteral("network_name"), name},
                       {QStringLiteral("network_desc"), desc}};
}

} // namespace

class HistoryRecorderTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void recordsTheIdAsTheWindowCountsIt_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("recorded"); // empty: nothing recorded

        QTest::newRow("as typed") << kId << kId;
        QTest::newRow("spaces around") << QStringLiteral("  ") + kId + QStringLiteral(" ") << kId;
        QTest::newRow("tabs and a no-break space around")
            << QStringLiteral("\t") + kId + QStringLiteral("\u00a0\t") << kId;
        QTest::newRow("not hexadecimal")
            << QStringLiteral("ZZZZ-network-id!") << QStringLiteral("ZZZZ-network-id!");
        QTest::newRow("15 characters") << kId.left(15) << QString();
        QTest::newRow("17 characters") << kId + QStringLiteral("0") << QString();
        QTest::newRow("trailing line break") << kId + QStringLiteral("\n") << QString();
        // 16 by the window's count, but the store trims the break and counts 15.
        QTest::newRow("leading line break and 15")
            << QStringLiteral("\n") + kId.left(15) << QString();
        QTest::newRow("16 graphemes, 17 code units")
            << QStringLiteral("e\u0301") + kId.left(15) << QStringLiteral("e\u0301") + kId.left(15);
        QTest::newRow("empty") << QString() << QString();
    }
    void recordsTheIdAsTheWindowCountsIt() {
        QFETCH(QString, typed);
        QFETCH(QString, recorded);

        Recording r;
        HistoryRecorder recorder(r.manager, r.store);
        r.manager.setNetworkID(typed);
        QVERIFY(r.publish(named(QStringLiteral("Lab"), QStringLiteral("Bench"))));

        if (recorded.isEmpty()) {
            QVERIFY(r.store.profiles().isEmpty());
            QVERIFY(!QFile::exists(r.store.filePath()));
            return;
        }
        QCOMPARE(r.store.profiles().size(), 1);
        QCOMPARE(r.store.profiles().first().networkID, recorded);
        QCOMPARE(r.store.profiles().first().name, QStringLiteral("Lab"));
        QCOMPARE(r.store.profiles().first().desc, QStringLiteral("Bench"));
        // The field itself is left as typed.
        QCOMPARE(r.manager.networkID(), typed);
        QCOMPARE(r.file().size(), 1);
    }

    void everyPublishedSnapshotIsRecorded_data() {
        QTest::addColumn<QList<std::optional<QJsonObject>>>("snapshots"); // absent: reply w/o JSON
        QTest::addColumn<int>("saves");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("desc");

        using S = std::optional<QJsonObject>;
        QTest::newRow("name and description learned")
            << QList<S>{named(QStringLiteral("Harbor"), QStringLiteral("Uplink"))} << 1
            << QStringLiteral("Harbor") << QStringLiteral("Uplink");
        QTest::newRow("a snapshot without them keeps the stored ones")
            << QList<S>{named(QStringLiteral("Harbor"), QStringLiteral("Uplink")), QJsonObject()}
            << 2 << QStringLiteral("Harbor") << QStringLiteral("Uplink");
        QTest::newRow("a new name replaces the old")
            << QList<S>{named(QStringLiteral("Harbor"), QStringLiteral("Uplink")),
                        named(QStringLiteral("Quay"), QString())}
            << 2 << QStringLiteral("Quay") << QStringLiteral("Uplink");
        QTest::newRow("no snapshot records nothing")
            << QList<S>{S(), S()} << 0 << QString() << QString();
        QTest::newRow("only the snapshots count")
            << QList<S>{S(), QJsonObject(), S(), QJsonObject()} << 2 << QString() << QString();
    }
    void everyPublishedSnapshotIsRecorded() {
        QFETCH(QList<std::optional<QJsonObject>>, snapshots);
        QFETCH(int, saves);
        QFETCH(QString, name);
        QFETCH(QString, desc);

        Recording r;
        HistoryRecorder recorder(r.manager, r.store);
        r.manager.setNetworkID(kId);
        QSignalSpy changes(&r.store, &NetworkProfileStore::profilesChanged);
        double lastUsed = 0.0;
        for (const std::optional<QJsonObject>& snapshot : snapshots) {
            if (snapshot)
                QVERIFY(r.publish(*snapshot));
            else
                QVERIFY(fernpoint::test::publishStatus(r.manager, r.client,
                                                       std::optional<QString>(), true));
            if (!r.store.profiles().isEmpty()) {
                // Each recording moves the entry's time forward.
                QVERIFY(r.store.profiles().first().lastUsedAt >= lastUsed);
                lastUsed = r.store.profiles().first().lastUsedAt;
            }
        }

        QCOMPARE(changes.count(), saves);
        QCOMPARE(r.store.profiles().size(), saves > 0 ? 1 : 0);
        if (saves > 0) {
            QCOMPARE(r.store.profiles().first().name, name);
            QCOMPARE(r.store.profiles().first().desc, desc);
            const QJsonObject stored = r.file().first().toObject();
            QCOMPARE(stored.value(QStringLiteral("name")).toString(), name);
            QCOMPARE(stored.value(QStringLiteral("desc")).toString(), desc);
        }
    }

    void theCurrentSnapshotIsRecordedOnceAtConstruction_data() {
        QTest::addColumn<bool>("snapshotBefore");
        QTest::addColumn<int>("saves");

        QTest::newRow("snapshot already published") << true << 1;
        QTest::newRow("no snapshot yet") << false << 0;
    }
    void theCurrentSnapshotIsRecordedOnceAtConstruction() {
        QFETCH(bool, snapshotBefore);
        QFETCH(int, saves);

        Recording r;
        r.manager.setNetworkID(kId);
        if (snapshotBefore)
            QVERIFY(r.publish(named(QStringLiteral("Harbor"), QString())));
        QVERIFY(r.store.profiles().isEmpty());

        QSignalSpy changes(&r.store, &NetworkProfileStore::profilesChanged);
        HistoryRecorder recorder(r.manager, r.store);
        QCOMPARE(changes.count(), saves);
        // Nothing more until the next snapshot, and then exactly one more.
        QTest::qWait(20);
        QCOMPARE(changes.count(), saves);
        QVERIFY(r.publish(QJsonObject()));
        QCOMPARE(changes.count(), saves + 1);
    }

    void stopsWithTheRecorder() {
        Recording r;
        r.manager.setNetworkID(kId);
        QSignalSpy changes(&r.store, &NetworkProfileStore::profilesChanged);
        {
            HistoryRecorder recorder(r.manager, r.store);
            QVERIFY(r.publish(QJsonObject()));
        }
        QVERIFY(r.publish(QJsonObject()));
        QCOMPARE(changes.count(), 1);
    }
};

QTEST_MAIN(HistoryRecorderTest)
#include "tst_HistoryRecorder.moc"
