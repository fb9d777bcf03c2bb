#include "HistoryRecorder.h"
#include "NetworkProfileStore.h"
#include "PanelTestSupport.h"
#include "PrivateBus.h"

#include <QFile>
#include <QJsonArray>

using namespace fernpoint;

namespace {

const QString kId = QStringLiteral("8056c2e21c000001");

struct Recording {
    test::TemporaryHome home;
    double now = 1000.0;
    NetworkProfileStore store{home.dataHome() + QStringLiteral("/FernPoint"),
                              [this] { return now += 1.0; }};
    test::FakeHelperClient client;
    GatewayManager manager{client};

    // A snapshot with these fields, or (nullopt) a reply without a snapshot.
    bool publish(const std::optional<QJsonObject>& data = QJsonObject()) {
        return data ? test::publishData(manager, client, *data)
                    : test::publishStatus(manager, client, std::nullopt, true);
    }
    QJsonArray file() const {
        store.flush();
        QFile file(store.filePath());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).array()
                                              : QJsonArray();
    }
};

QJsonObject named(const QString& name, const QString& desc = {}) {
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
        QTest::newRow("15 characters") << kId.left(15) << QString();
        QTest::newRow("trailing line break") << kId + QStringLiteral("\n") << QString();
        // 16 by the window's count, but the store trims the break and counts 15.
        QTest::newRow("leading line break and 15")
            << QStringLiteral("\n") + kId.left(15) << QString();
        QTest::newRow("16 graphemes, 17 code units")
            << QStringLiteral("e\u0301") + kId.left(15) << QStringLiteral("e\u0301") + kId.left(15);
    }
    void recordsTheIdAsTheWindowCountsIt() {
        QFETCH(QString, typed);
        QFETCH(QString, recorded);
        Recording r;
        HistoryRecorder recorder(r.manager, r.store);
        r.manager.setNetworkID(typed);
        QVERIFY(r.publish(named(QStringLiteral("Lab"), QStringLiteral("Bench"))));

        QCOMPARE(r.manager.networkID(), typed); // the field itself is left as typed
        if (recorded.isEmpty()) {
            QVERIFY(r.store.profiles().isEmpty());
            r.store.flush();
            QVERIFY(!QFile::exists(r.store.filePath()));
            return;
        }
        QCOMPARE(r.store.profiles().size(), 1);
        QCOMPARE(r.store.profiles().first().networkID, recorded);
        QCOMPARE(r.file().size(), 1);
    }

    void everyPublishedSnapshotIsRecorded_data() {
        QTest::addColumn<QList<std::optional<QJsonObject>>>("snapshots"); // nullopt: no snapshot
        QTest::addColumn<int>("saves");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("desc");

        using S = std::optional<QJsonObject>;
        const QJsonObject harbor = named(QStringLiteral("Harbor"), QStringLiteral("Uplink"));
        QTest::newRow("name and description learned")
            << QList<S>{harbor} << 1 << QStringLiteral("Harbor") << QStringLiteral("Uplink");
        QTest::newRow("a snapshot without them keeps the stored ones")
            << QList<S>{harbor, QJsonObject()} << 2 << QStringLiteral("Harbor")
            << QStringLiteral("Uplink");
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
        for (const std::optional<QJsonObject>& snapshot : snapshots)
            QVERIFY(r.publish(snapshot));
        QCOMPARE(changes.count(), saves);
        QCOMPARE(r.store.profiles().size(), 1);
        const QJsonObject stored = r.file().first().toObject();
        QCOMPARE(stored.value(QStringLiteral("name")).toString(), name);
        QCOMPARE(stored.value(QStringLiteral("desc")).toString(), desc);
    }

    void theCurrentSnapshotIsRecordedOnceAtConstruction_data() {
        QTest::addColumn<bool>("snapshotBefore");
        QTest::newRow("snapshot already published") << true;
        QTest::newRow("no snapshot yet") << false;
    }
    void theCurrentSnapshotIsRecordedOnceAtConstruction() {
        QFETCH(bool, snapshotBefore);
        Recording r;
        r.manager.setNetworkID(kId);
        if (snapshotBefore)
            QVERIFY(r.publish(named(QStringLiteral("Harbor"))));
        QVERIFY(r.store.profiles().isEmpty());

        QSignalSpy changes(&r.store, &NetworkProfileStore::profilesChanged);
        const int saves = snapshotBefore ? 1 : 0;
        {
            HistoryRecorder recorder(r.manager, r.store);
            QCOMPARE(changes.count(), saves);
            // Nothing more until the next snapshot, and then exactly one more.
            QVERIFY(r.publish());
            QCOMPARE(changes.count(), saves + 1);
        }
        // Recording stops with the recorder.
        QVERIFY(r.publish());
        QCOMPARE(changes.count(), saves + 1);
    }
};

QTEST_MAIN(HistoryRecorderTest)
#include "tst_HistoryRecorder.moc"
